#include "level/Level.h"

#include "level/LevelStone.h"

#include <utility>

TLevel::~TLevel() {
    std::vector<TLevelStone*> stones = std::exchange(Stones, {});
    CurrentStone = nullptr;
    for (TLevelStone* s : stones)
        delete s;
}

void TLevel::RefreshCanvas() {
    if (FUpdateCount > 0) {
        FRefreshPending = true;
        return;
    }
    if (OnRefreshCanvas) OnRefreshCanvas();
}

void TLevel::EndUpdate() {
    if (FUpdateCount == 0) return;
    if (--FUpdateCount == 0 && FRefreshPending) {
        FRefreshPending = false;
        RefreshCanvas();
    }
}

void TLevel::Clear() {
    // Take the list first: while the stones die, nothing can reach them through Stones or
    // CurrentStone (a repaint triggered by their removal, for instance).
    std::vector<TLevelStone*> stones = std::exchange(Stones, {});
    CurrentStone = nullptr;
    for (TLevelStone* s : stones)
        delete s;
    LevelWidth = 16;
    LevelHeight = 12;
    StartPointX = 0;
    StartPointY = 0;
}

void TLevel::DeleteStone(size_t index) {
    if (index >= Stones.size()) return;
    TLevelStone* s = Stones[index];
    Stones.erase(Stones.begin() + static_cast<std::ptrdiff_t>(index));
    if (CurrentStone == s) CurrentStone = nullptr;
    delete s;
}
