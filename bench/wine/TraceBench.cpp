// Stack traces under Wine: a thread 40 frames deep through this program (distinct functions) and
// the system (a window procedure reached through DispatchMessage, a wait in the kernel), traced
// from another thread with empty caches (symbol data, modules, function analyses) and again with
// the caches filled. Prints one line per figure.
#include "crashreport/report/ReportWin32.h"
#include "crashreport/stacktrace/ReportTracerWin32.h"
#include "crashreport/stacktrace/StackTraceWin32.h"
#include "crashreport/symbols/SymbolsWin32.h"
#include "crashreport/threads/ThreadRegistryWin32.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) * 1000.0 / double(f.QuadPart);
}

std::atomic<int> Reached{0};
HANDLE Wake;

__attribute__((noinline)) void Wait() {
    ++Reached;
    WaitForSingleObject(Wake, INFINITE);
}

template <int N> __attribute__((noinline)) int Step(int x);

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_APP) return Step<16>(int(w));
    return DefWindowProcW(window, message, w, l);
}

template <int N> __attribute__((noinline)) int Step(int x) {
    int r;
    if constexpr (N == 0) {
        Wait();
        r = x;
    } else if constexpr (N == 17) {
        // Through the system: the window procedure continues the chain.
        MSG msg = {};
        msg.hwnd = CreateWindowW(L"STATIC", L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(msg.hwnd, GWLP_WNDPROC, LONG_PTR(WindowProc));
        msg.message = WM_APP;
        msg.wParam = WPARAM(x);
        r = int(DispatchMessageW(&msg));
        DestroyWindow(msg.hwnd);
    } else {
        r = Step<N - 1>(x + 1);
    }
    asm volatile("" ::: "memory");
    return r + 1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

// A complete bug report of this process (its threads all about 40 frames deep), from the first
// request to the completion, with the caches of an earlier report or without them.
double ReportMilliseconds(DWORD crashed, bool cold, size_t& threads) {
    if (cold) {
        ProcessSymbols().Clear();
        ProcessStackTraces().Clear();
    }
    TCpuContext context;
    CaptureCurrentProcess(0)->ThreadContext(crashed, context);
    const double start = Now();
    auto settings = MakeRef<TSettingsOverlay<>>(nullptr);
    settings->WriteText("Plugins", "");
    settings->WriteBool("ListThreads", true);
    TReportException e;
    e.ClassName = "EAccessViolation";
    e.CrashedThreadId = crashed;
    e.HasContext = true;
    e.Context = context;
    e.Address = e.Context.Ip();
    auto report = ProcessBugReport(e, settings, GetModuleHandleW(nullptr));
    report->SetRunner(MakeRef<TWin32CompletionRunner>(nullptr, false, true));
    report->Sections();
    report->ReportText(true);
    threads = report->Sections()->ItemCount();
    return Now() - start;
}

// Where a warm report's time goes: per thread the state and registers, the prepared stack, the
// trace.
void Breakdown() {
    auto process = CaptureCurrentProcess(0);
    auto tracer = Win32StackTracer();
    double state = 0, context = 0, prepare = 0, trace = 0;
    const std::vector<uint32_t> ids = process->ThreadIds();
    for (uint32_t id : ids) {
        double t0 = Now();
        TThreadState st;
        process->ThreadState(id, st);
        double t1 = Now();
        TCpuContext c;
        if (!process->ThreadContext(id, c)) continue;
        double t2 = Now();
        TThreadStackRecord record;
        record.ThreadId = id;
        record.StackPointer = c.Sp();
        record.FramePointer = c.Fp();
        record.CurrentAddress = c.Ip();
        process->RegionEnd(record.StackPointer, record.StackTop);
        record.PreparedStack = tracer->PrepareStack(record);
        double t3 = Now();
        std::atomic<bool> abort{false};
        tracer->TraceStack(record, TTraceOptions(), abort, {});
        double t4 = Now();
        state += t1 - t0;
        context += t2 - t1;
        prepare += t3 - t2;
        trace += t4 - t3;
    }
    std::printf(
        "warm report of %zu threads in parts: states %.1f ms, registers %.1f ms, prepared stacks %.1f ms, "
        "traces %.1f ms\n",
        ids.size(), state, context, prepare, trace);
}

int main() {
    Wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    std::thread worker([&] {
        id = GetCurrentThreadId();
        Step<34>(0);
    });
    while (Reached < 1)
        Sleep(1);
    Sleep(50);
    TThreadCapture capture;
    if (!CaptureThread(id, capture)) {
        std::printf("trace: capture failed\n");
        return 1;
    }
    const uint64_t program = uint64_t(uintptr_t(GetModuleHandleW(nullptr)));
    std::vector<double> cold, warm;
    size_t frames = 0;
    for (int round = 0; round < 7; ++round) {
        ProcessSymbols().Clear();
        TStackTraceCache cache(ProcessSymbolPlatform(), ProcessSymbols(), program);
        TProcessMemoryReader memory;
        for (int pass = 0; pass < 6; ++pass) {
            double start = Now();
            TMemorySnapshot snapshot;
            TakeMemorySnapshot(snapshot);
            TTraceRequest request;
            request.Mode = ProcessMode;
            request.Range = capture.Range;
            request.CurrentAddress = capture.Address;
            request.Prepared = &capture.Prepared;
            TTraceResult result = cache.Trace(memory, snapshot, request);
            (pass == 0 ? cold : warm).push_back(Now() - start);
            frames = result.Lines.size();
        }
    }
    std::vector<double> snapshots;
    size_t runs = 0;
    for (int i = 0; i < 20; ++i) {
        double start = Now();
        TMemorySnapshot snapshot;
        TakeMemorySnapshot(snapshot);
        snapshots.push_back(Now() - start);
        runs = snapshot.Runs().size();
    }
    std::vector<double> symbols;
    for (int i = 0; i < 5; ++i) {
        ProcessSymbols().Clear();
        double start = Now();
        ProcessSymbols().SymbolsForAddress(program + 0x1000);
        symbols.push_back(Now() - start);
    }
    TThreadRegistry::Instance().Open();
    std::vector<std::thread> more;
    for (int i = 0; i < 9; ++i)
        more.emplace_back([] { Step<34>(0); });
    while (Reached < 10)
        Sleep(1);
    Sleep(50);
    std::vector<double> coldReports, warmReports;
    size_t sections = 0;
    for (int round = 0; round < 5; ++round) {
        coldReports.push_back(ReportMilliseconds(id, true, sections));
        warmReports.push_back(ReportMilliseconds(id, false, sections));
    }
    Breakdown();
    SetEvent(Wake);
    worker.join();
    for (std::thread& t : more)
        t.join();
    std::printf("complete report, 10 threads of 40 frames (%zu sections), cold caches: median %.1f ms\n",
                sections, Median(coldReports));
    std::printf("complete report, warm caches: median %.1f ms\n", Median(warmReports));
    std::printf("of which the readable-memory snapshot (%zu runs): median %.2f ms\n", runs,
                Median(snapshots));
    std::printf("of which loading the program's symbol data: median %.2f ms\n", Median(symbols));
    std::printf("trace of %zu frames, cold caches: median %.2f ms (max %.2f ms)\n", frames, Median(cold),
                *std::max_element(cold.begin(), cold.end()));
    std::printf("trace of %zu frames, warm caches: median %.2f ms (max %.2f ms)\n", frames, Median(warm),
                *std::max_element(warm.begin(), warm.end()));
    return 0;
}
