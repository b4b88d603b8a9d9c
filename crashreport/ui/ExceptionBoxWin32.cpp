#include "crashreport/ui/ExceptionBoxWin32.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "crashreport/base/HandlesWin32.h"
#include "crashreport/base/ModulesWin32.h"
#include "crashreport/base/Text.h"
#include "crashreport/settings/SettingsWin32.h"
#include "crashreport/ui/ExceptionBoxLayout.h"
#include "crashreport/ui/ExceptionBoxTables.h"
#include "crashreport/ui/FontsWin32.h"
#include "framework/Win32Util.h"

namespace {

const wchar_t* const BoxClassName = L"xunExceptWndClass";
constexpr UINT_PTR CountdownTimer = 777;
constexpr UINT_PTR FadeTimer = 778;
constexpr int FadeSteps = 8;
constexpr int ViewId = 200, TabsId = 201;
const char* const PictureNames[] = {"send",    "save",  "print",        "show", "continue",
                                    "restart", "close", "cantContinue", "big"};
const wchar_t* const CreditText = L"Zembrak crash reporter";

COLORREF Mix(COLORREF a, COLORREF b, int num, int den) {
    auto ch = [&](int x, int y) { return (x * (den - num) + y * num) / den; };
    return RGB(ch(GetRValue(a), GetRValue(b)), ch(GetGValue(a), GetGValue(b)),
               ch(GetBValue(a), GetBValue(b)));
}

bool RichColours() {
    HDC screen = ::GetDC(nullptr);
    const int bits = ::GetDeviceCaps(screen, BITSPIXEL) * ::GetDeviceCaps(screen, PLANES);
    ::ReleaseDC(nullptr, screen);
    return bits > 14;
}

// A 32-bit picture with straight alpha blended onto `background` at (x, y).
bool BlendPicture(HDC dc, HMODULE module, const std::string& name, int size, int x, int y,
                  COLORREF background) {
    std::span<const uint8_t> bytes = ResourceBytes(module, Widen(name).c_str(), MAKEINTRESOURCEW(2));
    const size_t pixels = size_t(size) * size_t(size);
    if (!bytes.data() || bytes.size() != 40 + 4 * pixels) return false;
    BITMAPINFOHEADER source;
    std::memcpy(&source, bytes.data(), sizeof source);
    std::vector<uint32_t> out(pixels);
    const uint8_t* p = bytes.data() + 40;
    const uint32_t bg[3] = {GetBValue(background), GetGValue(background), GetRValue(background)};
    for (size_t i = 0; i < pixels; ++i, p += 4) {
        const uint32_t a = uint32_t(p[3]) + 1;
        uint32_t c[3];
        for (int k = 0; k < 3; ++k)
            c[k] = ((256 - a) * bg[k] + a * p[k]) / 256;
        out[i] = (c[2] << 16) | (c[1] << 8) | c[0];
    }
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = size;
    bi.bmiHeader.biHeight = source.biHeight < 0 ? -size : size;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    return ::SetDIBitsToDevice(dc, x, y, DWORD(size), DWORD(size), 0, 0, 0, UINT(size), out.data(), &bi,
                               DIB_RGB_COLORS) != 0;
}

bool RegisterBoxClass(WNDPROC proc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (::GetClassInfoExW(::GetModuleHandleW(nullptr), BoxClassName, &wc)) return true;
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = BoxClassName;
    return ::RegisterClassExW(&wc) || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void CopyToClipboard(HWND owner, const std::string& text) {
    const std::wstring w = Widen(text);
    if (!::OpenClipboard(owner)) return;
    ::EmptyClipboard();
    if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (w.size() + 1) * sizeof(wchar_t))) {
        std::memcpy(::GlobalLock(memory), w.c_str(), (w.size() + 1) * sizeof(wchar_t));
        ::GlobalUnlock(memory);
        if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
    }
    ::CloseClipboard();
}

TNamedTexts ReadFields(const TRef<IMEFields>& fields) {
    TNamedTexts out;
    if (!fields) return out;
    TFieldsLock lock(*fields);
    const int n = fields->ItemCount();
    for (int i = 0; i < n; ++i)
        out.emplace_back(fields->ItemName(i), fields->ItemContents(i));
    return out;
}

class TExceptionBox {
public:
    TExceptionBox(const TExceptionBoxRequest& request, int mode);
    ~TExceptionBox();
    TExceptionBoxResult Run();
    bool ShowAgainExpanded() const { return FShowAgain; }

private:
    static LRESULT CALLBACK WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam);
    bool Create();
    void CreateButtons(const TBoxLayout& layout);
    bool PreTranslate(MSG& msg);
    void Finish(TExceptionBoxResult result);

    // Actions
    void ButtonClick(int id);
    void CloseRequest();
    void CopyText();
    void StopCountdown();
    void CountdownTick();
    void Flash(HWND button);

    // Painting
    void DrawButton(const DRAWITEMSTRUCT& item);
    void DrawListItem(const DRAWITEMSTRUCT& item);
    void PaintSeparator(HDC dc);
    RECT CreditRect() const;

    // The report's tabs
    void ReportChanged();
    void UpdateTabs();
    void UpdateView(bool force);
    void PlaceView();
    void Resized();

    std::string Setting(const char* name) { return FSettings->ReadText(name); }
    bool Visible(int id) const { return FButtons[id] != nullptr; }
    std::string Expand(const std::string& text);

    const TExceptionBoxRequest& FRequest;
    TRef<IMESettings> FSettings;
    const bool FPlainBox, FDetails;
    const HMODULE FModule;
    bool FAutoShowBugRep = false, FUglyBtns = false, FRichColours = true;
    int FFocusedBtn = 0, FButtonHeight = 22;

    HWND FWnd = nullptr, FIcon = nullptr, FLabel = nullptr, FTabs = nullptr, FView = nullptr;
    std::array<HWND, ExceptionBoxButtons> FButtons{};
    HWND FCountdownBtn = nullptr;
    TGdi<HFONT> FFont, FBoldFont, FCourier, FCourierBold, FSmallFont;
    TMemoryDC FPaintDC;
    TGdi<HBITMAP> FPaintBitmap;
    HGDIOBJ FOldBitmap = nullptr;
    int FPaintWidth = 0;

    DWORD FCountStart = 0;
    int FCountPos = -1;
    bool FCountdownActive = false;

    // Fading: per button the colour it is drawn in and the one it moves to.
    struct TFade {
        bool Known = false; // drawn before: a new colour fades in
        COLORREF From = 0, To = 0;
        int Step = FadeSteps;
    };
    std::array<TFade, ExceptionBoxButtons> FFades{};
    DWORD FLastFlash = 0;

    std::vector<TReportTab> FTabList;
    int FTabIndex = -1;
    std::string FTabText;
    TReportTable FTable;
    SIZE FMinSize{};
    int FRightButtonsGap = 0, FTabsBottomGap = 0, FTabsRightGap = 0;
    bool FHoverCredit = false;
    int FSeparator = -1;

    bool FShowAgain = false, FShuttingDown = false, FDone = false;
    TExceptionBoxResult FResult = TExceptionBoxResult::Continue;
};

