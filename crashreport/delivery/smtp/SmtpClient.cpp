#include "crashreport/delivery/smtp/SmtpClient.h"

#include "crashreport/delivery/mail/MailAddress.h"
#include "crashreport/delivery/mime/Base64.h"

std::string PadDotLines(std::string_view body) {
    std::string out;
    out.reserve(body.size());
    size_t at = 0;
    while (at <= body.size()) {
        size_t end = body.find("\r\n", at);
        const bool last = end == std::string_view::npos;
        if (last) end = body.size();
        const std::string_view line = body.substr(at, end - at);
        out += line;
        if (line == ".") out += ' ';
        if (last) break;
        out += "\r\n";
        at = end + 2;
    }
    return out;
}

std::vector<TPlannedStage> SmtpStagePlan(bool lookup, const std::vector<uint64_t>& attachmentSizes) {
    std::vector<TPlannedStage> plan;
    if (lookup) plan.push_back({"MxLookMsg", 500});
    plan.push_back({"ConnMsg", 100}); // before connecting
    plan.push_back({"", 100});        // connected
    plan.push_back({"", 200});        // EHLO or HELO
    plan.push_back({"AuthMsg", 200});
    plan.push_back({"SendMailMsg", 100}); // MAIL FROM
    for (int i = 0; i < 4; ++i)
        plan.push_back({"", 100}); // RCPT TO, DATA, header block, text part
    for (uint64_t size : attachmentSizes)
        if (size) plan.push_back({"SendAttMsg", 3 * Base64Pieces(size)});
    plan.push_back({"SendFinalMsg", 500}); // the final dot
    plan.push_back({"", 100});             // QUIT
    return plan;
}

std::vector<uint64_t> AttachmentSizes(IFileAccess& files, const std::vector<TMailAttachment>& attachments) {
    std::vector<uint64_t> sizes;
    for (const TMailAttachment& a : attachments) {
        TFileInfo info;
        auto reader = files.OpenRead(a.File);
        sizes.push_back(reader && reader->Info(info) ? info.Size : 0);
    }
    return sizes;
}

TSmtpClient::TSmtpClient(const TSmtpJob& job, std::string_view recipients, IFileAccess& files,
                         IDeliveryProgress* progress)
    : FJob(job), FFiles(files), FProgress(progress), FRecipientText(recipients),
      FRecipients(SplitRecipients(recipients)), FServer(job.Server) {}

TSmtpClient::~TSmtpClient() = default;

void TSmtpClient::StageDone() {
    if (FProgress) FProgress->StageDone();
}

void TSmtpClient::Start() {
    // A line break in any text that goes into a command or header line would let it add
    // commands or headers of its own.
    const bool unsafe = HasLineBreak(FRecipientText) || HasLineBreak(FJob.Sender) ||
                        HasLineBreak(FJob.MailFromOverride) || HasLineBreak(FJob.HeloName) ||
                        HasLineBreak(FJob.Server);
    if (FRecipients.empty() || unsafe) return Finish(false);
    if (FServer.empty()) {
        FWant = TWant::LookupMx;
        return;
    }
    BeginConnect();
}

void TSmtpClient::MxFound(std::string host) {
    if (FWant != TWant::LookupMx) return;
    FServer = HasLineBreak(host) ? std::string() : std::move(host);
    StageDone();
    BeginConnect();
}

void TSmtpClient::BeginConnect() {
    StageDone();
    // No server: nothing to connect to, the same failure as an unknown host.
    if (FServer.empty()) return Finish(false);
    FWant = TWant::Connect;
}

void TSmtpClient::Connected(bool ok) {
    if (FWant != TWant::Connect) return;
    if (!ok) return Finish(false);
    StageDone();
    Expect(TStep::Greeting);
}

void TSmtpClient::Command(TStep step, std::string_view text) {
    FStep = step;
    FOut.assign(text);
    FOut += "\r\n";
    FWant = TWant::Send;
}

std::string_view TSmtpClient::ReplyCode(TStep step) {
    switch (step) {
    case TStep::Greeting:
        return "220";
    case TStep::AuthLogin:
    case TStep::AuthUser:
        return "334";
    case TStep::AuthPass:
        return "235";
    case TStep::Data:
        return "354";
    case TStep::Quit:
        return "221";
    default:
        return "250";
    }
}

void TSmtpClient::Expect(TStep step) {
    FStep = step;
    FReader.Begin(ReplyCode(step), step == TStep::Ehlo);
    FWant = TWant::Receive;
    // What the server sent beyond its previous reply may already hold this one.
    if (FReader.Poll() != TSmtpReplyReader::TState::NeedMore)
        Replied(FReader.State() == TSmtpReplyReader::TState::Accepted);
}

void TSmtpClient::Sent(bool ok) {
    if (FWant != TWant::Send) return;
    FOut.clear();
    if (FStep == TStep::Message) {
        // Cut off in the middle of the message: only closing the connection keeps the server
        // from delivering what it has so far.
        if (!ok) return Finish(false);
        switch (FPending) {
        case TMimeComposer::TEvent::HeaderDone:
        case TMimeComposer::TEvent::TextDone:
            StageDone();
            break;
        case TMimeComposer::TEvent::AttachmentProgress:
            if (FProgress) FProgress->SetStagePosition(FComposer->AttachmentPosition());
            break;
        case TMimeComposer::TEvent::AttachmentDone:
            if (FProgress) FProgress->SetStagePosition(1000);
            StageDone();
            break;
        default:
            break;
        }
        if (FPending == TMimeComposer::TEvent::Finished) return Command(TStep::Dot, "\r\n.");
        return ComposeMore();
    }
    if (!ok) {
        FReader.Reset();
        return Replied(false);
    }
    Expect(FStep);
}

