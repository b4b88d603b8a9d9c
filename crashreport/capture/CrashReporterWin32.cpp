#include "crashreport/capture/CrashReporterWin32.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>

#include "crashreport/base/HandlesWin32.h"
#include "crashreport/base/ModulesWin32.h"
#include "crashreport/base/Text.h"
#include "crashreport/bitmap/NVBitmap.h"
#include "crashreport/delivery/BugReportFileWin32.h"
#include "crashreport/delivery/PrintReportWin32.h"
#include "crashreport/delivery/SendReportWin32.h"
#include "crashreport/delivery/TempFolderWin32.h"
#include "crashreport/plugins/SystemListsWin32.h"
#include "crashreport/report/ReportWin32.h"
#include "crashreport/settings/SettingsWin32.h"
#include "crashreport/stacktrace/ReportTracerWin32.h"
#include "crashreport/stacktrace/StackTraceWin32.h"
#include "crashreport/threads/ThreadHooksWin32.h"
#include "crashreport/threads/ThreadMachineryWin32.h"
#include "crashreport/threads/ThreadRegistryWin32.h"
#include "crashreport/ui/AssistantWin32.h"
#include "crashreport/ui/ExceptionBoxWin32.h"
#include "framework/Exceptions.h"
#include "framework/Win32Util.h"

namespace {

constexpr size_t RequestFieldSize = sizeof(void*);
constexpr size_t RequestSize = ExceptionRequestFields * RequestFieldSize;

struct TCrashReporter {
    HMODULE Module = nullptr;
    DWORD MainThreadId = 0;
    DWORD WorkerId = 0;
    TKernelHandle Worker;
    TKernelHandle PipeRead, PipeWrite;
    std::mutex PipeLock; // one record at a time into the pipe
    PVOID Vectored = nullptr;
    LPTOP_LEVEL_EXCEPTION_FILTER OldFilter = nullptr;
    std::terminate_handler OldTerminate = nullptr;
    void (*OldAbort)(int) = nullptr;
    std::mutex HistoryLock;
    TExceptionHistory History;
    std::vector<void*> Reserve;
    TFreezeWatchdog Watchdog;
    TThreadPause Pause;
    HWND HandlerWindow = nullptr;
};

TCrashReporter* Reporter = nullptr;

uint64_t ContextIp(const CONTEXT& c) {
#ifdef _WIN64
    return c.Rip;
#else
    return c.Eip;
#endif
}

// ---- the emergency reserve: address space and memory given back while an exception is processed

void AllocateReserve() {
    if (!Reporter || !Reporter->Reserve.empty()) return;
    for (int i = 0; i < 4; ++i) {
        if (void* p = VirtualAlloc(nullptr, 4 << 20, MEM_RESERVE, PAGE_NOACCESS))
            Reporter->Reserve.push_back(p);
        if (void* p = VirtualAlloc(nullptr, 512 << 10, MEM_COMMIT, PAGE_NOACCESS))
            Reporter->Reserve.push_back(p);
    }
}

void ReleaseReserve() {
    if (!Reporter) return;
    for (void* p : Reporter->Reserve)
        VirtualFree(p, 0, MEM_RELEASE);
    Reporter->Reserve.clear();
}

// ---- the program's end

uint64_t SecondsSince1601() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return ((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000000;
}

[[noreturn]] void Close() {
    TerminateProcess(GetCurrentProcess(), 1);
    ExitProcess(1);
}

std::wstring RestartBlockName(DWORD processId) {
    wchar_t name[64];
    swprintf(name, 64, L"xunExceptRestart%08X", unsigned(processId));
    return name;
}

// The block handed to the new process: the old process id, the block's handle in the new process,
// and the exception history.
struct TRestartBlock {
    uint32_t OldProcessId;
    uint32_t Handle;
    uint64_t History[10];
};
static_assert(sizeof(TRestartBlock) == 88);

[[noreturn]] void Restart() {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::wstring commandLine = GetCommandLineW();
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                       nullptr, &si, &pi)) {
        HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(TRestartBlock), RestartBlockName(pi.dwProcessId).c_str());
        if (mapping) {
            HANDLE inNew = nullptr;
            DuplicateHandle(GetCurrentProcess(), mapping, pi.hProcess, &inNew, 0, FALSE,
                            DUPLICATE_SAME_ACCESS);
            if (auto* block = static_cast<TRestartBlock*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0))) {
                block->OldProcessId = GetCurrentProcessId();
                block->Handle = uint32_t(uintptr_t(inNew));
                TExceptionHistory history = CurrentExceptionHistory();
                std::memcpy(block->History, history.Times.data(), sizeof block->History);
                UnmapViewOfFile(block);
            }
        }
        ResumeThread(pi.hThread);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        // The mapping stays open until this process is gone; the new one holds its duplicate.
    }
    TerminateProcess(GetCurrentProcess(), 2);
    ExitProcess(2);
}

