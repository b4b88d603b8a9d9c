#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

#include "crashreport/bitmap/WuQuantizer.h"
#include "tests/crashreport/bitmap/TestImages.h"

namespace {

using namespace ExternalTools;

// The lowest index among the palette colours with the smallest sum of absolute differences.
uint8_t BruteNearest(const std::vector<uint32_t>& palette, uint32_t pixel) {
    size_t best = 0;
    int bestDist = 1 << 30;
    for (size_t i = 0; i < palette.size(); ++i) {
        const int d = std::abs(int(RedOf(palette[i])) - int(RedOf(pixel))) +
                      std::abs(int(GreenOf(palette[i])) - int(GreenOf(pixel))) +
                      std::abs(int(BlueOf(palette[i])) - int(BlueOf(pixel)));
        if (d < bestDist) bestDist = d, best = i;
    }
    return uint8_t(best);
}

std::vector<uint32_t> Mapped(const TBitmap32& img) {
    const auto palette = WuQuantize(img.Pixels, 256);
    TPaletteMapper mapper(palette);
    std::vector<uint32_t> out;
    for (uint32_t p : img.Pixels)
        out.push_back(palette[mapper.Map(p)]);
    return out;
}

TEST(WuQuantizer, FewColoursComeOutExactly) {
    TBitmap32 marked = CrowdedColoursImage(64, 48, 40);
    for (uint32_t& p : marked.Pixels)
        p |= 0xFF000000; // the fourth byte of a screen capture is not part of the colour
    const struct {
        TBitmap32 Image;
        int MaxColors;
    } cases[] = {
        {FewColourImage(50, 20), 256},
        {CrowdedColoursImage(128, 96, 256), 256}, // 256 colours, many in one five-bit cell
        {marked, 40},
        {TBitmap32(4, 4, 0x123456), 256},
    };
    for (const auto& c : cases) {
        std::set<uint32_t> colours;
        for (uint32_t p : c.Image.Pixels)
            colours.insert(p & 0xFFFFFF);
        ASSERT_LE(colours.size(), size_t(c.MaxColors));
        const auto palette = WuQuantize(c.Image.Pixels, c.MaxColors);
        EXPECT_EQ(std::set<uint32_t>(palette.begin(), palette.end()), colours);
        EXPECT_EQ(palette.size(), colours.size());
        TPaletteMapper mapper(palette);
        for (uint32_t p : c.Image.Pixels)
            ASSERT_EQ(palette[mapper.Map(p)], p & 0xFFFFFF);
    }
    EXPECT_TRUE(WuQuantize({}).empty());
    EXPECT_EQ(WuQuantize(PhotoImage(100, 100).Pixels, 256).size(), 256u);
    EXPECT_EQ(WuQuantize(PhotoImage(100, 100).Pixels, 16).size(), 16u);
    EXPECT_EQ(WuQuantize(CrowdedColoursImage(128, 96, 256).Pixels, 100).size(), 100u);
}

TEST(PaletteMapper, EveryPixelGetsItsNearestPaletteColour) {
    TRandom rnd{42};
    std::vector<uint32_t> random(256), crowded, whiteLast(256);
    for (uint32_t& c : random)
        c = rnd.Next() & 0xFFFFFF;
    random[7] = random[200]; // equally near: the lower index wins
    for (uint32_t k = 0; k < 64; ++k)
        crowded.push_back(Rgb(100 + k % 4, 100 + k / 4 % 4, 100 + k / 16)); // all in a few cells
    for (uint32_t& c : whiteLast)
        c = rnd.Next() & 0x7F7F7F;
    whiteLast[254] = 0xFAFAFA;
    whiteLast[255] = 0xFFFFFF; // its cache entry reads like an empty one
    const std::vector<uint32_t> palettes[] = {
        {0x808080},
        {0x000000, 0x141414}, // two colours whose halfway lies inside one five-bit cell
        {0x1C0707, 0x000000}, // as near to 0x070707 as its cell's corner, from outside the cell
        random,
        crowded,
        whiteLast,
        WuQuantize(NaturalImage(80, 60).Pixels),
        WuQuantize(DialogImage(200, 90, true).Pixels),
    };
    std::vector<uint32_t> pixels = NoiseImage(60, 60, 9).Pixels;
    for (const TBitmap32& img : {NaturalImage(80, 60), DialogImage(200, 90, true)})
        pixels.insert(pixels.end(), img.Pixels.begin(), img.Pixels.end());
    for (uint32_t v = 0; v < 256; v += 3)
        pixels.insert(pixels.end(),
                      {Rgb(v, v, v), Rgb(100 + v % 8, 100 + v / 8 % 8, 100 + v / 64), 0xFF000000 | v});
    pixels.insert(pixels.end(), {0x0F0F0F, 0x080808, 0x0F0F0F, 0x070707, 0xFFFFFF, 0xFEFEFE, 0xFFFFFF});
    for (size_t k = 0; k < std::size(palettes); ++k) {
        SCOPED_TRACE(testing::Message() << "palette " << k);
        TPaletteMapper mapper(palettes[k]);
        for (uint32_t p : pixels)
            ASSERT_EQ(mapper.Map(p), BruteNearest(palettes[k], p)) << std::hex << p;
    }
}

TEST(WuQuantizer, ScreenshotsAndPhotosStayAboveMedianCut) {
    // Pillow's median cut (256 colours, no dithering) reaches 47.4, 41.2 and 36.6 dB on these.
    const struct {
        TBitmap32 Image;
        double Floor;
    } cases[] = {
        {DialogImage(420, 160, true), 48.4},
        {EditorImage(640, 480), 42.2},
        {NaturalImage(320, 240), 37.6},
    };
    for (const auto& c : cases)
        EXPECT_GT(Psnr(Mapped(c.Image), c.Image.Pixels), c.Floor) << c.Image.Width << "x" << c.Image.Height;
}

} // namespace
