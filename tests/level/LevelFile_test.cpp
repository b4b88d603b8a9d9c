#include "framework/Exceptions.h"
#include "tests/level/LevelTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// One line per level: size, start point and every stone with the fields its type stores.
std::string Describe(const TLevel& l) {
    auto n = [](int32_t v) { return std::to_string(v); };
    auto f = [](bool b) { return b ? "e" : "d"; };
    std::string d =
        n(l.LevelWidth) + "x" + n(l.LevelHeight) + " (" + n(l.StartPointX) + "," + n(l.StartPointY) + ")";
    for (const TLevelStone* s : l.Stones) {
        d += " [" + n(s->X) + "," + n(s->Y) + "," + n(s->StoneNr);
        switch (s->StoneNr) {
        case 1:
        case 2:
            d += std::string(" ") + f(s->MoveX) + n(s->StartX) + "-" + n(s->StopX) + f(s->MoveY) +
                 n(s->StartY) + "-" + n(s->StopY);
            break;
        case 5:
            d += " c" + n(s->Golds) + "," + n(s->Lives) + "," + n(s->Keys) + "," + n(s->Extras);
            break;
        case 6:
            d += " s" + n(s->SchalterAction) + ">" + n(s->SchalterTarget);
            break;
        case 10:
            d += " z" + n(s->ZembStage) + "," + n(s->ZembInhalt);
            break;
        default:
            break;
        }
        d += "]";
    }
    return d;
}

struct LevelFileTest : ::testing::Test {
    TFakeCanvas Canvas; // outlives the stones
    TLevel Level;

    TLevelStone* AddStone(int32_t nr, int32_t x, int32_t y) {
        auto* s = Canvas.Factory()(Level);
        s->SetStoneNr(nr);
        s->SetPosition(x, y);
        Level.Stones.push_back(s);
        return s;
    }
    Bytes Save() {
        ComputeContentIndexes(Level);
        EXPECT_FALSE(CheckLevelRanges(Level).has_value());
        return EncodeLevel(Level);
    }
    void Load(const Bytes& b) { DecodeLevel(Level, b.data(), b.size(), Canvas.Factory()); }
};

const Bytes WorkedExample = {0x01, 0x30, 0x2C, 0x21, 0x2A, 0x02, 0x23, 0x25, 0x21, 0x65,
                             0x23, 0x27, 0x64, 0x20, 0x20, 0x24, 0x22, 0x25, 0x22, 0x21,
                             0x20, 0x20, 0x20, 0x23, 0x2F, 0x2B, 0x2C, 0x03, 0x0D, 0x0A};

TEST_F(LevelFileTest, WritesTheWorkedExample) {
    Level.StartPointX = 1;
    Level.StartPointY = 10;
    TLevelStone* moving = AddStone(1, 3, 5);
    moving->MoveX = true;
    moving->StartX = 3;
    moving->StopX = 7;
    TLevelStone* content = AddStone(5, 4, 2);
    content->Golds = 2;
    content->Lives = 1;
    content->MoveX = true; // not its kind: not written
    AddStone(12, 15, 11);
    EXPECT_EQ(Save(), WorkedExample);
    EXPECT_EQ(content->ContentIndex, 3);
}

TEST_F(LevelFileTest, ReadsTheWorkedExampleWithOneRefresh) {
    int refreshes = 0;
    Level.OnRefreshCanvas = [&] { ++refreshes; };
    Level.Saved = false;
    Load(WorkedExample);
    EXPECT_EQ(Describe(Level), "16x12 (1,10) [3,5,1 e3-7d0-0] [4,2,5 c2,1,0,0] [15,11,12]");
    EXPECT_EQ(Level.Stones[1]->ContentIndex, 0);
    EXPECT_EQ(Level.Stones[2]->BoundsRect(), (TRect{750, 550, 800, 600}));
    EXPECT_EQ(Level.Stones[2]->PictureIndex(), 12);
    EXPECT_EQ(Canvas.Children.Count(), 3u);
    EXPECT_EQ(Level.CurrentStone, nullptr);
    EXPECT_TRUE(Level.Saved);
    EXPECT_EQ(refreshes, 1);
}

TEST_F(LevelFileTest, WritesSmallLevels) {
    EXPECT_EQ(Save(), (Bytes{0x01, 0x30, 0x2C, 0x20, 0x20, 0x02, 0x03, 0x0D, 0x0A}));

    TLevelStone* sw = AddStone(6, 2, 3);
    sw->SchalterAction = 2;
    sw->SchalterTarget = 300;
    EXPECT_EQ(Save(), (Bytes{0x01, 0x30, 0x2C, 0x20, 0x20, 0x02, 0x22, 0x23, 0x26, 0x22, 0x21, 0x6C, 0x03,
                             0x0D, 0x0A}));
}