// A restarted process takes over the history of the one before it.
void TakeOverRestart() {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, RestartBlockName(GetCurrentProcessId()).c_str());
    if (!mapping) return;
    if (auto* block = static_cast<const TRestartBlock*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0))) {
        if (block->Handle) CloseHandle(HANDLE(uintptr_t(block->Handle)));
        if (HANDLE old = OpenProcess(SYNCHRONIZE, FALSE, block->OldProcessId)) {
            WaitForSingleObject(old, 10000);
            CloseHandle(old);
        }
        std::lock_guard<std::mutex> guard(Reporter->HistoryLock);
        std::memcpy(Reporter->History.Times.data(), block->History, sizeof block->History);
        UnmapViewOfFile(block);
    }
    CloseHandle(mapping);
}

// The module's file against the checksum in its image header (when it has one).
bool ModuleFileIntact(HMODULE module) {
    TFileHandle file(CreateFileW(ModulePath(module).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > (int64_t(1) << 30)) return true;
    std::vector<uint8_t> bytes(size_t(size.QuadPart));
    DWORD read = 0;
    if (!ReadFile(file.Get(), bytes.data(), DWORD(bytes.size()), &read, nullptr) || read != bytes.size())
        return true;
    size_t at = 0;
    const uint32_t sum = ImageChecksum(bytes.data(), bytes.size(), at);
    uint32_t stored = 0;
    if (at) std::memcpy(&stored, &bytes[at], 4);
    return stored == 0 || sum == stored;
}

void CopyToClipboard(const std::string& report) {
    const std::wstring text = Widen(report);
    if (!OpenClipboard(nullptr)) return;
    EmptyClipboard();
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t))) {
        std::memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        GlobalUnlock(memory);
        if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
    }
    CloseClipboard();
}

// ---- processing one exception (the worker thread, or the caller when the process is blocked)

std::string ModuleFileName(HMODULE module) {
    std::wstring path = ModulePath(module);
    return Narrow(path.substr(path.find_last_of(L"\\/") + 1));
}

