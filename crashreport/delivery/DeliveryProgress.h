#pragma once
// How the protocol engines report progress: the runner adds the engine's stage plan to the
// progress window, and the engine completes the stages one by one while it runs.
#include <cstdint>
#include <string>
#include <vector>

class IDeliveryProgress {
public:
    virtual ~IDeliveryProgress() = default;
    virtual void StageDone() = 0;
    virtual void SetStagePosition(int32_t position) = 0; // 0..1000 within the current stage
};

struct TPlannedStage {
    // The setting whose text the stage shows; empty: the text of the stage before.
    std::string SettingName;
    uint64_t Weight = 0;
};
