#include "crashreport/report/ReportWin32.h"
#include "crashreport/stacktrace/ReportTracerWin32.h"
#include "crashreport/stacktrace/StackTraceWin32.h"
#include "crashreport/symbols/SymbolsWin32.h"
#include "crashreport/threads/ThreadRegistryWin32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

// A call chain with every kind of call the tracer must see through: direct, through a function
// pointer, virtual, recursive, a function without frame pointer, through an import and back
// from the system into a window procedure. At its end the chain is traced in one of three ways.
namespace TraceChain {

enum class TKind { Own, Waiting, Spinning };

struct TRun {
    TKind Kind = TKind::Own;
    TTraceResult Result;              // for Own
    std::atomic<bool> Reached{false}; // the leaf is waiting or spinning
    std::atomic<bool> Release{false};
    HANDLE Wake = nullptr;
    TThreadCapture Capture; // Own
};

TRun* Current = nullptr;

__attribute__((noinline)) void LeafStep(TRun& run) {
    switch (run.Kind) {
    case TKind::Own: {
        if (CaptureThread(GetCurrentThreadId(), run.Capture)) run.Result = TraceCapture(run.Capture, {});
        break;
    }
    case TKind::Waiting:
        run.Reached = true;
        WaitForSingleObject(run.Wake, 30000);
        break;
    case TKind::Spinning:
        run.Reached = true;
        while (!run.Release.load(std::memory_order_relaxed)) {
        }
        break;
    }
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) LRESULT CALLBACK ChainWndProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_APP) {
        LeafStep(*Current);
        return 7;
    }
    return DefWindowProcW(window, message, w, l);
}

__attribute__((noinline)) int DispatchStep() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ChainWndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TraceChainWindow";
    RegisterClassW(&wc);
    HWND window =
        CreateWindowW(L"TraceChainWindow", L"", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    PostMessageW(window, WM_APP, 0, 0);
    MSG msg;
    int result = 0;
    while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE))
        if (msg.message == WM_APP) result = int(DispatchMessageW(&msg));
    DestroyWindow(window);
    return result;
}

__attribute__((noinline, optimize("omit-frame-pointer"))) int NoFramePointerStep(int x) {
    volatile int spill[4] = {x, x + 1, x + 2, x + 3};
    return DispatchStep() + spill[1];
}

__attribute__((noinline)) int RecurseStep(int depth) {
    int result = depth > 0 ? RecurseStep(depth - 1) : NoFramePointerStep(depth);
    asm volatile("" ::: "memory");
    return result + 1;
}

struct TStep {
    virtual ~TStep() = default;
    virtual int Step() = 0;
};

struct TVirtualStep : TStep {
    __attribute__((noinline)) int Step() override { return RecurseStep(3) + 1; }
};

TStep* MakeStep() {
    static TVirtualStep step;
    return &step;
}

__attribute__((noinline)) int CallThroughPointer(TStep* step) {
    return step->Step() + 1;
}

int (*volatile Pointer)(TStep*) = CallThroughPointer;

__attribute__((noinline)) int ChainStart(TRun& run) {
    Current = &run;
    int result = Pointer(MakeStep());
    asm volatile("" ::: "memory");
    return result + 1;
}

// What the trace must show from this module, innermost first (the recursion once per call site).
const std::vector<std::string> Expected = {
    "TraceChain::LeafStep",           "TraceChain::ChainWndProc",       "TraceChain::DispatchStep",
    "TraceChain::NoFramePointerStep", "TraceChain::RecurseStep",        "TraceChain::RecurseStep",
    "TraceChain::TVirtualStep::Step", "TraceChain::CallThroughPointer", "TraceChain::ChainStart",
};

} // namespace TraceChain

namespace {

using namespace TraceChain;

std::string ModuleName() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, n);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    return std::string(name.begin(), name.end());
}

void Print(const char* title, const TTraceResult& result) {
    std::printf("%s trace:\n", title);
    for (const TTraceLine& line : result.Lines)
        std::printf("  %0*llX %s %s %d %s\n", int(2 * sizeof(void*)), (unsigned long long)line.Address,
                    line.Module.c_str(), line.Unit.c_str(), line.Line, line.Function.c_str());
}

// The frames of this module from the leaf to the chain's start: exactly the expected functions,
// each with its unit and a line.
void CheckChain(const TTraceResult& result) {
    ASSERT_TRUE(result.Error.empty()) << result.Error;
    const std::string module = ModuleName();
    std::vector<const TTraceLine*> ours;
    bool inChain = false;
    for (const TTraceLine& line : result.Lines) {
        if (line.Function == Expected.front()) inChain = true;
        if (inChain && line.Module == module) ours.push_back(&line);
        if (line.Function == Expected.back()) break;
    }
    std::vector<std::string> names;
    for (const TTraceLine* line : ours) {
        names.push_back(line->Function);
        EXPECT_EQ(line->Unit, "StackTrace_wintest") << line->Function;
        EXPECT_GT(line->Line, 0) << line->Function;
    }
    EXPECT_EQ(names, Expected);
}

// On x64 the certain frames come from the system unwinder's walk of the captured context (Wine's
// unwinder loses its way at some of GCC's epilogues, so the walk can end early). Every frame of
// this module in it must be in the trace; over all modules the agreement is counted for the log.
struct TAgreement {
    size_t Frames = 0, Found = 0, Beyond = 0;
};
TAgreement Agreement;

