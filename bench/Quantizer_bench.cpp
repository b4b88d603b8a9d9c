// The screenshot palette on a varied picture set: our PSNR and time beside Pillow's median cut
// (256 colours, no dithering; Pillow times itself), printed once per run, then the speed of the
// quantizer and the mapping per megapixel. ZE_QUANT_IMAGES=DIR adds the PNG files of DIR (for
// example build/screenshots/win64) to the set.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "crashreport/bitmap/PngWriter.h"
#include "crashreport/bitmap/WuQuantizer.h"
#include "tests/crashreport/bitmap/ExternalTools.h"
#include "tests/crashreport/bitmap/TestImages.h"

namespace {

using namespace ExternalTools;

struct TPicture {
    std::string Name;
    TBitmap32 Image;
};

// Pictures with more colours than the exact-colour cut takes, where few of them matter most.
TBitmap32 PhotoDialog() {
    TBitmap32 b = NaturalImage(1280, 1024, 9);
    const TBitmap32 d = DialogImage(600, 300, true, 17);
    for (int32_t y = 0; y < d.Height; ++y)
        for (int32_t x = 0; x < d.Width; ++x)
            b.At(300 + x, 200 + y) = d.At(x, y);
    return b;
}
TBitmap32 CrowdedNoise() {
    TBitmap32 b = CrowdedColoursImage(600, 400, 600);
    const TBitmap32 n = NoiseImage(600, 120);
    std::copy(n.Pixels.begin(), n.Pixels.end(), b.Pixels.begin());
    return b;
}
TBitmap32 GradientText() {
    TBitmap32 b(1920, 1080);
    for (int32_t y = 0; y < 1080; ++y)
        for (int32_t x = 0; x < 1920; ++x)
            b.At(x, y) =
                Rgb(uint32_t(x * 255 / 1919), uint32_t(y * 255 / 1079), uint32_t((x + y) * 255 / 2998));
    FillRect(b, 200, 100, 1700, 900, 0xFFFFFF);
    for (int line = 0; line < 60; ++line)
        Text(b, 220, 110 + line * 13, 200, 0x000000, uint32_t(line), line % 2);
    return b;
}

const std::vector<TPicture>& Pictures() {
    static const std::vector<TPicture> set = [] {
        std::vector<TPicture> s = {
            {"dialog", DialogImage(330, 140)},
            {"dialog-subpixel", DialogImage(420, 160, true)},
            {"few-colours", FewColourImage(200, 120)},
            {"crowded-256", CrowdedColoursImage(128, 96, 256)},
            {"crowded-600", CrowdedColoursImage(200, 150, 600)},
            {"crowded-4096", CrowdedColoursImage(320, 240, 4096)},
            {"editor-1280", EditorImage(1280, 1024)},
            {"editor-1920", EditorImage(1920, 1080, 12)},
            {"screenshot", ScreenshotImage(1920, 1080)},
            {"wallpaper", WallpaperImage(1280, 1024)},
            {"photo", PhotoImage(1920, 1080)},
            {"natural", NaturalImage(800, 600)},
            {"noise", NoiseImage(256, 256)},
            {"photo-dialog", PhotoDialog()},
            {"gradient-text", GradientText()},
            {"crowded-noise", CrowdedNoise()},
        };
        const char* dir = std::getenv("ZE_QUANT_IMAGES");
        if (!dir) return s;
        std::set<std::filesystem::path> files;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.path().extension() == ".png") files.insert(e.path());
        TTempDir tmp;
        for (const auto& f : files) {
            RunCommand(std::string(SystemPython) +
                       " -c 'import sys; from PIL import Image; "
                       "Image.open(sys.argv[1]).convert(\"RGB\").save(sys.argv[2])' " +
                       Quote(f.string()) + " " + Quote(tmp / "in.ppm"));
            if (auto img = LoadPpm(ReadBytes(tmp / "in.ppm")))
                s.push_back({f.stem().string(), std::move(*img)});
        }
        return s;
    }();
    return set;
}

double Psnr(const TBitmap32& img, const std::vector<uint32_t>& out) {
    double se = 0;
    for (size_t i = 0; i < out.size(); ++i)
        for (int s = 0; s < 24; s += 8) {
            const double d = double((img.Pixels[i] >> s) & 0xFF) - double((out[i] >> s) & 0xFF);
            se += d * d;
        }
    return 10 * std::log10(65025.0 / (se / double(out.size() * 3) + 1e-12));
}

size_t DistinctColours(const TBitmap32& img) {
    std::vector<uint32_t> c(img.Pixels);
    for (uint32_t& p : c)
        p &= 0xFFFFFF;
    std::sort(c.begin(), c.end());
    return size_t(std::unique(c.begin(), c.end()) - c.begin());
}

// Our palette and the mapping of every pixel, the colour work of a PNG.
std::vector<uint32_t> Quantized(const TBitmap32& img) {
    const auto palette = WuQuantize(img.Pixels, 256);
    auto mapper = std::make_unique<TPaletteMapper>(palette);
    std::vector<uint32_t> out(img.Pixels.size());
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = palette[mapper->Map(img.Pixels[i])];
    return out;
}

