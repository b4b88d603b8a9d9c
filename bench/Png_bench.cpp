// Screenshot pipeline costs at 1920x1080: Wu quantization (per megapixel), the whole mode-0 PNG,
// and the zoom the assistant forms use. The quality comparison against libimagequant (loaded at
// run time when present, speed 4, no dithering) and pngquant prints once per run.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "crashreport/bitmap/PngWriter.h"
#include "crashreport/bitmap/WuQuantizer.h"
#include "crashreport/bitmap/Zoom.h"
#include "tests/crashreport/bitmap/ExternalTools.h"
#include "tests/crashreport/bitmap/TestImages.h"

namespace {

using namespace ExternalTools;

const TBitmap32& Screen() {
    static const TBitmap32 img = ScreenshotImage(1920, 1080);
    return img;
}
const TBitmap32& Photo() {
    static const TBitmap32 img = PhotoImage(1920, 1080);
    return img;
}
const TBitmap32& Pick(int64_t which) {
    return which ? Photo() : Screen();
}

void MsPerMegapixel(benchmark::State& state, const TBitmap32& img) {
    state.counters["ms_per_MP"] = benchmark::Counter(
        double(state.iterations()) * double(img.Pixels.size()) * 1e-9, // time / this = ms per megapixel
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_WuQuantize(benchmark::State& state) {
    const TBitmap32& img = Pick(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(WuQuantize(img.Pixels, 256));
    MsPerMegapixel(state, img);
    state.SetLabel(state.range(0) ? "photo" : "screenshot");
}
BENCHMARK(BM_WuQuantize)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Palette plus the cached nearest-colour mapping of every pixel: all the colour work of a PNG.
void BM_WuQuantizeAndMap(benchmark::State& state) {
    const TBitmap32& img = Pick(state.range(0));
    std::vector<uint8_t> idx(img.Pixels.size());
    for (auto _ : state) {
        const auto palette = WuQuantize(img.Pixels, 256);
        auto mapper = std::make_unique<TPaletteMapper>(palette);
        for (size_t i = 0; i < idx.size(); ++i)
            idx[i] = mapper->Map(img.Pixels[i]);
        benchmark::DoNotOptimize(idx.data());
    }
    MsPerMegapixel(state, img);
    state.SetLabel(state.range(0) ? "photo" : "screenshot");
}
BENCHMARK(BM_WuQuantizeAndMap)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PngMode0(benchmark::State& state) {
    const TBitmap32& img = Pick(state.range(0));
    size_t bytes = 0;
    for (auto _ : state)
        bytes = PngBytes(img, 0).size();
    state.counters["png_bytes"] = double(bytes);
    state.SetLabel(state.range(0) ? "photo" : "screenshot");
}
BENCHMARK(BM_PngMode0)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Zoom1080pTo360p(benchmark::State& state) {
    const TBitmap32& img = Pick(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(ZoomBitmap(img, 640, 360));
    state.SetLabel(state.range(0) ? "photo" : "screenshot");
}
BENCHMARK(BM_Zoom1080pTo360p)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// ---- quality comparison, printed once ----

double Psnr(const TBitmap32& img, const std::vector<uint32_t>& out) {
    double se = 0;
    for (size_t i = 0; i < out.size(); ++i)
        for (int s = 0; s < 24; s += 8) {
            const double d = double((img.Pixels[i] >> s) & 0xFF) - double((out[i] >> s) & 0xFF);
            se += d * d;
        }
    return 10 * std::log10(65025.0 / (se / double(out.size() * 3) + 1e-12));
}

double Millis(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

struct TLiq { // the few libimagequant entry points used, resolved at run time
    void* (*AttrCreate)();
    int (*SetSpeed)(void*, int);
    void* (*ImageCreateRgba)(const void*, const void*, int, int, double);
    int (*ImageQuantize)(void*, void*, void**);
    int (*SetDithering)(void*, float);
    int (*WriteRemapped)(void*, void*, void*, size_t);
    const uint8_t* (*GetPalette)(void*); // {unsigned count; rgba entries[256]}
    void (*ResultDestroy)(void*);
    void (*ImageDestroy)(void*);
    void (*AttrDestroy)(void*);
};

bool LoadLiq(TLiq& liq) {
    void* lib = dlopen("libimagequant.so.0", RTLD_NOW);
    if (!lib) return false;
    auto sym = [&](auto& fn, const char* name) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
        return fn != nullptr;
    };
    return sym(liq.AttrCreate, "liq_attr_create") && sym(liq.SetSpeed, "liq_set_speed") &&
           sym(liq.ImageCreateRgba, "liq_image_create_rgba") &&
           sym(liq.ImageQuantize, "liq_image_quantize") && sym(liq.SetDithering, "liq_set_dithering_level") &&
           sym(liq.WriteRemapped, "liq_write_remapped_image") && sym(liq.GetPalette, "liq_get_palette") &&
           sym(liq.ResultDestroy, "liq_result_destroy") && sym(liq.ImageDestroy, "liq_image_destroy") &&
           sym(liq.AttrDestroy, "liq_attr_destroy");
}

void CompareQuality(const char* name, const TBitmap32& img) {
    auto t = std::chrono::steady_clock::now();
    const auto palette = WuQuantize(img.Pixels, 256);
    TPaletteMapper mapper(palette);
    std::vector<uint32_t> out(img.Pixels.size());
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = palette[mapper.Map(img.Pixels[i])];
    std::printf("%-10s Wu+cache        %7.1f ms  PSNR %5.2f dB\n", name, Millis(t), Psnr(img, out));

    TLiq liq;
    if (LoadLiq(liq)) {
        std::vector<uint8_t> rgba(img.Pixels.size() * 4);
        for (size_t i = 0; i < img.Pixels.size(); ++i) {
            rgba[4 * i] = uint8_t(RedOf(img.Pixels[i]));
            rgba[4 * i + 1] = uint8_t(GreenOf(img.Pixels[i]));
            rgba[4 * i + 2] = uint8_t(BlueOf(img.Pixels[i]));
            rgba[4 * i + 3] = 255;
        }
        t = std::chrono::steady_clock::now();
        void* attr = liq.AttrCreate();
        liq.SetSpeed(attr, 4);
        void* image = liq.ImageCreateRgba(attr, rgba.data(), img.Width, img.Height, 0);
        void* result = nullptr;
        if (liq.ImageQuantize(image, attr, &result) == 0) {
            liq.SetDithering(result, 0);
            std::vector<uint8_t> idx(img.Pixels.size());
            liq.WriteRemapped(result, image, idx.data(), idx.size());
            const uint8_t* pal = liq.GetPalette(result) + 4;
            for (size_t i = 0; i < out.size(); ++i)
                out[i] = Rgb(pal[4 * idx[i]], pal[4 * idx[i] + 1], pal[4 * idx[i] + 2]);
            std::printf("%-10s libimagequant   %7.1f ms  PSNR %5.2f dB\n", name, Millis(t), Psnr(img, out));
            liq.ResultDestroy(result);
        }
        liq.ImageDestroy(image);
        liq.AttrDestroy(attr);
    }

    if (HaveTool("pngquant") && HaveTool("convert")) {
        TTempDir dir;
        std::string ppm = "P6\n" + std::to_string(img.Width) + " " + std::to_string(img.Height) + "\n255\n";
        for (uint32_t p : img.Pixels)
            ppm += {char(RedOf(p)), char(GreenOf(p)), char(BlueOf(p))};
        WriteText(dir / "in.ppm", ppm);
        RunCommand("convert " + Quote(dir / "in.ppm") + " -type truecolor " + Quote(dir / "in.png"));
        t = std::chrono::steady_clock::now();
        RunCommand("pngquant --nofs --speed 4 --force --output " + Quote(dir / "q.png") + " " +
                   Quote(dir / "in.png"));
        const double ms = Millis(t);
        RunCommand("convert " + Quote(dir / "q.png") + " -depth 8 rgb:" + Quote(dir / "q.rgb"));
        const auto rgb = ReadBytes(dir / "q.rgb");
        if (rgb.size() == out.size() * 3) {
            for (size_t i = 0; i < out.size(); ++i)
                out[i] = Rgb(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
            std::printf("%-10s pngquant (exe)  %7.1f ms  PSNR %5.2f dB (includes PNG read/write)\n", name, ms,
                        Psnr(img, out));
        }
        // Pillow's median cut and fast octree, 256 colours, no dithering; Pillow times itself.
        if (HaveTool("/usr/bin/python3")) {
            for (const char* method : {"MEDIANCUT", "FASTOCTREE"}) {
                const std::string script =
                    "import sys,time; from PIL import Image; im=Image.open(sys.argv[1]).convert('RGB'); "
                    "t=time.perf_counter(); q=im.quantize(256, method=Image.Quantize." +
                    std::string(method) +
                    ", dither=Image.Dither.NONE); ms=(time.perf_counter()-t)*1000; "
                    "open(sys.argv[2],'wb').write(q.convert('RGB').tobytes()); print(ms)";
                const std::string outFile = dir / "p.rgb";
                const std::string cmd = "/usr/bin/python3 -c " + Quote(script) + " " + Quote(dir / "in.png") +
                                        " " + Quote(outFile) + " > " + Quote(dir / "ms.txt");
                RunCommand(cmd);
                const auto rgb = ReadBytes(outFile);
                const auto msText = ReadBytes(dir / "ms.txt");
                if (rgb.size() != out.size() * 3) continue;
                for (size_t i = 0; i < out.size(); ++i)
                    out[i] = Rgb(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
                std::printf("%-10s Pillow %-10s %7.1f ms  PSNR %5.2f dB\n", name, method,
                            std::atof(std::string(msText.begin(), msText.end()).c_str()), Psnr(img, out));
            }
        }
    }
}

const bool Compared = [] {
    CompareQuality("screenshot", Screen());
    CompareQuality("photo", Photo());
    return true;
}();

} // namespace
