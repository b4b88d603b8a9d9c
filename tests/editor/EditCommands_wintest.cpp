// The edit commands through their keys and menu commands, with the focus in the window or in a
// field of the properties panel (the keys act window-wide).
#include "tests/support/MainWindowFixture.h"

namespace {

class EditCommandsTest : public TMainWindowFixture {
protected:
    // Selects a stone with a click of the select tool, as the user does.
    void ClickCell(int32_t x, int32_t y) {
        HWND canvas = Form->LevelImage->Handle();
        LPARAM at = MAKELPARAM(x * 50 + 25, y * 50 + 25);
        ::PostMessageW(canvas, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::PostMessageW(canvas, WM_LBUTTONUP, 0, at);
        PumpMessages();
    }
    // A key as the user types it, with the focus where it is, through the program's own message
    // handling (which gives the window's shortcuts the first go).
    void Key(WORD key, bool ctrl = false) {
        SendKey(key, ctrl);
        for (int i = 0; i < 20; ++i) {
            Application().ProcessMessages();
            ::Sleep(5);
        }
    }
};

TEST_F(EditCommandsTest, DeleteWithoutACurrentStoneChangesNothing) {
    AddStone(1, 1, 1);
    Form->Level.Saved = true;
    Form->SetFocus();
    Key(VK_DELETE);
    EXPECT_EQ(Form->Level.Stones.size(), 1u);
    EXPECT_TRUE(Form->Level.Saved);
}

TEST_F(EditCommandsTest, DeleteRemovesTheStoneAndLeavesTargetsAsTheyWere) {
    for (int i = 0; i < 5; ++i)
        AddStone(i == 0 ? 6 : 9, i, 0);
    Form->Level.Stones[0]->SchalterTarget = 3;
    TLevelStone* third = Form->Level.Stones[3];
    ClickCell(2, 0);
    ASSERT_EQ(Form->Level.CurrentStone, Form->Level.Stones[2]);
    bool visibleBefore = Form->PVisible->Checked();
    Command(Form->DeleteMenu);
    ASSERT_EQ(Form->Level.Stones.size(), 4u);
    EXPECT_EQ(Form->Level.Stones[2], third);
    EXPECT_EQ(Form->Level.Stones[0]->SchalterTarget, 3);
    EXPECT_EQ(Form->Level.CurrentStone, nullptr);
    EXPECT_EQ(Form->LevelImage->GraphicAt(2 * 50 + 25, 25), nullptr);
    EXPECT_FALSE(Form->Level.Saved);
    for (TEdit* f : {Form->PX.get(), Form->PY.get(), Form->PNr.get()}) {
        EXPECT_EQ(f->Text(), "");
        EXPECT_FALSE(f->Enabled());
    }
    EXPECT_EQ(Form->PVisible->Checked(), visibleBefore);
}

TEST_F(EditCommandsTest, MovesStopAtTheGridAndUseTheLevelSize) {
    TLevelStone* s = AddStone(9, 0, 3);
    ClickCell(0, 3);
    Form->Level.Saved = true;
    Command(Form->MoveLeftMenu);
    EXPECT_EQ(s->X, 0);
    EXPECT_TRUE(Form->Level.Saved); // an unchanged cell is no change
    EXPECT_EQ(Form->PX->Text(), "0");
    Command(Form->MoveUpMenu);
    Command(Form->MoveDownMenu);
    Command(Form->MoveDownMenu);
    EXPECT_EQ(s->Y, 4);
    EXPECT_EQ(Form->PY->Text(), "4");
    EXPECT_FALSE(Form->Level.Saved);

    Form->Level.LevelWidth = 30;
    s->SetPosition(15, 4);
    Command(Form->MoveRightMenu);
    EXPECT_EQ(s->X, 16); // beyond the typed entry's fixed bound of 15
    EXPECT_EQ(Form->PX->Text(), "16");

    // A stone beyond a shrunk grid: a move puts it on the border cell, and the fields say so.
    s->SetPosition(20, 11);
    Form->PY->SetText("11");
    Form->Level.LevelWidth = 8;
    Form->Level.LevelHeight = 6;
    Command(Form->MoveLeftMenu);
    EXPECT_EQ(s->X, 7);
    EXPECT_EQ(s->Y, 5);
    EXPECT_EQ(Form->PX->Text(), "7");
    EXPECT_EQ(Form->PY->Text(), "5");
    // Inside the grid a move leaves the other field's text alone.
    Form->PX->SetText("3");
    Command(Form->MoveUpMenu);
    EXPECT_EQ(s->Y, 4);
    EXPECT_EQ(Form->PY->Text(), "4");
    EXPECT_EQ(Form->PX->Text(), "3");
}

TEST_F(EditCommandsTest, TypeStepsSkipTheSwitchTypesAndStopAtTheEnds) {
    TLevelStone* s = AddStone(5, 2, 2);
    ClickCell(2, 2);
    struct {
        int32_t From;
        TMenuItem* Step;
        int32_t To;
    } cases[] = {
        {5, Form->StoneNrPlusMenu, 8},  {17, Form->StoneNrPlusMenu, 17}, {8, Form->StoneNrMinusMenu, 5},
        {0, Form->StoneNrMinusMenu, 0}, {13, Form->StoneNrPlusMenu, 14}, {15, Form->StoneNrMinusMenu, 14},
        {6, Form->StoneNrPlusMenu, 8},  {7, Form->StoneNrMinusMenu, 5},  {6, Form->StoneNrMinusMenu, 5}};
    for (const auto& c : cases) {
        s->SetStoneNr(c.From);
        Command(c.Step);
        EXPECT_EQ(s->StoneNr, c.To) << "from " << c.From;
        EXPECT_EQ(Form->PNr->Text(), std::to_string(c.To));
        EXPECT_TRUE(s->FrameDrawn()); // the new picture gets the frame again
    }
}

TEST_F(EditCommandsTest, KeysInAFieldActOnTheStone) {
    TLevelStone* s = AddStone(1, 4, 4);
    ClickCell(4, 4);
    Form->PX->SetFocus();
    PumpMessages();
    Key(VK_LEFT);
    EXPECT_EQ(s->X, 3);
    EXPECT_EQ(Form->PX->Text(), "3");
    Key(VK_PRIOR);
    EXPECT_EQ(s->StoneNr, 2);

    // Ctrl+C in a field copies nothing: the never-enabled entry takes the key.
    if (::OpenClipboard(Form->Handle())) {
        ::EmptyClipboard();
        ::CloseClipboard();
    }
    Form->PX->SetFocus();
    ::SendMessageW(Form->PX->Handle(), EM_SETSEL, 0, -1);
    Key('C', true);
    EXPECT_FALSE(::IsClipboardFormatAvailable(CF_UNICODETEXT));

    Key(VK_DELETE);
    EXPECT_TRUE(Form->Level.Stones.empty());
}

TEST_F(EditCommandsTest, CleanNeedsNoStone) {
    Form->Level.Saved = true;
    Key(VK_SPACE, true);
    Command(Form->CleanMenu);
    EXPECT_TRUE(Form->Level.Saved);
}

} // namespace