void CompareWithUnwinder(const TThreadCapture& capture, const TTraceResult& result) {
    TProcessMemoryReader memory;
    std::vector<uint64_t> calls;
    for (const TUnwoundFrame& frame : capture.Unwound) {
        TX86Instruction call;
        if (!CallBefore(memory, frame.ReturnAddress, ProcessMode, call)) break;
        calls.push_back(call.Address);
    }
    const std::string module = ModuleName();
    for (uint64_t call : calls) {
        bool found = false;
        for (const TTraceLine& line : result.Lines)
            found |= line.Address == call;
        ++Agreement.Frames;
        Agreement.Found += found;
        if (!found) {
            TAddressInfo info = AddressInfo(reinterpret_cast<const void*>(uintptr_t(call)));
            EXPECT_FALSE(info.Valid && info.ModuleName == module)
                << std::hex << call << " " << info.FunctionName;
        }
    }
    for (size_t i = 1; i < result.Lines.size(); ++i)
        Agreement.Beyond += std::find(calls.begin(), calls.end(), result.Lines[i].Address) == calls.end();
}

TEST(StackTrace, OwnThreadThroughEveryKindOfCall) {
    TRun run;
    run.Kind = TKind::Own;
    ChainStart(run);
    Print("own thread", run.Result);
    CheckChain(run.Result);
    ASSERT_FALSE(run.Result.Lines.empty());
    EXPECT_EQ(run.Result.Lines.front().Function, Expected.front()); // the capture starts at its caller
    if (ProcessMode == TX86Mode::Bits64) CompareWithUnwinder(run.Capture, run.Result);
    EXPECT_TRUE(run.Result.HasLines);
}

void TraceOther(TKind kind, const char* title) {
    TRun run;
    run.Kind = kind;
    run.Wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    std::thread worker([&] {
        id = GetCurrentThreadId();
        ChainStart(run);
    });
    while (!run.Reached)
        Sleep(1);
    Sleep(20); // into the wait or the loop
    TThreadCapture capture;
    bool captured = CaptureThread(id, capture);
    TTraceResult result = captured ? TraceCapture(capture, {}) : TTraceResult();
    run.Release = true;
    SetEvent(run.Wake);
    worker.join();
    CloseHandle(run.Wake);
    ASSERT_TRUE(captured);
    Print(title, result);
    CheckChain(result);
    if (ProcessMode == TX86Mode::Bits64) CompareWithUnwinder(capture, result);
}

TEST(StackTrace, ThreadWaitingInsideTheSystem) {
    TraceOther(TKind::Waiting, "waiting thread");
}

TEST(StackTrace, ThreadSpinningInALoop) {
    TraceOther(TKind::Spinning, "spinning thread");
}

TEST(StackTrace, SecondTraceReusesTheAnalyses) {
    TRun run;
    ChainStart(run);
    const size_t functions = ProcessStackTraces().FunctionCount();
    TRun again;
    ChainStart(again);
    EXPECT_EQ(ProcessStackTraces().FunctionCount(), functions);
    CheckChain(again.Result);
    if (ProcessMode == TX86Mode::Bits64)
        std::printf(
            "unwinder agreement: %zu of %zu frames of its walks in the traces; the traces show %zu more "
            "frames\n",
            Agreement.Found, Agreement.Frames, Agreement.Beyond);
}

// The bug report of a thread stopped in the chain, with the real tracer: the thread's section names
// the chain with units and lines, and the checksums tell the same stack from another one.
std::string ReportOf(TKind kind, std::string* crc) {
    TRun run;
    run.Kind = kind;
    run.Wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    std::thread worker([&] {
        id = GetCurrentThreadId();
        ChainStart(run);
    });
    while (!run.Reached)
        Sleep(1);
    Sleep(20);
    TCpuContext context;
    CaptureCurrentProcess(0)->ThreadContext(id, context);
    auto settings = MakeRef<TSettingsOverlay<>>(nullptr);
    settings->WriteText("Plugins", "");
    TReportException e;
    e.ClassName = "EAccessViolation";
    e.Message = "Access violation";
    e.CrashedThreadId = id;
    e.HasContext = true;
    e.Context = context;
    e.Address = e.Context.Ip();
    e.OsException = true;
    auto report = ProcessBugReport(e, settings, GetModuleHandleW(nullptr));
    const std::string text = report->ReportText(true);
    *crc = report->Header()->Contents("callstack crc");
    run.Release = true;
    SetEvent(run.Wake);
    worker.join();
    CloseHandle(run.Wake);
    return text;
}

TEST(StackTrace, ReportSectionsThroughTheTracer) {
    ASSERT_TRUE(TThreadRegistry::Instance().Open());
    std::string crc1, crc2, crc3;
    const std::string text = ReportOf(TKind::Waiting, &crc1);
    ReportOf(TKind::Waiting, &crc2);
    ReportOf(TKind::Spinning, &crc3);
    const size_t section = text.find("\r\n\r\nthread $");
    ASSERT_NE(section, std::string::npos) << text;
    const std::string crashed = text.substr(section, text.find("\r\n\r\n", section + 4) - section);
    std::printf("%s\n", crashed.c_str());
    size_t at = 0;
    for (const std::string& name : Expected) {
        at = crashed.find(" StackTrace_wintest ", at);
        ASSERT_NE(at, std::string::npos) << name << crashed;
        at = crashed.find(name, at);
        ASSERT_NE(at, std::string::npos) << name << crashed;
    }
    EXPECT_EQ(crc1.size(), 31u);
    EXPECT_EQ(crc1.substr(0, 20),
              crc2.substr(0, 20));                   // the same stack (the third takes in the other threads)
    EXPECT_NE(crc1.substr(0, 9), crc3.substr(0, 9)); // waiting and spinning stop in other places
}

} // namespace
