#include "crashreport/ui/ProgressAlert.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "crashreport/base/ModulesWin32.h"
#include "framework/Win32Util.h"

namespace {

const wchar_t* const AlertClassName = L"prgrAlertWndClass";
// Set on the window by CloseAlert from another thread: only then does it accept WM_CLOSE.
const wchar_t* const ClosableProp = L"prgrAlertClosable";

constexpr int TextWrapWidth = 420;
constexpr int PictureSize = 32;

LRESULT CALLBACK AlertWndProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    try {
        switch (msg) {
        case WM_CLOSE:
            // The user cannot close the window; only CloseAlert can.
            if (!::GetPropW(wnd, ClosableProp)) return 0;
            break;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (!item || item->CtlType != ODT_BUTTON) break;
            try {
                const auto* alert = reinterpret_cast<const TIProgressAlert*>(
                    ::GetWindowLongPtrW(item->hwndItem, GWLP_USERDATA));
                if (alert)
                    DrawAlphaPicture(item->hDC, alert->BitmapModule(), alert->BitmapName().c_str(),
                                     PictureSize);
            } catch (...) {
                // a picture that cannot be drawn stays blank
            }
            return TRUE;
        }
        case WM_NCDESTROY:
            ::RemovePropW(wnd, ClosableProp);
            break;
        }
        return ::DefWindowProcW(wnd, msg, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

bool RegisterAlertClass() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (::GetClassInfoExW(::GetModuleHandleW(nullptr), AlertClassName, &wc)) return true;
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = AlertWndProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = AlertClassName;
    return ::RegisterClassExW(&wc) || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Handles everything waiting for this thread; a quit request is left for the caller's loop.
void PumpThreadMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(int(msg.wParam));
            return;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

} // namespace

bool DrawAlphaPixels(HDC dc, const uint8_t* bytes, size_t count, int size) {
    if (!dc || !bytes || size <= 0 || size > 1024) return false;
    const size_t pixels = size_t(size) * size_t(size);
    if (count != 40 + 4 * pixels) return false;
    BITMAPINFOHEADER source;
    std::memcpy(&source, bytes, sizeof source);
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    const uint32_t bgRed = GetRValue(face), bgGreen = GetGValue(face), bgBlue = GetBValue(face);
    std::vector<uint32_t> out(pixels);
    const uint8_t* p = bytes + 40;
    for (size_t i = 0; i < pixels; ++i, p += 4) {
        const uint32_t a = uint32_t(p[3]) + 1;
        const uint32_t blue = ((256 - a) * bgBlue + a * p[0]) / 256;
        const uint32_t green = ((256 - a) * bgGreen + a * p[1]) / 256;
        const uint32_t red = ((256 - a) * bgRed + a * p[2]) / 256;
        out[i] = (red << 16) | (green << 8) | blue;
    }
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = size;
    // The resource's row order; only its size is trusted otherwise.
    bi.bmiHeader.biHeight = source.biHeight < 0 ? -size : size;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    return ::SetDIBitsToDevice(dc, 0, 0, DWORD(size), DWORD(size), 0, 0, 0, UINT(size), out.data(), &bi,
                               DIB_RGB_COLORS) != 0;
}

bool DrawAlphaPicture(HDC dc, HMODULE module, const wchar_t* name, int size) {
    if (!name || !*name) return false;
    std::span<const uint8_t> bytes = ResourceBytes(module, name, MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    return bytes.data() && DrawAlphaPixels(dc, bytes.data(), DWORD(bytes.size()), size);
}

TIProgressAlert::TIProgressAlert(const std::string& title, HMODULE bitmapModule,
                                 const std::string& bitmapName)
    : FTitle(title), FBitmapModule(bitmapModule), FBitmapName(Widen(bitmapName)) {}

TIProgressAlert::~TIProgressAlert() {
    CloseAlert();
    if (FMeasureDC && FOldFont) ::SelectObject(FMeasureDC.Get(), FOldFont);
}

bool TIProgressAlert::OwnsWindow(HWND wnd) const {
    return wnd && ::GetWindowThreadProcessId(wnd, nullptr) == ::GetCurrentThreadId();
}

std::string TIProgressAlert::Title() const {
    std::lock_guard lock(FLock);
    return FTitle;
}

void TIProgressAlert::SetTitle(const std::string& title) {
    HWND wnd;
    {
        std::lock_guard lock(FLock);
        if (title == FTitle) return;
        FTitle = title;
        wnd = FWnd;
    }
    if (wnd) ::SetWindowTextW(wnd, Widen(title).c_str());
}

int32_t TIProgressAlert::StagePosition() const {
    std::lock_guard lock(FLock);
    return FStages.StagePosition();
}

void TIProgressAlert::SetStagePosition(int32_t position) {
    HWND bar;
    uint32_t barPos;
    {
        std::lock_guard lock(FLock);
        FStages.SetStagePosition(position);
        bar = FBar;
        barPos = FStages.BarPosition();
    }
    if (!bar) return;
    if (OwnsWindow(bar)) {
        ::SendMessageW(bar, PBM_SETPOS, WPARAM(barPos), 0);
        PumpThreadMessages();
    } else {
        ::PostMessageW(bar, PBM_SETPOS, WPARAM(barPos), 0);
    }
}

void TIProgressAlert::AddStage(const std::string& text, uint64_t weight) {
    std::lock_guard lock(FLock);
    FStages.AddStage(text, weight);
}

void TIProgressAlert::ClearStages() {
    std::lock_guard lock(FLock);
    FStages.ClearStages();
}

void TIProgressAlert::StageDone() {
    SetCurrentStage(CurrentStage() + 1);
}

int32_t TIProgressAlert::CurrentStage() const {
    std::lock_guard lock(FLock);
    return FStages.CurrentStage();
}

void TIProgressAlert::SetCurrentStage(int32_t stage) {
    int32_t position;
    {
        std::lock_guard lock(FLock);
        if (!FStages.SetCurrentStage(stage)) return;
        position = FStages.StagePosition();
    }
    ShowStageText();
    SetStagePosition(position);
}

void TIProgressAlert::ShowStageText() {
    HWND label;
    std::wstring text;
    {
        std::lock_guard lock(FLock);
        label = FLabel;
        text = Widen(FStages.CurrentText());
    }
    if (label) ::SetWindowTextW(label, text.c_str());
}

void TIProgressAlert::PumpMessages() {
    HWND wnd;
    {
        std::lock_guard lock(FLock);
        wnd = FWnd;
    }
    if (OwnsWindow(wnd)) PumpThreadMessages();
}

HFONT TIProgressAlert::MakeFont() {
    HFONT font =
        ::CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
    if (!font)
        font = ::CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
    return font;
}

bool TIProgressAlert::ShowAlert(HWND owner, bool activate) {
    // The lock is never held across calls that may wait for another thread's window.
    std::vector<std::wstring> texts;
    std::wstring title, current;
    {
        std::lock_guard lock(FLock);
        if (FBuilding || (FWnd && ::IsWindow(FWnd))) return false;
        FWnd = FPicture = FLabel = FBar = nullptr;
        FOwner = owner;
        if (FStages.Stages().empty()) FStages.AddStage("Please wait...", 1000);
        const auto& stages = FStages.Stages();
        for (size_t i = size_t(std::max(FStages.CurrentStage(), 0)); i < stages.size(); ++i)
            texts.push_back(Widen(stages[i].Text));
        title = Widen(FTitle);
        current = Widen(FStages.CurrentText());
        FBuilding = true; // a second ShowAlert meanwhile returns false
    }
    auto fail = [this, owner] {
        {
            std::lock_guard lock(FLock);
            FBuilding = false;
            FOwner = nullptr;
        }
        if (owner) ::EnableWindow(owner, TRUE);
        return false;
    };
    if (owner) ::EnableWindow(owner, FALSE);

    if (!RegisterAlertClass()) return fail();
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    HWND wnd = ::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_TOOLWINDOW, AlertClassName,
                                 title.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 0, 0, owner,
                                 nullptr, instance, nullptr);
    if (!wnd) return fail();
    if (HMENU menu = ::GetSystemMenu(wnd, FALSE)) {
        for (UINT cmd : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE})
            ::DeleteMenu(menu, cmd, MF_BYCOMMAND);
    }

