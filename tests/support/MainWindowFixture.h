#pragma once
// A fresh main window for each test, shown maximized as at program start, and torn down without
// questions.
#include "editor/Unit1.h"
#include "framework/Application.h"
#include "tests/support/WinTestSupport.h"

#include <gtest/gtest.h>
#include <memory>

class TMainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        Application().SetTitle("Zembrak LevelEditor");
        Form = std::make_unique<TForm1>();
        Application().MainForm = Form.get();
        Running = true;
        Form->ShowMaximized();
        ::SetForegroundWindow(Form->Handle());
        // The real pointer stays away from the canvas, so only the posted messages reach it.
        ::SetCursorPos(0, 0);
        PumpMessages(50);
    }
    void TearDown() override {
        Form->Level.Saved = true; // nothing to ask on the way out
        Form.reset();
        PumpMessages();
    }
    // A menu command as the menu sends it.
    void Command(TMenuItem* item) {
        ::SendMessageW(Form->Handle(), WM_COMMAND, MAKEWPARAM(item->Command(), 0), 0);
        PumpMessages();
    }
    // A stone as the canvas creates it, appended to the level.
    TLevelStone* AddStone(int32_t nr, int32_t x, int32_t y) {
        TLevelStone* s = Form->CreateStone();
        s->SetStoneNr(nr);
        s->SetPosition(x, y);
        Form->Level.Stones.push_back(s);
        return s;
    }

    std::unique_ptr<TForm1> Form;
};
