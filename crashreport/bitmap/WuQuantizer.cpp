#include "crashreport/bitmap/WuQuantizer.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <memory>

#include "crashreport/bitmap/Bitmap32.h"

namespace {

// Up to this many distinct colours the palette is cut and refined over the exact colours.
constexpr size_t ExactColourLimit = 8192;
// Lloyd passes, each about as costly as a look at every histogram colour, and only while that is
// little beside the work on the pixels. Two gain up to 0.3 dB after the exact colours' cut; after
// the five-bit histogram's, the second adds next to nothing.
constexpr size_t ExactLloydPasses = 2, CoarseLloydPasses = 1;
// Colours the mapper remembers, for cells with more than one candidate.
constexpr int SeenBits = 14;
constexpr size_t SeenSize = size_t(1) << SeenBits;

// A colour of the histogram with its weight: an exact colour, or a five-bit cell at its mean.
struct TPoint {
    uint32_t Colour;
    uint64_t Weight;
    uint64_t Sum[3]; // red, green and blue over the point's pixels
};

uint32_t Channel(uint32_t colour, int axis) {
    return (colour >> (16 - 8 * axis)) & 0xFF;
}

// Pixel counts per exact colour in an open-addressed table; gives up beyond a limit.
class TColourCounts {
public:
    explicit TColourCounts(size_t limit) : Limit(limit) { Resize(1024); }

    // Counts `n` more pixels of the colour; false when that would exceed the limit.
    bool Add(uint32_t colour, uint32_t n) {
        for (size_t i = Slot(colour);; i = (i + 1) & Mask) {
            TSlot& s = Slots[i];
            if (s.Colour == colour) {
                s.Count += n;
                return true;
            }
            if (s.Colour == Free) {
                if (Used == Limit) return false;
                s = {colour, n};
                if (2 * ++Used > Slots.size()) Resize(2 * Slots.size());
                return true;
            }
        }
    }

    std::vector<TPoint> Points() const {
        std::vector<TPoint> points;
        points.reserve(Used);
        for (const TSlot& s : Slots)
            if (s.Colour != Free) {
                const uint64_t w = s.Count;
                points.push_back(
                    {s.Colour, w, {w * RedOf(s.Colour), w * GreenOf(s.Colour), w * BlueOf(s.Colour)}});
            }
        return points;
    }

private:
    static constexpr uint32_t Free = 0xFFFFFFFF; // no 24-bit colour
    struct TSlot {
        uint32_t Colour, Count; // a picture has at most 2^28 pixels
    };

    size_t Slot(uint32_t colour) const { return size_t((colour * 0x9E3779B1u) >> Shift); }
    void Resize(size_t size) {
        std::vector<TSlot> previous(size, TSlot{Free, 0});
        previous.swap(Slots);
        Mask = size - 1;
        Shift = 32;
        for (size_t s = size; s > 1; s >>= 1)
            --Shift;
        for (const TSlot& s : previous)
            if (s.Colour != Free)
                for (size_t j = Slot(s.Colour);; j = (j + 1) & Mask)
                    if (Slots[j].Colour == Free) {
                        Slots[j] = s;
                        break;
                    }
    }

    std::vector<TSlot> Slots;
    size_t Mask = 0, Used = 0, Limit;
    int Shift = 0;
};

// All exact colours of the picture, or false when there are more than the table's limit.
bool CountColours(std::span<const uint32_t> pixels, TColourCounts& counts) {
    for (size_t i = 0, n = pixels.size(); i < n;) {
        const uint32_t px = pixels[i] & 0xFFFFFF;
        size_t end = i + 1;
        while (end < n && (pixels[end] & 0xFFFFFF) == px)
            ++end;
        if (!counts.Add(px, uint32_t(end - i))) return false;
        i = end;
    }
    return true;
}

constexpr int Side = 33; // 32 cells per channel plus the zero plane of the cumulative moments
constexpr int HistogramCells = Side * Side * Side;

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
    TMoments()
        : Wt(HistogramCells), Mr(HistogramCells), Mg(HistogramCells), Mb(HistogramCells), M2(HistogramCells) {
    }

    // Runs of one colour, common in screenshots, are counted at once.
    void Build(std::span<const uint32_t> pixels) {
        for (size_t i = 0, n = pixels.size(); i < n;) {
            const uint32_t px = pixels[i] & 0xFFFFFF;
            size_t end = i + 1;
            while (end < n && (pixels[end] & 0xFFFFFF) == px)
                ++end;
            const int64_t w = int64_t(end - i);
            i = end;
            const int r = int(RedOf(px)), g = int(GreenOf(px)), b = int(BlueOf(px));
            const int k = Index((r >> 3) + 1, (g >> 3) + 1, (b >> 3) + 1);
            Wt[k] += w;
            Mr[k] += w * r;
            Mg[k] += w * g;
            Mb[k] += w * b;
            M2[k] += double(w) * double(r * r + g * g + b * b);
        }
    }

