#include "framework/SpinEdit.h"

#include "framework/Strings.h"

#include <algorithm>
#include <commctrl.h>

namespace {
constexpr int32_t ButtonsWidth = 16;

wchar_t DecimalSeparator() {
    wchar_t buf[8] = {};
    if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, 8) > 0 && buf[0]) return buf[0];
    return L',';
}
} // namespace

// The up-down control beside the edit. It keeps no position of its own: every click is turned
// into a step of the edit's value, so the bounds and the text stay in one place.
class TSpinButtons : public TWinControl {
public:
    TSpinButtons(TWinControl* parent, TSpinEdit& edit) : TWinControl(parent), FEdit(edit) {
        CreateHandle(UPDOWN_CLASSW, UDS_NOTHOUSANDS);
        ::SendMessageW(Handle(), UDM_SETRANGE32, static_cast<WPARAM>(-10000), 10000);
        ::SendMessageW(Handle(), UDM_SETPOS32, 0, 0);
        // No acceleration: a held button steps by one.
        UDACCEL accel{0, 1};
        ::SendMessageW(Handle(), UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&accel));
        ::SendMessageW(Handle(), UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit.Handle()), 0);
    }

    bool HandleNotify(NMHDR* hdr, LRESULT& result) override {
        if (hdr->code != UDN_DELTAPOS) return false;
        auto* ud = reinterpret_cast<NMUPDOWN*>(hdr);
        if (ud->iDelta != 0) FEdit.Step(ud->iDelta > 0 ? 1 : -1);
        result = 1; // the control's own position stays put
        return true;
    }

private:
    TSpinEdit& FEdit;
};

TSpinEdit::TSpinEdit(TWinControl* parent, int32_t minValue, int32_t maxValue, int maxLength)
    : TEdit(parent), FMinValue(minValue), FMaxValue(std::max(minValue, maxValue)) {
    if (maxLength > 0) SetMaxLength(maxLength);
    FButtons = std::make_unique<TSpinButtons>(parent, *this);
    SetText(IntToStr(FMinValue));
}

TSpinEdit::~TSpinEdit() = default;

HWND TSpinEdit::ButtonsHandle() const {
    return FButtons ? FButtons->Handle() : nullptr;
}

int32_t TSpinEdit::Clamp(int64_t v) const {
    return static_cast<int32_t>(std::clamp<int64_t>(v, FMinValue, FMaxValue));
}

int32_t TSpinEdit::Value() const {
    return TryStrToInt(Text()).value_or(FMinValue);
}

void TSpinEdit::SetValue(int32_t value) {
    std::string text = IntToStr(Clamp(value));
    if (Text() != text) SetText(text);
}

void TSpinEdit::Step(int direction) {
    if (!Enabled()) return;
    SetValue(Clamp(int64_t{Value()} + int64_t{direction} * Increment));
}

bool TSpinEdit::IsValidChar(wchar_t c) {
    if (c < 32) return c != L'\r';
    return (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == DecimalSeparator();
}

void TSpinEdit::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    int32_t editWidth = std::max(width - ButtonsWidth, 0);
    TEdit::SetBounds(left, top, editWidth, height);
    TControl::SetBounds(left, top, width, height);
    if (FButtons) FButtons->SetBounds(left + editWidth, top, width - editWidth, height);
}

void TSpinEdit::SetVisible(bool visible) {
    TEdit::SetVisible(visible);
    if (FButtons) FButtons->SetVisible(visible);
}

void TSpinEdit::SetEnabled(bool enabled) {
    TEdit::SetEnabled(enabled);
    if (FButtons) FButtons->SetEnabled(enabled);
}

LRESULT TSpinEdit::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CHAR:
        if (!IsValidChar(static_cast<wchar_t>(wParam))) {
            ::MessageBeep(0);
            return 0;
        }
        break;
    case WM_KILLFOCUS: {
        int32_t v = Value();
        if (Clamp(v) != v) SetValue(v);
        break;
    }
    default:
        break;
    }
    return TEdit::WndProc(msg, wParam, lParam);
}
