#include "tests/level/LevelTestSupport.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct LevelTest : ::testing::Test {
    TFakeCanvas Canvas; // outlives the stones
    TLevel Level;
    int Refreshes = 0;

    void SetUp() override {
        Level.OnRefreshCanvas = [this] { ++Refreshes; };
    }
    TLevelStone* AddStone(int32_t nr, int32_t x, int32_t y) {
        auto* s = Canvas.Factory()(Level);
        s->SetStoneNr(nr);
        s->SetPosition(x, y);
        Level.Stones.push_back(s);
        return s;
    }
    // Size, start point, stones, selection and file name.
    std::string Grid() const {
        auto n = [](int64_t v) { return std::to_string(v); };
        return n(Level.LevelWidth) + "x" + n(Level.LevelHeight) + " (" + n(Level.StartPointX) + "," +
               n(Level.StartPointY) + ") " + n(int64_t(Level.Stones.size())) + " stones " +
               (Level.CurrentStone ? "selected " : "") + Level.FileName;
    }
};

TEST_F(LevelTest, FreshLevelAndNewStoneHaveTheirDefaults) {
    EXPECT_EQ(Grid(), "16x12 (0,0) 0 stones Unbenannt.lvl");
    EXPECT_TRUE(Level.Saved);

    TLevelStone s(Level);
    EXPECT_FALSE(Level.Saved);
    EXPECT_EQ(s.ZembInhalt, 9);
    EXPECT_TRUE(s.StoneVisible);
    EXPECT_FALSE(s.Selected);
    EXPECT_EQ(s.BoundsRect(), (TRect{0, 0, 50, 50}));
    EXPECT_EQ(s.PictureIndex(), -1);
    Level.Saved = true;
}

struct PositionCase {
    int32_t Width, Height, FromX, FromY, X, Y, WantX, WantY;
    bool Moves;
};

class SetPositionTest : public LevelTest, public ::testing::WithParamInterface<PositionCase> {};

