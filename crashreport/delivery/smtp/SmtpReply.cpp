#include "crashreport/delivery/smtp/SmtpReply.h"

#include <algorithm>
#include <cstring>

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Upper(s[i]) != prefix[i]) return false;
    return true;
}

bool ContainsNoCase(std::string_view s, std::string_view word) {
    for (size_t i = 0; i + word.size() <= s.size(); ++i)
        if (StartsWithNoCase(s.substr(i), word)) return true;
    return false;
}

// An equals sign reads like a blank: "AUTH=LOGIN" is how older servers offer it.
bool OffersAuthLogin(std::string_view line) {
    if (line.size() <= 4) return false;
    std::string text(line.substr(4));
    std::replace(text.begin(), text.end(), '=', ' ');
    text += ' ';
    return StartsWithNoCase(text, "AUTH ") && ContainsNoCase(text, " LOGIN ");
}

} // namespace

void TSmtpReplyReader::Begin(std::string_view code, bool noteAuthLogin) {
    std::memset(FCode, 0, sizeof FCode);
    std::memcpy(FCode, code.data(), std::min(code.size(), sizeof FCode));
    FNoteAuth = noteAuthLogin;
    FAuthLogin = false;
    FMismatch = false;
    FReplyBytes = 0;
    FLastLine.clear();
    FState = TState::NeedMore;
}

TSmtpReplyReader::TState TSmtpReplyReader::Feed(const uint8_t* data, size_t count) {
    if (FState != TState::NeedMore) return FState;
    if (count > MaxReply - std::min(MaxReply, FReplyBytes + FBuffer.size())) {
        Reset();
        return FState = TState::Broken;
    }
    FBuffer.append(reinterpret_cast<const char*>(data), count);
    ReadLines();
    return FState;
}

TSmtpReplyReader::TState TSmtpReplyReader::Poll() {
    if (FState == TState::NeedMore) ReadLines();
    return FState;
}

void TSmtpReplyReader::Reset() {
    FSearchFrom = 0;
    FBuffer.clear();
    FBuffer.shrink_to_fit();
}

void TSmtpReplyReader::ReadLines() {
    size_t at = 0;
    while (FState == TState::NeedMore) {
        const size_t end = FBuffer.find("\r\n", std::max(at, FSearchFrom));
        if (end == std::string::npos) break;
        const std::string_view line(FBuffer.data() + at, end - at);
        FReplyBytes += end + 2 - at;
        at = end + 2;
        // Every line of the reply carries the code, whichever way the bytes were split up.
        if (line.size() < 3 || std::memcmp(line.data(), FCode, 3) != 0) FMismatch = true;
        if (FNoteAuth && OffersAuthLogin(line)) FAuthLogin = true;
        if (line.size() < 4 || line[3] != '-') {
            FLastLine = line;
            FState = FMismatch ? TState::Refused : TState::Accepted;
            if (FMismatch) FAuthLogin = false;
        }
    }
    FBuffer.erase(0, at);
    // A line that arrives a byte at a time is not searched from its start each time.
    FSearchFrom = FState == TState::NeedMore && !FBuffer.empty() ? FBuffer.size() - 1 : 0;
    // Bytes on the last partial line count too: a line that never ends is cut off as well.
    if (FState == TState::NeedMore && FReplyBytes + FBuffer.size() > MaxReply) {
        Reset();
        FState = TState::Broken;
    }
}
