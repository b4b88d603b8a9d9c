#include <gtest/gtest.h>

#include <string>

#include "crashreport/delivery/mime/Base64.h"
#include "crashreport/delivery/mime/MimeText.h"

namespace {

TEST(Base64, KnownVectors) {
    // RFC 4648, section 10, and bytes that use the last characters of the alphabet.
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xFF\xFE\x00", 3), "//4A"},
        {std::string("\xFB\xFF\xBF", 3), "+/+/"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(Base64(in), out) << in;
    std::string appended = "x";
    AppendBase64(appended, reinterpret_cast<const uint8_t*>("foo"), 3);
    EXPECT_EQ(appended, "xZm9v");
}

TEST(MimeText, EscapeSets) {
    EXPECT_EQ(QEncode("Fehler: \xE4"), "Fehler=3A=20=E4");
    EXPECT_EQ(QEncode("a_b=c?d.\r\n"), "a=5Fb=3Dc=3Fd=2E=0D=0A");
    std::string escaped;
    for (int b = 0; b < 256; ++b)
        if (UrlEscapeSet.Has(uint8_t(b))) escaped += char(b);
    EXPECT_EQ(escaped, "\n\r \"#%&+<>?");
    EXPECT_EQ(UrlEscape("a b&c=d%\xE4\r\n?"), "a%20b%26c=d%25\xE4%0D%0A%3F");
}

TEST(MimeText, SubjectEncodedWords) {
    EXPECT_EQ(EncodeSubject("Fehler: \xE4", false), "=?ISO-8859-1?Q?Fehler=3A=20=E4?=");
    EXPECT_EQ(EncodeSubject("Fehler: \xE4", true), "=?UTF-8?B?RmVobGVyOiDDpA==?=");
    EXPECT_EQ(EncodeSubject("", false), "=?ISO-8859-1?Q?"
                                        "?=");
    EXPECT_EQ(Latin1ToUtf8("\xE4\xF6\xFC\xDF A"), "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F A");
    // A long subject: several words on folded lines, none longer than 75 characters, and no
    // escape or character cut in two.
    std::string subject;
    for (int i = 0; i < 40; ++i)
        subject += "\xC4nderung ";
    for (bool utf8 : {false, true}) {
        const std::string encoded = EncodeSubject(subject, utf8);
        size_t words = 0, at = 0;
        for (;;) {
            const size_t end = encoded.find("\r\n ", at);
            const std::string word = encoded.substr(at, end == std::string::npos ? end : end - at);
            EXPECT_LE(word.size(), 75u) << word;
            EXPECT_EQ(word.substr(0, 2), "=?");
            EXPECT_EQ(word.substr(word.size() - 2), "?=");
            if (!utf8) {
                EXPECT_NE(word[word.size() - 3], '=') << word;
            }
            ++words;
            if (end == std::string::npos) break;
            at = end + 3;
        }
        EXPECT_GT(words, 5u);
    }
}

TEST(MimeText, DateAndMessageId) {
    constexpr uint64_t Second = 10000000, Epoch1970 = 11644473600ull * Second;
    const std::pair<uint64_t, const char*> cases[] = {
        {134411943030000000ull, "8 Dec 2026 09:05:03 UT"},
        {Epoch1970, "1 Jan 1970 00:00:00 UT"},
        {Epoch1970 + 951782399 * Second + 9999999, "28 Feb 2000 23:59:59 UT"},
        {Epoch1970 + 951782400 * Second, "29 Feb 2000 00:00:00 UT"},
        {Epoch1970 + 4107542399ull * Second, "28 Feb 2100 23:59:59 UT"},
        {Epoch1970 + 4107542400ull * Second, "1 Mar 2100 00:00:00 UT"},
        {0, "1 Jan 1601 00:00:00 UT"},
    };
    for (const auto& [time, text] : cases)
        EXPECT_EQ(MailDate(time), text);
    EXPECT_EQ(MessageId(134411943030000000ull), "<1DD86F335DF8980@xunExcept>");
    EXPECT_EQ(MessageId(0x1234), "<000000000001234@xunExcept>");
}

} // namespace
