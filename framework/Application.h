#pragma once
// The application object: title, the hint shown for the control under the mouse or the
// highlighted menu entry, the event loop with the window-wide shortcuts, minimising, and the
// handling of exceptions that escape event handlers.
#include "framework/Controls.h"

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

class TForm;

class TApplication {
public:
    std::string Title() const { return FTitle; }
    void SetTitle(std::string_view title);

    // The current hint (the long part: after the first '|') and its change handler.
    const std::string& Hint() const { return FHint; }
    void SetHint(std::string_view hint);
    TNotifyEvent OnHint;

    TForm* MainForm = nullptr;

    // Runs the event loop until the application is asked to quit (Terminate).
    void Run();
    void Terminate();
    bool Terminated() const { return FTerminated; }
    // Waits for and handles one message; false when WM_QUIT arrived.
    bool HandleMessage();
    // Handles every message that is waiting, then returns.
    void ProcessMessages();
    void Minimize();

    // Where every exception that escapes an event handler ends up. The default shows its class
    // name and message and lets the program go on; the crash reporter takes this place.
    using TExceptionHandler = std::function<void(std::exception_ptr)>;
    TExceptionHandler OnException;
    void HandleException(std::exception_ptr e);
    void ShowException(std::exception_ptr e);

    // Modal message box owned by the active form; returns IDYES, IDNO, ...
    int MessageBox(std::string_view text, std::string_view caption, UINT flags);

private:
    bool ProcessMessage(MSG& msg);
    bool IsShortCut(const MSG& msg);
    void TrackHint(const MSG& msg);

    std::string FTitle;
    std::string FHint;
    bool FTerminated = false;
    bool FInHandleException = false;
};

TApplication& Application();
