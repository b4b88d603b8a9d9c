#pragma once
// The standard controls: labels, edits, buttons, check boxes, radio buttons, drop-down lists.
#include "framework/WinControls.h"

#include <functional>

using TKeyEvent = std::function<void(TObject* sender, WORD& key, TShiftState shift)>;
using TKeyPressEvent = std::function<void(TObject* sender, wchar_t& key)>;

class TLabel : public TWinControl {
public:
    TLabel(TWinControl* parent, std::string_view caption, bool wordWrap = false);
    // Sizes the label to its text in its current font (labels size themselves, as after a font change).
    void AdjustSize();
};

class TEdit : public TWinControl {
public:
    explicit TEdit(TWinControl* parent, bool readOnly = false, bool multiLine = false);
    TKeyEvent OnKeyDown;
    TKeyPressEvent OnKeyPress;
    TNotifyEvent OnChange;
    TNotifyEvent OnExit;
    void SetMaxLength(int n);

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool HandleCommand(WPARAM wParam) override;
};

class TButtonControl : public TWinControl {
public:
    using TWinControl::TWinControl;
    TNotifyEvent OnClick;
    bool Checked() const;
    void SetChecked(bool checked);
    void Click();

protected:
    bool HandleCommand(WPARAM wParam) override;
};

class TButton : public TButtonControl {
public:
    TButton(TWinControl* parent, std::string_view caption, bool isDefault = false);
};

class TCheckBox : public TButtonControl {
public:
    TCheckBox(TWinControl* parent, std::string_view caption);
};

class TRadioButton : public TButtonControl {
public:
    TRadioButton(TWinControl* parent, std::string_view caption, bool firstInGroup = false);
};

// A framed group with a caption; its children sit inside it.
class TGroupBox : public TWinControl {
public:
    TGroupBox(TWinControl* parent, std::string_view caption);

protected:
    // A group box paints only its frame and caption; the face under its children is ours.
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
};

class TComboBox : public TWinControl {
public:
    explicit TComboBox(TWinControl* parent); // a drop-down list
    void AddItem(std::string_view text);
    int ItemIndex() const;
    void SetItemIndex(int index);
    int Count() const;
    TNotifyEvent OnChange;

protected:
    bool HandleCommand(WPARAM wParam) override;
};
