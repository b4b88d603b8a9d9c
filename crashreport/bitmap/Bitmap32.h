#pragma once
// The portable picture behind the screenshot bitmap: 32-bit pixels 0x00RRGGBB (bytes blue, green,
// red, 0 in memory), rows top-down. Codecs here read untrusted bytes and never trust their sizes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Upper bound of any picture we create or load (1 GiB of pixels): keeps every size computation,
// also in the 32-bit program, far from overflow.
inline constexpr uint64_t MaxBitmapPixels = uint64_t(1) << 28;

struct TBitmap32 {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint32_t> Pixels; // Width * Height, top row first

    TBitmap32() = default;
    // A picture of the given size filled with `fill`; sizes outside the limit give an empty one.
    TBitmap32(int32_t width, int32_t height, uint32_t fill = 0);

    bool Empty() const { return Width <= 0 || Height <= 0; }
    uint32_t* Row(int32_t y) { return Pixels.data() + size_t(y) * size_t(Width); }
    const uint32_t* Row(int32_t y) const { return Pixels.data() + size_t(y) * size_t(Width); }
    uint32_t& At(int32_t x, int32_t y) { return Row(y)[x]; }
    uint32_t At(int32_t x, int32_t y) const { return Row(y)[x]; }
};

// Whether a picture of this size is allowed.
bool ValidBitmapSize(int64_t width, int64_t height);

inline constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) {
    return (r << 16) | (g << 8) | b;
}
inline constexpr uint32_t RedOf(uint32_t c) {
    return (c >> 16) & 0xFF;
}
inline constexpr uint32_t GreenOf(uint32_t c) {
    return (c >> 8) & 0xFF;
}
inline constexpr uint32_t BlueOf(uint32_t c) {
    return c & 0xFF;
}

// A Windows BMP file: 14-byte file header, 40-byte information header, 32-bit rows bottom-up.
std::vector<uint8_t> BmpBytes(const TBitmap32& bmp);

// Reads a BMP file (core, info and V4/V5 headers; 1, 4, 8, 16, 24 and 32 bits per pixel,
// uncompressed, bit fields, RLE4 and RLE8; bottom-up or top-down) into 32-bit pixels.
// Anything malformed, truncated or over the size limit gives no picture.
std::optional<TBitmap32> LoadBmp(std::span<const uint8_t> bytes);

// Reads a binary PPM (P6, maximum value 1..65535) for the host tools.
std::optional<TBitmap32> LoadPpm(std::span<const uint8_t> bytes);
