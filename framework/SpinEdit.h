#pragma once
// The spin field: a numeric edit with up and down buttons beside it. Typed characters are
// filtered (digits, signs, the decimal separator), the buttons step the value within the bounds,
// and a value outside them is pulled back to the nearer bound when the field loses the focus.
#include "framework/StdCtrls.h"

#include <memory>

class TSpinButtons;

class TSpinEdit : public TEdit {
public:
    TSpinEdit(TWinControl* parent, int32_t minValue = 0, int32_t maxValue = 99, int maxLength = 2);
    ~TSpinEdit() override;

    int32_t MinValue() const { return FMinValue; }
    int32_t MaxValue() const { return FMaxValue; }
    int32_t Increment = 1;

    // The text as an integer, or the minimum while the text is none.
    int32_t Value() const;
    // Shows the value clamped to the bounds; the change handler runs when the text changes.
    void SetValue(int32_t value);
    // What the up (+1) and down (-1) buttons do.
    void Step(int direction);
    // True for the characters a user may type into the field.
    static bool IsValidChar(wchar_t c);

    // The field's rectangle holds the edit and, at its right, the buttons.
    void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;
    void SetVisible(bool visible) override;
    void SetEnabled(bool enabled) override;
    HWND ButtonsHandle() const;

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    int32_t Clamp(int64_t v) const;
    int32_t FMinValue, FMaxValue;
    std::unique_ptr<TSpinButtons> FButtons;
};
