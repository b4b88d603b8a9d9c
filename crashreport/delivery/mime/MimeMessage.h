#pragma once
// The bug report mail as it goes out: the header block, and, with attachments, multipart/mixed
// with the text part and one base64 part per attachment file. Composed piece by piece so that a
// large attachment never sits in memory as a whole and the sender can show its progress.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/base/FileAccess.h"
#include "crashreport/delivery/mime/MimeText.h"

// Shared by the mail and the HTTP upload. "=_" cannot occur in base64 or Q-encoded text.
inline constexpr std::string_view MultipartBoundary = "=_ZembrakMailPart_5C1D9E3A7B2F604";
static_assert(MultipartBoundary.size() == 33);

// One line of base64 is 76 characters: 57 bytes.
inline constexpr uint64_t Base64PieceSize = 57;

struct TMailAttachment {
    std::string File;   // full path
    std::string SendAs; // file name shown to the receiver
};

struct TMailMessage {
    std::string Recipients; // the list, for the To: line
    std::string Sender;
    std::string Subject;
    std::string Body; // sent as it is: line ends are the caller's
    bool Utf8Subject = false;
    TFileTime Time = 0; // for Date: and Message-ID:
    std::vector<TMailAttachment> Attachments;
};

// "image/png" for a path ending in ".png" in any case, else "application/octet-stream".
std::string_view AttachmentContentType(std::string_view path);

// The send-as name inside the quoted name= and filename= parameters: characters that would end
// the quotes or the header line become "_".
std::string QuotedFileName(std::string_view name);

class TMimeComposer {
public:
    enum class TEvent {
        Data,               // more of the current block
        HeaderDone,         // the header block is complete
        TextDone,           // the text part (or the body of a plain mail) is complete
        AttachmentProgress, // AttachmentPosition() changed
        AttachmentDone,
        Finished,  // the message is complete; nothing more follows
        ReadFailed // an attachment could not be read to its end: the message must not be sent
    };

    // Body text and attachment lines come in pieces of at most this size (headers add a few
    // hundred bytes to the first piece of a part).
    static constexpr size_t MaxPiece = 20 * 1024;

    TMimeComposer(const TMailMessage& message, IFileAccess& files);
    ~TMimeComposer();

    // Appends the next piece of the message to `out` and tells what it completed. After
    // Finished or ReadFailed it appends nothing and repeats that event.
    TEvent Next(std::string& out);
    // 1000 times the bytes of the current attachment sent so far divided by its size.
    int32_t AttachmentPosition() const { return FPosition; }

private:
    enum class TPhase { Header, Text, Body, NextAttachment, Attachment, Closing, Finished, ReadFailed };

    TEvent NextAttachment(std::string& out);
    TEvent AttachmentPiece(std::string& out);

    const TMailMessage& FMessage;
    IFileAccess& FFiles;
    const bool FMultipart;
    TPhase FPhase = TPhase::Header;
    size_t FBodyAt = 0;
    size_t FAttachment = 0; // the next one to open
    std::unique_ptr<IFileReader> FReader;
    uint64_t FSize = 0, FSent = 0;
    int32_t FPosition = 0;
    std::vector<uint8_t> FBlock;
};

// The number of base64 lines of an attachment of `size` bytes.
constexpr uint64_t Base64Pieces(uint64_t size) {
    return (size + Base64PieceSize - 1) / Base64PieceSize;
}
