#pragma once
// Pictures for the bitmap tests and benchmarks, made in code.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

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

// ---- the quantizer's picture set: what screenshots of this program hold ----

struct TRandom {
    uint32_t State;
    uint32_t Next() { return State = State * 1664525u + 1013904223u, State >> 8; }
    int Below(int n) { return int(Next() % uint32_t(n)); }
};

inline uint32_t Blend(uint32_t bg, uint32_t fg, double r, double g, double b) {
    const auto mix = [](uint32_t x, uint32_t y, double a) {
        return uint32_t(std::lround(double(x) + (double(y) - double(x)) * std::clamp(a, 0.0, 1.0)));
    };
    return Rgb(mix(RedOf(bg), RedOf(fg), r), mix(GreenOf(bg), GreenOf(fg), g),
               mix(BlueOf(bg), BlueOf(fg), b));
}

inline void FillRect(TBitmap32& b, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t c) {
    for (int32_t y = std::max(0, y0); y < std::min(b.Height, y1); ++y)
        for (int32_t x = std::max(0, x0); x < std::min(b.Width, x1); ++x)
            b.At(x, y) = c;
}

// Top-to-bottom blend between two colours, as themed buttons and title bars draw them.
inline void Gradient(TBitmap32& b, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t top,
                     uint32_t bottom) {
    for (int32_t y = std::max(0, y0); y < std::min(b.Height, y1); ++y) {
        const double a = y1 - y0 > 1 ? double(y - y0) / (y1 - y0 - 1) : 0;
        for (int32_t x = std::max(0, x0); x < std::min(b.Width, x1); ++x)
            b.At(x, y) = Blend(top, bottom, a, a, a);
    }
}

inline void Frame(TBitmap32& b, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t c) {
    FillRect(b, x0, y0, x1, y0 + 1, c);
    FillRect(b, x0, y1 - 1, x1, y1, c);
    FillRect(b, x0, y0, x0 + 1, y1, c);
    FillRect(b, x1 - 1, y0, x1, y1, c);
}

// Anti-aliased "text": made-up glyphs of two or three strokes, 7 pixels apart, blended onto what
// is there. With `subpixel` each channel gets its own coverage: the colour fringes of sub-pixel text.
inline void Text(TBitmap32& b, int32_t x, int32_t y, int chars, uint32_t colour, uint32_t seed,
                 bool subpixel = false) {
    struct TStroke {
        double X0, Y0, X1, Y1;
    };
    TRandom rnd{seed};
    for (int i = 0; i < chars; ++i, x += 7) {
        if (rnd.Below(6) == 0) continue; // a blank between words
        TStroke strokes[3];
        const int n = 2 + rnd.Below(2);
        for (int s = 0; s < n; ++s)
            strokes[s] = {0.5 + rnd.Below(5), 1.5 + rnd.Below(8), 0.5 + rnd.Below(5), 1.5 + rnd.Below(8)};
        for (int32_t py = y; py < y + 11 && py < b.Height; ++py)
            for (int32_t px = x; px < x + 7 && px < b.Width; ++px) {
                if (px < 0 || py < 0) continue;
                double cover[3] = {0, 0, 0};
                for (int ch = 0; ch < 3; ++ch) {
                    const double sx = px - x + 0.5 + (subpixel ? (ch - 1) / 3.0 : 0), sy = py - y + 0.5;
                    for (int s = 0; s < n; ++s) {
                        const TStroke& k = strokes[s];
                        const double dx = k.X1 - k.X0, dy = k.Y1 - k.Y0, len2 = dx * dx + dy * dy;
                        const double t =
                            len2 > 0 ? std::clamp(((sx - k.X0) * dx + (sy - k.Y0) * dy) / len2, 0.0, 1.0) : 0;
                        const double d = std::hypot(sx - k.X0 - t * dx, sy - k.Y0 - t * dy);
                        cover[ch] = std::max(cover[ch], std::clamp(1.05 - d, 0.0, 1.0));
                    }
                }
                if (!subpixel) cover[0] = cover[2] = cover[1];
                b.At(px, py) = Blend(b.At(px, py), colour, cover[0], cover[1], cover[2]);
            }
    }
}

// A shaded, anti-aliased disc: the icons of message boxes, coins and balls.
inline void Disc(TBitmap32& b, double cx, double cy, double r, uint32_t light, uint32_t dark) {
    for (int32_t y = std::max(0, int32_t(cy - r - 1)); y < std::min(b.Height, int32_t(cy + r + 2)); ++y)
        for (int32_t x = std::max(0, int32_t(cx - r - 1)); x < std::min(b.Width, int32_t(cx + r + 2)); ++x) {
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy, d = std::hypot(dx, dy);
            const double shade = std::hypot(dx + r / 3, dy + r / 3) / (1.4 * r);
            const uint32_t c = Blend(light, dark, shade, shade, shade);
            const double a = std::clamp(r + 0.5 - d, 0.0, 1.0);
            b.At(x, y) = Blend(b.At(x, y), c, a, a, a);
        }
}