void Compare() {
    TTempDir dir;
    std::string args;
    const auto& set = Pictures();
    for (size_t k = 0; k < set.size(); ++k) {
        const TBitmap32& img = set[k].Image;
        const std::string head =
            "P6\n" + std::to_string(img.Width) + " " + std::to_string(img.Height) + "\n255\n";
        std::vector<uint8_t> ppm(head.begin(), head.end());
        for (uint32_t p : img.Pixels)
            ppm.insert(ppm.end(), {uint8_t(RedOf(p)), uint8_t(GreenOf(p)), uint8_t(BlueOf(p))});
        WriteBytes(dir / (std::to_string(k) + ".ppm"), ppm);
        args.append(1, ' ').append(Quote(dir / std::to_string(k)));
    }
    const std::string script =
        "import sys,time\n"
        "from PIL import Image\n"
        "for f in sys.argv[1:]:\n"
        "    im = Image.open(f + '.ppm').convert('RGB')\n"
        "    t = time.perf_counter()\n"
        "    q = im.quantize(256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)\n"
        "    ms = (time.perf_counter() - t) * 1000\n"
        "    open(f + '.rgb', 'wb').write(q.convert('RGB').tobytes())\n"
        "    print(ms)\n";
    WriteText(dir / "mediancut.py", script);
    std::istringstream pillowMs(
        RunCommand(std::string(SystemPython) + " " + Quote(dir / "mediancut.py") + args));

    std::printf("%-34s %9s %7s | %8s %8s | %8s %8s | %7s\n", "picture", "size", "colours", "ours dB",
                "ours ms", "Pillow", "Pillow", "ours -");
    std::printf("%-34s %9s %7s | %8s %8s | %8s %8s | %7s\n", "", "", "", "", "", "dB", "ms", "Pillow");
    int losses = 0;
    for (size_t k = 0; k < set.size(); ++k) {
        const TBitmap32& img = set[k].Image;
        std::vector<uint32_t> ours;
        double ms = 1e9;
        for (int run = 0; run < 3; ++run) { // the best of three
            const auto t = std::chrono::steady_clock::now();
            ours = Quantized(img);
            ms = std::min(
                ms, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count());
        }
        const double psnr = Psnr(img, ours);
        double pms = 0, ppsnr = 0;
        pillowMs >> pms;
        const auto rgb = ReadBytes(dir / (std::to_string(k) + ".rgb"));
        if (rgb.size() != img.Pixels.size() * 3) {
            std::printf("%s: no result from Pillow (package python3-pil)\n", set[k].Name.c_str());
            continue;
        }
        std::vector<uint32_t> out(img.Pixels.size());
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = Rgb(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
        ppsnr = Psnr(img, out);
        // 120 dB stands for "lossless" on both sides.
        const double shown = std::min(psnr, 120.0), pshown = std::min(ppsnr, 120.0);
        losses += shown < pshown;
        std::printf("%-34s %4dx%-4d %7zu | %8.2f %8.1f | %8.2f %8.1f | %+7.2f%s\n", set[k].Name.c_str(),
                    img.Width, img.Height, DistinctColours(img), shown, ms, pshown, pms, shown - pshown,
                    shown < pshown ? "  BELOW PILLOW" : "");
    }
    std::printf("%d of %zu pictures below Pillow's median cut\n\n", losses, set.size());
}

const bool Compared = (Compare(), true);

void MsPerMegapixel(benchmark::State& state, const TBitmap32& img) {
    state.counters["ms_per_MP"] =
        benchmark::Counter(double(state.iterations()) * double(img.Pixels.size()) * 1e-9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

const TBitmap32& Picture(const std::string& name) {
    for (const TPicture& p : Pictures())
        if (p.Name == name) return p.Image;
    std::abort();
}

void BM_Quantize(benchmark::State& state, const std::string& name) {
    const TBitmap32& img = Picture(name);
    for (auto _ : state)
        benchmark::DoNotOptimize(WuQuantize(img.Pixels, 256));
    MsPerMegapixel(state, img);
}

void BM_QuantizeAndMap(benchmark::State& state, const std::string& name) {
    const TBitmap32& img = Picture(name);
    std::vector<uint8_t> idx(img.Pixels.size());
    for (auto _ : state) {
        const auto palette = WuQuantize(img.Pixels, 256);
        auto mapper = std::make_unique<TPaletteMapper>(palette);
        for (size_t i = 0; i < idx.size(); ++i)
            idx[i] = mapper->Map(img.Pixels[i]);
        benchmark::DoNotOptimize(idx.data());
    }
    MsPerMegapixel(state, img);
}

void BM_PngMode0(benchmark::State& state, const std::string& name) {
    const TBitmap32& img = Picture(name);
    size_t bytes = 0;
    for (auto _ : state)
        bytes = PngBytes(img, 0).size();
    state.counters["png_bytes"] = double(bytes);
}

const bool Registered = [] {
    for (const char* name : {"screenshot", "photo", "editor-1920", "natural", "dialog-subpixel"}) {
        benchmark::RegisterBenchmark((std::string("BM_Quantize/") + name).c_str(), BM_Quantize,
                                     std::string(name))
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("BM_QuantizeAndMap/") + name).c_str(), BM_QuantizeAndMap,
                                     std::string(name))
            ->Unit(benchmark::kMillisecond);
    }
    for (const char* name : {"screenshot", "photo", "editor-1920"})
        benchmark::RegisterBenchmark((std::string("BM_PngMode0/") + name).c_str(), BM_PngMode0,
                                     std::string(name))
            ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