TExceptionBox::TExceptionBox(const TExceptionBoxRequest& request, int mode)
    : FRequest(request), FSettings(request.Settings), FPlainBox(mode != 0), FDetails(mode == 2),
      FModule(request.Module ? request.Module : ::GetModuleHandleW(nullptr)) {
    if (!FSettings) FSettings = MakeRef<TSettingsOverlay<>>(TRef<IMESettings>());
    FResult = request.CanContinue ? TExceptionBoxResult::Continue : TExceptionBoxResult::Close;
}

TExceptionBox::~TExceptionBox() {
    if (FRequest.Report) FRequest.Report->SetOnChange({});
    if (FWnd && ::IsWindow(FWnd)) ::DestroyWindow(FWnd);
    if (FPaintDC && FOldBitmap) ::SelectObject(FPaintDC.Get(), FOldBitmap);
}

std::string TExceptionBox::Expand(const std::string& text) {
    TRef<ITextVariableSource> variables = Win32TextVariables(FModule);
    const std::string message =
        BreakMessage(FRequest.Frozen ? FSettings->ReadText("FrozenMsg") : FRequest.Message);
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    // Rendering is not free: only when the text asks for it.
    const std::string report = FRequest.Report && lower.find("%bugreport%") != std::string::npos
                                   ? FRequest.Report->ReportText(false)
                                   : std::string();
    return ExpandTextVariables(text, variables.Get(), &message, &report);
}

