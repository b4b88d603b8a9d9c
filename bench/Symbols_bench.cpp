// Symbol lookup: loading a module's packed symbol data, one AddressInfo, parsing a large text map.
// ZE_SYMBOLS_XUN may name a packed file written by tools/gen_symbols.py --xun (the exe's own
// data); without it a synthetic one of the size of our test exe is used.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "crashreport/symbols/SymbolCache.h"
#include "crashreport/symbols/SymbolData.h"

namespace {

std::vector<uint8_t> SyntheticPacked() {
    TRef<TMapFile> map = MakeRef<TMapFile>();
    uint32_t address = 0x1000;
    for (int u = 0; u < 110; ++u) {
        uint32_t unit = map->AddUnit("Unit" + std::to_string(u));
        uint32_t start = address;
        for (int f = 0; f < 60; ++f) {
            map->AddPublic(address, "TClass" + std::to_string(u) + "::Method" + std::to_string(f));
            for (int l = 0; l < 3; ++l)
                map->AddLine(address + uint32_t(l) * 24, 100 + f * 5 + l, unit);
            address += 80;
        }
        map->AddSegment(start, address - start, unit, TSegmentClass::Code);
    }
    map->Finish();
    return PackSymbolData(*map);
}

std::vector<uint8_t> Packed() {
    static const std::vector<uint8_t> data = [] {
        if (const char* path = std::getenv("ZE_SYMBOLS_XUN")) {
            std::ifstream in(path, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
            if (!bytes.empty()) return bytes;
        }
        return SyntheticPacked();
    }();
    return data;
}

void BM_LoadPackedSymbols(benchmark::State& state) {
    std::vector<uint8_t> packed = Packed();
    size_t publics = 0;
    for (auto _ : state) {
        TRef<TMapFile> map = MakeRef<TMapFile>();
        if (!UnpackSymbolData(packed, *map)) state.SkipWithError("damaged");
        publics = map->Publics().size();
    }
    state.counters["bytes"] = double(packed.size());
    state.counters["publics"] = double(publics);
}
BENCHMARK(BM_LoadPackedSymbols)->Unit(benchmark::kMillisecond);

struct TBenchPlatform : ISymbolPlatform {
    std::vector<uint8_t> Data = Packed();
    bool FindModule(uint64_t address, TSymbolModule& module) override {
        if (address < 0x400000 || address >= 0x800000) return false;
        module.FileName = "C:\\Games\\Zembrak\\LevelEditor.exe";
        module.Base = 0x400000;
        module.Layout.CodeBase = 0x1000;
        module.Layout.CodeTop = 0x300000;
        return true;
    }
    bool ReadEmbedded(const TSymbolModule&, std::vector<uint8_t>& data) override {
        data = Data;
        return true;
    }
    bool ReadWholeFile(const std::string&, size_t, std::vector<uint8_t>&) override { return false; }
};

// Through the cache, as a stack trace asks (the module search itself is the platform's).
void BM_AddressInfo(benchmark::State& state) {
    TBenchPlatform platform;
    TSymbolCache cache(platform);
    TRef<TMapFile> map = cache.SymbolsForAddress(0x401000);
    uint32_t top = map->Publics().empty() ? 0x2000 : map->Publics().back().Address;
    std::mt19937 random(7);
    std::vector<uint64_t> addresses(4096);
    for (uint64_t& a : addresses)
        a = 0x400000 + 0x1000 + random() % (top - 0x1000 + 1);
    size_t i = 0, found = 0;
    for (auto _ : state) {
        TAddressInfo info = cache.AddressInfo(addresses[i++ & 4095]);
        found += info.Line > 0;
        benchmark::DoNotOptimize(info);
    }
    state.counters["with line"] = double(found) / double(state.iterations());
}
BENCHMARK(BM_AddressInfo);

std::string LargeMap(size_t size) {
    std::string text = "\r\n Start         Length     Name                   Class\r\n"
                       " 0001:00401000 00F00000H .text                   CODE\r\n"
                       " 0002:01301000 00001000H .data                   DATA\r\n\r\n"
                       "Detailed map of segments\r\n\r\n";
    char line[160];
    const int units = 2000;
    for (int u = 0; u < units; ++u) {
        std::snprintf(line, sizeof line,
                      " 0001:%08X %08X C=CODE     S=.text    G=(none)   M=Unit%-6d ACBP=A9\r\n", u * 0x1000,
                      0x1000, u);
        text += line;
    }
    text += "\r\n\r\n  Address         Publics by Value\r\n\r\n";
    size_t publicsEnd = size / 2;
    for (uint32_t a = 0; text.size() < publicsEnd; a += 0x40) {
        std::snprintf(line, sizeof line, " 0001:%08X       Unit%u.TSomeClass.SomeMethod%u\r\n", a, a >> 12,
                      a);
        text += line;
    }
    for (int u = 0; u < units && text.size() < size; ++u) {
        std::snprintf(line, sizeof line, "\r\nLine numbers for Unit%d(Unit%d.pas) segment .text\r\n\r\n", u,
                      u);
        text += line;
        for (int l = 0; l < 256; l += 4) {
            for (int k = 0; k < 4; ++k) {
                std::snprintf(line, sizeof line, "%6d 0001:%08X", 10 + l + k, u * 0x1000 + (l + k) * 16);
                text += line;
            }
            text += "\r\n";
        }
    }
    return text;
}

void BM_ParseTextMap10MB(benchmark::State& state) {
    std::string text = LargeMap(10 << 20);
    size_t publics = 0;
    for (auto _ : state) {
        TRef<TMapFile> map = MakeRef<TMapFile>();
        map->CodeBase = 0x1000;
        ReadTextMap(text, *map);
        publics = map->Publics().size();
    }
    state.counters["MB"] = double(text.size()) / (1 << 20);
    state.counters["publics"] = double(publics);
}
BENCHMARK(BM_ParseTextMap10MB)->Unit(benchmark::kMillisecond);

} // namespace
