// The main window driven through real messages: menu commands, keys, mouse moves, and the real
// message boxes and common dialogs answered from a helper thread.
#include "level/LevelFile.h"
#include "tests/support/MainWindowFixture.h"

namespace {

class MainWindowTest : public TMainWindowFixture {
protected:
    std::string WindowTitle() const { return Form->Caption(); }
};

TEST_F(MainWindowTest, StartsMaximizedWithAnEmptyUntitledLevel) {
    EXPECT_EQ(WindowTitle(), "Unbenannt.lvl - LevelEditor");
    EXPECT_EQ(Application().Title(), "Unbenannt.lvl - LevelEditor");
    EXPECT_TRUE(::IsZoomed(Form->Handle()));
    EXPECT_EQ(Form->LevelImage->Width(), 800);
    EXPECT_EQ(Form->LevelImage->Height(), 600);
    EXPECT_TRUE(Form->Level.Saved);
    EXPECT_TRUE(Form->Level.Stones.empty());
    EXPECT_EQ(Form->Level.FileName, "Unbenannt.lvl");
    EXPECT_TRUE(Form->MouseBar->Down(0));
    for (int i = 0; i < Form->StoneBar->ButtonCount(); ++i)
        EXPECT_FALSE(Form->StoneBar->Down(i));
    EXPECT_EQ(Form->StoneBar->ButtonCount(), 13);
    EXPECT_EQ(Form->StoneBar->Button(0).Name, "Stone1");
    EXPECT_EQ(Form->StoneBar->Button(12).Name, "Stone17");
    for (TWinControl* c :
         {static_cast<TWinControl*>(Form->PX.get()), static_cast<TWinControl*>(Form->PY.get()),
          static_cast<TWinControl*>(Form->PNr.get()), static_cast<TWinControl*>(Form->PVisible.get())})
        EXPECT_FALSE(c->Enabled());
    // The never-enabled entries and their buttons; the hidden "Datei schließen" is not in the menu.
    for (TMenuItem* m : {Form->UndoMenu, Form->CutMenu, Form->CopyMenu, Form->PasteMenu, Form->RecicleMenu}) {
        EXPECT_EQ(::GetMenuState(::GetMenu(Form->Handle()), m->Command(), MF_BYCOMMAND) & MF_GRAYED,
                  UINT(MF_GRAYED));
    }
    EXPECT_FALSE(Form->ToolBar->ButtonEnabled(Form->ToolBar->IndexOf("UndoBtn")));
    EXPECT_TRUE(Form->ToolBar->ButtonEnabled(Form->ToolBar->IndexOf("DeleteBtn")));
    EXPECT_EQ(::GetMenuState(::GetMenu(Form->Handle()), Form->CloseFileMenu->Command(), MF_BYCOMMAND),
              UINT(-1));
    EXPECT_EQ(Form->PosBar->Width(), 138);
    EXPECT_EQ(Form->LeftPanel->Width(), 144);
    EXPECT_EQ(Form->StoneBarPnl->Height(), 80);
}

TEST_F(MainWindowTest, SaveOnANewLevelGoesThroughTheDialogAndAppendsTheExtension) {
    TTempDir dir;
    {
        TDialogAnswerer answer({EnterFileName(dir.File(L"level1"))});
        Command(Form->SaveMenu);
    }
    EXPECT_EQ(ReadFileBytes(dir.File(L"level1.lvl")),
              (std::vector<uint8_t>{0x01, 0x30, 0x2C, 0x20, 0x20, 0x02, 0x03, 0x0D, 0x0A}));
    EXPECT_EQ(WindowTitle(), "level1.lvl - LevelEditor");
    EXPECT_EQ(Application().Title(), "level1.lvl - LevelEditor");

    // A name with an extension is taken as it is; a later Save writes without a dialog.
    {
        TDialogAnswerer answer({EnterFileName(dir.File(L"level1.txt"))});
        Command(Form->SaveUsMenu);
    }
    EXPECT_TRUE(FileExists(dir.File(L"level1.txt")));
    EXPECT_EQ(WindowTitle(), "level1.txt - LevelEditor");
    AddStone(12, 15, 11);
    TDialogAnswerer none({});
    Command(Form->SaveMenu);
    EXPECT_EQ(none.Answered(), 0u);
    EXPECT_EQ(ReadFileBytes(dir.File(L"level1.txt")).size(), 12u);
    EXPECT_TRUE(Form->Level.Saved);
}

TEST_F(MainWindowTest, OpenReadsTheChosenFileAndShowsItsStones) {
    TTempDir dir;
    const std::vector<uint8_t> example = {0x01, 0x30, 0x2C, 0x21, 0x2A, 0x02, 0x23, 0x25, 0x21, 0x65,
                                          0x23, 0x27, 0x64, 0x20, 0x20, 0x24, 0x22, 0x25, 0x22, 0x21,
                                          0x20, 0x20, 0x20, 0x23, 0x2F, 0x2B, 0x2C, 0x03, 0x0D, 0x0A};
    WriteFileBytes(dir.File(L"example.lvl"), example);
    {
        TDialogAnswerer answer({EnterFileName(dir.File(L"example.lvl"))});
        Command(Form->OpenMenu);
    }
    ASSERT_EQ(Form->Level.Stones.size(), 3u);
    EXPECT_EQ(Form->Level.StartPointX, 1);
    EXPECT_EQ(Form->Level.StartPointY, 10);
    EXPECT_EQ(Form->LevelImage->GraphicCount(), 3u);
    EXPECT_EQ(Form->LevelImage->GraphicAt(15 * 50 + 10, 11 * 50 + 10), Form->Level.Stones[2]);
    EXPECT_EQ(WindowTitle(), "example.lvl - LevelEditor");
    EXPECT_TRUE(Form->Level.Saved);
    // Saved again without changes: the same bytes.
    Command(Form->SaveMenu);
    EXPECT_EQ(ReadFileBytes(dir.File(L"example.lvl")), example);
}

TEST_F(MainWindowTest, TheUnsavedChangesQuestionGuardsNew) {
    AddStone(5, 2, 1);
    ASSERT_FALSE(Form->Level.Saved);
    {
        TDialogAnswerer answer({ScreenshotAndPress("unsaved-changes-question", IDCANCEL)});
        Command(Form->NewMenu);
        ASSERT_EQ(answer.Texts().size(), 1u);
        EXPECT_EQ(answer.Texts()[0], L"Änderungen an 'Unbenannt.lvl' speichern?");
        EXPECT_EQ(answer.Titles()[0], L"Unbenannt.lvl - LevelEditor");
    }
    EXPECT_EQ(Form->Level.Stones.size(), 1u);

    // Yes, then cancelling the save dialog: the changes stay and New does not go on.
    {
        TDialogAnswerer answer({PressButton(IDYES), PressButton(IDCANCEL)});
        Command(Form->NewMenu);
        EXPECT_EQ(answer.Answered(), 2u);
    }
    EXPECT_EQ(Form->Level.Stones.size(), 1u);
    EXPECT_FALSE(Form->Level.Saved);

    {
        TDialogAnswerer answer({PressButton(IDNO)});
        Command(Form->NewMenu);
    }
    EXPECT_TRUE(Form->Level.Stones.empty());
    EXPECT_TRUE(Form->Level.Saved);

    // With nothing unsaved, New asks nothing.
    TDialogAnswerer none({});
    Command(Form->NewMenu);
    EXPECT_EQ(none.Answered(), 0u);
}

TEST_F(MainWindowTest, YesSavesBeforeTheLevelIsDiscarded) {
    TTempDir dir;
    AddStone(12, 15, 11);
    {
        TDialogAnswerer answer({PressButton(IDYES), EnterFileName(dir.File(L"kept"))});
        Command(Form->NewMenu);
    }
    EXPECT_EQ(ReadFileBytes(dir.File(L"kept.lvl")).size(), 12u);
    EXPECT_TRUE(Form->Level.Stones.empty());
    EXPECT_EQ(WindowTitle(), "Unbenannt.lvl - LevelEditor");
}

TEST_F(MainWindowTest, ClosingAsksAndCancelKeepsTheProgramRunning) {
    AddStone(1, 3, 5);
    {
        TDialogAnswerer answer({PressButton(IDCANCEL)});
        Command(Form->CloseMenu);
    }
    EXPECT_TRUE(Running);
    EXPECT_TRUE(::IsWindowVisible(Form->Handle()));
    EXPECT_EQ(Form->Level.Stones.size(), 1u);

    // "Datei schließen" by its shortcut only: the program goes on whatever the answer.
    {
        TDialogAnswerer answer({PressButton(IDNO)});
        EXPECT_TRUE(Form->IsShortCut(VK_F4, ssCtrl));
        PumpMessages();
    }
    EXPECT_TRUE(Running);

    {
        TDialogAnswerer answer({PressButton(IDNO)});
        ::SendMessageW(Form->Handle(), WM_CLOSE, 0, 0);
    }
    EXPECT_FALSE(Running);
    MSG msg;
    EXPECT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)); // the event loop is asked to end
}

