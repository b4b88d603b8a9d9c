#pragma once
// The thread machinery of the handling flow: hidden message-handler windows through which calls
// run in a thread that owns one (the main thread's answers the freeze watchdog), the watchdog
// itself, and the cooperative pausing of the program's other threads while an exception is
// processed.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

// A handler receives the window, the message, both parameters and the result to return.
using TMessageHandler = std::function<void(HWND, UINT, WPARAM, LPARAM, LRESULT&)>;

// The calling thread's message-handler window, created on first use: class and window name
// "xunToolsMsgHandlerWindow$<thread id>$<creating routine>", its table guarded by the mutex
// "xunToolsMsgHandlerMutex" with the same suffix.
class TMessageHandlerWindow {
public:
    static TMessageHandlerWindow& ForCurrentThread();
    HWND Handle() const { return FWindow; }
    DWORD ThreadId() const { return FThreadId; }
    // Message number 0 asks for the first free number from 1024 up. Returns the number.
    UINT Register(UINT message, TMessageHandler handler);
    void Unregister(UINT message);
    void Destroy();

private:
    TMessageHandlerWindow();
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    struct TEntry {
        UINT Message;
        TMessageHandler Handler;
    };
    HWND FWindow = nullptr;
    DWORD FThreadId = 0;
    HANDLE FMutex = nullptr;
    std::vector<TEntry> FHandlers;
};

// The freeze watchdog ("AntiFreezeThread"): posts a probe to the main thread's message-handler
// window every FreezeTimeout / 10 ms; after ten probes without the answer (0, 777, 777) it calls
// onFrozen, then waits half as long again for the next report of the same freeze.
class TFreezeWatchdog {
public:
    // Call on the main thread (its message-handler window answers).
    void Start(uint32_t freezeTimeoutMs, std::function<void()> onFrozen);
    void Stop();
    // Counted: the first pause holds the watchdog, the last resume lets it go on.
    void Pause();
    void Resume();
    DWORD ThreadId() const { return FThreadId; }
    uint32_t Reports() const { return FReports; }

private:
    static DWORD WINAPI ThreadProc(void*);
    void Run();
    HANDLE FThread = nullptr;
    DWORD FThreadId = 0;
    HWND FMainWindow = nullptr;
    UINT FProbe = 0;
    uint32_t FInterval = 0;
    std::function<void()> FOnFrozen;
    CRITICAL_SECTION FLock;
    bool FLockReady = false;
    long FPauseCount = -1;
    HANDLE FPaused = nullptr;
    volatile bool FStop = false;
    volatile uint32_t FReports = 0;
};

// Pauses every thread of the process that a module with crash reporter settings created, except
// the calling, the main and the excluded threads: each blocks at its next message retrieval until
// Resume. A thread that retrieves no messages goes on.
class TThreadPause {
public:
    void Pause(DWORD mainThreadId, const std::vector<DWORD>& excluded, HWND mainHandlerWindow);
    void Resume();
    const std::vector<DWORD>& Paused() const { return FThreads; }

private:
    std::vector<DWORD> FThreads;
    std::vector<HHOOK> FHooks;
};