// A message box: title bar, white message area with an icon and two lines of text, the grey
// button strip with two themed buttons.
inline TBitmap32 DialogImage(int32_t w, int32_t h, bool subpixel = false, uint32_t seed = 3) {
    TBitmap32 b(w, h, 0xF0F0F0);
    Gradient(b, 0, 0, w, 23, 0x0A246A, 0xA6CAF0);
    Text(b, 6, 6, 14, 0xFFFFFF, seed, subpixel);
    FillRect(b, 1, 23, w - 1, h - 42, 0xFFFFFF);
    Disc(b, 30, 50, 15, 0xFFE080, 0xC02000);
    Text(b, 56, 38, (w - 70) / 7, 0x000000, seed + 1, subpixel);
    Text(b, 56, 55, (w - 120) / 7, 0x000000, seed + 2, subpixel);
    for (int i = 0; i < 2; ++i) {
        const int32_t x0 = w - 170 + i * 85, y0 = h - 33;
        Gradient(b, x0, y0, x0 + 75, y0 + 23, 0xF2F2F2, 0xDDDDDD);
        Frame(b, x0, y0, x0 + 75, y0 + 23, i == 0 ? 0x0078D7 : 0xADADAD);
        Text(b, x0 + 20, y0 + 6, 5, 0x000000, seed + 3 + uint32_t(i), subpixel);
    }
    Frame(b, 0, 0, w, h, 0x646464);
    return b;
}

// `count` distinct colours (1..4096), crowded together so that many share a five-bit cell.
inline TBitmap32 CrowdedColoursImage(int32_t w, int32_t h, int count) {
    TBitmap32 b(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t k = uint32_t((x / 3 + y * 5 + x * y / 7) % count);
            b.At(x, y) = Rgb(96 + (k & 15) * 3, 112 + (k >> 4 & 15) * 2, 128 + (k >> 8) * 5);
        }
    return b;
}

// The editor maximised: menu, tool bar with icons, the stone bar, the properties panel with
// labels and fields, a level of textured stones on the grid, scroll bar and status bar.
inline TBitmap32 EditorImage(int32_t w, int32_t h, uint32_t seed = 11) {
    TBitmap32 b(w, h, 0xF0F0F0);
    TRandom rnd{seed};
    Gradient(b, 0, 0, w, 30, 0x0A246A, 0xA6CAF0);
    Text(b, 8, 9, 30, 0xFFFFFF, seed);
    FillRect(b, 0, 30, w, 50, 0xFFFFFF);
    for (int i = 0; i < 6; ++i)
        Text(b, 8 + i * 60, 34, 6, 0x000000, seed + uint32_t(i));
    static const uint32_t iconColours[] = {0x3060C0, 0x20A040, 0xC04020, 0xE0B020, 0x8040A0, 0x208080};
    for (int i = 0; i < 30; ++i) {
        const int32_t x0 = 6 + i * 26;
        Gradient(b, x0, 54, x0 + 23, 76, 0xFAFAFA, 0xE6E6E6);
        Disc(b, x0 + 11.5, 65, 7, 0xFFFFFF, iconColours[i % 6]);
    }
    const int32_t panel = 230, top = 82, bottom = h - 24;
    for (int i = 0; i < 14; ++i) {
        const int32_t y = top + 10 + i * 28;
        Text(b, 10, y + 4, 8, 0x000000, seed + 20 + uint32_t(i));
        FillRect(b, 90, y, panel - 12, y + 21, 0xFFFFFF);
        Frame(b, 90, y, panel - 12, y + 21, 0x7A7A7A);
        Text(b, 94, y + 5, 4, 0x000000, seed + 40 + uint32_t(i));
    }
    FillRect(b, panel, top, w - 17, bottom, 0x000000);
    for (int32_t y = top; y < bottom; y += 50)
        for (int32_t x = panel; x < w - 17; x += 50) {
            const int kind = rnd.Below(9);
            if (kind < 3) continue;
            TBitmap32 stone(50, 50, 0);
            if (kind == 3 || kind == 4) { // bricks
                const uint32_t base = kind == 3 ? 0x2050C0 : 0x30A040;
                for (int32_t sy = 0; sy < 50; ++sy)
                    for (int32_t sx = 0; sx < 50; ++sx) {
                        const bool mortar = sy % 12 == 0 || (sx + (sy / 12) * 12) % 25 == 0;
                        const int n = rnd.Below(24) - 12;
                        const uint32_t c = mortar ? 0x808080 : base;
                        stone.At(sx, sy) = Rgb(uint32_t(std::clamp(int(RedOf(c)) + n, 0, 255)),
                                               uint32_t(std::clamp(int(GreenOf(c)) + n, 0, 255)),
                                               uint32_t(std::clamp(int(BlueOf(c)) + n, 0, 255)));
                    }
            } else if (kind == 5) { // lava
                for (int32_t sy = 0; sy < 50; ++sy)
                    for (int32_t sx = 0; sx < 50; ++sx) {
                        const double v = 0.5 + 0.25 * std::sin(sx * 0.4 + std::sin(sy * 0.3) * 2) +
                                         0.25 * std::sin(sy * 0.5 + sx * 0.1);
                        stone.At(sx, sy) = Rgb(200 + uint32_t(55 * v), uint32_t(40 + 180 * v * v), 0);
                    }
            } else { // coins, hearts, figures on the black canvas
                Disc(stone, 25, 25, 16, kind == 6 ? 0xFFF080 : 0xFF8080, kind == 6 ? 0xA07000 : 0x900010);
                if (kind == 8) Text(stone, 18, 19, 2, 0x000000, seed + uint32_t(x));
            }
            for (int32_t sy = 0; sy < 50 && y + sy < bottom; ++sy)
                for (int32_t sx = 0; sx < 50 && x + sx < w - 17; ++sx)
                    b.At(x + sx, y + sy) = stone.At(sx, sy);
        }
    for (int32_t x = panel; x < w - 17; x += 50)
        FillRect(b, x, top, x + 1, bottom, 0x303030);
    for (int32_t y = top; y < bottom; y += 50)
        FillRect(b, panel, y, w - 17, y + 1, 0x303030);
    Gradient(b, w - 17, top, w, bottom, 0xE8E8E8, 0xD0D0D0);
    FillRect(b, 0, bottom, w, h, 0xF0F0F0);
    Text(b, 6, bottom + 6, 20, 0x000000, seed + 99);
    return b;
}

