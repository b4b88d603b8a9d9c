#pragma once
// Palette reduction for the screenshot PNG. A picture of at most 256 colours keeps them exactly.
// Otherwise Xiaolin Wu's variance-minimising cut finds the palette — over the exact colours when
// the picture has few enough of them, else over the colour-moment histogram of the top five bits
// of each channel — and Lloyd passes over the weighted colour histogram refine it. Pixels map to
// their nearest palette colour exactly.
#include <cstdint>
#include <span>
#include <vector>

// Up to `maxColors` (1..256) palette colours 0x00RRGGBB for the pixels (their fourth byte is
// ignored). Gives fewer colours when the picture has fewer, and none for no pixels.
std::vector<uint32_t> WuQuantize(std::span<const uint32_t> pixels, int maxColors = 256);

// The palette index of each pixel: the nearest palette colour by the sum of absolute differences
// of red, green and blue (the lowest index among equally near ones). Each five-bit colour cell keeps
// the list of palette colours that can be nearest to any of its colours, made from the lists of
// the three- and four-bit cells around it; colours of cells with a longer list are remembered.
class TPaletteMapper {
public:
    explicit TPaletteMapper(std::span<const uint32_t> palette);

    uint8_t Map(uint32_t pixel) {
        pixel &= 0xFFFFFF;
        if (pixel == LastPixel) return LastIndex;
        const uint32_t key = ((pixel >> 9) & 0x7C00) | ((pixel >> 6) & 0x03E0) | ((pixel >> 3) & 0x001F);
        int32_t at = CellAt[key];
        if (at == -1) at = BuildCell(key);
        LastPixel = pixel;
        return LastIndex = at < 0 ? uint8_t(-2 - at) : Choose(pixel, &Lists[size_t(at)]);
    }

private:
    int32_t BuildCell(uint32_t key);
    int32_t BuildList(const int32_t* low, int32_t side, const uint8_t* from, size_t count);
    uint8_t Choose(uint32_t pixel, const uint8_t* list);

    std::vector<int32_t> R, G, B;
    // A list is its length less one, then the candidates in ascending order. Offsets into Lists,
    // -1 until a colour of the cell comes; a five-bit cell with one candidate i holds -2 - i.
    std::vector<int32_t> TopAt, MiddleAt, CellAt;
    std::vector<uint8_t> Lists;
    std::vector<uint32_t> Seen; // direct-mapped: colour, and its index in the top byte
    uint32_t LastPixel = 0xFFFFFFFF;
    uint8_t LastIndex = 0;
};
