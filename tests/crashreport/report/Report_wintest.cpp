// A real report of this test program: its header checked against what the system says through
// other calls, its threads (one named through the registry, one waiting, one spinning), the
// spinning thread's registers, stack dump and disassembly, and a report asked for while its
// completion runs on a thread of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "crashreport/base/ModulesWin32.h"
#include "crashreport/base/Text.h"
#include "crashreport/report/ReportWin32.h"
#include "crashreport/stacktrace/ReportTracerWin32.h"
#include "crashreport/threads/ThreadRegistryWin32.h"
#include "tests/support/WinTestSupport.h"

namespace {

std::atomic<bool> Stop{false}, Spinning{false};

DWORD WINAPI SpinProc(void*) {
    Spinning = true;
    while (!Stop.load(std::memory_order_relaxed)) {
    }
    return 0;
}

DWORD WINAPI WaitProc(void* event) {
    ::WaitForSingleObject(event, INFINITE);
    return 0;
}

// A tracer that knows no symbols: one line for where the thread is, the spinning function as the
// exception's function, and a pause per trace so a report can be asked for while it runs.
class TTrivialTracer : public TRefCountedImpl<IStackTracer> {
public:
    uint64_t Function = 0;
    DWORD Pause = 0;
    std::vector<uint8_t> PrepareStack(const TThreadStackRecord&) override { return {}; }
    TStackTrace TraceStack(const TThreadStackRecord& t, const TTraceOptions&, const std::atomic<bool>&,
                           const std::function<void(int)>& progress) override {
        for (int i = 1; i <= 4; ++i) {
            ::Sleep(Pause / 4);
            progress(i * 250);
        }
        TStackTrace trace;
        trace.Lines.push_back(Locate(t.CurrentAddress));
        if (t.CreatorAddress) trace.Lines.push_back(Locate(t.CreatorAddress));
        trace.ExceptionFunction = Function;
        trace.ExceptionFunctionKnown = Function != 0;
        return trace;
    }
    TStackLine Locate(uint64_t address) override {
        TStackLine l;
        l.Address = address;
        HMODULE m = ModuleOfAddress(reinterpret_cast<const void*>(uintptr_t(address)));
        l.Module = m ? std::string(ExtractFileName(Narrow(ModulePath(m)))) : "???";
        return l;
    }
    const ISymbolResolver* Symbols() override { return nullptr; }
    const ILineSource* Lines() override { return nullptr; }

    static std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }
};

struct TThreads {
    TKernelHandle Event{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    DWORD SpinId = 0, WaitId = 0, NamedId = 0;
    TKernelHandle Spin, Wait, Named;
    TThreads() {
        Stop = false;
        Spinning = false;
        Spin.Reset(::CreateThread(nullptr, 0, SpinProc, nullptr, 0, &SpinId));
        Wait.Reset(::CreateThread(nullptr, 0, WaitProc, Event.Get(), 0, &WaitId));
        Named.Reset(::CreateThread(nullptr, 0, WaitProc, Event.Get(), 0, &NamedId));
        TThreadRegistry::Instance().SetName(NamedId, "loader");
        TThreadRegistry::Instance().SetCreator(NamedId, ::GetCurrentThreadId(), 0x401234, "");
        while (!Spinning)
            ::Sleep(1);
    }
    ~TThreads() {
        Stop = true;
        ::SetEvent(Event.Get());
        HANDLE all[] = {Spin.Get(), Wait.Get(), Named.Get()};
        ::WaitForMultipleObjects(3, all, TRUE, 10000);
        TThreadRegistry::Instance().Remove(NamedId);
    }
    // The spinning thread's registers, fetched directly.
    CONTEXT SpinContext() {
        CONTEXT c{};
        c.ContextFlags = CONTEXT_FULL;
        ::SuspendThread(Spin.Get());
        ::GetThreadContext(Spin.Get(), &c);
        ::ResumeThread(Spin.Get());
        return c;
    }
};

#ifdef _WIN64
constexpr int Digits = 16;
uint64_t Ip(const CONTEXT& c) {
    return c.Rip;
}
uint64_t Sp(const CONTEXT& c) {
    return c.Rsp;
}
#else
constexpr int Digits = 8;
uint64_t Ip(const CONTEXT& c) {
    return c.Eip;
}
uint64_t Sp(const CONTEXT& c) {
    return c.Esp;
}
#endif

TRef<TBugReport> MakeReport(TThreads& threads, const CONTEXT& context, TRef<TTrivialTracer> tracer) {
    auto settings = MakeRef<TSettingsOverlay<>>(nullptr);
    settings->WriteText("Plugins", "");
    settings->WriteInt("LimitDisAsm", 0);
    TReportException e;
    e.ClassName = "EAccessViolation";
    e.Message = "Access violation";
    e.CrashedThreadId = threads.SpinId;
    e.Address = Ip(context);
    e.HasContext = true;
    e.Context = CpuContextOf(context);
    e.OsException = true;
    return ProcessBugReport(e, settings, ::GetModuleHandleW(nullptr), {}, tracer);
}

std::string Line(const std::string& text, const std::string& start) {
    size_t at = text.find("\r\n" + start);
    if (at == std::string::npos) return {};
    at += 2;
    return text.substr(at, text.find("\r\n", at) - at);
}

} // namespace

