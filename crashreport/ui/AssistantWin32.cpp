#include "crashreport/ui/AssistantWin32.h"

#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "crashreport/base/HandlesWin32.h"
#include "crashreport/base/ModulesWin32.h"
#include "crashreport/settings/SettingsWin32.h"
#include "crashreport/ui/ExceptionBoxLayout.h"
#include "crashreport/ui/FontsWin32.h"
#include "framework/Win32Util.h"

namespace {

const wchar_t* const FormClassName = L"xunNVAssistantWnd";
const wchar_t* const ContactKey = L"Software\\Xunvard\\ContactForm";
constexpr UINT_PTR FormTimer = 777;

// ---- colours

COLORREF Lighten(COLORREF c, int n) {
    auto ch = [n](int v) { return std::clamp(v + n, 0, 255); };
    return RGB(ch(GetRValue(c)), ch(GetGValue(c)), ch(GetBValue(c)));
}

COLORREF Pale() {
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    return RGB((GetRValue(face) + 255) / 2, (GetGValue(face) + 255) / 2, (GetBValue(face) + 255) / 2);
}

void Fill(HDC dc, const RECT& r, COLORREF c) {
    TGdi<HBRUSH> brush(::CreateSolidBrush(c));
    ::FillRect(dc, &r, brush.Get());
}

// A frame `width` pixels wide inside r.
void Frame(HDC dc, RECT r, COLORREF c, int width = 1) {
    TGdi<HBRUSH> brush(::CreateSolidBrush(c));
    for (int i = 0; i < width; ++i) {
        ::FrameRect(dc, &r, brush.Get());
        ::InflateRect(&r, -1, -1);
    }
}

RECT ToRect(const TNVRect& r) {
    return RECT{r.Left, r.Top, r.Right(), r.Bottom()};
}

// The text in white at the eight neighbouring offsets, then in its colour on top.
void DrawHaloText(HDC dc, const std::wstring& text, RECT r, UINT format, COLORREF color) {
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, RGB(255, 255, 255));
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            if (!dx && !dy) continue;
            RECT o = r;
            ::OffsetRect(&o, dx, dy);
            ::DrawTextW(dc, text.c_str(), int(text.size()), &o, format);
        }
    ::SetTextColor(dc, color);
    ::DrawTextW(dc, text.c_str(), int(text.size()), &r, format);
}

struct TButtonColor {
    COLORREF Color;
    int Step[3]; // red, green, blue
};
const TButtonColor MainButtonColors[NVMainButtons] = {
    {RGB(128, 160, 128), {2, 1, 2}}, {RGB(128, 128, 160), {2, 2, 1}}, {RGB(160, 128, 128), {1, 2, 2}}};
const TButtonColor OtherButtonColor = {RGB(128, 128, 128), {2, 2, 2}};

std::wstring WindowText(HWND w) {
    std::wstring text(size_t(::GetWindowTextLengthW(w)) + 1, L'\0');
    text.resize(size_t(::GetWindowTextW(w, text.data(), int(text.size()))));
    return text;
}

INVBitmap* PictureOf(const TNVItem& item) {
    return dynamic_cast<INVBitmap*>(item.Picture.Get());
}

// ---- one form on the screen

class TFormWindow {
public:
    explicit TFormWindow(TNVForm& form) : FForm(form), FWindows(form.Items.size(), nullptr) {}
    ~TFormWindow() {
        if (FWnd && ::IsWindow(FWnd)) ::DestroyWindow(FWnd);
    }
    TFormWindow(const TFormWindow&) = delete;
    TFormWindow& operator=(const TFormWindow&) = delete;

    int ShowModal(HWND owner);

private:
    static LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
    bool Create(HWND owner);
    void CreateItems();
    bool PreTranslate(MSG& msg);
    std::vector<TNVItem*> TabOrder();
    void MoveFocus(bool back);
    TNVItem* ItemOf(HWND child);
    TNVItem* ImageAt(int x, int y);

    void Fire(int action, TNVItem* item);
    void Sync();
    void Command(int id, int code);
    void End(int result, TNVItem* clicked);

    void Paint(HDC dc);
    void PaintSteps(HDC dc);
    void PaintImage(HDC dc, const TNVItem& item);
    void DrawButton(const DRAWITEMSTRUCT& d, const TNVItem& item);
    void DrawCheckBox(const DRAWITEMSTRUCT& d, const TNVItem& item);

    TNVForm& FForm;
    HWND FWnd = nullptr;
    std::vector<HWND> FWindows; // by item index; null for items without a window
    std::vector<std::string> FTextsBefore;
    // What the windows show of each item: the picture, and an edit's validity or a check box's mark.
    struct TShown {
        const IRefCounted* Picture = nullptr;
        int State = -1;
    };
    std::vector<TShown> FShown;
    std::vector<TRef<INVBitmap>> FZoomed;
    TGdi<HFONT> FDialogFont, FButtonFont, FBoldFont, FMarlett;
    TGdi<HBRUSH> FWindowBrush, FFaceBrush;
    bool FDone = false, FEnding = false, FSyncing = false;
};

