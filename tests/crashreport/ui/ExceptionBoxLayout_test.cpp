// The exception dialog's arithmetic: where the buttons go for each mix of visible buttons, the
// message's line breaks, the colour shift and the countdown marker.
#include "crashreport/ui/ExceptionBoxLayout.h"

#include <gtest/gtest.h>

namespace {

// Captions 80 wide (buttons 119), a message 300 x 13 unless said otherwise.
TBoxLayoutInput Input(std::initializer_list<int> visible, bool icon = true,
                      std::pair<int, int> text = {300, 13}) {
    TBoxLayoutInput in;
    in.CaptionWidth.fill(80);
    for (int id : visible)
        in.Visible[id] = true;
    in.HasIcon = icon;
    in.MeasureText = [text](int) { return text; };
    return in;
}

} // namespace

TEST(ExceptionBoxLayout, ButtonPlacesForEachMix) {
    struct TCase {
        const char* Name;
        TBoxLayoutInput In;
        bool Column;
        int ClientWidth, ClientHeight;
        std::vector<std::pair<int, TBoxRect>> Buttons; // id, rectangle
    };
    // All seven: 4 x 119 + 119 + 14 = 609 wide; T = 31 moves up by 26 to 7 (D = 3).
    // Two on the right: T stays 31, rows at 31 and 57.
    // One on the right with send: row layout, D counts as 2, everything on row 1.
    const TCase cases[] = {
        {"all seven",
         Input({0, 1, 2, 3, 4, 5, 6}),
         true,
         609,
         3 * 26 + 7 + 8 + 11,
         {{BtnSend, {6, 59, 115, 22}},
          {BtnSave, {125, 59, 115, 22}},
          {BtnPrint, {244, 59, 115, 22}},
          {BtnShow, {363, 59, 115, 22}},
          {BtnContinue, {482, 7, 115, 22}},
          {BtnRestart, {482, 33, 115, 22}},
          {BtnClose, {482, 59, 115, 22}}}},
        {"show, restart and close",
         Input({BtnShow, BtnRestart, BtnClose}),
         true,
         // the message decides: 300 + 119 + 40 + 40
         499,
         2 * 26 + 31 + 8 + 11,
         {{BtnShow, {6, 57, 115, 22}}, {BtnRestart, {372, 31, 115, 22}}, {BtnClose, {372, 57, 115, 22}}}},
        {"send and continue",
         Input({BtnSend, BtnContinue}, false, {500, 26}),
         false,
         526,
         2 * 26 + 31 + 8 + 11,
         {{BtnSend, {6, 57, 115, 22}}, {BtnContinue, {399, 57, 115, 22}}}},
        // Nothing on the right: the row layout's row 1 all the same (row D - 1 would lie above).
        {"left-hand buttons only",
         Input({BtnSend, BtnShow}),
         false,
         366,
         2 * 26 + 31 + 8 + 11,
         {{BtnSend, {6, 57, 115, 22}}, {BtnShow, {125, 57, 115, 22}}}},
        {"right-hand buttons only",
         Input({BtnContinue, BtnRestart, BtnClose}, false, {100, 13}),
         false,
         371,
         2 * 26 + 18 + 8 + 11,
         {{BtnContinue, {6, 44, 115, 22}}, {BtnRestart, {125, 44, 115, 22}}, {BtnClose, {244, 44, 115, 22}}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TBoxLayout l = ComputeBoxLayout(c.In);
        EXPECT_EQ(l.ColumnLayout, c.Column);
        EXPECT_EQ(l.ClientWidth, c.ClientWidth);
        EXPECT_EQ(l.ClientHeight, c.ClientHeight);
        for (const auto& [id, r] : c.Buttons) {
            const TBoxRect& got = l.Buttons[id];
            EXPECT_EQ(got, r) << "button " << id << ": " << got.Left << "," << got.Top << " " << got.Width
                              << "x" << got.Height;
        }
        for (int id = 0; id < ExceptionBoxButtons; ++id)
            if (!c.In.Visible[id]) {
                EXPECT_EQ(l.Buttons[id].Width, 0) << id;
            }
    }
}

TEST(ExceptionBoxLayout, MessageIconSeparatorAndTabs) {
    TBoxLayoutInput in = Input({0, 3, 4, 5, 6});
    int wrap = 0;
    in.MeasureText = [&wrap](int width) {
        wrap = width;
        return std::pair<int, int>{200, 13};
    };
    TBoxLayout l = ComputeBoxLayout(in);
    EXPECT_EQ(wrap, 664 - (119 + 40 + 40)); // the band (371) is narrower than 664
    EXPECT_EQ(l.Icon, (TBoxRect{10, 9, 32, 32}));
    EXPECT_EQ(l.Label, (TBoxRect{51, 18, 200, 13})); // centred on 26 pixels beside the icon
    EXPECT_EQ(l.Separator, 3 * 26 + 7 + 8 - 8);
    EXPECT_EQ(l.Tabs.Width, 0);

    // A tall message pushes the buttons down; without the icon the label starts at 11.
    in.HasIcon = false;
    in.MeasureText = [](int) { return std::pair<int, int>{200, 65}; };
    l = ComputeBoxLayout(in);
    EXPECT_EQ(l.Label, (TBoxRect{11, 12, 200, 65}));
    EXPECT_EQ(l.Buttons[BtnContinue].Top, 65 + 5 - 26); // one row up: three on the right

    // Expanded: at least 664 wide, 474 more pixels for the tab control, 9 after the separator.
    in.AutoShowBugRep = true;
    l = ComputeBoxLayout(in);
    EXPECT_EQ(l.ClientWidth, 664);
    const int band = 3 * 26 + (65 + 5 - 26) + 8 + 9;
    EXPECT_EQ(l.ClientHeight, band + 474);
    EXPECT_EQ(l.Tabs, (TBoxRect{5, band - 4, 664 - 15, band + 474 - 10 - (band - 4)}));
    // Never higher than the screen less five captions.
    in.ScreenHeight = 500;
    EXPECT_EQ(ComputeBoxLayout(in).ClientHeight, 500 - 5 * 19);
}

TEST(ExceptionBoxLayout, PlainBox) {
    TBoxLayoutInput in = Input({}, false, {150, 13});
    in.PlainBox = true;
    in.ButtonHeight = 23;
    in.CaptionWidth[BtnContinue] = 20; // "OK": 59 wide, so 79
    TBoxLayout l = ComputeBoxLayout(in);
    EXPECT_EQ(l.ClientWidth, 176); // 150 + 26
    EXPECT_EQ(l.Buttons[BtnContinue], (TBoxRect{(176 + 4 - 79) / 2 - 3, 18 + 27, 75, 23}));
    EXPECT_EQ(l.Buttons[BtnShow].Width, 0);
    EXPECT_EQ(l.Separator, -1);
    EXPECT_EQ(l.ClientHeight, 18 + 2 * 23 + 21);

    in.Details = true;
    in.CaptionWidth[BtnShow] = 50; // 89
    l = ComputeBoxLayout(in);
    EXPECT_EQ(l.ClientWidth, 196); // 79 + 89 + 28
    const int x = (196 + 2 - 79 - 89) / 2 - 3;
    EXPECT_EQ(l.Buttons[BtnContinue], (TBoxRect{x, 45, 75, 23}));
    EXPECT_EQ(l.Buttons[BtnShow], (TBoxRect{x + 75 + 2, 45, 85, 23}));
    EXPECT_EQ(l.Separator, 18 + 2 * 23 + 21 - 8);
    EXPECT_EQ(l.ClientHeight, 18 + 2 * 23 + 21 + 11);
}

TEST(ExceptionBoxLayout, MessageLineBreaks) {
    const struct {
        const char* In;
        const char* Out;
    } cases[] = {
        // A dot at 19 or at length - 9 stays; at 20 and further in it breaks.
        {"Eighteen chars abc. Next sentence. One more. End of text",
         "Eighteen chars abc. Next sentence.\r\nOne more.\r\nEnd of text"},
        {"Nineteen chars abcd. Rest is here. tail 123", "Nineteen chars abcd.\r\nRest is here. tail 123"},
        {"No breaks here at all", "No breaks here at all"},
        {"Access violation at address 00401000. Read of address 00000000.",
         "Access violation at address 00401000.\r\nRead of address 00000000."},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BreakMessage(c.In), c.Out) << c.In;
}

TEST(ExceptionBoxLayout, ColourShiftAndCountdown) {
    EXPECT_EQ(ShiftColor(0xC8D0D4, 16), 0xD8E0E4u);  // lightens
    EXPECT_EQ(ShiftColor(0xF0F0F0, 16), 0xE0E0E0u);  // three channels would pass 255: darkens
    EXPECT_EQ(ShiftColor(0x10F5F5, 16), 0x00E5E5u);  // two would: darkens, clamped at 0
    EXPECT_EQ(ShiftColor(0x00F5E0, 16), 0x10FFF0u);  // one would: lightens, clamped at 255
    EXPECT_EQ(ShiftColor(0xD4D0C8, -16), 0xC4C0B8u); // the list view's darker selection

    // 10 seconds over a button 100 wide.
    EXPECT_EQ(CountdownPosition(0, 100, 10, false), 0);
    EXPECT_EQ(CountdownPosition(5000, 100, 10, false), 50);
    EXPECT_EQ(CountdownPosition(0, 100, 10, true), 5);
    EXPECT_EQ(CountdownPosition(10000, 100, 10, true), 94);
    EXPECT_FALSE(CountdownFinished(CountdownPosition(9990, 100, 10, false), 100, false));
    EXPECT_TRUE(CountdownFinished(CountdownPosition(10100, 100, 10, false), 100, false));
    EXPECT_FALSE(CountdownFinished(CountdownPosition(10000, 100, 10, true), 100, true));
    EXPECT_TRUE(CountdownFinished(CountdownPosition(10200, 100, 10, true), 100, true));
}