bool TExceptionBox::Create() {
    if (!RegisterBoxClass(WndProc)) return false;
    FAutoShowBugRep = !FPlainBox && FSettings->ReadBool("AutoShowBugRep");
    FUglyBtns = FSettings->ReadBool("UglyBtns");
    FButtonHeight = FPlainBox ? 23 : FUglyBtns ? 26 : 22;
    FRichColours = RichColours();
    FFont.Reset(MakeDialogFont());
    FBoldFont.Reset(MakeDialogFont(FW_BOLD));
    FCourier.Reset(MakeFont(L"Courier New", 11));
    FCourierBold.Reset(MakeFont(L"Courier New", 11, FW_BOLD));
    FSmallFont.Reset(MakeFont(L"Small Fonts", 8));

    // Which buttons, with which captions.
    std::array<std::string, ExceptionBoxButtons> captions;
    std::array<bool, ExceptionBoxButtons> visible{};
    if (FPlainBox) {
        captions[BtnContinue] = Setting("OkBtnTxt");
        captions[BtnShow] = Setting("DetailsBtnTxt");
        visible[BtnContinue] = true;
        visible[BtnShow] = FDetails;
    } else {
        const char* const texts[] = {"SendBtnTxt",     "SaveBtnTxt",    "PrintBtnTxt", "ShowBtnTxt",
                                     "ContinueBtnTxt", "RestartBtnTxt", "CloseBtnTxt"};
        const char* const shown[] = {"SendBtnVis",     "SaveBtnVis",    "PrintBtnVis", "ShowBtnVis",
                                     "ContinueBtnVis", "RestartBtnVis", "CloseBtnVis"};
        for (int i = 0; i < ExceptionBoxButtons; ++i) {
            captions[i] = Setting(texts[i]);
            visible[i] = FSettings->ReadBool(shown[i]);
        }
        if (FAutoShowBugRep) visible[BtnShow] = false;
    }

    // The automatic action picks the focused button.
    FFocusedBtn = FPlainBox ? int(BtnContinue) : FSettings->ReadInt("FocusedBtn");
    if (!FPlainBox) {
        if (FRequest.AutoClose && visible[BtnClose])
            FFocusedBtn = BtnClose;
        else if (FRequest.AutoRestart && visible[BtnRestart])
            FFocusedBtn = BtnRestart;
        else if (FSettings->ReadBool("AutoContinue") && visible[BtnContinue] && FRequest.CanContinue)
            FFocusedBtn = BtnContinue;
    }

    // Texts.
    std::string text, caption;
    if (FPlainBox) {
        text = FRequest.Frozen ? Expand(Setting("FrozenMsg")) : BreakMessage(FRequest.Message);
        wchar_t path[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring exe(ExtractFileName(std::wstring_view(path)));
        if (size_t dot = exe.rfind(L'.'); dot != std::wstring::npos) exe.resize(dot);
        caption = Narrow(exe);
    } else {
        text = Expand(FRequest.Frozen ? Setting("FrozenMsg") : Setting("ExceptMsg"));
        caption = Expand(Setting("TitleBar"));
    }
    const std::wstring wtext = Widen(text);

    TMemoryDC measure(::CreateCompatibleDC(nullptr));
    HGDIOBJ oldFont = ::SelectObject(measure.Get(), FFont.Get());
    TBoxLayoutInput in;
    for (int i = 0; i < ExceptionBoxButtons; ++i) {
        in.Visible[i] = visible[i];
        RECT r{0, 0, 0, 0};
        const std::wstring c = Widen(captions[i]);
        ::DrawTextW(measure.Get(), c.c_str(), int(c.size()), &r, DT_CALCRECT | DT_SINGLELINE);
        in.CaptionWidth[i] = r.right - r.left;
    }
    in.PlainBox = FPlainBox;
    in.Details = FDetails;
    in.HasIcon = ::FindResourceW(FModule, L"MEIBIG", MAKEINTRESOURCEW(2)) != nullptr;
    in.AutoShowBugRep = FAutoShowBugRep;
    in.ButtonHeight = FButtonHeight;
    in.ScreenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    in.ScreenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    in.CaptionHeight = ::GetSystemMetrics(SM_CYCAPTION);
    in.MeasureText = [&](int width) {
        RECT r{0, 0, width, 0};
        ::DrawTextW(measure.Get(), wtext.c_str(), int(wtext.size()), &r,
                    DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        return std::pair<int, int>(r.right - r.left, r.bottom - r.top);
    };
    const TBoxLayout layout = ComputeBoxLayout(in);
    ::SelectObject(measure.Get(), oldFont);
    FSeparator = layout.Separator;

    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    if (FAutoShowBugRep) style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
    RECT frame{0, 0, layout.ClientWidth, layout.ClientHeight};
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    FWnd = ::CreateWindowExW(exStyle, BoxClassName, Widen(caption).c_str(), style, x, y, width, height,
                             nullptr, nullptr, instance, this);
    if (!FWnd) return false;
    FMinSize = {width, height};
    if (!FAutoShowBugRep) {
        if (HMENU menu = ::GetSystemMenu(FWnd, FALSE))
            for (UINT cmd : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE})
                ::DeleteMenu(menu, cmd, MF_BYCOMMAND);
    }

    if (in.HasIcon) {
        FIcon =
            ::CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_OWNERDRAW,
                              layout.Icon.Left, layout.Icon.Top, 32, 32, FWnd, nullptr, instance, nullptr);
        if (FIcon) ::SetWindowLongPtrW(FIcon, GWLP_USERDATA, BtnBigIcon);
    }
    FLabel = ::CreateWindowExW(0, L"STATIC", wtext.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                               layout.Label.Left, layout.Label.Top, layout.Label.Width, layout.Label.Height,
                               FWnd, nullptr, instance, nullptr);
    if (FLabel) ::SendMessageW(FLabel, WM_SETFONT, WPARAM(FFont.Get()), FALSE);

    // Buttons, in tab order: send, save, print, show, continue, restart, close.
    int widest = 0;
    for (int i = 0; i < ExceptionBoxButtons; ++i) {
        if (!visible[i]) continue;
        const TBoxRect& r = layout.Buttons[i];
        widest = std::max(widest, r.Width);
        DWORD bs = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
        bs |= FPlainBox ? (i == FFocusedBtn ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) : BS_OWNERDRAW;
        HWND b = ::CreateWindowExW(
            0, L"BUTTON", Widen(captions[i]).c_str(), bs, r.Left, r.Top, r.Width, r.Height, FWnd,
            reinterpret_cast<HMENU>(INT_PTR(ExceptionBoxControlId + i)), instance, nullptr);
        if (!b) continue;
        ::SetWindowLongPtrW(b, GWLP_USERDATA, i);
        ::SendMessageW(b, WM_SETFONT, WPARAM(FFont.Get()), FALSE);
        FButtons[i] = b;
    }
    // Continue cannot help an exception that cannot continue; it acts as close then.
    if (!FPlainBox && Visible(BtnContinue) && !FRequest.CanContinue &&
        (Visible(BtnRestart) || Visible(BtnClose))) {
        ::EnableWindow(FButtons[BtnContinue], FALSE);
        ::SetWindowLongPtrW(FButtons[BtnContinue], GWLP_USERDATA, BtnCantContinue);
    }
    if (!FPlainBox && widest > 0) {
        FPaintDC.Reset(::CreateCompatibleDC(nullptr));
        HDC screen = ::GetDC(nullptr);
        FPaintBitmap.Reset(::CreateCompatibleBitmap(screen, widest, FButtonHeight));
        ::ReleaseDC(nullptr, screen);
        FPaintWidth = widest;
        if (FPaintDC && FPaintBitmap) FOldBitmap = ::SelectObject(FPaintDC.Get(), FPaintBitmap.Get());
    }

    if (FAutoShowBugRep && layout.Tabs.Width > 0) {
        FTabs =
            ::CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP,
                              layout.Tabs.Left, layout.Tabs.Top, layout.Tabs.Width, layout.Tabs.Height, FWnd,
                              reinterpret_cast<HMENU>(INT_PTR(TabsId)), instance, nullptr);
        if (FTabs) ::SendMessageW(FTabs, WM_SETFONT, WPARAM(FFont.Get()), FALSE);
        FTabsRightGap = layout.ClientWidth - (layout.Tabs.Left + layout.Tabs.Width);
        FTabsBottomGap = layout.ClientHeight - (layout.Tabs.Top + layout.Tabs.Height);
    }
    FRightButtonsGap = layout.ClientWidth;

    if (FRequest.Report) {
        HWND wnd = FWnd;
        FRequest.Report->SetOnChange([wnd] { ::PostMessageW(wnd, WM_EXCEPTIONBOX_REPORTCHANGED, 0, 0); });
    }
    UpdateTabs();

    if (FRequest.Beep) ::MessageBeep(MB_ICONHAND);
    ::ShowWindow(FWnd, SW_SHOWNORMAL);
    ::SetForegroundWindow(FWnd);
    if (FFocusedBtn >= 0 && FFocusedBtn < ExceptionBoxButtons && FButtons[FFocusedBtn] &&
        ::IsWindowEnabled(FButtons[FFocusedBtn]))
        ::SetFocus(FButtons[FFocusedBtn]);
    else
        ::SetFocus(::GetNextDlgTabItem(FWnd, nullptr, FALSE));
    ::UpdateWindow(FWnd);

    // The countdown of the automatic action.
    int countdown = -1;
    if (!FPlainBox) {
        if (FRequest.AutoClose && Visible(BtnClose))
            countdown = BtnClose;
        else if (FRequest.AutoRestart && Visible(BtnRestart))
            countdown = BtnRestart;
        else if (FSettings->ReadBool("AutoContinue") && Visible(BtnContinue) && FRequest.CanContinue)
            countdown = BtnContinue;
    }
    if (countdown >= 0) {
        FCountdownBtn = FButtons[countdown];
        FCountStart = ::GetTickCount();
        FCountdownActive = ::SetTimer(FWnd, CountdownTimer, 10, nullptr) != 0;
    }
    return true;
}

