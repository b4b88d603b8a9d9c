#include "crashreport/ui/ProgressStages.h"

#include <algorithm>

uint64_t MulDivFloor(uint64_t a, uint64_t b, uint64_t c) {
    if (c == 0) return 0;
    // Split a so that no product overflows: a = q*c + r with r < c, then r*b/c by halving.
    const uint64_t q = a / c, r = a % c;
    uint64_t result = q * b;
    // r * b / c with r < c: long division bit by bit over b.
    uint64_t rem = 0; // invariant: rem < c
    uint64_t quot = 0;
    for (int bit = 63; bit >= 0; --bit) {
        // rem = rem*2 + (bit of b) * r, tracked modulo c with carry into quot.
        const uint64_t doubled = rem >= c - rem ? rem - (c - rem) : rem * 2;
        quot = quot * 2 + (rem >= c - rem ? 1 : 0);
        rem = doubled;
        if ((b >> bit) & 1) {
            if (rem >= c - r) {
                rem -= c - r;
                ++quot;
            } else {
                rem += r;
            }
        }
    }
    return result + quot;
}

void TProgressStages::AddStage(const std::string& text, uint64_t weight) {
    weight = std::min(weight, UINT64_MAX - Sum);
    TStage stage{Sum, weight, text.empty() && !List.empty() ? List.back().Text : text};
    List.push_back(std::move(stage));
    Sum += weight;
}

void TProgressStages::ClearStages() {
    List.clear();
    Sum = 0;
    Current = 0;
}

bool TProgressStages::SetCurrentStage(int32_t v) {
    const int64_t count = int64_t(List.size());
    if (v == Current || v < 0 || v > count) return false;
    if (v == count) {
        Current = int32_t(count - 1);
        Position = 1000;
    } else {
        Current = v;
        Position = 0;
    }
    return true;
}

void TProgressStages::SetStagePosition(int32_t p) {
    Position = std::clamp(p, 0, 1000);
}

uint32_t TProgressStages::BarPosition() const {
    if (Current < 0 || size_t(Current) >= List.size() || Sum == 0) return 0;
    const TStage& s = List[size_t(Current)];
    const uint64_t done = s.Start + MulDivFloor(uint64_t(Position), s.Weight, 1000);
    return uint32_t(MulDivFloor(done, 1000, Sum));
}

std::string TProgressStages::CurrentText() const {
    return Current >= 0 && size_t(Current) < List.size() ? List[size_t(Current)].Text : std::string();
}
