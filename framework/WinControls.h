#pragma once
// Windowed controls: one object per window handle. A window's messages reach the object's
// WndProc through a subclass procedure that also catches every exception a handler lets escape
// (C++ exceptions must never cross the operating system's frames) and hands it to the
// application object.
#include "framework/Controls.h"
#include "framework/Exceptions.h"
#include "framework/Win32Util.h"

#include <string>
#include <vector>

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

class TWinControl : public TControl {
public:
    explicit TWinControl(TWinControl* parent);
    ~TWinControl() override;

    HWND Handle() const { return FHandle; }
    static TWinControl* FromHandle(HWND wnd);
    // The control of a window or of its nearest ancestor window that has one.
    static TWinControl* FindControl(HWND wnd);
    TWinControl* ParentWin() const { return static_cast<TWinControl*>(FParent); }

    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign align);
    void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) override;
    void SetVisible(bool visible) override;
    bool Enabled() const;
    virtual void SetEnabled(bool enabled);
    virtual void SetText(std::string_view text);
    virtual std::string Text() const;
    void Invalidate();
    void SetFocus();
    bool Focused() const;
    void SetFont(HFONT font);

    // Lays out the aligned children in creation order: top, bottom, left, right, then client.
    void Realign();
    const std::vector<TWinControl*>& Children() const { return FChildren; }

    // The hint for the point (client coordinates) under the mouse; defaults to EffectiveHint.
    virtual std::string HintAt(POINT) const { return EffectiveHint(); }

    // Paints the control's content into any DC (the WM_PAINT handler calls it), so a window can be
    // drawn into a bitmap.
    virtual void PaintContent(HDC, const RECT&) {}

    // Notifications reflected from the parent window.
    virtual bool HandleCommand(WPARAM) { return false; }
    virtual bool HandleNotify(NMHDR*, LRESULT&) { return false; }
    // A tooltip asks for the text of a button with this command id (toolbars answer).
    virtual bool TipText(UINT_PTR, std::wstring&) { return false; }

    TNotifyEvent OnResize;

protected:
    // Creates the window: class name, styles. Child windows get their parent's handle.
    void CreateHandle(const wchar_t* className, DWORD style, DWORD exStyle = 0, const wchar_t* text = L"");
    virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam);
    // Fills the background (our own window class) with this brush colour.
    COLORREF FColor = ::GetSysColor(COLOR_BTNFACE);
    bool FOwnClass = false;

private:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void MouseEvent(UINT msg, WPARAM wParam, LPARAM lParam);

    HWND FHandle = nullptr;
    TAlign FAlign = TAlign::alNone;
    std::vector<TWinControl*> FChildren;
    bool FInRealign = false;
};

// The class name of our own plain windows (panels, forms, canvas).
const wchar_t* ZWindowClass();
// The program's user interface font: Tahoma 8 pt.
HFONT DefaultFont();
TShiftState KeyShiftState();
TShiftState MouseShiftState(WPARAM wParam);