void ProcessException(TCaughtException& caught, bool background) {
    const void* at = reinterpret_cast<const void*>(uintptr_t(caught.Address));
    TRef<IMEModuleSettings> moduleSettings = caught.Address ? SettingsForAddress(at) : MainSettings();
    auto settings = MakeRef<TSettingsOverlay<>>(TRef<IMESettings>(moduleSettings));

    // What the report calls the exception.
    std::vector<std::string> chain = caught.ClassChain;
    std::string message = caught.Message;
    const bool frozen = caught.Kind == 1;
    if (frozen) {
        // The main thread stopped answering: its stack is the report's first.
        chain.clear();
        message = settings->ReadText("FrozenMsg");
        caught.ThreadId = Reporter->MainThreadId;
    }
    if (caught.OsException && chain.empty()) {
        HMODULE module = ModuleOfAddress(at);
        TSystemExceptionText text =
            SystemExceptionText(caught.Code, caught.Address, module ? ModuleFileName(module) : std::string(),
                                caught.Info, int(2 * sizeof(void*)));
        chain = {text.ClassName, "Exception"};
        message = text.Message;
    }
    const TFilterChoice choice = ApplyExceptionFilter(*settings, chain);

    // Phase 1.
    if (caught.Kind != 2) {
        std::lock_guard<std::mutex> guard(Reporter->HistoryLock);
        Reporter->History.Push(SecondsSince1601());
    }
    // Phase 2: the other threads wait at their next message, the report starts composing in the
    // background.
    if (!frozen && choice.PauseThreads)
        Reporter->Pause.Pause(Reporter->MainThreadId, {Reporter->WorkerId, Reporter->Watchdog.ThreadId()},
                              Reporter->HandlerWindow);
    struct TResume {
        ~TResume() { Reporter->Pause.Resume(); }
    } resume;
    TRef<TBugReport> report;
    if (choice.WantReport) {
        TReportException e;
        e.Kind = TExceptionKind(caught.Kind);
        e.ClassName = chain.empty() ? std::string() : chain.front();
        e.Message = message;
        e.Address = caught.Address;
        e.CrashedThreadId = caught.ThreadId;
        e.HasContext = caught.HasContext;
        if (caught.HasContext) e.Context = CpuContextOf(caught.Context);
        e.CatchStackPointer = caught.StackPointer;
        e.CatchFramePointer = caught.FramePointer;
        e.OsException = caught.OsException;
        e.Termination = caught.Termination;
        report = ProcessBugReport(e, settings, Reporter->Module,
                                  {Reporter->WorkerId, Reporter->Watchdog.ThreadId()});
        report->SetRunner(MakeRef<TWin32CompletionRunner>(nullptr, false, background));
        report->Header();
        report->Sections();
    }
    // Phase 3, then the dialog unless nothing is to be shown.
    TExceptionHistory history = CurrentExceptionHistory();
    const uint64_t now = SecondsSince1601();
    const bool close = RepeatRule(settings->ReadInt("AutoClose"), history, now);
    const bool restart = RepeatRule(settings->ReadInt("AutoRestart"), history, now);
    const std::string bugReportFile = settings->ReadText("BugRepFile");
    auto saveToFile = [&](const TRef<TBugReport>& r) {
        const std::string name =
            BugReportFileName(bugReportFile, ModuleFileName(nullptr), ModuleFileName(Reporter->Module));
        return SaveBugReportFile(AbsoluteBugReportPath(name), r->ReportText(true),
                                 TBugReportFileRules::From(*settings));
    };
    bool shown = false;
    TExceptionBoxResult chosen = TExceptionBoxResult::Continue;
    // Sending, saving and printing: this exception's screenshot, its marks and background sends.
    ClearCrashTempFolder();
    TRef<INVBitmap> screenshot;
    if (choice.WantScreenShot) screenshot = CaptureScreen(settings->ReadBool("ScrShotAppOnly"));
    auto sendState = MakeRef<TSendState>();
    const auto sendArgs = [settings, sendState](const std::string& text, TRef<INVBitmap> shot, HWND parent,
                                                bool background, bool hidden) {
        TSendBugReportArgs a;
        a.Report = text;
        a.Screenshot = std::move(shot);
        a.Parent = parent;
        a.Settings = settings;
        a.State = sendState;
        a.Module = Reporter->Module;
        a.Background = background;
        a.Hidden = hidden;
        return a;
    };
    if (report && settings->ReadBool("AutoSend")) {
        // Once, as soon as the report is complete: in the background, without a dialog.
        auto once = std::make_shared<std::atomic<bool>>(false);
        TBugReport* r = report.Get();
        TRef<INVBitmap> shot = choice.AttachScreenShot ? screenshot : TRef<INVBitmap>();
        const auto autoSend = [once, r, shot, sendArgs] {
            if (!once->exchange(true))
                SendBugReport(sendArgs(r->ReportText(true), shot, nullptr, true, true));
        };
        report->SetOnComplete(autoSend);
        if (report->IsComplete()) autoSend();
    }
    // The assistants before send, save and print; the inputs of one fill the next.
    TFormCache formCache;
    TAssistantSubject assistant;
    assistant.Report = report;
    assistant.Screenshot = screenshot;
    assistant.AttachScreenshot = choice.AttachScreenShot;
    assistant.TempFolder = CrashTempFolder();
    assistant.Cache = &formCache;
    assistant.Module = Reporter->Module;
    const auto assisted = [&](const char* which, HWND owner) {
        return RunActionAssistant(*settings, settings->ReadText(which), assistant, owner) != NVCancel;
    };
    if (choice.DisplayMode != 4) {
        TExceptionBoxRequest box;
        box.Report = report;
        box.Settings = settings;
        box.Message = message;
        box.Frozen = frozen;
        box.CanContinue = caught.CanContinue;
        box.DisplayMode = choice.DisplayMode;
        box.AutoClose = close;
        box.AutoRestart = restart;
        box.Module = Reporter->Module;
        if (report) {
            box.Send = [&](HWND owner) {
                if (!assisted("SendAssis", owner)) return;
                SendBugReport(sendArgs(report->ReportText(true),
                                       assistant.AttachScreenshot ? assistant.Screenshot : TRef<INVBitmap>(),
                                       owner, settings->ReadBool("SendInBackgr"), false));
            };
            box.Save = [&](HWND owner) {
                return assisted("SaveAssis", owner) &&
                       SaveBugReport(nullptr, report->ReportText(true), owner, *settings, false,
                                     sendState.Get(), Reporter->Module) &&
                       bugReportFile.size() > 2 && (bugReportFile[0] == '\\' || bugReportFile[1] == ':');
            };
            box.Print = [&](HWND owner) {
                if (assisted("PrintAssis", owner))
                    PrintBugReport(report->ReportText(true), owner, settings.Get());
            };
        }
        chosen = ShowExceptionBox(box);
        shown = true;
    }
    // The automatic actions. Before the program closes or restarts its background sends end, so
    // that a report they sent is not saved as unsent.
    if (report) {
        const std::string text = report->ReportText(true);
        const bool ending = shown ? chosen != TExceptionBoxResult::Continue || !caught.CanContinue
                                  : close || restart || !caught.CanContinue;
        if (ending) sendState->WaitForThreads();
        if (settings->ReadBool("AutoSave") &&
            (!settings->ReadBool("AutoSaveIfNotSent") || !sendState->Sent()) && saveToFile(report))
            sendState->MarkWrittenToFile();
        if (settings->ReadBool("AutoClip")) CopyToClipboard(text);
        if (caught.ReportText) *caught.ReportText = text;
        report->SetOnComplete(nullptr);
    }
    // How the program goes on: as chosen in the dialog, else as the settings say.
    if (shown) {
        if (chosen == TExceptionBoxResult::Close) Close();
        if (chosen == TExceptionBoxResult::Restart) Restart();
        if (!caught.CanContinue) Close();
        return;
    }
    if (close || (!caught.CanContinue && !restart)) Close();
    if (restart) Restart();
}

