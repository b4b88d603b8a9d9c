#include "crashreport/bitmap/PngWriter.h"

#include <zlib.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "crashreport/base/Deflate.h"
#include "crashreport/bitmap/WuQuantizer.h"

const uint8_t PngGreyLevels[16] = {0, 28, 52, 73, 92, 109, 125, 140, 155, 170, 185, 199, 213, 227, 241, 255};

uint32_t PngSizeLimit(int mode) {
    switch (mode) {
    case 2:
        return 51200;
    case 3:
        return 102400;
    case 4:
        return 204800;
    case 5:
        return 307200;
    default:
        return 0;
    }
}

int PngModeFromDepth(int64_t scrShotDepth) {
    switch (scrShotDepth) {
    case 4:
        return 1;
    case 51200:
        return 2;
    case 102400:
        return 3;
    case 204800:
        return 4;
    case 307200:
        return 5;
    default:
        return 0;
    }
}

namespace {

const std::array<uint8_t, 256> GreyIndexTable = [] {
    std::array<uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v) {
        int best = 0;
        for (int i = 1; i < 16; ++i)
            if (std::abs(PngGreyLevels[i] - v) < std::abs(PngGreyLevels[best] - v)) best = i;
        t[size_t(v)] = uint8_t(best);
    }
    return t;
}();

void PutBE32(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x >> 24));
    v.push_back(uint8_t(x >> 16));
    v.push_back(uint8_t(x >> 8));
    v.push_back(uint8_t(x));
}

void Chunk(std::vector<uint8_t>& out, std::string_view type, const std::vector<uint8_t>& data) {
    PutBE32(out, uint32_t(data.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    PutBE32(out, uint32_t(crc32_z(crc32(0, nullptr, 0), out.data() + typeAt, out.size() - typeAt)));
}

// Signature, header, palette, the rows as one zlib stream, end. Empty if compression fails.
std::vector<uint8_t> Assemble(const TBitmap32& bmp, uint8_t bitDepth, const std::vector<uint32_t>& palette,
                              const std::vector<uint8_t>& rows) {
    std::vector<uint8_t> idat{0x78, 0x01};
    if (!DeflateRaw(rows, idat)) return {};
    PutBE32(idat, uint32_t(adler32_z(adler32(0, nullptr, 0), rows.data(), rows.size())));

    std::vector<uint8_t> out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    PutBE32(ihdr, uint32_t(bmp.Width));
    PutBE32(ihdr, uint32_t(bmp.Height));
    ihdr.insert(ihdr.end(), {bitDepth, 3, 0, 0, 0});
    Chunk(out, "IHDR", ihdr);
    std::vector<uint8_t> plte;
    for (uint32_t c : palette)
        plte.insert(plte.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
    Chunk(out, "PLTE", plte);
    Chunk(out, "IDAT", idat);
    Chunk(out, "IEND", {});
    return out;
}

} // namespace

uint8_t GreyLevelIndex(uint32_t pixel) {
    return GreyIndexTable[(77 * RedOf(pixel) + 151 * GreenOf(pixel) + 28 * BlueOf(pixel)) >> 8];
}

std::vector<uint8_t> PalettePngBytes(const TBitmap32& bmp) {
    if (bmp.Empty()) return {};
    std::vector<uint32_t> palette = WuQuantize(bmp.Pixels, 256);
    auto mapper = std::make_unique<TPaletteMapper>(palette);
    palette.resize(256, 0); // unused entries stay black
    const size_t w = size_t(bmp.Width);
    std::vector<uint8_t> rows(size_t(bmp.Height) * (w + 1));
    uint8_t* dst = rows.data();
    for (int32_t y = 0; y < bmp.Height; ++y) {
        *dst++ = 0; // filter: none
        const uint32_t* src = bmp.Row(y);
        for (size_t x = 0; x < w; ++x)
            *dst++ = mapper->Map(src[x]);
    }
    return Assemble(bmp, 8, palette, rows);
}

std::vector<uint8_t> GreyPngBytes(const TBitmap32& bmp) {
    if (bmp.Empty()) return {};
    const size_t w = size_t(bmp.Width), rowBytes = (w + 1) / 2;
    std::vector<uint8_t> rows(size_t(bmp.Height) * (rowBytes + 1), 0);
    uint8_t* dst = rows.data();
    for (int32_t y = 0; y < bmp.Height; ++y) {
        *dst++ = 0;
        const uint32_t* src = bmp.Row(y);
        for (size_t x = 0; x < w; x += 2) {
            const uint8_t high = GreyLevelIndex(src[x]);
            const uint8_t low = x + 1 < w ? GreyLevelIndex(src[x + 1]) : 0;
            *dst++ = uint8_t(high << 4 | low);
        }
    }
    std::vector<uint32_t> palette;
    for (uint8_t level : PngGreyLevels)
        palette.push_back(Rgb(level, level, level));
    return Assemble(bmp, 4, palette, rows);
}

std::vector<uint8_t> PngBytes(const TBitmap32& bmp, int mode) {
    if (bmp.Empty()) return {};
    if (mode == 1) return GreyPngBytes(bmp);
    std::vector<uint8_t> colour = PalettePngBytes(bmp);
    const uint32_t limit = PngSizeLimit(mode);
    if (limit == 0 || colour.size() <= limit) return colour;
    std::vector<uint8_t> grey = GreyPngBytes(bmp);
    // A failed colour file (empty) must not win as "smaller".
    if (!grey.empty() && (colour.empty() || grey.size() < colour.size())) return grey;
    return colour;
}
