#include "crashreport/delivery/SendJob.h"

#include <algorithm>

#include "crashreport/delivery/mail/MailAddress.h"
#include "crashreport/delivery/net/Conversation.h"
#include "crashreport/delivery/smtp/SmtpClient.h"

TDeliverySwitches& DeliverySwitches() {
    static TDeliverySwitches switches;
    return switches;
}

namespace {

std::string StageText(const TSendJob& job, const std::string& name) {
    if (name.empty()) return {};
    if (job.Settings) return job.Settings->ReadText(name);
    TPropEntry entry;
    return FindBuiltInProperty(name, entry) ? entry.TextValue : std::string();
}

void AddStages(const TSendJob& job, const std::vector<TPlannedStage>& plan) {
    for (const TPlannedStage& stage : plan)
        job.Progress->AddStage(StageText(job, stage.SettingName), stage.Weight);
}

std::vector<TMailAttachment> MailAttachments(const TSendJob& job) {
    std::vector<TMailAttachment> out;
    const size_t n = std::min(job.AttachmentFiles.size(), job.AttachmentSendAs.size());
    for (size_t i = 0; i < n; ++i)
        out.push_back({job.AttachmentFiles[i], job.AttachmentSendAs[i]});
    return out;
}

// Starts the job's progress with the preparation of the attachments; the caller then adds its
// own plan and completes that stage.
void BeginProgress(const TSendJob& job) {
    if (!job.Progress) return;
    job.Progress->ClearStages();
    job.Progress->AddStage(PrepareStageText, PrepareStageWeight);
}

void EndProgress(const TSendJob& job) {
    if (job.Progress) job.Progress->Close();
}

} // namespace

bool SmtpSend(const std::string& recipients, TSendJob& job, IDeliverySystem& system) {
    const TDeliverySwitches& switches = DeliverySwitches();
    TSmtpJob smtp;
    smtp.Server = job.Server;
    smtp.Port = job.Port;
    smtp.Account = job.Account;
    smtp.Password = job.Password;
    smtp.Sender = job.Sender;
    smtp.MailFromOverride = switches.MailFromOverride;
    smtp.HeloName = system.ComputerName();
    smtp.Subject = job.Subject;
    smtp.Body = job.Body;
    smtp.Utf8MailSubject = switches.Utf8MailSubject;
    smtp.Time = system.Now();
    smtp.Attachments = MailAttachments(job);
    TSmtpClient client(smtp, recipients, system.Files(), job.Progress);
    // Each conversation looks up its own recipient's exchanger: recipients of one send may
    // live in different domains.
    const auto findMx = [&system](const std::string& address) {
        return FindMailExchanger(address, system.DnsServers(), system.Network(),
                                 [&system] { return system.NewDnsId(); });
    };
    return RunSmtpConversation(client, system.Network(), findMx);
}

bool RunMailJob(TSendJob& job, IDeliverySystem& system) {
    BeginProgress(job);
    const std::vector<std::string> recipients = SplitRecipients(job.Recipients);
    bool result = false;
    if (!recipients.empty()) {
        const bool direct = job.Server.empty();
        const std::vector<TPlannedStage> plan =
            SmtpStagePlan(direct, AttachmentSizes(system.Files(), MailAttachments(job)));
        job.StagesPerRecipient = int32_t(plan.size());
        const size_t conversations = direct ? recipients.size() : 1;
        if (job.Progress) {
            for (size_t i = 0; i < conversations; ++i)
                AddStages(job, plan);
            job.Progress->StageDone();
        }
        if (!direct) {
            result = SmtpSend(NormaliseRecipients(job.Recipients), job, system);
            if (job.Progress) job.Progress->SetCurrentStage(job.StagesPerRecipient);
        } else {
            for (size_t i = 0; i < recipients.size(); ++i) {
                if (SmtpSend(recipients[i], job, system)) result = true;
                if (job.Progress) job.Progress->SetCurrentStage(int32_t(i + 1) * job.StagesPerRecipient);
            }
        }
    }
    EndProgress(job);
    return result;
}

bool HttpUpload(TSendJob& job, IDeliverySystem& system) {
    const TDeliverySwitches& switches = DeliverySwitches();
    THttpJob http;
    http.Url = job.UploadUrl;
    http.Port = job.Port;
    http.Account = job.Account;
    http.Password = job.Password;
    http.Sender = job.Sender;
    http.Fields = job.Fields;
    const size_t n =
        std::min({job.AttachmentFiles.size(), job.AttachmentSendAs.size(), job.AttachmentFieldNames.size()});
    for (size_t i = 0; i < n; ++i)
        http.Attachments.push_back(
            {job.AttachmentFiles[i], job.AttachmentSendAs[i], job.AttachmentFieldNames[i]});
    if (!switches.IgnoreSystemProxy) http.Proxy = system.SystemProxy();
    THttpUploadClient client(http, system.Files(), job.Progress);
    if (job.Progress) {
        AddStages(job, client.StagePlan());
        job.Progress->StageDone();
    }
    // A wait of 0 would give up on any server that does not answer at once.
    const int timeout = switches.HttpReplyTimeout > 0 ? switches.HttpReplyTimeout : 1;
    const bool result = RunHttpUpload(client, system.Network(), timeout);
    if (result && !client.Location().empty()) system.OpenInBrowser(client.Location());
    return result;
}

bool RunUploadJob(TSendJob& job, IDeliverySystem& system) {
    BeginProgress(job);
    const bool result = HttpUpload(job, system);
    EndProgress(job);
    return result;
}

std::vector<std::string> SplitNameServers(std::string_view text) {
    const char separator = text.find(',') != std::string_view::npos ? ',' : ' ';
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find(separator, at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view item = text.substr(at, end - at);
        while (!item.empty() && uint8_t(item.front()) <= ' ')
            item.remove_prefix(1);
        while (!item.empty() && uint8_t(item.back()) <= ' ')
            item.remove_suffix(1);
        if (!item.empty()) out.emplace_back(item);
        at = end + 1;
    }
    return out;
}

std::vector<std::string> MergeDnsServers(const std::string& current, const std::vector<std::string>& listed) {
    std::vector<std::string> out;
    if (!current.empty()) out.push_back(current);
    for (const std::string& s : listed)
        if (!s.empty() && (out.empty() || s != out.front())) out.push_back(s);
    return out;
}