// ---- the worker thread

DWORD WINAPI WorkerProc(void*) {
    TThreadRegistry::Instance().SetName(DWORD(-1), "-");
    uint8_t record[RequestSize];
    for (;;) {
        size_t got = 0;
        while (got < RequestSize) {
            DWORD read = 0;
            if (!ReadFile(Reporter->PipeRead.Get(), record + got, DWORD(RequestSize - got), &read, nullptr) ||
                read == 0)
                return 0;
            got += read;
        }
        TExceptionRequest request;
        if (!DecodeExceptionRequest(record, RequestSize, RequestFieldSize, request) || request.Event == 0)
            return 0;
        auto* caught = reinterpret_cast<TCaughtException*>(uintptr_t(request.ExceptionObject));
        try {
            ProcessException(*caught, true);
        } catch (...) {
        }
        SetEvent(HANDLE(uintptr_t(request.Event)));
        PostThreadMessageW(DWORD(request.ThreadId), WM_NULL, 0, 0);
    }
}

// The loader lock or the process environment lock is held: the worker might wait for it forever.
bool ProcessBlocked() {
    const uint8_t* peb;
#ifdef _WIN64
    asm("movq %%gs:0x60, %0" : "=r"(peb));
    const size_t pebLock = 0x38, loaderLock = 0x110;
#else
    asm("movl %%fs:0x30, %0" : "=r"(peb));
    const size_t pebLock = 0x1C, loaderLock = 0xA0;
#endif
    auto held = [&] {
        for (size_t offset : {pebLock, loaderLock}) {
            auto* lock = *reinterpret_cast<RTL_CRITICAL_SECTION* const*>(peb + offset);
            if (lock && lock->OwningThread) return true;
        }
        return false;
    };
    for (int i = 0; i < 25 && held(); ++i) {
        for (size_t offset : {pebLock, loaderLock}) {
            auto* lock = *reinterpret_cast<RTL_CRITICAL_SECTION* const*>(peb + offset);
            if (lock && lock->OwningThread == HANDLE(uintptr_t(GetCurrentThreadId()))) return true;
        }
        Sleep(10);
    }
    return held();
}