TEST_F(MainWindowTest, AFailedSaveKeepsTheOldFileAndReportsTheError) {
    TTempDir dir;
    // A folder where the file should be: the replacement cannot happen.
    std::wstring target = dir.File(L"busy.lvl");
    ::CreateDirectoryW(target.c_str(), nullptr);
    Form->Level.FileName = Narrow(target);
    AddStone(1, 1, 1);
    std::string shown;
    Application().OnException = [&](std::exception_ptr e) { shown = ExceptionClassName(e); };
    Command(Form->SaveMenu);
    Application().OnException = nullptr;
    EXPECT_EQ(shown, "EFCreateError");
    EXPECT_FALSE(Form->Level.Saved);
    EXPECT_TRUE(::GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    // No temporary file is left behind.
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((dir.Path() + L"\\*.tmp").c_str(), &fd);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) ::FindClose(h);
}

TEST_F(MainWindowTest, ALevelTheFileCannotHoldIsRefusedWithAMessage) {
    TTempDir dir;
    std::wstring file = dir.File(L"wide.lvl");
    WriteFileBytes(file, {1, 2, 3});
    Form->Level.FileName = Narrow(file);
    Form->Level.LevelWidth = 300;
    AddStone(9, 250, 0);
    {
        TDialogAnswerer answer({ScreenshotAndPress("level-refused", IDOK)});
        Command(Form->SaveMenu);
        ASSERT_EQ(answer.Titles().size(), 1u);
        EXPECT_EQ(answer.Titles()[0], L"Fehler");
        EXPECT_NE(answer.Texts()[0].find(L"300"), std::wstring::npos);
    }
    EXPECT_EQ(ReadFileBytes(file), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(Form->Level.Saved);
}

TEST_F(MainWindowTest, BarsShowAndHideWithTheLineUnderTheMenu) {
    Command(Form->ShowToolBarMenu);
    EXPECT_FALSE(Form->ToolBarPanel->Visible());
    EXPECT_FALSE(Form->ShowToolBarMenu->Checked());
    EXPECT_TRUE(Form->ToolBevel->Visible());
    Form->CloseStoneBarMenu->Click();
    EXPECT_FALSE(Form->StoneBarPnl->Visible());
    EXPECT_FALSE(Form->ShowStoneBarMenu->Checked());
    EXPECT_FALSE(Form->ToolBevel->Visible());
    Command(Form->ShowStoneBarMenu);
    EXPECT_TRUE(Form->StoneBarPnl->Visible());
    EXPECT_TRUE(Form->ToolBevel->Visible());
    Command(Form->ShowStatusBarMenu);
    EXPECT_FALSE(Form->StatusBar->Visible());
    Command(Form->ShowStatusBarMenu);
    EXPECT_TRUE(Form->StatusBar->Visible());
    // The canvas region follows: the scroll box starts right under the visible bars.
    RECT r;
    ::GetWindowRect(Form->ClientPanel->Handle(), &r);
    POINT top{r.left, r.top};
    ::ScreenToClient(Form->Handle(), &top);
    EXPECT_EQ(top.y, 2 + 80);
}

TEST_F(MainWindowTest, HintsOfMenuEntriesAndControlsReachTheStatusBar) {
    ::SendMessageW(Form->Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
    ::SendMessageW(Form->Handle(), WM_MENUSELECT, MAKEWPARAM(Form->NewMenu->Command(), MF_STRING), 0);
    EXPECT_EQ(Form->MenuBar->Text(), "Erstellt ein neues Level");

    // The mouse over the canvas: the canvas has no hint of its own, the window's "actin" applies.
    MSG msg{Form->LevelImage->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(30, 30), 0, {}};
    ::PostMessageW(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    Application().ProcessMessages();
    EXPECT_EQ(Form->MenuBar->Text(), "actin");
    // Over a tool bar button: its hint.
    RECT b = Form->ToolBar->ButtonRect(Form->ToolBar->IndexOf("SaveBtn"));
    ::PostMessageW(Form->ToolBar->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(b.left + 4, b.top + 4));
    Application().ProcessMessages();
    EXPECT_EQ(Form->MenuBar->Text(), "Speichert das aktuelle Level");
}

TEST_F(MainWindowTest, ShortcutsActWindowWideAndDisabledOnesAreEaten) {
    TTempDir dir;
    std::wstring file = dir.File(L"keys.lvl");
    Form->Level.FileName = Narrow(file);
    AddStone(3, 1, 1);
    Form->PX->SetEnabled(true);
    Form->PX->SetFocus();
    // Ctrl+S typed while an edit field has the focus saves the level.
    SendKey('S', true);
    for (int i = 0; i < 50 && !FileExists(file); ++i) {
        Application().ProcessMessages();
        ::Sleep(10);
    }
    EXPECT_EQ(ReadFileBytes(file).size(), 12u);
    // A disabled entry's key does nothing but is not passed on either.
    EXPECT_TRUE(Form->IsShortCut('Z', ssCtrl));
    EXPECT_FALSE(Form->IsShortCut('Q', ssCtrl));
}

TEST_F(MainWindowTest, ScreenshotOfALevelWithEveryStoneType) {
    Form->Level.LevelWidth = 18;
    Form->ResizeCanvas();
    for (int nr = 0; nr <= 17; ++nr)
        AddStone(nr, nr, nr % 2 == 0 ? 1 : 2);
    AddStone(5, 4, 5)->Select();
    Form->RefreshCanvas();
    ::UpdateWindow(Form->Handle());
    PumpMessages(200);
    Screenshot(Form->Handle(), "main-window-every-stone");
    // The canvas shows the stone pictures: a pixel in the middle of the blue block is blue.
    HDC dc = ::GetDC(Form->LevelImage->Handle());
    COLORREF c = ::GetPixel(dc, 1 * 50 + 25, 2 * 50 + 25);
    COLORREF frame = ::GetPixel(dc, 4 * 50 + 1, 5 * 50 + 25);
    ::ReleaseDC(Form->LevelImage->Handle(), dc);
    EXPECT_GT(GetBValue(c), 2 * GetRValue(c));
    EXPECT_EQ(frame, RGB(255, 0, 0));
}

TEST_F(MainWindowTest, TheSelectionFrameStaysInsideItsStone) {
    TLevelStone* stone = AddStone(1, 4, 5);
    stone->Select();
    ::InvalidateRect(Form->LevelImage->Handle(), nullptr, TRUE);
    ::UpdateWindow(Form->LevelImage->Handle());
    HDC dc = ::GetDC(Form->LevelImage->Handle());
    const int l = 4 * 50, t = 5 * 50;
    // Two pixels of the 3-pixel pen lie on the picture; the third would fall on the neighbours.
    EXPECT_EQ(::GetPixel(dc, l, t + 25), RGB(255, 0, 0));
    EXPECT_EQ(::GetPixel(dc, l + 1, t + 25), RGB(255, 0, 0));
    EXPECT_EQ(::GetPixel(dc, l + 49, t + 25), RGB(255, 0, 0));
    for (POINT p : {POINT{l - 1, t + 25}, POINT{l + 50, t + 25}, POINT{l + 25, t - 1}, POINT{l + 25, t + 50},
                    POINT{l - 1, t - 1}, POINT{l + 50, t + 50}})
        EXPECT_EQ(::GetPixel(dc, p.x, p.y), RGB(255, 255, 255)) << p.x << "," << p.y;
    ::ReleaseDC(Form->LevelImage->Handle(), dc);
}

} // namespace
