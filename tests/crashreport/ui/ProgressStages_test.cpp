#include <gtest/gtest.h>

#include "crashreport/ui/ProgressStages.h"

namespace {

TEST(ProgressStages, BarRunsOverWeightedStagesWithTruncation) {
    TProgressStages p;
    p.AddStage("Anhänge", 100);
    p.AddStage("Verbinden", 200);
    p.AddStage("", 300); // repeats the previous text
    ASSERT_EQ(p.Stages().size(), 3u);
    EXPECT_EQ(p.Stages()[2].Text, "Verbinden");
    for (size_t i = 0; i < 3; ++i) // the invariant: a stage starts where the earlier weights end
        EXPECT_EQ(p.Stages()[i].Start, i == 0 ? 0 : p.Stages()[i - 1].Start + p.Stages()[i - 1].Weight);
    EXPECT_EQ(p.WeightSum(), 600u);

    p.SetStagePosition(999);
    EXPECT_EQ(p.BarPosition(), 165u); // 100 * 999 / 1000 = 99, then 99 * 1000 / 600
    EXPECT_TRUE(p.StageDone());
    EXPECT_EQ(p.StagePosition(), 0);
    EXPECT_EQ(p.BarPosition(), 166u); // 100 * 1000 / 600
    p.SetStagePosition(333);
    EXPECT_EQ(p.BarPosition(), 276u); // (100 + 66) * 1000 / 600
    p.SetStagePosition(5000);
    EXPECT_EQ(p.StagePosition(), 1000);
}

TEST(ProgressStages, CurrentStageRulesAndTheLastStage) {
    TProgressStages p;
    EXPECT_FALSE(p.StageDone()); // no stages: nothing to advance, bar stays at 0
    EXPECT_EQ(p.BarPosition(), 0u);
    p.AddStage("", 10); // an empty first text stays empty
    EXPECT_EQ(p.CurrentText(), "");
    p.AddStage("b", 30);
    EXPECT_FALSE(p.SetCurrentStage(0));
    EXPECT_FALSE(p.SetCurrentStage(-1));
    EXPECT_FALSE(p.SetCurrentStage(3));
    EXPECT_TRUE(p.SetCurrentStage(1));
    EXPECT_EQ(p.CurrentText(), "b");
    EXPECT_TRUE(p.StageDone()); // past the last: stays on it at 1000
    EXPECT_EQ(p.CurrentStage(), 1);
    EXPECT_EQ(p.StagePosition(), 1000);
    EXPECT_EQ(p.BarPosition(), 1000u);
    p.ClearStages();
    EXPECT_EQ(p.CurrentStage(), 0);
    EXPECT_EQ(p.WeightSum(), 0u);
}

TEST(ProgressStages, HugeAndZeroWeightsNeitherOverflowNorDivideByZero) {
    TProgressStages p;
    p.AddStage("a", UINT64_MAX / 2);
    p.AddStage("b", UINT64_MAX); // cut to what is left of the 64-bit sum
    EXPECT_EQ(p.WeightSum(), UINT64_MAX);
    p.SetStagePosition(500);
    EXPECT_EQ(p.BarPosition(), 249u);
    p.StageDone();
    p.SetStagePosition(1000);
    EXPECT_EQ(p.BarPosition(), 1000u);

    TProgressStages zero;
    zero.AddStage("z", 0);
    zero.SetStagePosition(700);
    EXPECT_EQ(zero.BarPosition(), 0u);
    EXPECT_EQ(MulDivFloor(UINT64_MAX - 1, 1000, UINT64_MAX), 999u);
    EXPECT_EQ(MulDivFloor(123456789, 987, 1000), 123456789ull * 987 / 1000);
}

} // namespace
