// SMTP replies: any bytes, split anywhere, must end every read and every conversation in a
// defined state, within the reply size limit, without fault.
#include "crashreport/delivery/smtp/SmtpClient.h"

#include <cstdlib>
#include <cstring>

namespace {

class TNoFiles : public IFileAccess {
public:
    std::unique_ptr<IFileReader> OpenRead(const std::string&) override { return nullptr; }
    std::unique_ptr<IFileWriter> Create(const std::string&) override { return nullptr; }
    bool Delete(const std::string&) override { return false; }
};

class TCount : public IDeliveryProgress {
public:
    void StageDone() override { ++Stages; }
    void SetStagePosition(int32_t p) override {
        if (p < 0 || p > 1000) std::abort();
    }
    int Stages = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t chunk = data[0] % 16 + 1;
    ++data;
    --size;

    TSmtpReplyReader reader;
    reader.Begin("250", true);
    for (size_t at = 0; at < size && reader.State() == TSmtpReplyReader::TState::NeedMore; at += chunk)
        reader.Feed(data + at, std::min(chunk, size - at));
    if (reader.State() == TSmtpReplyReader::TState::Accepted && reader.LastLine().compare(0, 3, "250") != 0)
        std::abort();

    // The same bytes as a server's side of a whole conversation.
    TSmtpJob job;
    job.Server = "mail.example.org";
    job.Account = size % 2 ? "user" : "";
    job.HeloName = "fuzz";
    job.Subject = "s";
    job.Body = "b\r\n.\r\n";
    job.Attachments = {{"x", "x"}};
    TNoFiles files;
    TCount progress;
    TSmtpClient smtp(job, "a@example.org,b@example.org", files, &progress);
    smtp.Start();
    size_t at = 0;
    for (int steps = 0; smtp.Want() != TSmtpClient::TWant::Close; ++steps) {
        if (steps > 1000 + 2 * int(size)) std::abort(); // every step consumes input or ends
        switch (smtp.Want()) {
        case TSmtpClient::TWant::LookupMx:
            smtp.MxFound("mx");
            break;
        case TSmtpClient::TWant::Connect:
            smtp.Connected(true);
            break;
        case TSmtpClient::TWant::Send:
            smtp.Sent(true);
            break;
        case TSmtpClient::TWant::Receive:
            if (at >= size) {
                smtp.ReceiveFailed();
            } else {
                const size_t n = std::min(chunk, size - at);
                smtp.Received(data + at, n);
                at += n;
            }
            break;
        case TSmtpClient::TWant::Close:
            break;
        }
    }
    if (progress.Stages > 11) std::abort();
    return 0;
}
