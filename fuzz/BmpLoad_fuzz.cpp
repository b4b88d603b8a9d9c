// The BMP loader reads files the user edited by hand (screenshot form) and any bytes at all.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "crashreport/bitmap/Bitmap32.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Headers may legally claim up to the loader's 2^28-pixel limit with a few bytes of RLE;
    // keep such inputs small here so the fuzzer explores formats rather than allocations.
    if (size >= 26) {
        int32_t w, h;
        std::memcpy(&w, data + 18, 4);
        std::memcpy(&h, data + 22, 4);
        const int64_t aw = w < 0 ? -int64_t(w) : w, ah = h < 0 ? -int64_t(h) : h;
        if (aw * ah > (int64_t(1) << 22)) return 0;
    }
    const auto bmp = LoadBmp(std::span<const uint8_t>(data, size));
    if (bmp) {
        // The result must be a complete picture of the announced size.
        if (bmp->Pixels.size() != size_t(bmp->Width) * size_t(bmp->Height)) __builtin_trap();
        volatile uint32_t sink = 0;
        for (uint32_t p : bmp->Pixels)
            sink = sink + p;
    }
    (void)LoadPpm(std::span<const uint8_t>(data, size));
    return 0;
}
