// Mouse editing on the canvas, driven by real mouse messages at pixel positions: placing,
// selecting, dragging (also outside the canvas under capture) and switch target picking.
#include "tests/support/MainWindowFixture.h"

namespace {

class CanvasTest : public TMainWindowFixture {
protected:
    void TearDown() override {
        Mouse(WM_LBUTTONUP, 0, 0, 0); // never leave the capture behind
        TMainWindowFixture::TearDown();
    }
    // A mouse message at a canvas pixel (client coordinates, negative ones too).
    void Mouse(UINT msg, int x, int y, WPARAM keys) {
        HWND canvas = Form->LevelImage->Handle();
        ::PostMessageW(canvas, msg, keys, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
        PumpMessages();
    }
    void Press(int x, int y) { Mouse(WM_LBUTTONDOWN, x, y, MK_LBUTTON); }
    void MoveTo(int x, int y) { Mouse(WM_MOUSEMOVE, x, y, MK_LBUTTON); }
    void Release(int x, int y) { Mouse(WM_LBUTTONUP, x, y, 0); }
    void Click(int x, int y) {
        Press(x, y);
        Release(x, y);
    }
    void RightClick(int x, int y) {
        Mouse(WM_RBUTTONDOWN, x, y, MK_RBUTTON);
        Mouse(WM_RBUTTONUP, x, y, 0);
    }
    // A click on a palette button, as the user does it.
    void Palette(int32_t stoneNr) {
        TForm1::TPaletteButton b = Form->PaletteButton(stoneNr);
        RECT r = b.Bar->ButtonRect(b.Index);
        LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        ::PostMessageW(b.Bar->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::PostMessageW(b.Bar->Handle(), WM_LBUTTONUP, 0, at);
        PumpMessages();
        ASSERT_EQ(Form->PaletteStoneNr, stoneNr);
    }
    // Exactly one palette button is down: the one of the tool.
    void ExpectTool(int32_t stoneNr) {
        EXPECT_EQ(Form->PaletteStoneNr, stoneNr);
        int down = Form->MouseBar->Down(0) ? 1 : 0;
        for (int i = 0; i < Form->StoneBar->ButtonCount(); ++i)
            down += Form->StoneBar->Down(i) ? 1 : 0;
        EXPECT_EQ(down, 1);
        TForm1::TPaletteButton b = Form->PaletteButton(stoneNr);
        EXPECT_TRUE(b.Bar->Down(b.Index));
    }
};

TEST_F(CanvasTest, PlacingLeavesThePanelAndTheFramesAsTheyWere) {
    TLevelStone* old = AddStone(1, 5, 5);
    Click(5 * 50 + 10, 5 * 50 + 10);
    ASSERT_EQ(Form->Level.CurrentStone, old);
    ASSERT_TRUE(Form->DefaultXP->Visible());

    Palette(5);
    Press(149, 50);
    ASSERT_EQ(Form->Level.Stones.size(), 2u);
    TLevelStone* placed = Form->Level.Stones.back();
    EXPECT_EQ(placed->StoneNr, 5);
    EXPECT_EQ(placed->X, 2);
    EXPECT_EQ(placed->Y, 1);
    EXPECT_EQ(placed->Left(), 100);
    EXPECT_EQ(Form->Level.CurrentStone, placed);
    EXPECT_FALSE(Form->Level.Saved);
    EXPECT_EQ(Form->LevelImage->GraphicAt(149, 50), placed);
    // The panel still shows the stone selected before, which keeps its frame.
    EXPECT_EQ(Form->PX->Text(), "5");
    EXPECT_TRUE(Form->DefaultXP->Visible());
    EXPECT_FALSE(Form->ActionXP->Visible());
    EXPECT_TRUE(old->FrameDrawn());
    EXPECT_FALSE(placed->FrameDrawn());

    // Holding the button drags the new stone; the position fields follow it.
    MoveTo(5 * 50 + 20, 3 * 50 + 20);
    EXPECT_EQ(placed->X, 5);
    EXPECT_EQ(placed->Y, 3);
    EXPECT_EQ(Form->PX->Text(), "5");
    EXPECT_EQ(Form->PY->Text(), "3");
    EXPECT_EQ(Form->PosBar->Text(), "X: 5; Y: 3");
    Release(5 * 50 + 20, 3 * 50 + 20);
    EXPECT_FALSE(Form->Dragging);

    // The tool stays: each click on empty canvas places one more stone, which becomes current.
    Click(10, 10);
    Click(799, 599);
    ASSERT_EQ(Form->Level.Stones.size(), 4u);
    EXPECT_EQ(Form->Level.Stones[3]->X, 15);
    EXPECT_EQ(Form->Level.Stones[3]->Y, 11);
    EXPECT_EQ(Form->Level.CurrentStone, Form->Level.Stones[3]);
    ExpectTool(5);
}

TEST_F(CanvasTest, APressOnAStoneWithAPlacingToolSelectsIt) {
    TLevelStone* a = AddStone(10, 3, 3);
    TLevelStone* b = AddStone(12, 4, 3);
    Palette(12);
    Click(3 * 50 + 25, 3 * 50 + 25);
    ExpectTool(0);
    EXPECT_EQ(Form->Level.Stones.size(), 2u);
    EXPECT_EQ(Form->Level.CurrentStone, a);
    EXPECT_TRUE(a->Selected && a->FrameDrawn());
    EXPECT_FALSE(b->FrameDrawn());
    EXPECT_TRUE(Form->ZembXP->Visible());
    EXPECT_TRUE(Form->PX->Enabled());
    EXPECT_EQ(Form->PX->Text(), "3");
    EXPECT_EQ(Form->PNr->Text(), "10");

    // Selecting the other one reloads the first one's picture: its frame goes.
    Click(4 * 50 + 25, 3 * 50 + 25);
    EXPECT_FALSE(a->FrameDrawn());
    EXPECT_FALSE(a->Selected);
    EXPECT_TRUE(b->FrameDrawn());
    EXPECT_FALSE(Form->ZembXP->Visible());
}

TEST_F(CanvasTest, TheTopmostStoneOfACellGetsThePress) {
    AddStone(1, 2, 2);
    TLevelStone* top = AddStone(2, 2, 2);
    Click(110, 110);
    EXPECT_EQ(Form->Level.CurrentStone, top);
}

TEST_F(CanvasTest, RightClicksOnlySwitchToTheSelectTool) {
    TLevelStone* s = AddStone(1, 1, 1);
    Form->Level.Saved = true;
    Palette(12);
    RightClick(25, 25); // empty canvas: nothing at all
    ExpectTool(12);
    EXPECT_EQ(Form->Level.Stones.size(), 1u);
    RightClick(75, 75);
    ExpectTool(0);
    EXPECT_EQ(Form->Level.CurrentStone, nullptr);
    EXPECT_FALSE(s->FrameDrawn());
    EXPECT_FALSE(Form->PX->Enabled());
    EXPECT_FALSE(Form->Dragging);
    EXPECT_TRUE(Form->Level.Saved);
}

TEST_F(CanvasTest, AClickOnEmptyCanvasClearsThePanel) {
    // Without stones the click changes nothing of the document.
    Click(300, 300);
    EXPECT_TRUE(Form->Level.Saved);

    TLevelStone* s = AddStone(5, 0, 0);
    Click(20, 20);
    ASSERT_TRUE(Form->ActionXP->Visible());
    // A single stone: selecting it unselects no other one, so the level stays saved.
    Form->Level.Saved = true;
    Click(20, 20);
    EXPECT_TRUE(Form->Level.Saved);

    Click(300, 300);
    EXPECT_EQ(Form->Level.CurrentStone, nullptr);
    EXPECT_FALSE(s->FrameDrawn());
    for (TEdit* e : {Form->PX.get(), Form->PY.get(), Form->PNr.get()}) {
        EXPECT_EQ(e->Text(), "");
        EXPECT_FALSE(e->Enabled());
    }
    EXPECT_FALSE(Form->PVisible->Enabled());
    EXPECT_FALSE(Form->PVisible->Checked());
    for (TPanel* p :
         {Form->DefaultXP.get(), Form->ActionXP.get(), Form->SchalterXP.get(), Form->ZembXP.get()})
        EXPECT_FALSE(p->Visible());
    // Unselecting the one stone reloaded its picture.
    EXPECT_FALSE(Form->Level.Saved);
}

TEST_F(CanvasTest, ADragThatLeavesTheCanvasKeepsTheStoneOnTheGrid) {
    TLevelStone* s = AddStone(1, 2, 1);
    Form->Level.Saved = true;
    Press(110, 60);
    ASSERT_EQ(Form->Level.CurrentStone, s);
    EXPECT_TRUE(Form->Dragging);
    EXPECT_TRUE(Form->Level.Saved); // the only stone: nothing was unselected
    // A move within the same cell still counts as a change.
    MoveTo(120, 70);
    EXPECT_FALSE(Form->Level.Saved);

    MoveTo(-30, 60);
    EXPECT_EQ(s->X, 0);
    EXPECT_EQ(Form->PosBar->Text(), "X: 0; Y: 1");
    MoveTo(-49, 60);
    EXPECT_EQ(Form->PosBar->Text(), "X: 0; Y: 1");
    MoveTo(-50, 60);
    EXPECT_EQ(Form->PosBar->Text(), "X: -1; Y: 1");
    EXPECT_EQ(s->X, 0);
    EXPECT_EQ(Form->PX->Text(), "0");
    // Far beyond the bottom right: the last cell.
    MoveTo(5000, 4000);
    EXPECT_EQ(s->X, 15);
    EXPECT_EQ(s->Y, 11);
    EXPECT_EQ(Form->PosBar->Text(), "X: 100; Y: 80");
    Release(5000, 4000);
    EXPECT_FALSE(Form->Dragging);
    // Without the button a move only reports the cell.
    Mouse(WM_MOUSEMOVE, 60, 60, 0);
    EXPECT_EQ(s->X, 15);
    EXPECT_EQ(Form->PosBar->Text(), "X: 1; Y: 1");
}

TEST_F(CanvasTest, AStoneCanBeDraggedOntoAnOccupiedCell) {
    TLevelStone* a = AddStone(3, 1, 1);
    TLevelStone* b = AddStone(4, 3, 1);
    Press(175, 75);
    ASSERT_EQ(Form->Level.CurrentStone, b);
    MoveTo(75, 75);
    Release(75, 75);
    EXPECT_EQ(b->X, 1);
    EXPECT_EQ(a->X, 1);
    EXPECT_EQ(Form->LevelImage->GraphicAt(75, 75), b);
}

TEST_F(CanvasTest, PickingStoresTheClickedStonesIndexInTheSwitch) {
    TLevelStone* sw = AddStone(6, 0, 0);
    for (int i = 1; i <= 4; ++i)
        AddStone(12, i * 2, 4);
    sw->SchalterAction = 1;
    Click(25, 25);
    ASSERT_TRUE(Form->SchalterXP->Visible());
    EXPECT_TRUE(Form->SchalterXPHideStone->Checked());

    ::SendMessageW(Form->SchalterXPMovePlatformBtn->Handle(), BM_CLICK, 0, 0);
    PumpMessages();
    EXPECT_TRUE(Form->PickingTarget);
    EXPECT_EQ(Form->MenuBar->Text(), "Klicken Sie auf einen Stone");
    EXPECT_EQ(sw->SchalterAction, 1);

    Click(8 * 50 + 25, 4 * 50 + 25); // the stone at index 4
    EXPECT_EQ(sw->SchalterTarget, 4);
    EXPECT_FALSE(Form->PickingTarget);
    EXPECT_EQ(Form->MenuBar->Text(), "");
    EXPECT_EQ(Form->Level.CurrentStone, sw);
    EXPECT_TRUE(sw->FrameDrawn());
    EXPECT_FALSE(Form->Level.Stones[4]->FrameDrawn());
    EXPECT_TRUE(Form->SchalterXP->Visible());
}

TEST_F(CanvasTest, PickingOutlivesClicksOnEmptyCanvas) {
    TLevelStone* sw = AddStone(6, 0, 0);
    AddStone(12, 3, 3);
    Click(25, 25);
    ::SendMessageW(Form->SchalterXPShowStoneBtn->Handle(), BM_CLICK, 0, 0);
    PumpMessages();
    ASSERT_TRUE(Form->PickingTarget);

    // Empty canvas: an ordinary selection click; picking goes on with no switch current.
    Click(500, 500);
    EXPECT_TRUE(Form->PickingTarget);
    EXPECT_EQ(Form->Level.CurrentStone, nullptr);
    // A pick with no stone current stores nothing, ends picking and selects the clicked stone.
    Click(3 * 50 + 25, 3 * 50 + 25);
    EXPECT_FALSE(Form->PickingTarget);
    EXPECT_EQ(Form->MenuBar->Text(), "");
    EXPECT_EQ(sw->SchalterTarget, 0);
    EXPECT_EQ(Form->Level.CurrentStone, Form->Level.Stones[1]);
    EXPECT_TRUE(Form->Level.Stones[1]->FrameDrawn());
}

TEST_F(CanvasTest, APaletteButtonChangesOnlyTheTool) {
    TLevelStone* s = AddStone(6, 0, 0);
    Click(25, 25);
    Form->PickingTarget = true;
    for (int32_t nr : {1, 2, 5, 12, 15, 10, 4, 13, 9, 8, 3, 11, 17, 0}) {
        Palette(nr);
        ExpectTool(nr);
    }
    Palette(0); // the button that is already down stays down
    ExpectTool(0);
    EXPECT_EQ(Form->Level.CurrentStone, s);
    EXPECT_TRUE(s->FrameDrawn());
    EXPECT_TRUE(Form->PickingTarget);
}

} // namespace

namespace {

TEST_F(CanvasTest, ADoubleClickPlacesWithTheFirstPressAndSelectsWithTheSecond) {
    Palette(9);
    Press(120, 70);
    Release(120, 70);
    Mouse(WM_LBUTTONDBLCLK, 120, 70, MK_LBUTTON);
    Release(120, 70);
    ASSERT_EQ(Form->Level.Stones.size(), 1u);
    EXPECT_EQ(Form->Level.CurrentStone, Form->Level.Stones[0]);
    EXPECT_TRUE(Form->Level.Stones[0]->Selected);
    ExpectTool(0);
}

} // namespace
