#pragma once
// A canvas stand-in that keeps its non-windowed children the way the real canvas does.
#include "framework/Controls.h"
#include "level/Level.h"
#include "level/LevelFile.h"
#include "level/LevelStone.h"

class TFakeCanvas : public TControl {
public:
    TGraphicList Children;
    int Invalidations = 0;
    void InsertGraphic(TGraphicControl* c) override { Children.Insert(c); }
    void RemoveGraphic(TGraphicControl* c) override { Children.Remove(c); }
    void InvalidateArea(const TRect&) override { ++Invalidations; }

    TLevelReader::StoneFactory Factory() {
        return [this](TLevel& level) {
            auto* s = new TLevelStone(level);
            s->SetParent(this);
            return s;
        };
    }
};
