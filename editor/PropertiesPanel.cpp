// The stone properties panel of the main window: the position, number and visibility fields, the
// four kind panels, and the handlers by which they write back into the current stone.
#include "editor/Unit1.h"

#include "framework/Application.h"
#include "framework/Strings.h"

#include <algorithm>
#include <commctrl.h>

namespace {

void Place(TWinControl& c, int left, int top, int width = -1, int height = -1) {
    c.SetBounds(left, top, width < 0 ? c.Width() : width, height < 0 ? c.Height() : height);
}

void SelectAll(TEdit& field) {
    ::SendMessageW(field.Handle(), EM_SETSEL, 0, -1);
}

// A selection click refills the whole panel; controls whose state stays need no repaint.
void ShowText(TWinControl& c, const std::string& text) {
    if (c.Text() != text) c.SetText(text);
}
void ShowChecked(TButtonControl& b, bool checked) {
    if (b.Checked() != checked) b.SetChecked(checked);
}

std::unique_ptr<TPanel> KindPanel(TWinControl* parent, const char* name, int top, int height) {
    auto p = std::make_unique<TPanel>(parent);
    p->Name = name;
    Place(*p, 8, top, 129, height);
    p->SetVisible(false);
    return p;
}

// The stone pictures of what a stone can hold.
constexpr int GoldPicture = 9, HeartPicture = 8, KeyPicture = 11, StarPicture = 3;

const char* const CopyPositionHint = "Von aktueller Position übernehmen";
const char* const PickTargetHint = "Zielstein auf der Zeichenfläche wählen";
const char* const PickPrompt = "Klicken Sie auf einen Stone";

// An icon rather than a bitmap: the button draws its transparent pixels in its own face, themed or
// not, and greys it out when disabled.
TIcon ButtonIcon(const wchar_t* resource) {
    TImageList list(11, 15);
    list.AddResourceBitmap(resource);
    return TIcon(::ImageList_GetIcon(list.Handle(), 0, ILD_NORMAL));
}

void ShowIcon(TButton& b, const TIcon& icon) {
    HWND h = b.Handle();
    ::SetWindowLongW(h, GWL_STYLE, ::GetWindowLongW(h, GWL_STYLE) | BS_ICON);
    ::SendMessageW(h, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon.Get()));
}

std::string Blanks(size_t n) {
    return std::string(n, ' ');
}

std::string StageLine(int stage, int lives, const std::string& behaviour) {
    return "Stufe: " + std::to_string(stage) + Blanks(19) + "Leben: " + std::to_string(lives) + Blanks(16) +
           behaviour;
}

std::string StageTexts() {
    const std::string standsStill =
        "Bewegt sich nicht, wenn Figur auf der gleichen Y-Achse und nichts im Weg ist, "
        "Schuss in die Richtung; ";
    const std::string dodgesNot = standsStill + "weicht nicht Schüssen von nicht Figur aus";
    const std::string jumps =
        standsStill + "wenn Figur schießt, springt es hoch." + Blanks(3) + "Trick: Mehrmals schießen";
    const std::string follows =
        "Bewegt sich zu Figur, sobald sie sichtbar für es ist (auf der gelichen Y-Achse und "
        "nichts im Weg); wenn Figur schießt, springt es hoch." +
        Blanks(8) + "Trick: Mehrmals schießen";
    return StageLine(1, 1, dodgesNot) + "\r\n" + StageLine(2, 3, dodgesNot) + "\r\n" +
           StageLine(3, 3, jumps) + "\r\n" + StageLine(4, 3, follows);
}

std::string StagePlaceholder() {
    std::string s;
    for (int i = 0; i < 9; ++i)
        s += (i ? " " : "") + std::string(18, '_');
    return s;
}

} // namespace

TStoneImage::TStoneImage(TWinControl* parent, const TImageList& images, int index)
    : TPanel(parent), FImages(images), FIndex(index) {}

