#include "crashreport/threads/ThreadMachineryWin32.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

std::atomic<int> Handled{0}, Spins{0};
std::atomic<bool> Stop{false};

DWORD WINAPI MessageLoop(void* ready) {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(ready);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        if (msg.message == WM_APP) ++Handled;
    return 0;
}

DWORD WINAPI Spin(void*) {
    while (!Stop)
        ++Spins;
    return 0;
}

// A thread that retrieves messages waits at its next retrieval while paused and handles the
// message once resumed; a thread that retrieves none goes on.
TEST(ThreadMachinery, PausedThreadsWaitAtTheirNextMessage) {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD loopId = 0, spinId = 0;
    HANDLE loop = CreateThread(nullptr, 0, MessageLoop, ready, 0, &loopId);
    HANDLE spin = CreateThread(nullptr, 0, Spin, nullptr, 0, &spinId);
    ASSERT_EQ(WaitForSingleObject(ready, 5000), WAIT_OBJECT_0);
    TThreadPause pause;
    pause.Pause(GetCurrentThreadId(), {}, nullptr);
    EXPECT_NE(std::find(pause.Paused().begin(), pause.Paused().end(), loopId), pause.Paused().end());
    PostThreadMessageW(loopId, WM_APP, 0, 0);
    const int spins = Spins;
    for (int i = 0; i < 500 && Spins == spins; ++i)
        Sleep(10);
    EXPECT_GT(Spins, spins);
    Sleep(200);
    EXPECT_EQ(Handled, 0);
    pause.Resume();
    for (int i = 0; i < 500 && Handled == 0; ++i)
        Sleep(10);
    EXPECT_EQ(Handled, 1);
    Stop = true;
    PostThreadMessageW(loopId, WM_QUIT, 0, 0);
    HANDLE threads[] = {loop, spin};
    EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 5000), WAIT_OBJECT_0);
    CloseHandle(loop);
    CloseHandle(spin);
    CloseHandle(ready);
}

// The main thread's handler window answers the watchdog's probe; one that stops answering is
// reported after ten probes, and again after half as long once more. (Only lower bounds of the
// times are checked: a busy machine makes them longer, never shorter.)
TEST(ThreadMachinery, WatchdogReportsAMainThreadThatStopsAnswering) {
    TFreezeWatchdog watchdog;
    std::atomic<int> reports{0};
    std::atomic<DWORD> first{0}, second{0};
    watchdog.Start(400, [&] { (++reports == 1 ? first : second) = GetTickCount(); });
    for (DWORD until = GetTickCount() + 1000; GetTickCount() < until;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        Sleep(5);
    }
    EXPECT_EQ(reports, 0);
    const DWORD stopped = GetTickCount();
    for (int i = 0; i < 1000 && reports < 2; ++i)
        Sleep(10);
    ASSERT_EQ(reports, 2);
    EXPECT_GE(first - stopped, 380u);
    EXPECT_GE(second - first, 570u);
    watchdog.Pause();
    const int paused = reports;
    Sleep(1000);
    EXPECT_EQ(reports, paused);
    watchdog.Resume();
    watchdog.Stop();
}

} // namespace
