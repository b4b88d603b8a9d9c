// The crash programs: one fault per kind, named on the command line, in a program that carries
// the crash reporter with display mode 4 and AutoSave. run_crash_suite.py knows what each kind's
// bug report file must hold and how the program must end.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "crashreport/capture/CrashReporterWin32.h"
#include "crashreport/settings/SettingsWin32.h"
#include "framework/Exceptions.h"

// Outside the anonymous namespace, and called without devirtualising: the compiler may not
// resolve the call in the constructor to the only override it can see.
struct TBase;
__attribute__((noinline)) void CallPure(TBase* base);
struct TBase {
    TBase() { Call(); }
    __attribute__((noinline)) void Call() { CallPure(this); }
    virtual void Pure() = 0;
    virtual ~TBase() = default;
};
// Out of the constructor's sight: the object is still a TBase, whose slot is the runtime's.
TBase* volatile Constructed = nullptr;
__attribute__((noinline, optimize("no-devirtualize"))) void CallPure(TBase* base) {
    Constructed = base;
    Constructed->Pure();
    asm volatile("");
}
struct TDerived : TBase {
    void Pure() override {}
};

namespace {

volatile int Zero = 0;
volatile int* volatile Null = nullptr;

__attribute__((noinline)) void ReadFault() {
    std::printf("%d\n", *Null);
}
__attribute__((noinline)) void WriteFault() {
    *Null = 1;
}
__attribute__((noinline)) void ExecuteFault() {
    reinterpret_cast<void (*)()>(uintptr_t(0x10))();
    asm volatile(""); // a call, not a jump: this frame stays on the stack
}
__attribute__((noinline)) void DivideFault() {
    std::printf("%d\n", 10 / Zero);
}
__attribute__((noinline)) void IllegalInstruction() {
    asm volatile("ud2");
}
__attribute__((noinline)) void PrivilegedInstruction() {
    asm volatile("hlt");
}
__attribute__((noinline)) void Breakpoint() {
    asm volatile("int3");
}
volatile int Depth = 1 << 30;
__attribute__((noinline)) int Recurse(int n) {
    volatile char pad[512];
    pad[0] = char(n);
    return n < Depth ? Recurse(n + 1) + pad[0] : pad[0];
}
__attribute__((noinline)) void ThrowOwn() {
    RaiseConvertError("'abc' is not a valid integer value");
}
__attribute__((noinline)) void ThrowStd() {
    throw std::runtime_error("broken invariant");
}
__attribute__((noinline)) void ThrowForeign() {
    throw 42;
}

__attribute__((noinline)) void CustomRaise() {
    RaiseException(0xE0001234, 0, 0, nullptr);
    asm volatile("");
}
__attribute__((noinline)) void SilentAbort() {
    throw EAbort("");
}
__attribute__((noinline)) void NameThread() {
    struct {
        DWORD Type = 0x1000;
        LPCSTR Name = "worker";
        DWORD ThreadId = DWORD(-1);
        DWORD Flags = 0;
    } info;
    RaiseException(0x406D1388, 0, sizeof info / sizeof(ULONG_PTR), reinterpret_cast<ULONG_PTR*>(&info));
}

LRESULT CALLBACK FaultingWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_APP) WriteFault();
    return DefWindowProcW(w, m, wp, lp);
}

__attribute__((noinline)) void InWindowProcedure() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = FaultingWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"CrashWindow";
    RegisterClassW(&wc);
    HWND w = CreateWindowW(L"CrashWindow", L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
    PostMessageW(w, WM_APP, 0, 0);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0))
        DispatchMessageW(&msg);
}

void CALLBACK TimerProc(HWND, UINT, UINT_PTR, DWORD) {
    DivideFault();
    asm volatile("");
}

__attribute__((noinline)) void InTimer() {
    SetTimer(nullptr, 0, 1, TimerProc);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0))
        DispatchMessageW(&msg);
}

// The checked trap of signed arithmetic (the overflow flag set, then the trap).
__attribute__((noinline)) void IntegerOverflow() {
#ifdef _WIN64
    asm volatile("int $4");
#else
    asm volatile("movl $0x7fffffff, %%eax\n\taddl $1, %%eax\n\tinto" ::: "eax", "cc");
#endif
}

void CALLBACK FaultingDialogTimer(HWND, UINT, UINT_PTR, DWORD) {
    ReadFault();
    asm volatile("");
}

// A message box's modal loop dispatches a timer that faults.
__attribute__((noinline)) void InDialog() {
    SetTimer(nullptr, 0, 50, FaultingDialogTimer);
    const int answer = MessageBoxW(nullptr, L"modal", L"crash suite", MB_OK);
    std::printf("message box ended: %d %lu\n", answer, GetLastError());
}

// A fault while an exception of the program is being handled.
__attribute__((noinline)) void FaultWhileHandling() {
    try {
        ThrowStd();
    } catch (const std::exception&) {
        WriteFault();
    }
}

volatile size_t Huge = size_t(-1) / 4;
char* volatile Kept;
__attribute__((noinline)) void OutOfMemory() {
    Kept = new char[Huge];
}

// A C++ exception escaping a thread the program started: reported, and only the thread ends.
DWORD WINAPI ThrowingThread(void*) {
    ThrowStd();
    return 0;
}

// A C++ exception that a message loop's handler passes to the crash reporter and goes on.
__attribute__((noinline)) void HandledByFramework() {
    try {
        ThrowOwn();
    } catch (...) {
        CatchLanguageException(std::current_exception(), CatchApplicationHandle, true);
    }
    std::puts("continued");
}

DWORD WINAPI PoolWork(void*) {
    ReadFault();
    return 0;
}

