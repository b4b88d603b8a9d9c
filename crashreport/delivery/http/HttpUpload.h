#pragma once
// The upload (HttpUpload) as a state machine without I/O: one POST of multipart/form-data with
// the form fields and the attachment files, then the reply is judged. The caller connects,
// sends and receives as Want() says and feeds the outcome back.
//
//     THttpUploadClient upload(job, files, &progress);
//     for (const TPlannedStage& s : upload.StagePlan()) alert.AddStage(text(s), s.Weight);
//     progress.StageDone(); // the preparation of the attachments
//     upload.Start();
//     for (;;) {
//         switch (upload.Want()) {
//         case TWant::Connect: upload.Connected(socket.Connect(upload.Host(), upload.Port())); break;
//         case TWant::Send: upload.Sent(socket.SendAll(upload.Output())); break;
//         case TWant::Receive: n = socket.Receive(buf, HttpReceiveSize, HttpReplyTimeout);
//                              n > 0 ? upload.Received(buf, n) : upload.ReceiveEnded(); break;
//         case TWant::Close: socket.Close(); return upload.Result(); // then open Location()
//         }
//     }
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/base/FileAccess.h"
#include "crashreport/delivery/DeliveryProgress.h"
#include "crashreport/delivery/http/HttpReply.h"
#include "crashreport/delivery/http/HttpRequest.h"

inline constexpr int HttpReplyTimeoutDefault = 7; // `HttpReplyTimeout`, seconds per wait
inline constexpr size_t HttpReceiveSize = 5120;   // per receive
inline constexpr size_t HttpSendPiece = 1024;     // per send call

struct THttpAttachment {
    std::string File;      // full path
    std::string SendAs;    // file name shown to the receiver
    std::string FieldName; // the form field
};

struct THttpJob {
    std::string Url;               // `HttpServer`
    int32_t Port = 80;             // `HttpPort`
    std::string Account, Password; // Basic authentication when either is set
    std::string Sender;            // may be empty
    TFormFields Fields;
    std::vector<THttpAttachment> Attachments;
    // The system's proxy text as the Internet settings give it; empty for none, and when
    // `IgnoreSystemProxy` is set.
    std::string Proxy;
};

class THttpUploadClient {
public:
    enum class TWant {
        Connect, // connect to Host():Port(), then Connected
        Send,    // send Output() completely (in pieces of HttpSendPiece), then Sent
        Receive, // wait up to the reply timeout and receive, then Received or ReceiveEnded
        Close    // close the connection, if there is one; Result() holds the outcome
    };

    // The attachment files are measured here, once: what the plan, the Content-Length and the
    // parts sent say of them must agree.
    THttpUploadClient(const THttpJob& job, IFileAccess& files, IDeliveryProgress* progress);
    ~THttpUploadClient();

    // The stages the upload completes, for the runner to add before Start.
    std::vector<TPlannedStage> StagePlan() const;

    void Start();
    TWant Want() const { return FWant; }

    // The proxy when there is one, else the URL's host.
    const std::string& Host() const { return FConnectHost; }
    int32_t Port() const { return FConnectPort; }
    void Connected(bool ok);

    std::string_view Output() const { return FOut; }
    void Sent(bool ok);

    void Received(const uint8_t* data, size_t count);
    void ReceiveEnded(); // the connection closed, the wait ran out or the receive failed

    bool Result() const { return FResult; }
    // A successful 302's target, to be opened in the browser; empty otherwise.
    const std::string& Location() const { return FLocation; }

private:
    enum class TStep { None, Head, Attachment, Closing, Reply };

    void NextAttachment();
    void SendPiece();
    void Replied();
    void Finish(bool result);
    void StageDone();

    const THttpJob FJob;
    IFileAccess& FFiles;
    IDeliveryProgress* FProgress;
    THttpRequestHead FHead;
    std::string FFieldsText;
    std::vector<uint64_t> FSizes; // 0 for a file that is missing, unreadable or empty
    bool FValid = false;
    std::string FConnectHost;
    int32_t FConnectPort = 0;

    TWant FWant = TWant::Close;
    TStep FStep = TStep::None;
    std::string FOut;
    size_t FAttachment = 0; // the next one to begin
    std::unique_ptr<IFileReader> FReader;
    uint64_t FSize = 0, FSent = 0;
    THttpReplyReader FReply;
    bool FResult = false;
    std::string FLocation;
};
