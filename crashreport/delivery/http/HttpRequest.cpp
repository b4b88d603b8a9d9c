#include "crashreport/delivery/http/HttpRequest.h"

#include <algorithm>

#include "crashreport/base/Text.h"
#include "crashreport/delivery/mail/MailAddress.h"
#include "crashreport/delivery/mime/Base64.h"
#include "crashreport/delivery/mime/MimeMessage.h"

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && uint8_t(s.front()) <= ' ')
        s.remove_prefix(1);
    while (!s.empty() && uint8_t(s.back()) <= ' ')
        s.remove_suffix(1);
    return s;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

size_t FindNoCase(std::string_view s, std::string_view word) {
    for (size_t i = 0; i + word.size() <= s.size(); ++i) {
        size_t k = 0;
        while (k < word.size() && Lower(s[i + k]) == word[k])
            ++k;
        if (k == word.size()) return i;
    }
    return std::string_view::npos;
}

std::string_view WithoutScheme(std::string_view s) {
    const size_t at = s.find("://");
    return at == std::string_view::npos ? s : s.substr(at + 3);
}

// 1..65535 in decimal digits only.
bool ParsePort(std::string_view s, int32_t& port) {
    if (s.empty() || s.size() > 5) return false;
    int32_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < 1 || v > 65535) return false;
    port = v;
    return true;
}

} // namespace

void TFormFields::Set(std::string_view name, std::string_view content) {
    content = Trim(content);
    for (auto it = FItems.begin(); it != FItems.end(); ++it) {
        if (it->Name != name) continue;
        if (content.empty())
            FItems.erase(it);
        else
            it->Content = content;
        return;
    }
    if (!content.empty()) FItems.push_back({std::string(name), std::string(content)});
}

TFormFields ParseAddFields(std::string_view text) {
    TFormFields fields;
    while (!text.empty()) {
        size_t end = text.find_first_of("\r\n");
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(text.size(), end + 1));
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view name = Trim(line.substr(0, eq));
        if (!name.empty()) fields.Set(name, line.substr(eq + 1));
    }
    return fields;
}

TFormFields UploadFields(std::string_view addFields, std::string_view sender, std::string_view subject,
                         std::string_view body, std::string_view recipients) {
    TFormFields fields = ParseAddFields(addFields);
    // Set only with a value: an empty mail field leaves a configured one of that name alone.
    const std::pair<std::string_view, std::string_view> mail[] = {
        {"MailFrom", sender}, {"MailSubject", subject}, {"MailBody", body}, {"MailAddr", recipients}};
    for (const auto& [name, value] : mail)
        if (!value.empty()) fields.Set(name, value);
    return fields;
}

std::string FieldsText(const TFormFields& fields) {
    std::string out;
    for (const TFormFields::TField& f : fields.Items()) {
        out += "\r\n--";
        out += MultipartBoundary;
        out += "\r\nContent-Disposition: form-data; name=\"";
        out += QuotedFileName(f.Name);
        out += "\"\r\n\r\n";
        out += f.Content;
    }
    return out;
}

std::string FilePartHeader(std::string_view fieldName, std::string_view sendAs) {
    std::string out = "\r\n--";
    out += MultipartBoundary;
    out += "\r\nContent-Disposition: form-data; name=\"";
    out += QuotedFileName(fieldName);
    out += "\"; filename=\"";
    out += QuotedFileName(sendAs);
    out += "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    return out;
}

std::string ClosingBoundary() {
    return "\r\n--" + std::string(MultipartBoundary) + "--\r\n";
}

uint64_t FilePartLength(const TFilePartSize& part) {
    return part.SendAs + part.FileSize + part.FieldName + 102 + MultipartBoundary.size();
}

uint64_t HttpContentLength(uint64_t fieldsTextLength, const std::vector<TFilePartSize>& parts) {
    uint64_t length = fieldsTextLength;
    for (const TFilePartSize& p : parts)
        length += FilePartLength(p);
    return length + 6 + MultipartBoundary.size();
}

