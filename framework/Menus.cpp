#include "framework/Menus.h"

#include "framework/Win32Util.h"

#include <unordered_map>

namespace {
std::unordered_map<UINT, TMenuItem*>& CommandMap() {
    static std::unordered_map<UINT, TMenuItem*> map;
    return map;
}
UINT NextCommand() {
    static UINT next = 0x1000;
    return next++;
}
} // namespace

TShortCut ShortCut(WORD key, TShiftState shift) {
    TShortCut sc = key;
    if (shift & ssShift) sc |= scShift;
    if (shift & ssCtrl) sc |= scCtrl;
    if (shift & ssAlt) sc |= scAlt;
    return sc;
}

std::wstring ShortCutToText(TShortCut sc) {
    std::wstring text;
    if (sc & scCtrl) text += L"Strg+";
    if (sc & scShift) text += L"Umschalt+";
    if (sc & scAlt) text += L"Alt+";
    WORD key = sc & 0xFF;
    switch (key) {
    case VK_UP:
        text += L"Nach-oben";
        break;
    case VK_DOWN:
        text += L"Nach-unten";
        break;
    case VK_LEFT:
        text += L"Nach-links";
        break;
    case VK_RIGHT:
        text += L"Nach-rechts";
        break;
    case VK_PRIOR:
        text += L"Bild auf";
        break;
    case VK_NEXT:
        text += L"Bild ab";
        break;
    case VK_DELETE:
        text += L"Entf";
        break;
    case VK_SPACE:
        text += L"Leer";
        break;
    default:
        if (key >= VK_F1 && key <= VK_F24)
            text += L"F" + std::to_wstring(key - VK_F1 + 1);
        else
            text += static_cast<wchar_t>(key);
        break;
    }
    return text;
}

TMenuItem::TMenuItem(TMenuItem* parent, std::string name, std::string caption, TShortCut shortCut,
                     std::string hint)
    : Name(std::move(name)), Caption(std::move(caption)), ShortCut(shortCut), Hint(std::move(hint)),
      FParent(parent), FCommand(NextCommand()) {
    CommandMap()[FCommand] = this;
}

TMenuItem::~TMenuItem() {
    CommandMap().erase(FCommand);
}

TMenuItem* TMenuItem::FromCommand(UINT command) {
    auto it = CommandMap().find(command);
    return it == CommandMap().end() ? nullptr : it->second;
}

TMenuItem* TMenuItem::Add(std::string name, std::string caption, TShortCut shortCut, std::string hint) {
    FItems.push_back(
        std::make_unique<TMenuItem>(this, std::move(name), std::move(caption), shortCut, std::move(hint)));
    return FItems.back().get();
}

TMenuItem* TMenuItem::AddSeparator() {
    return Add({}, "-");
}

bool TMenuItem::EffectiveEnabled() const {
    for (const TMenuItem* i = this; i; i = i->FParent)
        if (!i->FEnabled) return false;
    return true;
}

void TMenuItem::Click() {
    if (OnClick) OnClick(this);
}

void TMenuItem::SetEnabled(bool enabled) {
    FEnabled = enabled;
    UpdateState();
}

void TMenuItem::SetChecked(bool checked) {
    FChecked = checked;
    UpdateState();
}

void TMenuItem::SetVisible(bool visible) {
    FVisible = visible;
}

void TMenuItem::UpdateState() {
    if (!FOwnerMenu) return;
    ::EnableMenuItem(FOwnerMenu, FCommand, MF_BYCOMMAND | (FEnabled ? MF_ENABLED : MF_GRAYED));
    ::CheckMenuItem(FOwnerMenu, FCommand, MF_BYCOMMAND | (FChecked ? MF_CHECKED : MF_UNCHECKED));
}

TMenuItem* TMenuItem::FindShortCut(TShortCut sc) {
    for (auto& item : FItems) {
        if (item->ShortCut == sc && item->Caption != "-") return item.get();
        if (TMenuItem* found = item->FindShortCut(sc)) return found;
    }
    return nullptr;
}

void TMenuItem::BuildInto(HMENU menu) {
    for (auto& item : FItems) {
        if (!item->FVisible) continue;
        if (item->Caption == "-") {
            ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        std::wstring text = Widen(item->Caption);
        if (item->ShortCut) text += L"\t" + ShortCutToText(item->ShortCut);
        item->FOwnerMenu = menu;
        if (!item->FItems.empty()) {
            item->FSubMenu = ::CreatePopupMenu();
            item->BuildInto(item->FSubMenu);
            ::AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(item->FSubMenu), text.c_str());
        } else {
            ::AppendMenuW(menu, MF_STRING, item->FCommand, text.c_str());
        }
        item->UpdateState();
    }
}

TMainMenu::TMainMenu() : FRoot(nullptr, "", "") {}
TMainMenu::~TMainMenu() = default; // the menu handle is destroyed with its window

HMENU TMainMenu::Handle() {
    if (!FHandle) {
        FHandle = ::CreateMenu();
        FRoot.BuildInto(FHandle);
    }
    return FHandle;
}

TPopupMenu::TPopupMenu() : FRoot(nullptr, "", "") {}
TPopupMenu::~TPopupMenu() {
    if (FHandle) ::DestroyMenu(FHandle);
}

void TPopupMenu::Popup(HWND owner, int x, int y) {
    if (!FHandle) {
        FHandle = ::CreatePopupMenu();
        FRoot.BuildInto(FHandle);
    }
    UINT cmd = ::TrackPopupMenu(FHandle, TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, 0, owner, nullptr);
    if (TMenuItem* item = TMenuItem::FromCommand(cmd)) item->Click();
}
