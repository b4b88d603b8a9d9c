// Level files: any bytes must load without fault; whatever loads and fits the format must come back
// unchanged through a save and a second load.
#include "framework/Exceptions.h"
#include "level/Level.h"
#include "level/LevelFile.h"
#include "level/LevelStone.h"

#include <cstdio>
#include <cstdlib>

namespace {

TLevelStone* PlainStone(TLevel& level) {
    return new TLevelStone(level);
}

// Where the reader puts a stone written at (x, y): a stone may lie outside the grid (the size
// changed after it was placed, or a second header came after it), and reading clamps it.
void ReadBackPosition(const TLevel& level, int32_t& x, int32_t& y) {
    TLevel scratch;
    scratch.LevelWidth = level.LevelWidth;
    scratch.LevelHeight = level.LevelHeight;
    TLevelStone s(scratch);
    s.SetPosition(x, 0);
    s.SetPosition(s.X, y);
    x = s.X;
    y = s.Y;
}

bool SameStone(const TLevel& level, const TLevelStone& a, const TLevelStone& b) {
    int32_t x = a.X, y = a.Y;
    ReadBackPosition(level, x, y);
    if (a.StoneNr != b.StoneNr || x != b.X || y != b.Y) return false;
    switch (a.StoneNr) {
    case 1:
    case 2:
        return a.MoveX == b.MoveX && a.StartX == b.StartX && a.StopX == b.StopX && a.MoveY == b.MoveY &&
               a.StartY == b.StartY && a.StopY == b.StopY;
    case 5:
        return a.Golds == b.Golds && a.Lives == b.Lives && a.Keys == b.Keys && a.Extras == b.Extras;
    case 6:
        return a.SchalterAction == b.SchalterAction && a.SchalterTarget == b.SchalterTarget;
    case 10:
        return a.ZembStage == b.ZembStage && a.ZembInhalt == b.ZembInhalt;
    default:
        return true;
    }
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "round trip differs: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TLevel first;
    // Split the input once so that chunk boundaries are exercised too.
    try {
        TLevelReader reader(first, PlainStone);
        size_t half = size ? data[0] % (size + 1) : 0;
        reader.Feed(data, half);
        reader.Feed(data + half, size - half);
        reader.Finish();
    } catch (const EInOutError&) {
        return 0; // more stones than a level may hold
    }
    ComputeContentIndexes(first);
    if (CheckLevelRanges(first)) return 0;

    const std::vector<uint8_t> bytes = EncodeLevel(first);
    TLevel second;
    DecodeLevel(second, bytes.data(), bytes.size(), PlainStone);
    if (second.LevelWidth != first.LevelWidth || second.LevelHeight != first.LevelHeight ||
        second.StartPointX != first.StartPointX || second.StartPointY != first.StartPointY)
        Fail("header");
    if (second.Stones.size() != first.Stones.size()) Fail("stone count");
    for (size_t i = 0; i < first.Stones.size(); ++i)
        if (!SameStone(first, *first.Stones[i], *second.Stones[i])) Fail("stone");
    // Once read back, a level is stable: saving and loading it again changes no byte.
    ComputeContentIndexes(second);
    const std::vector<uint8_t> again = EncodeLevel(second);
    TLevel third;
    DecodeLevel(third, again.data(), again.size(), PlainStone);
    ComputeContentIndexes(third);
    if (EncodeLevel(third) != again) Fail("bytes");
    return 0;
}