LRESULT CALLBACK TFormWindow::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<TFormWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->FWnd = wnd;
        ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TFormWindow*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(wnd, msg, wParam, lParam);
    try {
        return self->Handle(msg, wParam, lParam);
    } catch (...) {
        return ::DefWindowProcW(wnd, msg, wParam, lParam);
    }
}

bool RegisterFormClass(WNDPROC proc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (::GetClassInfoExW(::GetModuleHandleW(nullptr), FormClassName, &wc)) return true;
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = FormClassName;
    return ::RegisterClassExW(&wc) || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool TFormWindow::Create(HWND owner) {
    if (!RegisterFormClass(WndProc)) return false;
    FDialogFont.Reset(MakeDialogFont());
    FButtonFont.Reset(MakeFont(L"Arial", 15));
    FBoldFont.Reset(MakeFont(L"Arial", 15, FW_BOLD));
    FMarlett.Reset(MakeFont(L"Marlett", 13));
    FWindowBrush.Reset(::CreateSolidBrush(::GetSysColor(COLOR_WINDOW)));
    FFaceBrush.Reset(::CreateSolidBrush(::GetSysColor(COLOR_BTNFACE)));

    TMemoryDC measure(::CreateCompatibleDC(nullptr));
    TNVLayoutEnv env;
    env.MeasureText = [&](TNVFont font, std::string_view text, int wrap) {
        const HFONT f = font == TNVFont::Dialog   ? FDialogFont.Get()
                        : font == TNVFont::Button ? FButtonFont.Get()
                                                  : FBoldFont.Get();
        TSelectObject select(measure.Get(), f);
        const std::wstring w = Widen(text);
        RECT r{0, 0, wrap, 0};
        ::DrawTextW(measure.Get(), w.c_str(), int(w.size()), &r,
                    DT_CALCRECT | DT_NOPREFIX | (wrap > 0 ? DT_WORDBREAK : DT_SINGLELINE));
        return TNVSize{r.right - r.left, r.bottom - r.top};
    };
    env.PictureSize = [](const TNVItem& image) {
        INVBitmap* p = PictureOf(image);
        return p ? TNVSize{p->Width(), p->Height()} : TNVSize{};
    };
    env.CheckMarkWidth = ::GetSystemMetrics(SM_CXMENUCHECK);
    env.ScreenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    FForm.UpdateContinue();
    LayoutForm(FForm, env);

    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_DLGMODALFRAME;
    RECT frame{0, 0, FForm.Width, FForm.Height};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (::GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    ::CreateWindowExW(exStyle, FormClassName, Widen(FForm.Title).c_str(), style, x, y, w, h, owner, nullptr,
                      ::GetModuleHandleW(nullptr), this);
    if (!FWnd) return false;
    if (HMENU menu = ::GetSystemMenu(FWnd, FALSE))
        for (UINT cmd : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE})
            ::DeleteMenu(menu, cmd, MF_BYCOMMAND);
    CreateItems();
    return true;
}

// Tab order: the items in their order, then continue, skip and cancel.
std::vector<TNVItem*> TFormWindow::TabOrder() {
    std::vector<TNVItem*> order;
    for (size_t i = NVMainButtons; i < FForm.Items.size(); ++i)
        order.push_back(&FForm.Items[i]);
    for (int i = 0; i < NVMainButtons; ++i)
        order.push_back(&FForm.Items[size_t(i)]);
    return order;
}

void TFormWindow::CreateItems() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    FShown.assign(FForm.Items.size(), TShown());
    FZoomed.assign(FForm.Items.size(), nullptr);
    for (TNVItem* item : TabOrder()) {
        if (!item->Shown() || item->Kind == TNVItemKind::Image) continue;
        const wchar_t* cls = L"BUTTON";
        std::wstring text = Widen(item->Caption);
        DWORD style = WS_CHILD | WS_VISIBLE;
        HFONT font = FDialogFont.Get();
        switch (item->Kind) {
        case TNVItemKind::Button:
            style |= WS_TABSTOP | (item->NoOwnerDraw ? BS_PUSHBUTTON : BS_OWNERDRAW);
            if (item->IsMainButton() && !item->NoOwnerDraw) font = FButtonFont.Get();
            break;
        case TNVItemKind::Label:
            cls = L"STATIC";
            style |= SS_LEFT | SS_NOPREFIX;
            break;
        case TNVItemKind::Edit:
            cls = L"EDIT";
            text = Widen(item->Text);
            style |=
                WS_TABSTOP | (item->Lines > 1 ? ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL
                                              : ES_AUTOHSCROLL);
            break;
        case TNVItemKind::CheckBox:
            style |= WS_TABSTOP | BS_OWNERDRAW;
            break;
        case TNVItemKind::Image:
            break;
        }
        const TNVRect& r = item->Rect;
        HWND child = ::CreateWindowExW(0, cls, text.c_str(), style, r.Left, r.Top, r.Width, r.Height, FWnd,
                                       reinterpret_cast<HMENU>(INT_PTR(AssistantItemId + item->Index)),
                                       instance, nullptr);
        if (!child) continue;
        ::SendMessageW(child, WM_SETFONT, WPARAM(font), FALSE);
        FWindows[size_t(item->Index)] = child;
    }
    FTextsBefore.clear();
    for (const TNVItem& item : FForm.Items)
        FTextsBefore.push_back(item.Text);
    Sync();
}

