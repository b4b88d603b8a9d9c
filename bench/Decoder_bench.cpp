// Decoding throughput over the code of Wine's i386 kernel32, user32 and ntdll: our decoder
// (length and target only; with text) and, when their libraries are installed, Capstone, Zydis
// and diStorm in the same run. The other decoders are loaded at run time, so the bench builds
// without them.
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crashreport/x86/Decoder.h"
#include "crashreport/x86/Disassembler.h"

#if __has_include(<capstone/capstone.h>)
#include <capstone/capstone.h>
#define ZE_HAVE_CAPSTONE 1
#endif
#if __has_include(<Zydis/Zydis.h>)
#include <Zydis/Zydis.h>
#define ZE_HAVE_ZYDIS 1
#endif
#if __has_include(<distorm3/distorm.h>)
#include <distorm3/distorm.h>
#define ZE_HAVE_DISTORM 1
#endif

namespace {

struct TSection {
    uint32_t Address;
    std::vector<uint8_t> Bytes;
};

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    if (at + 4 > b.size()) return 0;
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void LoadCode(const std::string& path, std::vector<TSection>& out) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const uint32_t pe = Get32(f, 0x3C);
    if (f.size() < 0x40 || Get32(f, pe) != 0x4550) return;
    const unsigned sections = f[pe + 6] | f[pe + 7] << 8, optSize = f[pe + 20] | f[pe + 21] << 8;
    const uint32_t imageBase = Get32(f, pe + 24 + 28);
    for (unsigned i = 0; i < sections; ++i) {
        const size_t sh = pe + 24 + optSize + i * 40;
        if (sh + 40 > f.size() || !(Get32(f, sh + 36) & 0x20)) continue;
        const uint32_t va = Get32(f, sh + 12), raw = Get32(f, sh + 20);
        uint32_t size = std::min(Get32(f, sh + 8), Get32(f, sh + 16));
        if (raw >= f.size()) continue;
        size = uint32_t(std::min<size_t>(size, f.size() - raw));
        out.push_back({imageBase + va, std::vector<uint8_t>(f.begin() + raw, f.begin() + raw + size)});
    }
}

const std::vector<TSection>& Code() {
    static const std::vector<TSection> code = [] {
        std::vector<TSection> c;
        for (const char* dll : {"kernel32.dll", "user32.dll", "ntdll.dll"})
            LoadCode(std::string("/usr/lib/i386-linux-gnu/wine/i386-windows/") + dll, c);
        return c;
    }();
    return code;
}

size_t TotalBytes() {
    size_t n = 0;
    for (const TSection& s : Code())
        n += s.Bytes.size();
    return n;
}

void Finish(benchmark::State& state, size_t instructions) {
    state.SetBytesProcessed(int64_t(state.iterations() * TotalBytes()));
    state.counters["instructions"] = double(instructions);
}

