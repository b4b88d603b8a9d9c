#pragma once
// One SMTP conversation (SmtpSend) as a state machine without I/O: the caller looks up the mail
// exchanger, connects, sends and receives as Want() says and feeds the outcome back; the
// conversation completes its progress stages and ends with Result().
//
//     TSmtpClient smtp(job, recipients, files, &progress);
//     smtp.Start();
//     for (;;) {
//         switch (smtp.Want()) {
//         case TWant::LookupMx: smtp.MxFound(FindMailExchanger(smtp.Recipients())); break;
//         case TWant::Connect: smtp.Connected(socket.Connect(smtp.Server(), smtp.Port())); break;
//         case TWant::Send: smtp.Sent(socket.SendAll(smtp.Output())); break;
//         case TWant::Receive: n = socket.Receive(buf, SmtpReceiveSize, SmtpReplyWaitSeconds);
//                              n > 0 ? smtp.Received(buf, n) : smtp.ReceiveFailed(); break;
//         case TWant::Close: socket.Close(); return smtp.Result();
//         }
//     }
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/base/FileAccess.h"
#include "crashreport/delivery/DeliveryProgress.h"
#include "crashreport/delivery/mime/MimeMessage.h"
#include "crashreport/delivery/smtp/SmtpReply.h"

inline constexpr int SmtpReplyWaitSeconds = 7;
inline constexpr size_t SmtpReceiveSize = 1024; // per receive
inline constexpr size_t SmtpSendPiece = 1024;   // per send call

struct TSmtpJob {
    std::string Server; // host name or dotted IPv4 address; empty: the mail exchanger is looked up
    int32_t Port = 25;
    std::string Account, Password; // AUTH LOGIN when either is set
    std::string Sender;            // may be empty
    std::string MailFromOverride;  // `MailFromOverride`: used verbatim as the MAIL FROM: argument
    std::string HeloName;          // the computer's name
    std::string Subject, Body;
    bool Utf8MailSubject = false; // `Utf8MailSubject`
    TFileTime Time = 0;           // now, for Date: and Message-ID:
    std::vector<TMailAttachment> Attachments;
};

// Every line that holds only a dot gets a trailing blank, so the receiver sees ". ".
std::string PadDotLines(std::string_view body);

// The stages one conversation adds to the progress window: with `lookup` the mail exchanger
// search first; one "SendAttMsg" stage, of weight three per base64 line, per attachment of
// non-zero size (0 in `attachmentSizes` for a missing or empty file).
std::vector<TPlannedStage> SmtpStagePlan(bool lookup, const std::vector<uint64_t>& attachmentSizes);
// The sizes for SmtpStagePlan: 0 for a file that is missing or cannot be opened.
std::vector<uint64_t> AttachmentSizes(IFileAccess& files, const std::vector<TMailAttachment>& attachments);

class TSmtpClient {
public:
    enum class TWant {
        LookupMx, // find the mail exchanger of Recipients(), then MxFound
        Connect,  // connect to Server():Port(), then Connected
        Send,     // send Output() completely (in pieces of SmtpSendPiece), then Sent
        Receive,  // wait up to SmtpReplyWaitSeconds and receive, then Received or ReceiveFailed
        Close     // close the connection, if there is one; Result() holds the outcome
    };

    TSmtpClient(const TSmtpJob& job, std::string_view recipients, IFileAccess& files,
                IDeliveryProgress* progress);
    ~TSmtpClient();

    void Start();
    TWant Want() const { return FWant; }

    const std::string& Recipients() const { return FRecipientText; }
    void MxFound(std::string host);

    const std::string& Server() const { return FServer; }
    int32_t Port() const { return FJob.Port; }
    void Connected(bool ok);

    std::string_view Output() const { return FOut; }
    void Sent(bool ok);

    void Received(const uint8_t* data, size_t count);
    void ReceiveFailed();

    // True only when the server accepted the mail (or, for a mail without subject and body,
    // the reset) and, for the reset, also the QUIT.
    bool Result() const { return FResult; }
    // Whether the server offered AUTH LOGIN in its EHLO reply.
    bool OffersAuthLogin() const { return FAuthLogin; }

private:
    enum class TStep {
        None,
        Greeting,
        Ehlo,
        Helo,
        AuthLogin,
        AuthUser,
        AuthPass,
        MailFrom,
        RcptTo,
        Rset,
        Data,
        Message,
        Dot,
        Quit
    };

    static std::string_view ReplyCode(TStep step);
    void BeginConnect();
    void Command(TStep step, std::string_view text);
    void Expect(TStep step);
    void Replied(bool ok);
    void AfterHello();
    void AfterAuth();
    void NextRecipient();
    void ComposeMore();
    void Quit(bool result);
    void Finish(bool result);
    void StageDone();

    const TSmtpJob FJob;
    IFileAccess& FFiles;
    IDeliveryProgress* FProgress;
    std::string FRecipientText;
    std::vector<std::string> FRecipients;
    std::string FServer, FSender;
    TMailMessage FMessage;
    std::unique_ptr<TMimeComposer> FComposer;
    TMimeComposer::TEvent FPending = TMimeComposer::TEvent::Data; // of the piece being sent

    TWant FWant = TWant::Close;
    TStep FStep = TStep::None;
    TSmtpReplyReader FReader;
    std::string FOut;
    bool FAuthLogin = false;
    size_t FNextRecipient = 0, FAccepted = 0;
    bool FDelivered = false, FResult = false;
    // Transparency: a line that starts with "." gets a second one, which the server removes.
    // A bare LF counts as a line end too: some servers end lines there.
    bool FLineStart = true;
};