void TStoneImage::PaintContent(HDC dc, const RECT&) {
    RECT rc;
    ::GetClientRect(Handle(), &rc);
    int w = FImages.Width(), h = FImages.Height();
    TMemoryDC mem(::CreateCompatibleDC(dc));
    TGdiObject bmp(::CreateCompatibleBitmap(dc, w, h));
    TSelectObject sel(mem.Get(), bmp.Get());
    RECT all{0, 0, w, h};
    TGdiObject back(::CreateSolidBrush(FColor));
    ::FillRect(mem.Get(), &all, static_cast<HBRUSH>(back.Get()));
    FImages.Draw(mem.Get(), 0, 0, FIndex);
    ::SetStretchBltMode(dc, HALFTONE);
    ::SetBrushOrgEx(dc, 0, 0, nullptr);
    ::StretchBlt(dc, 0, 0, rc.right, rc.bottom, mem.Get(), 0, 0, w, h, SRCCOPY);
}

void TForm1::CreateDefaultXP() {
    DefaultXP = KindPanel(LeftPanel.get(), "DefaultXP", 122, 161);
    TWinControl* p = DefaultXP.get();
    DefaultXPMoveXCheck = std::make_unique<TCheckBox>(p, "Bewegung X:");
    DefaultXPMoveXCheck->Name = "DefaultXPMoveXCheck";
    Place(*DefaultXPMoveXCheck, 8, 8, 97, 17);
    auto row = [p](std::unique_ptr<TLabel>& label, const char* caption, std::unique_ptr<TEdit>& field,
                   const char* name, std::unique_ptr<TButton>& button, int top) {
        label = std::make_unique<TLabel>(p, caption);
        Place(*label, 16, top + 4);
        field = std::make_unique<TEdit>(p, true);
        field->Name = name;
        Place(*field, 48, top, 57, 21);
        button = std::make_unique<TButton>(p, "");
        button->Name = std::string(name) + "Btn";
        button->Hint = CopyPositionHint;
        Place(*button, 104, top - 2, 17, 25);
    };
    row(DefaultXPLbl2, "Start:", DefaultXPStartX, "DefaultXPStartX", DefaultXPStartXBtn, 28);
    row(DefaultXPLbl3, "Ziel:", DefaultXPStopX, "DefaultXPStopX", DefaultXPStopXBtn, 52);
    DefaultXPMoveYCheck = std::make_unique<TCheckBox>(p, "Bewegung Y:");
    DefaultXPMoveYCheck->Name = "DefaultXPMoveYCheck";
    Place(*DefaultXPMoveYCheck, 8, 88, 97, 17);
    row(DefaultXPLbl4, "Start:", DefaultXPStartY, "DefaultXPStartY", DefaultXPStartYBtn, 108);
    row(DefaultXPLbl5, "Ziel:", DefaultXPStopY, "DefaultXPStopY", DefaultXPStopYBtn, 132);

    DefaultXPMoveXCheck->OnClick = [this](TObject* s) { DefaultXPMoveXCheckClick(s); };
    DefaultXPMoveYCheck->OnClick = [this](TObject* s) { DefaultXPMoveYCheckClick(s); };
    DefaultXPStartXBtn->OnClick = [this](TObject* s) { DefaultXPStartXBtnClick(s); };
    DefaultXPStopXBtn->OnClick = [this](TObject* s) { DefaultXPStopXBtnClick(s); };
    DefaultXPStartYBtn->OnClick = [this](TObject* s) { DefaultXPStartYBtnClick(s); };
    DefaultXPStopYBtn->OnClick = [this](TObject* s) { DefaultXPStopYBtnClick(s); };

    CopyPositionIcon = ButtonIcon(L"COPYPOSITION");
    for (TButton* b : {DefaultXPStartXBtn.get(), DefaultXPStopXBtn.get(), DefaultXPStartYBtn.get(),
                       DefaultXPStopYBtn.get()}) {
        ShowIcon(*b, CopyPositionIcon);
        AddToolTip(*b, CopyPositionHint);
    }
}