// The outside tool's side of a report on request: a second instance of this program is started
// idle, a thread is run in it at its exported xunTraceProcess, and the report it leaves in the
// shared memory is printed.
int TraceRemote(const wchar_t* self) {
    HANDLE mapping =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 1 << 20, L"xunTraceProcessMap");
    std::wstring commandLine = std::wstring(L"\"") + self + L"\" idle";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!mapping ||
        !CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 92;
    // Its start-up, however long it takes on a loaded machine.
    HANDLE ready =
        CreateEventW(nullptr, TRUE, FALSE, (L"CrashSuiteIdle" + std::to_wstring(pi.dwProcessId)).c_str());
    if (WaitForSingleObject(ready, 60000) != WAIT_OBJECT_0) return 96;
    // The child is this same file, loaded at its own base: the entry lies at the same offset.
    HMODULE own = GetModuleHandleW(nullptr);
    auto entry = reinterpret_cast<uintptr_t>(GetProcAddress(own, "xunTraceProcess"));
    HMODULE childBase = nullptr;
    DWORD needed = 0;
    if (!entry || !EnumProcessModules(pi.hProcess, &childBase, sizeof childBase, &needed)) return 93;
    auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(entry - uintptr_t(own) + uintptr_t(childBase));
    HANDLE thread = CreateRemoteThread(pi.hProcess, nullptr, 0, start,
                                       reinterpret_cast<void*>(uintptr_t(1 << 20)), 0, nullptr);
    if (!thread) return 94;
    WaitForSingleObject(thread, 60000);
    auto* text = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    std::fputs(text ? text : "", stdout);
    TerminateProcess(pi.hProcess, 0);
    return text && std::strncmp(text, "date/time", 9) == 0 ? 0 : 95;
}

// A fault made to happen inside another program from outside: a thread of it started at its
// image's first byte, which is no code.
int FaultInside(const wchar_t* name) {
    DWORD pid = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, name) == 0) pid = entry.th32ProcessID;
    CloseHandle(snapshot);
    HANDLE process = pid ? OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid) : nullptr;
    HMODULE base = nullptr;
    DWORD needed = 0;
    if (!process || !EnumProcessModules(process, &base, sizeof base, &needed)) return 97;
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(base),
                                       nullptr, 0, nullptr);
    std::printf("fault in process $%lX at %p\n", pid, static_cast<void*>(base));
    return thread ? 0 : 98;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring kind = argc > 1 ? argv[1] : L"";
    // A main thread that stops answering: reported after a second, again one and a half later.
    if (kind == L"inject" && argc > 2) return FaultInside(argv[2]);
    TRef<IMEModuleSettings> settings = SettingsForModule(GetModuleHandleW(nullptr));
    if (kind == L"freeze") {
        settings->WriteBool("CheckFreeze", true);
        settings->WriteDword("FreezeTimeout", 1000);
    }
    // Sent by itself to the SMTP server on the port given, as soon as the report is complete.
    if (kind == L"autosend" && argc > 2) {
        settings->WriteBool("AutoSend", true);
        settings->WriteBool("MailAsSmtpClient", true);
        settings->WriteText("SmtpServer", "127.0.0.1");
        settings->WriteDword("SmtpPort", DWORD(_wtoi(argv[2])));
        settings->WriteText("MailAddr", "crashes@zembrak.test");
    }
    if (!StartCrashReporter(GetModuleHandleW(nullptr))) return 90;
    if (kind == L"read")
        ReadFault();
    else if (kind == L"write" || kind == L"autosend")
        WriteFault();
    else if (kind == L"execute")
        ExecuteFault();
    else if (kind == L"divide")
        DivideFault();
    else if (kind == L"illegal")
        IllegalInstruction();
    else if (kind == L"privileged")
        PrivilegedInstruction();
    else if (kind == L"breakpoint")
        Breakpoint();
    else if (kind == L"overflow")
        Recurse(0);
    else if (kind == L"own")
        ThrowOwn();
    else if (kind == L"std")
        ThrowStd();
    else if (kind == L"foreign")
        ThrowForeign();
    else if (kind == L"abort")
        std::abort();
    else if (kind == L"pure")
        TDerived();
    else if (kind == L"terminate")
        std::terminate();
    else if (kind == L"raise")
        CustomRaise();
    else if (kind == L"window")
        InWindowProcedure();
    else if (kind == L"timer")
        InTimer();
    else if (kind == L"thread") {
        std::thread([] { WriteFault(); }).join();
        std::puts("thread ended");
    } else if (kind == L"thread-throw") {
        HANDLE thread = CreateThread(nullptr, 0, ThrowingThread, nullptr, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        std::puts("thread ended");
    } else if (kind == L"intoverflow")
        IntegerOverflow();
    else if (kind == L"dialog")
        InDialog();
    else if (kind == L"nested")
        FaultWhileHandling();
    else if (kind == L"badalloc")
        OutOfMemory();
    else if (kind == L"pool") {
        QueueUserWorkItem(PoolWork, nullptr, WT_EXECUTEDEFAULT);
        Sleep(INFINITE);
    } else if (kind == L"handled")
        HandledByFramework();
    else if (kind == L"silent") {
        try {
            SilentAbort();
        } catch (...) {
            CatchLanguageException(std::current_exception(), CatchApplicationHandle, false);
        }
    } else if (kind == L"naming")
        NameThread();
    else if (kind == L"freeze")
        Sleep(3200);
    else if (kind == L"idle") {
        SetEvent(CreateEventW(nullptr, TRUE, FALSE,
                              (L"CrashSuiteIdle" + std::to_wstring(GetCurrentProcessId())).c_str()));
        Sleep(60000);
    } else if (kind == L"remote")
        return TraceRemote(argv[0]);
    else
        return 91;
    StopCrashReporter();
    return 0;
}
