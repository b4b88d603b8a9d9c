#include "crashreport/bitmap/WuQuantizer.h"

#include <cstdlib>
#include <memory>

namespace {

constexpr int Side = 33; // 32 cells per channel plus the zero plane of the cumulative moments
constexpr int Cells = Side * Side * Side;

constexpr int Index(int r, int g, int b) {
    return (r * Side + g) * Side + b;
}

enum TAxis { AxisRed, AxisGreen, AxisBlue };

// A box of the histogram: lower bounds exclusive, upper bounds inclusive.
struct TBox {
    int R0 = 0, R1 = 0, G0 = 0, G1 = 0, B0 = 0, B1 = 0;
    int Vol = 0;
};

// Cumulative moments: after Accumulate() each cell holds the sums over the box from the origin.
struct TMoments {
    std::vector<int64_t> Wt, Mr, Mg, Mb;
    std::vector<double> M2;
    TMoments() : Wt(Cells), Mr(Cells), Mg(Cells), Mb(Cells), M2(Cells) {}

    void Build(std::span<const uint32_t> pixels) {
        for (uint32_t px : pixels) {
            const int r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
            const int i = Index((r >> 3) + 1, (g >> 3) + 1, (b >> 3) + 1);
            ++Wt[i];
            Mr[i] += r;
            Mg[i] += g;
            Mb[i] += b;
            M2[i] += double(r * r + g * g + b * b);
        }
        Accumulate();
    }

    void Accumulate() {
        int64_t area[Side], areaR[Side], areaG[Side], areaB[Side];
        double area2[Side];
        for (int r = 1; r < Side; ++r) {
            for (int b = 0; b < Side; ++b)
                area[b] = areaR[b] = areaG[b] = areaB[b] = 0, area2[b] = 0;
            for (int g = 1; g < Side; ++g) {
                int64_t line = 0, lineR = 0, lineG = 0, lineB = 0;
                double line2 = 0;
                for (int b = 1; b < Side; ++b) {
                    const int i = Index(r, g, b), below = Index(r - 1, g, b);
                    line += Wt[i];
                    lineR += Mr[i];
                    lineG += Mg[i];
                    lineB += Mb[i];
                    line2 += M2[i];
                    area[b] += line;
                    areaR[b] += lineR;
                    areaG[b] += lineG;
                    areaB[b] += lineB;
                    area2[b] += line2;
                    Wt[i] = Wt[below] + area[b];
                    Mr[i] = Mr[below] + areaR[b];
                    Mg[i] = Mg[below] + areaG[b];
                    Mb[i] = Mb[below] + areaB[b];
                    M2[i] = M2[below] + area2[b];
                }
            }
        }
    }
};

template <class T> T Volume(const TBox& c, const std::vector<T>& m) {
    return m[Index(c.R1, c.G1, c.B1)] - m[Index(c.R1, c.G1, c.B0)] - m[Index(c.R1, c.G0, c.B1)] +
           m[Index(c.R1, c.G0, c.B0)] - m[Index(c.R0, c.G1, c.B1)] + m[Index(c.R0, c.G1, c.B0)] +
           m[Index(c.R0, c.G0, c.B1)] - m[Index(c.R0, c.G0, c.B0)];
}

// The part of Volume() that does not depend on the box's upper bound along the axis.
int64_t Bottom(const TBox& c, TAxis axis, const std::vector<int64_t>& m) {
    switch (axis) {
    case AxisRed:
        return -m[Index(c.R0, c.G1, c.B1)] + m[Index(c.R0, c.G1, c.B0)] + m[Index(c.R0, c.G0, c.B1)] -
               m[Index(c.R0, c.G0, c.B0)];
    case AxisGreen:
        return -m[Index(c.R1, c.G0, c.B1)] + m[Index(c.R1, c.G0, c.B0)] + m[Index(c.R0, c.G0, c.B1)] -
               m[Index(c.R0, c.G0, c.B0)];
    default:
        return -m[Index(c.R1, c.G1, c.B0)] + m[Index(c.R1, c.G0, c.B0)] + m[Index(c.R0, c.G1, c.B0)] -
               m[Index(c.R0, c.G0, c.B0)];
    }
}

// The rest of Volume() with the upper bound along the axis replaced by `pos`.
int64_t Top(const TBox& c, TAxis axis, int pos, const std::vector<int64_t>& m) {
    switch (axis) {
    case AxisRed:
        return m[Index(pos, c.G1, c.B1)] - m[Index(pos, c.G1, c.B0)] - m[Index(pos, c.G0, c.B1)] +
               m[Index(pos, c.G0, c.B0)];
    case AxisGreen:
        return m[Index(c.R1, pos, c.B1)] - m[Index(c.R1, pos, c.B0)] - m[Index(c.R0, pos, c.B1)] +
               m[Index(c.R0, pos, c.B0)];
    default:
        return m[Index(c.R1, c.G1, pos)] - m[Index(c.R1, c.G0, pos)] - m[Index(c.R0, c.G1, pos)] +
               m[Index(c.R0, c.G0, pos)];
    }
}

double Variance(const TBox& c, const TMoments& m) {
    const double w = double(Volume(c, m.Wt));
    if (w <= 0) return 0;
    const double r = double(Volume(c, m.Mr)), g = double(Volume(c, m.Mg)), b = double(Volume(c, m.Mb));
    return Volume(c, m.M2) - (r * r + g * g + b * b) / w;
}

struct TSums {
    int64_t R, G, B, W;
};

// Best cut position along one axis: maximises the summed squared means of both halves.
double Maximize(const TBox& c, TAxis axis, int first, int last, int& cut, const TSums& whole,
                const TMoments& m) {
    const int64_t baseR = Bottom(c, axis, m.Mr), baseG = Bottom(c, axis, m.Mg), baseB = Bottom(c, axis, m.Mb),
                  baseW = Bottom(c, axis, m.Wt);
    double best = 0;
    cut = -1;
    for (int i = first; i < last; ++i) {
        int64_t hr = baseR + Top(c, axis, i, m.Mr), hg = baseG + Top(c, axis, i, m.Mg),
                hb = baseB + Top(c, axis, i, m.Mb), hw = baseW + Top(c, axis, i, m.Wt);
        if (hw == 0) continue; // never cut off an empty box
        double score = (double(hr) * hr + double(hg) * hg + double(hb) * hb) / double(hw);
        hr = whole.R - hr;
        hg = whole.G - hg;
        hb = whole.B - hb;
        hw = whole.W - hw;
        if (hw == 0) continue;
        score += (double(hr) * hr + double(hg) * hg + double(hb) * hb) / double(hw);
        if (score > best) {
            best = score;
            cut = i;
        }
    }
    return best;
}

bool Cut(TBox& set1, TBox& set2, const TMoments& m) {
    const TSums whole{Volume(set1, m.Mr), Volume(set1, m.Mg), Volume(set1, m.Mb), Volume(set1, m.Wt)};
    int cutR, cutG, cutB;
    const double maxR = Maximize(set1, AxisRed, set1.R0 + 1, set1.R1, cutR, whole, m);
    const double maxG = Maximize(set1, AxisGreen, set1.G0 + 1, set1.G1, cutG, whole, m);
    const double maxB = Maximize(set1, AxisBlue, set1.B0 + 1, set1.B1, cutB, whole, m);
    TAxis axis;
    if (maxR >= maxG && maxR >= maxB) {
        if (cutR < 0) return false; // no axis offers a cut into two non-empty boxes
        axis = AxisRed;
    } else if (maxG >= maxR && maxG >= maxB) {
        axis = AxisGreen;
    } else {
        axis = AxisBlue;
    }
    set2.R1 = set1.R1;
    set2.G1 = set1.G1;
    set2.B1 = set1.B1;
    switch (axis) {
    case AxisRed:
        set2.R0 = set1.R1 = cutR;
        set2.G0 = set1.G0;
        set2.B0 = set1.B0;
        break;
    case AxisGreen:
        set2.G0 = set1.G1 = cutG;
        set2.R0 = set1.R0;
        set2.B0 = set1.B0;
        break;
    case AxisBlue:
        set2.B0 = set1.B1 = cutB;
        set2.R0 = set1.R0;
        set2.G0 = set1.G0;
        break;
    }
    set1.Vol = (set1.R1 - set1.R0) * (set1.G1 - set1.G0) * (set1.B1 - set1.B0);
    set2.Vol = (set2.R1 - set2.R0) * (set2.G1 - set2.G0) * (set2.B1 - set2.B0);
    return true;
}

} // namespace

