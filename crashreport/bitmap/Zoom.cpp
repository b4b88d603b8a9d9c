#include "crashreport/bitmap/Zoom.h"

#include <algorithm>
#include <cmath>

double MitchellNetravali(double x) {
    x = std::fabs(x);
    if (x < 1) return (7.0 / 6.0) * x * x * x - 2.0 * x * x + 8.0 / 9.0;
    if (x < 2) return -(7.0 / 18.0) * x * x * x + 2.0 * x * x - (10.0 / 3.0) * x + 16.0 / 9.0;
    return 0;
}

namespace {

// For every target pixel along one direction, its source pixels and 16.16 weights summing to 1.
struct TContributors {
    std::vector<uint32_t> First; // target i uses entries First[i] .. First[i + 1] - 1
    std::vector<int32_t> Source;
    std::vector<int32_t> Weight;
};

TContributors Plan(int32_t srcSize, int32_t dstSize) {
    TContributors c;
    c.First.reserve(size_t(dstSize) + 1);
    c.First.push_back(0);
    if (srcSize == dstSize) { // same size: a copy, the filter would only blur
        for (int32_t i = 0; i < dstSize; ++i) {
            c.Source.push_back(i);
            c.Weight.push_back(65536);
            c.First.push_back(uint32_t(c.Source.size()));
        }
        return c;
    }
    const double scale = double(dstSize) / srcSize;
    const double filterScale = std::min(scale, 1.0); // widen the filter when shrinking
    const double radius = 2.0 / filterScale;
    std::vector<double> weights;
    for (int32_t i = 0; i < dstSize; ++i) {
        const double center = (i + 0.5) / scale - 0.5;
        const int64_t left = int64_t(std::ceil(center - radius)),
                      right = int64_t(std::floor(center + radius));
        weights.clear();
        double sum = 0;
        for (int64_t j = left; j <= right; ++j) {
            const double w = MitchellNetravali((center - double(j)) * filterScale);
            weights.push_back(w);
            sum += w;
        }
        const size_t begin = c.Source.size();
        int32_t total = 0;
        for (int64_t j = left; j <= right && sum != 0; ++j) {
            const int32_t w = int32_t(std::lround(weights[size_t(j - left)] / sum * 65536.0));
            if (w == 0) continue;
            c.Source.push_back(int32_t(std::clamp<int64_t>(j, 0, srcSize - 1))); // edges repeat
            c.Weight.push_back(w);
            total += w;
        }
        if (c.Source.size() == begin) { // cannot happen with this kernel; keep the nearest pixel
            c.Source.push_back(int32_t(std::clamp<int64_t>(std::llround(center), 0, srcSize - 1)));
            c.Weight.push_back(65536);
        } else { // rounding residue goes to the strongest tap so flat areas stay exact
            const auto strongest = std::max_element(c.Weight.begin() + ptrdiff_t(begin), c.Weight.end());
            *strongest += 65536 - total;
        }
        c.First.push_back(uint32_t(c.Source.size()));
    }
    return c;
}

inline uint32_t Clamp8(int32_t acc) {
    const int32_t v = (acc + 32768) >> 16;
    return uint32_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

TBitmap32 Horizontal(const TBitmap32& src, int32_t width, const TContributors& c) {
    TBitmap32 dst(width, src.Height);
    for (int32_t y = 0; y < src.Height; ++y) {
        const uint32_t* in = src.Row(y);
        uint32_t* out = dst.Row(y);
        for (int32_t x = 0; x < width; ++x) {
            int32_t r = 0, g = 0, b = 0;
            for (uint32_t k = c.First[size_t(x)]; k < c.First[size_t(x) + 1]; ++k) {
                const uint32_t p = in[c.Source[k]];
                const int32_t w = c.Weight[k];
                r += w * int32_t((p >> 16) & 0xFF);
                g += w * int32_t((p >> 8) & 0xFF);
                b += w * int32_t(p & 0xFF);
            }
            out[x] = Rgb(Clamp8(r), Clamp8(g), Clamp8(b));
        }
    }
    return dst;
}

TBitmap32 Vertical(const TBitmap32& src, int32_t height, const TContributors& c) {
    TBitmap32 dst(src.Width, height);
    const size_t w = size_t(src.Width);
    std::vector<int32_t> acc(w * 3);
    for (int32_t y = 0; y < height; ++y) {
        std::fill(acc.begin(), acc.end(), 0);
        // Whole source rows at a time keeps the reads sequential.
        for (uint32_t k = c.First[size_t(y)]; k < c.First[size_t(y) + 1]; ++k) {
            const uint32_t* in = src.Row(c.Source[k]);
            const int32_t wt = c.Weight[k];
            int32_t* a = acc.data();
            for (size_t x = 0; x < w; ++x, a += 3) {
                const uint32_t p = in[x];
                a[0] += wt * int32_t((p >> 16) & 0xFF);
                a[1] += wt * int32_t((p >> 8) & 0xFF);
                a[2] += wt * int32_t(p & 0xFF);
            }
        }
        uint32_t* out = dst.Row(y);
        for (size_t x = 0; x < w; ++x)
            out[x] = Rgb(Clamp8(acc[3 * x]), Clamp8(acc[3 * x + 1]), Clamp8(acc[3 * x + 2]));
    }
    return dst;
}

} // namespace

TBitmap32 ZoomBitmap(const TBitmap32& src, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || !ValidBitmapSize(width, height)) return {};
    if (src.Empty()) return TBitmap32(width, height);
    const TContributors cx = Plan(src.Width, width), cy = Plan(src.Height, height);
    // The intermediate picture is the expensive part: take the order that keeps it cheap.
    const uint64_t horizontalFirst =
        uint64_t(cx.Source.size()) * uint64_t(src.Height) + uint64_t(cy.Source.size()) * uint64_t(width);
    const uint64_t verticalFirst =
        uint64_t(cy.Source.size()) * uint64_t(src.Width) + uint64_t(cx.Source.size()) * uint64_t(height);
    const bool intermediateFits = horizontalFirst <= verticalFirst ? ValidBitmapSize(width, src.Height)
                                                                   : ValidBitmapSize(src.Width, height);
    if (!intermediateFits) return {};
    if (horizontalFirst <= verticalFirst) return Vertical(Horizontal(src, width, cx), height, cy);
    return Horizontal(Vertical(src, height, cy), width, cx);
}
