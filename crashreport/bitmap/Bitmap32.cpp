#include "crashreport/bitmap/Bitmap32.h"

#include <algorithm>
#include <array>
#include <cstring>

bool ValidBitmapSize(int64_t width, int64_t height) {
    return width >= 0 && height >= 0 && width <= INT32_MAX && height <= INT32_MAX &&
           uint64_t(width) * uint64_t(height) <= MaxBitmapPixels;
}

TBitmap32::TBitmap32(int32_t width, int32_t height, uint32_t fill) {
    if (!ValidBitmapSize(width, height) || width == 0 || height == 0) return;
    Width = width;
    Height = height;
    Pixels.assign(size_t(width) * size_t(height), fill);
}

namespace {

void PutU16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
    PutU16(p, v);
    PutU16(p + 2, v >> 16);
}

// Bounds-checked little-endian reads over the whole file.
class TByteReader {
public:
    explicit TByteReader(std::span<const uint8_t> bytes) : Bytes(bytes) {}
    bool Has(uint64_t offset, uint64_t count) const {
        return offset <= Bytes.size() && count <= Bytes.size() - offset;
    }
    uint32_t U8(uint64_t o) const { return Has(o, 1) ? Bytes[o] : 0; }
    uint32_t U16(uint64_t o) const { return Has(o, 2) ? Bytes[o] | (Bytes[o + 1] << 8) : 0; }
    uint32_t U32(uint64_t o) const { return Has(o, 4) ? U16(o) | (U16(o + 2) << 16) : 0; }
    std::span<const uint8_t> Bytes;
};

// Spreads a bit-field channel over 0..255.
struct TChannel {
    uint32_t Mask = 0;
    uint32_t Shift = 0;
    uint32_t Max = 0;
    explicit TChannel(uint32_t mask) : Mask(mask) {
        if (!mask) return;
        while (!((mask >> Shift) & 1))
            ++Shift;
        Max = mask >> Shift;
    }
    uint32_t Get(uint32_t v) const {
        if (!Max) return 0;
        return uint32_t((uint64_t((v & Mask) >> Shift) * 255 + Max / 2) / Max);
    }
};

enum : uint32_t { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3, BiAlphaBitfields = 6 };

// Expands RLE8/RLE4 data into one palette index per pixel, bottom row first. Pixels the
// stream never reaches keep index 0; a stream that ends early is accepted as it stands.
std::vector<uint8_t> DecodeRle(std::span<const uint8_t> data, uint32_t width, uint32_t height, bool rle4) {
    std::vector<uint8_t> idx(size_t(width) * height, 0);
    size_t pos = 0;
    uint32_t x = 0, y = 0;
    auto put = [&](uint8_t v) {
        if (x < width && y < height) idx[size_t(y) * width + x] = v;
        ++x;
    };
    while (pos + 1 < data.size() && y < height) {
        uint32_t count = data[pos], value = data[pos + 1];
        pos += 2;
        if (count) {
            for (uint32_t i = 0; i < count && x < width; ++i)
                put(rle4 ? uint8_t((i & 1) ? value & 15 : value >> 4) : uint8_t(value));
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // delta
            if (pos + 1 >= data.size()) break;
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
        } else { // absolute run, padded to 16 bits
            uint32_t bytes = rle4 ? (value + 1) / 2 : value;
            if (pos + bytes > data.size()) break;
            for (uint32_t i = 0; i < value; ++i) {
                uint8_t b = data[pos + (rle4 ? i / 2 : i)];
                put(rle4 ? uint8_t((i & 1) ? b & 15 : b >> 4) : b);
            }
            pos += (bytes + 1) & ~1u;
        }
    }
    return idx;
}

} // namespace