std::vector<uint32_t> WuQuantize(std::span<const uint32_t> pixels, int maxColors) {
    if (pixels.empty()) return {};
    maxColors = maxColors < 1 ? 1 : (maxColors > 256 ? 256 : maxColors);
    auto m = std::make_unique<TMoments>();
    m->Build(pixels);

    std::vector<TBox> boxes(static_cast<size_t>(maxColors));
    std::vector<double> vv(static_cast<size_t>(maxColors), 0.0);
    boxes[0].R1 = boxes[0].G1 = boxes[0].B1 = Side - 1;
    int count = maxColors, next = 0;
    for (int i = 1; i < maxColors; ++i) {
        if (Cut(boxes[next], boxes[i], *m)) {
            vv[next] = boxes[next].Vol > 1 ? Variance(boxes[next], *m) : 0.0;
            vv[i] = boxes[i].Vol > 1 ? Variance(boxes[i], *m) : 0.0;
        } else {
            vv[next] = 0.0;
            --i;
        }
        next = 0;
        double best = vv[0];
        for (int k = 1; k <= i; ++k)
            if (vv[k] > best) best = vv[k], next = k;
        if (best <= 0.0) {
            count = i + 1;
            break;
        }
    }

    std::vector<uint32_t> palette;
    palette.reserve(size_t(count));
    for (int k = 0; k < count; ++k) {
        const int64_t w = Volume(boxes[size_t(k)], m->Wt);
        if (w <= 0) continue;
        const auto mean = [&](const std::vector<int64_t>& mm) {
            return uint32_t((Volume(boxes[size_t(k)], mm) + w / 2) / w);
        };
        palette.push_back((mean(m->Mr) << 16) | (mean(m->Mg) << 8) | mean(m->Mb));
    }
    return palette;
}

TPaletteMapper::TPaletteMapper(std::span<const uint32_t> palette) : Palette(palette.begin(), palette.end()) {
    if (Palette.empty()) Palette.push_back(0);
    if (Palette.size() > 256) Palette.resize(256);
    Cache.fill(-1);
}

uint32_t TPaletteMapper::Nearest(uint32_t pixel) const {
    const int r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
    uint32_t best = 0;
    int bestDist = 1 << 30;
    for (size_t i = 0; i < Palette.size(); ++i) {
        const uint32_t c = Palette[i];
        const int d = std::abs(int((c >> 16) & 0xFF) - r) + std::abs(int((c >> 8) & 0xFF) - g) +
                      std::abs(int(c & 0xFF) - b);
        if (d < bestDist) {
            bestDist = d;
            best = uint32_t(i);
            if (d == 0) break;
        }
    }
    return best;
}
