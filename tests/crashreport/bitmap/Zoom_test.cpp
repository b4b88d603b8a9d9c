#include <gtest/gtest.h>

#include <cstdlib>

#include "crashreport/bitmap/Zoom.h"
#include "tests/crashreport/bitmap/ExternalTools.h"
#include "tests/crashreport/bitmap/TestImages.h"

namespace {

using namespace ExternalTools;

TEST(Zoom, FlatColourStaysExactInBothDirections) {
    const TBitmap32 flat(37, 23, 0x3A6EA5);
    for (auto [w, h] : {std::pair{12, 7}, std::pair{100, 51}, std::pair{1, 1}, std::pair{37, 5}}) {
        const TBitmap32 z = ZoomBitmap(flat, w, h);
        ASSERT_EQ(z.Width, w);
        ASSERT_EQ(z.Height, h);
        for (uint32_t p : z.Pixels)
            ASSERT_EQ(p, 0x3A6EA5u) << w << "x" << h;
    }
}

TEST(Zoom, SameSizeCopiesAndDegenerateSizesAreDefined) {
    const TBitmap32 img = NoiseImage(9, 4);
    EXPECT_EQ(ZoomBitmap(img, 9, 4).Pixels, img.Pixels);
    // Only the height changes: each column is filtered on its own.
    TBitmap32 stripes(3, 8);
    for (int32_t y = 0; y < 8; ++y)
        stripes.At(0, y) = 0xFF0000, stripes.At(1, y) = 0x00FF00, stripes.At(2, y) = 0;
    const TBitmap32 half = ZoomBitmap(stripes, 3, 4);
    for (int32_t y = 0; y < 4; ++y)
        EXPECT_EQ(half.At(1, y), 0x00FF00u);
    EXPECT_TRUE(ZoomBitmap(img, 0, 5).Empty());
    EXPECT_TRUE(ZoomBitmap(img, -1, 5).Empty());
    EXPECT_TRUE(ZoomBitmap(img, 70000, 70000).Empty()); // over the pixel limit
    const TBitmap32 fromEmpty = ZoomBitmap(TBitmap32(), 3, 2);
    EXPECT_EQ(fromEmpty.Pixels, std::vector<uint32_t>(6, 0));
}

TEST(Zoom, AgreesWithImageMagicksMitchellFilter) {
    ASSERT_TRUE(HaveTool("convert")) << "package imagemagick";
    TTempDir dir;
    const TBitmap32 img = PhotoImage(120, 90);
    std::string ppm = "P6\n120 90\n255\n";
    for (uint32_t p : img.Pixels)
        ppm += {char(RedOf(p)), char(GreenOf(p)), char(BlueOf(p))};
    WriteText(dir / "in.ppm", ppm);
    for (auto [w, h] : {std::pair{40, 30}, std::pair{77, 61}, std::pair{251, 180}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        int status = 0;
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        const std::string out = RunCommand("convert " + Quote(dir / "in.ppm") + " -filter Mitchell -resize " +
                                               size + "! -depth 8 rgb:" + Quote(dir / "out.rgb"),
                                           &status);
        ASSERT_EQ(status, 0) << out;
        const auto ref = ReadBytes(dir / "out.rgb");
        const TBitmap32 z = ZoomBitmap(img, w, h);
        ASSERT_EQ(ref.size(), z.Pixels.size() * 3);
        double sum = 0;
        int worst = 0;
        for (size_t i = 0; i < z.Pixels.size(); ++i)
            for (int c = 0; c < 3; ++c) {
                const int d =
                    std::abs(int((z.Pixels[i] >> (16 - 8 * c)) & 0xFF) - int(ref[3 * i + size_t(c)]));
                sum += d;
                worst = std::max(worst, d);
            }
        EXPECT_LT(sum / double(ref.size()), 0.6);
        EXPECT_LE(worst, 3);
    }
}

} // namespace
