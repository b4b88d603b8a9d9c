// The crash reporter in a running program under Wine, with the program's own settings (nothing
// shown, each report saved to a file): the time its start adds to the program's, the memory it
// keeps, and the time from a fault to the complete report on disk in a program of 10 threads
// (the fault in a thread of the program, which then ends alone). Each start is measured in a
// fresh process. Prints one line per figure.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "crashreport/capture/CrashReporterWin32.h"
#include "crashreport/settings/SettingsWin32.h"

namespace {

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) * 1000.0 / double(f.QuadPart);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

size_t WorkingSet() {
    PROCESS_MEMORY_COUNTERS m = {};
    m.cb = sizeof m;
    GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m);
    return m.WorkingSetSize;
}

// Committed private memory of the process, region by region (Wine's process counters do not
// count it).
size_t PrivateBytes() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION info;
    for (uintptr_t at = 0; VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info);) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
        const uintptr_t next = uintptr_t(info.BaseAddress) + info.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

const wchar_t* ReportFile = L"crash-bench-report.txt";

void Configure() {
    TRef<IMEModuleSettings> settings = SettingsForModule(GetModuleHandleW(nullptr));
    settings->WriteInt("GnShowCfg", 4);
    settings->WriteInt("F1ShowCfg", 4);
    settings->WriteInt("F2ShowCfg", 4);
    settings->WriteBool("AutoSave", true);
    settings->WriteBool("AppendBugReps", false);
    settings->WriteBool("CheckFileCrc", false);
    settings->WriteText("BugRepFile", "crash-bench-report.txt");
}

volatile int* volatile Null = nullptr;
__attribute__((noinline)) void WriteFault() {
    *Null = 1;
}

std::atomic<bool> Stop{false};
template <int N> __attribute__((noinline)) void Deep() {
    if constexpr (N == 0) {
        while (!Stop)
            Sleep(5);
    } else {
        Deep<N - 1>();
    }
    asm volatile("" ::: "memory");
}

// Child: one start measured, its memory, then (when asked) faults in threads, cold then warm.
int Child(bool faults) {
    Configure();
    // The program's own start opens the window system anyway: not counted here.
    DestroyWindow(CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
    const size_t before = PrivateBytes(), residentBefore = WorkingSet();
    const double t0 = Now();
    if (!StartCrashReporter(GetModuleHandleW(nullptr))) return 1;
    const double started = Now() - t0;
    Sleep(50); // the worker thread settles
    const size_t kept = PrivateBytes() - before;
    const size_t resident = WorkingSet() - residentBefore;
    std::printf("%.3f %zu %zu", started, kept, resident);
    if (faults) {
        std::vector<std::thread> threads;
        for (int i = 0; i < 9; ++i)
            threads.emplace_back([] { Deep<30>(); });
        Sleep(100);
        for (int round = 0; round < 6; ++round) {
            DeleteFileW(ReportFile);
            const double f0 = Now();
            std::thread([] { WriteFault(); }).join();
            const double took = Now() - f0;
            const bool saved = GetFileAttributesW(ReportFile) != INVALID_FILE_ATTRIBUTES;
            std::printf(" %.3f", saved ? took : -1.0);
        }
        Stop = true;
        for (std::thread& t : threads)
            t.join();
        DeleteFileW(ReportFile);
    }
    std::printf("\n");
    StopCrashReporter();
    return 0;
}

std::string RunChild(const wchar_t* mode) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" " + mode;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    CreatePipe(&read, &write, &sa, 0);
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::string out;
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(write);
        char buffer[512];
        DWORD got = 0;
        while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got)
            out.append(buffer, got);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    } else {
        CloseHandle(write);
    }
    CloseHandle(read);
    return out;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1) return Child(std::wstring(argv[1]) == L"faults");
    std::vector<double> starts, kept, resident, cold, warm;
    for (int run = 0; run < 7; ++run) {
        std::vector<double> v;
        const std::string out = RunChild(run < 2 ? L"faults" : L"start");
        for (const char* p = out.c_str(); *p;) {
            char* end = nullptr;
            const double x = std::strtod(p, &end);
            if (end == p) break;
            v.push_back(x);
            p = end;
        }
        if (v.size() < 3) {
            std::printf("crash bench: a child failed: %s\n", out.c_str());
            return 1;
        }
        starts.push_back(v[0]);
        kept.push_back(v[1] / 1024.0);
        resident.push_back(v[2] / 1024.0);
        for (size_t i = 3; i < v.size(); ++i) {
            if (v[i] < 0) {
                std::printf("crash bench: no report on disk after a fault\n");
                return 1;
            }
            (i == 3 ? cold : warm).push_back(v[i]);
        }
    }
    std::printf("start-up cost of the crash reporter: median %.1f ms (max %.1f ms)\n", Median(starts),
                *std::max_element(starts.begin(), starts.end()));
    // The reserve commits 4 x 512 KB; Wine commits every thread's whole stack at once (about 2 MB
    // for the worker), where Windows commits the pages the thread touches.
    std::printf("memory it keeps: resident %.0f KB; committed private %.0f KB, less the 2048 KB emergency "
                "reserve\n",
                Median(resident), Median(kept) - 2048);
    std::printf(
        "fault in a thread to the complete report on disk, 10 threads: first %.0f ms, then median %.0f ms\n",
        Median(cold), Median(warm));
    return 0;
}
