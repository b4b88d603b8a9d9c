#pragma once
// The send pipeline's decisions: the attachment list, how its items become the files that are
// sent (archives of items sharing a zip name included), which transport runs, and the texts of
// the mail. Portable; SendReportWin32.h carries the pipeline out.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/base/RefCounted.h"
#include "crashreport/delivery/DeliveryProgress.h"
#include "crashreport/settings/Settings.h"

struct TAttachmentItem {
    std::string File; // may be relative
    std::string SendAs, FieldName;
    std::string ZipName; // empty: sent as it is
};

class IMEAttachments : public IRefCounted {
public:
    // Without a file nothing is added; a missing send-as name is the file's name part, a missing
    // field name the send-as name without its last extension.
    virtual void Add(std::string_view file, std::string_view sendAs, std::string_view fieldName,
                     std::string_view zipName) = 0;
    virtual size_t Count() const = 0;
    virtual TAttachmentItem Item(size_t i) const = 0; // an empty item past the end
};

class TIMEAttachments : public TRefCountedImpl<IMEAttachments> {
public:
    void Add(std::string_view file, std::string_view sendAs, std::string_view fieldName,
             std::string_view zipName) override;
    size_t Count() const override;
    TAttachmentItem Item(size_t i) const override;

private:
    mutable std::mutex FLock;
    std::vector<TAttachmentItem> FItems;
};

// `AddAttachs` holds one item per line: file, send-as name, field name and zip name separated
// by "|" (a character no file name holds); missing values are empty.
void AddAttachsItems(IMEAttachments& list, std::string_view text);

// Three parallel arrays, in the order the items were prepared.
struct TPreparedAttachments {
    std::vector<std::string> Files, SendAs, FieldNames;
};

// What preparing the attachments needs of the system.
struct TAttachmentSystem {
    std::function<std::string(const std::string&)> Absolute;
    std::function<bool(const std::string&)> Exists;
    // Writes an archive of the files under the names; false when no archive was made.
    std::function<bool(const std::string& archive, const std::vector<std::string>& files,
                       const std::vector<std::string>& names)>
        WriteZip;
    std::string TempFolder; // ends in a separator
};

// Each existing item in order: without zip name as it is; the first item of a zip name (in any
// case) together with every later item of that name (not tested for existence: the archive
// writer skips what it cannot read) packed into TempFolder + zip name, which is sent under the
// zip name as send-as and field name.
TPreparedAttachments PlanAttachments(const IMEAttachments& list, const TAttachmentSystem& system);

enum class TTransport { None, Direct, SmtpServer, Upload };

// The settings that decide how a report is sent.
struct TSendSettings {
    bool MailAsSmtpServer = false, MailAsSmtpClient = false, UploadViaHttp = false;
    bool MailViaMapi = false, MailViaMailto = false;
    std::string Recipients, SmtpServer, HttpServer;
    static TSendSettings From(IMESettings& settings);

    // Any transport that sends the attachments: only then are they prepared.
    bool WantsAttachments() const {
        return MailAsSmtpServer || MailAsSmtpClient || UploadViaHttp || MailViaMapi;
    }
    // The network transport that is set, first in the order direct delivery, SMTP server, upload.
    TTransport Configured() const;
    // The configured one when what it needs is set (recipients; the server), else none: a
    // transport that cannot run does not hand over to the next.
    TTransport Runnable() const;
};

// The progress window's rough plan before the transport's own: the preparation stage, then what
// the transport will do.
std::vector<TPlannedStage> RoughSendPlan(TTransport transport, bool attachments);

// `MailFrom`; else "xunExcept " and the first recipient in angle form; else empty.
std::string ReportSender(std::string_view mailFrom, std::string_view recipients);
// The rest of the report's "exception message" header line after its ":", trimmed.
std::string ReportExceptionMessage(std::string_view report);
// A configured text with the module's variables, then the exception message and the report.
std::string ExpandSendText(IMESettings& settings, std::string_view text, const std::string& exceptMsg,
                           const std::string& report);

// What the exception object knows of its report's way out.
class IReportMarks : public IRefCounted {
public:
    virtual bool WrittenToFile() const = 0;
    virtual void MarkWrittenToFile() = 0;
    virtual bool Sent() const = 0;
    virtual void MarkSent() = 0;
};

template <class Intf = IReportMarks> class TReportMarks : public TRefCountedImpl<Intf> {
public:
    bool WrittenToFile() const override { return FWritten; }
    void MarkWrittenToFile() override { FWritten = true; }
    bool Sent() const override { return FSent; }
    void MarkSent() override { FSent = true; }

private:
    std::atomic<bool> FWritten{false}, FSent{false};
};
