// Decoding throughput over the code of Wine's kernel32, user32 and ntdll, the i386 DLLs in 32-bit
// mode (/32) and the x86-64 DLLs in 64-bit mode (/64): our decoder (length and target only; with
// text) and, when their libraries are installed, Capstone, Zydis and diStorm in the same run. The
// other decoders are loaded at run time, so the bench builds without them.
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
    uint64_t Address;
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
    const bool x64 = (f[pe + 24] | f[pe + 25] << 8) == 0x20B;
    const uint64_t imageBase =
        x64 ? Get32(f, pe + 24 + 24) | uint64_t(Get32(f, pe + 24 + 28)) << 32 : Get32(f, pe + 24 + 28);
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

const std::vector<TSection>& Code(TX86Mode mode) {
    auto load = [](const char* dir) {
        std::vector<TSection> c;
        for (const char* dll : {"kernel32.dll", "user32.dll", "ntdll.dll"})
            LoadCode(std::string(dir) + dll, c);
        return c;
    };
    static const std::vector<TSection> code32 = load("/usr/lib/i386-linux-gnu/wine/i386-windows/");
    static const std::vector<TSection> code64 = load("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/");
    return mode == TX86Mode::Bits64 ? code64 : code32;
}

const char* Missing(TX86Mode mode) {
    return mode == TX86Mode::Bits64 ? "Wine's x86-64 DLLs not installed" : "Wine's i386 DLLs not installed";
}

size_t TotalBytes(TX86Mode mode) {
    size_t n = 0;
    for (const TSection& s : Code(mode))
        n += s.Bytes.size();
    return n;
}

void Finish(benchmark::State& state, TX86Mode mode, size_t instructions) {
    state.SetBytesProcessed(int64_t(state.iterations() * TotalBytes(mode)));
    state.counters["instructions"] = double(instructions);
}

