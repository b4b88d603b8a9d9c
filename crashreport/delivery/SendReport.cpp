#include "crashreport/delivery/SendReport.h"

#include <algorithm>

#include "crashreport/base/Text.h"
#include "crashreport/delivery/mail/MailAddress.h"

namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && uint8_t(s.front()) <= ' ')
        s.remove_prefix(1);
    while (!s.empty() && uint8_t(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return out;
}

} // namespace

void TIMEAttachments::Add(std::string_view file, std::string_view sendAs, std::string_view fieldName,
                          std::string_view zipName) {
    if (file.empty()) return;
    TAttachmentItem item{std::string(file), std::string(sendAs), std::string(fieldName),
                         std::string(zipName)};
    if (item.SendAs.empty()) item.SendAs = ExtractFileName(item.File);
    if (item.FieldName.empty()) {
        const size_t dot = item.SendAs.rfind('.');
        item.FieldName = item.SendAs.substr(0, dot);
    }
    std::lock_guard lock(FLock);
    FItems.push_back(std::move(item));
}

size_t TIMEAttachments::Count() const {
    std::lock_guard lock(FLock);
    return FItems.size();
}

TAttachmentItem TIMEAttachments::Item(size_t i) const {
    std::lock_guard lock(FLock);
    return i < FItems.size() ? FItems[i] : TAttachmentItem();
}

void AddAttachsItems(IMEAttachments& list, std::string_view text) {
    while (!text.empty()) {
        size_t end = text.find_first_of("\r\n");
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(text.size(), end + 1));
        std::string_view values[4];
        for (std::string_view& v : values) {
            const size_t bar = line.find('|');
            v = TrimBlanks(line.substr(0, bar));
            line = bar == std::string_view::npos ? std::string_view() : line.substr(bar + 1);
        }
        list.Add(values[0], values[1], values[2], values[3]);
    }
}

TPreparedAttachments PlanAttachments(const IMEAttachments& list, const TAttachmentSystem& system) {
    TPreparedAttachments out;
    std::vector<std::string> zipsDone;
    const size_t count = list.Count();
    for (size_t i = 0; i < count; ++i) {
        const TAttachmentItem item = list.Item(i);
        const std::string file = system.Absolute(item.File);
        if (!system.Exists(file)) continue;
        if (item.ZipName.empty()) {
            out.Files.push_back(file);
            out.SendAs.push_back(item.SendAs);
            out.FieldNames.push_back(item.FieldName);
            continue;
        }
        const std::string key = Lower(item.ZipName);
        if (std::find(zipsDone.begin(), zipsDone.end(), key) != zipsDone.end()) continue;
        zipsDone.push_back(key);
        std::vector<std::string> files{file}, names{item.SendAs};
        for (size_t j = i + 1; j < count; ++j) {
            const TAttachmentItem member = list.Item(j);
            if (Lower(member.ZipName) != key) continue;
            files.push_back(system.Absolute(member.File));
            names.push_back(member.SendAs);
        }
        const std::string archive = system.TempFolder + item.ZipName;
        if (!system.WriteZip(archive, files, names)) continue;
        out.Files.push_back(archive);
        out.SendAs.push_back(item.ZipName);
        out.FieldNames.push_back(item.ZipName);
    }
    return out;
}

TSendSettings TSendSettings::From(IMESettings& settings) {
    TSendSettings s;
    s.MailAsSmtpServer = settings.ReadBool("MailAsSmtpServer");
    s.MailAsSmtpClient = settings.ReadBool("MailAsSmtpClient");
    s.UploadViaHttp = settings.ReadBool("UploadViaHttp");
    s.MailViaMapi = settings.ReadBool("MailViaMapi");
    s.MailViaMailto = settings.ReadBool("MailViaMailto");
    s.Recipients = settings.ReadText("MailAddr");
    s.SmtpServer = settings.ReadText("SmtpServer");
    s.HttpServer = settings.ReadText("HttpServer");
    return s;
}

TTransport TSendSettings::Configured() const {
    if (MailAsSmtpServer) return TTransport::Direct;
    if (MailAsSmtpClient) return TTransport::SmtpServer;
    if (UploadViaHttp) return TTransport::Upload;
    return TTransport::None;
}

TTransport TSendSettings::Runnable() const {
    const bool recipients = !TrimBlanks(Recipients).empty();
    switch (Configured()) {
    case TTransport::Direct:
        return recipients ? TTransport::Direct : TTransport::None;
    case TTransport::SmtpServer:
        return recipients && !TrimBlanks(SmtpServer).empty() ? TTransport::SmtpServer : TTransport::None;
    case TTransport::Upload:
        return !TrimBlanks(HttpServer).empty() ? TTransport::Upload : TTransport::None;
    case TTransport::None:
        break;
    }
    return TTransport::None;
}

std::vector<TPlannedStage> RoughSendPlan(TTransport transport, bool attachments) {
    std::vector<TPlannedStage> plan{{"PrepAttMsg", 100}};
    if (transport == TTransport::None) return plan;
    const bool mail = transport != TTransport::Upload;
    if (transport == TTransport::Direct) plan.push_back({"MxLookMsg", 100});
    plan.push_back({"ConnMsg", 100});
    if (mail) {
        plan.push_back({"AuthMsg", 200});
        plan.push_back({"SendMailMsg", 100});
    } else {
        plan.push_back({"FieldMsg", 100});
    }
    if (attachments) plan.push_back({"SendAttMsg", 100});
    plan.push_back({"SendFinalMsg", 100});
    return plan;
}

std::string ReportSender(std::string_view mailFrom, std::string_view recipients) {
    if (!TrimBlanks(mailFrom).empty()) return std::string(mailFrom);
    const std::vector<std::string> list = SplitRecipients(recipients);
    return list.empty() ? std::string() : "xunExcept " + AngleForm(list.front());
}

std::string ReportExceptionMessage(std::string_view report) {
    const size_t at = report.find("\r\nexception message ");
    if (at == std::string_view::npos) return {};
    std::string_view line = report.substr(at + 2);
    line = line.substr(0, line.find("\r\n"));
    const size_t colon = line.find(':');
    return colon == std::string_view::npos ? std::string() : std::string(TrimBlanks(line.substr(colon + 1)));
}

std::string ExpandSendText(IMESettings& settings, std::string_view text, const std::string& exceptMsg,
                           const std::string& report) {
    // The module's variables first: the message and the report are put in last, so nothing in
    // them is taken for a variable.
    return ExpandTextVariables(settings.ExpandVariables(text), nullptr, &exceptMsg, &report);
}
