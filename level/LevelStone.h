#pragma once
// One placed object: a data record and, at the same time, a 50 x 50 tile on the canvas.
#include "framework/Controls.h"

#include <cstdint>

class TLevel;

inline constexpr int32_t StoneSize = 50;
inline constexpr int32_t MaxStoneNr = 17;

class TLevelStone : public TImage {
public:
    // A stone with the defaults below, 50 x 50 at (0, 0). Marks the level unsaved. It loads no
    // picture (the creator calls SetStoneNr) and has no parent until its creator gives it one.
    explicit TLevelStone(TLevel& level);
    // Marks the level unsaved and takes the tile off the canvas; removing the stone from Stones
    // is the caller's task.
    ~TLevelStone() override;

    int32_t StoneNr = 0;
    int32_t X = 0;
    int32_t Y = 0;
    bool StoneVisible = true;
    int32_t StartX = 0;
    int32_t StopX = 0;
    int32_t StartY = 0;
    int32_t StopY = 0;
    bool MoveX = false;
    bool MoveY = false;
    int32_t Lives = 0;
    int32_t Golds = 0;
    int32_t Keys = 0;
    int32_t Extras = 0;
    int32_t ContentIndex = 0;
    int32_t ZembStage = 0;
    int32_t ZembInhalt = 9;
    int32_t SchalterAction = 0;
    int32_t SchalterTarget = 0;
    bool Selected = false;

    virtual void SetStoneNr(int32_t n);
    virtual void SetPosition(int32_t x, int32_t y);
    virtual void SetZembStage(int32_t n);
    void Select();
    void Unselect();

    TLevel& Level() const { return FLevel; }

private:
    TLevel& FLevel;
};
