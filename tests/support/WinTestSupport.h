#pragma once
// Support for the in-process Win32 tests: answering modal dialogs from a helper thread, pumping
// messages, real input, and screenshots written as PNG for people to look at.
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Watches for the process's visible dialog windows ("#32770") and answers each with an action,
// on its own thread, while the test's thread sits in the dialog's modal loop. An action starts
// only once the dialog's loop has taken a message posted to it, so the dialog has finished
// setting itself up and nothing it still does can undo the answer.
class TDialogAnswerer {
public:
    using TAction = std::function<void(HWND dialog)>;
    explicit TDialogAnswerer(std::vector<TAction> actions);
    ~TDialogAnswerer();
    // The texts and titles of the dialogs seen, in order.
    std::vector<std::wstring> Texts() const;
    std::vector<std::wstring> Titles() const;
    size_t Answered() const { return FAnswered; }

private:
    void Run();
    std::vector<TAction> FActions;
    std::atomic<bool> FStop{false};
    std::atomic<size_t> FAnswered{0};
    mutable std::mutex FLock;
    std::vector<std::wstring> FTexts, FTitles;
    // Last: the thread starts running Run() as soon as it is constructed, so every member it
    // reads must be initialised before it.
    std::thread FThread;
};

// A window's text without waiting on a thread that does not answer (GetWindowText sends a
// message to windows of this process and would block on a stuck one).
std::wstring WindowText(HWND w);

// A visible dialog (message box, common dialog) of this process, or null. With `hiddenToo` also
// one that has been ended and hidden but whose call has not returned yet.
HWND FindOpenDialog(bool hiddenToo = false);

// Actions for TDialogAnswerer.
TDialogAnswerer::TAction PressButton(int id);
// Types a path into a common open/save dialog and confirms it.
TDialogAnswerer::TAction EnterFileName(const std::wstring& path);
// Waits a moment, screenshots the dialog, then presses the button.
TDialogAnswerer::TAction ScreenshotAndPress(const std::string& name, int id);

// Polls `done` every 10 ms; false when it is still not true after `ms`.
bool WaitFor(const std::function<bool()>& done, int ms = 10000);
// True once the window's thread has taken a message posted now from its queue: everything
// posted before is handled (false after 10 s or when the window is gone).
bool WaitIdle(HWND window);

// The thread's window with the keyboard focus.
HWND FocusOf(DWORD threadId);
// A key as the thread's focused control receives it (down and up posted).
void PostKey(DWORD threadId, WPARAM key);
// A visible top-level window of the thread with this class, other than `except`; null if none.
HWND FindThreadWindow(DWORD threadId, const wchar_t* className, HWND except = nullptr);

// Handles every waiting message (and those that arrive within `ms`).
void PumpMessages(int ms = 0);
// Real keyboard input through SendInput: modifiers held around one key.
void SendKey(WORD key, bool ctrl = false, bool shift = false, bool alt = false);

// Writes the window's pixels on screen as PNG into ZE_SCREENSHOT_DIR (or the current folder).
std::string Screenshot(HWND window, const std::string& name);

// A fresh temporary folder for one test, removed afterwards.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    const std::wstring& Path() const { return FPath; }
    std::wstring File(const std::wstring& name) const { return FPath + L"\\" + name; }

private:
    std::wstring FPath;
};

std::vector<uint8_t> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::wstring& path);