namespace {

// The panel's buttons stand one below the other, and a tooltip shown below the pointer would
// cover the next one: a click meant for it could land on the tooltip (under Wine it does). The
// tooltip is shown to the right of its button instead, over the canvas.
LRESULT CALLBACK ToolTipBesideItsButton(HWND tip, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                        DWORD_PTR) {
    if (msg == WM_WINDOWPOSCHANGING) {
        auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        RECT button;
        if (!(pos->flags & SWP_NOMOVE) &&
            ::SendMessageW(tip, TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&tool)) &&
            ::GetWindowRect(reinterpret_cast<HWND>(tool.uId), &button)) {
            pos->x = button.right + 2;
            pos->y = button.top;
        }
    }
    return ::DefSubclassProc(tip, msg, wParam, lParam);
}

} // namespace

// The panel's buttons have no caption: a picture and a tooltip say what they do.
void TForm1::AddToolTip(TWinControl& control, const char* text) {
    if (!FToolTip) {
        FToolTip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(),
                                     nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (FToolTip) ::SetWindowSubclass(FToolTip, ToolTipBesideItsButton, 1, 0);
    }
    std::wstring tip = Widen(text); // the tooltip keeps its own copy
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = ::GetParent(control.Handle());
    ti.uId = reinterpret_cast<UINT_PTR>(control.Handle());
    ti.lpszText = tip.data();
    if (FToolTip) ::SendMessageW(FToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void TForm1::CreateActionXP() {
    ActionXP = KindPanel(LeftPanel.get(), "ActionXP", 120, 153);
    Label5 = std::make_unique<TLabel>(ActionXP.get(), "Inhalt:");
    Place(*Label5, 0, 12);
    ActionInhaltPnl = std::make_unique<TPanel>(ActionXP.get());
    ActionInhaltPnl->Name = "ActionInhaltPnl";
    ActionInhaltPnl->BevelOuter = TBevelCut::bvRaised;
    ActionInhaltPnl->BevelInner = TBevelCut::bvRaised; // with the outer edge: a bevel 2 pixels wide
    Place(*ActionInhaltPnl, 0, 33, 129, 120);
    ActionInhaltPnl2 = std::make_unique<TPanel>(ActionInhaltPnl.get());
    ActionInhaltPnl2->Name = "ActionInhaltPnl2";
    ActionInhaltPnl2->BevelOuter = TBevelCut::bvLowered;
    Place(*ActionInhaltPnl2, 2, 2, 125, 116);
    auto row = [this](std::unique_ptr<TPanel>& pnl, const char* name, int top,
                      std::unique_ptr<TStoneImage>& img, int picture, std::unique_ptr<TSpinEdit>& spin) {
        pnl = std::make_unique<TPanel>(ActionInhaltPnl2.get());
        pnl->Name = std::string(name) + "Pnl";
        Place(*pnl, 6, top, 113, 33);
        img = std::make_unique<TStoneImage>(pnl.get(), StoneList, picture);
        Place(*img, 0, 1, 30, 30);
        spin = std::make_unique<TSpinEdit>(pnl.get(), 0, 99, 2);
        spin->Name = name;
        Place(*spin, 40, 8, 65, 22);
    };
    row(ActionXPGoldsPnl, "ActionXPGolds", 8, ActionXGoldsImg, GoldPicture, ActionXPGolds);
    row(ActionXPLivesPnl, "ActionXPLives", 41, ActionXPLivesImg, HeartPicture, ActionXPLives);
    row(ActionXPKeysPnl, "ActionXPKeys", 74, ActionXPKeysImg, KeyPicture, ActionXPKeys);
    ActionXGoldsImg->Name = "ActionXGoldsImg";
    ActionXPLivesImg->Name = "ActionXPLivesImg";
    ActionXPKeysImg->Name = "ActionXPKeysImg";
    ActionXPGolds->OnChange = [this](TObject* s) { ActionXPGoldsChange(s); };
    ActionXPLives->OnChange = [this](TObject* s) { ActionXPLivesChange(s); };
    ActionXPKeys->OnChange = [this](TObject* s) { ActionXPKeysChange(s); };
}

void TForm1::CreateSchalterXP() {
    SchalterXP = KindPanel(LeftPanel.get(), "SchalterXP", 120, 125);
    TWinControl* p = SchalterXP.get();
    SchalterXPLbl1 = std::make_unique<TLabel>(p, "Aktion:");
    Place(*SchalterXPLbl1, 0, 8);
    SchalterXPShowStone = std::make_unique<TRadioButton>(p, "Stone zeigen", true);
    SchalterXPShowStone->Name = "SchalterXPShowStone";
    Place(*SchalterXPShowStone, 0, 32, 113, 17);
    SchalterXPHideStone = std::make_unique<TRadioButton>(p, "Stone verbergen");
    SchalterXPHideStone->Name = "SchalterXPHideStone";
    Place(*SchalterXPHideStone, 0, 64, 113, 17);
    SchalterXPMovePlatform = std::make_unique<TRadioButton>(p, "Plattform bewegen");
    SchalterXPMovePlatform->Name = "SchalterXPMovePlatform";
    Place(*SchalterXPMovePlatform, 0, 96, 113, 17);
    auto button = [p](std::unique_ptr<TButton>& b, const char* name, int top) {
        b = std::make_unique<TButton>(p, "");
        b->Name = name;
        Place(*b, 112, top, 17, 25);
    };
    button(SchalterXPShowStoneBtn, "SchalterXPShowStoneBtn", 32);
    button(SchalterXPHideStoneBtn, "SchalterXPHideStoneBtn", 64);
    button(SchalterXPMovePlatformBtn, "SchalterXPMovePlatformBtn", 96);
    // No Hint: moving on to the canvas would then replace the pick prompt in the status bar.
    PickTargetIcon = ButtonIcon(L"PICKTARGET");
    for (TButton* b :
         {SchalterXPShowStoneBtn.get(), SchalterXPHideStoneBtn.get(), SchalterXPMovePlatformBtn.get()}) {
        ShowIcon(*b, PickTargetIcon);
        AddToolTip(*b, PickTargetHint);
    }

    SchalterXPShowStone->OnClick = [this](TObject* s) { SchalterXPShowStoneClick(s); };
    SchalterXPHideStone->OnClick = [this](TObject* s) { SchalterXPClick(s); };
    SchalterXPMovePlatform->OnClick = [this](TObject* s) { SchalterXPMovePlatformClick(s); };
    SchalterXPShowStoneBtn->OnClick = [this](TObject* s) { SchalterXPShowStoneBtnClick(s); };
    SchalterXPHideStoneBtn->OnClick = [this](TObject* s) { SchalterXPHideStoneBtnClick(s); };
    SchalterXPMovePlatformBtn->OnClick = [this](TObject* s) { SchalterXPMovePlatformBtnClick(s); };
}

void TForm1::CreateZembXP() {
    ZembXP = KindPanel(LeftPanel.get(), "ZembXP", 120, 305);
    TWinControl* p = ZembXP.get();
    ZembXPZembLbl = std::make_unique<TLabel>(p, "Zemb:");
    Place(*ZembXPZembLbl, 0, 8);
    ZembXPZembBox = std::make_unique<TComboBox>(p);
    ZembXPZembBox->Name = "ZembXPZembBox";
    Place(*ZembXPZembBox, 32, 8, 97, 120); // the height is that of the opened list
    for (const char* item : {"Stufe 1", "Stufe 2", "Stufe 3", "Stufe 4"})
        ZembXPZembBox->AddItem(item);
    ZembXPZembBox->SetItemIndex(0);
    ZembXPZembPnl = std::make_unique<TPanel>(p);
    ZembXPZembPnl->Name = "ZembXPZembPnl";
    ZembXPZembPnl->BevelOuter = TBevelCut::bvLowered;
    Place(*ZembXPZembPnl, 0, 40, 129, 129);
    ZembXPZembTxt = std::make_unique<TLabel>(ZembXPZembPnl.get(), StagePlaceholder(), true);
    ZembXPZembTxt->Name = "ZembXPZembTxt";
    Place(*ZembXPZembTxt, 1, 1, 127, 127);
    ZembXPZembTexte = std::make_unique<TEdit>(p, false, true);
    ZembXPZembTexte->Name = "ZembXPZembTexte";
    ZembXPZembTexte->SetVisible(false);
    ZembXPZembTexte->SetText(StageTexts());

    struct TInhalt {
        std::unique_ptr<TRadioButton>& Btn;
        const char* Name;
        std::unique_ptr<TStoneImage>& Img;
        int Picture;
    };
    TInhalt rows[] = {{ZembXPInhalt1Btn, "ZembXPInhalt1", ZembXPInhalt1Img, GoldPicture},
                      {ZembXPInhalt2Btn, "ZembXPInhalt2", ZembXPInhalt2Img, HeartPicture},
                      {ZembXPInhalt3Btn, "ZembXPInhalt3", ZembXPInhalt3Img, KeyPicture},
                      {ZembXPInhalt4Btn, "ZembXPInhalt4", ZembXPInhalt4Img, StarPicture}};
    int top = 184;
    for (TInhalt& r : rows) {
        r.Btn = std::make_unique<TRadioButton>(p, "", &r == &rows[0]);
        r.Btn->Name = std::string(r.Name) + "Btn";
        Place(*r.Btn, 8, top, 17, 17);
        r.Img = std::make_unique<TStoneImage>(p, StoneList, r.Picture);
        r.Img->Name = std::string(r.Name) + "Img";
        Place(*r.Img, 25, top - 7, 30, 30);
        top += 32;
    }
    ZembXPInhalt1Btn->SetChecked(true);

    ZembXPZembBox->OnChange = [this](TObject* s) { ZembXPZembBoxChange(s); };
    ZembXPInhalt1Btn->OnClick = [this](TObject* s) { ZembXPInhalt1BtnClick(s); };
    ZembXPInhalt2Btn->OnClick = [this](TObject* s) { ZembXPInhalt2BtnClick(s); };
    ZembXPInhalt3Btn->OnClick = [this](TObject* s) { ZembXPInhalt3BtnClick(s); };
    ZembXPInhalt4Btn->OnClick = [this](TObject* s) { ZembXPInhalt4BtnClick(s); };
}

std::string TForm1::ZembStageText(int n) const {
    if (n < 0) return {};
    std::string all = ZembXPZembTexte->Text();
    size_t start = 0;
    for (int i = 0; i < n; ++i) {
        size_t end = all.find("\r\n", start);
        if (end == std::string::npos) return {};
        start = end + 2;
    }
    size_t end = all.find("\r\n", start);
    return all.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void TForm1::ClearPanel() {
    for (TEdit* e : {PX.get(), PY.get(), PNr.get()}) {
        ShowText(*e, "");
        e->SetEnabled(false);
    }
    ShowChecked(*PVisible, false);
    PVisible->SetEnabled(false);
    for (TPanel* p : {DefaultXP.get(), ZembXP.get(), SchalterXP.get(), ActionXP.get()})
        p->SetVisible(false);
}

void TForm1::ShowStoneInPanel(TLevelStone* s) {
    for (TWinControl* c : {static_cast<TWinControl*>(PX.get()), static_cast<TWinControl*>(PY.get()),
                           static_cast<TWinControl*>(PNr.get()), static_cast<TWinControl*>(PVisible.get())})
        c->SetEnabled(true);
    ShowText(*PX, IntToStr(s->X));
    ShowText(*PY, IntToStr(s->Y));
    ShowText(*PNr, IntToStr(s->StoneNr));
    ShowChecked(*PVisible, s->StoneVisible);
    TPanel* kind = s->StoneNr == 1 || s->StoneNr == 2 ? DefaultXP.get()
                   : s->StoneNr == 5                  ? ActionXP.get()
                   : s->StoneNr == 6                  ? SchalterXP.get()
                   : s->StoneNr == 10                 ? ZembXP.get()
                                                      : nullptr;
    for (TPanel* p : {DefaultXP.get(), ZembXP.get(), SchalterXP.get(), ActionXP.get()})
        if (p != kind) p->SetVisible(false);
    if (kind == DefaultXP.get()) {
        ShowText(*DefaultXPStartX, IntToStr(s->StartX));
        ShowText(*DefaultXPStopX, IntToStr(s->StopX));
        ShowChecked(*DefaultXPMoveXCheck, s->MoveX);
        ShowText(*DefaultXPStartY, IntToStr(s->StartY));
        ShowText(*DefaultXPStopY, IntToStr(s->StopY));
        ShowChecked(*DefaultXPMoveYCheck, s->MoveY);
    } else if (kind == ActionXP.get()) {
        // The fields hold 0 .. 99; their change handlers store what they show, so a count read
        // from a file beyond that range is kept as shown.
        ActionXPLives->SetValue(s->Lives);
        ActionXPGolds->SetValue(s->Golds);
        ActionXPKeys->SetValue(s->Keys);
        ActionXPLivesChange(ActionXPLives.get());
        ActionXPGoldsChange(ActionXPGolds.get());
        ActionXPKeysChange(ActionXPKeys.get());
    } else if (kind == SchalterXP.get()) {
        TRadioButton* r = s->SchalterAction == 0   ? SchalterXPShowStone.get()
                          : s->SchalterAction == 1 ? SchalterXPHideStone.get()
                          : s->SchalterAction == 2 ? SchalterXPMovePlatform.get()
                                                   : nullptr;
        if (r) {
            for (TRadioButton* b :
                 {SchalterXPShowStone.get(), SchalterXPHideStone.get(), SchalterXPMovePlatform.get()})
                ShowChecked(*b, b == r);
        }
    } else if (kind == ZembXP.get()) {
        // A stage beyond the four (only a file can hold one) is shown, and kept, as the nearest.
        int stage = std::clamp(s->ZembStage, 0, ZembXPZembBox->Count() - 1);
        if (ZembXPZembBox->ItemIndex() != stage) ZembXPZembBox->SetItemIndex(stage);
        ZembXPZembBoxChange(ZembXPZembBox.get());
        TRadioButton* r = s->ZembInhalt == 9    ? ZembXPInhalt1Btn.get()
                          : s->ZembInhalt == 8  ? ZembXPInhalt2Btn.get()
                          : s->ZembInhalt == 11 ? ZembXPInhalt3Btn.get()
                          : s->ZembInhalt == 3  ? ZembXPInhalt4Btn.get()
                                                : nullptr;
        if (r) {
            for (TRadioButton* b : {ZembXPInhalt1Btn.get(), ZembXPInhalt2Btn.get(), ZembXPInhalt3Btn.get(),
                                    ZembXPInhalt4Btn.get()})
                ShowChecked(*b, b == r);
        }
    }
    if (kind) kind->SetVisible(true);
}

void TForm1::ApplyPosition(TEdit& field, bool column) {
    TLevelStone* s = Level.CurrentStone;
    if (!s) return;
    std::string text = field.Text();
    std::optional<int32_t> v = TryStrToInt(text);
    if (!v) {
        Application().MessageBox("'" + text + "' ist kein gültiger Integerwert.", "Fehler",
                                 MB_OK | MB_ICONERROR);
        SelectAll(field);
        return;
    }
    // The bounds are those of the default level size, whatever the level's size is.
    if (*v > (column ? 15 : 11)) {
        field.SetText(IntToStr(column ? s->X : s->Y));
        SelectAll(field);
        return;
    }
    if (column)
        s->SetPosition(*v, s->Y);
    else
        s->SetPosition(s->X, *v);
    SelectAll(field);
}

void TForm1::PXKeyDown(TObject*, WORD& key, TShiftState) {
    if (key != VK_RETURN) return;
    key = 0;
    ApplyPosition(*PX, true);
}

void TForm1::PYKeyDown(TObject*, WORD& key, TShiftState) {
    if (key != VK_RETURN) return;
    key = 0;
    ApplyPosition(*PY, false);
}

void TForm1::PNrKeyDown(TObject*, WORD& key, TShiftState) {
    if (key != VK_RETURN) return;
    key = 0;
    TLevelStone* s = Level.CurrentStone;
    if (!s) return;
    std::string text = PNr->Text();
    std::optional<int32_t> v = TryStrToInt(text);
    if (!v) {
        Application().MessageBox("'" + text + "' ist kein gültiger Integerwert.", "Fehler",
                                 MB_OK | MB_ICONERROR);
    } else if (*v == 6 || *v == 7 || *v > MaxStoneNr) {
        PNr->SetText(IntToStr(s->StoneNr));
    } else {
        s->SetStoneNr(*v);
    }
    SelectAll(*PNr);
}

void TForm1::PVisibleClick(TObject*) {
    if (PanelUpdating || !Level.CurrentStone) return;
    Level.CurrentStone->StoneVisible = PVisible->Checked();
}

void TForm1::DefaultXPMoveXCheckClick(TObject*) {
    if (Level.CurrentStone) Level.CurrentStone->MoveX = DefaultXPMoveXCheck->Checked();
}

void TForm1::DefaultXPMoveYCheckClick(TObject*) {
    if (Level.CurrentStone) Level.CurrentStone->MoveY = DefaultXPMoveYCheck->Checked();
}

void TForm1::DefaultXPStartXBtnClick(TObject*) {
    if (TLevelStone* s = Level.CurrentStone) {
        s->StartX = s->X;
        DefaultXPStartX->SetText(IntToStr(s->StartX));
    }
}

void TForm1::DefaultXPStopXBtnClick(TObject*) {
    if (TLevelStone* s = Level.CurrentStone) {
        s->StopX = s->X;
        DefaultXPStopX->SetText(IntToStr(s->StopX));
    }
}

void TForm1::DefaultXPStartYBtnClick(TObject*) {
    if (TLevelStone* s = Level.CurrentStone) {
        s->StartY = s->Y;
        DefaultXPStartY->SetText(IntToStr(s->StartY));
    }
}

void TForm1::DefaultXPStopYBtnClick(TObject*) {
    if (TLevelStone* s = Level.CurrentStone) {
        s->StopY = s->Y;
        DefaultXPStopY->SetText(IntToStr(s->StopY));
    }
}

void TForm1::ActionXPGoldsChange(TObject*) {
    if (Level.CurrentStone) Level.CurrentStone->Golds = ActionXPGolds->Value();
}

void TForm1::ActionXPLivesChange(TObject*) {
    if (Level.CurrentStone) Level.CurrentStone->Lives = ActionXPLives->Value();
}

void TForm1::ActionXPKeysChange(TObject*) {
    if (Level.CurrentStone) Level.CurrentStone->Keys = ActionXPKeys->Value();
}

void TForm1::SchalterXPShowStoneClick(TObject*) {
    if (Level.CurrentStone) Level.CurrentStone->SchalterAction = 0;
}

void TForm1::SchalterXPClick(TObject*) {
    if (Level.CurrentStone) Level.CurrentStone->SchalterAction = 1;
}

void TForm1::SchalterXPMovePlatformClick(TObject*) {
    if (Level.CurrentStone) Level.CurrentStone->SchalterAction = 2;
}

void TForm1::StartPicking() {
    if (!Level.CurrentStone) return;
    PickingTarget = true;
    MenuBar->SetText(PickPrompt);
}

void TForm1::SchalterXPShowStoneBtnClick(TObject*) {
    StartPicking();
}
void TForm1::SchalterXPHideStoneBtnClick(TObject*) {
    StartPicking();
}
void TForm1::SchalterXPMovePlatformBtnClick(TObject*) {
    StartPicking();
}

void TForm1::ZembXPZembBoxChange(TObject*) {
    TLevelStone* s = Level.CurrentStone;
    if (!s) return;
    int index = ZembXPZembBox->ItemIndex();
    s->SetZembStage(index);
    ShowText(*ZembXPZembTxt, ZembStageText(index));
}

void TForm1::ZembXPInhalt1BtnClick(TObject*) {
    if (Level.CurrentStone) Level.CurrentStone->ZembInhalt = 9;
}

void TForm1::ZembXPInhalt2BtnClick(TObject*) {
    if (Level.CurrentStone) Level.CurrentStone->ZembInhalt = 8;
}

void TForm1::ZembXPInhalt3BtnClick(TObject*) {
    if (Level.CurrentStone) Level.CurrentStone->ZembInhalt = 11;
}

void TForm1::ZembXPInhalt4BtnClick(TObject*) {
    if (Level.CurrentStone) Level.CurrentStone->ZembInhalt = 3;
}