TEST_P(SetPositionTest, ClampsOntoTheGridUnlessUnchanged) {
    const PositionCase& c = GetParam();
    TLevelStone* s = AddStone(1, 0, 0);
    Level.LevelWidth = 1000;
    Level.LevelHeight = 1000;
    s->SetPosition(c.FromX, c.FromY);
    Level.LevelWidth = c.Width;
    Level.LevelHeight = c.Height;
    Level.Saved = true;
    Refreshes = 0;

    s->SetPosition(c.X, c.Y);
    EXPECT_EQ(s->X, c.WantX);
    EXPECT_EQ(s->Y, c.WantY);
    EXPECT_EQ(Level.Saved, !c.Moves);
    EXPECT_EQ(Refreshes, c.Moves ? 1 : 0);
    if (c.Moves && c.WantX > -1000 && c.WantX < 1000) {
        EXPECT_EQ(s->BoundsRect(), (TRect{c.WantX * 50, c.WantY * 50, c.WantX * 50 + 50, c.WantY * 50 + 50}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetPositionTest,
    ::testing::Values(PositionCase{16, 12, 0, 0, -3, 99, 0, 11, true},
                      PositionCase{16, 12, 4, 5, 4, 5, 4, 5, false},
                      // a stone left outside a shrunk level stays there until it gets another value
                      PositionCase{10, 10, 20, 20, 20, 20, 20, 20, false},
                      PositionCase{10, 10, 20, 20, 21, 20, 9, 9, true},
                      // a level no wider than 0 leaves -1 (the writer refuses it later)
                      PositionCase{0, 12, 3, 3, 5, 5, -1, 5, true},
                      // sizes at the ends of int32 neither overflow nor wrap the pixel position
                      PositionCase{INT_MAX, INT_MAX, 0, 0, INT_MAX, INT_MIN, INT_MAX - 1, 0, true},
                      PositionCase{INT_MIN, INT_MIN, 1, 1, 5, 5, INT_MIN, INT_MIN, true}));

TEST_F(LevelTest, SetStoneNrCapsAtSeventeenAndAlwaysMarksUnsaved) {
    TLevelStone* s = AddStone(0, 0, 0);
    const struct {
        int32_t In, Nr, Picture;
    } cases[] = {{25, 17, 17}, {17, 17, 17}, {5, 5, 5}, {0, 0, 0}, {-4, -4, -1}};
    for (const auto& c : cases) {
        Level.Saved = true;
        s->SetStoneNr(c.In);
        EXPECT_EQ(s->StoneNr, c.Nr) << c.In;
        EXPECT_EQ(s->PictureIndex(), c.Picture) << c.In;
        EXPECT_FALSE(Level.Saved) << c.In;
    }
}

TEST_F(LevelTest, SelectDrawsTheFrameAndUnselectReloadsThePicture) {
    TLevelStone* a = AddStone(5, 1, 1);
    TLevelStone* b = AddStone(9, 2, 1);
    Level.Saved = true;
    a->Select();
    EXPECT_TRUE(a->Selected);
    EXPECT_TRUE(a->FrameDrawn());
    EXPECT_TRUE(Level.Saved);

    a->Unselect();
    b->Select();
    EXPECT_FALSE(a->Selected);
    EXPECT_FALSE(a->FrameDrawn());
    EXPECT_EQ(a->PictureIndex(), 5);
    EXPECT_TRUE(b->FrameDrawn());
    EXPECT_FALSE(Level.Saved);
}

TEST_F(LevelTest, UpdatesDeferRefreshesToTheOutermostEnd) {
    TLevelStone* s = AddStone(1, 0, 0);
    Refreshes = 0;
    Level.BeginUpdate();
    Level.BeginUpdate();
    s->SetPosition(1, 1);
    s->SetPosition(2, 2);
    Level.EndUpdate();
    EXPECT_EQ(Refreshes, 0);
    Level.EndUpdate();
    EXPECT_EQ(Refreshes, 1);
    Level.EndUpdate(); // unbalanced: harmless
    Level.BeginUpdate();
    Level.EndUpdate();
    EXPECT_EQ(Refreshes, 1);
    s->SetPosition(3, 3);
    EXPECT_EQ(Refreshes, 2);
}

TEST_F(LevelTest, ClearFreesEveryStoneAndResetsTheGrid) {
    for (int i = 0; i < 200; ++i)
        AddStone(i % 18, i % 16, i % 12);
    Level.CurrentStone = Level.Stones[7];
    Level.LevelWidth = 40;
    Level.StartPointX = 3;
    Level.StartPointY = 4;
    Level.FileName = "a.lvl";
    Level.Saved = true;

    Level.Clear();
    EXPECT_EQ(Grid(), "16x12 (0,0) 0 stones a.lvl");
    EXPECT_EQ(Canvas.Children.Count(), 0u);
    EXPECT_FALSE(Level.Saved); // freeing stones is a change; New and Open set it afterwards
}

TEST_F(LevelTest, DeleteStoneShiftsTheListButKeepsSwitchTargets) {
    for (int i = 0; i < 5; ++i)
        AddStone(i == 0 ? 6 : 1, i, 0);
    Level.Stones[0]->SchalterTarget = 3;
    TLevelStone* third = Level.Stones[3];
    Level.CurrentStone = Level.Stones[2];
    Level.Saved = true;

    Level.DeleteStone(2);
    EXPECT_EQ(Level.Stones.size(), 4u);
    EXPECT_EQ(Level.Stones[2], third);
    EXPECT_EQ(Level.Stones[0]->SchalterTarget, 3);
    EXPECT_EQ(Level.CurrentStone, nullptr);
    EXPECT_EQ(Canvas.Children.Count(), 4u);
    EXPECT_FALSE(Level.Saved);

    Level.CurrentStone = Level.Stones[0];
    Level.DeleteStone(1);
    EXPECT_EQ(Level.CurrentStone, Level.Stones[0]);
    Level.DeleteStone(99);
    EXPECT_EQ(Level.Stones.size(), 3u);
}

} // namespace