    // The occupied cells as points at their mean colour; before Accumulate().
    std::vector<TPoint> Cells() const {
        std::vector<TPoint> points;
        for (int k = 0; k < HistogramCells; ++k)
            if (const int64_t w = Wt[k]) {
                const auto mean = [w](int64_t sum) { return uint32_t((sum + w / 2) / w); };
                points.push_back({Rgb(mean(Mr[k]), mean(Mg[k]), mean(Mb[k])),
                                  uint64_t(w),
                                  {uint64_t(Mr[k]), uint64_t(Mg[k]), uint64_t(Mb[k])}});
            }
        return points;
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

// The palette of Wu's cut over the five-bit histogram: each box's mean colour.
std::vector<uint32_t> CoarseCut(const TMoments& m, int maxColors) {
    std::vector<TBox> boxes(static_cast<size_t>(maxColors));
    std::vector<double> vv(static_cast<size_t>(maxColors), 0.0);
    boxes[0].R1 = boxes[0].G1 = boxes[0].B1 = Side - 1;
    int count = maxColors, next = 0;
    for (int i = 1; i < maxColors; ++i) {
        if (Cut(boxes[next], boxes[i], m)) {
            vv[next] = boxes[next].Vol > 1 ? Variance(boxes[next], m) : 0.0;
            vv[i] = boxes[i].Vol > 1 ? Variance(boxes[i], m) : 0.0;
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
        const int64_t w = Volume(boxes[size_t(k)], m.Wt);
        if (w <= 0) continue;
        const auto mean = [&](const std::vector<int64_t>& mm) {
            return uint32_t((Volume(boxes[size_t(k)], mm) + w / 2) / w);
        };
        palette.push_back(Rgb(mean(m.Mr), mean(m.Mg), mean(m.Mb)));
    }
    return palette;
}

// Wu's cut at full precision: over the exact colours, a box is a range of the point list, cut
// where the summed squared means of the halves are largest.
class TFineCut {
public:
    explicit TFineCut(std::vector<TPoint>& points) : Points(points) {}

    std::vector<uint32_t> Palette(int maxColors) {
        std::vector<TRange> boxes{Measure(0, Points.size())};
        while (boxes.size() < size_t(maxColors)) {
            size_t next = 0;
            for (size_t k = 1; k < boxes.size(); ++k)
                if (boxes[k].Error > boxes[next].Error) next = k;
            if (boxes[next].Error <= 0) break;
            boxes.push_back(Split(boxes[next]));
        }
        std::vector<uint32_t> palette;
        for (const TRange& b : boxes) {
            const auto mean = [&b](int axis) { return uint32_t((b.Sum[axis] + b.Weight / 2) / b.Weight); };
            palette.push_back(Rgb(mean(0), mean(1), mean(2)));
        }
        return palette;
    }

private:
    struct TBin {
        uint64_t Weight, Sum[3];
    };
    struct TRange {
        size_t Begin, End;
        uint64_t Weight, Sum[3];
        double Error;             // summed squared distance of the pixels from the mean
        uint32_t Low[3], High[3]; // per channel
    };

    TRange Measure(size_t begin, size_t end) const {
        TRange r{begin, end, 0, {0, 0, 0}, 0, {255, 255, 255}, {0, 0, 0}};
        double square = 0;
        for (size_t i = begin; i < end; ++i) {
            const TPoint& p = Points[i];
            r.Weight += p.Weight;
            for (int a = 0; a < 3; ++a) {
                const uint32_t v = Channel(p.Colour, a);
                r.Sum[a] += p.Sum[a];
                square += double(p.Weight) * v * v;
                r.Low[a] = std::min(r.Low[a], v);
                r.High[a] = std::max(r.High[a], v);
            }
        }
        const bool oneColour = r.Low[0] == r.High[0] && r.Low[1] == r.High[1] && r.Low[2] == r.High[2];
        r.Error = oneColour ? 0 : std::max(0.0, square - SquaredMean(r.Sum, r.Weight));
        return r;
    }

    static double SquaredMean(const uint64_t* sum, uint64_t weight) {
        return (double(sum[0]) * double(sum[0]) + double(sum[1]) * double(sum[1]) +
                double(sum[2]) * double(sum[2])) /
               double(weight);
    }

    // Cuts the box in two, keeps the lower part in `box` and gives the upper one.
    TRange Split(TRange& box) {
        for (int a = 0; a < 3; ++a)
            std::fill(Bins[a].begin() + box.Low[a], Bins[a].begin() + box.High[a] + 1, TBin{0, {0, 0, 0}});
        for (size_t i = box.Begin; i < box.End; ++i) {
            const TPoint& p = Points[i];
            for (int a = 0; a < 3; ++a) {
                TBin& bin = Bins[a][Channel(p.Colour, a)];
                bin.Weight += p.Weight;
                bin.Sum[0] += p.Sum[0];
                bin.Sum[1] += p.Sum[1];
                bin.Sum[2] += p.Sum[2];
            }
        }
        double best = -1;
        int axis = 0;
        uint32_t cut = 0;
        for (int a = 0; a < 3; ++a) {
            uint64_t weight = 0, sum[3] = {0, 0, 0};
            for (uint32_t v = box.Low[a]; v < box.High[a]; ++v) {
                const TBin& bin = Bins[a][v];
                weight += bin.Weight;
                for (int c = 0; c < 3; ++c)
                    sum[c] += bin.Sum[c];
                if (bin.Weight == 0) continue;
                const uint64_t rest[3] = {box.Sum[0] - sum[0], box.Sum[1] - sum[1], box.Sum[2] - sum[2]};
                const double score = SquaredMean(sum, weight) + SquaredMean(rest, box.Weight - weight);
                if (score > best) best = score, axis = a, cut = v;
            }
        }
        const auto middle = std::partition(Points.begin() + std::ptrdiff_t(box.Begin),
                                           Points.begin() + std::ptrdiff_t(box.End),
                                           [&](const TPoint& p) { return Channel(p.Colour, axis) <= cut; });
        const size_t split = size_t(middle - Points.begin());
        const TRange upper = Measure(split, box.End);
        box = Measure(box.Begin, split);
        return upper;
    }

    std::vector<TPoint>& Points;
    std::vector<std::array<TBin, 256>> Bins = std::vector<std::array<TBin, 256>>(3); // per channel value
};

// Lloyd passes: each palette colour moves to the mean of the histogram's colours nearest to it,
// until none moves.
void Refine(std::vector<uint32_t>& palette, const std::vector<TPoint>& points, size_t pixels, size_t passes) {
    struct TSum {
        uint64_t Weight, Sum[3];
    };
    passes = std::min(passes, pixels / (4 * points.size()));
    for (size_t pass = 0; pass < passes; ++pass) {
        auto mapper = std::make_unique<TPaletteMapper>(palette);
        std::vector<TSum> sums(palette.size(), TSum{0, {0, 0, 0}});
        for (const TPoint& p : points) {
            TSum& s = sums[mapper->Map(p.Colour)];
            s.Weight += p.Weight;
            for (int a = 0; a < 3; ++a)
                s.Sum[a] += p.Sum[a];
        }
        bool moved = false;
        for (size_t k = 0; k < palette.size(); ++k) {
            const TSum& s = sums[k];
            if (s.Weight == 0) continue;
            const auto mean = [&s](int axis) { return uint32_t((s.Sum[axis] + s.Weight / 2) / s.Weight); };
            const uint32_t c = Rgb(mean(0), mean(1), mean(2));
            moved |= c != palette[k];
            palette[k] = c;
        }
        if (!moved) break;
    }
}

} // namespace

std::vector<uint32_t> WuQuantize(std::span<const uint32_t> pixels, int maxColors) {
    if (pixels.empty()) return {};
    maxColors = std::clamp(maxColors, 1, 256);
    std::vector<uint32_t> palette;
    std::vector<TPoint> points;
    auto counts = std::make_unique<TColourCounts>(ExactColourLimit);
    if (CountColours(pixels, *counts)) {
        points = counts->Points();
        counts.reset();
        if (points.size() <= size_t(maxColors)) {
            for (const TPoint& p : points)
                palette.push_back(p.Colour);
            std::sort(palette.begin(), palette.end());
            return palette;
        }
        palette = TFineCut(points).Palette(maxColors);
        Refine(palette, points, pixels.size(), ExactLloydPasses);
    } else {
        counts.reset();
        auto m = std::make_unique<TMoments>();
        m->Build(pixels);
        points = m->Cells();
        m->Accumulate();
        palette = CoarseCut(*m, maxColors);
        Refine(palette, points, pixels.size(), CoarseLloydPasses);
    }
    return palette;
}

TPaletteMapper::TPaletteMapper(std::span<const uint32_t> palette)
    : TopAt(512, -1), MiddleAt(4096, -1), CellAt(32768, -1) {
    for (size_t i = 0; i < palette.size() && i < 256; ++i) {
        R.push_back(int32_t(RedOf(palette[i])));
        G.push_back(int32_t(GreenOf(palette[i])));
        B.push_back(int32_t(BlueOf(palette[i])));
    }
    if (R.empty()) R = G = B = {0};
}

int32_t TPaletteMapper::BuildList(const int32_t* low, int32_t side, const uint8_t* from, size_t count) {
    // The nearest palette colour of any colour in the cube is one whose least distance to the cube
    // is within the smallest greatest distance of any palette colour to it.
    std::array<uint8_t, 256> index;
    std::array<int32_t, 256> r, g, b, least;
    std::copy(from, from + count, index.begin()); // `from` may lie in Lists, which grows below
    for (size_t k = 0; k < count; ++k)
        r[k] = R[index[k]], g[k] = G[index[k]], b[k] = B[index[k]];
    const int32_t high[3] = {low[0] + side - 1, low[1] + side - 1, low[2] + side - 1};
    int32_t bound = INT32_MAX;
    for (size_t k = 0; k < count; ++k) {
        const int32_t nr = std::max(std::max(low[0] - r[k], r[k] - high[0]), 0);
        const int32_t ng = std::max(std::max(low[1] - g[k], g[k] - high[1]), 0);
        const int32_t nb = std::max(std::max(low[2] - b[k], b[k] - high[2]), 0);
        const int32_t fr = std::max(r[k] - low[0], high[0] - r[k]);
        const int32_t fg = std::max(g[k] - low[1], high[1] - g[k]);
        const int32_t fb = std::max(b[k] - low[2], high[2] - b[k]);
        least[k] = nr + ng + nb;
        bound = std::min(bound, fr + fg + fb);
    }
    const int32_t at = int32_t(Lists.size());
    Lists.push_back(0);
    for (size_t k = 0; k < count; ++k)
        if (least[k] <= bound) Lists.push_back(index[k]);
    Lists[size_t(at)] = uint8_t(Lists.size() - size_t(at) - 2);
    return at;
}

int32_t TPaletteMapper::BuildCell(uint32_t key) {
    // Each list only needs to consider its parent's: the whole palette for a three-bit cell, then
    // the three-bit cell's list for a four-bit one, and that for the five-bit cell.
    static constexpr std::array<uint8_t, 256> Everything = [] {
        std::array<uint8_t, 256> all{};
        for (size_t i = 0; i < all.size(); ++i)
            all[i] = uint8_t(i);
        return all;
    }();
    const int32_t r = int32_t(key >> 10), g = int32_t(key >> 5 & 31), b = int32_t(key & 31);
    const auto build = [this](int32_t at, const int32_t* low, int32_t side) {
        return BuildList(low, side, &Lists[size_t(at) + 1], size_t(Lists[size_t(at)]) + 1);
    };
    int32_t& middle = MiddleAt[size_t(r >> 1 << 8 | g >> 1 << 4 | b >> 1)];
    if (middle < 0) {
        int32_t& top = TopAt[size_t(r >> 2 << 6 | g >> 2 << 3 | b >> 2)];
        if (top < 0) {
            const int32_t low[3] = {r >> 2 << 5, g >> 2 << 5, b >> 2 << 5};
            top = BuildList(low, 32, Everything.data(), R.size());
        }
        const int32_t low[3] = {r >> 1 << 4, g >> 1 << 4, b >> 1 << 4};
        middle = build(top, low, 16);
    }
    const int32_t low[3] = {r << 3, g << 3, b << 3};
    const int32_t at = build(middle, low, 8);
    if (Lists[size_t(at)] == 0) {
        const int32_t only = -2 - Lists[size_t(at) + 1];
        Lists.resize(size_t(at));
        return CellAt[key] = only;
    }
    return CellAt[key] = at;
}

uint8_t TPaletteMapper::Choose(uint32_t pixel, const uint8_t* list) {
    if (Seen.empty()) Seen.assign(SeenSize, 0xFFFFFFFF);
    uint32_t& seen = Seen[(pixel * 0x9E3779B1u) >> (32 - SeenBits)];
    if ((seen & 0xFFFFFF) == pixel && seen != 0xFFFFFFFF) return uint8_t(seen >> 24);
    // Distance and index in one number: the smallest is the nearest, the lowest index on a tie.
    const int32_t r = int32_t(RedOf(pixel)), g = int32_t(GreenOf(pixel)), b = int32_t(BlueOf(pixel));
    int32_t nearest = INT32_MAX;
    for (size_t k = 1, n = size_t(list[0]) + 1; k <= n; ++k) {
        const int32_t i = list[k];
        const int32_t d =
            std::abs(R[size_t(i)] - r) + std::abs(G[size_t(i)] - g) + std::abs(B[size_t(i)] - b);
        nearest = std::min(nearest, d << 8 | i);
    }
    const uint8_t best = uint8_t(nearest);
    seen = pixel | uint32_t(best) << 24;
    return best;
}