TNVItem* TFormWindow::ItemOf(HWND child) {
    for (size_t i = 0; i < FWindows.size(); ++i)
        if (child && FWindows[i] == child) return &FForm.Items[i];
    return nullptr;
}

TNVItem* TFormWindow::ImageAt(int x, int y) {
    for (TNVItem& item : FForm.Items) {
        const TNVRect& r = item.Rect;
        if (item.Kind == TNVItemKind::Image && item.Clickable && x >= r.Left && x < r.Right() && y >= r.Top &&
            y < r.Bottom())
            return &item;
    }
    return nullptr;
}

void TFormWindow::Fire(int action, TNVItem* item) {
    FForm.Fire(action, item);
    Sync();
}

// Brings the windows in step with what handlers may have changed; repaints only what did.
void TFormWindow::Sync() {
    if (!FWnd) return;
    FForm.UpdateContinue();
    FSyncing = true;
    for (TNVItem& item : FForm.Items) {
        HWND w = FWindows[size_t(item.Index)];
        TShown& shown = FShown[size_t(item.Index)];
        if (item.Kind == TNVItemKind::Image && item.Picture.Get() != shown.Picture) {
            shown.Picture = item.Picture.Get();
            FZoomed[size_t(item.Index)].Reset();
            const RECT r = ToRect(item.Rect);
            ::InvalidateRect(FWnd, &r, FALSE);
        }
        if (!w) continue;
        const bool enabled = item.Enabled && !item.ForcedDisabled;
        if ((::IsWindowEnabled(w) != FALSE) != enabled) {
            // Focus on a window about to be disabled would be lost to nowhere.
            if (!enabled && ::GetFocus() == w) MoveFocus(false);
            ::EnableWindow(w, enabled);
        }
        if (item.Kind == TNVItemKind::Edit) {
            const std::wstring want = Widen(item.Text);
            if (WindowText(w) != want) ::SetWindowTextW(w, want.c_str());
        }
        const int state = item.Kind == TNVItemKind::Edit ? item.Valid : item.Checked;
        if (state != shown.State) {
            shown.State = state;
            ::InvalidateRect(w, nullptr, FALSE);
        }
    }
    FSyncing = false;
}