bool SplitUrl(std::string_view url, int32_t defaultPort, THttpUrl& out) {
    std::string_view rest = WithoutScheme(Trim(url));
    const size_t end = rest.find_first_of("/?#");
    std::string_view host = rest.substr(0, end);
    std::string path(end == std::string_view::npos ? "" : rest.substr(end));
    if (path.empty() || path.front() != '/') path.insert(0, "/");
    // A fragment belongs to the browser, never to the request.
    path.erase(std::min(path.size(), path.find('#')));
    out.Port = defaultPort;
    const size_t colon = host.rfind(':');
    if (colon != std::string_view::npos) {
        if (!ParsePort(host.substr(colon + 1), out.Port)) return false;
        host = host.substr(0, colon);
    }
    // The request line holds the path as one word of printable ASCII.
    out.Path.clear();
    for (char c : path) {
        const uint8_t b = uint8_t(c);
        if (b > ' ' && b < 0x7F) {
            out.Path += c;
        } else {
            out.Path += '%';
            AppendHex(out.Path, b, 2);
        }
    }
    out.Host = host;
    const bool hostOk =
        std::all_of(host.begin(), host.end(), [](char c) { return uint8_t(c) > ' ' && c != 0x7F; });
    return !out.Host.empty() && hostOk;
}

THttpProxy ChooseProxy(std::string_view proxyText, int32_t defaultPort) {
    std::string_view text = Trim(proxyText);
    if (text.find('=') != std::string_view::npos) {
        // Only an entry of its own counts: "xhttp=" and "https=" are other protocols.
        size_t at = 0;
        for (;;) {
            const size_t found = FindNoCase(text.substr(at), "http=");
            if (found == std::string_view::npos) {
                at = text.size();
                break;
            }
            at += found;
            if (at == 0 || text[at - 1] == ' ' || text[at - 1] == ';') break;
            ++at;
        }
        if (at < text.size()) {
            text = text.substr(at + 5);
        } else {
            // An entry without a protocol serves every protocol that has none of its own (Wine
            // gives the HTTP entry of a list that way: "host:port ftp=...").
            at = 0;
            for (;;) {
                if (at >= text.size()) return {};
                const size_t end = std::min(text.find_first_of(" ;\t", at), text.size());
                const std::string_view entry = text.substr(at, end - at);
                if (!entry.empty() && entry.find('=') == std::string_view::npos) break;
                at = end + 1;
            }
            text = text.substr(at);
        }
        text = text.substr(0, text.find_first_of(" ;\t"));
    }
    text = WithoutScheme(text);
    text = text.substr(0, text.find('/'));
    THttpProxy proxy;
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos && ParsePort(text.substr(colon + 1), proxy.Port)) {
        proxy.Host = text.substr(0, colon);
    } else {
        proxy.Host = text;
        proxy.Port = defaultPort;
    }
    if (proxy.Host.empty()) return {};
    return proxy;
}

std::string RequestHead(const THttpRequestHead& head) {
    const std::string hostPort = head.Url.Host + ":" + std::to_string(head.Url.Port);
    std::string out = "POST ";
    if (head.ViaProxy) out += "http://" + hostPort;
    out += head.Url.Path + " HTTP/1.1\r\n";
    out += "Host: " + hostPort + "\r\n";
    out += "Connection: close\r\n";
    out += "Pragma: no-cache\r\n";
    out += "User-Agent: xunExcept/3.0\r\n";
    // Quoted: "=" is no token character, and strict parsers refuse the bare boundary.
    out += "Content-Type: multipart/form-data; boundary=\"" + std::string(MultipartBoundary) + "\"\r\n";
    out += "Content-Length: " + std::to_string(head.ContentLength) + "\r\n";
    if (!head.Sender.empty()) out += "From: " + AngleForm(head.Sender) + "\r\n";
    if (!head.Account.empty() || !head.Password.empty())
        out += "Authorization: Basic " + Base64(head.Account + ":" + head.Password) + "\r\n";
    return out;
}
