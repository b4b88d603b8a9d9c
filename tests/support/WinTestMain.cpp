// The Win32 test program: common controls first, as the editor's own start does. A watchdog
// ends the run when one test stops making progress (typically a modal box nobody answers): it
// names the test and every dialog still open, instead of letting the whole run time out.
#include "tests/support/WinTestSupport.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <thread>

namespace {

std::atomic<int64_t> TestStarted{0}; // steady clock, seconds; 0 = between tests
std::string CurrentTest;              // written before TestStarted is set

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class TProgress : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo& t) override {
        TestStarted = 0;
        CurrentTest = std::string(t.test_suite_name()) + "." + t.name();
        TestStarted = Now();
    }
    void OnTestEnd(const ::testing::TestInfo&) override { TestStarted = 0; }
};

std::string Text(HWND w) {
    std::wstring text = WindowText(w);
    char out[1024] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out, sizeof out - 1, nullptr, nullptr);
    return out;
}

void Watch(int limitSeconds) {
    for (;;) {
        ::Sleep(1000);
        int64_t started = TestStarted;
        if (started == 0 || Now() - started < limitSeconds) continue;
        std::fprintf(stderr, "\nwatchdog: %s has made no progress for %d s; open windows of this process:\n",
                     CurrentTest.c_str(), limitSeconds);
        ::EnumWindows(
            [](HWND w, LPARAM) WINAPI -> BOOL {
                DWORD pid = 0;
                ::GetWindowThreadProcessId(w, &pid);
                if (pid != ::GetCurrentProcessId()) return TRUE;
                wchar_t cls[64] = {};
                ::GetClassNameW(w, cls, 64);
                std::fprintf(stderr, "  %ls%s%s \"%s\"", cls, ::IsWindowVisible(w) ? "" : " (hidden)",
                             ::IsWindowEnabled(w) ? "" : " (disabled)", Text(w).c_str());
                if (HWND msg = ::GetDlgItem(w, 0xFFFF)) std::fprintf(stderr, ": \"%s\"", Text(msg).c_str());
                std::fprintf(stderr, "\n");
                return TRUE;
            },
            0);
        std::fflush(stderr);
        ::TerminateProcess(::GetCurrentProcess(), 3);
    }
}

} // namespace

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new TProgress);
    // No test of this program takes more than a few seconds; a minute and a half means it hangs.
    const char* limit = std::getenv("ZE_TEST_WATCHDOG");
    std::thread(Watch, limit ? std::atoi(limit) : 90).detach();
    return RUN_ALL_TESTS();
}
