#include "framework/WinControls.h"

#include "framework/Application.h"

#include <algorithm>
#include <commctrl.h>
#include <windowsx.h>

namespace {
const wchar_t* const ObjectProp = L"ZObject";
}

const wchar_t* ZWindowClass() {
    static const wchar_t* name = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), L"MAINICON");
        wc.lpszClassName = L"ZembrakWindow";
        ::RegisterClassExW(&wc);
        return L"ZembrakWindow";
    }();
    return name;
}

HFONT DefaultFont() {
    static HFONT font = [] {
        TWindowDC dc(nullptr);
        int height = -::MulDiv(8, ::GetDeviceCaps(dc.Get(), LOGPIXELSY), 72);
        return ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
    }();
    return font;
}

TShiftState KeyShiftState() {
    TShiftState s = 0;
    if (::GetKeyState(VK_SHIFT) < 0) s |= ssShift;
    if (::GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
    if (::GetKeyState(VK_MENU) < 0) s |= ssAlt;
    return s;
}

TShiftState MouseShiftState(WPARAM w) {
    TShiftState s = 0;
    if (w & MK_SHIFT) s |= ssShift;
    if (w & MK_CONTROL) s |= ssCtrl;
    if (::GetKeyState(VK_MENU) < 0) s |= ssAlt;
    if (w & MK_LBUTTON) s |= ssLeft;
    if (w & MK_RBUTTON) s |= ssRight;
    if (w & MK_MBUTTON) s |= ssMiddle;
    return s;
}

TWinControl::TWinControl(TWinControl* parent) {
    FParent = parent;
    if (parent) parent->FChildren.push_back(this);
}

TWinControl::~TWinControl() {
    if (auto* p = ParentWin()) {
        auto& c = p->FChildren;
        c.erase(std::remove(c.begin(), c.end(), this), c.end());
    }
    if (FHandle) {
        ::RemoveWindowSubclass(FHandle, SubclassProc, 1);
        ::RemovePropW(FHandle, ObjectProp);
        ::DestroyWindow(FHandle);
    }
}

void TWinControl::CreateHandle(const wchar_t* className, DWORD style, DWORD exStyle, const wchar_t* text) {
    HWND parent = ParentWin() ? ParentWin()->Handle() : nullptr;
    if (parent) style |= WS_CHILD;
    if (FVisible) style |= WS_VISIBLE;
    FOwnClass = className == ZWindowClass();
    FHandle = ::CreateWindowExW(exStyle, className, text, style, FBounds.Left, FBounds.Top, FBounds.Width(),
                                FBounds.Height(), parent, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!FHandle) throw EOSError("CreateWindowEx failed: " + SysErrorMessage(::GetLastError()));
    ::SetPropW(FHandle, ObjectProp, this);
    ::SetWindowSubclass(FHandle, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
    ::SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(DefaultFont()), FALSE);
    if (!FOwnClass || !parent) {
        RECT r;
        ::GetWindowRect(FHandle, &r);
        if (!parent) FBounds = {r.left, r.top, r.right, r.bottom};
    }
}

TWinControl* TWinControl::FromHandle(HWND wnd) {
    return wnd ? static_cast<TWinControl*>(::GetPropW(wnd, ObjectProp)) : nullptr;
}

TWinControl* TWinControl::FindControl(HWND wnd) {
    for (; wnd; wnd = ::GetParent(wnd))
        if (TWinControl* c = FromHandle(wnd)) return c;
    return nullptr;
}

void TWinControl::SetAlign(TAlign align) {
    FAlign = align;
    if (ParentWin()) ParentWin()->Realign();
}

void TWinControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
    TRect old = FBounds;
    TControl::SetBounds(left, top, width, height);
    if (FHandle && !(old == FBounds))
        ::SetWindowPos(FHandle, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    if (ParentWin() && FAlign != TAlign::alNone && !ParentWin()->FInRealign) ParentWin()->Realign();
}

void TWinControl::SetVisible(bool visible) {
    if (visible == FVisible) return;
    TControl::SetVisible(visible);
    if (FHandle) ::ShowWindow(FHandle, visible ? SW_SHOW : SW_HIDE);
    if (ParentWin()) ParentWin()->Realign();
}

bool TWinControl::Enabled() const {
    return FHandle && ::IsWindowEnabled(FHandle);
}
void TWinControl::SetEnabled(bool enabled) {
    if (FHandle) ::EnableWindow(FHandle, enabled);
}

void TWinControl::SetText(std::string_view text) {
    if (FHandle) ::SetWindowTextW(FHandle, Widen(text).c_str());
}

std::string TWinControl::Text() const {
    if (!FHandle) return {};
    int n = ::GetWindowTextLengthW(FHandle);
    std::wstring w(static_cast<size_t>(n) + 1, L'\0');
    n = ::GetWindowTextW(FHandle, w.data(), n + 1);
    w.resize(static_cast<size_t>(std::max(n, 0)));
    return Narrow(w);
}

void TWinControl::Invalidate() {
    if (FHandle) ::InvalidateRect(FHandle, nullptr, TRUE);
}

void TWinControl::SetFocus() {
    if (FHandle) ::SetFocus(FHandle);
}

bool TWinControl::Focused() const {
    return FHandle && ::GetFocus() == FHandle;
}

void TWinControl::SetFont(HFONT font) {
    if (FHandle) ::SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void TWinControl::Realign() {
    if (!FHandle || FInRealign) return;
    FInRealign = true;
    RECT rc;
    ::GetClientRect(FHandle, &rc);
    auto place = [](TWinControl* c, LONG l, LONG t, LONG w, LONG h) {
        c->SetBounds(l, t, std::max<LONG>(w, 0), std::max<LONG>(h, 0));
    };
    for (TAlign pass : {TAlign::alTop, TAlign::alBottom, TAlign::alLeft, TAlign::alRight, TAlign::alClient}) {
        for (TWinControl* c : FChildren) {
            if (c->FAlign != pass || !c->FVisible) continue;
            switch (pass) {
            case TAlign::alTop:
                place(c, rc.left, rc.top, rc.right - rc.left, c->Height());
                rc.top += c->Height();
                break;
            case TAlign::alBottom:
                rc.bottom -= c->Height();
                place(c, rc.left, rc.bottom, rc.right - rc.left, c->Height());
                break;
            case TAlign::alLeft:
                place(c, rc.left, rc.top, c->Width(), rc.bottom - rc.top);
                rc.left += c->Width();
                break;
            case TAlign::alRight:
                rc.right -= c->Width();
                place(c, rc.right, rc.top, c->Width(), rc.bottom - rc.top);
                break;
            default:
                place(c, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
                break;
            }
        }
    }
    FInRealign = false;
}

LRESULT TWinControl::DefaultProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    return ::DefSubclassProc(FHandle, msg, wParam, lParam);
}

void TWinControl::MouseEvent(UINT msg, WPARAM wParam, LPARAM lParam) {
    int32_t x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    TShiftState shift = MouseShiftState(wParam);
    switch (msg) {
    case WM_MOUSEMOVE:
        if (OnMouseMove) OnMouseMove(this, shift, x, y);
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (OnMouseDown) {
            ::SetCapture(FHandle);
            OnMouseDown(this,
                        msg == WM_LBUTTONDOWN   ? TMouseButton::mbLeft
                        : msg == WM_RBUTTONDOWN ? TMouseButton::mbRight
                                                : TMouseButton::mbMiddle,
                        shift, x, y);
        }
        break;
    default:
        if (OnMouseUp) {
            if (::GetCapture() == FHandle && !(wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)))
                ::ReleaseCapture();
            OnMouseUp(this,
                      msg == WM_LBUTTONUP   ? TMouseButton::mbLeft
                      : msg == WM_RBUTTONUP ? TMouseButton::mbRight
                                            : TMouseButton::mbMiddle,
                      shift, x, y);
        }
        break;
    }
}

LRESULT TWinControl::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) {
            Realign();
            if (OnResize) OnResize(this);
        }
        break;
    case WM_COMMAND:
        if (lParam) {
            if (TWinControl* c = FromHandle(reinterpret_cast<HWND>(lParam)); c && c->HandleCommand(wParam))
                return 0;
        }
        break;
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<NMHDR*>(lParam);
        LRESULT result = 0;
        if (TWinControl* c = FromHandle(hdr->hwndFrom); c && c->HandleNotify(hdr, result)) return result;
        if (hdr->code == TTN_GETDISPINFOW) {
            auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
            static std::wstring tip;
            for (TWinControl* c : FChildren) {
                if (c->TipText(hdr->idFrom, tip)) {
                    info->lpszText = tip.data();
                    return 0;
                }
            }
        }
        break;
    }
    case WM_ERASEBKGND:
        if (FOwnClass) {
            RECT r;
            ::GetClientRect(FHandle, &r);
            HBRUSH brush = ::CreateSolidBrush(FColor);
            ::FillRect(reinterpret_cast<HDC>(wParam), &r, brush);
            ::DeleteObject(brush);
            return 1;
        }
        break;
    case WM_PAINT:
        if (FOwnClass) {
            PAINTSTRUCT ps;
            HDC dc = ::BeginPaint(FHandle, &ps);
            PaintContent(dc, ps.rcPaint);
            ::EndPaint(FHandle, &ps);
            return 0;
        }
        break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
        MouseEvent(msg, wParam, lParam);
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        if (FOwnClass) {
            ::SetBkColor(reinterpret_cast<HDC>(wParam), FColor);
            static HBRUSH faceBrush = ::GetSysColorBrush(COLOR_BTNFACE);
            if (FColor == ::GetSysColor(COLOR_BTNFACE)) return reinterpret_cast<LRESULT>(faceBrush);
        }
        break;
    default:
        break;
    }
    return DefaultProc(msg, wParam, lParam);
}

LRESULT CALLBACK TWinControl::SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR ref) {
    auto* self = reinterpret_cast<TWinControl*>(ref);
    try {
        if (msg == WM_NCDESTROY) {
            ::RemoveWindowSubclass(wnd, SubclassProc, 1);
            ::RemovePropW(wnd, ObjectProp);
            self->FHandle = nullptr;
            return ::DefSubclassProc(wnd, msg, wParam, lParam);
        }
        return self->WndProc(msg, wParam, lParam);
    } catch (...) {
        Application().HandleException(std::current_exception());
        return 0;
    }
}