int TFormWindow::ShowModal(HWND owner) {
    if (FForm.Skipped) return NVSkip;
    const bool disableOwner = owner && ::IsWindowEnabled(owner);
    if (disableOwner) ::EnableWindow(owner, FALSE);
    int result = NVCancel;
    if (Create(owner)) {
        Fire(NVFormShow, nullptr);
        if (FForm.Skipped) {
            result = NVSkip;
        } else {
            ::ShowWindow(FWnd, SW_SHOWNORMAL);
            ::SetForegroundWindow(FWnd);
            if (TNVItem* focus = FForm.FirstFocus(); focus && FWindows[size_t(focus->Index)])
                ::SetFocus(FWindows[size_t(focus->Index)]);
            if (FForm.Timer > 0) ::SetTimer(FWnd, FormTimer, UINT(FForm.Timer), nullptr);
            MSG msg;
            while (!FDone) {
                const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
                if (got == 0) {
                    // A quit request belongs to the loop outside; the form counts as cancelled.
                    ::PostQuitMessage(int(msg.wParam));
                    End(NVCancel, nullptr);
                    break;
                }
                if (got < 0) break;
                if (PreTranslate(msg)) continue;
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            result = FForm.ModalResult;
        }
        if (FWnd && ::IsWindow(FWnd)) ::DestroyWindow(FWnd);
        FWnd = nullptr;
    }
    if (disableOwner) {
        ::EnableWindow(owner, TRUE);
        ::SetActiveWindow(owner);
    }
    return result;
}

bool TFormWindow::PreTranslate(MSG& msg) {
    if (!FWnd || (msg.hwnd != FWnd && !::IsChild(FWnd, msg.hwnd))) return false;
    TNVItem* item = ItemOf(msg.hwnd);
    const bool multiLine = item && item->Kind == TNVItemKind::Edit && item->Lines > 1;
    if (msg.message == WM_KEYDOWN) {
        switch (msg.wParam) {
        case VK_ESCAPE:
            if (FWindows[NVCancelBtn] && ::IsWindowEnabled(FWindows[NVCancelBtn]))
                End(NVCancel, &FForm.CancelBtn());
            return true;
        case VK_TAB:
            MoveFocus(::GetKeyState(VK_SHIFT) < 0);
            return true;
        case VK_RETURN:
            if (!item || multiLine) break;
            if (item->Kind == TNVItemKind::Button)
                Command(AssistantItemId + item->Index, BN_CLICKED);
            else
                MoveFocus(false);
            return true;
        default:
            break;
        }
    }
    // A memo keeps its Enter and its keys; everything else goes through dialog navigation.
    if (multiLine) return false;
    return ::IsDialogMessageW(FWnd, &msg) != 0;
}

void TFormWindow::MoveFocus(bool back) {
    std::vector<HWND> order;
    for (TNVItem* item : TabOrder()) {
        HWND w = FWindows[size_t(item->Index)];
        if (w && item->Focusable()) order.push_back(w);
    }
    if (order.empty()) return;
    const auto at = std::find(order.begin(), order.end(), ::GetFocus());
    size_t next;
    if (at == order.end())
        next = back ? order.size() - 1 : 0;
    else
        next = (size_t(at - order.begin()) + (back ? order.size() - 1 : 1)) % order.size();
    ::SetFocus(order[next]);
    if (TNVItem* item = ItemOf(order[next]); item && item->Kind == TNVItemKind::Edit)
        ::SendMessageW(order[next], EM_SETSEL, 0, -1);
}

void TFormWindow::Command(int id, int code) {
    TNVItem* item = FForm.Item(id - AssistantItemId);
    if (!item || FEnding) return;
    switch (item->Kind) {
    case TNVItemKind::Button:
        if (code != BN_CLICKED) return;
        if (item->Index == NVContinueBtn)
            End(NVContinue, item);
        else if (item->Index == NVSkipBtn)
            End(NVSkip, item);
        else if (item->Index == NVCancelBtn)
            End(NVCancel, item);
        else
            Fire(NVItemEvent, item);
        break;
    case TNVItemKind::CheckBox:
        if (code != BN_CLICKED) return;
        item->Checked = !item->Checked;
        Fire(NVItemEvent, item);
        break;
    case TNVItemKind::Edit: {
        HWND w = FWindows[size_t(item->Index)];
        if (code == EN_SETFOCUS || code == EN_KILLFOCUS) {
            RECT r = ToRect(item->Rect);
            ::InflateRect(&r, 2, 2);
            ::InvalidateRect(FWnd, &r, FALSE);
        } else if (code == EN_CHANGE && !FSyncing) {
            item->Text = Narrow(WindowText(w));
            Fire(NVItemEvent, item);
        }
        break;
    }
    default:
        break;
    }
}

void TFormWindow::End(int result, TNVItem* clicked) {
    if (FEnding) return;
    FEnding = true;
    ::KillTimer(FWnd, FormTimer);
    if (clicked) FForm.Fire(NVItemEvent, clicked);
    FForm.ModalResult = result;
    // Only continue keeps what was typed.
    if (result != NVContinue)
        for (TNVItem& item : FForm.Items)
            if (item.Kind == TNVItemKind::Edit) item.Text = FTextsBefore[size_t(item.Index)];
    FForm.Fire(NVFormClosed);
    FDone = true;
    ::ShowWindow(FWnd, SW_HIDE);
}

LRESULT TFormWindow::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        if (lParam) Command(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == FormTimer && !FEnding) Fire(NVItemEvent, nullptr);
        return 0;
    case WM_CLOSE:
        End(NVCancel, nullptr);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(FWnd, &ps);
        Paint(dc);
        ::EndPaint(FWnd, &ps);
        return 0;
    }
    case WM_DRAWITEM: {
        const auto& d = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (TNVItem* item = ItemOf(d.hwndItem)) {
            if (item->Kind == TNVItemKind::CheckBox)
                DrawCheckBox(d, *item);
            else
                DrawButton(d, *item);
        }
        return TRUE;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        TNVItem* item = ItemOf(reinterpret_cast<HWND>(lParam));
        if (item && item->Kind == TNVItemKind::Edit) {
            COLORREF text = RGB(0, 0, 0);
            if (item->Colored) text = item->Valid ? RGB(0, 128, 0) : RGB(128, 0, 0);
            ::SetTextColor(dc, text);
            ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
            return reinterpret_cast<LRESULT>(FWindowBrush.Get());
        }
        ::SetTextColor(dc, ::GetSysColor(item && !item->Enabled ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(FFaceBrush.Get());
    }
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && reinterpret_cast<HWND>(wParam) == FWnd) {
            POINT p;
            ::GetCursorPos(&p);
            ::ScreenToClient(FWnd, &p);
            if (ImageAt(p.x, p.y)) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
        }
        break;
    case WM_LBUTTONDOWN:
        FForm.PressedImage = ImageAt(short(LOWORD(lParam)), short(HIWORD(lParam)));
        if (FForm.PressedImage) ::SetCapture(FWnd);
        return 0;
    case WM_LBUTTONUP: {
        TNVItem* pressed = std::exchange(FForm.PressedImage, nullptr);
        if (::GetCapture() == FWnd) ::ReleaseCapture();
        if (pressed && pressed == ImageAt(short(LOWORD(lParam)), short(HIWORD(lParam))) && !FEnding)
            Fire(NVItemEvent, pressed);
        return 0;
    }
    default:
        break;
    }
    return ::DefWindowProcW(FWnd, msg, wParam, lParam);
}

