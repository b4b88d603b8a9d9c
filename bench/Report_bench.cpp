// The bug report over a made-up process of 10 threads with 40 frames each: composing the header,
// composing and completing the whole report with a tracer that answers at once, and rendering
// the complete report (cached and anew).
#include <benchmark/benchmark.h>

#include "crashreport/report/BugReport.h"
#include "tests/crashreport/report/ReportFakes.h"

namespace {

struct TBenchProcess {
    TRef<TFakeFacts> Facts = MakeRef<TFakeFacts>();
    TRef<TFakeProcess> Process = MakeRef<TFakeProcess>();
    TRef<TFakeThreadNames> Names = MakeRef<TFakeThreadNames>();
    TRef<TFakeTracer> Tracer = MakeRef<TFakeTracer>();
    TRef<TSettingsOverlay<>> Settings = MakeRef<TSettingsOverlay<>>(nullptr);
    TPluginRegistry Plugins;

    TBenchProcess() {
        Settings->WriteBool("ShowDisAsm", false);
        Settings->WriteText("Plugins", "modules");
        std::string modules;
        for (int i = 0; i < 60; ++i)
            modules += "C:\\Windows\\system32\\module" + std::to_string(i) + ".dll  6.1.7601.17514\r\n";
        Plugins.Register({"modules", "", [modules] { return modules; }, true});
        for (uint32_t t = 0; t < 10; ++t) {
            const uint32_t id = 0x100 + t * 4;
            Process->Add(id, 0x00401000 + t, 0x12F000 + t * 0x100);
            Names->Entries[id] = {t == 0 ? "main thread" : "", t % 2 ? "TWorkerThread" : "", 0, 0};
            std::vector<TStackLine> lines;
            for (int f = 0; f < 40; ++f)
                lines.push_back(Item(0x00401000 + uint64_t(f) * 0x40 + t, 0x00401000 + uint64_t(f) * 0x40,
                                     "LevelEditor.exe", f % 3 ? "Unit1" : "Controls", 100 + f, f % 7,
                                     "TForm1.SomeHandlerNumber" + std::to_string(f)));
            Tracer->Traces[id].Lines = lines;
        }
    }
    TRef<TBugReport> Make() {
        TReportException e;
        e.ClassName = "EAccessViolation";
        e.Message = "Access violation at address 00401000. Read of address 00000000";
        e.Address = 0x00401000;
        e.CrashedThreadId = 0x100;
        e.HasContext = true;
        e.Context.Regs[TCpuContext::RegSp] = 0x12FE00;
        TReportSources s;
        s.Settings = Settings;
        s.Facts = Facts;
        s.Process = Process;
        s.Tracer = Tracer;
        s.ThreadNames = Names;
        s.Plugins = &Plugins;
        return MakeRef<TBugReport>(e, s);
    }
};

void BM_ReportHeader(benchmark::State& state) {
    TBenchProcess p;
    for (auto _ : state)
        benchmark::DoNotOptimize(p.Make()->Header()->ItemCount());
}
BENCHMARK(BM_ReportHeader)->Unit(benchmark::kMicrosecond);

void BM_ReportComposeAndComplete(benchmark::State& state) {
    TBenchProcess p;
    for (auto _ : state) {
        auto report = p.Make();
        report->RunCompletion();
        benchmark::DoNotOptimize(report->IsComplete());
    }
}
BENCHMARK(BM_ReportComposeAndComplete)->Unit(benchmark::kMicrosecond);

void BM_ReportRender(benchmark::State& state) {
    TBenchProcess p;
    auto report = p.Make();
    report->RunCompletion();
    size_t size = 0;
    for (auto _ : state) {
        size = RenderReport(*report->Header(), *report->Sections()).size();
        benchmark::DoNotOptimize(size);
    }
    state.counters["bytes"] = double(size);
}
BENCHMARK(BM_ReportRender)->Unit(benchmark::kMicrosecond);

void BM_ReportTextCached(benchmark::State& state) {
    TBenchProcess p;
    auto report = p.Make();
    report->RunCompletion();
    for (auto _ : state)
        benchmark::DoNotOptimize(report->ReportText(true).size());
}
BENCHMARK(BM_ReportTextCached)->Unit(benchmark::kMicrosecond);

} // namespace
