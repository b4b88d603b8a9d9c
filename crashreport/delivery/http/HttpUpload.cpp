#include "crashreport/delivery/http/HttpUpload.h"

#include "crashreport/delivery/mail/MailAddress.h"
#include "crashreport/ui/ProgressStages.h"

namespace {

// File bytes per send: the progress moves after each.
constexpr size_t BlockBytes = 16 * 1024;

} // namespace

THttpUploadClient::THttpUploadClient(const THttpJob& job, IFileAccess& files, IDeliveryProgress* progress)
    : FJob(job), FFiles(files), FProgress(progress), FFieldsText(FieldsText(job.Fields)) {
    std::vector<TFilePartSize> parts;
    for (const THttpAttachment& a : FJob.Attachments) {
        TFileInfo info;
        auto reader = FFiles.OpenRead(a.File);
        FSizes.push_back(reader && reader->Info(info) ? info.Size : 0);
        if (FSizes.back()) parts.push_back({a.FieldName.size(), a.SendAs.size(), FSizes.back()});
    }
    // A line break in what goes into the head would let it add header lines of its own.
    FValid = SplitUrl(FJob.Url, FJob.Port, FHead.Url) && !HasLineBreak(FJob.Sender);
    const THttpProxy proxy = ChooseProxy(FJob.Proxy, FJob.Port);
    FHead.ViaProxy = !proxy.Host.empty();
    FConnectHost = FHead.ViaProxy ? proxy.Host : FHead.Url.Host;
    FConnectPort = FHead.ViaProxy ? proxy.Port : FHead.Url.Port;
    FHead.Sender = FJob.Sender;
    FHead.Account = FJob.Account;
    FHead.Password = FJob.Password;
    FHead.ContentLength = HttpContentLength(FFieldsText.size(), parts);
}

THttpUploadClient::~THttpUploadClient() = default;

std::vector<TPlannedStage> THttpUploadClient::StagePlan() const {
    std::vector<TPlannedStage> plan;
    plan.push_back({"ConnMsg", 100}); // before connecting
    plan.push_back({"", 100});        // connected
    plan.push_back({"FieldMsg", FFieldsText.size() + 100});
    for (size_t i = 0; i < FSizes.size(); ++i) {
        const THttpAttachment& a = FJob.Attachments[i];
        if (FSizes[i])
            plan.push_back(
                {"SendAttMsg", FilePartLength({a.FieldName.size(), a.SendAs.size(), FSizes[i]}) / 16});
    }
    plan.push_back({"", 100});             // the closing boundary
    plan.push_back({"SendFinalMsg", 500}); // the reply
    return plan;
}

void THttpUploadClient::StageDone() {
    if (FProgress) FProgress->StageDone();
}

void THttpUploadClient::Start() {
    if (!FValid || FConnectHost.empty()) return Finish(false);
    StageDone();
    FWant = TWant::Connect;
}

void THttpUploadClient::Connected(bool ok) {
    if (FWant != TWant::Connect) return;
    if (!ok) return Finish(false);
    StageDone();
    FOut = RequestHead(FHead) + FFieldsText;
    FStep = TStep::Head;
    FWant = TWant::Send;
}

void THttpUploadClient::Sent(bool ok) {
    if (FWant != TWant::Send) return;
    FOut.clear();
    // A request cut short is abandoned: closing the connection keeps the server from taking
    // the part that arrived for the whole.
    if (!ok) return Finish(false);
    switch (FStep) {
    case TStep::Head:
        StageDone();
        return NextAttachment();
    case TStep::Attachment:
        if (FProgress) FProgress->SetStagePosition(int32_t(MulDivFloor(FSent, 1000, FSize)));
        if (FSent < FSize) return SendPiece();
        FReader.reset();
        StageDone();
        return NextAttachment();
    case TStep::Closing:
        StageDone();
        FStep = TStep::Reply;
        FWant = TWant::Receive;
        return;
    case TStep::None:
    case TStep::Reply:
        break;
    }
}

void THttpUploadClient::NextAttachment() {
    while (FAttachment < FJob.Attachments.size()) {
        const size_t i = FAttachment++;
        // Missing and empty files have no part: the Content-Length counted none.
        if (FSizes[i] == 0) continue;
        const THttpAttachment& a = FJob.Attachments[i];
        FReader = FFiles.OpenRead(a.File);
        if (!FReader) return Finish(false);
        FSize = FSizes[i];
        FSent = 0;
        FOut = FilePartHeader(a.FieldName, a.SendAs);
        return SendPiece();
    }
    FOut = ClosingBoundary();
    FStep = TStep::Closing;
    FWant = TWant::Send;
}

void THttpUploadClient::SendPiece() {
    // Exactly the size measured at the start is sent: the Content-Length promised it. A file
    // that grew since is cut there; one that shrank fails.
    const size_t want = size_t(std::min<uint64_t>(BlockBytes, FSize - FSent));
    const size_t at = FOut.size();
    FOut.resize(at + want);
    size_t have = 0;
    while (have < want) {
        size_t done = 0;
        if (!FReader->Read(FOut.data() + at + have, want - have, done) || done == 0) {
            FReader.reset();
            return Finish(false);
        }
        have += done;
    }
    FSent += want;
    FStep = TStep::Attachment;
    FWant = TWant::Send;
}

void THttpUploadClient::Received(const uint8_t* data, size_t count) {
    if (FWant != TWant::Receive) return;
    if (FReply.Feed(data, count) != THttpReplyReader::TState::NeedMore) Replied();
}

void THttpUploadClient::ReceiveEnded() {
    if (FWant != TWant::Receive) return;
    FReply.End();
    Replied();
}

void THttpUploadClient::Replied() {
    StageDone();
    FLocation = FReply.Location();
    Finish(FReply.State() == THttpReplyReader::TState::Success);
}

void THttpUploadClient::Finish(bool result) {
    FResult = result;
    FOut.clear();
    FStep = TStep::None;
    FWant = TWant::Close;
}