// ---- painting

void TFormWindow::Paint(HDC dc) {
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    RECT client;
    ::GetClientRect(FWnd, &client);
    Fill(dc, client, Lighten(face, 8));
    const RECT panel{8, 25, FForm.Width - 9, FForm.Height - 9 - FForm.ButtonHeight - 10};
    Fill(dc, panel, face);
    Frame(dc, panel, Lighten(face, -16), 2);

    TSelectObject font(dc, FBoldFont.Get());
    RECT message{11, 6, FForm.Width - 9 - 19 * FForm.Count - 8, 25};
    DrawHaloText(dc, Widen(FForm.Message), message, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX,
                 ::GetSysColor(COLOR_3DDKSHADOW));
    PaintSteps(dc);

    const HWND focus = ::GetFocus();
    for (const TNVItem& item : FForm.Items) {
        if (item.Kind == TNVItemKind::Image && item.Shown()) PaintImage(dc, item);
        HWND w = FWindows[size_t(item.Index)];
        if (item.Kind != TNVItemKind::Edit || !w) continue;
        RECT r = ToRect(item.Rect);
        ::InflateRect(&r, 2, 2);
        if (focus == w) {
            Frame(dc, r, ::GetSysColor(COLOR_BTNSHADOW));
            ::InflateRect(&r, -1, -1);
            Frame(dc, r, ::GetSysColor(COLOR_WINDOW));
        } else {
            Frame(dc, r, Pale(), 2);
        }
    }
}

void TFormWindow::PaintSteps(HDC dc) {
    for (int i = 1; i <= FForm.Count; ++i) {
        RECT box{FForm.Width - 9 - 20 - 19 * (FForm.Count - i), 3, 0, 23};
        box.right = box.left + 20;
        const std::wstring number = std::to_wstring(i);
        const UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
        if (i != FForm.Position) {
            ::SetBkMode(dc, TRANSPARENT);
            ::SetTextColor(dc, ::GetSysColor(COLOR_BTNSHADOW));
            ::DrawTextW(dc, number.c_str(), int(number.size()), &box, format);
            continue;
        }
        Fill(dc, box, ::GetSysColor(COLOR_BTNSHADOW));
        for (int y = 1; y < 19; ++y) {
            const int v = 255 - (255 - 192) * (y - 1) / 17;
            Fill(dc, RECT{box.left + 1, box.top + y, box.right - 1, box.top + y + 1}, RGB(v, v, v));
        }
        DrawHaloText(dc, number, box, format, ::GetSysColor(COLOR_WINDOWTEXT));
    }
}

void TFormWindow::PaintImage(HDC dc, const TNVItem& item) {
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    RECT r = ToRect(item.Rect);
    if (item.Clickable) {
        Frame(dc, r, Pale(), 2);
        ::InflateRect(&r, -2, -2);
        Frame(dc, r, face);
    }
    const TNVRect inner = ImagePictureRect(item);
    RECT pr = ToRect(inner);
    if (item.Border) {
        RECT b = pr;
        ::InflateRect(&b, 1, 1);
        Frame(dc, b, ::GetSysColor(COLOR_WINDOWTEXT));
    }
    INVBitmap* picture = PictureOf(item);
    if (!picture || inner.Width <= 0 || inner.Height <= 0) {
        Fill(dc, pr, face);
        return;
    }
    TRef<INVBitmap>& zoomed = FZoomed[size_t(item.Index)];
    if (!zoomed) {
        // A picture of another size than the layout's (an edited screenshot) fits in with its
        // proportions kept.
        int w = inner.Width, h = inner.Height;
        if (int64_t(picture->Width()) * h != int64_t(picture->Height()) * w) {
            if (int64_t(w) * picture->Height() <= int64_t(h) * picture->Width())
                h = int(std::max<int64_t>(int64_t(w) * picture->Height() / std::max(picture->Width(), 1), 1));
            else
                w = int(std::max<int64_t>(int64_t(h) * picture->Width() / std::max(picture->Height(), 1), 1));
        }
        zoomed =
            picture->Width() == w && picture->Height() == h ? TRef<INVBitmap>(picture) : picture->Zoom(w, h);
    }
    if (!zoomed) {
        Fill(dc, pr, face);
        return;
    }
    zoomed->Draw(dc, pr.left, pr.top);
    if (zoomed->Width() < inner.Width)
        Fill(dc, RECT{pr.left + zoomed->Width(), pr.top, pr.right, pr.bottom}, face);
    if (zoomed->Height() < inner.Height)
        Fill(dc, RECT{pr.left, pr.top + zoomed->Height(), pr.left + zoomed->Width(), pr.bottom}, face);
}