// ---- catch points

bool IsFaultCode(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_BREAKPOINT:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_NONCONTINUABLE_EXCEPTION:
        return true;
    default:
        return false;
    }
}

// The faulting thread may have only a few KB of stack left (a stack overflow): the exception is
// described in memory set aside for it and handed over at once.
std::mutex FaultLock;
TCaughtException FaultSlot;

// A fault in a thread started through the thread hooks (other than the first) ends only that
// thread: true when the caller is to end it.
bool CatchFault(EXCEPTION_POINTERS* p) {
    std::lock_guard<std::mutex> guard(FaultLock);
    const EXCEPTION_RECORD& r = *p->ExceptionRecord;
    FaultSlot.ClassChain.clear();
    FaultSlot.Message.clear();
    FaultSlot.Kind = 0;
    FaultSlot.OsException = true;
    FaultSlot.Code = r.ExceptionCode;
    FaultSlot.Info.assign(r.ExceptionInformation,
                          r.ExceptionInformation + std::min<DWORD>(r.NumberParameters, 15));
    FaultSlot.Address = uint64_t(uintptr_t(r.ExceptionAddress));
    FaultSlot.Source = CatchSystemException;
    FaultSlot.HasContext = true;
    FaultSlot.Context = *p->ContextRecord;
    FaultSlot.CanContinue = IsHookedThread() && GetCurrentThreadId() != Reporter->MainThreadId;
    if (FaultSlot.CanContinue) FaultSlot.Source = CatchThreadLastChance;
    FaultSlot.Termination = false;
    FaultSlot.ReportText = nullptr;
    CatchException(FaultSlot);
    return FaultSlot.CanContinue;
}

[[noreturn]] void EndThread(EXCEPTION_POINTERS* p) {
    ExitThread(p->ExceptionRecord->ExceptionCode);
}

bool InReportingModule(const void* address) {
    HMODULE module = ModuleOfAddress(address);
    return module && (module == Reporter->Module || HasSettingsResource(module));
}

