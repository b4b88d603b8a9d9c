#pragma once
// The send job (SendJob) and its runners: one send operation's addresses, server, credentials,
// attachments and progress, run as mail (a configured SMTP server, or direct delivery to each
// recipient's mail exchanger) or as the HTTP upload. Portable: the system is reached through
// IDeliverySystem, which SendJobWin32.h implements.
#include <cstdint>
#include <string>
#include <vector>

#include "crashreport/base/FileAccess.h"
#include "crashreport/base/RefCounted.h"
#include "crashreport/delivery/DeliveryProgress.h"
#include "crashreport/delivery/http/HttpRequest.h"
#include "crashreport/delivery/net/Network.h"
#include "crashreport/settings/Settings.h"

// Process-wide switches of the mail and upload code, set before a send; this program keeps
// the defaults.
struct TDeliverySwitches {
    bool AssumeOnline = true;     // the online check answers "online" at once
    bool Utf8MailSubject = false; // subject as UTF-8 base64 instead of ISO-8859-1 Q
    std::string MailFromOverride; // used verbatim as the MAIL FROM: argument when set
    bool IgnoreSystemProxy = false;
    int HttpReplyTimeout = 7; // seconds
};
TDeliverySwitches& DeliverySwitches();

// The progress window as the runners drive it.
class IJobProgress : public IDeliveryProgress {
public:
    virtual void ClearStages() = 0;
    // An empty text shows the text of the stage before.
    virtual void AddStage(const std::string& text, uint64_t weight) = 0;
    virtual void SetCurrentStage(int32_t stage) = 0;
    virtual void Close() = 0;
};

// What a send needs of the system.
class IDeliverySystem {
public:
    virtual ~IDeliverySystem() = default;
    virtual INetwork& Network() = 0;
    virtual IFileAccess& Files() = 0;
    virtual std::string ComputerName() = 0;
    // UTC as 100-nanosecond intervals since 1601 (TFileTime of the mail header).
    virtual uint64_t Now() = 0;
    // The system's DNS servers; empty: none known, the search walks down from the roots.
    virtual std::vector<std::string> DnsServers() = 0;
    virtual uint16_t NewDnsId() = 0; // unpredictable
    // The proxy text of the Internet settings; empty for none.
    virtual std::string SystemProxy() = 0;
    // Opens a web address in the user's browser.
    virtual void OpenInBrowser(const std::string& url) = 0;
};

inline constexpr const char* PrepareStageText = "Prepare attachments...";
inline constexpr uint64_t PrepareStageWeight = 1000;

struct TSendJob {
    std::string UploadUrl; // HTTP target; empty for mail
    std::string Sender;    // may be empty
    std::string Recipients;
    TRef<IMESettings> Settings;       // the progress texts; none: the built-in texts
    IJobProgress* Progress = nullptr; // may be null
    int32_t Port = 25;
    std::string Password, Account;
    std::string Server; // empty: the mail exchanger is looked up
    TFormFields Fields; // HTTP only
    // Parallel arrays, one entry per attachment.
    std::vector<std::string> AttachmentFieldNames, AttachmentSendAs, AttachmentFiles;
    std::string Body, Subject;
    int32_t StagesPerRecipient = 0; // set by the mail runner
};

// One SMTP conversation delivering the mail to `recipients` over the job's server; with no
// server, over the mail exchanger of the recipients' domain.
bool SmtpSend(const std::string& recipients, TSendJob& job, IDeliverySystem& system);
// The job runner for mail: true when any conversation delivered the mail.
bool RunMailJob(TSendJob& job, IDeliverySystem& system);

// The whole upload, stages included.
bool HttpUpload(TSendJob& job, IDeliverySystem& system);
// The job runner for the upload.
bool RunUploadJob(TSendJob& job, IDeliverySystem& system);

// The DNS servers of a registry value: split at "," when it holds one, else at blanks.
std::vector<std::string> SplitNameServers(std::string_view text);
// The current server first, then every listed one that differs from the first entry.
std::vector<std::string> MergeDnsServers(const std::string& current, const std::vector<std::string>& listed);
