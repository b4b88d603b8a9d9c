#pragma once
// The exception dialog's arithmetic without a window: where the message, the buttons, the
// separator and the tab control go, the message's line breaks, the button colours and the
// countdown marker. The window (ExceptionBoxWin32) measures texts and places what this computes.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Button ids; also the index of the button's picture and of the arrays below.
enum TExceptionBoxButton : int {
    BtnSend = 0,
    BtnSave = 1,
    BtnPrint = 2,
    BtnShow = 3,     // Details in the plain box
    BtnContinue = 4, // OK in the plain box
    BtnRestart = 5,
    BtnClose = 6,
    BtnCantContinue = 7, // picture only
    BtnBigIcon = 8,
    ExceptionBoxButtons = 7,
};

struct TBoxRect {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    bool operator==(const TBoxRect&) const = default;
};

struct TBoxLayoutInput {
    // Caption widths in the dialog's font; a hidden button's is ignored.
    std::array<int, ExceptionBoxButtons> CaptionWidth{};
    std::array<bool, ExceptionBoxButtons> Visible{};
    bool PlainBox = false, Details = false; // Details: the plain box's second button
    bool HasIcon = false;
    bool AutoShowBugRep = false;
    int ButtonHeight = 22;
    int ScreenWidth = 1280, ScreenHeight = 1024, CaptionHeight = 19;
    // Measures the message word-wrapped to the width: (width, height) of the text.
    std::function<std::pair<int, int>(int wrapWidth)> MeasureText;
};

struct TBoxLayout {
    std::array<TBoxRect, ExceptionBoxButtons> Buttons{}; // zero size for a hidden button
    TBoxRect Icon, Label, Tabs;                          // Icon and Tabs: zero size when absent
    int ClientWidth = 0, ClientHeight = 0;
    int Separator = -1; // y of the separator line, -1 for none
    bool ColumnLayout = false;
};

TBoxLayout ComputeBoxLayout(const TBoxLayoutInput& in);

// ". " becomes "." + CR LF where the dot stands at a 1-based position from 20 to length - 10.
std::string BreakMessage(std::string_view message);

// Lightens each channel by `amount` (clamped at 255), unless two or more channels would pass 255:
// then darkens each (clamped at 0). Colours are 0x00BBGGRR.
uint32_t ShiftColor(uint32_t color, int amount);

// The countdown marker's x in a button `width` wide, `elapsedMs` after the start.
int CountdownPosition(uint32_t elapsedMs, int width, int delaySeconds, bool uglyButtons);
// Whether the marker has passed the end of the button: time to click it.
bool CountdownFinished(int position, int width, bool uglyButtons);
