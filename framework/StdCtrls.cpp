#include "framework/StdCtrls.h"

TLabel::TLabel(TWinControl* parent, std::string_view caption, bool wordWrap) : TWinControl(parent) {
    CreateHandle(L"STATIC", wordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, Widen(caption).c_str());
    if (!wordWrap) AdjustSize();
}

void TLabel::AdjustSize() {
    TWindowDC dc(Handle());
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(Handle(), WM_GETFONT, 0, 0));
    TSelectObject selected(dc.Get(), font ? font : DefaultFont());
    std::wstring w = Widen(Text());
    SIZE size{};
    ::GetTextExtentPoint32W(dc.Get(), w.c_str(), static_cast<int>(w.size()), &size);
    SetBounds(Left(), Top(), size.cx, size.cy);
}

TEdit::TEdit(TWinControl* parent, bool readOnly, bool multiLine) : TWinControl(parent) {
    DWORD style = WS_TABSTOP | ES_AUTOHSCROLL | (readOnly ? ES_READONLY : 0) |
                  (multiLine ? ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN : 0);
    CreateHandle(L"EDIT", style, WS_EX_CLIENTEDGE);
}

void TEdit::SetMaxLength(int n) {
    ::SendMessageW(Handle(), EM_SETLIMITTEXT, static_cast<WPARAM>(n), 0);
}

LRESULT TEdit::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_GETDLGCODE:
        // Enter belongs to the field when it has a key handler.
        if (OnKeyDown && lParam && reinterpret_cast<MSG*>(lParam)->wParam == VK_RETURN)
            return DefaultProc(msg, wParam, lParam) | DLGC_WANTALLKEYS;
        break;
    case WM_KEYDOWN:
        if (OnKeyDown) {
            WORD key = static_cast<WORD>(wParam);
            OnKeyDown(this, key, KeyShiftState());
            if (key == 0) return 0;
            wParam = key;
        }
        break;
    case WM_CHAR:
        if (OnKeyPress) {
            wchar_t key = static_cast<wchar_t>(wParam);
            OnKeyPress(this, key);
            if (key == 0) return 0;
            wParam = key;
        }
        // An Enter handled by OnKeyDown must not beep in a single-line field.
        if (wParam == L'\r' && OnKeyDown && !(::GetWindowLongW(Handle(), GWL_STYLE) & ES_MULTILINE)) return 0;
        break;
    case WM_KILLFOCUS:
        if (OnExit) {
            LRESULT r = DefaultProc(msg, wParam, lParam);
            OnExit(this);
            return r;
        }
        break;
    default:
        break;
    }
    return TWinControl::WndProc(msg, wParam, lParam);
}

bool TEdit::HandleCommand(WPARAM wParam) {
    if (HIWORD(wParam) == EN_CHANGE && OnChange) {
        OnChange(this);
        return true;
    }
    return false;
}

bool TButtonControl::Checked() const {
    return ::SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TButtonControl::SetChecked(bool checked) {
    ::SendMessageW(Handle(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TButtonControl::Click() {
    if (OnClick) OnClick(this);
}

bool TButtonControl::HandleCommand(WPARAM wParam) {
    if (HIWORD(wParam) == BN_CLICKED) {
        Click();
        return true;
    }
    return false;
}

TButton::TButton(TWinControl* parent, std::string_view caption, bool isDefault) : TButtonControl(parent) {
    CreateHandle(L"BUTTON", WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0,
                 Widen(caption).c_str());
}

TCheckBox::TCheckBox(TWinControl* parent, std::string_view caption) : TButtonControl(parent) {
    CreateHandle(L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, 0, Widen(caption).c_str());
}

TRadioButton::TRadioButton(TWinControl* parent, std::string_view caption, bool firstInGroup)
    : TButtonControl(parent) {
    CreateHandle(L"BUTTON", WS_TABSTOP | BS_AUTORADIOBUTTON | (firstInGroup ? WS_GROUP : 0), 0,
                 Widen(caption).c_str());
}

TGroupBox::TGroupBox(TWinControl* parent, std::string_view caption) : TWinControl(parent) {
    CreateHandle(L"BUTTON", BS_GROUPBOX | WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT, Widen(caption).c_str());
}

LRESULT TGroupBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_ERASEBKGND: {
        RECT r;
        ::GetClientRect(Handle(), &r);
        ::FillRect(reinterpret_cast<HDC>(wParam), &r, ::GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        ::SetBkColor(reinterpret_cast<HDC>(wParam), ::GetSysColor(COLOR_BTNFACE));
        ::SetTextColor(reinterpret_cast<HDC>(wParam), ::GetSysColor(COLOR_BTNTEXT));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    default:
        return TWinControl::WndProc(msg, wParam, lParam);
    }
}

TComboBox::TComboBox(TWinControl* parent) : TWinControl(parent) {
    CreateHandle(L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST);
}

void TComboBox::AddItem(std::string_view text) {
    ::SendMessageW(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(text).c_str()));
}

int TComboBox::ItemIndex() const {
    return static_cast<int>(::SendMessageW(Handle(), CB_GETCURSEL, 0, 0));
}
void TComboBox::SetItemIndex(int index) {
    ::SendMessageW(Handle(), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}
int TComboBox::Count() const {
    return static_cast<int>(::SendMessageW(Handle(), CB_GETCOUNT, 0, 0));
}

bool TComboBox::HandleCommand(WPARAM wParam) {
    if (HIWORD(wParam) == CBN_SELCHANGE && OnChange) {
        OnChange(this);
        return true;
    }
    return false;
}
