#include "framework/Application.h"

#include "framework/Exceptions.h"
#include "framework/Forms.h"
#include "framework/Win32Util.h"

TApplication& Application() {
    static TApplication app;
    return app;
}

void TApplication::SetTitle(std::string_view title) {
    FTitle = title;
}

void TApplication::SetHint(std::string_view hint) {
    size_t bar = hint.find('|');
    std::string longHint(bar == std::string_view::npos ? hint : hint.substr(bar + 1));
    FHint = longHint;
    if (OnHint) OnHint(nullptr);
}

void TApplication::Run() {
    FTerminated = false;
    while (HandleMessage()) {
    }
}

void TApplication::Terminate() {
    FTerminated = true;
    ::PostQuitMessage(0);
}

bool TApplication::HandleMessage() {
    MSG msg;
    if (::GetMessageW(&msg, nullptr, 0, 0) <= 0) return false;
    ProcessMessage(msg);
    return true;
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Keep the request for the loop that owns it.
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        ProcessMessage(msg);
    }
}

bool TApplication::ProcessMessage(MSG& msg) {
    try {
        if (msg.message == WM_MOUSEMOVE) TrackHint(msg);
        if (IsShortCut(msg)) return true;
        HWND root = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
        if (root && TWinControl::FromHandle(root) && ::IsDialogMessageW(root, &msg)) return true;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    } catch (...) {
        HandleException(std::current_exception());
    }
    return true;
}

bool TApplication::IsShortCut(const MSG& msg) {
    if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
    HWND root = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    auto* form = dynamic_cast<TForm*>(TWinControl::FromHandle(root));
    if (!form) return false;
    return form->IsShortCut(static_cast<WORD>(msg.wParam), KeyShiftState());
}

void TApplication::TrackHint(const MSG& msg) {
    TWinControl* c = TWinControl::FindControl(msg.hwnd);
    if (!c) return;
    POINT pt{static_cast<short>(LOWORD(msg.lParam)), static_cast<short>(HIWORD(msg.lParam))};
    if (c->Handle() != msg.hwnd) ::MapWindowPoints(msg.hwnd, c->Handle(), &pt, 1);
    std::string hint = c->HintAt(pt);
    size_t bar = hint.find('|');
    if (bar != std::string::npos) hint = hint.substr(bar + 1);
    if (hint != FHint) SetHint(hint);
}

void TApplication::Minimize() {
    if (MainForm && MainForm->Handle()) ::ShowWindow(MainForm->Handle(), SW_MINIMIZE);
}

void TApplication::HandleException(std::exception_ptr e) {
    if (!e) return;
    // An EAbort is the silent exception: it ends an action without a message.
    try {
        std::rethrow_exception(e);
    } catch (const EAbort&) {
        return;
    } catch (...) {
    }
    if (FInHandleException) return; // a failure while reporting must not recurse
    FInHandleException = true;
    try {
        if (OnException)
            OnException(e);
        else
            ShowException(e);
    } catch (...) {
    }
    FInHandleException = false;
}

void TApplication::ShowException(std::exception_ptr e) {
    std::string text = ExceptionClassName(e) + "\n\n" + ExceptionMessage(e);
    MessageBox(text, FTitle, MB_OK | MB_ICONERROR);
}

int TApplication::MessageBox(std::string_view text, std::string_view caption, UINT flags) {
    HWND owner = ::GetActiveWindow();
    if (!owner && MainForm) owner = MainForm->Handle();
    return ::MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), flags);
}
