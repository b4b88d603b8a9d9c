#pragma once
// Palette reduction for the screenshot PNG: Xiaolin Wu's variance-minimising cut of a colour-moment
// histogram over the top five bits of red, green and blue, and a nearest-colour mapper with a
// cache keyed by the same five bits.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

// Up to `maxColors` (1..256) palette colours 0x00RRGGBB for the pixels, in cut order. Gives fewer
// colours when the histogram cannot be cut further, and none for no pixels.
std::vector<uint32_t> WuQuantize(std::span<const uint32_t> pixels, int maxColors = 256);

class TPaletteMapper {
public:
    explicit TPaletteMapper(std::span<const uint32_t> palette);
    // Index of the palette colour for the pixel; the first pixel of each five-bit cell decides
    // for the whole cell by the smallest sum of absolute channel differences.
    uint8_t Map(uint32_t pixel) {
        const uint32_t key = ((pixel >> 9) & 0x7C00) | ((pixel >> 6) & 0x03E0) | ((pixel >> 3) & 0x001F);
        int16_t& slot = Cache[key];
        if (slot < 0) slot = int16_t(Nearest(pixel));
        return uint8_t(slot);
    }

private:
    uint32_t Nearest(uint32_t pixel) const;
    std::vector<uint32_t> Palette;
    std::array<int16_t, 32768> Cache;
};
