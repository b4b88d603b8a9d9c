#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "crashreport/bitmap/Bitmap32.h"
#include "tests/crashreport/bitmap/ExternalTools.h"
#include "tests/crashreport/bitmap/TestImages.h"

namespace {

using namespace ExternalTools;

std::vector<uint8_t> PpmBytes(const TBitmap32& b) {
    const std::string head =
        "P6\n# test\n" + std::to_string(b.Width) + " " + std::to_string(b.Height) + "\n255\n";
    std::vector<uint8_t> out(head.begin(), head.end());
    for (uint32_t p : b.Pixels)
        out.insert(out.end(), {uint8_t(RedOf(p)), uint8_t(GreenOf(p)), uint8_t(BlueOf(p))});
    return out;
}

// Only the eight corners of the colour cube: exact in every BMP flavour, also 16-bit.
TBitmap32 CornerColourImage(int32_t w, int32_t h) {
    TBitmap32 b(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t k = uint32_t(x * 3 + y * 5 + x * y) % 8;
            b.At(x, y) = Rgb(k & 1 ? 255 : 0, k & 2 ? 255 : 0, k & 4 ? 255 : 0);
        }
    return b;
}

TEST(Bmp, OwnFileIsReadByPillowAndImageMagick) {
    ASSERT_TRUE(HaveTool("identify")) << "package imagemagick";
    TTempDir dir;
    const TBitmap32 img = FewColourImage(7, 3);
    const auto bmp = BmpBytes(img);
    ASSERT_EQ(bmp.size(), 54u + 7 * 3 * 4);
    WriteBytes(dir / "a.bmp", bmp);
    EXPECT_EQ(RunCommand("identify -format '%w %h' " + Quote(dir / "a.bmp")), "7 3");
    const std::string script = "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
                               "open(sys.argv[2], 'wb').write(im.convert('RGB').tobytes())\n";
    WriteText(dir / "dump.py", script);
    int status = 0;
    const std::string out = RunCommand(std::string(SystemPython) + " " + Quote(dir / "dump.py") + " " +
                                           Quote(dir / "a.bmp") + " " + Quote(dir / "a.rgb"),
                                       &status);
    ASSERT_EQ(status, 0) << out;
    const auto rgb = ReadBytes(dir / "a.rgb");
    ASSERT_EQ(rgb.size(), 7u * 3 * 3);
    for (size_t i = 0; i < img.Pixels.size(); ++i)
        EXPECT_EQ(Rgb(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]), img.Pixels[i]) << i;

    const auto back = LoadBmp(bmp);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Pixels, img.Pixels);
}

TEST(Bmp, LoadsEveryFlavourImageMagickWrites) {
    ASSERT_TRUE(HaveTool("convert")) << "package imagemagick";
    TTempDir dir;
    const TBitmap32 img = CornerColourImage(13, 7);
    WriteBytes(dir / "in.ppm", PpmBytes(img));
    TBitmap32 mono(9, 5);
    for (int32_t i = 0; i < 45; ++i)
        mono.Pixels[size_t(i)] = (i * 7 % 3) ? 0xFFFFFF : 0;
    WriteBytes(dir / "mono.ppm", PpmBytes(mono));

    struct TCase {
        const char* Options;
        const TBitmap32* Expected;
        const char* Input;
    } cases[] = {
        {"-type palette BMP3:", &img, "in.ppm"},               // 4 bits, palette of 8
        {"-type palette -compress RLE BMP3:", &img, "in.ppm"}, // RLE8
        {"-type truecolor BMP3:", &img, "in.ppm"},             // 24 bits
        {"-define bmp:subtype=RGB565 BMP:", &img, "in.ppm"},   // 16 bits, bit fields, V5 header
        {"-type truecoloralpha BMP:", &img, "in.ppm"},         // 32 bits with alpha
        {"-monochrome BMP3:", &mono, "mono.ppm"},              // 1 bit
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Options);
        int status = 0;
        const std::string out =
            RunCommand("convert " + Quote(dir / c.Input) + " " + c.Options + Quote(dir / "out.bmp"), &status);
        ASSERT_EQ(status, 0) << out;
        const auto loaded = LoadBmp(ReadBytes(dir / "out.bmp"));
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->Width, c.Expected->Width);
        EXPECT_EQ(loaded->Height, c.Expected->Height);
        EXPECT_EQ(loaded->Pixels, c.Expected->Pixels);
    }
}

