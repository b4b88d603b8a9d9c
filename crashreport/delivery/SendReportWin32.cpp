#include "crashreport/delivery/SendReportWin32.h"

#include <commdlg.h>
#include <shlobj.h>

#include <memory>

#include "crashreport/base/ModulesWin32.h"
#include "crashreport/base/Text.h"
#include "crashreport/bitmap/PngWriter.h"
#include "crashreport/delivery/BugReportFileWin32.h"
#include "crashreport/delivery/FileAccessWin32.h"
#include "crashreport/delivery/MailClientWin32.h"
#include "crashreport/delivery/TempFolderWin32.h"
#include "crashreport/delivery/zip/ZipWriter.h"
#include "framework/Win32Util.h"

namespace {

// The transports open files by their ANSI names.
std::string AnsiPath(const std::wstring& path) {
    const int n =
        ::WideCharToMultiByte(CP_ACP, 0, path.data(), int(path.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_ACP, 0, path.data(), int(path.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string ModuleBaseName(HMODULE module) {
    return Narrow(ExtractFileName(ModulePath(module)));
}

void MakeNotTopmost(HWND wnd) {
    if (wnd && (::GetWindowLongW(wnd, GWL_EXSTYLE) & WS_EX_TOPMOST))
        ::SetWindowPos(wnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

DWORD WINAPI BackgroundSendProc(void* parameter) {
    std::unique_ptr<TSendBugReportArgs> args(static_cast<TSendBugReportArgs*>(parameter));
    SendBugReport(std::move(*args));
    return 0;
}

// Step 1: the same send on a thread of its own; false when the thread could not be started.
bool StartBackgroundSend(const TSendBugReportArgs& args) {
    MakeNotTopmost(args.Parent);
    auto copy = std::make_unique<TSendBugReportArgs>(args);
    copy->Parent = nullptr;
    copy->OnBackgroundThread = true;
    HANDLE thread = ::CreateThread(nullptr, 0, BackgroundSendProc, copy.get(), 0, nullptr);
    if (!thread) return false;
    copy.release();
    if (args.State)
        args.State->AddThread(thread);
    else
        ::CloseHandle(thread);
    return true;
}

class TAttachmentsOnDisk {
public:
    TAttachmentSystem System(const std::wstring& temp) {
        TAttachmentSystem s;
        s.Absolute = [](const std::string& file) { return Narrow(AbsoluteBugReportPath(file)); };
        s.Exists = [](const std::string& file) {
            const DWORD a = ::GetFileAttributesW(Widen(file).c_str());
            return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
        };
        s.WriteZip = [this](const std::string& archive, const std::vector<std::string>& files,
                            const std::vector<std::string>& names) {
            std::vector<std::string> ansi;
            for (const std::string& f : files)
                ansi.push_back(AnsiPath(Widen(f)));
            return WriteZipArchive(FFiles, AnsiPath(Widen(archive)), ansi, names);
        };
        s.TempFolder = Narrow(temp);
        return s;
    }

private:
    TWin32FileAccess FFiles;
};

int SendOnThisThread(const TSendBugReportArgs& a) {
    IMESettings& settings = *a.Settings;
    TTempFolderUse usingTemp;
    const TSendSettings how = TSendSettings::From(settings);
    const std::string sender = ReportSender(settings.ReadText("MailFrom"), how.Recipients);
    const std::string message = ReportExceptionMessage(a.Report);
    const std::string subject = ExpandSendText(settings, settings.ReadText("MailSubj"), message, a.Report);
    const std::string body = ExpandSendText(settings, settings.ReadText("MailBody"), message, a.Report);

    std::wstring reportFile, screenshotFile;
    bool deleteReportFile = false;
    TPreparedSend prepared;
    if (how.WantsAttachments()) {
        auto list = MakeRef<TIMEAttachments>();
        const std::wstring temp = CrashTempFolder();
        if (settings.ReadBool("AttachBugRep") && !temp.empty()) {
            reportFile = BugReportFilePath(settings, a.Module);
            const std::wstring copy = temp + std::wstring(ExtractFileName(reportFile));
            const bool attachFile = settings.ReadBool("AttachBugRepFile");
            const bool copied = attachFile && ::CopyFileW(reportFile.c_str(), copy.c_str(), FALSE);
            if (copied) {
                deleteReportFile = settings.ReadBool("DelBugRepFile");
                ::SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
            } else {
                // Without the file's copy the attachment holds this report alone, however often
                // it is sent.
                ::DeleteFileW(copy.c_str());
            }
            if (!(copied && a.State && a.State->WrittenToFile()))
                SaveBugReportFile(copy, a.Report, TBugReportFileRules::From(settings));
            if (::GetFileAttributesW(copy.c_str()) != INVALID_FILE_ATTRIBUTES)
                list->Add(Narrow(copy), settings.ReadText("BugRepSendAs"), "BugReport",
                          settings.ReadText("BugRepZip"));
            else
                deleteReportFile = false;
        }
        if (a.Screenshot && !temp.empty()) {
            const std::wstring file = temp + L"screenShot.png";
            ::DeleteFileW(file.c_str());
            if (a.Screenshot->SavePng(Narrow(file), PngModeFromDepth(settings.ReadInt("ScrShotDepth")))) {
                screenshotFile = file;
                list->Add(Narrow(file), settings.ReadText("ScrShotSendAs"), "ScreenShot",
                          settings.ReadText("ScrShotZip"));
            }
        }
        AddAttachsItems(*list, settings.ReadText("AddAttachs"));
        prepared = PrepareAttachments(settings, *list, how.Configured(), a.OnBackgroundThread, a.Hidden,
                                      a.Parent, a.Module);
    }

    bool delivered = false;
    const TTransport transport = how.Runnable();
    if (transport != TTransport::None && IsOnline(!a.Hidden)) {
        std::unique_ptr<TAlertJobProgress> progress;
        if (prepared.Alert) progress = std::make_unique<TAlertJobProgress>(prepared.Alert);
        TSendJob job;
        job.Settings = a.Settings;
        job.Progress = progress.get();
        job.Sender = sender;
        job.Recipients = how.Recipients;
        job.Subject = subject;
        job.Body = body;
        job.AttachmentFiles = prepared.Files.Files;
        job.AttachmentSendAs = prepared.Files.SendAs;
        job.AttachmentFieldNames = prepared.Files.FieldNames;
        if (transport == TTransport::Upload) {
            job.UploadUrl = how.HttpServer;
            job.Port = settings.ReadInt("HttpPort");
            job.Account = settings.ReadText("HttpAccount");
            job.Password = settings.ReadText("HttpPassword");
            job.Fields = UploadFields(settings.ReadText("AddFields"), sender, subject, body, how.Recipients);
            delivered = SendTransports().Upload(job);
        } else {
            if (transport == TTransport::SmtpServer) {
                job.Server = how.SmtpServer;
                job.Port = settings.ReadInt("SmtpPort");
                job.Account = settings.ReadText("SmtpAccount");
                job.Password = settings.ReadText("SmtpPassword");
            }
            delivered = SendTransports().Mail(job);
        }
    }
    if (prepared.Alert) prepared.Alert->CloseAlert();
    // The mail client that comes next attaches the files by their paths.
    if (!screenshotFile.empty() && (delivered || !how.MailViaMapi)) ::DeleteFileW(screenshotFile.c_str());

    int result = delivered ? SendSent : SendNotSent;
    if (!delivered && how.MailViaMapi)
        result = SendViaMapi(how.Recipients, subject, body, a.Hidden, a.Parent, prepared.Files.SendAs,
                             prepared.Files.Files);
    // A user who cancelled the mail client's dialog has decided: no other client, no failure box.
    if (result == SendNotSent && how.MailViaMailto && !a.Hidden) {
        deleteReportFile = false;
        MakeNotTopmost(a.Parent);
        if (SendViaMailto(how.Recipients, subject, a.Report)) result = SendSent;
    }
    if (result == SendNotSent && !a.Hidden)
        ::MessageBoxW(a.Parent, Widen(settings.ReadText("SendFailMsg")).c_str(), L"", MB_ICONERROR);
    if (result == SendSent) {
        if (a.State) a.State->MarkSent();
        if (deleteReportFile) {
            ::SetFileAttributesW(reportFile.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(reportFile.c_str());
        }
    }
    return result;
}

} // namespace

void TSendState::AddThread(HANDLE thread) {
    std::lock_guard lock(FLock);
    // Handles of sends that have ended are let go; running ones stay to be waited for.
    std::erase_if(FThreads,
                  [](const TKernelHandle& h) { return ::WaitForSingleObject(h.Get(), 0) == WAIT_OBJECT_0; });
    FThreads.emplace_back(thread);
}

void TSendState::WaitForThreads() {
    std::vector<TKernelHandle> threads;
    {
        std::lock_guard lock(FLock);
        threads.swap(FThreads);
    }
    for (const TKernelHandle& h : threads)
        ::WaitForSingleObject(h.Get(), INFINITE);
}

TSendTransports& SendTransports() {
    static TSendTransports transports;
    return transports;
}

std::wstring BugReportFilePath(IMESettings& settings, HMODULE module) {
    return AbsoluteBugReportPath(
        BugReportFileName(settings.ReadText("BugRepFile"), ModuleBaseName(nullptr), ModuleBaseName(module)));
}

int SendBugReport(TSendBugReportArgs args) {
    if (!args.Settings) return SendNotSent;
    try {
        if (args.Background && !args.OnBackgroundThread && !LoaderLockHeld(250) && StartBackgroundSend(args))
            return SendSent;
        return SendOnThisThread(args);
    } catch (...) {
        return SendNotSent;
    }
}

TPreparedSend PrepareAttachments(IMESettings& settings, const IMEAttachments& list, TTransport transport,
                                 bool background, bool hidden, HWND parent, HMODULE module) {
    TPreparedSend out;
    out.Alert = CreateProgressAlert(settings.ReadText("SendBoxTitle"),
                                    module ? module : ::GetModuleHandleW(nullptr), "MEISEND32");
    for (const TPlannedStage& stage : RoughSendPlan(transport, list.Count() > 0))
        out.Alert->AddStage(settings.ReadText(stage.SettingName), stage.Weight);
    if (!hidden || settings.ReadBool("AutoSendBox")) {
        if (background)
            out.Alert->ShowAlert(nullptr, false);
        else
            out.Alert->ShowAlert(parent, true);
        // Drawn before the work begins: a wait for a server pumps no messages.
        out.Alert->PumpMessages();
    }
    TAttachmentsOnDisk disk;
    out.Files = PlanAttachments(list, disk.System(CrashTempFolder()));
    for (std::string& file : out.Files.Files)
        file = AnsiPath(Widen(file));
    return out;
}

bool SaveBugReport(const std::string* path, const std::string& report, HWND parent, IMESettings& settings,
                   bool noDialog, IReportMarks* marks, HMODULE module) {
    std::wstring target;
    if (noDialog) {
        target = path ? AbsoluteBugReportPath(*path) : BugReportFilePath(settings, module);
    } else {
        if (LoaderLockHeld(250)) {
            ::MessageBeep(MB_OK);
            return false;
        }
        const std::wstring name =
            path ? Widen(*path)
                 : Widen(BugReportFileName(settings.ReadText("BugRepFile"), ModuleBaseName(nullptr),
                                           ModuleBaseName(module)));
        std::wstring folder;
        if (name.find_first_of(L"\\/") == std::wstring::npos) {
            wchar_t desktop[MAX_PATH];
            if (::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop) ==
                S_OK)
                folder = desktop;
            else
                folder = ExtractFileDir(ModulePath(nullptr));
        } else {
            folder = ExtractFileDir(AbsoluteBugReportPath(Narrow(name)));
        }
        std::vector<wchar_t> file(MAX_PATH * 4, L'\0');
        const std::wstring proposed(ExtractFileName(name));
        proposed.copy(file.data(), std::min(proposed.size(), file.size() - 1));
        const std::wstring title = Widen(settings.ReadText("SaveBtnTxt"));
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = parent;
        ofn.lpstrFilter = L"*.txt\0*.txt\0";
        ofn.lpstrFile = file.data();
        ofn.nMaxFile = DWORD(file.size());
        ofn.lpstrInitialDir = folder.c_str();
        ofn.lpstrTitle = title.c_str();
        ofn.lpstrDefExt = L"txt";
        ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOREADONLYRETURN;
        if (!::GetSaveFileNameW(&ofn)) return false;
        target = file.data();
    }
    if (!SaveBugReportFile(target, report, TBugReportFileRules::From(settings))) return false;
    if (!path && noDialog && marks) marks->MarkWrittenToFile();
    return true;
}
