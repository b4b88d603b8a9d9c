#pragma once
// Menus, menu entries and shortcuts. Shortcuts are handled by the form before the focused control
// sees the key; a hidden entry's shortcut still works, a disabled entry's key is eaten.
#include "framework/Controls.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

using TShortCut = uint32_t; // virtual key | modifier bits below
inline constexpr TShortCut scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000;
TShortCut ShortCut(WORD key, TShiftState shift);
std::wstring ShortCutToText(TShortCut sc);

class TMenuItem : public TObject {
public:
    TMenuItem(TMenuItem* parent, std::string name, std::string caption, TShortCut shortCut = 0,
              std::string hint = {});
    ~TMenuItem() override;

    std::string Name;
    std::string Caption; // "-" for a separator, "&" marks the underlined letter
    TShortCut ShortCut = 0;
    std::string Hint;
    TNotifyEvent OnClick;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);
    bool Checked() const { return FChecked; }
    void SetChecked(bool checked);
    bool Visible() const { return FVisible; }
    void SetVisible(bool visible);
    // Enabled, and every parent entry enabled too.
    bool EffectiveEnabled() const;
    void Click();

    TMenuItem* Add(std::string name, std::string caption, TShortCut shortCut = 0, std::string hint = {});
    TMenuItem* AddSeparator();
    const std::vector<std::unique_ptr<TMenuItem>>& Items() const { return FItems; }
    TMenuItem* FindShortCut(TShortCut sc);
    UINT Command() const { return FCommand; }
    static TMenuItem* FromCommand(UINT command);

    // Builds the entries into a menu handle (visible entries only).
    void BuildInto(HMENU menu);
    HMENU SubMenu() const { return FSubMenu; }

private:
    void UpdateState();
    TMenuItem* FParent;
    std::vector<std::unique_ptr<TMenuItem>> FItems;
    UINT FCommand;
    HMENU FOwnerMenu = nullptr;
    HMENU FSubMenu = nullptr;
    bool FEnabled = true;
    bool FChecked = false;
    bool FVisible = true;
};

class TMainMenu {
public:
    TMainMenu();
    ~TMainMenu();
    TMenuItem& Items() { return FRoot; }
    // Creates the menu handle from the entries (call once they are all added).
    HMENU Handle();
    TMenuItem* FindShortCut(TShortCut sc) { return FRoot.FindShortCut(sc); }

private:
    TMenuItem FRoot;
    HMENU FHandle = nullptr;
};

class TPopupMenu {
public:
    TPopupMenu();
    ~TPopupMenu();
    TMenuItem& Items() { return FRoot; }
    // Shows the menu at a screen position and runs the chosen entry.
    void Popup(HWND owner, int x, int y);

private:
    TMenuItem FRoot;
    HMENU FHandle = nullptr;
};
