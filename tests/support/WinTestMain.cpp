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
std::string CurrentTest;             // written before TestStarted is set

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
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

HANDLE MainThread = nullptr;

#ifdef _WIN64
// "module!nearest export+offset" or "module+rva": enough to tell where a thread waits (the
// program's own addresses resolve with addr2line against the test program).
std::string Describe(DWORD64 pc) {
    HMODULE mod = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(pc), &mod))
        return "?";
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(mod, path, MAX_PATH);
    const char* name = path;
    for (const char* c = path; *c; ++c)
        if (*c == '\\' || *c == '/') name = c + 1;
    auto base = reinterpret_cast<const uint8_t*>(mod);
    DWORD rva = static_cast<DWORD>(pc - reinterpret_cast<DWORD64>(mod));
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const char* best = nullptr;
    DWORD bestRva = 0;
    if (dir.VirtualAddress && dir.Size) {
        auto exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
        auto functions = reinterpret_cast<const DWORD*>(base + exp->AddressOfFunctions);
        auto names = reinterpret_cast<const DWORD*>(base + exp->AddressOfNames);
        auto ordinals = reinterpret_cast<const WORD*>(base + exp->AddressOfNameOrdinals);
        for (DWORD i = 0; i < exp->NumberOfNames; ++i) {
            DWORD f = functions[ordinals[i]];
            if (f <= rva && f >= bestRva) {
                bestRva = f;
                best = reinterpret_cast<const char*>(base + names[i]);
            }
        }
    }
    char out[512];
    if (best)
        std::snprintf(out, sizeof out, "%s!%s+0x%lx", name, best, static_cast<unsigned long>(rva - bestRva));
    else
        std::snprintf(out, sizeof out, "%s+0x%lx", name, static_cast<unsigned long>(rva));
    return out;
}

// The test thread's call stack, walked with the unwind data of the modules it runs through.
void PrintMainStack() {
    if (!MainThread || ::SuspendThread(MainThread) == static_cast<DWORD>(-1)) return;
    CONTEXT ctx{};
    ctx.ContextFlags = CONTEXT_FULL;
    if (::GetThreadContext(MainThread, &ctx)) {
        const DWORD64 top = ctx.Rsp;
        std::fprintf(stderr, "stack of the test thread:\n");
        for (int frame = 0; frame < 48 && ctx.Rip; ++frame) {
            std::string where = Describe(ctx.Rip);
            if (where == "?") break; // Wine's callback dispatcher has no unwind data to go on with
            std::fprintf(stderr, "  %s\n", where.c_str());
            DWORD64 imageBase = 0;
            PRUNTIME_FUNCTION fn = ::RtlLookupFunctionEntry(ctx.Rip, &imageBase, nullptr);
            if (fn) {
                void* handlerData = nullptr;
                DWORD64 frameBase = 0;
                ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, ctx.Rip, fn, &ctx, &handlerData, &frameBase,
                                   nullptr);
            } else {
                if (::IsBadReadPtr(reinterpret_cast<void*>(ctx.Rsp), 8)) break;
                ctx.Rip = *reinterpret_cast<DWORD64*>(ctx.Rsp); // a leaf function
                ctx.Rsp += 8;
            }
        }
        // Beyond that: return addresses into any module that follow a call instruction, read
        // from the stack memory itself (a guess, but it shows the callers).
        std::fprintf(stderr, "return addresses further up the stack:\n");
        MEMORY_BASIC_INFORMATION mbi{};
        ::VirtualQuery(reinterpret_cast<void*>(top), &mbi, sizeof mbi);
        auto end = reinterpret_cast<DWORD64>(mbi.BaseAddress) + mbi.RegionSize;
        int shown = 0;
        for (DWORD64 p = top & ~DWORD64{7}; p + 8 <= end && shown < 80; p += 8) {
            DWORD64 v = *reinterpret_cast<DWORD64*>(p);
            HMODULE mod = nullptr;
            if (v < 0x10000 || !::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                     reinterpret_cast<LPCWSTR>(v), &mod))
                continue;
            auto code = reinterpret_cast<const uint8_t*>(v);
            if (::IsBadReadPtr(code - 6, 6)) continue;
            bool afterCall = code[-5] == 0xE8 || (code[-6] == 0xFF && (code[-5] & 0x38) == 0x10) ||
                             (code[-3] == 0xFF && (code[-2] & 0x38) == 0x10) ||
                             (code[-2] == 0xFF && (code[-1] & 0x38) == 0x10);
            if (!afterCall) continue;
            std::fprintf(stderr, "  %s\n", Describe(v).c_str());
            ++shown;
        }
    }
    ::ResumeThread(MainThread);
}
#else
void PrintMainStack() {}
#endif

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
        PrintMainStack();
        std::fflush(stderr);
        ::TerminateProcess(::GetCurrentProcess(), 3);
    }
}

} // namespace

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&icc);
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &MainThread, 0,
                      FALSE, DUPLICATE_SAME_ACCESS);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new TProgress);
    // No test of this program takes more than a few seconds; a minute and a half means it hangs.
    const char* limit = std::getenv("ZE_TEST_WATCHDOG");
    std::thread(Watch, limit ? std::atoi(limit) : 90).detach();
    return RUN_ALL_TESTS();
}
