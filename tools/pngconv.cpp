// pngconv: converts a BMP or binary PPM (P6) picture into a PNG of the crash reporter's writer,
// optionally resampled first. Usage: pngconv INPUT OUTPUT.png [MODE 0..5] [WIDTHxHEIGHT]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "crashreport/bitmap/Bitmap32.h"
#include "crashreport/bitmap/PngWriter.h"
#include "crashreport/bitmap/Zoom.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: pngconv INPUT.bmp|INPUT.ppm OUTPUT.png [MODE 0..5] [WIDTHxHEIGHT]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "pngconv: cannot open %s\n", argv[1]);
        return 1;
    }
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::optional<TBitmap32> bmp = LoadBmp(bytes);
    if (!bmp) bmp = LoadPpm(bytes);
    if (!bmp) {
        std::fprintf(stderr, "pngconv: %s is no BMP or binary PPM picture we can read\n", argv[1]);
        return 1;
    }
    int mode = 0;
    if (argc >= 4) {
        char* end = nullptr;
        const long m = std::strtol(argv[3], &end, 10);
        if (*end || m < 0 || m >= PngModeCount) {
            std::fprintf(stderr, "pngconv: mode must be 0..5\n");
            return 2;
        }
        mode = int(m);
    }
    if (argc == 5) {
        int w = 0, h = 0;
        char rest = 0;
        if (std::sscanf(argv[4], "%dx%d%c", &w, &h, &rest) != 2 || w <= 0 || h <= 0) {
            std::fprintf(stderr, "pngconv: size must be WIDTHxHEIGHT\n");
            return 2;
        }
        bmp = ZoomBitmap(*bmp, w, h);
        if (bmp->Empty()) {
            std::fprintf(stderr, "pngconv: %dx%d is too large\n", w, h);
            return 1;
        }
    }
    const std::vector<uint8_t> png = PngBytes(*bmp, mode);
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    out.close();
    if (png.empty() || !out) {
        std::fprintf(stderr, "pngconv: cannot write %s\n", argv[2]);
        std::remove(argv[2]);
        return 1;
    }
    std::printf("%dx%d mode %d: %zu bytes\n", bmp->Width, bmp->Height, mode, png.size());
    return 0;
}
