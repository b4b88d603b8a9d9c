#pragma once
// The stage plan of the progress window: weighted stages, the current one and the position
// within it, mapped onto a bar that runs once from 0 to 1000 over the whole job.
#include <cstdint>
#include <string>
#include <vector>

class TProgressStages {
public:
    struct TStage {
        uint64_t Start = 0; // sum of the weights of all earlier stages
        uint64_t Weight = 0;
        std::string Text;
    };

    // An empty text repeats the previous stage's text. A weight that would carry the sum past
    // 64 bits is cut to what is left.
    void AddStage(const std::string& text, uint64_t weight);
    void ClearStages();

    int32_t CurrentStage() const { return Current; }
    // Ignored (false) for the current index, negative values and values past the stage count;
    // the stage count itself means "all done": the last stage at position 1000.
    bool SetCurrentStage(int32_t v);
    bool StageDone() { return SetCurrentStage(Current + 1); }

    int32_t StagePosition() const { return Position; }
    void SetStagePosition(int32_t p); // clamped to 0..1000

    // (start + weight * position / 1000) * 1000 / weight sum of the current stage, truncated.
    uint32_t BarPosition() const;

    const std::vector<TStage>& Stages() const { return List; }
    uint64_t WeightSum() const { return Sum; }
    // The current stage's text; empty without stages.
    std::string CurrentText() const;

private:
    std::vector<TStage> List;
    uint64_t Sum = 0;
    int32_t Current = 0;
    int32_t Position = 0;
};

// floor(a * b / c) for c > 0 and a <= c, exactly, in 64-bit arithmetic.
uint64_t MulDivFloor(uint64_t a, uint64_t b, uint64_t c);
