// HTTP replies: any bytes, split anywhere, must end every read and every upload in a defined
// state, within the reply size limit, without fault; a success carries only a web address.
#include "crashreport/delivery/http/HttpUpload.h"

#include <cstdlib>
#include <cstring>

namespace {

class TNoFiles : public IFileAccess {
public:
    std::unique_ptr<IFileReader> OpenRead(const std::string&) override { return nullptr; }
    std::unique_ptr<IFileWriter> Create(const std::string&) override { return nullptr; }
    bool Delete(const std::string&) override { return false; }
};

void CheckJudged(const THttpReplyReader& reader) {
    using TState = THttpReplyReader::TState;
    if (reader.State() == TState::NeedMore) std::abort();
    if (reader.State() == TState::Success &&
        !(reader.Status() == "200" || (reader.Status() == "302" && IsWebAddress(reader.Location()))))
        std::abort();
    if (reader.State() != TState::Success && !reader.Location().empty()) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t chunk = data[0] % 16 + 1;
    ++data;
    --size;

    THttpReplyReader reader;
    for (size_t at = 0; at < size && reader.State() == THttpReplyReader::TState::NeedMore; at += chunk)
        reader.Feed(data + at, std::min(chunk, size - at));
    reader.End();
    CheckJudged(reader);

    // The same bytes as a whole reply at once must be judged alike.
    THttpReplyReader whole;
    whole.Feed(data, size);
    whole.End();
    if (whole.State() != reader.State() || whole.Location() != reader.Location()) std::abort();

    // And as the server's side of an upload.
    THttpJob job;
    job.Url = "http://bugs.example.org/upload";
    job.Fields.Set("MailBody", "b");
    TNoFiles files;
    THttpUploadClient upload(job, files, nullptr);
    upload.Start();
    size_t at = 0;
    for (int steps = 0; upload.Want() != THttpUploadClient::TWant::Close; ++steps) {
        if (steps > 1000 + 2 * int(size)) std::abort(); // every step consumes input or ends
        switch (upload.Want()) {
        case THttpUploadClient::TWant::Connect:
            upload.Connected(true);
            break;
        case THttpUploadClient::TWant::Send:
            upload.Sent(true);
            break;
        case THttpUploadClient::TWant::Receive:
            if (at >= size) {
                upload.ReceiveEnded();
            } else {
                const size_t n = std::min(chunk, size - at);
                upload.Received(data + at, n);
                at += n;
            }
            break;
        case THttpUploadClient::TWant::Close:
            break;
        }
    }
    if (upload.Result() != (reader.State() == THttpReplyReader::TState::Success)) std::abort();
    return 0;
}
