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

// "module!nearest export+offset" or "module+rva": enough to tell where a thread waits (the
// program's own addresses resolve with addr2line against the test program).
std::string Describe(uintptr_t pc) {
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
    DWORD rva = static_cast<DWORD>(pc - reinterpret_cast<uintptr_t>(mod));
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

// Return addresses into any module that follow a call instruction, read from the stack memory
// itself from `top` on (a guess, but it shows the callers).
void PrintReturnAddresses(uintptr_t top) {
    std::fprintf(stderr, "return addresses further up the stack:\n");
    MEMORY_BASIC_INFORMATION mbi{};
    ::VirtualQuery(reinterpret_cast<void*>(top), &mbi, sizeof mbi);
    auto end = reinterpret_cast<uintptr_t>(mbi.BaseAddress) + mbi.RegionSize;
    int shown = 0;
    for (uintptr_t p = top & ~uintptr_t{sizeof(void*) - 1}; p + sizeof(void*) <= end && shown < 80;
         p += sizeof(void*)) {
        uintptr_t v = *reinterpret_cast<uintptr_t*>(p);
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

#ifdef _WIN64
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
        PrintReturnAddresses(top);
    }
    ::ResumeThread(MainThread);
}
#else
// The test thread's call stack along its frame pointers (the program is built with them).
void PrintMainStack() {
    if (!MainThread || ::SuspendThread(MainThread) == static_cast<DWORD>(-1)) return;
    CONTEXT ctx{};
    ctx.ContextFlags = CONTEXT_FULL;
    if (::GetThreadContext(MainThread, &ctx)) {
        std::fprintf(stderr, "stack of the test thread:\n  %s\n", Describe(ctx.Eip).c_str());
        uintptr_t frame = ctx.Ebp;
        for (int i = 0; i < 48 && frame && !::IsBadReadPtr(reinterpret_cast<void*>(frame), 8); ++i) {
            const auto* slots = reinterpret_cast<const uintptr_t*>(frame);
            if (slots[1] < 0x10000) break;
            std::fprintf(stderr, "  %s\n", Describe(slots[1]).c_str());
            if (slots[0] <= frame) break; // frames grow towards higher addresses
            frame = slots[0];
        }
        PrintReturnAddresses(ctx.Esp);
    }
    ::ResumeThread(MainThread);
}
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
