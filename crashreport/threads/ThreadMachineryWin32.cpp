#include "crashreport/threads/ThreadMachineryWin32.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>
#include <mutex>

#include "crashreport/base/HandlesWin32.h"
#include "crashreport/base/LibraryWin32.h"
#include "crashreport/base/ModulesWin32.h"
#include "crashreport/settings/SettingsWin32.h"
#include "crashreport/threads/ThreadRegistryWin32.h"

// ---- message-handler windows

namespace {

thread_local TMessageHandlerWindow* ThreadWindow = nullptr;

// System messages below the user range that handlers may ask for; everything above 535 goes to
// them anyway.
bool ForHandlers(UINT message) {
    return message > 535 || message == WM_TIMER || message == WM_QUERYENDSESSION ||
           message == WM_ENDSESSION || message == WM_POWERBROADCAST || message == WM_DEVICECHANGE ||
           message == WM_SETTINGCHANGE;
}

std::wstring Suffix(DWORD threadId) {
    wchar_t text[64];
    swprintf(text, 64, L"$%X$%llX", unsigned(threadId),
             (unsigned long long)uintptr_t(
                 reinterpret_cast<const void*>(&TMessageHandlerWindow::ForCurrentThread)));
    return text;
}

} // namespace

TMessageHandlerWindow& TMessageHandlerWindow::ForCurrentThread() {
    if (!ThreadWindow) ThreadWindow = new TMessageHandlerWindow();
    return *ThreadWindow;
}

TMessageHandlerWindow::TMessageHandlerWindow() {
    FThreadId = GetCurrentThreadId();
    const std::wstring suffix = Suffix(FThreadId);
    const std::wstring name = L"xunToolsMsgHandlerWindow" + suffix;
    FMutex = CreateMutexW(nullptr, FALSE, (L"xunToolsMsgHandlerMutex" + suffix).c_str());
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = ModuleOfAddress(reinterpret_cast<const void*>(&TMessageHandlerWindow::WindowProc));
    wc.lpszClassName = name.c_str();
    RegisterClassW(&wc);
    FWindow = CreateWindowW(name.c_str(), name.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                            nullptr);
    SetWindowLongPtrW(FWindow, GWLP_USERDATA, LONG_PTR(this));
}

UINT TMessageHandlerWindow::Register(UINT message, TMessageHandler handler) {
    WaitForSingleObject(FMutex, INFINITE);
    if (message == 0) {
        message = 1024;
        while (std::any_of(FHandlers.begin(), FHandlers.end(),
                           [&](const TEntry& e) { return e.Message == message; }))
            ++message;
    }
    FHandlers.push_back({message, std::move(handler)});
    ReleaseMutex(FMutex);
    return message;
}

void TMessageHandlerWindow::Unregister(UINT message) {
    WaitForSingleObject(FMutex, INFINITE);
    std::erase_if(FHandlers, [&](const TEntry& e) { return e.Message == message; });
    ReleaseMutex(FMutex);
}

void TMessageHandlerWindow::Destroy() {
    if (FWindow) DestroyWindow(FWindow);
    FWindow = nullptr;
    if (FMutex) CloseHandle(FMutex);
    FMutex = nullptr;
    if (ThreadWindow == this) ThreadWindow = nullptr;
    delete this;
}

LRESULT CALLBACK TMessageHandlerWindow::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    LRESULT result = DefWindowProcW(window, message, w, l);
    auto* self = reinterpret_cast<TMessageHandlerWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || !ForHandlers(message)) return result;
    // A copy: a handler may register or remove handlers.
    std::vector<TMessageHandler> handlers;
    WaitForSingleObject(self->FMutex, INFINITE);
    for (const TEntry& e : self->FHandlers)
        if (e.Message == message) handlers.push_back(e.Handler);
    ReleaseMutex(self->FMutex);
    for (const TMessageHandler& handler : handlers) {
        try {
            handler(window, message, w, l, result);
        } catch (...) {
        }
    }
    return result;
}

// ---- the freeze watchdog

namespace {
constexpr WPARAM Answer = 777;
}

void TFreezeWatchdog::Start(uint32_t freezeTimeoutMs, std::function<void()> onFrozen) {
    if (FThread) return;
    InitializeCriticalSection(&FLock);
    FLockReady = true;
    FOnFrozen = std::move(onFrozen);
    FInterval = std::max<uint32_t>(freezeTimeoutMs / 10, 1);
    TMessageHandlerWindow& window = TMessageHandlerWindow::ForCurrentThread();
    FMainWindow = window.Handle();
    FStop = false;
    FThread = CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, &FThreadId);
    const DWORD watchdog = FThreadId;
    // The main thread's answer to the probe.
    FProbe = window.Register(0, [watchdog](HWND, UINT, WPARAM, LPARAM, LRESULT& result) {
        PostThreadMessageW(watchdog, 0, Answer, Answer);
        result = Answer;
    });
    ResumeThread(FThread);
}

void TFreezeWatchdog::Stop() {
    if (!FThread) return;
    FStop = true;
    Resume();
    if (WaitForSingleObject(FThread, 2000) == WAIT_TIMEOUT) TerminateThread(FThread, 0);
    CloseHandle(FThread);
    FThread = nullptr;
    TMessageHandlerWindow::ForCurrentThread().Unregister(FProbe);
    DeleteCriticalSection(&FLock);
    FLockReady = false;
}