TEST_F(LevelFileTest, ContentIndexCountsStonesAndEarlierContents) {
    TLevelStone* first = AddStone(5, 0, 0);
    first->Golds = 3;
    first->Lives = 1;
    first->Keys = 2;
    AddStone(1, 1, 0)->StartX = 50; // other kinds add nothing
    TLevelStone* second = AddStone(5, 2, 0);
    AddStone(3, 3, 0);
    AddStone(10, 4, 0);
    ComputeContentIndexes(Level);
    EXPECT_EQ(first->ContentIndex, 5);
    EXPECT_EQ(second->ContentIndex, 11);
}

TEST_F(LevelFileTest, AStoneLeftOutsideAShrunkLevelIsWrittenAsItIsAndClampedOnReading) {
    Level.LevelWidth = 30;
    AddStone(12, 20, 5);
    Level.LevelWidth = 10;
    const Bytes saved = Save();
    EXPECT_EQ(saved[6], 20 + 32);
    TFakeCanvas canvas;
    TLevel loaded;
    DecodeLevel(loaded, saved.data(), saved.size(), canvas.Factory());
    EXPECT_EQ(Describe(loaded), "10x12 (0,0) [9,5,12]");
}

struct ReadCase {
    const char* Name;
    Bytes In;
    const char* Want;
    friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.Name; }
};

class ReadTest : public LevelFileTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, ReadsByteByByte) {
    const ReadCase& c = GetParam();
    Load(c.In);
    EXPECT_EQ(Describe(Level), c.Want);
    // a record cut short leaves no tile behind
    EXPECT_EQ(Canvas.Children.Count(), Level.Stones.size());
    EXPECT_TRUE(Level.Saved);

