#pragma once
// Common controls: image lists, tool bars, status bars, splitters.
#include "framework/WinControls.h"

#include <commctrl.h>

class TImageList {
public:
    TImageList(int width, int height);
    ~TImageList();
    TImageList(const TImageList&) = delete;
    TImageList& operator=(const TImageList&) = delete;
    // Adds a bitmap resource; pure magenta marks its transparent pixels.
    int AddResourceBitmap(const wchar_t* name);
    int AddMasked(HBITMAP bitmap, COLORREF maskColor);
    HIMAGELIST Handle() const { return FHandle; }
    int Count() const { return ::ImageList_GetImageCount(FHandle); }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // Draws image `index` through its mask (masked pixels keep what is underneath).
    void Draw(HDC dc, int x, int y, int index) const;

private:
    HIMAGELIST FHandle;
    int FWidth, FHeight;
};

struct TToolButton {
    std::string Name;
    int ImageIndex = -1; // -1: no picture
    std::string Hint;
    bool Separator = false;
    bool Check = false; // a check (toggle) button
    bool Enabled = true;
    TNotifyEvent OnClick;
    UINT Command = 0; // assigned by the tool bar
};

class TToolBar : public TWinControl {
public:
    // showTips: the buttons' hints also appear as tooltips.
    TToolBar(TWinControl* parent, TImageList* images, int buttonWidth, int buttonHeight, bool showTips);
    int AddButton(TToolButton button);
    int ButtonCount() const { return static_cast<int>(FButtons.size()); }
    const TToolButton& Button(int index) const { return FButtons[static_cast<size_t>(index)]; }
    int IndexOf(std::string_view name) const;
    void SetButtonEnabled(int index, bool enabled);
    bool ButtonEnabled(int index) const;
    void SetDown(int index, bool down);
    bool Down(int index) const;
    // The button's rectangle in tool bar coordinates.
    RECT ButtonRect(int index) const;
    // Total width of the buttons.
    int ContentWidth() const;
    std::string HintAt(POINT pt) const override;
    bool TipText(UINT_PTR command, std::wstring& text) override;
    TMouseEvent OnContextMenu;

protected:
    bool HandleCommand(WPARAM wParam) override;
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    std::vector<TToolButton> FButtons;
    TImageList* FImages;
};

// A status bar of one field that shows the text last written to it.
class TStatusBar : public TWinControl {
public:
    explicit TStatusBar(TWinControl* parent);
    void SetText(std::string_view text) override;
    std::string Text() const override { return FText; }

private:
    std::string FText;
};

// Resizes the control it borders on (the one aligned to the same side before it).
class TSplitter : public TWinControl {
public:
    TSplitter(TWinControl* parent, TWinControl* resized, int minSize);

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    TWinControl* FResized;
    int FMinSize;
    int FDragStart = 0;
    int FStartSize = 0;
    bool FDragging = false;
};