void TFreezeWatchdog::Pause() {
    if (!FLockReady) return;
    EnterCriticalSection(&FLock);
    if (++FPauseCount == 0) FPaused = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    LeaveCriticalSection(&FLock);
}

void TFreezeWatchdog::Resume() {
    if (!FLockReady) return;
    EnterCriticalSection(&FLock);
    if (FPauseCount >= 0 && --FPauseCount < 0 && FPaused) {
        SetEvent(FPaused);
        CloseHandle(FPaused);
        FPaused = nullptr;
    }
    LeaveCriticalSection(&FLock);
}

DWORD WINAPI TFreezeWatchdog::ThreadProc(void* self) {
    static_cast<TFreezeWatchdog*>(self)->Run();
    return 0;
}

void TFreezeWatchdog::Run() {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue, for the answers
    uint32_t interval = FInterval, unanswered = 0;
    while (!FStop) {
        // While paused, wait; a pause also starts the count anew.
        for (;;) {
            EnterCriticalSection(&FLock);
            HANDLE paused = nullptr;
            if (FPaused)
                DuplicateHandle(GetCurrentProcess(), FPaused, GetCurrentProcess(), &paused, 0, FALSE,
                                DUPLICATE_SAME_ACCESS);
            LeaveCriticalSection(&FLock);
            if (!paused) break;
            WaitForSingleObject(paused, INFINITE);
            CloseHandle(paused);
            unanswered = 0;
        }
        if (FStop) break;
        PostMessageW(FMainWindow, FProbe, 0, 0);
        Sleep(interval);
        bool answered = false;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            answered |=
                msg.hwnd == nullptr && msg.message == 0 && msg.wParam == Answer && msg.lParam == Answer;
        if (answered) {
            unanswered = 0;
            interval = FInterval;
        } else if (++unanswered >= 10) {
            unanswered = 0;
            FReports = FReports + 1;
            if (FOnFrozen) FOnFrozen();
            interval += interval / 2;
        }
    }
}

// ---- pausing the program's threads

namespace {

// While an exception is processed, listed threads wait here at their next message retrieval.
// The events live as long as the process: a hook that has just read one must never find it
// closed (or its handle value taken by something else).
HANDLE MainEvent = nullptr, OthersEvent = nullptr;
volatile DWORD PauseMainThread = 0;
volatile bool Pausing = false;
std::mutex PauseLock;

LRESULT CALLBACK GetMessageHook(int code, WPARAM w, LPARAM l) {
    if (code >= 0 && Pausing)
        WaitForSingleObject(GetCurrentThreadId() == PauseMainThread ? MainEvent : OthersEvent, INFINITE);
    return CallNextHookEx(nullptr, code, w, l);
}

// The module that created a thread: the one that asked for it (the thread-creation hooks enter
// it), else the one holding its start routine.
HMODULE CreatorModule(DWORD threadId) {
    TThreadRegistry& registry = TThreadRegistry::Instance();
    if (registry.IsOpen() && registry.Lock(1000)) {
        TThreadEntry entry;
        const bool known = registry.Find(threadId, entry);
        registry.Unlock();
        if (known && entry.CreatorAddress)
            if (HMODULE module =
                    ModuleOfAddress(reinterpret_cast<const void*>(uintptr_t(entry.CreatorAddress))))
                return module;
    }
    TSystemLibrary ntdll(L"ntdll.dll");
    using TQuery = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = ntdll.Find<TQuery>("NtQueryInformationThread");
    TKernelHandle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId));
    void* start = nullptr;
    if (!query || !thread ||
        query(thread.Get(), 9 /* ThreadQuerySetWin32StartAddress */, &start, sizeof start, nullptr) != 0)
        return nullptr;
    return ModuleOfAddress(start);
}

} // namespace

void TThreadPause::Pause(DWORD mainThreadId, const std::vector<DWORD>& excluded, HWND mainHandlerWindow) {
    std::lock_guard<std::mutex> guard(PauseLock);
    if (Pausing) return;
    if (!MainEvent) MainEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!OthersEvent) OthersEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(MainEvent);
    ResetEvent(OthersEvent);
    PauseMainThread = mainThreadId;
    Pausing = true;
    TKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    const DWORD self = GetCurrentThreadId(), process = GetCurrentProcessId();
    for (BOOL more = snapshot && Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        const DWORD id = entry.th32ThreadID;
        if (entry.th32OwnerProcessID != process || id == self || id == mainThreadId ||
            std::find(excluded.begin(), excluded.end(), id) != excluded.end())
            continue;
        HMODULE creator = CreatorModule(id);
        if (!creator || !HasSettingsResource(creator)) continue;
        if (HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, id)) {
            FHooks.push_back(hook);
            FThreads.push_back(id);
        }
    }
    // The main thread blocks the same way; a message makes it notice.
    if (mainThreadId != self) {
        if (HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, mainThreadId)) {
            FHooks.push_back(hook);
            FThreads.push_back(mainThreadId);
            if (mainHandlerWindow) PostMessageW(mainHandlerWindow, WM_NULL, 0, 0);
        }
    }
}

void TThreadPause::Resume() {
    std::lock_guard<std::mutex> guard(PauseLock);
    if (!Pausing) return;
    Pausing = false;
    SetEvent(MainEvent);
    SetEvent(OthersEvent);
    for (HHOOK hook : FHooks)
        UnhookWindowsHookEx(hook);
    FHooks.clear();
    FThreads.clear();
}
