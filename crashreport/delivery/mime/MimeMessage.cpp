#include "crashreport/delivery/mime/MimeMessage.h"

#include "crashreport/delivery/mail/MailAddress.h"
#include "crashreport/delivery/mime/Base64.h"
#include "crashreport/ui/ProgressStages.h"

#include <algorithm>

std::string_view AttachmentContentType(std::string_view path) {
    if (path.size() >= 4) {
        std::string tail(path.substr(path.size() - 4));
        std::transform(tail.begin(), tail.end(), tail.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
        if (tail == ".png") return "image/png";
    }
    return "application/octet-stream";
}

std::string QuotedFileName(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (c == '"' || c == '\\' || c == '\r' || c == '\n' || c == '\0') c = '_';
    return out;
}

namespace {

// Raw bytes per piece: whole base64 lines.
constexpr size_t BlockBytes = 256 * Base64PieceSize;
static_assert(BlockBytes / Base64PieceSize * (76 + 2) <= TMimeComposer::MaxPiece);

void AppendLine(std::string& out, std::string_view line) {
    out += line;
    out += "\r\n";
}

} // namespace

TMimeComposer::TMimeComposer(const TMailMessage& message, IFileAccess& files)
    : FMessage(message), FFiles(files), FMultipart(!message.Attachments.empty()) {}

TMimeComposer::~TMimeComposer() = default;

TMimeComposer::TEvent TMimeComposer::Next(std::string& out) {
    switch (FPhase) {
    case TPhase::Header: {
        const std::string boundary(MultipartBoundary);
        AppendLine(out, "To: " + HeaderRecipients(FMessage.Recipients));
        AppendLine(out, "From: " + HeaderForm(FMessage.Sender));
        AppendLine(out, "Subject: " + EncodeSubject(FMessage.Subject, FMessage.Utf8Subject));
        AppendLine(out, "Date: " + MailDate(FMessage.Time));
        AppendLine(out, "Message-ID: " + MessageId(FMessage.Time));
        if (FMultipart) {
            AppendLine(out, "MIME-Version: 1.0");
            AppendLine(out, "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"");
        }
        FPhase = TPhase::Text;
        return TEvent::HeaderDone;
    }
    case TPhase::Text:
        AppendLine(out, "");
        if (FMultipart) {
            AppendLine(out, "This is a multi-part message in MIME format.");
            AppendLine(out, "");
            AppendLine(out, "--" + std::string(MultipartBoundary));
            AppendLine(out, "Content-Type: text/plain; charset=\"iso-8859-1\"");
            AppendLine(out, "Content-Transfer-Encoding: 8bit");
            AppendLine(out, "");
        }
        FPhase = TPhase::Body;
        [[fallthrough]];
    case TPhase::Body: {
        const size_t n = std::min(MaxPiece, FMessage.Body.size() - FBodyAt);
        out.append(FMessage.Body, FBodyAt, n);
        FBodyAt += n;
        if (FBodyAt < FMessage.Body.size()) return TEvent::Data;
        if (FMultipart) {
            out += "\r\n";
            FPhase = TPhase::NextAttachment;
        } else {
            FPhase = TPhase::Finished;
        }
        return TEvent::TextDone;
    }
    case TPhase::NextAttachment:
        return NextAttachment(out);
    case TPhase::Attachment:
        return AttachmentPiece(out);
    case TPhase::Closing:
        AppendLine(out, "--" + std::string(MultipartBoundary) + "--");
        FPhase = TPhase::Finished;
        return TEvent::Finished;
    case TPhase::Finished:
        return TEvent::Finished;
    case TPhase::ReadFailed:
        return TEvent::ReadFailed;
    }
    return TEvent::Finished;
}

TMimeComposer::TEvent TMimeComposer::NextAttachment(std::string& out) {
    // Missing files and empty ones add no part.
    while (FAttachment < FMessage.Attachments.size()) {
        const TMailAttachment& a = FMessage.Attachments[FAttachment++];
        std::unique_ptr<IFileReader> reader = FFiles.OpenRead(a.File);
        TFileInfo info;
        if (!reader || !reader->Info(info) || info.Size == 0) continue;
        FReader = std::move(reader);
        FSize = info.Size;
        FSent = 0;
        FPosition = 0;
        const std::string name = QuotedFileName(a.SendAs);
        AppendLine(out, "--" + std::string(MultipartBoundary));
        AppendLine(out,
                   "Content-Type: " + std::string(AttachmentContentType(a.File)) + "; name=\"" + name + "\"");
        AppendLine(out, "Content-Transfer-Encoding: base64");
        AppendLine(out, "Content-Disposition: attachment; filename=\"" + name + "\"");
        AppendLine(out, "");
        FPhase = TPhase::Attachment;
        return TEvent::Data;
    }
    FPhase = TPhase::Closing;
    return Next(out);
}

TMimeComposer::TEvent TMimeComposer::AttachmentPiece(std::string& out) {
    // The size read when the part began is what is sent: a file that grows meanwhile (a log)
    // would otherwise never end.
    const size_t want = size_t(std::min<uint64_t>(BlockBytes, FSize - FSent));
    FBlock.resize(want);
    size_t have = 0;
    while (have < want) {
        size_t done = 0;
        if (!FReader->Read(FBlock.data() + have, want - have, done)) {
            FReader.reset();
            FPhase = TPhase::ReadFailed;
            return TEvent::ReadFailed;
        }
        if (done == 0) break; // the file shrank: what is there is all
        have += done;
    }
    for (size_t i = 0; i < have; i += Base64PieceSize) {
        AppendBase64(out, FBlock.data() + i, std::min<size_t>(Base64PieceSize, have - i));
        out += "\r\n";
    }
    FSent += have;
    if (have < want) FSent = FSize;
    FPosition = int32_t(MulDivFloor(FSent, 1000, FSize));
    if (FSent < FSize) return TEvent::AttachmentProgress;
    FReader.reset();
    FPhase = TPhase::NextAttachment;
    return TEvent::AttachmentDone;
}
