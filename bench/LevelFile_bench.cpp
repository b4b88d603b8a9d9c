// The largest level the format holds: 223 x 223 cells with a stone on every one.
#include "framework/Controls.h"
#include "level/Level.h"
#include "level/LevelFile.h"
#include "level/LevelStone.h"

#include <benchmark/benchmark.h>

namespace {

class TBenchCanvas : public TControl {
public:
    TGraphicList Children;
    void InsertGraphic(TGraphicControl* c) override { Children.Insert(c); }
    void RemoveGraphic(TGraphicControl* c) override { Children.Remove(c); }
};

constexpr int32_t Side = 223;
constexpr int32_t MixedTypes[] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 12, 13, 15, 17};

TLevelReader::StoneFactory Factory(TBenchCanvas& canvas) {
    return [&canvas](TLevel& level) {
        auto* s = new TLevelStone(level);
        s->SetParent(&canvas);
        return s;
    };
}

void FillFull(TLevel& level, TBenchCanvas& canvas) {
    level.LevelWidth = Side;
    level.LevelHeight = Side;
    auto make = Factory(canvas);
    level.Stones.reserve(size_t{Side} * Side);
    for (int32_t y = 0; y < Side; ++y)
        for (int32_t x = 0; x < Side; ++x) {
            TLevelStone* s = make(level);
            s->SetStoneNr(MixedTypes[(x + y * Side) % std::size(MixedTypes)]);
            s->SetPosition(x, y);
            s->Golds = (x == 0) ? 1 : 0; // keeps ContentIndex within two bytes
            s->SchalterTarget = x;
            level.Stones.push_back(s);
        }
    ComputeContentIndexes(level);
}

void BM_EncodeFullLevel(benchmark::State& state) {
    TBenchCanvas canvas;
    TLevel level;
    FillFull(level, canvas);
    size_t bytes = 0;
    for (auto _ : state) {
        ComputeContentIndexes(level);
        if (CheckLevelRanges(level)) state.SkipWithError("range");
        auto out = EncodeLevel(level);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["stones"] = static_cast<double>(level.Stones.size());
}
BENCHMARK(BM_EncodeFullLevel)->Unit(benchmark::kMillisecond);

void BM_DecodeFullLevel(benchmark::State& state) {
    TBenchCanvas canvas;
    std::vector<uint8_t> file;
    {
        TLevel level;
        FillFull(level, canvas);
        file = EncodeLevel(level);
    }
    for (auto _ : state) {
        TLevel level;
        DecodeLevel(level, file.data(), file.size(), Factory(canvas));
        state.PauseTiming();
        level.Clear();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_DecodeFullLevel)->Unit(benchmark::kMillisecond);

void BM_ClearFullLevel(benchmark::State& state) {
    TBenchCanvas canvas;
    for (auto _ : state) {
        state.PauseTiming();
        TLevel level;
        FillFull(level, canvas);
        state.ResumeTiming();
        level.Clear();
    }
}
BENCHMARK(BM_ClearFullLevel)->Unit(benchmark::kMillisecond);

} // namespace
