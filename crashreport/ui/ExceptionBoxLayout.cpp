#include "crashreport/ui/ExceptionBoxLayout.h"

#include <algorithm>

TBoxLayout ComputeBoxLayout(const TBoxLayoutInput& in) {
    TBoxLayout out;
    std::array<int, ExceptionBoxButtons> w{};
    for (int i = 0; i < ExceptionBoxButtons; ++i)
        w[i] = in.Visible[i] ? in.CaptionWidth[i] + 39 : 0;
    const int h = in.ButtonHeight;
    if (in.PlainBox) {
        w = {};
        w[BtnContinue] = std::max(in.CaptionWidth[BtnContinue] + 39, 0);
        if (w[BtnContinue] < 75) w[BtnContinue] = 79;
        if (in.Details) {
            w[BtnShow] = in.CaptionWidth[BtnShow] + 39;
            if (w[BtnShow] < 75) w[BtnShow] = 79;
        }
    }
    const int r = std::max({w[BtnContinue], w[BtnRestart], w[BtnClose]});
    int d = 0;
    for (int i : {BtnContinue, BtnRestart, BtnClose})
        d += w[i] > 0 ? 1 : 0;
    const bool leftButtons = w[BtnSend] || w[BtnSave] || w[BtnPrint] || w[BtnShow];
    const bool column = !in.PlainBox && d > 1 && leftButtons;
    out.ColumnLayout = column;

    int band;
    if (in.PlainBox)
        band = in.Details ? w[BtnContinue] + w[BtnShow] + 28 : w[BtnContinue] + 26;
    else if (column)
        band = w[BtnSend] + w[BtnSave] + w[BtnPrint] + w[BtnShow] + r + 14;
    else {
        band = 14;
        for (int x : w)
            band += x;
    }
    const int reserve = (column ? r + 40 : 26) + (in.HasIcon ? 40 : 0);

    std::pair<int, int> text{0, 0};
    if (in.MeasureText) text = in.MeasureText(std::max(band, 664) - reserve);
    int client = std::max(band, text.first + reserve);
    if (in.AutoShowBugRep) client = std::max(client, std::min(664, in.ScreenWidth - 5 * in.CaptionHeight));
    out.ClientWidth = client;

    out.Label = {in.HasIcon ? 51 : 11, 12, text.first, text.second};
    if (in.HasIcon) {
        out.Icon = {10, 9, 32, 32};
        if (text.second < 26) out.Label.Top = 12 + (26 - text.second) / 2;
    }

    int top = in.HasIcon && text.second < 26 ? 31 : text.second + 5;
    if (column && d == 3) top = std::max(7, top - (h + 4));
    // Row layout puts every button on row 1; a missing right-hand group changes nothing there.
    if (!column && !in.PlainBox) d = 2;
    auto row = [&](int n) { return top + n * (h + 4); };
    auto place = [&](int id, int x, int y, int width) { out.Buttons[id] = {x, y, width - 4, h}; };

    if (in.PlainBox) {
        const int ok = w[BtnContinue], det = w[BtnShow];
        if (in.Details) {
            const int x = (client + 2 - ok - det) / 2 - 3;
            place(BtnContinue, x, row(1), ok);
            place(BtnShow, x + ok - 4 + 2, row(1), det);
        } else {
            place(BtnContinue, (client + 4 - ok) / 2 - 3, row(1), ok);
        }
    } else {
        int x = 6;
        for (int id : {BtnSend, BtnSave, BtnPrint, BtnShow}) {
            if (!w[id]) continue;
            place(id, x, row(d - 1), w[id]);
            x += w[id];
        }
        if (column) {
            const int rx = client - r - 8;
            if (w[BtnContinue]) place(BtnContinue, rx, row(0), r);
            if (w[BtnRestart]) place(BtnRestart, rx, row(w[BtnContinue] ? 1 : 0), r);
            if (w[BtnClose]) place(BtnClose, rx, row(d - 1), r);
        } else {
            x = client - (w[BtnContinue] + w[BtnRestart] + w[BtnClose]) - 8;
            for (int id : {BtnContinue, BtnRestart, BtnClose}) {
                if (!w[id]) continue;
                place(id, x, row(1), w[id]);
                x += w[id];
            }
        }
    }

    int height = in.PlainBox ? top + 2 * h + 21 : d * (h + 4) + top + 8;
    if (!in.PlainBox || in.Details) {
        out.Separator = height - 8;
        height += in.AutoShowBugRep ? 9 : 11;
    }
    if (in.AutoShowBugRep) {
        const int bandBottom = height;
        height += 474;
        out.Tabs = {5, bandBottom - 4, client - 15, height - 10 - (bandBottom - 4)};
    }
    out.ClientHeight = std::min(height, in.ScreenHeight - 5 * in.CaptionHeight);
    if (out.Tabs.Width) out.Tabs.Height = std::max(0, out.ClientHeight - 10 - out.Tabs.Top);
    return out;
}

std::string BreakMessage(std::string_view message) {
    std::string out;
    out.reserve(message.size() + 16);
    const size_t n = message.size();
    for (size_t i = 0; i < n; ++i) {
        const size_t pos = i + 1;
        if (message[i] == '.' && i + 1 < n && message[i + 1] == ' ' && pos >= 20 && pos + 10 <= n) {
            out += ".\r\n";
            ++i;
            continue;
        }
        out += message[i];
    }
    return out;
}

uint32_t ShiftColor(uint32_t color, int amount) {
    int c[3] = {int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF)};
    int over = 0;
    for (int v : c)
        over += v + amount > 255 ? 1 : 0;
    for (int& v : c)
        v = std::clamp(over >= 2 ? v - amount : v + amount, 0, 255);
    return uint32_t(c[0]) | uint32_t(c[1]) << 8 | uint32_t(c[2]) << 16;
}

int CountdownPosition(uint32_t elapsedMs, int width, int delaySeconds, bool uglyButtons) {
    const int64_t delay = std::max(delaySeconds, 1);
    const int64_t e = elapsedMs;
    if (uglyButtons) return int((e * (width - 11) + delay * 500) / (delay * 1000) + 5);
    return int((e * width + delay * 500) / (delay * 1000));
}

bool CountdownFinished(int position, int width, bool uglyButtons) {
    return position > (uglyButtons ? width - 6 : width);
}