// Wine and the system swallow faults on some paths (a window procedure called back from inside
// the system): a fault in our own code is taken here, before anything else sees it. Everything
// else (exceptions that a handler further down expects) passes.
LONG CALLBACK VectoredHandler(EXCEPTION_POINTERS* p) {
    const DWORD code = p->ExceptionRecord->ExceptionCode;
    if (code == ThreadNamingCode) {
        return HandleThreadNamingException(*p->ExceptionRecord) ? EXCEPTION_CONTINUE_EXECUTION
                                                                : EXCEPTION_CONTINUE_SEARCH;
    }
    if (!Reporter || GetCurrentThreadId() == Reporter->WorkerId || !IsFaultCode(code) ||
        !InReportingModule(p->ExceptionRecord->ExceptionAddress))
        return EXCEPTION_CONTINUE_SEARCH;
    if (CatchFault(p)) EndThread(p);
    return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS* p) {
    // A C++ exception nobody catches (64-bit runtime): the runtime goes on to std::terminate,
    // where the terminate hook reports it with its class and message.
    const EXCEPTION_RECORD& r = *p->ExceptionRecord;
    if ((r.ExceptionCode & 0x20FFFFFF) == 0x20474343 && !(r.ExceptionFlags & EXCEPTION_NONCONTINUABLE))
        return EXCEPTION_CONTINUE_EXECUTION;
    if (Reporter && GetCurrentThreadId() != Reporter->WorkerId && CatchFault(p)) EndThread(p);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The runtime's last chance: a C++ exception escaped a thread, or the runtime gave up.
void TerminateHook() {
    const bool main = Reporter && GetCurrentThreadId() == Reporter->MainThreadId;
    std::exception_ptr e = std::current_exception();
    if (e) {
        CatchLanguageException(e, CatchThreadLastChance, !main);
    } else {
        TCaughtException caught;
        CaptureCallerContext(caught.Context);
        caught.HasContext = true;
        caught.Address = ContextIp(caught.Context);
        caught.ClassChain = {"Exception"};
        caught.Message = "Abnormal program termination";
        caught.Source = CatchThreadLastChance;
        caught.CanContinue = !main;
        caught.Termination = true;
        CatchException(caught);
    }
    if (main) Close();
    ExitThread(3);
}

void AbortHandler(int) {
    TCaughtException caught;
    CaptureCallerContext(caught.Context);
    caught.HasContext = true;
    caught.Address = ContextIp(caught.Context);
    caught.ClassChain = {"Exception"};
    caught.Message = "Abnormal program termination";
    caught.Source = CatchRuntimeError;
    caught.Termination = true;
    CatchException(caught);
    Close();
}

} // namespace

__attribute__((noinline)) void CatchLanguageException(std::exception_ptr e, uint8_t source,
                                                      bool canContinue) {
    TCaughtException caught;
    // The place that handed the exception over, with its registers: its stack is what the
    // report traces.
    CaptureCallerContext(caught.Context);
    caught.HasContext = true;
    caught.Address = ContextIp(caught.Context);
    caught.ClassChain = ExceptionClassChain(e);
    caught.Message = ExceptionMessage(e);
    caught.Source = source;
    caught.CanContinue = canContinue;
    CatchException(caught);
}