void BM_Ours_LengthAndTarget(benchmark::State& state, TX86Mode mode) {
    if (Code(mode).empty()) return state.SkipWithError(Missing(mode));
    size_t count = 0;
    for (auto _ : state) {
        count = 0;
        uint64_t sum = 0;
        for (const TSection& s : Code(mode)) {
            const uint8_t* p = s.Bytes.data();
            const size_t n = s.Bytes.size();
            TX86Instruction ins;
            for (size_t pos = 0; pos < n; pos += ins.Length, ++count) {
                DecodeX86(p + pos, n - pos, s.Address + pos, ins, mode);
                sum += ins.Target;
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    Finish(state, mode, count);
}
BENCHMARK_CAPTURE(BM_Ours_LengthAndTarget, 32, TX86Mode::Bits32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Ours_LengthAndTarget, 64, TX86Mode::Bits64)->Unit(benchmark::kMillisecond);

void BM_Ours_Text(benchmark::State& state, TX86Mode mode) {
    if (Code(mode).empty()) return state.SkipWithError(Missing(mode));
    size_t count = 0;
    char text[X86TextMax];
    for (auto _ : state) {
        count = 0;
        size_t chars = 0;
        for (const TSection& s : Code(mode)) {
            const uint8_t* p = s.Bytes.data();
            const size_t n = s.Bytes.size();
            TX86Instruction ins;
            for (size_t pos = 0; pos < n; pos += ins.Length, ++count) {
                DecodeX86(p + pos, n - pos, s.Address + pos, ins, mode);
                chars += FormatX86(ins, text, sizeof text);
            }
        }
        benchmark::DoNotOptimize(chars);
    }
    Finish(state, mode, count);
}
BENCHMARK_CAPTURE(BM_Ours_Text, 32, TX86Mode::Bits32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Ours_Text, 64, TX86Mode::Bits64)->Unit(benchmark::kMillisecond);

template <typename F> F Symbol(const char* library, const char* name) {
    void* lib = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    return lib ? reinterpret_cast<F>(dlsym(lib, name)) : nullptr;
}

#ifdef ZE_HAVE_DISTORM
_DecodeType DiStormMode(TX86Mode mode) {
    return mode == TX86Mode::Bits64 ? Decode64Bits : Decode32Bits;
}

void BM_DiStorm_DecodeOnly(benchmark::State& state, TX86Mode mode) {
    auto decompose = Symbol<decltype(&distorm_decompose64)>("libdistorm3.so.3", "distorm_decompose64");
    if (!decompose || Code(mode).empty()) return state.SkipWithError("diStorm not available");
    std::vector<_DInst> out(4096);
    size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (const TSection& s : Code(mode)) {
            _CodeInfo ci{};
            ci.codeOffset = s.Address;
            ci.code = s.Bytes.data();
            ci.codeLen = int(s.Bytes.size());
            ci.dt = DiStormMode(mode);
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
    Finish(state, mode, count);
}
BENCHMARK_CAPTURE(BM_DiStorm_DecodeOnly, 32, TX86Mode::Bits32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DiStorm_DecodeOnly, 64, TX86Mode::Bits64)->Unit(benchmark::kMillisecond);

void BM_DiStorm_DecodeAndFormat(benchmark::State& state, TX86Mode mode) {
    auto decode = Symbol<decltype(&distorm_decode64)>("libdistorm3.so.3", "distorm_decode64");
    if (!decode || Code(mode).empty()) return state.SkipWithError("diStorm not available");
    std::vector<_DecodedInst> out(4096);
    size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (const TSection& s : Code(mode)) {
            _OffsetType offset = s.Address;
            const unsigned char* p = s.Bytes.data();
            int len = int(s.Bytes.size());
            for (;;) {
                unsigned used = 0;
                const _DecodeResult r =
                    decode(offset, p, len, DiStormMode(mode), out.data(), unsigned(out.size()), &used);
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
    Finish(state, mode, count);
}
BENCHMARK_CAPTURE(BM_DiStorm_DecodeAndFormat, 32, TX86Mode::Bits32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DiStorm_DecodeAndFormat, 64, TX86Mode::Bits64)->Unit(benchmark::kMillisecond);
#endif

#ifdef ZE_HAVE_ZYDIS
void ZydisInit(decltype(&ZydisDecoderInit) init, ZydisDecoder& decoder, TX86Mode mode) {
    if (mode == TX86Mode::Bits64)
        init(&decoder, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64);
    else
        init(&decoder, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
}

void BM_Zydis_DecodeOnly(benchmark::State& state, TX86Mode mode) {
    auto init = Symbol<decltype(&ZydisDecoderInit)>("libZydis.so.4.0", "ZydisDecoderInit");
    auto decodeIns =
        Symbol<decltype(&ZydisDecoderDecodeInstruction)>("libZydis.so.4.0", "ZydisDecoderDecodeInstruction");
    if (!init || !decodeIns || Code(mode).empty()) return state.SkipWithError("Zydis not available");
    ZydisDecoder decoder;
    ZydisInit(init, decoder, mode);
    size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (const TSection& s : Code(mode)) {
            ZydisDecodedInstruction ins;
            ZydisDecoderContext ctx;
            for (size_t pos = 0; pos < s.Bytes.size(); ++count) {
                const ZyanStatus st =
                    decodeIns(&decoder, &ctx, s.Bytes.data() + pos, s.Bytes.size() - pos, &ins);
                pos += ZYAN_SUCCESS(st) ? ins.length : 1;
            }
        }
    }
    Finish(state, mode, count);
}
BENCHMARK_CAPTURE(BM_Zydis_DecodeOnly, 32, TX86Mode::Bits32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Zydis_DecodeOnly, 64, TX86Mode::Bits64)->Unit(benchmark::kMillisecond);

void BM_Zydis_DecodeAndFormat(benchmark::State& state, TX86Mode mode) {
    auto init = Symbol<decltype(&ZydisDecoderInit)>("libZydis.so.4.0", "ZydisDecoderInit");
    auto full = Symbol<decltype(&ZydisDecoderDecodeFull)>("libZydis.so.4.0", "ZydisDecoderDecodeFull");
    auto fmtInit = Symbol<decltype(&ZydisFormatterInit)>("libZydis.so.4.0", "ZydisFormatterInit");
    auto format = Symbol<decltype(&ZydisFormatterFormatInstruction)>("libZydis.so.4.0",
                                                                     "ZydisFormatterFormatInstruction");
    if (!init || !full || !fmtInit || !format || Code(mode).empty())
        return state.SkipWithError("Zydis not available");
    ZydisDecoder decoder;
    ZydisInit(init, decoder, mode);
    ZydisFormatter formatter;
    fmtInit(&formatter, ZYDIS_FORMATTER_STYLE_INTEL);
    char text[256];
    size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (const TSection& s : Code(mode)) {
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
    Finish(state, mode, count);
}
BENCHMARK_CAPTURE(BM_Zydis_DecodeAndFormat, 32, TX86Mode::Bits32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Zydis_DecodeAndFormat, 64, TX86Mode::Bits64)->Unit(benchmark::kMillisecond);
#endif

#ifdef ZE_HAVE_CAPSTONE
void BM_Capstone_DecodeAndFormat(benchmark::State& state, TX86Mode mode) {
    auto open = Symbol<decltype(&cs_open)>("libcapstone.so.4", "cs_open");
    auto alloc = Symbol<decltype(&cs_malloc)>("libcapstone.so.4", "cs_malloc");
    auto iter = Symbol<decltype(&cs_disasm_iter)>("libcapstone.so.4", "cs_disasm_iter");
    auto freeIns = Symbol<decltype(&cs_free)>("libcapstone.so.4", "cs_free");
    auto close = Symbol<decltype(&cs_close)>("libcapstone.so.4", "cs_close");
    csh handle;
    if (!open || !alloc || !iter || Code(mode).empty() ||
        open(CS_ARCH_X86, mode == TX86Mode::Bits64 ? CS_MODE_64 : CS_MODE_32, &handle) != CS_ERR_OK)
        return state.SkipWithError("Capstone not available");
    cs_insn* insn = alloc(handle);
    size_t count = 0;
    for (auto _ : state) {
        count = 0;
        for (const TSection& s : Code(mode)) {
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
    Finish(state, mode, count);
    freeIns(insn, 1);
    close(&handle);
}
BENCHMARK_CAPTURE(BM_Capstone_DecodeAndFormat, 32, TX86Mode::Bits32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Capstone_DecodeAndFormat, 64, TX86Mode::Bits64)->Unit(benchmark::kMillisecond);
#endif

} // namespace