TEST(Report, RealReportOfThisProcess) {
    ASSERT_TRUE(TThreadRegistry::Instance().Open());
    TThreads threads;
    const CONTEXT context = threads.SpinContext();
    auto tracer = MakeRef<TTrivialTracer>();
    tracer->Function = reinterpret_cast<uintptr_t>(&SpinProc);
    auto report = MakeReport(threads, context, tracer);
    // The spinning thread's stack does not move: what is there now is what the dump shows.
    uint8_t top[16];
    std::memcpy(top, reinterpret_cast<const void*>(uintptr_t(Sp(context))), 16);
    const std::string text = report->ReportText(true);
    SCOPED_TRACE(text);

    // The header against other sources.
    auto header = report->Header();
    EXPECT_EQ(header->Contents("process id"), "$" + Hex(::GetCurrentProcessId()));
    char exe[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    EXPECT_EQ(header->Contents("executable"), std::string(ExtractFileName(std::string(exe))));
    HDC screen = ::GetDC(nullptr);
    EXPECT_EQ(header->Contents("display mode"), std::to_string(::GetSystemMetrics(SM_CXSCREEN)) + "x" +
                                                    std::to_string(::GetSystemMetrics(SM_CYSCREEN)) + ", " +
                                                    std::to_string(::GetDeviceCaps(screen, BITSPIXEL)) +
                                                    " bit");
    ::ReleaseDC(nullptr, screen);
    EXPECT_EQ(header->Contents("command line"), TrimField(::GetCommandLineA())); // gtest flags are parameters
    for (const char* name : {"date/time", "computer name", "user name", "operating system", "system language",
                             "system up time", "program up time", "physical memory", "free disk space",
                             "allocated memory", "exec. date/time", "compiled with", "callstack crc"})
        EXPECT_FALSE(header->Contents(name).empty()) << name;
    EXPECT_TRUE(header->IndexOf("processor") >= 0 || header->IndexOf("processors") >= 0);
    EXPECT_NE(header->Contents("operating system").find(" build "), std::string::npos);
    EXPECT_EQ(header->Contents("xunExcept version"), "3.0h");
    EXPECT_EQ(header->Contents("exception message"), "Access violation.");

    // Threads: the spinning one first, the main thread next, the named one by its name.
    auto sections = report->Sections();
    EXPECT_EQ(sections->ItemName(0), "thread $" + Hex(threads.SpinId) + ":");
    EXPECT_EQ(sections->ItemName(1),
              "main thread ($" + Hex(TThreadRegistry::Instance().MainThreadId()) + "):");
    EXPECT_GE(sections->IndexOf("thread $" + Hex(threads.WaitId) + ":"), 2);
    const std::string named = "loader ($" + Hex(threads.NamedId) + "):";
    EXPECT_GE(sections->IndexOf(named), 2);
    EXPECT_NE(sections->Contents(named).find(">> created by main thread ($"), std::string::npos);
    EXPECT_EQ(sections->Contents("thread $" + Hex(threads.SpinId) + ":").substr(0, Digits),
              Hex(Ip(context), Digits));

    // Registers and the stack dump as the captured context has them.
    const char* ipName = Digits == 16 ? "rip = " : "eip = ";
    const char* spName = Digits == 16 ? "rsp = " : "esp = ";
    EXPECT_EQ(Line(text, ipName), ipName + Hex(Ip(context), Digits));
    EXPECT_EQ(Line(text, spName), spName + Hex(Sp(context), Digits));
    std::string dump = Hex(Sp(context), Digits) + "  ";
    for (int i = 0; i < 16; ++i)
        dump += (i == 8 ? "- " : "") + Hex(top[i], 2) + " ";
    EXPECT_EQ(Line(text, Hex(Sp(context), Digits) + "  ").substr(0, dump.size() - 1),
              dump.substr(0, dump.size() - 1));

    // The disassembly of the spinning function marks the instruction the thread was at.
    const std::string listing = sections->Contents("disassembling");
    EXPECT_EQ(listing.substr(0, listing.find("\r\n")),
              Hex(tracer->Function, Digits) + " sub_" + Hex(tracer->Function));
    std::vector<std::string> marked;
    for (size_t at = 0; at < listing.size();) {
        size_t end = std::min(listing.find("\r\n", at), listing.size());
        const std::string line = listing.substr(at, end - at);
        if (line.size() > size_t(Digits) + 1 && line[size_t(Digits) + 1] == '>') marked.push_back(line);
        at = end + 2;
    }
    ASSERT_EQ(marked.size(), 1u) << listing;
    EXPECT_EQ(marked[0].substr(0, size_t(Digits)), Hex(Ip(context), Digits));
}

TEST(Report, RequestedWhileCompletionRunsInTheBackground) {
    ASSERT_TRUE(TThreadRegistry::Instance().Open());
    TThreads threads;
    const CONTEXT context = threads.SpinContext();
    auto tracer = MakeRef<TTrivialTracer>();
    tracer->Pause = 300;
    auto report = MakeReport(threads, context, tracer);
    auto alert = CreateProgressAlert("Information", ::GetModuleHandleW(nullptr), "NOPICTURE");
    auto runner = MakeRef<TWin32CompletionRunner>(alert, true, true);
    report->SetRunner(runner);
    std::atomic<int> completions{0};
    report->SetOnComplete([&] { ++completions; });
    report->Sections(); // starts the completion thread
    ASSERT_TRUE(runner->Thread());
    EXPECT_EQ(::GetThreadPriority(runner->Thread()), THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_FALSE(report->IsComplete());
    const std::string pending = report->ReportText(false);
    EXPECT_NE(pending.find("will be calculated soon"), std::string::npos);

    // The please-wait window shows while the caller waits; take its picture from another thread.
    std::thread shooter([] {
        for (int i = 0; i < 200; ++i) {
            HWND w = ::FindWindowW(L"prgrAlertWndClass", nullptr);
            if (w && ::IsWindowVisible(w)) {
                ::Sleep(300); // the waiting thread paints it every 50 ms
                Screenshot(w, "report-please-wait");
                return;
            }
            ::Sleep(10);
        }
    });
    const std::string complete = report->ReportText(true);
    shooter.join();
    EXPECT_TRUE(report->IsComplete());
    EXPECT_EQ(completions.load(), 1);
    EXPECT_EQ(complete.find("will be calculated soon"), std::string::npos);
    EXPECT_EQ(report->ReportText(true), complete);
    EXPECT_EQ(::FindWindowW(L"prgrAlertWndClass", nullptr), nullptr);
}