void TExceptionBox::Finish(TExceptionBoxResult result) {
    FResult = result;
    FShuttingDown = true;
    StopCountdown();
    if (FWnd && ::IsWindow(FWnd)) ::DestroyWindow(FWnd);
}

TExceptionBoxResult TExceptionBox::Run() {
    if (!Create()) return FResult;
    MSG msg;
    while (!FDone && FWnd && ::IsWindow(FWnd)) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // A quit request belongs to the loop outside.
            ::PostQuitMessage(int(msg.wParam));
            break;
        }
        if (got < 0) break;
        if (PreTranslate(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
    return FResult;
}

bool TExceptionBox::PreTranslate(MSG& msg) {
    if (!FWnd || (msg.hwnd != FWnd && !::IsChild(FWnd, msg.hwnd))) return false;
    const bool inView = FView && (msg.hwnd == FView || ::IsChild(FView, msg.hwnd));
    if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
        const bool ctrl = ::GetKeyState(VK_CONTROL) < 0, shift = ::GetKeyState(VK_SHIFT) < 0,
                   alt = ::GetKeyState(VK_MENU) < 0;
        switch (msg.wParam) {
        case VK_ESCAPE:
            CloseRequest();
            return true;
        case VK_F1:
            if (FRequest.FireHandlers) FRequest.FireHandlers(ActionHelp);
            return true;
        case 'C':
            if (ctrl && !shift && !alt) {
                CopyText();
                return true;
            }
            break;
        case VK_RETURN: {
            HWND focus = ::GetFocus();
            for (int i = 0; i < ExceptionBoxButtons; ++i)
                if (FButtons[i] && FButtons[i] == focus) {
                    ButtonClick(i);
                    return true;
                }
            break;
        }
        default:
            break;
        }
        const int hotKey = FSettings->ReadInt("DetailsHotKey");
        if (hotKey && int(msg.wParam) == hotKey && ctrl && shift && alt && !FAutoShowBugRep &&
            (!FPlainBox || FDetails)) {
            ButtonClick(BtnShow);
            return true;
        }
    }
    if (inView) return false;
    return ::IsDialogMessageW(FWnd, &msg) != 0;
}

void TExceptionBox::StopCountdown() {
    if (!FCountdownActive) return;
    FCountdownActive = false;
    ::KillTimer(FWnd, CountdownTimer);
    HWND button = FCountdownBtn;
    FCountdownBtn = nullptr;
    FCountPos = -1;
    if (button) ::InvalidateRect(button, nullptr, FALSE);
}

void TExceptionBox::CountdownTick() {
    if (!FCountdownActive || !FCountdownBtn) return;
    RECT r;
    ::GetClientRect(FCountdownBtn, &r);
    const int delay = std::max(FSettings->ReadInt("AutoDelay"), 1);
    const int pos = CountdownPosition(::GetTickCount() - FCountStart, r.right, delay, FUglyBtns);
    if (CountdownFinished(pos, r.right, FUglyBtns)) {
        const int id = int(::GetWindowLongPtrW(FCountdownBtn, GWLP_USERDATA));
        StopCountdown();
        ButtonClick(id);
        return;
    }
    if (pos != FCountPos) {
        FCountPos = pos;
        ::InvalidateRect(FCountdownBtn, nullptr, FALSE);
    }
}

void TExceptionBox::Flash(HWND button) {
    const DWORD now = ::GetTickCount();
    if (FLastFlash && now - FLastFlash < 200) return;
    FLastFlash = now;
    // Down and up: the pressed look for a moment, then back, in the fade's steps.
    ::SendMessageW(button, BM_SETSTATE, TRUE, 0);
    ::UpdateWindow(button);
    ::Sleep(30);
    ::SendMessageW(button, BM_SETSTATE, FALSE, 0);
    ::UpdateWindow(button);
}

void TExceptionBox::ButtonClick(int id) {
    StopCountdown();
    if (id == BtnCantContinue) id = BtnContinue;
    if (id < 0 || id >= ExceptionBoxButtons || FShuttingDown) return;
    if (!FPlainBox && id != BtnShow && FButtons[id]) Flash(FButtons[id]);
    auto fire = [&](int action) { return FRequest.FireHandlers && FRequest.FireHandlers(action); };
    switch (id) {
    case BtnSend:
        if (!fire(ActionSend) && FRequest.Send) FRequest.Send(FWnd);
        break;
    case BtnSave:
        if (!fire(ActionSave) && FRequest.Save && FRequest.Save(FWnd) && FButtons[BtnSave]) {
            ::DestroyWindow(FButtons[BtnSave]);
            FButtons[BtnSave] = nullptr;
        }
        break;
    case BtnPrint:
        if (!fire(ActionPrint) && FRequest.Print) FRequest.Print(FWnd);
        break;
    case BtnShow:
        fire(ActionShow);
        FShowAgain = true;
        Finish(FRequest.CanContinue ? TExceptionBoxResult::Continue : TExceptionBoxResult::Close);
        break;
    case BtnContinue:
        if (!FRequest.CanContinue) {
            if (!fire(ActionClose)) Finish(TExceptionBoxResult::Close);
            break;
        }
        fire(ActionContinue);
        Finish(TExceptionBoxResult::Continue);
        break;
    case BtnRestart:
        if (!fire(ActionRestart)) Finish(TExceptionBoxResult::Restart);
        break;
    case BtnClose:
        if (!fire(ActionClose)) Finish(TExceptionBoxResult::Close);
        break;
    default:
        break;
    }
    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
}