std::vector<uint8_t> BmpBytes(const TBitmap32& bmp) {
    const uint32_t w = bmp.Empty() ? 0 : uint32_t(bmp.Width), h = bmp.Empty() ? 0 : uint32_t(bmp.Height);
    const uint32_t pixelBytes = w * h * 4;
    std::vector<uint8_t> out(54 + size_t(pixelBytes));
    uint8_t* p = out.data();
    p[0] = 'B';
    p[1] = 'M';
    PutU32(p + 2, pixelBytes + 54);
    PutU32(p + 10, 54);
    PutU32(p + 14, 40);
    PutU32(p + 18, w);
    PutU32(p + 22, h);
    PutU16(p + 26, 1);
    PutU16(p + 28, 32);
    PutU32(p + 34, pixelBytes);
    uint8_t* dst = p + 54;
    for (uint32_t y = h; y-- > 0;) {
        const uint32_t* row = bmp.Row(int32_t(y));
        for (uint32_t x = 0; x < w; ++x, dst += 4)
            PutU32(dst, row[x]);
    }
    return out;
}

std::optional<TBitmap32> LoadBmp(std::span<const uint8_t> bytes) {
    const TByteReader r(bytes);
    if (!r.Has(0, 18) || bytes[0] != 'B' || bytes[1] != 'M') return std::nullopt;
    const uint32_t offBits = r.U32(10);
    const uint32_t hdrSize = r.U32(14);
    const bool core = hdrSize == 12;
    if (!core && hdrSize != 40 && hdrSize != 52 && hdrSize != 56 && hdrSize != 108 && hdrSize != 124)
        return std::nullopt;
    if (!r.Has(14, hdrSize)) return std::nullopt;

    int64_t width, height;
    uint32_t bpp, compression = BiRgb, clrUsed = 0;
    if (core) {
        width = r.U16(18);
        height = r.U16(20);
        bpp = r.U16(24);
    } else {
        width = int32_t(r.U32(18));
        height = int32_t(r.U32(22));
        bpp = r.U16(28);
        compression = r.U32(30);
        clrUsed = r.U32(46);
    }
    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || height <= 0 || !ValidBitmapSize(width, height)) return std::nullopt;
    const uint32_t w = uint32_t(width), h = uint32_t(height);

    // Colour masks: inside the header from V2 on, else right after the 40-byte header.
    uint64_t tableAt = 14 + uint64_t(hdrSize);
    uint32_t masks[4] = {0, 0, 0, 0};
    if (compression == BiBitfields || compression == BiAlphaBitfields) {
        if (bpp != 16 && bpp != 32) return std::nullopt;
        const uint32_t count = compression == BiAlphaBitfields ? 4 : 3;
        const uint64_t at = hdrSize >= 52 ? 54 : tableAt;
        if (!r.Has(at, 4 * count)) return std::nullopt;
        for (uint32_t i = 0; i < count; ++i)
            masks[i] = r.U32(at + 4 * i);
        if (hdrSize == 40) tableAt += 4 * count;
    } else if (compression == BiRle8) {
        if (bpp != 8 || topDown) return std::nullopt;
    } else if (compression == BiRle4) {
        if (bpp != 4 || topDown) return std::nullopt;
    } else if (compression != BiRgb) {
        return std::nullopt;
    }
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return std::nullopt;

    std::array<uint32_t, 256> palette{};
    if (bpp <= 8) {
        const uint32_t maxEntries = 1u << bpp;
        const uint32_t entries = (clrUsed == 0 || clrUsed > maxEntries) ? maxEntries : clrUsed;
        const uint32_t entrySize = core ? 3 : 4;
        // Some writers store fewer entries than they announce: take what lies before the pixels.
        uint32_t present = entries;
        if (offBits > tableAt)
            present = uint32_t(std::min<uint64_t>(entries, (offBits - tableAt) / entrySize));
        if (!r.Has(tableAt, uint64_t(present) * entrySize)) return std::nullopt;
        for (uint32_t i = 0; i < present; ++i) {
            const uint64_t e = tableAt + uint64_t(i) * entrySize;
            palette[i] = Rgb(r.U8(e + 2), r.U8(e + 1), r.U8(e));
        }
        tableAt += uint64_t(entries) * entrySize;
    }
    const uint64_t dataAt = (offBits >= 14 + uint64_t(hdrSize) && offBits < bytes.size()) ? offBits : tableAt;
    if (dataAt >= bytes.size()) return std::nullopt;

    if (compression == BiRle8 || compression == BiRle4) {
        TBitmap32 bmp{int32_t(w), int32_t(h)};
        const auto idx = DecodeRle(bytes.subspan(size_t(dataAt)), w, h, compression == BiRle4);
        for (uint32_t y = 0; y < h; ++y) {
            uint32_t* row = bmp.Row(int32_t(h - 1 - y));
            for (uint32_t x = 0; x < w; ++x)
                row[x] = palette[idx[size_t(y) * w + x]];
        }
        return bmp;
    }

    const uint64_t stride = (uint64_t(w) * bpp + 31) / 32 * 4;
    const uint64_t lastRow = (uint64_t(w) * bpp + 7) / 8; // the final row's padding may be missing
    if (!r.Has(dataAt, stride * (h - 1) + lastRow)) return std::nullopt;
    TBitmap32 bmp{int32_t(w), int32_t(h)};

    if (compression == BiRgb && bpp == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    }
    const TChannel red(masks[0]), green(masks[1]), blue(masks[2]);
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* src = bytes.data() + dataAt + stride * y;
        uint32_t* row = bmp.Row(int32_t(topDown ? y : h - 1 - y));
        for (uint32_t x = 0; x < w; ++x) {
            switch (bpp) {
            case 1:
                row[x] = palette[(src[x / 8] >> (7 - x % 8)) & 1];
                break;
            case 4:
                row[x] = palette[(src[x / 2] >> ((x & 1) ? 0 : 4)) & 15];
                break;
            case 8:
                row[x] = palette[src[x]];
                break;
            case 16: {
                const uint32_t v = src[2 * x] | (src[2 * x + 1] << 8);
                row[x] = Rgb(red.Get(v), green.Get(v), blue.Get(v));
                break;
            }
            case 24:
                row[x] = Rgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
                break;
            default: {
                const uint8_t* s = src + 4 * x;
                if (compression == BiRgb) {
                    row[x] = Rgb(s[2], s[1], s[0]);
                } else {
                    const uint32_t v = s[0] | (s[1] << 8) | (s[2] << 16) | (uint32_t(s[3]) << 24);
                    row[x] = Rgb(red.Get(v), green.Get(v), blue.Get(v));
                }
            }
            }
        }
    }
    return bmp;
}