void CatchException(TCaughtException& caught) {
    if (!Reporter) return;
    const DWORD self = GetCurrentThreadId();
    if (self == Reporter->WorkerId) return; // no reentrance
    ReleaseReserve();
    if (IsSilentAbort(caught.ClassChain)) {
        if (!caught.CanContinue) Close();
        AllocateReserve();
        return;
    }
    caught.ThreadId = self;
    if (caught.HasContext) {
#ifdef _WIN64
        const uint64_t ip = caught.Context.Rip, sp = caught.Context.Rsp, fp = caught.Context.Rbp;
#else
        const uint64_t ip = caught.Context.Eip, sp = caught.Context.Esp, fp = caught.Context.Ebp;
#endif
        if (caught.Address >= ip && caught.Address - ip <= 4) {
            caught.StackPointer = sp;
            caught.FramePointer = fp;
        }
    }
    if (!caught.StackPointer) {
        caught.FramePointer = uint64_t(uintptr_t(__builtin_frame_address(0)));
        caught.StackPointer = caught.FramePointer;
    }
    Reporter->Watchdog.Pause();
    struct TResumeWatchdog {
        ~TResumeWatchdog() { Reporter->Watchdog.Resume(); }
    } resumeWatchdog;
    if (ProcessBlocked()) {
        ProcessException(caught, false);
    } else {
        TKernelHandle eventHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        HANDLE event = eventHandle.Get();
        TExceptionRequest request;
        request.Event = uint64_t(uintptr_t(event));
        request.ThreadId = self;
        request.Kind = caught.Kind;
        request.ExceptionObject = uint64_t(uintptr_t(&caught));
        request.ExceptionAddress = caught.Address;
        request.CanContinue = caught.CanContinue;
        request.StackPointer = caught.StackPointer;
        request.FramePointer = caught.FramePointer;
        request.CatchSource = caught.Source;
        const std::vector<uint8_t> bytes = EncodeExceptionRequest(request, RequestFieldSize);
        bool sent;
        {
            std::lock_guard<std::mutex> guard(Reporter->PipeLock);
            DWORD written = 0;
            sent =
                WriteFile(Reporter->PipeWrite.Get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                written == bytes.size();
        }
        if (!sent) {
            ProcessException(caught, false);
        } else if (self == Reporter->MainThreadId) {
            // The main thread keeps its windows alive while the worker runs.
            for (;;) {
                DWORD r = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT);
                if (r != WAIT_OBJECT_0 + 1) break;
                MSG msg;
                bool quit = false;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    if (msg.message == WM_QUIT) {
                        PostQuitMessage(int(msg.wParam));
                        quit = true;
                        break;
                    }
                    TranslateMessage(&msg);
                    DispatchMessageW(&msg);
                }
                if (quit) {
                    WaitForSingleObject(event, INFINITE); // the record points into this frame
                    break;
                }
            }
        } else {
            WaitForSingleObject(event, INFINITE);
        }
    }
    AllocateReserve();
}

bool StartCrashReporter(HMODULE module) {
    if (Reporter) return true;
    ProgramStartMilliseconds();
    TRef<IMEModuleSettings> settings = SettingsForModule(module);
    if (!settings->IsValid() || !settings->ReadBool("Enabled")) return false;
    if (settings->ReadBool("CheckFileCrc") && !ModuleFileIntact(module)) {
        MessageBoxW(nullptr, Widen(settings->ExpandVariables(settings->ReadText("BitFaultMsg"))).c_str(),
                    Widen(ModuleFileName(module)).c_str(), MB_OK | MB_ICONERROR);
        ExitProcess(0);
    }
    if (!TThreadRegistry::Instance().Open()) {
        MessageBoxW(nullptr, L"internal error (opening global buffer)", L"xunExcept", MB_OK | MB_ICONERROR);
        ExitProcess(0);
    }
    Reporter = new TCrashReporter();
    Reporter->Module = module;
    Reporter->MainThreadId = TThreadRegistry::Instance().MainThreadId();
    if (!Reporter->MainThreadId) Reporter->MainThreadId = GetCurrentThreadId();
    TakeOverRestart();
    HANDLE read = nullptr, write = nullptr;
    CreatePipe(&read, &write, nullptr, 0);
    Reporter->PipeRead.Reset(read);
    Reporter->PipeWrite.Reset(write);
    Reporter->Worker.Reset(CreateThread(nullptr, 0, WorkerProc, nullptr, 0, &Reporter->WorkerId));
    SetThreadPriority(Reporter->Worker.Get(), THREAD_PRIORITY_HIGHEST);
    RegisterSystemListPlugins();
    Reporter->HandlerWindow = TMessageHandlerWindow::ForCurrentThread().Handle();
    InstallThreadHooks(module);
    if (settings->ReadBool("CheckFreeze")) {
        Reporter->Watchdog.Start(settings->ReadDword("FreezeTimeout"), [] {
            TCaughtException frozen;
            frozen.Kind = 1;
            frozen.Source = CatchFreezeWatchdog;
            frozen.CanContinue = true;
            CatchException(frozen);
        });
        TThreadRegistry::Instance().SetName(Reporter->Watchdog.ThreadId(), "AntiFreezeThread");
    }
    Reporter->Vectored = AddVectoredExceptionHandler(1, VectoredHandler);
    Reporter->OldFilter = SetUnhandledExceptionFilter(UnhandledFilter);
    Reporter->OldTerminate = std::set_terminate(TerminateHook);
    Reporter->OldAbort = std::signal(SIGABRT, AbortHandler);
    AllocateReserve();
    return true;
}