void TFormWindow::DrawButton(const DRAWITEMSTRUCT& d, const TNVItem& item) {
    HDC dc = d.hDC;
    RECT r = d.rcItem;
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    const TButtonColor& color = item.IsMainButton() ? MainButtonColors[item.Index] : OtherButtonColor;
    const bool disabled = d.itemState & ODS_DISABLED;
    const bool focused = !disabled && (d.itemState & (ODS_FOCUS | ODS_SELECTED));
    const std::wstring caption = Widen(item.Caption);
    const UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
    TSelectObject font(dc, item.IsMainButton() ? FButtonFont.Get() : FDialogFont.Get());
    ::SetBkMode(dc, TRANSPARENT);
    if (disabled) {
        Fill(dc, r, face);
        RECT inner = r;
        ::InflateRect(&inner, -2, -2);
        Fill(dc, inner, ShiftColor(face, 16));
        ::SetTextColor(dc, Lighten(face, -20));
        ::DrawTextW(dc, caption.c_str(), int(caption.size()), &r, format);
        return;
    }
    const int height = r.bottom - r.top;
    if (focused) {
        Fill(dc, r, ::GetSysColor(COLOR_WINDOWTEXT));
        // From the bottom up, rising in the button's colour.
        for (int k = 0; k < height - 2; ++k) {
            auto ch = [&](int c) { return std::clamp(k * (6 - 3 * color.Step[c]), 0, 255); };
            Fill(dc, RECT{r.left + 1, r.bottom - 2 - k, r.right - 1, r.bottom - 1 - k},
                 RGB(ch(0), ch(1), ch(2)));
        }
        RECT frame = r;
        ::InflateRect(&frame, -3, -3);
        Frame(dc, frame, color.Color, 2);
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOW));
        ::DrawTextW(dc, caption.c_str(), int(caption.size()), &r, format);
        return;
    }
    Frame(dc, r, ::GetSysColor(COLOR_BTNSHADOW));
    RECT inner = r;
    ::InflateRect(&inner, -1, -1);
    Fill(dc, inner, face);
    for (int k = 0; k < height - 6; ++k) {
        auto ch = [&](int c) { return std::clamp(255 - (k / 2) * color.Step[c], 0, 255); };
        Fill(dc, RECT{r.left + 3, r.top + 3 + k, r.right - 3, r.top + 4 + k}, RGB(ch(0), ch(1), ch(2)));
    }
    DrawHaloText(dc, caption, r, format, ::GetSysColor(COLOR_WINDOWTEXT));
}

void TFormWindow::DrawCheckBox(const DRAWITEMSTRUCT& d, const TNVItem& item) {
    HDC dc = d.hDC;
    const RECT r = d.rcItem;
    const bool disabled = d.itemState & ODS_DISABLED, pushed = d.itemState & ODS_SELECTED;
    Fill(dc, r, ::GetSysColor(COLOR_BTNFACE));
    const int h = r.bottom - r.top;
    RECT box{r.left, r.top, r.left + h, r.bottom};
    Fill(dc, box, Pale());
    RECT inner = box;
    ::InflateRect(&inner, -2, -2);
    Fill(dc, inner, ::GetSysColor(disabled || pushed ? COLOR_BTNFACE : COLOR_WINDOW));
    ::SetBkMode(dc, TRANSPARENT);
    if (item.Checked) {
        TSelectObject font(dc, FMarlett.Get());
        ::SetTextColor(dc, ::GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT));
        ::DrawTextW(dc, L"a", 1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    TSelectObject font(dc, FDialogFont.Get());
    const std::wstring caption = Widen(item.Caption);
    RECT text{box.right + 4, r.top, r.right, r.bottom};
    const UINT format = DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
    if (disabled) {
        RECT shadow = text;
        ::OffsetRect(&shadow, 1, 1);
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOW));
        ::DrawTextW(dc, caption.c_str(), int(caption.size()), &shadow, format);
        ::SetTextColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
    } else {
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    }
    ::DrawTextW(dc, caption.c_str(), int(caption.size()), &text, format);
    if (d.itemState & ODS_FOCUS) {
        RECT focus = text;
        ::DrawTextW(dc, caption.c_str(), int(caption.size()), &focus, format | DT_CALCRECT);
        focus.top = r.top;
        focus.bottom = r.bottom;
        ::InflateRect(&focus, 1, 0);
        ::DrawFocusRect(dc, &focus);
    }
}