std::optional<TBitmap32> LoadPpm(std::span<const uint8_t> bytes) {
    size_t pos = 0;
    auto skipSpace = [&] {
        while (pos < bytes.size()) {
            if (bytes[pos] == '#') {
                while (pos < bytes.size() && bytes[pos] != '\n')
                    ++pos;
            } else if (bytes[pos] == ' ' || bytes[pos] == '\t' || bytes[pos] == '\r' || bytes[pos] == '\n') {
                ++pos;
            } else {
                break;
            }
        }
    };
    auto number = [&]() -> int64_t {
        skipSpace();
        int64_t v = -1;
        while (pos < bytes.size() && bytes[pos] >= '0' && bytes[pos] <= '9' && v < INT32_MAX)
            v = (v < 0 ? 0 : v * 10) + (bytes[pos++] - '0');
        return v;
    };
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6') return std::nullopt;
    pos = 2;
    const int64_t w = number(), h = number(), maxVal = number();
    if (w <= 0 || h <= 0 || maxVal <= 0 || maxVal > 65535 || !ValidBitmapSize(w, h)) return std::nullopt;
    if (pos >= bytes.size()) return std::nullopt;
    ++pos; // the single white-space byte before the samples
    const uint64_t sampleBytes = maxVal > 255 ? 2 : 1;
    if (bytes.size() - pos < uint64_t(w) * uint64_t(h) * 3 * sampleBytes) return std::nullopt;
    TBitmap32 bmp{int32_t(w), int32_t(h)};
    const uint8_t* s = bytes.data() + pos;
    auto sample = [&]() -> uint32_t {
        uint32_t v = *s++;
        if (sampleBytes == 2) v = (v << 8) | *s++;
        return uint32_t((uint64_t(std::min<uint32_t>(v, uint32_t(maxVal))) * 255 + maxVal / 2) / maxVal);
    };
    for (uint32_t& px : bmp.Pixels) {
        const uint32_t red = sample(), green = sample(), blue = sample();
        px = Rgb(red, green, blue);
    }
    return bmp;
}
