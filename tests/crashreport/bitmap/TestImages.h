#pragma once
// Pictures for the bitmap tests and benchmarks, made in code.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "crashreport/bitmap/Bitmap32.h"

namespace ExternalTools {

// A dozen colours, each in its own five-bit cell, in a pattern that makes rows differ.
inline TBitmap32 FewColourImage(int32_t w, int32_t h) {
    static const uint32_t colours[12] = {0xFFFFFF, 0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00,
                                         0x00FFFF, 0xFF00FF, 0x808080, 0xC0C0C0, 0x804000, 0x2050A0};
    TBitmap32 b(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            b.At(x, y) = colours[(x * 7 + y * 3 + x / 5) % 12];
    return b;
}

// Smooth two-dimensional gradients: tens of thousands of colours.
inline TBitmap32 PhotoImage(int32_t w, int32_t h) {
    TBitmap32 b(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const double fx = double(x) / w, fy = double(y) / h;
            const uint32_t r = uint32_t(255 * fx), g = uint32_t(255 * fy);
            const uint32_t bl = uint32_t(127.5 + 127.5 * std::sin(6.28 * (fx * 1.5 + fy)));
            b.At(x, y) = Rgb(r, g, bl);
        }
    return b;
}

// Random colours: the palette PNG of this is about one byte per pixel.
inline TBitmap32 NoiseImage(int32_t w, int32_t h, uint32_t seed = 1) {
    TBitmap32 b(w, h);
    for (uint32_t& p : b.Pixels) {
        seed = seed * 1664525u + 1013904223u;
        p = seed >> 8;
    }
    return b;
}

// A desktop-like picture: flat window areas, frames, title bars and lines of dark "text".
inline TBitmap32 ScreenshotImage(int32_t w, int32_t h) {
    TBitmap32 b(w, h, 0x3A6EA5);
    uint32_t seed = 7;
    for (int win = 0; win < 6; ++win) {
        const int32_t x0 = (win * 311) % (w / 2), y0 = (win * 173) % (h / 2);
        const int32_t x1 = std::min(w, x0 + w / 2), y1 = std::min(h, y0 + h / 2);
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x) {
                uint32_t c = 0xF0F0F0;
                if (y < y0 + 22)
                    c = Rgb(0, 84 + uint32_t(x - x0) * 100 / uint32_t(x1 - x0), 227); // title bar
                else if (x == x0 || x == x1 - 1 || y == y1 - 1)
                    c = 0x808080;
                else if ((y - y0) % 16 > 3 && (y - y0) % 16 < 13 && x > x0 + 8 && x < x1 - 40) {
                    seed = seed * 1664525u + 1013904223u;
                    if ((seed >> 24) < 90)
                        c = (seed >> 20) & 1 ? 0x000000 : 0x404040 + ((seed >> 8) & 0x3F3F3F);
                }
                b.At(x, y) = c;
            }
    }
    return b;
}

} // namespace ExternalTools
