#include "level/LevelStone.h"

#include "level/Level.h"

#include <algorithm>
#include <cstdint>
#include <limits>

TLevelStone::TLevelStone(TLevel& level) : FLevel(level) {
    SetBounds(0, 0, StoneSize, StoneSize);
    FLevel.Saved = false;
}

TLevelStone::~TLevelStone() {
    FLevel.Saved = false;
}

void TLevelStone::SetStoneNr(int32_t n) {
    StoneNr = std::min(n, MaxStoneNr);
    SetPicture(StoneNr >= 0 ? StoneNr : -1);
    FLevel.Saved = false;
}

namespace {
// Pixel coordinate of a cell; the level size is unbounded, so keep left + width inside int32.
int32_t CellToPixel(int32_t cell) {
    int64_t px = int64_t{cell} * StoneSize;
    return static_cast<int32_t>(std::clamp<int64_t>(px, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max() - StoneSize));
}
} // namespace

void TLevelStone::SetPosition(int32_t x, int32_t y) {
    if (x == X && y == Y) return;
    // 64-bit so that a level size at the ends of int32 cannot overflow "size - 1".
    int64_t nx = std::max<int64_t>(x, 0);
    int64_t ny = std::max<int64_t>(y, 0);
    nx = std::min<int64_t>(nx, int64_t{FLevel.LevelWidth} - 1);
    ny = std::min<int64_t>(ny, int64_t{FLevel.LevelHeight} - 1);
    X = static_cast<int32_t>(std::max<int64_t>(nx, std::numeric_limits<int32_t>::min()));
    Y = static_cast<int32_t>(std::max<int64_t>(ny, std::numeric_limits<int32_t>::min()));
    SetBounds(CellToPixel(X), CellToPixel(Y), StoneSize, StoneSize);
    FLevel.Saved = false;
    FLevel.RefreshCanvas();
}

void TLevelStone::SetZembStage(int32_t n) {
    ZembStage = n;
}

void TLevelStone::Select() {
    Selected = true;
    DrawFrame();
}

void TLevelStone::Unselect() {
    Selected = false;
    SetStoneNr(StoneNr);
}
