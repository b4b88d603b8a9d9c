#pragma once
// The exception dialog (unit xunExceptBox): the message, the big icon and the buttons of the
// settings; expanded, the bug report in tabs, updated while the background completion fills it;
// and the plain message box look. It runs its own modal loop on the calling thread.
#include <windows.h>

#include <functional>
#include <string>

#include "crashreport/base/RefCounted.h"
#include "crashreport/report/BugReport.h"
#include "crashreport/settings/Settings.h"

// The action codes the handlers receive.
enum TExceptionBoxAction : int {
    ActionSend = 0,
    ActionSave = 1,
    ActionPrint = 2,
    ActionShow = 6,
    ActionHelp = 7,
    ActionContinue = 8,
    ActionRestart = 9,
    ActionClose = 10,
};

struct TExceptionBoxRequest {
    TRef<TBugReport> Report;    // null: no tabs, and Ctrl+C copies the message
    TRef<IMESettings> Settings; // the exception's own settings: a re-show expanded writes to them
    std::string Message;        // the exception's message
    bool Frozen = false;
    bool CanContinue = true;
    int DisplayMode = 0; // 0 the dialog, 1 plain box with OK, 2 plain box with OK and Details
    bool Beep = false;
    // The repeat rules of AutoClose and AutoRestart as the handling flow found them now.
    bool AutoClose = false, AutoRestart = false;
    HMODULE Module = nullptr; // the module of the settings, pictures and text variables; null: the exe

    // The exception handlers with an action code; true when one of them handled it.
    std::function<bool(int action)> FireHandlers;
    // What send, save and print do when no handler handled them. Save answers true after a
    // save to an absolute bug report file: the save button then goes.
    std::function<void(HWND owner)> Send;
    std::function<bool(HWND owner)> Save;
    std::function<void(HWND owner)> Print;
};

enum class TExceptionBoxResult { Continue, Restart, Close };

// Shows the dialog (and, after its show button, once more expanded) and returns how the program
// goes on. The restart and close themselves, and the automatic actions before them, are the
// caller's.
TExceptionBoxResult ShowExceptionBox(const TExceptionBoxRequest& request);

// Control ids of the dialog's buttons: ExceptionBoxControlId + the button id (ExceptionBoxLayout.h).
constexpr int ExceptionBoxControlId = 100;
// Posted to the dialog when the report has changed.
constexpr UINT WM_EXCEPTIONBOX_REPORTCHANGED = WM_USER + 777;
