// The ZIP writer on ~10 MB of report-like input (read from disk, deflated, written) against
// zlib's own raw deflate of the same bytes in memory; the writer should stay within 1.1x.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <string>

#include "crashreport/base/FileAccessPosix.h"
#include "crashreport/delivery/zip/ZipWriter.h"
#include "tests/crashreport/bitmap/ExternalTools.h"

namespace {

using namespace ExternalTools;

const std::vector<uint8_t>& Input() {
    static const std::vector<uint8_t> data = [] {
        std::string s;
        uint32_t seed = 11;
        while (s.size() < 10u << 20) {
            seed = seed * 1664525u + 1013904223u;
            char line[160];
            std::snprintf(line, sizeof line,
                          "%08X  %08X %08X  LevelEditor.exe  Unit1.cpp  %5u  TForm1.Canvas%u\r\n", seed,
                          seed ^ 0x5A5A5A5A, seed >> 3, (seed >> 7) % 5000, (seed >> 20) % 97);
            s += line;
        }
        return std::vector<uint8_t>(s.begin(), s.end());
    }();
    return data;
}

void BM_ZipWriter10MB(benchmark::State& state) {
    TTempDir dir;
    WriteBytes(dir / "report.txt", Input());
    TPosixFileAccess fs;
    for (auto _ : state)
        if (!WriteZipArchive(fs, dir / "out.zip", {dir / "report.txt"}, {"BugReport.txt"}))
            state.SkipWithError("zip failed");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Input().size()));
}
BENCHMARK(BM_ZipWriter10MB)->Unit(benchmark::kMillisecond);

void BM_ZlibDeflate10MB(benchmark::State& state) {
    const auto& in = Input();
    std::vector<uint8_t> out(in.size() + in.size() / 10 + 64);
    for (auto _ : state) {
        z_stream zs{};
        deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        zs.next_in = const_cast<Bytef*>(in.data());
        zs.avail_in = uInt(in.size());
        zs.next_out = out.data();
        zs.avail_out = uInt(out.size());
        deflate(&zs, Z_FINISH);
        deflateEnd(&zs);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}
BENCHMARK(BM_ZlibDeflate10MB)->Unit(benchmark::kMillisecond);

} // namespace