    if (!FFont) FFont.Reset(MakeFont());
    if (!FMeasureDC) {
        FMeasureDC.Reset(::CreateCompatibleDC(nullptr));
        if (FMeasureDC && FFont) FOldFont = ::SelectObject(FMeasureDC.Get(), FFont.Get());
    }

    // The window is as large as the largest text still to come, so it never resizes.
    int w = 0, h = 0;
    for (const std::wstring& text : texts) {
        RECT r{0, 0, TextWrapWidth, 0};
        if (FMeasureDC)
            ::DrawTextW(FMeasureDC.Get(), text.c_str(), int(text.size()), &r,
                        DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        w = std::max(w, int(r.right - r.left));
        h = std::max(h, int(r.bottom - r.top));
    }
    const int textWidth = w;

    HWND picture = nullptr;
    if (!FBitmapName.empty() &&
        ::FindResourceW(FBitmapModule, FBitmapName.c_str(), MAKEINTRESOURCEW(2) /* RT_BITMAP */)) {
        w += 40;
        picture = ::CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_OWNERDRAW, 9,
                                    9, PictureSize, PictureSize, wnd, nullptr, instance, nullptr);
        if (picture) ::SetWindowLongPtrW(picture, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    w = std::max(w, 220);

    int labelLeft = 11, labelTop = 12, labelWidth = w;
    if (picture) {
        if (h < 26) {
            labelTop = 12 + (26 - h) / 2;
            h = 26;
        }
        // Beside the picture the label keeps the width its text was measured at, so it wraps the
        // same way and ends where the bar ends.
        labelLeft = 51;
        labelWidth = std::max(w - 40, textWidth);
    }
    HWND label =
        ::CreateWindowExW(0, L"STATIC", current.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                          labelLeft, labelTop, labelWidth, h, wnd, nullptr, instance, nullptr);
    if (label && FFont) ::SendMessageW(label, WM_SETFONT, WPARAM(FFont.Get()), FALSE);

    const int barHeight = ::GetSystemMetrics(SM_CYVSCROLL);
    HWND bar = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 11, h + 24, w, barHeight,
                                 wnd, nullptr, instance, nullptr);
    if (bar) ::SendMessageW(bar, PBM_SETRANGE32, 0, 1000);

    const int width = w + 22 + 2 * ::GetSystemMetrics(SM_CXDLGFRAME);
    const int height =
        h + 36 + ::GetSystemMetrics(SM_CYSMCAPTION) + barHeight + 2 * ::GetSystemMetrics(SM_CYDLGFRAME);
    if (::IsIconic(wnd)) ::ShowWindow(wnd, SW_RESTORE);

    if (activate) {
        const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
        const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
        ::SetWindowPos(wnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
        ::ShowWindow(wnd, SW_SHOWNORMAL);
        ::BringWindowToTop(wnd);
        ::SetForegroundWindow(wnd);
    } else {
        RECT work;
        if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
            work = {0, 0, ::GetSystemMetrics(SM_CXSCREEN),
                    ::GetSystemMetrics(SM_CYSCREEN) + ::GetSystemMetrics(SM_CYCAPTION)};
        }
        ::SetWindowPos(wnd, nullptr, work.right - width - 2, work.bottom - height - 2, width, height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        ::ShowWindow(wnd, SW_SHOWNOACTIVATE);
    }

    int32_t position;
    {
        std::lock_guard lock(FLock);
        FBuilding = false;
        FWnd = wnd;
        FPicture = picture;
        FLabel = label;
        FBar = bar;
        position = FStages.StagePosition();
    }
    // Another thread may have moved on to a later stage while the window was being built.
    ShowStageText();
    SetStagePosition(position);
    return true;
}

void TIProgressAlert::CloseAlert() {
    HWND wnd, owner;
    {
        std::lock_guard lock(FLock);
        wnd = FWnd;
        owner = FOwner;
        if (FPicture && ::IsWindow(FPicture)) ::SetWindowLongPtrW(FPicture, GWLP_USERDATA, 0);
        FWnd = FPicture = FLabel = FBar = nullptr;
        FOwner = nullptr;
    }
    if (!wnd) return;
    if (::IsWindow(wnd)) {
        if (OwnsWindow(wnd)) {
            ::DestroyWindow(wnd);
        } else {
            ::SetPropW(wnd, ClosableProp, HANDLE(1));
            ::SendMessageW(wnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
    }
    if (owner) {
        ::EnableWindow(owner, TRUE);
        ::SetActiveWindow(owner);
    }
}

TRef<IProgressAlert> CreateProgressAlert(const std::string& title, HMODULE bitmapModule,
                                         const std::string& bitmapName) {
    return TRef<IProgressAlert>(new TIProgressAlert(title, bitmapModule, bitmapName));
}
