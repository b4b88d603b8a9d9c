// The edit commands of the main window: delete, the four moves, the type steps and Clean. They
// act on the current stone and do nothing without one (Clean needs none).
#include "editor/Unit1.h"
#include "framework/Strings.h"

#include <algorithm>

namespace {

// The type steps run through 0..5 and 8..17: the two switch types are never stepped into.
int32_t NextStoneNr(int32_t nr, int step) {
    int32_t n = nr + step;
    if (n == 6 || n == 7) n = step > 0 ? 8 : 5;
    return std::clamp<int32_t>(n, 0, MaxStoneNr);
}

} // namespace

void TForm1::DeleteMenuClick(TObject*) {
    TLevelStone* stone = Level.CurrentStone;
    if (!stone) return;
    for (TEdit* field : {PX.get(), PY.get(), PNr.get()}) {
        field->SetText("");
        field->SetEnabled(false);
    }
    auto it = std::find(Level.Stones.begin(), Level.Stones.end(), stone);
    if (it != Level.Stones.end()) Level.DeleteStone(static_cast<size_t>(it - Level.Stones.begin()));
    Level.CurrentStone = nullptr;
    RefreshCanvas();
}

// One cell in one direction, clamped to the grid. The moved axis's field always shows the new
// cell; the other field only changes when the stone lay beyond a shrunk grid and SetPosition
// put it onto the border (then it shows where the stone really is).
void TForm1::MoveCurrentStone(int dx, int dy) {
    TLevelStone* s = Level.CurrentStone;
    if (!s) return;
    int32_t oldX = s->X, oldY = s->Y;
    int32_t x = dx < 0 ? std::max(oldX - 1, 0) : dx > 0 ? std::min(oldX + 1, Level.LevelWidth - 1) : oldX;
    int32_t y = dy < 0 ? std::max(oldY - 1, 0) : dy > 0 ? std::min(oldY + 1, Level.LevelHeight - 1) : oldY;
    s->SetPosition(x, y);
    if (dx != 0 || s->X != oldX) PX->SetText(IntToStr(s->X));
    if (dy != 0 || s->Y != oldY) PY->SetText(IntToStr(s->Y));
    RefreshCanvas();
}

void TForm1::MoveUpMenuClick(TObject*) {
    MoveCurrentStone(0, -1);
}
void TForm1::MoveDownMenuClick(TObject*) {
    MoveCurrentStone(0, 1);
}
void TForm1::MoveLeftMenuClick(TObject*) {
    MoveCurrentStone(-1, 0);
}
void TForm1::MoveRightMenuClick(TObject*) {
    MoveCurrentStone(1, 0);
}

void TForm1::StoneNrPlusMenuClick(TObject*) {
    TLevelStone* s = Level.CurrentStone;
    if (!s) return;
    int32_t n = NextStoneNr(s->StoneNr, +1);
    s->SetStoneNr(n);
    s->Select();
    PNr->SetText(IntToStr(n));
    RefreshCanvas();
}

void TForm1::StoneNrMinusMenuClick(TObject*) {
    TLevelStone* s = Level.CurrentStone;
    if (!s) return;
    int32_t n = NextStoneNr(s->StoneNr, -1);
    s->SetStoneNr(n);
    s->Select();
    PNr->SetText(IntToStr(n));
    RefreshCanvas();
}

void TForm1::CleanMenuClick(TObject*) {
    RefreshCanvas();
}

void TForm1::LevelOptionMenuClick(TObject*) {
    LevelOptionForm->ShowOptions();
    // Whatever ended the dialog: the canvas follows the size, the stones stay where they are.
    ResizeCanvas();
}
