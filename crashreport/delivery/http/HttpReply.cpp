#include "crashreport/delivery/http/HttpReply.h"

#include <algorithm>

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(s[i]) != prefix[i]) return false;
    return true;
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// The second blank-separated word of the status line.
std::string_view StatusCode(std::string_view line) {
    size_t at = line.find(' ');
    if (at == std::string_view::npos) return {};
    while (at < line.size() && line[at] == ' ')
        ++at;
    const size_t end = line.find(' ', at);
    return line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
}

} // namespace

bool IsWebAddress(std::string_view location) {
    size_t rest;
    if (StartsWithNoCase(location, "http://"))
        rest = 7;
    else if (StartsWithNoCase(location, "https://"))
        rest = 8;
    else
        return false;
    if (location.size() == rest || location[rest] == '/') return false;
    return std::none_of(location.begin(), location.end(), [](char c) {
        const uint8_t b = uint8_t(c);
        return b <= ' ' || b == 0x7F || c == '"';
    });
}

THttpReplyReader::TState THttpReplyReader::Feed(const uint8_t* data, size_t count) {
    if (FState != TState::NeedMore) return FState;
    // What fits is read first: a reply judged within the limit stands, whatever follows it.
    const size_t take = std::min(count, MaxReply - FTotal);
    FTotal += take;
    FBuffer.append(reinterpret_cast<const char*>(data), take);
    Read(false);
    if (FState == TState::NeedMore && take < count) {
        FBuffer.clear();
        FState = TState::Failure;
    }
    return FState;
}

THttpReplyReader::TState THttpReplyReader::End() {
    if (FState == TState::NeedMore) Read(true);
    if (FState == TState::NeedMore) FState = TState::Failure;
    return FState;
}

size_t THttpReplyReader::FindFrom(std::string_view what) {
    // Bytes that trickle in are not searched from the start each time.
    const size_t from = std::max(FSeen, what.size() - 1) - (what.size() - 1);
    const size_t at = FBuffer.find(what, from);
    FSeen = at == std::string::npos ? FBuffer.size() : 0;
    return at;
}

void THttpReplyReader::Read(bool atEnd) {
    while (FState == TState::NeedMore) {
        switch (FPhase) {
        case TPhase::Status: {
            size_t lineEnd = FindFrom("\r\n");
            if (lineEnd == std::string::npos) {
                if (!atEnd || FBuffer.empty()) return;
                lineEnd = FBuffer.size();
            }
            const std::string_view code = StatusCode(std::string_view(FBuffer).substr(0, lineEnd));
            if (code.size() == 3 && code[0] == '1') {
                FPhase = TPhase::Interim;
                break;
            }
            FStatus = code;
            if (FStatus == "200") return void(FState = TState::Success);
            if (FStatus != "302" || lineEnd == FBuffer.size()) return void(FState = TState::Failure);
            FPhase = TPhase::Headers;
            FLineAt = lineEnd + 2;
            FSeen = FLineAt;
            break;
        }
        case TPhase::Interim: {
            // An interim reply ends with its empty line; the final one follows.
            const size_t headEnd = FindFrom("\r\n\r\n");
            if (headEnd == std::string::npos) return;
            FBuffer.erase(0, headEnd + 4);
            FPhase = TPhase::Status;
            break;
        }
        case TPhase::Headers: {
            // Each line up to its CR LF; the empty line ends the head without a Location.
            FSeen = std::max(FSeen, FLineAt);
            const size_t end = FindFrom("\r\n");
            if (end == std::string::npos) {
                if (atEnd) FState = TState::Failure;
                return;
            }
            const std::string_view line = std::string_view(FBuffer).substr(FLineAt, end - FLineAt);
            FLineAt = end + 2;
            FSeen = FLineAt;
            if (line.empty()) return void(FState = TState::Failure);
            if (!StartsWithNoCase(line, "location:")) break;
            const std::string_view value = TrimBlanks(line.substr(9));
            if (!IsWebAddress(value)) return void(FState = TState::Failure);
            FLocation = value;
            FState = TState::Success;
            return;
        }
        }
    }
}
