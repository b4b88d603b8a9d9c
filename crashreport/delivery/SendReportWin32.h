#pragma once
// Sending and saving a bug report from the exception dialog and the automatic actions: the
// attachments gathered and packed, the configured transport, the system's mail client and the
// mailto: handler after it, and the save dialog.
#include <winsock2.h>

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "crashreport/base/HandlesWin32.h"
#include "crashreport/bitmap/NVBitmap.h"
#include "crashreport/delivery/SendJobWin32.h"
#include "crashreport/delivery/SendReport.h"
#include "crashreport/ui/ProgressAlert.h"

enum TSendResult : int { SendNotSent = 0, SendSent = 1, SendCancelled = 2 };

// One exception's marks, and its background sends, which the handling flow waits for before the
// program closes or restarts.
class TSendState : public TReportMarks<IReportMarks> {
public:
    void AddThread(HANDLE thread); // owned from now on
    void WaitForThreads();

private:
    std::mutex FLock;
    std::vector<TKernelHandle> FThreads;
};

struct TSendBugReportArgs {
    std::string Report;
    TRef<INVBitmap> Screenshot; // none: no screenshot is sent
    HWND Parent = nullptr;
    TRef<IMESettings> Settings;
    TRef<TSendState> State;   // the exception's, or none
    HMODULE Module = nullptr; // of the settings: the picture and "%modname%"; null: the program
    bool OnBackgroundThread = false;
    bool Background = false, Hidden = false;
};

// Sends the report as the settings say (TSendResult). In the background the call returns
// SendSent at once and a thread of its own does the work, owning its progress window.
int SendBugReport(TSendBugReportArgs args);

struct TPreparedSend {
    TRef<IProgressAlert> Alert;
    TPreparedAttachments Files; // ANSI paths, as the transports open them
};
// The progress window (shown unless hidden without AutoSendBox: from the background thread in the
// screen's corner, else in front of the parent) and the files to send.
TPreparedSend PrepareAttachments(IMESettings& settings, const IMEAttachments& list, TTransport transport,
                                 bool background, bool hidden, HWND parent, HMODULE module);

// Saves into `path`, else into the bug report file, through the save dialog unless `noDialog`.
// Only a save into the bug report file without the dialog marks the report as written to it.
bool SaveBugReport(const std::string* path, const std::string& report, HWND parent, IMESettings& settings,
                   bool noDialog, IReportMarks* marks, HMODULE module);

// The bug report file of the settings, made absolute.
std::wstring BugReportFilePath(IMESettings& settings, HMODULE module);

// The network transports as the pipeline runs them; tests put their own in.
struct TSendTransports {
    std::function<bool(TSendJob&)> Mail = SendMailJob;
    std::function<bool(TSendJob&)> Upload = SendUploadJob;
};
TSendTransports& SendTransports();
