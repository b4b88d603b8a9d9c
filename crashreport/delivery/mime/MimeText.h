#pragma once
// The escapes of the mail texts: Q-encoding for the subject, per-cent escapes for mailto: URLs,
// and the date and message id of the header block.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// 256 bits, one per byte value: the bytes that get escaped.
struct TByteSet {
    std::array<uint64_t, 4> Bits{};
    constexpr bool Has(uint8_t b) const { return (Bits[b >> 6] >> (b & 63)) & 1; }
    constexpr void Add(uint8_t b) { Bits[b >> 6] |= uint64_t(1) << (b & 63); }
};

// Every byte but the ASCII letters and digits.
inline constexpr TByteSet QEncodeSet = [] {
    TByteSet s;
    for (int b = 0; b < 256; ++b)
        if (!((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'))) s.Add(uint8_t(b));
    return s;
}();

// Exactly LF, CR, blank, '"', '#', '%', '&', '+', '<', '>' and '?'.
inline constexpr TByteSet UrlEscapeSet = [] {
    TByteSet s;
    for (char c : std::string_view("\n\r \"#%&+<>?"))
        s.Add(uint8_t(c));
    return s;
}();

// Each byte of `set` becomes `mark` and two upper-case hex digits.
std::string EscapeBytes(std::string_view text, const TByteSet& set, char mark);

inline std::string QEncode(std::string_view text) {
    return EscapeBytes(text, QEncodeSet, '=');
}
inline std::string UrlEscape(std::string_view text) {
    return EscapeBytes(text, UrlEscapeSet, '%');
}

// The crash reporter's texts are ISO-8859-1, which maps byte for byte onto the first 256 code
// points.
std::string Latin1ToUtf8(std::string_view text);

// The Subject header's value: "=?ISO-8859-1?Q?...?=", or with `utf8` "=?UTF-8?B?...?=". A subject
// whose encoded word would pass 75 characters is split into several words on folded lines, so
// that no header line grows past what servers accept.
std::string EncodeSubject(std::string_view subject, bool utf8);

// UTC as 100-nanosecond intervals since 1601-01-01, as the system clock gives it.
using TFileTime = uint64_t;

// "8 Dec 2026 09:05:03 UT": no weekday, day without leading zero.
std::string MailDate(TFileTime time);
// "<" + the low 15 of the 16 hex digits of the time + "@xunExcept>".
std::string MessageId(TFileTime time);