// ---- the built-in handlers

std::wstring ReadContactValue(HKEY key, const wchar_t* name) {
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
        size > 64 * 1024)
        return {};
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = DWORD(value.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS)
        return {};
    value.resize(std::min(value.size(), size_t(size / sizeof(wchar_t))));
    while (!value.empty() && value.back() == L'\0')
        value.pop_back();
    return value;
}

TNVActionHandler ContactFormHandler(TAssistantSubject& subject, TRef<IMESettings> settings) {
    return [&subject, settings](TNVForm& form, int action, TNVItem* item) {
        TNVItem* name = form.Find("NameEdit", TNVItemKind::Edit);
        TNVItem* email = form.Find("EmailEdit", TNVItemKind::Edit);
        TNVItem* remember = form.Find("MemCheck", TNVItemKind::CheckBox);
        auto validate = [&] {
            if (email) email->Valid = IsPlausibleEmail(email->Text);
        };
        if (action == NVFormCreated) {
            HKEY raw = nullptr;
            if (::RegOpenKeyExW(HKEY_CURRENT_USER, ContactKey, 0, KEY_READ, &raw) == ERROR_SUCCESS) {
                TRegKey key(raw);
                const std::wstring n = ReadContactValue(key.Get(), L"RememberName"),
                                   e = ReadContactValue(key.Get(), L"RememberEmail");
                if (!n.empty() || !e.empty()) {
                    if (name) name->Text = Narrow(n);
                    if (email) email->Text = Narrow(e);
                    if (remember) remember->Checked = true;
                    if (form.ContinueBtn().Enabled) form.ActiveControl = form.ContinueBtn().Name;
                }
            }
            validate();
        } else if (action == NVFormShow || (action == NVItemEvent && item && item == email)) {
            // Also before showing: the cache may have filled the address in since.
            validate();
        } else if (action == NVFormClosed && form.ModalResult == NVContinue) {
            const std::string n = name ? name->Text : std::string(), e = email ? email->Text : std::string();
            HKEY raw = nullptr;
            if (::RegCreateKeyExW(HKEY_CURRENT_USER, ContactKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw,
                                  nullptr) == ERROR_SUCCESS) {
                TRegKey key(raw);
                if (remember && remember->Checked) {
                    for (const auto& [valueName, text] :
                         {std::pair{L"RememberName", Widen(n)}, std::pair{L"RememberEmail", Widen(e)}})
                        ::RegSetValueExW(key.Get(), valueName, 0, REG_SZ,
                                         reinterpret_cast<const BYTE*>(text.c_str()),
                                         DWORD((text.size() + 1) * sizeof(wchar_t)));
                } else {
                    ::RegDeleteValueW(key.Get(), L"RememberName");
                    ::RegDeleteValueW(key.Get(), L"RememberEmail");
                }
            }
            if (!n.empty()) {
                subject.MailFrom = n + " <" + e + ">";
                const std::wstring wide = Widen(subject.MailFrom);
                if (settings)
                    settings->WriteText("MailFrom", Utf16ToCp1252(std::u16string(wide.begin(), wide.end())));
            }
        }
    };
}

// Without a trailing separator.
std::wstring TempFolder(const TAssistantSubject& subject) {
    std::wstring folder = subject.TempFolder;
    if (folder.empty()) {
        wchar_t path[MAX_PATH + 1] = {};
        const DWORD n = ::GetTempPathW(MAX_PATH + 1, path);
        folder.assign(path, n <= MAX_PATH ? n : 0);
    }
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder;
}

