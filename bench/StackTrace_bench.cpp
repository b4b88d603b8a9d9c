// Stack traces over the real code of the shipped exe (build/win32/editor/LevelEditor.exe, or the
// 64-bit one), mapped as the loader would: a 40-frame chain found in its code, with stale frames
// between, traced with empty caches (symbol data, modules, analyses) and with filled ones.
#include <benchmark/benchmark.h>

#include "tests/crashreport/stacktrace/ExeImage.h"

namespace {

struct TFixture {
    TExeImage Exe;
    TImageChain Chain;
    bool Ready = false;
    explicit TFixture(const char* build) {
        if (!Exe.Load(std::string(ZE_SOURCE_DIR "/build/") + build + "/editor/LevelEditor.exe")) return;
        TSymbolCache symbols(Exe);
        TRef<TMapFile> map = symbols.SymbolsForAddress(Exe.Base + Exe.Layout.CodeBase);
        // The deepest chain up to 21 functions that the search finds.
        for (size_t depth = 20; map && map->Valid && !Ready && depth >= 10; --depth)
            Ready = FindImageChain(Exe, *map, depth, Chain);
    }
};

void BM_Trace(benchmark::State& state, const char* build, bool warm) {
    static TFixture win32("win32"), win64("win64");
    TFixture& f = std::string(build) == "win32" ? win32 : win64;
    if (!f.Ready) {
        state.SkipWithError("no exe with symbol data in build/");
        return;
    }
    TImageProcess process(f.Exe, f.Chain);
    TSymbolCache symbols(f.Exe);
    TStackTraceCache cache(f.Exe, symbols, f.Exe.Base);
    if (warm) process.Trace(cache, f.Chain.Top);
    size_t lines = 0;
    for (auto _ : state) {
        if (!warm) {
            state.PauseTiming();
            symbols.Clear();
            cache.Clear();
            state.ResumeTiming();
        }
        lines = process.Trace(cache, f.Chain.Top).Lines.size();
    }
    state.counters["frames"] = double(lines);
    state.counters["stack_values"] = double(f.Chain.Stack.size());
}

BENCHMARK_CAPTURE(BM_Trace, win32_cold, "win32", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Trace, win32_warm, "win32", true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Trace, win64_cold, "win64", false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Trace, win64_warm, "win64", true)->Unit(benchmark::kMillisecond);

} // namespace
