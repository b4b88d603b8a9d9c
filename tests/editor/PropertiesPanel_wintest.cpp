// The stone properties panel, driven through real key, character, mouse and control messages
// after a real selection click on the canvas.
#include "tests/support/MainWindowFixture.h"

namespace {

class PropertiesPanelTest : public TMainWindowFixture {
protected:
    // A selection click on the stone's cell; the level counts as saved afterwards.
    void Select(TLevelStone* s) {
        HWND canvas = Form->LevelImage->Handle();
        LPARAM at = MAKELPARAM(s->Left() + 25, s->Top() + 25);
        ::PostMessageW(canvas, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::PostMessageW(canvas, WM_LBUTTONUP, 0, at);
        PumpMessages();
        ASSERT_EQ(Form->Level.CurrentStone, s);
        Form->Level.Saved = true;
    }
    // Replaces the field's text by typing, as the keyboard delivers characters.
    void Type(TWinControl& field, const std::string& text, bool replace = true) {
        field.SetFocus();
        if (replace) ::SendMessageW(field.Handle(), EM_SETSEL, 0, -1);
        for (wchar_t c : Widen(text)) {
            ::PostMessageW(field.Handle(), WM_CHAR, c, 1);
            Application().ProcessMessages();
        }
    }
    void Enter(TWinControl& field) {
        ::PostMessageW(field.Handle(), WM_KEYDOWN, VK_RETURN, 1);
        Application().ProcessMessages();
    }
    static std::pair<DWORD, DWORD> Selection(TWinControl& field) {
        DWORD from = 0, to = 0;
        ::SendMessageW(field.Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                       reinterpret_cast<LPARAM>(&to));
        return {from, to};
    }
    static void ClickButton(TWinControl& b) {
        ::SendMessageW(b.Handle(), BM_CLICK, 0, 0);
        PumpMessages();
    }
    void ChooseStage(int index) {
        ::SendMessageW(Form->ZembXPZembBox->Handle(), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        HWND box = Form->ZembXPZembBox->Handle();
        ::SendMessageW(::GetParent(box), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(box), CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(box));
    }
    // A press and release on the upper (+1) or lower (-1) half of a spin field's buttons.
    static void SpinClick(TSpinEdit& spin, bool up) {
        HWND b = spin.ButtonsHandle();
        RECT r;
        ::GetClientRect(b, &r);
        LPARAM at = MAKELPARAM(r.right / 2, up ? r.bottom / 4 : r.bottom * 3 / 4);
        ::PostMessageW(b, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::PostMessageW(b, WM_LBUTTONUP, 0, at);
        PumpMessages(20);
    }
    void Shot(const std::string& name) {
        ::RedrawWindow(Form->Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        PumpMessages(200);
        Screenshot(Form->Handle(), name);
    }
};

TEST_F(PropertiesPanelTest, LayoutAndTabOrder) {
    auto at = [](TWinControl& c, int l, int t, int w, int h) {
        EXPECT_EQ(c.Left(), l) << c.Name;
        EXPECT_EQ(c.Top(), t) << c.Name;
        EXPECT_EQ(c.Width(), w) << c.Name;
        EXPECT_EQ(c.Height(), h) << c.Name;
    };
    at(*Form->PX, 32, 16, 89, 21);
    at(*Form->PNr, 31, 64, 89, 21);
    at(*Form->PVisible, 8, 88, 97, 17);
    EXPECT_EQ(Form->DefaultXP->Top(), 122);
    for (TPanel* p : {Form->ActionXP.get(), Form->SchalterXP.get(), Form->ZembXP.get()})
        at(*p, 8, 120, 129, p->Height());
    at(*Form->DefaultXPStopYBtn, 104, 130, 17, 25);
    at(*Form->ActionInhaltPnl, 0, 33, 129, 120);
    at(*Form->ActionXPKeysPnl, 6, 74, 113, 33);
    at(*Form->ActionXPKeys, 40, 8, 65, 22);
    at(*Form->SchalterXPMovePlatform, 0, 96, 113, 17);
    at(*Form->SchalterXPMovePlatformBtn, 112, 96, 17, 25);
    at(*Form->ZembXPZembPnl, 0, 40, 129, 129);
    at(*Form->ZembXPInhalt4Btn, 8, 280, 17, 17);
    at(*Form->ZembXPInhalt4Img, 25, 273, 30, 30);
    EXPECT_EQ(Form->ZembXPInhalt4Img->Index(), 3);
    EXPECT_EQ(Form->ActionXGoldsImg->Index(), 9);
    EXPECT_EQ(Form->ZembXPZembBox->Count(), 4);
    EXPECT_EQ(Form->ZembXPZembBox->ItemIndex(), 0);
    EXPECT_TRUE(Form->ZembXPInhalt1Btn->Checked());
    EXPECT_EQ(Form->ZembXPZembTxt->Text(),
              "__________________ __________________ __________________ __________________ "
              "__________________ __________________ __________________ __________________ "
              "__________________");
    for (TPanel* p :
         {Form->DefaultXP.get(), Form->ActionXP.get(), Form->SchalterXP.get(), Form->ZembXP.get()})
        EXPECT_FALSE(p->Visible());

    Select(AddStone(1, 1, 1));
    HWND panel = Form->LeftPanel->Handle();
    EXPECT_EQ(::GetNextDlgTabItem(panel, Form->PX->Handle(), FALSE), Form->PY->Handle());
    EXPECT_EQ(::GetNextDlgTabItem(panel, Form->PY->Handle(), FALSE), Form->PNr->Handle());
    EXPECT_EQ(::GetNextDlgTabItem(panel, Form->PNr->Handle(), FALSE), Form->PVisible->Handle());
}

TEST_F(PropertiesPanelTest, ATextThatIsNoIntegerIsAnsweredWithAMessage) {
    TLevelStone* s = AddStone(5, 4, 3);
    Select(s);
    Type(*Form->PY, "abc");
    {
        TDialogAnswerer answer({ScreenshotAndPress("fehler-kein-integer", IDOK)});
        Enter(*Form->PY);
        ASSERT_EQ(answer.Texts().size(), 1u);
        EXPECT_EQ(answer.Titles()[0], L"Fehler");
        EXPECT_EQ(answer.Texts()[0], L"'abc' ist kein gültiger Integerwert.");
    }
    EXPECT_EQ(Form->PY->Text(), "abc");
    EXPECT_EQ(Selection(*Form->PY), std::make_pair(DWORD{0}, DWORD{3}));
    EXPECT_EQ(s->Y, 3);
    EXPECT_TRUE(Form->Level.Saved);

    Type(*Form->PNr, " 1 ");
    {
        TDialogAnswerer answer({PressButton(IDOK)});
        Enter(*Form->PNr);
        ASSERT_EQ(answer.Texts().size(), 1u);
        EXPECT_EQ(answer.Texts()[0], L"' 1 ' ist kein gültiger Integerwert.");
    }
    EXPECT_EQ(s->StoneNr, 5);
}

TEST_F(PropertiesPanelTest, PositionFieldsUseTheDefaultSizeAsTheirBound) {
    Form->Level.LevelWidth = 30;
    Form->Level.LevelHeight = 20;
    TLevelStone* s = AddStone(1, 4, 3);
    Select(s);
    Type(*Form->PX, "20");
    Enter(*Form->PX);
    EXPECT_EQ(Form->PX->Text(), "4");
    EXPECT_EQ(s->X, 4);
    EXPECT_TRUE(Form->Level.Saved);
    EXPECT_EQ(Selection(*Form->PX), std::make_pair(DWORD{0}, DWORD{1}));
    Type(*Form->PX, "$F");
    Enter(*Form->PX);
    EXPECT_EQ(s->X, 15);
    EXPECT_FALSE(Form->Level.Saved);
    Type(*Form->PY, "12");
    Enter(*Form->PY);
    EXPECT_EQ(Form->PY->Text(), "3");
    Type(*Form->PY, "11");
    Enter(*Form->PY);
    EXPECT_EQ(s->Y, 11);

    // On a small level the stone is clamped, while the field keeps what was typed.
    Form->Level.LevelWidth = 8;
    Form->Level.LevelHeight = 8;
    Type(*Form->PX, "12");
    Enter(*Form->PX);
    EXPECT_EQ(s->X, 7);
    EXPECT_EQ(Form->PX->Text(), "12");
    Type(*Form->PY, "-3");
    Enter(*Form->PY);
    EXPECT_EQ(s->Y, 0);
    EXPECT_EQ(Form->PY->Text(), "-3");
    EXPECT_EQ(s->Top(), 0);
}

TEST_F(PropertiesPanelTest, TheNumberFieldRefusesSwitchTypesAndKeepsThePanel) {
    TLevelStone* s = AddStone(1, 2, 2);
    Select(s);
    Type(*Form->PNr, "7");
    Enter(*Form->PNr);
    EXPECT_EQ(Form->PNr->Text(), "1");
    EXPECT_EQ(s->StoneNr, 1);
    Type(*Form->PNr, "18");
    Enter(*Form->PNr);
    EXPECT_EQ(Form->PNr->Text(), "1");
    EXPECT_TRUE(Form->Level.Saved);
    EXPECT_TRUE(s->FrameDrawn());

    Type(*Form->PNr, "14");
    Enter(*Form->PNr);
    EXPECT_EQ(s->StoneNr, 14);
    EXPECT_FALSE(s->FrameDrawn());
    EXPECT_TRUE(Form->DefaultXP->Visible());
    EXPECT_FALSE(Form->Level.Saved);
    Type(*Form->PNr, "-2");
    Enter(*Form->PNr);
    EXPECT_EQ(s->StoneNr, -2);
    EXPECT_EQ(s->PictureIndex(), -1);
}

TEST_F(PropertiesPanelTest, SpinFieldsStoreEveryChangeWithoutMarkingTheLevel) {
    TLevelStone* s = AddStone(5, 0, 0);
    Select(s);
    ASSERT_TRUE(Form->ActionXP->Visible());
    TSpinEdit& golds = *Form->ActionXPGolds;
    EXPECT_EQ(golds.Text(), "0");
    Type(golds, "5");
    EXPECT_EQ(s->Golds, 5);
    Type(golds, "7", false);
    EXPECT_EQ(s->Golds, 57);
    Type(golds, "1", false); // two characters at most
    Type(golds, "a", false); // refused
    EXPECT_EQ(golds.Text(), "57");
    Type(golds, "\b\b", false);
    EXPECT_EQ(golds.Text(), "");
    EXPECT_EQ(s->Golds, 0);

    SpinClick(*Form->ActionXPLives, true);
    SpinClick(*Form->ActionXPLives, true);
    EXPECT_EQ(s->Lives, 2);
    SpinClick(*Form->ActionXPLives, false);
    EXPECT_EQ(s->Lives, 1);
    Type(*Form->ActionXPKeys, "99");
    SpinClick(*Form->ActionXPKeys, true);
    EXPECT_EQ(Form->ActionXPKeys->Text(), "99");
    EXPECT_EQ(s->Keys, 99);

    // A value outside the range is stored as typed and pulled to the bound when the focus leaves.
    Type(*Form->ActionXPKeys, "-5");
    EXPECT_EQ(s->Keys, -5);
    Form->PX->SetFocus();
    PumpMessages();
    EXPECT_EQ(Form->ActionXPKeys->Text(), "0");
    EXPECT_EQ(s->Keys, 0);
    EXPECT_TRUE(Form->Level.Saved);
}

TEST_F(PropertiesPanelTest, CountsBeyondTheFieldsAreShownAndKeptClamped) {
    TLevelStone* s = AddStone(5, 0, 0);
    s->Lives = 150;
    s->Golds = 3;
    s->Keys = -4;
    Select(s);
    EXPECT_EQ(Form->ActionXPLives->Text(), "99");
    EXPECT_EQ(Form->ActionXPGolds->Text(), "3");
    EXPECT_EQ(Form->ActionXPKeys->Text(), "0");
    EXPECT_EQ(s->Lives, 99);
    EXPECT_EQ(s->Golds, 3);
    EXPECT_EQ(s->Keys, 0);
}

TEST_F(PropertiesPanelTest, TheStageBoxShowsTheStagesDescription) {
    TLevelStone* z = AddStone(10, 1, 0);
    z->ZembStage = 1;
    z->ZembInhalt = 11;
    Select(z);
    ASSERT_TRUE(Form->ZembXP->Visible());
    EXPECT_EQ(Form->ZembXPZembBox->ItemIndex(), 1);
    EXPECT_TRUE(Form->ZembXPInhalt3Btn->Checked());
    EXPECT_FALSE(Form->ZembXPInhalt1Btn->Checked());

    const std::string head = "Stufe: 3                   Leben: 3                ";
    ChooseStage(2);
    EXPECT_EQ(z->ZembStage, 2);
    EXPECT_EQ(
        Form->ZembXPZembTxt->Text(),
        head + "Bewegt sich nicht, wenn Figur auf der gleichen Y-Achse und nichts im Weg ist, Schuss in die "
               "Richtung; wenn Figur schießt, springt es hoch.   Trick: Mehrmals schießen");
    EXPECT_EQ(Form->ZembStageText(0),
              "Stufe: 1                   Leben: 1                Bewegt sich nicht, wenn "
              "Figur auf der gleichen Y-Achse und nichts im Weg ist, Schuss in die Richtung; "
              "weicht nicht Schüssen von nicht Figur aus");
    EXPECT_EQ(Form->ZembStageText(1).substr(0, 51), "Stufe: 2                   Leben: 3                ");
    EXPECT_EQ(Form->ZembStageText(1).substr(51), Form->ZembStageText(0).substr(51));
    EXPECT_EQ(Form->ZembStageText(3),
              "Stufe: 4                   Leben: 3                Bewegt sich zu Figur, "
              "sobald sie sichtbar für es ist (auf der gelichen Y-Achse und nichts im Weg); "
              "wenn Figur schießt, springt es hoch.        Trick: Mehrmals schießen");

    ClickButton(*Form->ZembXPInhalt4Btn);
    EXPECT_EQ(z->ZembInhalt, 3);
    ClickButton(*Form->ZembXPInhalt2Btn);
    EXPECT_EQ(z->ZembInhalt, 8);
    EXPECT_FALSE(Form->ZembXPInhalt4Btn->Checked());
    EXPECT_TRUE(Form->Level.Saved);

    // A stage only a file can hold is shown, and kept, as the last one.
    z->ZembStage = 40;
    Select(z);
    EXPECT_EQ(Form->ZembXPZembBox->ItemIndex(), 3);
    EXPECT_EQ(z->ZembStage, 3);
}

TEST_F(PropertiesPanelTest, SwitchAndMovementControlsWriteTheStone) {
    TLevelStone* sw = AddStone(6, 0, 0);
    TLevelStone* mv = AddStone(2, 6, 4);
    Select(sw);
    ClickButton(*Form->SchalterXPHideStone);
    EXPECT_EQ(sw->SchalterAction, 1);
    ClickButton(*Form->SchalterXPMovePlatform);
    EXPECT_EQ(sw->SchalterAction, 2);
    ClickButton(*Form->SchalterXPHideStoneBtn);
    EXPECT_EQ(sw->SchalterAction, 2);
    EXPECT_TRUE(Form->PickingTarget);
    Form->PickingTarget = false;
    // An action the panel does not know leaves the radio buttons as they were.
    sw->SchalterAction = 7;
    Select(sw);
    EXPECT_TRUE(Form->SchalterXPMovePlatform->Checked());
    EXPECT_EQ(sw->SchalterAction, 7);

    Select(mv);
    ClickButton(*Form->DefaultXPMoveYCheck);
    EXPECT_TRUE(mv->MoveY);
    ClickButton(*Form->DefaultXPStopXBtn);
    ClickButton(*Form->DefaultXPStartYBtn);
    EXPECT_EQ(mv->StopX, 6);
    EXPECT_EQ(mv->StartY, 4);
    EXPECT_EQ(Form->DefaultXPStopX->Text(), "6");
    EXPECT_EQ(Form->DefaultXPStartY->Text(), "4");
    ClickButton(*Form->PVisible);
    EXPECT_FALSE(mv->StoneVisible);
    EXPECT_TRUE(Form->Level.Saved);
    Select(mv);
    EXPECT_TRUE(Form->DefaultXPMoveYCheck->Checked());
    EXPECT_FALSE(Form->PVisible->Checked());

    // With no stone current (as after Delete) the still usable controls change nothing.
    Form->Level.CurrentStone = nullptr;
    ClickButton(*Form->PVisible);
    ClickButton(*Form->DefaultXPMoveXCheck);
    ClickButton(*Form->DefaultXPStartXBtn);
    EXPECT_FALSE(mv->StoneVisible);
    EXPECT_FALSE(mv->MoveX);
    EXPECT_EQ(mv->StartX, 0);
    EXPECT_FALSE(Form->PickingTarget);
}

// The text that a tooltip window of this thread holds for the control.
std::wstring ToolTipText(HWND control) {
    struct TFind {
        HWND Control;
        std::wstring Text;
    } find{control, {}};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND w, LPARAM p) WINAPI -> BOOL {
            auto& f = *reinterpret_cast<TFind*>(p);
            wchar_t cls[64] = L"";
            ::GetClassNameW(w, cls, 64);
            if (::lstrcmpiW(cls, TOOLTIPS_CLASSW) != 0) return TRUE;
            std::wstring text(INFOTIPSIZE, L'\0'); // what a tooltip may copy out
            TTTOOLINFOW ti{};
            ti.cbSize = sizeof ti;
            ti.hwnd = ::GetParent(f.Control);
            ti.uId = reinterpret_cast<UINT_PTR>(f.Control);
            ti.lpszText = text.data();
            ::SendMessageW(w, TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&ti));
            f.Text = text.c_str();
            return f.Text.empty();
        },
        reinterpret_cast<LPARAM>(&find));
    return find.Text;
}

// How many of the control's pixels on screen pass the test.
int CountPixels(TWinControl& c, bool (*test)(COLORREF)) {
    ::RedrawWindow(c.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    PumpMessages(50);
    HDC dc = ::GetDC(c.Handle());
    int n = 0;
    for (int y = 0; y < c.Height(); ++y)
        for (int x = 0; x < c.Width(); ++x)
            n += test(::GetPixel(dc, x, y));
    ::ReleaseDC(c.Handle(), dc);
    return n;
}

TEST_F(PropertiesPanelTest, CaptionlessButtonsShowAPictureAndATooltip) {
    struct TCase {
        TLevelStone* Selected;
        std::vector<TButton*> Buttons;
        std::wstring Tip;
        bool (*PictureColour)(COLORREF);
    };
    const TCase cases[] = {
        {AddStone(1, 1, 1),
         {Form->DefaultXPStartXBtn.get(), Form->DefaultXPStopXBtn.get(), Form->DefaultXPStartYBtn.get(),
          Form->DefaultXPStopYBtn.get()},
         L"Von aktueller Position übernehmen",
         [](COLORREF c) { return GetRValue(c) > 170 && GetGValue(c) < 80 && GetBValue(c) < 80; }}, // red pin
        {AddStone(6, 3, 1),
         {Form->SchalterXPShowStoneBtn.get(), Form->SchalterXPHideStoneBtn.get(),
          Form->SchalterXPMovePlatformBtn.get()},
         L"Zielstein auf der Zeichenfläche wählen",
         [](COLORREF c) { return GetBValue(c) > 170 && GetRValue(c) < 80; }}, // blue stone
    };
    auto grey = [](COLORREF c) {
        return GetRValue(c) < 200 && GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c);
    };
    LRESULT pictures[2] = {};
    for (const TCase& c : cases) {
        Select(c.Selected);
        LRESULT& picture = pictures[&c - cases];
        picture = ::SendMessageW(c.Buttons[0]->Handle(), BM_GETIMAGE, IMAGE_ICON, 0);
        EXPECT_NE(picture, 0);
        for (TButton* b : c.Buttons) {
            HWND h = b->Handle();
            EXPECT_EQ(b->Text(), "") << b->Name;
            EXPECT_TRUE(::GetWindowLongW(h, GWL_STYLE) & BS_ICON) << b->Name;
            EXPECT_EQ(::SendMessageW(h, BM_GETIMAGE, IMAGE_ICON, 0), picture) << b->Name;
            EXPECT_EQ(ToolTipText(h), c.Tip) << b->Name;
            EXPECT_GT(CountPixels(*b, c.PictureColour), 10) << b->Name;
        }
        // Disabled, the picture stays as a grey shape.
        TButton& b = *c.Buttons.back();
        b.SetEnabled(false);
        EXPECT_EQ(CountPixels(b, c.PictureColour), 0) << b.Name;
        EXPECT_GT(CountPixels(b, grey), 30) << b.Name;
        b.SetEnabled(true);
    }
    EXPECT_NE(pictures[0], pictures[1]);
}

TEST_F(PropertiesPanelTest, ScreenshotsOfEachKindPanel) {
    TLevelStone* mv = AddStone(1, 1, 1);
    mv->MoveX = true;
    mv->StopX = 5;
    TLevelStone* box = AddStone(5, 3, 1);
    box->Golds = 3;
    box->Lives = 1;
    TLevelStone* sw = AddStone(6, 5, 1);
    sw->SchalterAction = 2;
    TLevelStone* z = AddStone(10, 7, 1);
    z->ZembStage = 3;
    const std::pair<TLevelStone*, const char*> shots[] = {{mv, "panel-moving-stone"},
                                                          {box, "panel-stone-with-contents"},
                                                          {sw, "panel-switch"},
                                                          {z, "panel-zemb"}};
    for (auto [stone, name] : shots) {
        Select(stone);
        Shot(name);
        // The canvas shows the frame on the selected stone only.
        HDC dc = ::GetDC(Form->LevelImage->Handle());
        for (TLevelStone* s : Form->Level.Stones)
            EXPECT_EQ(::GetPixel(dc, s->Left() + 1, s->Top() + 25) == RGB(255, 0, 0), s == stone) << name;
        ::ReleaseDC(Form->LevelImage->Handle(), dc);
    }
}

} // namespace
