#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>

#include "crashreport/bitmap/PngWriter.h"
#include "tests/crashreport/bitmap/ExternalTools.h"
#include "tests/crashreport/bitmap/TestImages.h"

namespace {

using namespace ExternalTools;

struct TChunk {
    std::string Type;
    std::vector<uint8_t> Data;
};

uint32_t BE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// Splits the file into chunks (the CRCs are pngcheck's business).
std::vector<TChunk> Chunks(const std::vector<uint8_t>& png) {
    std::vector<TChunk> chunks;
    for (size_t pos = 8; pos + 12 <= png.size();) {
        const uint32_t len = BE32(&png[pos]);
        if (pos + 12 + len > png.size()) break;
        chunks.push_back(
            {std::string(png.begin() + long(pos) + 4, png.begin() + long(pos) + 8),
             std::vector<uint8_t>(png.begin() + long(pos) + 8, png.begin() + long(pos) + 8 + len)});
        pos += 12 + len;
    }
    return chunks;
}

std::vector<uint8_t> Inflate(const std::vector<uint8_t>& z, size_t expected) {
    std::vector<uint8_t> out(expected + 16);
    uLongf len = uLongf(out.size());
    if (uncompress(out.data(), &len, z.data(), uLong(z.size())) != Z_OK) return {};
    out.resize(len);
    return out;
}

class PngTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(HaveTool("pngcheck")) << "package pngcheck";
        ASSERT_EQ(RunCommand(std::string(SystemPython) + " -c 'import PIL'"), "") << "package python3-pil";
        WriteText(Dir / "decode.py", "import sys\n"
                                     "from PIL import Image\n"
                                     "im = Image.open(sys.argv[1]); im.load()\n"
                                     "print(im.size[0], im.size[1], im.mode)\n"
                                     "open(sys.argv[2], 'wb').write(im.convert('RGB').tobytes())\n");
    }

    // pngcheck's verdict line, e.g. "... (3x2, 8-bit palette, ...)"; fails the test if not OK.
    std::string Check(const std::vector<uint8_t>& png) {
        const std::string file = Dir / "t.png";
        WriteBytes(file, png);
        int status = 0;
        const std::string out = RunCommand("pngcheck -v " + Quote(file), &status);
        EXPECT_EQ(status, 0) << out;
        return out;
    }

    // The picture as an independent decoder sees it.
    std::vector<uint32_t> Decode(const std::vector<uint8_t>& png, int32_t w, int32_t h) {
        WriteBytes(Dir / "d.png", png);
        int status = 0;
        const std::string out = RunCommand(std::string(SystemPython) + " " + Quote(Dir / "decode.py") + " " +
                                               Quote(Dir / "d.png") + " " + Quote(Dir / "d.rgb"),
                                           &status);
        EXPECT_EQ(status, 0) << out;
        EXPECT_EQ(out, std::to_string(w) + " " + std::to_string(h) + " P\n");
        const auto rgb = ReadBytes(Dir / "d.rgb");
        std::vector<uint32_t> px;
        for (size_t i = 0; i + 2 < rgb.size(); i += 3)
            px.push_back(Rgb(rgb[i], rgb[i + 1], rgb[i + 2]));
        return px;
    }

    TTempDir Dir;
};

uint32_t ExpectedGrey(uint32_t c) {
    const int v = int(77 * RedOf(c) + 151 * GreenOf(c) + 28 * BlueOf(c)) / 256;
    int best = 0;
    for (int i = 1; i < 16; ++i)
        if (std::abs(PngGreyLevels[i] - v) < std::abs(PngGreyLevels[best] - v)) best = i;
    return Rgb(PngGreyLevels[best], PngGreyLevels[best], PngGreyLevels[best]);
}

TEST_F(PngTest, OneWhitePixelHasFullPaletteAndOneTwoByteRow) {
    const TBitmap32 white(1, 1, 0xFFFFFF);
    const auto png = PngBytes(white, 0);
    EXPECT_NE(Check(png).find("256 palette entries"), std::string::npos);
    const auto chunks = Chunks(png);
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[0].Type + chunks[1].Type + chunks[2].Type + chunks[3].Type, "IHDRPLTEIDATIEND");
    ASSERT_EQ(chunks[1].Data.size(), 768u);
    ASSERT_GE(chunks[2].Data.size(), 2u);
    EXPECT_EQ(chunks[2].Data[0], 0x78);
    EXPECT_EQ(chunks[2].Data[1], 0x01);
    const auto rows = Inflate(chunks[2].Data, 2);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], 0);
    const uint8_t* entry = &chunks[1].Data[rows[1] * 3u];
    EXPECT_EQ(Rgb(entry[0], entry[1], entry[2]), 0xFFFFFFu);
    EXPECT_EQ(Decode(png, 1, 1), white.Pixels);
}

