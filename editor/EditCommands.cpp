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

void TForm1::MoveUpMenuClick(TObject*) {
    TLevelStone* s = Level.CurrentStone;
    if (!s) return;
    int32_t y = std::max(s->Y - 1, 0);
    s->SetPosition(s->X, y);
    PY->SetText(IntToStr(y));
    RefreshCanvas();
}

void TForm1::MoveDownMenuClick(TObject*) {
    TLevelStone* s = Level.CurrentStone;
    if (!s) return;
    int32_t y = std::min(s->Y + 1, Level.LevelHeight - 1);
    s->SetPosition(s->X, y);
    PY->SetText(IntToStr(y));
    RefreshCanvas();
}

void TForm1::MoveLeftMenuClick(TObject*) {
    TLevelStone* s = Level.CurrentStone;
    if (!s) return;
    int32_t x = std::max(s->X - 1, 0);
    s->SetPosition(x, s->Y);
    PX->SetText(IntToStr(x));
    RefreshCanvas();
}

void TForm1::MoveRightMenuClick(TObject*) {
    TLevelStone* s = Level.CurrentStone;
    if (!s) return;
    int32_t x = std::min(s->X + 1, Level.LevelWidth - 1);
    s->SetPosition(x, s->Y);
    PX->SetText(IntToStr(x));
    RefreshCanvas();
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

void TForm1::CleanMenuClick(TObject*) { RefreshCanvas(); }

void TForm1::LevelOptionMenuClick(TObject*) {
    LevelOptionForm->ShowOptions();
    // Whatever ended the dialog: the canvas follows the size, the stones stay where they are.
    ResizeCanvas();
}