void TExceptionBox::CloseRequest() {
    if (FPlainBox) {
        ButtonClick(FRequest.CanContinue ? BtnContinue : BtnClose);
        return;
    }
    if (FFocusedBtn >= BtnContinue && FFocusedBtn <= BtnClose) {
        ButtonClick(FFocusedBtn);
    } else if (Visible(BtnContinue) && FRequest.CanContinue) {
        ButtonClick(BtnContinue);
    } else if (Visible(BtnClose)) {
        ButtonClick(BtnClose);
    } else if (Visible(BtnRestart)) {
        ButtonClick(BtnRestart);
    } else {
        ButtonClick(BtnClose);
    }
}

void TExceptionBox::CopyText() {
    if (FAutoShowBugRep && FRequest.Report)
        CopyToClipboard(FWnd, FRequest.Report->ReportText(false));
    else
        CopyToClipboard(FWnd, FRequest.Frozen ? Expand(Setting("FrozenMsg")) : FRequest.Message);
}

void TExceptionBox::DrawButton(const DRAWITEMSTRUCT& item) {
    const int id = int(::GetWindowLongPtrW(item.hwndItem, GWLP_USERDATA));
    const int w = item.rcItem.right - item.rcItem.left, h = item.rcItem.bottom - item.rcItem.top;
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    if (id == BtnBigIcon) {
        ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
        BlendPicture(item.hDC, FModule, "MEIBIG", 32, 0, 0, face);
        return;
    }
    // Focus drawn on another button than the counting one stops the countdown.
    if ((item.itemAction & ODA_FOCUS) && (item.itemState & ODS_FOCUS) && FCountdownActive &&
        item.hwndItem != FCountdownBtn)
        StopCountdown();

    const bool disabled = item.itemState & ODS_DISABLED, focused = item.itemState & ODS_FOCUS,
               selected = item.itemState & ODS_SELECTED;
    HDC dc = FPaintDC && w <= FPaintWidth && h <= FButtonHeight ? FPaintDC.Get() : item.hDC;
    RECT r{0, 0, w, h};
    if (dc == item.hDC) r = item.rcItem;
    COLORREF bg = face, text = ::GetSysColor(COLOR_BTNTEXT);
    int offset = 3;
    if (FUglyBtns) {
        ::DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (selected ? DFCS_PUSHED : 0));
        offset = 5;
    } else {
        if (focused || selected) {
            bg = ::GetSysColor(COLOR_3DDKSHADOW);
            text = RGB(255, 255, 255);
        } else if (FRichColours) {
            bg = ShiftColor(face, disabled ? 8 : 16);
        }
        // A new colour fades in from the one shown.
        const int slot = ::GetDlgCtrlID(item.hwndItem) - ExceptionBoxControlId;
        if (slot >= 0 && slot < ExceptionBoxButtons) {
            TFade& fade = FFades[size_t(slot)];
            if (!fade.Known) {
                fade = {true, bg, bg, FadeSteps};
            } else if (fade.To != bg) {
                fade.From = fade.Step >= FadeSteps ? fade.To : Mix(fade.From, fade.To, fade.Step, FadeSteps);
                fade.To = bg;
                fade.Step = 0;
                ::SetTimer(FWnd, FadeTimer, 10, nullptr);
            }
            if (fade.Step < FadeSteps) bg = Mix(fade.From, fade.To, fade.Step, FadeSteps);
        }
        TGdi<HBRUSH> brush(::CreateSolidBrush(bg));
        ::FillRect(dc, &r, brush.Get());
    }
    BlendPicture(dc, FModule, std::string("MEI") + PictureNames[id], 16, r.left + offset, r.top + offset, bg);

    const int textLength = ::GetWindowTextLengthW(item.hwndItem);
    std::wstring caption(size_t(textLength) + 1, L'\0');
    ::GetWindowTextW(item.hwndItem, caption.data(), textLength + 1);
    caption.resize(size_t(textLength));
    HGDIOBJ oldFont = ::SelectObject(dc, FFont.Get());
    ::SetBkMode(dc, TRANSPARENT);
    RECT tr{r.left + 27, r.top, r.left + w - 8, r.bottom};
    const UINT format = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    if (selected && FUglyBtns) ::OffsetRect(&tr, 1, 1);
    if (disabled) {
        RECT shadow = tr;
        ::OffsetRect(&shadow, 1, 1);
        ::SetTextColor(dc, RGB(255, 255, 255));
        ::DrawTextW(dc, caption.c_str(), int(caption.size()), &shadow, format);
        ::SetTextColor(dc, ::GetSysColor(COLOR_3DDKSHADOW));
    } else {
        ::SetTextColor(dc, text);
    }
    ::DrawTextW(dc, caption.c_str(), int(caption.size()), &tr, format);
    ::SelectObject(dc, oldFont);

    if (FUglyBtns && focused) {
        RECT fr = r;
        ::InflateRect(&fr, -3, -3);
        ::DrawFocusRect(dc, &fr);
    }
    // The countdown marker: a line with a short ramp on both sides.
    if (item.hwndItem == FCountdownBtn && FCountPos >= 0) {
        const COLORREF ink = focused || selected ? RGB(255, 255, 255) : ::GetSysColor(COLOR_3DDKSHADOW);
        for (int k = -4; k <= 4; ++k) {
            const int x = r.left + FCountPos + k;
            if (x < r.left + 1 || x >= r.left + w - 1) continue;
            const COLORREF c = Mix(ink, bg, std::abs(k), 5);
            TGdi<HPEN> pen(::CreatePen(PS_SOLID, 1, c));
            HGDIOBJ old = ::SelectObject(dc, pen.Get());
            ::MoveToEx(dc, x, r.top + 1, nullptr);
            ::LineTo(dc, x, r.bottom - 1);
            ::SelectObject(dc, old);
        }
    }
    if (dc != item.hDC) ::BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, w, h, dc, 0, 0, SRCCOPY);
}