void StopCrashReporter() {
    if (!Reporter) return;
    ReleaseReserve();
    std::signal(SIGABRT, Reporter->OldAbort ? Reporter->OldAbort : SIG_DFL);
    std::set_terminate(Reporter->OldTerminate);
    SetUnhandledExceptionFilter(Reporter->OldFilter);
    if (Reporter->Vectored) RemoveVectoredExceptionHandler(Reporter->Vectored);
    Reporter->Watchdog.Stop();
    RemoveThreadHooks();
    UnregisterSystemListPlugins();
    // The record with event 0 ends the worker; it gets half a second.
    const std::vector<uint8_t> stop = EncodeExceptionRequest(TExceptionRequest(), RequestFieldSize);
    DWORD written = 0;
    WriteFile(Reporter->PipeWrite.Get(), stop.data(), DWORD(stop.size()), &written, nullptr);
    if (WaitForSingleObject(Reporter->Worker.Get(), 500) == WAIT_TIMEOUT)
        TerminateThread(Reporter->Worker.Get(), 0);
    TThreadRegistry::Instance().Close();
    delete Reporter;
    Reporter = nullptr;
}

bool CrashReporterRunning() {
    return Reporter != nullptr;
}

TExceptionHistory CurrentExceptionHistory() {
    if (!Reporter) return {};
    std::lock_guard<std::mutex> guard(Reporter->HistoryLock);
    return Reporter->History;
}

// A report of the whole process on request, without an exception: an outside tool runs this in a
// thread of the process (size < 1: onto the clipboard; else at most size - 1 characters into the
// shared memory "Global\xunTraceProcessMap" or "xunTraceProcessMap").
extern "C" __declspec(dllexport) DWORD WINAPI xunTraceProcess(void* parameter) {
    const intptr_t size = intptr_t(parameter);
    TThreadRegistry::Instance().Open();
    TThreadRegistry::Instance().SetName(DWORD(-1), "-");
    std::string text;
    try {
        auto settings = MakeRef<TSettingsOverlay<>>(TRef<IMESettings>(MainSettings()));
        settings->WriteBool("ListThreads", true);
        TReportException e;
        e.Kind = TExceptionKind::Frozen;
        e.CrashedThreadId = TThreadRegistry::Instance().MainThreadId();
        e.Message = settings->ReadText("FrozenMsg");
        auto report = ProcessBugReport(e, settings, Reporter ? Reporter->Module : GetModuleHandleW(nullptr));
        report->SetRunner(MakeRef<TWin32CompletionRunner>(nullptr, false, false));
        text = report->ReportText(true);
    } catch (...) {
    }
    if (size < 1) {
        CopyToClipboard(text);
    } else {
        HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, L"Global\\xunTraceProcessMap");
        if (!mapping) mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, L"xunTraceProcessMap");
        if (mapping) {
            if (auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, size_t(size)))) {
                const size_t n = std::min(text.size(), size_t(size) - 1);
                std::memcpy(view, text.data(), n);
                view[n] = 0;
                UnmapViewOfFile(view);
            }
            CloseHandle(mapping);
        }
    }
    TThreadRegistry::Instance().SetName(DWORD(-1), "");
    return 0;
}
