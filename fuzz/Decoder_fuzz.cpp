// Instruction bytes: decoding, instruction text, function analysis and listing over arbitrary
// input must stay inside the bytes they were given, in 32-bit and in 64-bit mode.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crashreport/x86/Decoder.h"
#include "crashreport/x86/Disassembler.h"
#include "crashreport/x86/FunctionListing.h"

namespace {

void Run(const std::vector<uint8_t>& bytes, uint64_t base, TX86Mode mode) {
    TSpanMemoryReader memory(base, bytes);
    char text[X86TextMax];
    for (size_t pos = 0; pos < bytes.size();) {
        TX86Instruction a, b;
        DecodeX86(bytes.data() + pos, bytes.size() - pos, base + pos, a, mode);
        DecodeX86(memory, base + pos, b, mode);
        if (a.Valid != b.Valid || a.Length != b.Length || a.Length == 0 || a.Length > X86MaxLength ||
            a.Next != base + pos + a.Length)
            __builtin_trap();
        FormatX86(b, text, sizeof text, nullptr, &memory);
        pos += a.Length;
    }
    if (!bytes.empty()) {
        const TCodeRange code{base, base + bytes.size()};
        const TFunctionAnalysis f = AnalyseFunction(memory, base, code, nullptr, mode);
        TListingOptions options;
        options.ExceptionAddress = base + bytes.size() / 2;
        options.LimitDisAsm = 8;
        ListFunction(f, memory, nullptr, nullptr, options);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy so that the sanitizer sees any read past the end.
    const std::vector<uint8_t> bytes(data, data + size);
    Run(bytes, 0x401000, TX86Mode::Bits32);
    Run(bytes, 0x140001000, TX86Mode::Bits64); // above 4 GB
    return 0;
}
