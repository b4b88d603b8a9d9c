// Instruction bytes: decoding, instruction text, function analysis and listing over arbitrary
// input must stay inside the bytes they were given.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crashreport/x86/Decoder.h"
#include "crashreport/x86/Disassembler.h"
#include "crashreport/x86/FunctionListing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy so that the sanitizer sees any read past the end.
    const std::vector<uint8_t> bytes(data, data + size);
    constexpr uint32_t base = 0x401000;
    TSpanMemoryReader memory(base, bytes);
    char text[X86TextMax];
    for (size_t pos = 0; pos < bytes.size();) {
        TX86Instruction a, b;
        DecodeX86(bytes.data() + pos, bytes.size() - pos, base + uint32_t(pos), a);
        DecodeX86(memory, base + uint32_t(pos), b);
        if (a.Valid != b.Valid || a.Length != b.Length || a.Length == 0 || a.Length > X86MaxLength)
            __builtin_trap();
        FormatX86(b, text, sizeof text, nullptr, &memory);
        pos += a.Length;
    }
    if (!bytes.empty()) {
        const TCodeRange code{base, base + uint32_t(bytes.size())};
        const TFunctionAnalysis f = AnalyseFunction(memory, base, code);
        TListingOptions options;
        options.ExceptionAddress = base + uint32_t(bytes.size() / 2);
        options.LimitDisAsm = 8;
        ListFunction(f, memory, nullptr, nullptr, options);
    }
    return 0;
}