void TExceptionBox::DrawListItem(const DRAWITEMSTRUCT& item) {
    const int index = int(item.itemID);
    if (index < 0 || size_t(index) >= FTable.Rows.size()) return;
    const TTableRow& row = FTable.Rows[size_t(index)];
    const bool selected = item.itemState & ODS_SELECTED;
    HDC dc = item.hDC;
    ::SetBkMode(dc, TRANSPARENT);
    auto darker = [&](COLORREF c) { return selected ? ShiftColor(c, -16) : c; };
    if (row.Kind != TRowKind::Normal) {
        // Title rows run across the whole row.
        RECT r = item.rcItem;
        TGdi<HBRUSH> brush(::CreateSolidBrush(darker(RGB(255, 255, 255))));
        ::FillRect(dc, &r, brush.Get());
        HGDIOBJ old;
        if (row.Kind == TRowKind::TitleBold) {
            old = ::SelectObject(dc, FTable.Courier ? FCourierBold.Get() : FBoldFont.Get());
            TGdi<HBRUSH> frame(::CreateSolidBrush(RGB(176, 176, 176)));
            ::FrameRect(dc, &r, frame.Get());
            ::SetTextColor(dc, RGB(0, 0, 0));
        } else {
            old = ::SelectObject(dc, FTable.Courier ? FCourier.Get() : FFont.Get());
            ::SetTextColor(dc, RGB(96, 96, 96));
        }
        const std::wstring t = Widen(row.Cells.empty() ? std::string() : row.Cells[0]);
        RECT tr = r;
        tr.left += 4;
        ::DrawTextW(dc, t.c_str(), int(t.size()), &tr,
                    DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
        ::SelectObject(dc, old);
        return;
    }
    HGDIOBJ oldFont = ::SelectObject(dc, FTable.Courier ? FCourier.Get() : FFont.Get());
    const size_t columns = FTable.Columns.size();
    for (size_t c = 0; c < columns; ++c) {
        RECT cell{};
        cell.top = int(c);
        cell.left = LVIR_BOUNDS;
        if (!::SendMessageW(item.hwndItem, LVM_GETSUBITEMRECT, WPARAM(index),
                            reinterpret_cast<LPARAM>(&cell)))
            continue;
        if (c == 0 && columns > 1) {
            // Item 0's bounds are the whole row; its column ends where column 1 begins.
            RECT next{};
            next.top = 1;
            next.left = LVIR_BOUNDS;
            if (::SendMessageW(item.hwndItem, LVM_GETSUBITEMRECT, WPARAM(index),
                               reinterpret_cast<LPARAM>(&next)))
                cell.right = next.left;
        }
        COLORREF bg;
        if (row.Color != 0xFFFFFFFF)
            bg = COLORREF(row.Color);
        else if (c % 2 == 1 || columns == 1)
            bg = RGB(255, 255, 255);
        else if (c % 4 == 0)
            bg = FRichColours ? RGB(240, 248, 255) : RGB(192, 255, 255);
        else
            bg = FRichColours ? RGB(255, 244, 244) : RGB(255, 192, 192);
        TGdi<HBRUSH> brush(::CreateSolidBrush(darker(bg)));
        ::FillRect(dc, &cell, brush.Get());
        std::string text = c < row.Cells.size() ? row.Cells[c] : std::string();
        if (FTable.Columns[c].Upper) text = UpperCell(text);
        const std::wstring t = Widen(text);
        const bool path = t.size() >= 3 && t[1] == L':' && t[2] == L'\\';
        RECT tr = cell;
        ::InflateRect(&tr, -3, 0);
        ::SetTextColor(dc, RGB(0, 0, 0));
        ::DrawTextW(dc, t.c_str(), int(t.size()), &tr,
                    DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | (path ? DT_PATH_ELLIPSIS : DT_END_ELLIPSIS) |
                        (FTable.Columns[c].RightAlign ? DT_RIGHT : DT_LEFT));
    }
    if (selected) {
        TGdi<HBRUSH> frame(::CreateSolidBrush(RGB(176, 176, 176)));
        ::FrameRect(dc, &item.rcItem, frame.Get());
    }
    ::SelectObject(dc, oldFont);
}

RECT TExceptionBox::CreditRect() const {
    RECT client;
    ::GetClientRect(FWnd, &client);
    HDC dc = ::GetDC(FWnd);
    HGDIOBJ old = ::SelectObject(dc, FSmallFont.Get());
    SIZE size{};
    ::GetTextExtentPoint32W(dc, CreditText, int(::lstrlenW(CreditText)), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(FWnd, dc);
    const int right = client.right - 15;
    // Just under the buttons, which end 4 pixels above the line.
    return RECT{right - size.cx, FSeparator - 3, right, FSeparator - 3 + size.cy};
}

void TExceptionBox::PaintSeparator(HDC dc) {
    if (FSeparator < 0) return;
    const RECT credit = CreditRect();
    const int end = credit.left - 4;
    const COLORREF from = ::GetSysColor(COLOR_3DDKSHADOW), to = ::GetSysColor(COLOR_BTNFACE);
    for (int x = 0; x < end; ++x)
        ::SetPixel(dc, x, FSeparator, Mix(from, to, x, std::max(end, 1)));
    HGDIOBJ old = ::SelectObject(dc, FSmallFont.Get());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, FHoverCredit ? RGB(128, 0, 144) : ::GetSysColor(COLOR_3DSHADOW));
    RECT r = credit;
    ::DrawTextW(dc, CreditText, -1, &r, DT_SINGLELINE | DT_NOPREFIX);
    ::SelectObject(dc, old);
}

void TExceptionBox::ReportChanged() {
    // Several notifications may be queued; one update does for all.
    MSG m;
    while (
        ::PeekMessageW(&m, FWnd, WM_EXCEPTIONBOX_REPORTCHANGED, WM_EXCEPTIONBOX_REPORTCHANGED, PM_REMOVE)) {
    }
    UpdateTabs();
}

void TExceptionBox::UpdateTabs() {
    if (!FTabs || !FRequest.Report) return;
    const std::vector<TReportTab> wanted = ReportTabs(ReadFields(FRequest.Report->Sections()));
    // Bring the tab control in line: drop tabs no longer wanted, insert the missing in place.
    for (int i = int(FTabList.size()) - 1; i >= 0; --i)
        if (std::find(wanted.begin(), wanted.end(), FTabList[size_t(i)]) == wanted.end()) {
            TabCtrl_DeleteItem(FTabs, i);
            FTabList.erase(FTabList.begin() + i);
        }
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (i < FTabList.size() && FTabList[i] == wanted[i]) continue;
        std::wstring title = Widen(wanted[i].Title);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = title.data();
        ::SendMessageW(FTabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
        FTabList.insert(FTabList.begin() + long(i), wanted[i]);
    }
    if (TabCtrl_GetCurSel(FTabs) < 0 && !FTabList.empty()) TabCtrl_SetCurSel(FTabs, 0);
    UpdateView(false);
}

void TExceptionBox::UpdateView(bool force) {
    if (!FTabs || !FRequest.Report) return;
    const int index = TabCtrl_GetCurSel(FTabs);
    if (index < 0 || size_t(index) >= FTabList.size()) return;
    const TReportTab& tab = FTabList[size_t(index)];
    const std::string text =
        ReportTabText(tab, ReadFields(FRequest.Report->Header()), ReadFields(FRequest.Report->Sections()));
    if (!force && index == FTabIndex && text == FTabText && FView) return;
    FTabIndex = index;
    FTabText = text;
    if (FView) ::DestroyWindow(FView);
    FView = nullptr;
    FTable = ReportTabTable(tab, text);
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    const bool courier = FTable.Courier || tab.Section == "cpu registers" || tab.Section == "stack dump" ||
                         tab.Section == "disassembling";
    if (FTable.IsTable) {
        FView = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                  WS_CHILD | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_OWNERDRAWFIXED |
                                      LVS_NOSORTHEADER | LVS_SHOWSELALWAYS,
                                  0, 0, 10, 10, FWnd, reinterpret_cast<HMENU>(INT_PTR(ViewId)), instance,
                                  nullptr);
        if (!FView) return;
        ::SendMessageW(FView, WM_SETFONT, WPARAM(courier ? FCourier.Get() : FFont.Get()), FALSE);
        ListView_SetExtendedListViewStyle(FView, LVS_EX_FULLROWSELECT);
        for (size_t c = 0; c < FTable.Columns.size(); ++c) {
            std::wstring title = Widen(FTable.Columns[c].Title);
            LVCOLUMNW col{};
            col.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
            col.fmt = FTable.Columns[c].RightAlign && c > 0 ? LVCFMT_RIGHT : LVCFMT_LEFT;
            col.cx = 60;
            col.pszText = title.data();
            ::SendMessageW(FView, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
        }
        ::SendMessageW(FView, LVM_SETITEMCOUNT, FTable.Rows.size(), 0);
        for (size_t r = 0; r < FTable.Rows.size(); ++r) {
            const TTableRow& row = FTable.Rows[r];
            std::wstring first = Widen(row.Cells.empty() ? std::string() : row.Cells[0]);
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = int(r);
            item.pszText = first.data();
            ::SendMessageW(FView, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
            if (row.Kind != TRowKind::Normal) continue;
            for (size_t c = 1; c < row.Cells.size() && c < FTable.Columns.size(); ++c) {
                std::wstring cell = Widen(FTable.Columns[c].Upper ? UpperCell(row.Cells[c]) : row.Cells[c]);
                LVITEMW sub{};
                sub.iSubItem = int(c);
                sub.pszText = cell.data();
                ::SendMessageW(FView, LVM_SETITEMTEXTW, r, reinterpret_cast<LPARAM>(&sub));
            }
        }
        // Columns as wide as their contents (title rows span the row and do not count).
        HDC dc = ::GetDC(FView);
        HGDIOBJ old = ::SelectObject(dc, courier ? FCourier.Get() : FFont.Get());
        for (size_t c = 0; c < FTable.Columns.size(); ++c) {
            auto extent = [&](const std::string& s) {
                const std::wstring t = Widen(s);
                SIZE size{};
                ::GetTextExtentPoint32W(dc, t.c_str(), int(t.size()), &size);
                return int(size.cx);
            };
            int width = extent(FTable.Columns[c].Title) + 14;
            for (const TTableRow& row : FTable.Rows)
                if (row.Kind == TRowKind::Normal && c < row.Cells.size())
                    width = std::max(
                        width, extent(FTable.Columns[c].Upper ? UpperCell(row.Cells[c]) : row.Cells[c]) + 10);
            ListView_SetColumnWidth(FView, int(c), std::min(width, 600));
        }
        ::SelectObject(dc, old);
        ::ReleaseDC(FView, dc);
    } else {
        std::string crlf;
        for (const std::string& line : SplitLines(text))
            crlf += (crlf.empty() ? "" : "\r\n") + line;
        FView = ::CreateWindowExW(
            WS_EX_CLIENTEDGE, L"EDIT", Widen(crlf).c_str(),
            WS_CHILD | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0, 10, 10,
            FWnd, reinterpret_cast<HMENU>(INT_PTR(ViewId)), instance, nullptr);
        if (!FView) return;
        ::SendMessageW(FView, WM_SETFONT, WPARAM(FCourier.Get()), FALSE);
    }
    PlaceView();
    ::SetWindowPos(FView, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
}

void TExceptionBox::PlaceView() {
    if (!FTabs || !FView) return;
    RECT r;
    ::GetWindowRect(FTabs, &r);
    ::MapWindowPoints(nullptr, FWnd, reinterpret_cast<POINT*>(&r), 2);
    TabCtrl_AdjustRect(FTabs, FALSE, &r);
    ::MoveWindow(FView, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

void TExceptionBox::Resized() {
    RECT client;
    ::GetClientRect(FWnd, &client);
    if (client.right <= 0) return;
    // The right-hand buttons keep their distance to the right edge.
    const int dx = client.right - FRightButtonsGap;
    if (dx) {
        for (int id : {BtnContinue, BtnRestart, BtnClose}) {
            if (!FButtons[id]) continue;
            RECT r;
            ::GetWindowRect(FButtons[id], &r);
            ::MapWindowPoints(nullptr, FWnd, reinterpret_cast<POINT*>(&r), 2);
            ::SetWindowPos(FButtons[id], nullptr, r.left + dx, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        }
        FRightButtonsGap = client.right;
    }
    if (FTabs) {
        RECT r;
        ::GetWindowRect(FTabs, &r);
        ::MapWindowPoints(nullptr, FWnd, reinterpret_cast<POINT*>(&r), 2);
        ::SetWindowPos(FTabs, nullptr, 0, 0, client.right - FTabsRightGap - r.left,
                       client.bottom - FTabsBottomGap - r.top, SWP_NOMOVE | SWP_NOZORDER);
        PlaceView();
    }
    ::InvalidateRect(FWnd, nullptr, TRUE);
}

LRESULT CALLBACK TExceptionBox::WndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    try {
        if (msg == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
            ::SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
            static_cast<TExceptionBox*>(cs->lpCreateParams)->FWnd = wnd;
        }
        auto* self = reinterpret_cast<TExceptionBox*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
        if (self && self->FWnd == wnd) return self->Handle(wnd, msg, wParam, lParam);
    } catch (...) {
        // A failure inside the dialog must not take the crash reporter down with it.
    }
    return ::DefWindowProcW(wnd, msg, wParam, lParam);
}

LRESULT TExceptionBox::Handle(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_NULL:
        if (wParam == 777 && lParam == 777) {
            Finish(FResult);
            return 0;
        }
        break;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            const int id = LOWORD(wParam) - ExceptionBoxControlId;
            if (id >= 0 && id < ExceptionBoxButtons && FButtons[id]) ButtonClick(id);
            return 0;
        }
        break;
    case DM_GETDEFID:
        if (FFocusedBtn >= 0 && FFocusedBtn < ExceptionBoxButtons && FButtons[FFocusedBtn])
            return MAKELRESULT(ExceptionBoxControlId + FFocusedBtn, DC_HASDEFID);
        return 0;
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType == ODT_BUTTON)
            DrawButton(*item);
        else if (item->CtlType == ODT_LISTVIEW)
            DrawListItem(*item);
        return TRUE;
    }
    case WM_TIMER:
        if (wParam == CountdownTimer) {
            CountdownTick();
        } else if (wParam == FadeTimer) {
            bool running = false;
            for (int i = 0; i < ExceptionBoxButtons; ++i) {
                if (FFades[i].Step >= FadeSteps) continue;
                ++FFades[i].Step;
                running = true;
                if (FButtons[i]) ::InvalidateRect(FButtons[i], nullptr, FALSE);
            }
            if (!running) ::KillTimer(FWnd, FadeTimer);
        }
        return 0;
    case WM_NOTIFY: {
        const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
        if (hdr->hwndFrom == FTabs && hdr->code == TCN_SELCHANGE) UpdateView(false);
        break;
    }
    case WM_EXCEPTIONBOX_REPORTCHANGED:
        ReportChanged();
        return 0;
    case WM_CLOSE:
        CloseRequest();
        return 0;
    case WM_GETMINMAXINFO:
        if (FMinSize.cx) {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = {FMinSize.cx, FMinSize.cy};
        }
        return 0;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED && FMinSize.cx) Resized();
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(FWnd, &ps);
        PaintSeparator(dc);
        ::EndPaint(FWnd, &ps);
        return 0;
    }
    case WM_MOUSEMOVE: {
        if (FSeparator < 0) break;
        const RECT credit = CreditRect();
        const POINT pt{short(LOWORD(lParam)), short(HIWORD(lParam))};
        const bool over = ::PtInRect(&credit, pt) != 0;
        if (over != FHoverCredit) {
            FHoverCredit = over;
            ::InvalidateRect(FWnd, &credit, TRUE);
            if (over) {
                TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, FWnd, 0};
                ::TrackMouseEvent(&track);
            }
        }
        break;
    }
    case WM_MOUSELEAVE:
        if (FHoverCredit) {
            FHoverCredit = false;
            const RECT credit = CreditRect();
            ::InvalidateRect(FWnd, &credit, TRUE);
        }
        return 0;
    case WM_SETCURSOR:
        if (FHoverCredit && LOWORD(lParam) == HTCLIENT && HWND(wParam) == FWnd) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_DESTROY:
        ::KillTimer(FWnd, CountdownTimer);
        ::KillTimer(FWnd, FadeTimer);
        FDone = true;
        break;
    case WM_NCDESTROY:
        ::SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
        FWnd = nullptr;
        break;
    default:
        break;
    }
    return ::DefWindowProcW(wnd, msg, wParam, lParam);
}

} // namespace

TExceptionBoxResult ShowExceptionBox(const TExceptionBoxRequest& request) {
    int mode = request.DisplayMode == 1 || request.DisplayMode == 2 ? request.DisplayMode : 0;
    TExceptionBoxRequest current = request;
    for (;;) {
        bool again;
        TExceptionBoxResult result;
        {
            TExceptionBox box(current, mode);
            result = box.Run();
            again = box.ShowAgainExpanded() && (mode == 0 || mode == 2);
        }
        if (!again) return result;
        // Once more, expanded, and with nothing that would close it on its own.
        if (!current.Settings) current.Settings = MakeRef<TSettingsOverlay<>>(TRef<IMESettings>());
        current.Settings->WriteBool("AutoShowBugRep", true);
        current.Settings->WriteBool("AutoContinue", false);
        current.Settings->WriteInt("AutoRestart", 0);
        current.Settings->WriteInt("AutoClose", 0);
        current.AutoClose = current.AutoRestart = false;
        current.Beep = false;
        mode = 0;
    }
}
