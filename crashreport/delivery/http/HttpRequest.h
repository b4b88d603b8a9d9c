#pragma once
// The upload's request as it goes out: the form fields, the parts of the attachment files, the
// exact Content-Length, the target URL and the proxy, and the header block.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The form fields: ordered (name, content) pairs with unique names.
class TFormFields {
public:
    struct TField {
        std::string Name, Content;
    };

    // The content is trimmed of blanks and control characters at both ends; an empty one removes
    // the field, a known name keeps its place, a new one is appended.
    void Set(std::string_view name, std::string_view content);
    const std::vector<TField>& Items() const { return FItems; }

private:
    std::vector<TField> FItems;
};

// `AddFields` holds one field per line as "name=content"; lines without a name are no fields.
TFormFields ParseAddFields(std::string_view text);
// The configured fields and then "MailFrom", "MailSubject", "MailBody" and "MailAddr".
TFormFields UploadFields(std::string_view addFields, std::string_view sender, std::string_view subject,
                         std::string_view body, std::string_view recipients);

// Per field: CR LF, the boundary line and the field's header, an empty line, the content. Its
// leading CR LF ends the request's header block.
std::string FieldsText(const TFormFields& fields);
// The header of a file part, from its leading CR LF to the empty line before the file's bytes.
std::string FilePartHeader(std::string_view fieldName, std::string_view sendAs);
// CR LF, the closing boundary line and its CR LF.
std::string ClosingBoundary();

// What the length counts of one attachment file of non-zero size.
struct TFilePartSize {
    uint64_t FieldName = 0, SendAs = 0, FileSize = 0;
};
// The file part's header and bytes: send-as, field name and file size plus 102 and the boundary.
uint64_t FilePartLength(const TFilePartSize& part);
// The body's exact length: whatever comes first (a field, a file part or the closing line)
// begins with the CR LF that ends the header block, which the body does not count.
uint64_t HttpContentLength(uint64_t fieldsTextLength, const std::vector<TFilePartSize>& parts);

struct THttpUrl {
    std::string Host;
    int32_t Port = 80;
    std::string Path; // begins with "/"
};

// Drops the scheme; the host ends at the first "/", "?" or "#", and without a path the path is
// "/". A port in the URL ("host:8080") is the one connected to and named; else `defaultPort`.
// False when there is no host or the port is no port.
bool SplitUrl(std::string_view url, int32_t defaultPort, THttpUrl& out);

struct THttpProxy {
    std::string Host; // empty: no proxy, connect to the URL's host
    int32_t Port = 0;
};

// The proxy for plain HTTP from the system's proxy text: a single "host:port" for every
// protocol, or a per-protocol list ("http=host:port https=... ftp=...", entries separated by
// blanks or ";") whose HTTP entry is used, else its entry without a protocol; a list with
// neither means no proxy. A missing or unreadable port gives `defaultPort`.
THttpProxy ChooseProxy(std::string_view proxyText, int32_t defaultPort);

struct THttpRequestHead {
    THttpUrl Url;
    bool ViaProxy = false;         // the request line names the whole URL, as a proxy needs it
    std::string Sender;            // "From:" in angle form when set
    std::string Account, Password; // Basic authentication when either is set
    uint64_t ContentLength = 0;
};

// The request line and header lines, each ended by CR LF, without the empty line that ends the
// block: the fields text (or the first part) brings it.
std::string RequestHead(const THttpRequestHead& head);