void BM_Ours_LengthAndTarget(benchmark::State& state) {
    if (Code().empty()) return state.SkipWithError("Wine's i386 DLLs not installed");
    size_t count = 0;
    for (auto _ : state) {
        count = 0;
        uint32_t sum = 0;
        for (const TSection& s : Code()) {
            const uint8_t* p = s.Bytes.data();
            const size_t n = s.Bytes.size();
            TX86Instruction ins;
            for (size_t pos = 0; pos < n; pos += ins.Length, ++count) {
                DecodeX86(p + pos, n - pos, s.Address + uint32_t(pos), ins);
                sum += ins.Target;
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    Finish(state, count);
}
BENCHMARK(BM_Ours_LengthAndTarget)->Unit(benchmark::kMillisecond);

void BM_Ours_Text(benchmark::State& state) {
    if (Code().empty()) return state.SkipWithError("Wine's i386 DLLs not installed");
    size_t count = 0;
    char text[X86TextMax];
    for (auto _ : state) {
        count = 0;
        size_t chars = 0;
        for (const TSection& s : Code()) {
            const uint8_t* p = s.Bytes.data();
            const size_t n = s.Bytes.size();
            TX86Instruction ins;
            for (size_t pos = 0; pos < n; pos += ins.Length, ++count) {
                DecodeX86(p + pos, n - pos, s.Address + uint32_t(pos), ins);
                chars += FormatX86(ins, text, sizeof text);
            }
        }
        benchmark::DoNotOptimize(chars);
    }
    Finish(state, count);
}
BENCHMARK(BM_Ours_Text)->Unit(benchmark::kMillisecond);

template <typename F> F Symbol(const char* library, const char* name) {
    void* lib = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    return lib ? reinterpret_cast<F>(dlsym(lib, name)) : nullptr;
}

#ifdef ZE_HAVE_DISTORM
void BM_DiStorm_DecodeOnly(benchmark::State& state) {
    auto decompose = Symbol<decltype(&distorm_decompose64)>("libdistorm3.so.3", "distorm_decompose64");
    if (!decompose || Code().empty()) return state.SkipWithError("diStorm not available");
    std::vector<_DInst> out(4096);
    size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (const TSection& s : Code()) {
            _CodeInfo ci{};
            ci.codeOffset = s.Address;
            ci.code = s.Bytes.data();
            ci.codeLen = int(s.Bytes.size());
            ci.dt = Decode32Bits;
            ci.features = DF_NONE;
            for (;;) {
                unsigned used = 0;
                const _DecodeResult r = decompose(&ci, out.data(), unsigned(out.size()), &used);
                count += used;
                if (r != DECRES_MEMORYERR || used == 0) break;
                const _DInst& last = out[used - 1];
                const uint64_t next = last.addr + last.size - ci.codeOffset;
                ci.code += next;
                ci.codeLen -= int(next);
                ci.codeOffset += next;
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    Finish(state, count);
}
BENCHMARK(BM_DiStorm_DecodeOnly)->Unit(benchmark::kMillisecond);

void BM_DiStorm_DecodeAndFormat(benchmark::State& state) {
    auto decode = Symbol<decltype(&distorm_decode64)>("libdistorm3.so.3", "distorm_decode64");
    if (!decode || Code().empty()) return state.SkipWithError("diStorm not available");
    std::vector<_DecodedInst> out(4096);
    size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (const TSection& s : Code()) {
            _OffsetType offset = s.Address;
            const unsigned char* p = s.Bytes.data();
            int len = int(s.Bytes.size());
            for (;;) {
                unsigned used = 0;
                const _DecodeResult r =
                    decode(offset, p, len, Decode32Bits, out.data(), unsigned(out.size()), &used);
                count += used;
                if (r != DECRES_MEMORYERR || used == 0) break;
                const _DecodedInst& last = out[used - 1];
                const uint64_t next = last.offset + last.size - offset;
                p += next;
                len -= int(next);
                offset += next;
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    Finish(state, count);
}
BENCHMARK(BM_DiStorm_DecodeAndFormat)->Unit(benchmark::kMillisecond);
#endif

#ifdef ZE_HAVE_ZYDIS
void BM_Zydis_DecodeOnly(benchmark::State& state) {
    auto init = Symbol<decltype(&ZydisDecoderInit)>("libZydis.so.4.0", "ZydisDecoderInit");
    auto decodeIns =
        Symbol<decltype(&ZydisDecoderDecodeInstruction)>("libZydis.so.4.0", "ZydisDecoderDecodeInstruction");
    if (!init || !decodeIns || Code().empty()) return state.SkipWithError("Zydis not available");
    ZydisDecoder decoder;
    init(&decoder, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
    size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (const TSection& s : Code()) {
            ZydisDecodedInstruction ins;
            ZydisDecoderContext ctx;
            for (size_t pos = 0; pos < s.Bytes.size(); ++count) {
                const ZyanStatus st =
                    decodeIns(&decoder, &ctx, s.Bytes.data() + pos, s.Bytes.size() - pos, &ins);
                pos += ZYAN_SUCCESS(st) ? ins.length : 1;
            }
        }
    }
    Finish(state, count);
}
BENCHMARK(BM_Zydis_DecodeOnly)->Unit(benchmark::kMillisecond);

void BM_Zydis_DecodeAndFormat(benchmark::State& state) {
    auto init = Symbol<decltype(&ZydisDecoderInit)>("libZydis.so.4.0", "ZydisDecoderInit");
    auto full = Symbol<decltype(&ZydisDecoderDecodeFull)>("libZydis.so.4.0", "ZydisDecoderDecodeFull");
    auto fmtInit = Symbol<decltype(&ZydisFormatterInit)>("libZydis.so.4.0", "ZydisFormatterInit");
    auto format = Symbol<decltype(&ZydisFormatterFormatInstruction)>("libZydis.so.4.0",
                                                                     "ZydisFormatterFormatInstruction");
    if (!init || !full || !fmtInit || !format || Code().empty())
        return state.SkipWithError("Zydis not available");
    ZydisDecoder decoder;
    init(&decoder, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
    ZydisFormatter formatter;
    fmtInit(&formatter, ZYDIS_FORMATTER_STYLE_INTEL);
    char text[256];
    size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (const TSection& s : Code()) {
            ZydisDecodedInstruction ins;
            ZydisDecodedOperand ops[ZYDIS_MAX_OPERAND_COUNT];
            for (size_t pos = 0; pos < s.Bytes.size(); ++count) {
                if (ZYAN_SUCCESS(full(&decoder, s.Bytes.data() + pos, s.Bytes.size() - pos, &ins, ops))) {
                    format(&formatter, &ins, ops, ins.operand_count_visible, text, sizeof text,
                           s.Address + pos, nullptr);
                    pos += ins.length;
                } else {
                    ++pos;
                }
            }
        }
        benchmark::DoNotOptimize(text);
    }
    Finish(state, count);
}
BENCHMARK(BM_Zydis_DecodeAndFormat)->Unit(benchmark::kMillisecond);
#endif

#ifdef ZE_HAVE_CAPSTONE
void BM_Capstone_DecodeAndFormat(benchmark::State& state) {
    auto open = Symbol<decltype(&cs_open)>("libcapstone.so.4", "cs_open");
    auto alloc = Symbol<decltype(&cs_malloc)>("libcapstone.so.4", "cs_malloc");
    auto iter = Symbol<decltype(&cs_disasm_iter)>("libcapstone.so.4", "cs_disasm_iter");
    auto freeIns = Symbol<decltype(&cs_free)>("libcapstone.so.4", "cs_free");
    auto close = Symbol<decltype(&cs_close)>("libcapstone.so.4", "cs_close");
    csh handle;
    if (!open || !alloc || !iter || Code().empty() || open(CS_ARCH_X86, CS_MODE_32, &handle) != CS_ERR_OK)
        return state.SkipWithError("Capstone not available");
    cs_insn* insn = alloc(handle);
    size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (const TSection& s : Code()) {
            const uint8_t* p = s.Bytes.data();
            size_t size = s.Bytes.size();
            uint64_t address = s.Address;
            while (size) {
                if (iter(handle, &p, &size, &address, insn)) {
                    ++count;
                } else {
                    ++p, --size, ++address, ++count; // skip an undecodable byte
                }
            }
        }
    }
    Finish(state, count);
    freeIns(insn, 1);
    close(&handle);
}
BENCHMARK(BM_Capstone_DecodeAndFormat)->Unit(benchmark::kMillisecond);
#endif

} // namespace
