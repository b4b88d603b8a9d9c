// Base64 of attachment data: the mail sends every attachment through it, 57 bytes per line.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "crashreport/delivery/mime/Base64.h"

namespace {

std::vector<uint8_t> Noise(size_t size) {
    std::vector<uint8_t> data(size);
    uint32_t seed = 3;
    for (uint8_t& b : data)
        b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    return data;
}

void BM_Base64Block(benchmark::State& state) {
    const std::vector<uint8_t> data = Noise(size_t(state.range(0)));
    std::string out;
    for (auto _ : state) {
        out.clear();
        AppendBase64(out, data.data(), data.size());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_Base64Block)->Arg(57)->Arg(14592)->Arg(1 << 20);

// As the mail composer does it: one call per 57-byte line plus its line end.
void BM_Base64Lines(benchmark::State& state) {
    const std::vector<uint8_t> data = Noise(57 * 256);
    std::string out;
    for (auto _ : state) {
        out.clear();
        for (size_t i = 0; i < data.size(); i += 57) {
            AppendBase64(out, data.data() + i, 57);
            out += "\r\n";
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_Base64Lines);

} // namespace
