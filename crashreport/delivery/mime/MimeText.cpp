#include "crashreport/delivery/mime/MimeText.h"

#include "crashreport/base/Text.h"
#include "crashreport/delivery/mime/Base64.h"

#include <cstdio>

std::string EscapeBytes(std::string_view text, const TByteSet& set, char mark) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const uint8_t b = uint8_t(c);
        if (set.Has(b)) {
            out += mark;
            AppendHex(out, b, 2);
        } else {
            out += c;
        }
    }
    return out;
}

std::string Latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const uint8_t b = uint8_t(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += char(0xC0 | b >> 6);
            out += char(0x80 | (b & 0x3F));
        }
    }
    return out;
}

namespace {

// RFC 2047's limit for one encoded word.
constexpr size_t MaxEncodedWord = 75;

void StartWord(std::string& out, const char* prefix) {
    if (!out.empty()) out += "?=\r\n ";
    out += prefix;
}

std::string QSubject(std::string_view subject) {
    static constexpr char Prefix[] = "=?ISO-8859-1?Q?";
    constexpr size_t room = MaxEncodedWord - (sizeof Prefix - 1) - 2;
    std::string out;
    StartWord(out, Prefix);
    size_t used = 0;
    for (char c : subject) {
        const size_t need = QEncodeSet.Has(uint8_t(c)) ? 3 : 1;
        if (used + need > room) {
            StartWord(out, Prefix);
            used = 0;
        }
        out += EscapeBytes(std::string_view(&c, 1), QEncodeSet, '=');
        used += need;
    }
    return out + "?=";
}

std::string BSubject(std::string_view subject) {
    static constexpr char Prefix[] = "=?UTF-8?B?";
    // Whole characters only: each word must decode on its own.
    constexpr size_t room = (MaxEncodedWord - (sizeof Prefix - 1) - 2) / 4 * 3;
    const std::string utf8 = Latin1ToUtf8(subject);
    std::string out;
    size_t at = 0;
    do {
        size_t n = std::min(room, utf8.size() - at);
        while (at + n < utf8.size() && n > 0 && (uint8_t(utf8[at + n]) & 0xC0) == 0x80)
            --n;
        StartWord(out, Prefix);
        AppendBase64(out, reinterpret_cast<const uint8_t*>(utf8.data() + at), n);
        at += n;
    } while (at < utf8.size());
    return out + "?=";
}

} // namespace

std::string EncodeSubject(std::string_view subject, bool utf8) {
    return utf8 ? BSubject(subject) : QSubject(subject);
}

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

} // namespace

std::string MailDate(TFileTime time) {
    static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // 1601-01-01 lies 134774 days before 1970-01-01.
    const int64_t seconds = int64_t(time / 10000000);
    const int64_t days = seconds / 86400 - 134774;
    const int64_t inDay = seconds % 86400;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%u %s %lld %02d:%02d:%02d UT", d, Months[m - 1],
                  static_cast<long long>(y), int(inDay / 3600), int(inDay / 60 % 60), int(inDay % 60));
    return buf;
}

std::string MessageId(TFileTime time) {
    std::string id = Hex(time, 16);
    id[0] = '<';
    return id + "@xunExcept>";
}
