#pragma once
// Forms and the plain containers: panels, bevel lines and scroll boxes.
#include "framework/Menus.h"
#include "framework/WinControls.h"

#include <memory>

class TForm : public TWinControl {
public:
    TForm();
    ~TForm() override;

    void SetCaption(std::string_view caption) { SetText(caption); }
    std::string Caption() const { return Text(); }
    void Show();
    void ShowMaximized();
    void Hide();
    // Asks OnCloseQuery/OnClose; when the close goes ahead the form hides, and closing the main
    // form ends the application's event loop. The window itself lives on until the form is freed.
    void Close();

    std::function<void(TObject* sender, bool& canClose)> OnCloseQuery;
    TNotifyEvent OnActivate;

    // The main menu and the shortcuts that belong to the form (also of entries not in the menu).
    void SetMenu(TMainMenu* menu);
    TMainMenu* Menu() const { return FMenu; }
    void AddShortCutItem(TMenuItem* item) { FExtraShortCuts.push_back(item); }
    // True when the key is one of the form's shortcuts (the key is then eaten; the entry's action
    // runs only while it is enabled).
    bool IsShortCut(WORD key, TShiftState shift);

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    TMainMenu* FMenu = nullptr;
    std::vector<TMenuItem*> FExtraShortCuts;
};

enum class TBevelCut { bvNone, bvLowered, bvRaised };

class TPanel : public TWinControl {
public:
    explicit TPanel(TWinControl* parent, COLORREF color = ::GetSysColor(COLOR_BTNFACE));
    void SetColor(COLORREF color);
    TBevelCut BevelOuter = TBevelCut::bvNone;
    TBevelCut BevelInner = TBevelCut::bvNone;

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
};

// An etched line (horizontal when wider than high).
class TBevel : public TWinControl {
public:
    explicit TBevel(TWinControl* parent);
};

// A scroll box: its children scroll together; the ranges follow the children's extent.
class TScrollBox : public TWinControl {
public:
    TScrollBox(TWinControl* parent, bool horizontal, bool vertical, COLORREF color);
    int32_t HorzPosition() const { return FPos[0]; }
    int32_t VertPosition() const { return FPos[1]; }
    void SetHorzPosition(int32_t pos) { ScrollTo(0, pos); }
    void SetVertPosition(int32_t pos) { ScrollTo(1, pos); }
    // Re-evaluates the ranges from the children's extent (and clamps the positions).
    void UpdateScrollRanges();

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void ScrollTo(int bar, int32_t pos);
    void OnScroll(int bar, WORD code);
    bool FEnabled[2];
    int32_t FPos[2] = {0, 0};
    int32_t FRange[2] = {0, 0};
    bool FUpdating = false;
};