TEST(Bmp, TopDownRowsAndHandMadeRunLengthStreams) {
    const TBitmap32 img = FewColourImage(5, 4);
    auto bytes = BmpBytes(img);
    // Negative height: the same rows in top-down order.
    const int32_t negative = -4;
    std::memcpy(&bytes[22], &negative, 4);
    std::vector<uint8_t> rows(bytes.begin() + 54, bytes.end());
    for (int y = 0; y < 4; ++y)
        std::copy_n(rows.begin() + (3 - y) * 20, 20, bytes.begin() + 54 + y * 20);
    const auto topDown = LoadBmp(bytes);
    ASSERT_TRUE(topDown);
    EXPECT_EQ(topDown->Pixels, img.Pixels);

    // 6x3 RLE4 with a run, an absolute run, end of line, a delta and end of bitmap; palette 0..3.
    std::vector<uint8_t> rle4(54 + 16, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&rle4[at], &v, 4); };
    rle4[0] = 'B';
    rle4[1] = 'M';
    put32(10, 54 + 16);
    put32(14, 40);
    put32(18, 6);
    put32(22, 3);
    put32(26, 1 | 4 << 16); // planes, bits per pixel
    put32(30, 2);           // RLE4
    put32(46, 4);           // colours used
    put32(58, 0xFF);        // palette: black, blue, green, red
    put32(62, 0xFF00);
    put32(66, 0xFF0000);
    const uint8_t stream[] = {4, 0x12, 0, 3, 0x30, 0x10, 0, 0, 0, 2, 1, 0, 2, 0x33, 0, 1};
    rle4.insert(rle4.end(), std::begin(stream), std::end(stream));
    const auto decoded = LoadBmp(rle4);
    ASSERT_TRUE(decoded);
    const uint32_t k = 0, b = 0xFF, g = 0xFF00, r = 0xFF0000;
    // Bottom row: 1 2 1 2, then absolute 3 0 1 cut at the row's end. Middle row: the delta moves
    // to x=1, then two 3s. Top row untouched.
    EXPECT_EQ(decoded->Pixels, (std::vector<uint32_t>{k, k, k, k, k, k, k, r, r, k, k, k, b, g, b, g, r, k}));
}

TEST(Bmp, MalformedFilesGiveNoPicture) {
    const auto good = BmpBytes(FewColourImage(9, 5));
    // Every truncation inside the pixel rows fails; none may read past the end.
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(LoadBmp(std::span<const uint8_t>(good.data(), n))) << n;
    auto bad = good;
    bad[28] = 2; // 2 bits per pixel is no Windows format
    EXPECT_FALSE(LoadBmp(bad));
    bad = good;
    const int32_t huge = 0x7FFFFFFF;
    std::memcpy(&bad[18], &huge, 4);
    EXPECT_FALSE(LoadBmp(bad));
    bad = good;
    bad[30] = 4; // JPEG inside a BMP
    EXPECT_FALSE(LoadBmp(bad));
    // Byte flips anywhere in the headers must not crash.
    for (size_t i = 0; i < 54; ++i)
        for (uint8_t v : {uint8_t(0), uint8_t(0x80), uint8_t(0xFF)}) {
            bad = good;
            bad[i] = v;
            (void)LoadBmp(bad);
        }
}

TEST(Ppm, ReadsBinaryPpmAndRejectsOthers) {
    const TBitmap32 img = FewColourImage(3, 2);
    const auto ppm = PpmBytes(img);
    const auto back = LoadPpm(ppm);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Pixels, img.Pixels);
    EXPECT_FALSE(LoadPpm(std::span<const uint8_t>(ppm.data(), ppm.size() - 1)));
    const std::string ascii = "P3\n1 1\n255\n0 0 0\n";
    EXPECT_FALSE(LoadPpm(std::vector<uint8_t>(ascii.begin(), ascii.end())));
    const std::string wide = "P6\n1 1\n65535\n";
    std::vector<uint8_t> w16bytes(wide.begin(), wide.end());
    w16bytes.insert(w16bytes.end(), {0xFF, 0xFF, 0x00, 0x00, 0x80, 0x00});
    const auto w16 = LoadPpm(w16bytes);
    ASSERT_TRUE(w16);
    EXPECT_EQ(w16->Pixels[0], Rgb(255, 0, 128));
}

} // namespace