void TSmtpClient::Received(const uint8_t* data, size_t count) {
    if (FWant != TWant::Receive) return;
    if (FReader.Feed(data, count) != TSmtpReplyReader::TState::NeedMore)
        Replied(FReader.State() == TSmtpReplyReader::TState::Accepted);
}

void TSmtpClient::ReceiveFailed() {
    if (FWant != TWant::Receive) return;
    FReader.Reset();
    Replied(false);
}

void TSmtpClient::Replied(bool ok) {
    switch (FStep) {
    case TStep::Greeting:
        if (!ok) return Finish(false);
        return Command(TStep::Ehlo, "EHLO " + FJob.HeloName);
    case TStep::Ehlo:
        if (!ok) return Command(TStep::Helo, "HELO " + FJob.HeloName);
        FAuthLogin = FReader.AuthLogin();
        return AfterHello();
    case TStep::Helo:
        if (!ok) return Finish(false);
        FAuthLogin = false;
        return AfterHello();
    case TStep::AuthLogin:
        if (!ok) return Quit(false);
        return Command(TStep::AuthUser, Base64(FJob.Account));
    case TStep::AuthUser:
        if (!ok) return Quit(false);
        return Command(TStep::AuthPass, Base64(FJob.Password));
    case TStep::AuthPass:
        if (!ok) return Quit(false);
        return AfterAuth();
    case TStep::MailFrom:
        if (!ok) return Quit(false);
        StageDone();
        return NextRecipient();
    case TStep::RcptTo:
        if (ok) ++FAccepted;
        return NextRecipient();
    case TStep::Rset:
        return Quit(ok);
    case TStep::Data:
        if (!ok) return Quit(false);
        StageDone();
        FComposer = std::make_unique<TMimeComposer>(FMessage, FFiles);
        FLineStart = true;
        FStep = TStep::Message;
        return ComposeMore();
    case TStep::Dot:
        // Once the server has taken the mail it is delivered, whatever becomes of the QUIT.
        FDelivered = ok;
        StageDone();
        return Quit(ok);
    case TStep::Quit:
        StageDone();
        return Finish(FDelivered || (FResult && ok));
    case TStep::None:
    case TStep::Message:
        break;
    }
}

void TSmtpClient::AfterHello() {
    StageDone();
    FSender = FJob.Sender.empty() ? FRecipients.front() : FJob.Sender;
    if (FJob.Account.empty() && FJob.Password.empty()) return AfterAuth();
    if (!FAuthLogin) return Quit(false);
    Command(TStep::AuthLogin, "AUTH LOGIN");
}

void TSmtpClient::AfterAuth() {
    StageDone();
    Command(TStep::MailFrom,
            "MAIL FROM:" + (FJob.MailFromOverride.empty() ? AngleForm(FSender) : FJob.MailFromOverride));
}

void TSmtpClient::NextRecipient() {
    if (FNextRecipient < FRecipients.size())
        return Command(TStep::RcptTo, "RCPT TO:" + AngleForm(FRecipients[FNextRecipient++]));
    if (FAccepted == 0) return Quit(false);
    StageDone();
    if (FJob.Body.empty() && FJob.Subject.empty()) return Command(TStep::Rset, "RSET");
    FMessage.Recipients = FRecipientText;
    FMessage.Sender = FSender;
    FMessage.Subject = FJob.Subject;
    FMessage.Body = PadDotLines(FJob.Body);
    FMessage.Utf8Subject = FJob.Utf8MailSubject;
    FMessage.Time = FJob.Time;
    FMessage.Attachments = FJob.Attachments;
    Command(TStep::Data, "DATA");
}

void TSmtpClient::ComposeMore() {
    std::string piece;
    for (;;) {
        piece.clear();
        FPending = FComposer->Next(piece);
        if (FPending == TMimeComposer::TEvent::ReadFailed) return Finish(false);
        if (!piece.empty() || FPending != TMimeComposer::TEvent::Data) break;
    }
    if (piece.empty() && FPending == TMimeComposer::TEvent::Finished) return Command(TStep::Dot, "\r\n.");
    size_t from = 0;
    for (size_t i = 0; i < piece.size(); ++i) {
        const char c = piece[i];
        if (c == '.' && FLineStart) {
            FOut.append(piece, from, i - from);
            FOut += '.';
            from = i;
        }
        FLineStart = c == '\n';
    }
    FOut.append(piece, from, std::string::npos);
    FWant = TWant::Send;
}

void TSmtpClient::Quit(bool result) {
    FResult = result;
    Command(TStep::Quit, "QUIT");
}

void TSmtpClient::Finish(bool result) {
    FResult = result;
    FOut.clear();
    FStep = TStep::None;
    FWant = TWant::Close;
}