    // the same bytes fed one at a time
    TFakeCanvas canvas;
    TLevel level;
    {
        TLevelReader reader(level, canvas.Factory());
        for (uint8_t b : c.In)
            reader.Feed(&b, 1);
    }
    EXPECT_EQ(Describe(level), c.Want);
    EXPECT_EQ(canvas.Children.Count(), level.Stones.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadTest,
    ::testing::Values(
        ReadCase{"IgnoresBytesBeforeMarker1AndAfterTheHeader",
                 {0x41, 0x20, 0x01, 0x30, 0x2C, 0x21, 0x2A, 0x55, 0x56, 0x02, 0x23, 0x25, 0x2C, 0x03},
                 "16x12 (1,10) [3,5,12]"},
        ReadCase{"StopsAtMarker3",
                 {0x01, 0x30, 0x2C, 0x20, 0x20, 0x02, 0x23, 0x25, 0x2C, 0x03, 0x24, 0x24, 0x2C},
                 "16x12 (0,0) [3,5,12]"},
        ReadCase{"StopsAtByte26",
                 {0x02, 0x23, 0x25, 0x2C, 0x1A, 0x24, 0x24, 0x2C, 0x01, 0x40},
                 "16x12 (0,0) [3,5,12]"},
        ReadCase{"DropsARecordCutShortByTheEnd",
                 {0x02, 0x23, 0x25, 0x2C, 0x24, 0x22, 0x25, 0x22, 0x21},
                 "16x12 (0,0) [3,5,12]"},
        ReadCase{"DropsARecordCutShortByAMarker",
                 {0x02, 0x23, 0x25, 0x25, 0x22, 0x02, 0x24, 0x24, 0x2C, 0x21, 0x01, 0x25, 0x25},
                 "5x5 (0,0) [4,4,12]"},
        ReadCase{"DropsARecordCutShortByMarker3", {0x02, 0x23, 0x25, 0x26, 0x22, 0x21, 0x03}, "16x12 (0,0)"},
        // the half-read target must not carry over into the next stone's X
        ReadCase{"DropsASwitchCutInsideItsTarget",
                 {0x02, 0x21, 0x21, 0x26, 0x22, 0x21, 0x02, 0x22, 0x22, 0x2C, 0x03},
                 "16x12 (0,0) [2,2,12]"},
        ReadCase{"ClampsPositionsOntoTheHeaderGrid",
                 {0x01, 0x30, 0x2C, 0x20, 0x20, 0x02, 0xFF, 0xFF, 0x2C, 0x1F, 0x1F, 0x2C, 0x30, 0x20, 0x2C},
                 "16x12 (0,0) [15,11,12] [0,0,12] [15,0,12]"},
        // at step 0 the new stone is at (0, 0), so x = 0 is a no-op and escapes the clamp to -1
        ReadCase{"KeepsTheNoOpOfTheFirstPosition",
                 {0x01, 0x20, 0x20, 0x20, 0x20, 0x02, 0x20, 0x20, 0x2C, 0x21, 0x20, 0x2C},
                 "0x0 (0,0) [0,0,12] [-1,-1,12]"},
        // the raw value picks the record length: above 17 and negative values are plain records
        ReadCase{
            "TypesAbove17AreSeventeenWithPlainRecords",
            {0x02, 0x21, 0x21, 0x3A, 0x21, 0x21, 0x31, 0x22, 0x22, 0xFF, 0x23, 0x23, 0x1F, 0x24, 0x24, 0x2C},
            "16x12 (0,0) [1,1,17] [1,1,17] [2,2,17] [3,3,-1] [4,4,12]"},
        ReadCase{"FlagIsTrueOnlyForSmallE",
                 {0x02, 0x21, 0x21, 0x22, 0x45, 0x23, 0x27, 0x65, 0x20, 0x20, 0x21, 0x21, 0x21, 0x64, 0x20,
                  0x20, 0x00, 0x20, 0x20},
                 "16x12 (0,0) [1,1,2 d3-7e0-0] [1,1,1 d0-0d0-0]"},
        ReadCase{"SwitchAndZemb",
                 {0x02, 0x21, 0x21, 0x26, 0x22, 0x21, 0x6C, 0x22, 0x22, 0x2A, 0x23, 0x2B},
                 "16x12 (0,0) [1,1,6 s2>300] [2,2,10 z3,11]"},
        ReadCase{"ValuesBelow32AreNegative",
                 {0x02, 0x21, 0x21, 0x26, 0x22, 0x1F, 0x20},
                 "16x12 (0,0) [1,1,6 s2>-224]"},
        ReadCase{"NoMarker2NoStones", {0x01, 0x30, 0x2C, 0x20, 0x20, 0x23, 0x23, 0x2C, 0x03}, "16x12 (0,0)"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct RangeCase {
    const char* Name;
    std::function<void(TLevel&, TLevelStone&)> Change;
    size_t Index;
    const char* Field;
    int64_t Value, Maximum;
    friend void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.Name; }
};

class RangeTest : public LevelFileTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeTest, RefusesWhatTheFormatCannotHold) {
    const RangeCase& c = GetParam();
    AddStone(3, 1, 1);
    TLevelStone* s = AddStone(0, 2, 2);
    c.Change(Level, *s);
    ComputeContentIndexes(Level);
    auto e = CheckLevelRanges(Level);
    if (!c.Field) {
        EXPECT_FALSE(e.has_value());
        return;
    }
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->StoneIndex, c.Index);
    EXPECT_EQ(e->Field, c.Field);
    EXPECT_EQ(e->Value, c.Value);
    EXPECT_EQ(e->Maximum, c.Maximum);
}

constexpr size_t H = TLevelRangeError::Header;

INSTANTIATE_TEST_SUITE_P(
    Cases, RangeTest,
    ::testing::Values(
        RangeCase{"Fits", [](TLevel& l, TLevelStone&) { l.LevelWidth = 223; }, 0, nullptr, 0, 0},
        RangeCase{"WideLevel", [](TLevel& l, TLevelStone&) { l.LevelWidth = 224; }, H, "LevelWidth", 224,
                  223},
        RangeCase{"NegativeStart", [](TLevel& l, TLevelStone&) { l.StartPointY = -1; }, H, "StartPointY", -1,
                  223},
        RangeCase{"FarColumn", [](TLevel&, TLevelStone& s) { s.X = 224; }, 1, "X", 224, 223},
        RangeCase{"NegativeType", [](TLevel&, TLevelStone& s) { s.SetStoneNr(-1); }, 1, "StoneNr", -1, 223},
        RangeCase{"MovingStopY", [](TLevel&, TLevelStone& s) { s.SetStoneNr(2), s.StopY = 224; }, 1, "StopY",
                  224, 223},
        RangeCase{"NegativeExtras", [](TLevel&, TLevelStone& s) { s.SetStoneNr(5), s.Extras = -1; }, 1,
                  "Extras", -1, 223},
        // file order, not the declared order of the fields
        RangeCase{"FirstFieldInFileOrder",
                  [](TLevel&, TLevelStone& s) { s.SetStoneNr(5), s.Lives = 300, s.Golds = 301; }, 1, "Golds",
                  301, 223},
        RangeCase{"SwitchTarget", [](TLevel&, TLevelStone& s) { s.SetStoneNr(6), s.SchalterTarget = 50176; },
                  1, "SchalterTarget", 50176, 50175},
        RangeCase{"LastSwitchTarget",
                  [](TLevel&, TLevelStone& s) { s.SetStoneNr(6), s.SchalterTarget = 50175; }, 0, nullptr, 0,
                  0},
        RangeCase{"ZembInhalt", [](TLevel&, TLevelStone& s) { s.SetStoneNr(10), s.ZembInhalt = 300; }, 1,
                  "ZembInhalt", 300, 223},
        // fields of another kind are not written, so they need not fit
        RangeCase{"OtherKindsFields",
                  [](TLevel&, TLevelStone& s) { s.ZembInhalt = 300, s.SchalterTarget = -5; }, 0, nullptr, 0,
                  0}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(LevelFileTest, ManyFullContentStonesOverflowTheContentIndex) {
    for (int i = 0; i < 300; ++i) {
        TLevelStone* s = AddStone(5, i % 16, i % 12);
        s->Golds = s->Lives = s->Keys = s->Extras = 99;
    }
    ComputeContentIndexes(Level);
    auto e = CheckLevelRanges(Level);
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->StoneIndex, 126u); // 300 + 126 * 396 = 50196
    EXPECT_EQ(e->Field, "ContentIndex");
    EXPECT_EQ(e->Value, 50196);
}

TEST(LevelRangeErrorText, NamesTheStoneOrTheHeaderField) {
    EXPECT_EQ(LevelRangeErrorText({3, "ContentIndex", 50200, 50175, 5, 3, 2}),
              "Das Level kann nicht gespeichert werden: Stone 4 (Nr 5) auf Feld (3, 2) hat für ContentIndex "
              "den Wert "
              "50200; im Leveldateiformat sind nur 0 bis 50175 möglich.");
    EXPECT_EQ(LevelRangeErrorText({TLevelRangeError::Header, "LevelWidth", 300, 223}),
              "Das Level kann nicht gespeichert werden: LevelWidth hat den Wert 300; im Leveldateiformat "
              "sind nur 0 bis "
              "223 möglich.");
}

TEST_F(LevelFileTest, GeneratedLevelsSurviveSaveAndLoadByteForByte) {
    std::mt19937 rng(20240611);
    auto r = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 40; ++round) {
        Level.Clear();
        Level.LevelWidth = r(1, 223);
        Level.LevelHeight = r(1, 223);
        Level.StartPointX = r(0, Level.LevelWidth - 1);
        Level.StartPointY = r(0, Level.LevelHeight - 1);
        for (int n = r(0, 300); n > 0; --n) {
            TLevelStone* s = AddStone(r(0, 17), r(0, 222), r(0, 222));
            s->MoveX = r(0, 1);
            s->MoveY = r(0, 1);
            s->StartX = r(0, 223), s->StopX = r(0, 223), s->StartY = r(0, 223), s->StopY = r(0, 223);
            s->Golds = r(0, 40), s->Lives = r(0, 40), s->Keys = r(0, 40), s->Extras = r(0, 40);
            s->SchalterAction = r(0, 2), s->SchalterTarget = r(0, 50175);
            s->ZembStage = r(0, 3), s->ZembInhalt = r(0, 223);
        }
        const Bytes saved = Save();
        const std::string want = Describe(Level);

        TFakeCanvas canvas;
        TLevel loaded;
        {
            TLevelReader reader(loaded, canvas.Factory());
            for (size_t at = 0; at < saved.size();) {
                size_t len = std::min<size_t>(r(1, 64), saved.size() - at);
                reader.Feed(saved.data() + at, len);
                at += len;
            }
            reader.Finish();
        }
        ASSERT_EQ(Describe(loaded), want) << "round " << round;
        ComputeContentIndexes(loaded);
        ASSERT_EQ(EncodeLevel(loaded), saved) << "round " << round;
    }
}

TEST_F(LevelFileTest, StoneLimitRaisesAndKeepsWhatWasRead) {
    const Bytes in = {0x02, 0x21, 0x21, 0x2C, 0x22, 0x22, 0x2C, 0x23, 0x23, 0x2C, 0x03};
    {
        TLevelReader reader(Level, Canvas.Factory());
        reader.MaxStones = 2;
        EXPECT_THROW(reader.Feed(in.data(), in.size()), EInOutError);
    }
    EXPECT_EQ(Level.Stones.size(), 2u);
    EXPECT_EQ(Canvas.Children.Count(), 2u);
}

} // namespace
