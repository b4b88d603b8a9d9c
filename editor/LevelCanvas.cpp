#include "editor/LevelCanvas.h"

#include <algorithm>
#include <windowsx.h>

TStonePictures::TStonePictures(const TImageList& stoneList) : FDC(::CreateCompatibleDC(nullptr)) {
    TWindowDC screen(nullptr);
    HBRUSH white = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    for (int i = 0; i < stoneList.Count(); ++i) {
        HBITMAP bmp = ::CreateCompatibleBitmap(screen.Get(), stoneList.Width(), stoneList.Height());
        HGDIOBJ old = ::SelectObject(FDC, bmp);
        RECT r{0, 0, stoneList.Width(), stoneList.Height()};
        ::FillRect(FDC, &r, white);
        stoneList.Draw(FDC, 0, 0, i);
        ::SelectObject(FDC, old);
        FBitmaps.push_back(bmp);
    }
}

TStonePictures::~TStonePictures() {
    for (HBITMAP b : FBitmaps)
        ::DeleteObject(b);
    ::DeleteDC(FDC);
}

void DrawSelectionFrame(HDC dc, int x, int y, int w, int h) {
    // The frame belongs to the stone's picture: the wide pen is centred on the picture's edge, and
    // what falls outside the picture is not drawn (it would stay behind when the stone moves).
    int saved = ::SaveDC(dc);
    ::IntersectClipRect(dc, x, y, x + w, y + h);
    TGdiObject pen(::CreatePen(PS_SOLID, 3, RGB(255, 0, 0)));
    {
        TSelectObject selPen(dc, pen.Get());
        POINT pts[5] = {{x, y}, {x + w - 1, y}, {x + w - 1, y + h - 1}, {x, y + h - 1}, {x, y}};
        ::Polyline(dc, pts, 5);
    }
    ::RestoreDC(dc, saved);
}

TLevelCanvas::TLevelCanvas(TWinControl* parent, const TStonePictures& pictures)
    : TPanel(parent, RGB(255, 255, 255)), FPictures(pictures) {}

void TLevelCanvas::RemoveGraphic(TGraphicControl* c) {
    if (FCaptureTarget == c) FCaptureTarget = nullptr;
    FGraphics.Remove(c);
}

void TLevelCanvas::InvalidateArea(const TRect& r) {
    if (!Handle()) return;
    if (FUpdateCount > 0) {
        if (!FPending) FPendingArea = r;
        FPendingArea = {std::min(FPendingArea.Left, r.Left), std::min(FPendingArea.Top, r.Top),
                        std::max(FPendingArea.Right, r.Right), std::max(FPendingArea.Bottom, r.Bottom)};
        FPending = true;
        return;
    }
    RECT rc{r.Left, r.Top, r.Right, r.Bottom};
    ::InvalidateRect(Handle(), &rc, FALSE);
}

void TLevelCanvas::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0 && FPending) {
        FPending = false;
        InvalidateArea(FPendingArea);
    }
}

void TLevelCanvas::PaintContent(HDC dc, const RECT& area) {
    int w = area.right - area.left, h = area.bottom - area.top;
    if (w <= 0 || h <= 0) return;
    // Paint off-screen so stones never flicker over the white background.
    TMemoryDC mem(::CreateCompatibleDC(dc));
    TGdiObject bmp(::CreateCompatibleBitmap(dc, w, h));
    TSelectObject selBmp(mem.Get(), bmp.Get());
    RECT all{0, 0, w, h};
    ::FillRect(mem.Get(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    TRect clip{area.left, area.top, area.right, area.bottom};
    HDC pictureDC = FPictures.PictureDC();
    HGDIOBJ old = nullptr;
    FGraphics.ForEach([&](TGraphicControl* c) {
        if (!c->Visible() || !c->BoundsRect().Intersects(clip)) return;
        auto* image = dynamic_cast<TImage*>(c);
        if (!image || image->PictureIndex() < 0 || image->PictureIndex() >= FPictures.Count()) return;
        HGDIOBJ prev = ::SelectObject(pictureDC, FPictures.Bitmap(image->PictureIndex()));
        if (!old) old = prev;
        int x = c->Left() - area.left, y = c->Top() - area.top;
        ::BitBlt(mem.Get(), x, y, c->Width(), c->Height(), pictureDC, 0, 0, SRCCOPY);
        if (image->FrameDrawn()) DrawSelectionFrame(mem.Get(), x, y, c->Width(), c->Height());
    });
    if (old) ::SelectObject(pictureDC, old);
    ::BitBlt(dc, area.left, area.top, w, h, mem.Get(), 0, 0, SRCCOPY);
}

std::string TLevelCanvas::HintAt(POINT pt) const {
    if (TGraphicControl* c = FGraphics.HitTest(pt.x, pt.y)) return c->EffectiveHint();
    return EffectiveHint();
}

void TLevelCanvas::RouteMouse(UINT msg, WPARAM wParam, LPARAM lParam) {
    int32_t x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    // The second press of a double click is a press like the first.
    if (msg == WM_LBUTTONDBLCLK) msg = WM_LBUTTONDOWN;
    if (msg == WM_RBUTTONDBLCLK) msg = WM_RBUTTONDOWN;
    if (msg == WM_MBUTTONDBLCLK) msg = WM_MBUTTONDOWN;
    bool press = msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN;
    bool release = msg == WM_LBUTTONUP || msg == WM_RBUTTONUP || msg == WM_MBUTTONUP;
    TControl* target = FCaptureTarget;
    if (!target || press) {
        target = FGraphics.HitTest(x, y);
        if (!target) target = this;
    }
    if (press) {
        FCaptureTarget = target;
        ::SetCapture(Handle());
    }
    int32_t lx = x, ly = y;
    if (target != this) {
        lx -= target->Left();
        ly -= target->Top();
    }
    TShiftState shift = MouseShiftState(wParam);
    TMouseButton button = (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONUP)   ? TMouseButton::mbLeft
                          : (msg == WM_RBUTTONDOWN || msg == WM_RBUTTONUP) ? TMouseButton::mbRight
                                                                           : TMouseButton::mbMiddle;
    if (release && !(wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON))) {
        FCaptureTarget = nullptr;
        if (::GetCapture() == Handle()) ::ReleaseCapture();
    }
    // The handler may free the target (a stone): copy the event before calling it.
    if (press) {
        if (TMouseEvent h = target->OnMouseDown) h(target, button, shift, lx, ly);
    } else if (release) {
        if (TMouseEvent h = target->OnMouseUp) h(target, button, shift, lx, ly);
    } else {
        if (TMouseMoveEvent h = target->OnMouseMove) h(target, shift, lx, ly);
    }
}

LRESULT TLevelCanvas::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_ERASEBKGND:
        return 1; // PaintContent fills the background
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(Handle(), &ps);
        PaintContent(dc, ps.rcPaint);
        ::EndPaint(Handle(), &ps);
        return 0;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        RouteMouse(msg, wParam, lParam);
        return 0;
    case WM_CAPTURECHANGED:
        FCaptureTarget = nullptr;
        break;
    default:
        break;
    }
    return TPanel::WndProc(msg, wParam, lParam);
}