// The file's modification time and size: a change of either means the editor saved it.
bool FileStamp(const std::wstring& path, uint64_t& time, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    time = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

struct TScreenshotEdit {
    std::wstring File;
    bool Saved = false;
    uint64_t Time = 0, Size = 0;
    TKernelHandle Editor;
};

TNVActionHandler ScreenshotFormHandler(TAssistantSubject& subject) {
    auto state = std::make_shared<TScreenshotEdit>();
    return [&subject, state](TNVForm& form, int action, TNVItem* item) {
        TNVItem* image = form.Find("ScrShotImg", TNVItemKind::Image);
        TNVItem* attach = form.Find("AttachCheck", TNVItemKind::CheckBox);
        TScreenshotEdit& s = *state;
        if (action == NVFormCreated) {
            if (image) image->Picture = subject.Screenshot;
            if (attach) attach->Checked = subject.AttachScreenshot;
        } else if (action == NVItemEvent && item && item == image) {
            if (!s.Saved && subject.Screenshot) {
                s.File = TempFolder(subject) + L"\\screenShot.bmp";
                s.Saved = subject.Screenshot->SaveBmp(Narrow(s.File)) && FileStamp(s.File, s.Time, s.Size);
            }
            if (s.Editor && ::WaitForSingleObject(s.Editor.Get(), 0) == WAIT_TIMEOUT) return;
            s.Editor.Reset();
            SHELLEXECUTEINFOW info{};
            info.cbSize = sizeof info;
            info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
            info.hwnd = ::GetActiveWindow();
            info.lpVerb = L"edit";
            info.lpFile = s.File.c_str();
            info.nShow = SW_SHOWMAXIMIZED;
            if (s.Saved && ::ShellExecuteExW(&info))
                s.Editor.Reset(info.hProcess);
            else
                ::Beep(60, 60);
        } else if (action == NVItemEvent && !item && s.Saved) {
            uint64_t time = 0, size = 0;
            if (!FileStamp(s.File, time, size) || (time == s.Time && size == s.Size)) return;
            // A file still being written does not load; the next tick tries again.
            if (TRef<INVBitmap> edited = LoadNVBitmap(Narrow(s.File))) {
                s.Time = time;
                s.Size = size;
                subject.Screenshot = edited;
                if (image) image->Picture = edited;
            }
        } else if (action == NVFormClosed) {
            s.Editor.Reset();
            if (s.Saved) ::DeleteFileW(s.File.c_str());
            s.Saved = false;
            if (attach) subject.AttachScreenshot = attach->Checked;
        }
    };
}

} // namespace

TRef<TNVAssistant> GetAssistant(IMESettings& settings, std::string_view name, TAssistantSubject& subject) {
    TAssistantDefinition definition;
    if (!FindAssistantDefinition(settings, name, definition)) return nullptr;
    const HMODULE module = subject.Module ? subject.Module : ::GetModuleHandleW(nullptr);
    TRef<IMESettings> settingsRef(&settings);
    TAssistantSources sources;
    sources.LoadForm = [module](const std::string& resource, std::vector<uint8_t>& data) {
        std::span<const uint8_t> bytes = ResourceBytes(module, Widen(resource).c_str(), MAKEINTRESOURCEW(10));
        if (!bytes.data()) return false;
        data.assign(bytes.begin(), bytes.end());
        return true;
    };
    sources.ResolveHandler = [&](std::string_view onAction) -> TNVActionHandler {
        if (SameName(onAction, "xunExcept.HandleContactForm"))
            return ContactFormHandler(subject, settingsRef);
        if (SameName(onAction, "xunExcept.HandleScreenshotForm")) return ScreenshotFormHandler(subject);
        return {};
    };
    sources.Errors = &MessageBoxErrorSink();
    TRef<TNVAssistant> assistant =
        BuildAssistant(definition, !subject.Screenshot || settings.ReadInt("ScrShotDepth") == 0, sources);
    for (const auto& form : assistant->Forms)
        for (TNVItem& item : form->Items)
            if (item.Kind == TNVItemKind::Image && !item.Picture && !item.File.empty())
                item.Picture = LoadNVBitmap(item.File);
    if (subject.Cache) subject.Cache->Read(*assistant);
    return assistant;
}

int ShowFormModal(TNVForm& form, HWND owner) {
    TFormWindow window(form);
    return window.ShowModal(owner);
}

int ShowAssistantModal(TNVAssistant& assistant, HWND owner) {
    const bool disableOwner = owner && ::IsWindowEnabled(owner);
    if (disableOwner) ::EnableWindow(owner, FALSE);
    assistant.ModalResult = NVContinue;
    for (const auto& form : assistant.Forms)
        if (ShowFormModal(*form, owner) == NVCancel) {
            assistant.ModalResult = NVCancel;
            break;
        }
    if (disableOwner) {
        ::EnableWindow(owner, TRUE);
        ::SetActiveWindow(owner);
    }
    return assistant.ModalResult;
}

int RunActionAssistant(IMESettings& settings, std::string_view assistantName, TAssistantSubject& subject,
                       HWND owner) {
    if (assistantName.empty()) return 0;
    TRef<TNVAssistant> assistant = GetAssistant(settings, assistantName, subject);
    if (!assistant) return 0;
    const bool topmost = owner && (::GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_TOPMOST);
    const UINT keep = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
    if (topmost) ::SetWindowPos(owner, HWND_NOTOPMOST, 0, 0, 0, 0, keep);
    const int result = ShowAssistantModal(*assistant, owner);
    if (topmost) ::SetWindowPos(owner, HWND_TOPMOST, 0, 0, 0, 0, keep);
    if (result == NVContinue) {
        if (subject.Report)
            PutAssistantIntoReport(*assistant, *subject.Report->Header(), *subject.Report->Sections());
        if (subject.Cache) subject.Cache->Fill(*assistant);
    }
    return result;
}
