// The level options dialog: the command waits in its own message loop while a second thread
// types into the dialog and presses its buttons, as a user would.
#include "tests/support/MainWindowFixture.h"

#include <functional>
#include <thread>

namespace {

void Type(TEdit& edit, const std::wstring& text) {
    ::SendMessageW(edit.Handle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Press(TButton& button) {
    ::PostMessageW(button.Handle(), BM_CLICK, 0, 0);
}

class LevelOptionTest : public TMainWindowFixture {
protected:
    // Gives the command (F12) on the test's thread; `drive` runs on a second thread once the
    // dialog is visible and must end the dialog.
    void Options(const std::function<void(TLevelOptionForm&)>& drive) {
        TLevelOptionForm& dlg = *Form->LevelOptionForm;
        std::thread driver([&] {
            WaitFor([&] { return ::IsWindowVisible(dlg.Handle()); });
            // The fields are filled before the dialog shows; once a sent message comes back, the
            // command sits in its wait and takes input.
            DWORD_PTR ignored = 0;
            ::SendMessageTimeoutW(dlg.Handle(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
            drive(dlg);
        });
        ::SendMessageW(Form->Handle(), WM_COMMAND, MAKEWPARAM(Form->LevelOptionMenu->Command(), 0), 0);
        driver.join();
        PumpMessages();
    }
};

TEST_F(LevelOptionTest, ShowsTheLevelAndCancelChangesNothing) {
    std::wstring shown[4];
    Form->Level.Saved = true;
    Options([&](TLevelOptionForm& dlg) {
        shown[0] = WindowText(dlg.SizeWidthTxt->Handle());
        shown[1] = WindowText(dlg.SizeHeightTxt->Handle());
        shown[2] = WindowText(dlg.StartXTxt->Handle());
        shown[3] = WindowText(dlg.StartYTxt->Handle());
        ::RedrawWindow(dlg.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        ::Sleep(200);
        Screenshot(dlg.Handle(), "level-options-dialog");
        Type(*dlg.SizeWidthTxt, L"40");
        Press(*dlg.CancelBtn);
    });
    EXPECT_EQ(shown[0], L"16");
    EXPECT_EQ(shown[1], L"12");
    EXPECT_EQ(shown[2], L"0");
    EXPECT_EQ(shown[3], L"0");
    EXPECT_EQ(Form->Level.LevelWidth, 16);
    EXPECT_FALSE(::IsWindowVisible(Form->LevelOptionForm->Handle()));
    EXPECT_FALSE(DialogRunning);
    EXPECT_TRUE(Form->Level.Saved);
    EXPECT_EQ(Form->Caption(), "Unbenannt.lvl - LevelEditor");
}

TEST_F(LevelOptionTest, FieldsAreCheckedInOrderAndEarlierOnesStayStored) {
    std::vector<std::wstring> messages;
    Options([&](TLevelOptionForm& dlg) {
        auto ok = [&] {
            TDialogAnswerer answer({PressButton(IDOK)});
            Press(*dlg.OKBtn);
            WaitFor([&] { return answer.Answered() > 0; });
            // Only once the message box's window is destroyed has its call, and so OK's handler,
            // returned; then the next field may be typed.
            WaitFor([&] { return !FindOpenDialog(true) && ::IsWindowEnabled(dlg.Handle()); });
            std::vector<std::wstring> texts = answer.Texts(), titles = answer.Titles();
            for (size_t i = 0; i < texts.size(); ++i)
                messages.push_back(titles[i] + L": " + texts[i]);
        };
        Type(*dlg.SizeWidthTxt, L"0");
        ok();
        Type(*dlg.SizeWidthTxt, L"20");
        Type(*dlg.SizeHeightTxt, L"abc");
        ok();
        Type(*dlg.SizeWidthTxt, L"$A");
        Type(*dlg.SizeHeightTxt, L" 12");
        Type(*dlg.StartXTxt, L"10");
        ok();
        Type(*dlg.StartXTxt, L"9");
        Type(*dlg.StartYTxt, L"-1");
        ok();
        Press(*dlg.CancelBtn);
    });
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], L"Fehler: Der Wert im Feld 'Größe/Breite' ist keine gültige Zahl.");
    EXPECT_EQ(messages[1], L"Fehler: Der Wert im Feld 'Größe/Höhe' ist keine gültige Zahl.");
    EXPECT_EQ(messages[2], L"Fehler: Der Wert im Feld 'Startpunkt/X' ist keine gültige Zahl.");
    EXPECT_EQ(messages[3], L"Fehler: Der Wert im Feld 'Startpunkt/Y' ist keine gültige Zahl.");
    // Cancel restores nothing: what the failed OKs stored stays, and the canvas follows it.
    EXPECT_EQ(Form->Level.LevelWidth, 10);
    EXPECT_EQ(Form->Level.LevelHeight, 12);
    EXPECT_EQ(Form->Level.StartPointX, 9);
    EXPECT_EQ(Form->Level.StartPointY, 0);
    EXPECT_EQ(Form->LevelImage->Width(), 500);
    EXPECT_EQ(Form->LevelImage->Height(), 600);
}

TEST_F(LevelOptionTest, ASmallerLevelKeepsItsStonesAndIsNoChange) {
    TLevelStone* outside = AddStone(9, 12, 3);
    Form->Level.Saved = true;
    Options([&](TLevelOptionForm& dlg) {
        Type(*dlg.SizeWidthTxt, L"8");
        Type(*dlg.StartXTxt, L"7");
        Type(*dlg.StartYTxt, L"11");
        Press(*dlg.OKBtn);
    });
    EXPECT_EQ(Form->Level.LevelWidth, 8);
    EXPECT_EQ(Form->Level.StartPointX, 7);
    EXPECT_EQ(Form->Level.StartPointY, 11);
    ASSERT_EQ(Form->Level.Stones.size(), 1u);
    EXPECT_EQ(outside->X, 12);
    EXPECT_EQ(Form->LevelImage->Width(), 400);
    EXPECT_TRUE(Form->Level.Saved);
}

TEST_F(LevelOptionTest, AHugeSizeGivesTheWidestCanvasInsteadOfWrappingAround) {
    Options([&](TLevelOptionForm& dlg) {
        Type(*dlg.SizeWidthTxt, L"50000000"); // 2.5e9 pixels
        Type(*dlg.SizeHeightTxt, L"100000000");
        Press(*dlg.OKBtn);
    });
    EXPECT_EQ(Form->Level.LevelWidth, 50000000);
    EXPECT_EQ(Form->LevelImage->Width(), INT32_MAX);
    EXPECT_EQ(Form->LevelImage->Height(), INT32_MAX);
}

TEST_F(LevelOptionTest, TheCommandAgainWhileOpenRefillsAndOneAnswerEndsBothWaits) {
    std::wstring refilled;
    Options([&](TLevelOptionForm& dlg) {
        Type(*dlg.SizeWidthTxt, L"99");
        // The main window keeps working while the dialog waits: give the command again.
        ::PostMessageW(Form->Handle(), WM_COMMAND, MAKEWPARAM(Form->LevelOptionMenu->Command(), 0), 0);
        WaitFor([&] { return WindowText(dlg.SizeWidthTxt->Handle()) != L"99"; });
        refilled = WindowText(dlg.SizeWidthTxt->Handle());
        Type(*dlg.SizeWidthTxt, L"18");
        Press(*dlg.OKBtn);
    });
    EXPECT_EQ(refilled, L"16");
    EXPECT_EQ(Form->Level.LevelWidth, 18);
    EXPECT_EQ(Form->LevelImage->Width(), 900);
    EXPECT_FALSE(DialogRunning);
}

} // namespace
