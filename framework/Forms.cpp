#include "framework/Forms.h"

#include "framework/Application.h"

#include <algorithm>

TForm::TForm() : TWinControl(nullptr) {
    FVisible = false;
    CreateHandle(ZWindowClass(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT);
}

TForm::~TForm() {
    if (Application().MainForm == this) Application().MainForm = nullptr;
}

void TForm::Show() {
    FVisible = true;
    ::ShowWindow(Handle(), SW_SHOW);
    Realign();
}

void TForm::ShowMaximized() {
    FVisible = true;
    ::ShowWindow(Handle(), SW_SHOWMAXIMIZED);
    Realign();
}

void TForm::Hide() {
    FVisible = false;
    ::ShowWindow(Handle(), SW_HIDE);
}

void TForm::Close() {
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(this, canClose);
    if (!canClose) return;
    if (Application().MainForm == this)
        Application().Terminate();
    else
        Hide();
}

void TForm::SetMenu(TMainMenu* menu) {
    FMenu = menu;
    ::SetMenu(Handle(), menu ? menu->Handle() : nullptr);
}

bool TForm::IsShortCut(WORD key, TShiftState shift) {
    TShortCut sc = ShortCut(key, shift);
    TMenuItem* item = FMenu ? FMenu->FindShortCut(sc) : nullptr;
    if (!item)
        for (TMenuItem* extra : FExtraShortCuts)
            if (extra->ShortCut == sc) item = extra;
    if (!item) return false;
    if (item->EffectiveEnabled()) item->Click();
    return true;
}

LRESULT TForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CLOSE:
        Close();
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && OnActivate) OnActivate(this);
        break;
    case WM_COMMAND:
        if (lParam == 0 && HIWORD(wParam) == 0 && FMenu) {
            if (TMenuItem* item = TMenuItem::FromCommand(LOWORD(wParam))) {
                if (item->EffectiveEnabled()) item->Click();
                return 0;
            }
        }
        break;
    case WM_MENUSELECT: {
        TMenuItem* item = (HIWORD(wParam) & MF_POPUP) ? nullptr : TMenuItem::FromCommand(LOWORD(wParam));
        if (HIWORD(wParam) == 0xFFFF && lParam == 0)
            Application().SetHint("");
        else
            Application().SetHint(item ? item->Hint : "");
        break;
    }
    case WM_SIZE:
        if (wParam == SIZE_MINIMIZED && OnResize) OnResize(this);
        break;
    default:
        break;
    }
    return TWinControl::WndProc(msg, wParam, lParam);
}

TPanel::TPanel(TWinControl* parent, COLORREF color) : TWinControl(parent) {
    FColor = color;
    CreateHandle(ZWindowClass(), WS_CLIPCHILDREN | WS_CLIPSIBLINGS, WS_EX_CONTROLPARENT);
}

void TPanel::SetColor(COLORREF color) {
    FColor = color;
    Invalidate();
}

LRESULT TPanel::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT && (BevelOuter != TBevelCut::bvNone || BevelInner != TBevelCut::bvNone)) {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(Handle(), &ps);
        RECT r;
        ::GetClientRect(Handle(), &r);
        UINT edge = 0;
        if (BevelOuter == TBevelCut::bvRaised) edge |= BDR_RAISEDOUTER;
        if (BevelOuter == TBevelCut::bvLowered) edge |= BDR_SUNKENOUTER;
        if (BevelInner == TBevelCut::bvRaised) edge |= BDR_RAISEDINNER;
        if (BevelInner == TBevelCut::bvLowered) edge |= BDR_SUNKENINNER;
        ::DrawEdge(dc, &r, edge, BF_RECT);
        PaintContent(dc, ps.rcPaint);
        ::EndPaint(Handle(), &ps);
        return 0;
    }
    return TWinControl::WndProc(msg, wParam, lParam);
}

TBevel::TBevel(TWinControl* parent) : TWinControl(parent) {
    CreateHandle(L"STATIC", SS_ETCHEDHORZ);
}

TScrollBox::TScrollBox(TWinControl* parent, bool horizontal, bool vertical, COLORREF color)
    : TWinControl(parent), FEnabled{horizontal, vertical} {
    FColor = color;
    DWORD style = WS_CLIPCHILDREN | (horizontal ? WS_HSCROLL : 0) | (vertical ? WS_VSCROLL : 0);
    CreateHandle(ZWindowClass(), style, WS_EX_CONTROLPARENT);
}