// A camera-like picture: soft colour blobs over a gradient, with sensor noise.
inline TBitmap32 NaturalImage(int32_t w, int32_t h, uint32_t seed = 5) {
    TRandom rnd{seed};
    struct TBlob {
        double X, Y, R;
        double C[3];
    } blobs[12];
    for (TBlob& k : blobs)
        k = {double(rnd.Below(w)),
             double(rnd.Below(h)),
             30.0 + rnd.Below(std::max(1, w / 3)),
             {rnd.Below(256) - 128.0, rnd.Below(256) - 128.0, rnd.Below(256) - 128.0}};
    TBitmap32 b(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            double c[3] = {90.0 + 80.0 * y / h, 120.0, 170.0 - 60.0 * x / w};
            for (const TBlob& k : blobs) {
                const double d2 = ((x - k.X) * (x - k.X) + (y - k.Y) * (y - k.Y)) / (k.R * k.R);
                for (int ch = 0; ch < 3; ++ch)
                    c[ch] += k.C[ch] * std::exp(-d2);
            }
            const int noise = rnd.Below(13) - 6;
            b.At(x, y) = Rgb(uint32_t(std::clamp(int(c[0]) + noise, 0, 255)),
                             uint32_t(std::clamp(int(c[1]) + noise, 0, 255)),
                             uint32_t(std::clamp(int(c[2]) + noise, 0, 255)));
        }
    return b;
}

// A smooth desktop background with a dialog on it.
inline TBitmap32 WallpaperImage(int32_t w, int32_t h) {
    TBitmap32 b(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            b.At(x, y) = Rgb(uint32_t(20 + 60 * y / h), uint32_t(60 + 100 * x / w),
                             uint32_t(150 + 80 * (x + y) / (w + h)));
    const TBitmap32 dialog = DialogImage(420, 160, true);
    for (int32_t y = 0; y < dialog.Height; ++y)
        for (int32_t x = 0; x < dialog.Width; ++x)
            b.At(w / 3 + x, h / 3 + y) = dialog.At(x, y);
    return b;
}

// Peak signal-to-noise ratio of two pictures of the same size, over the colour channels.
inline double Psnr(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int s = 0; s < 24; s += 8) {
            const double d = double((a[i] >> s) & 0xFF) - double((b[i] >> s) & 0xFF);
            se += d * d;
        }
    return 10 * std::log10(255.0 * 255.0 / (se / double(a.size() * 3) + 1e-12));
}

} // namespace ExternalTools