TEST_F(PngTest, EveryModeRoundTripsAcrossSizes) {
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {2, 1}, {3, 2}, {17, 5}, {64, 33}, {1, 40}};
    for (auto [w, h] : sizes) {
        const TBitmap32 img = FewColourImage(w, h);
        for (int mode = 0; mode < PngModeCount; ++mode) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " mode " << mode);
            const auto png = PngBytes(img, mode);
            const std::string verdict = Check(png);
            EXPECT_NE(verdict.find(mode == 1 ? "4-bit palette" : "8-bit palette"), std::string::npos)
                << verdict;
            const auto px = Decode(png, w, h);
            ASSERT_EQ(px.size(), img.Pixels.size());
            for (size_t i = 0; i < px.size(); ++i)
                ASSERT_EQ(px[i], mode == 1 ? ExpectedGrey(img.Pixels[i]) : img.Pixels[i]) << "pixel " << i;
        }
    }
}

TEST_F(PngTest, AtMost256ColoursAreLossless) {
    const TBitmap32 img = CrowdedColoursImage(128, 96, 256); // many share a five-bit cell
    EXPECT_EQ(Decode(PngBytes(img, 0), 128, 96), img.Pixels);
}

TEST_F(PngTest, ManyColoursKeepTheirLook) {
    const TBitmap32 img = PhotoImage(301, 200);
    const auto png = PngBytes(img, 0);
    Check(png);
    EXPECT_GT(Psnr(Decode(png, 301, 200), img.Pixels), 29.0);

    const TBitmap32 screen = ScreenshotImage(640, 480);
    const auto spng = PngBytes(screen, 0);
    Check(spng);
    EXPECT_GT(Psnr(Decode(spng, 640, 480), screen.Pixels), 35.0);
}

TEST_F(PngTest, OddWidthGreyRowsEndInAZeroNibble) {
    TBitmap32 img(3, 2);
    img.Pixels = {0xFFFFFF, 0x000000, 0xFFFFFF, 0x808080, 0xFF0000, 0x0000FF};
    const auto png = PngBytes(img, 1);
    EXPECT_NE(Check(png).find("16 palette entries"), std::string::npos);
    const auto rows = Inflate(Chunks(png)[2].Data, 6);
    // Grey of 0x808080 is 128 -> level 125 (index 6); red 76 -> 73 (3); blue 27 -> 28 (1).
    EXPECT_EQ(rows, (std::vector<uint8_t>{0, 0xF0, 0xF0, 0, 0x63, 0x10}));
}

TEST_F(PngTest, SizeLimitChoosesTheSmallerGreyFileOnlyAboveTheLimit) {
    const TBitmap32 img = NoiseImage(240, 248);
    const auto colour = PalettePngBytes(img), grey = GreyPngBytes(img);
    ASSERT_GT(colour.size(), 51200u);
    ASSERT_LE(colour.size(), 102400u);
    ASSERT_LT(grey.size(), colour.size());
    EXPECT_EQ(PngBytes(img, 2), grey);
    EXPECT_EQ(PngBytes(img, 3), colour);
    EXPECT_EQ(PngBytes(img, 5), colour);
    EXPECT_NE(Check(PngBytes(img, 2)).find("4-bit palette"), std::string::npos);
}

TEST(PngWriter, EmptyPictureGivesNoFile) {
    for (int mode = 0; mode < PngModeCount; ++mode)
        EXPECT_TRUE(PngBytes(TBitmap32(), mode).empty());
    EXPECT_TRUE(PngBytes(TBitmap32(0, 5), 0).empty());
}

TEST(PngWriter, ModeFromScreenshotDepth) {
    EXPECT_EQ(PngModeFromDepth(4), 1);
    EXPECT_EQ(PngModeFromDepth(51200), 2);
    EXPECT_EQ(PngModeFromDepth(307200), 5);
    EXPECT_EQ(PngModeFromDepth(8), 0);
    EXPECT_EQ(PngModeFromDepth(51201), 0);
}

} // namespace