void TScrollBox::UpdateScrollRanges() {
    if (FUpdating || !Handle()) return;
    FUpdating = true;
    // Two passes: showing one bar shrinks the client area and may call for the other.
    for (int pass = 0; pass < 2; ++pass) {
        RECT rc;
        ::GetClientRect(Handle(), &rc);
        int32_t extent[2] = {0, 0};
        for (TWinControl* c : Children()) {
            if (!c->Visible()) continue;
            extent[0] = std::max(extent[0], c->BoundsRect().Right + FPos[0]);
            extent[1] = std::max(extent[1], c->BoundsRect().Bottom + FPos[1]);
        }
        int32_t page[2] = {rc.right, rc.bottom};
        for (int bar = 0; bar < 2; ++bar) {
            if (!FEnabled[bar]) continue;
            FRange[bar] = extent[bar];
            SCROLLINFO si{sizeof si,
                          SIF_RANGE | SIF_PAGE | SIF_POS,
                          0,
                          std::max(extent[bar] - 1, 0),
                          static_cast<UINT>(std::max(page[bar], 0)),
                          0,
                          0};
            int32_t maxPos = std::max(extent[bar] - page[bar], 0);
            int32_t pos = std::min(FPos[bar], maxPos);
            si.nPos = pos;
            // Setting unchanged values still makes the window recompute and repaint its frame,
            // which costs a full repaint of the content; stones moving on the canvas call this often.
            SCROLLINFO cur{sizeof cur, SIF_RANGE | SIF_PAGE | SIF_POS, 0, 0, 0, 0, 0};
            bool same = ::GetScrollInfo(Handle(), bar == 0 ? SB_HORZ : SB_VERT, &cur) &&
                        cur.nMin == si.nMin && cur.nMax == si.nMax && cur.nPage == si.nPage &&
                        cur.nPos == si.nPos;
            if (!same) ::SetScrollInfo(Handle(), bar == 0 ? SB_HORZ : SB_VERT, &si, TRUE);
            if (pos != FPos[bar]) {
                FUpdating = false;
                ScrollTo(bar, pos);
                FUpdating = true;
            }
        }
    }
    FUpdating = false;
}

void TScrollBox::ScrollTo(int bar, int32_t pos) {
    if (!FEnabled[bar]) return;
    RECT rc;
    ::GetClientRect(Handle(), &rc);
    int32_t page = bar == 0 ? rc.right : rc.bottom;
    pos = std::clamp(pos, 0, std::max(FRange[bar] - page, 0));
    int32_t delta = FPos[bar] - pos;
    if (delta == 0) return;
    FPos[bar] = pos;
    for (TWinControl* c : Children()) {
        const TRect& b = c->BoundsRect();
        if (bar == 0)
            c->SetBounds(b.Left + delta, b.Top, b.Width(), b.Height());
        else
            c->SetBounds(b.Left, b.Top + delta, b.Width(), b.Height());
    }
    ::SetScrollPos(Handle(), bar == 0 ? SB_HORZ : SB_VERT, pos, TRUE);
}

void TScrollBox::OnScroll(int bar, WORD code) {
    SCROLLINFO si{sizeof si, SIF_ALL, 0, 0, 0, 0, 0};
    ::GetScrollInfo(Handle(), bar == 0 ? SB_HORZ : SB_VERT, &si);
    int32_t pos = FPos[bar];
    int32_t line = 16, page = static_cast<int32_t>(si.nPage);
    switch (code) {
    case SB_LINELEFT:
        pos -= line;
        break;
    case SB_LINERIGHT:
        pos += line;
        break;
    case SB_PAGELEFT:
        pos -= page;
        break;
    case SB_PAGERIGHT:
        pos += page;
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        pos = si.nTrackPos;
        break;
    case SB_LEFT:
        pos = 0;
        break;
    case SB_RIGHT:
        pos = FRange[bar];
        break;
    default:
        return;
    }
    ScrollTo(bar, pos);
}

LRESULT TScrollBox::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_HSCROLL:
        if (lParam == 0) {
            OnScroll(0, LOWORD(wParam));
            return 0;
        }
        break;
    case WM_VSCROLL:
        if (lParam == 0) {
            OnScroll(1, LOWORD(wParam));
            return 0;
        }
        break;
    case WM_MOUSEWHEEL: {
        int bar = FEnabled[1] ? 1 : 0;
        ScrollTo(bar, FPos[bar] - GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA * 50);
        return 0;
    }
    case WM_SIZE: {
        LRESULT r = TWinControl::WndProc(msg, wParam, lParam);
        UpdateScrollRanges();
        return r;
    }
    default:
        break;
    }
    return TWinControl::WndProc(msg, wParam, lParam);
}
