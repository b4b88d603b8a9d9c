#include <gtest/gtest.h>

#include "framework/Strings.h"
#include "tests/crashreport/settings/SettingsTestSupport.h"

namespace {

std::vector<TPropEntry> Read(const std::vector<uint8_t>& data, TRecordingSink& sink,
                             TSettingsStreamResult* result = nullptr) {
    std::vector<TPropEntry> props;
    TSettingsStreamResult r = ReadSettingsStream(data, props, &sink);
    if (result) *result = r;
    return props;
}

// "name:kind value" per property; integers and booleans show both of their values.
std::string Dump(const std::vector<TPropEntry>& props) {
    std::string out;
    for (const TPropEntry& p : props) {
        out += p.Name + ":" + "tib"[int(p.Kind)] + " ";
        out += p.Kind == TPropKind::Text ? "'" + p.TextValue + "'"
                                         : std::to_string(p.IntValue) + (p.BoolValue ? "/true" : "/false");
        out += ";";
    }
    return out;
}

TEST(SettingsStream, ReadsEveryValueType) {
    TStreamBuilder s;
    s.Name("I8").Bytes({vaInt8, 0xFB});
    s.Name("I16").Bytes({vaInt16, 0xD4, 0xFE});
    s.Name("I32").Bytes({vaInt32}).U32(100000);
    s.Name("Neg32").Bytes({vaInt32}).U32(0x80000000u);
    s.Short("Str", "%appname% here");
    s.Bool("No", false).Bool("Yes", true);
    s.Name("Long").Bytes({vaLString}).U32(3).Bytes({'a', 'b', 'c'});
    // "Grüße €" plus a CJK character and a surrogate pair, neither in the code page.
    s.Name("Wide").Bytes({vaWString}).U32(10);
    for (char16_t c : std::u16string(u"Gr\u00FC\u00DFe \u20AC\u4E2D\xD83D\xDE00"))
        s.Bytes({uint8_t(c), uint8_t(c >> 8)});
    s.Name("Empty").Bytes({vaLString}).U32(0);
    s.End();

    TRecordingSink sink;
    TSettingsStreamResult result;
    auto props = Read(s.Data(), sink, &result);
    EXPECT_TRUE(result.Valid);
    EXPECT_TRUE(result.Complete);
    EXPECT_TRUE(sink.Messages.empty());
    EXPECT_EQ(Dump(props), "I8:i -5/true;I16:i -300/true;I32:i 100000/true;Neg32:i -2147483648/true;"
                           "Str:t '%appname% here';No:b 0/false;Yes:b 1/true;Long:t 'abc';"
                           "Wide:t 'Gr\xFC\xDF"
                           "e \x80??"
                           "';Empty:t '';");
}

TEST(SettingsStream, UnknownValueTypeStopsWithMessageAndKeepsEarlierProperties) {
    TStreamBuilder s;
    s.Bool("AutoSave", false).Short("MailAddr", "bugs@example.org");
    s.Name("Align").Bytes({vaIdent}).Name("alClient");
    s.Bool("PauseThreads", true).End();

    TRecordingSink sink;
    TSettingsStreamResult result;
    auto props = Read(s.Data(), sink, &result);
    EXPECT_TRUE(result.Valid);
    EXPECT_FALSE(result.Complete);
    ASSERT_EQ(sink.Messages.size(), 1u);
    EXPECT_EQ(sink.Messages[0], "xunExcept: Internal error: Invalid settings resource ($07).");
    EXPECT_EQ(Dump(props), "AutoSave:b 0/false;MailAddr:t 'bugs@example.org';");

    TStreamBuilder high;
    high.Name("X").Bytes({0xAB}).End();
    Read(high.Data(), sink);
    EXPECT_EQ(sink.Messages.back(), "xunExcept: Internal error: Invalid settings resource ($AB).");
}

TEST(SettingsStream, WrongSignatureReadsNothing) {
    TStreamBuilder s;
    s.Bool("Enabled", true).End();
    std::vector<uint8_t> data = s.Data();
    data[5] = 'x'; // class name "xXunExcept"
    TRecordingSink sink;
    TSettingsStreamResult result;
    EXPECT_TRUE(Read(data, sink, &result).empty());
    EXPECT_FALSE(result.Valid);
    EXPECT_TRUE(Read({}, sink, &result).empty());
    EXPECT_FALSE(result.Valid);
    EXPECT_TRUE(sink.Messages.empty());
}

// Cut at every byte, a stream gives a prefix of its properties and never reads beyond its end
// (the sanitizers watch the copy, which has no slack behind it).
TEST(SettingsStream, TruncatedStreamsKeepCompleteProperties) {
    TStreamBuilder s;
    s.Bool("A", true).Name("B").Bytes({vaInt16, 1, 2}).Short("C", "text");
    s.Name("D").Bytes({vaLString}).U32(2).Bytes({'h', 'i'});
    s.Name("E").Bytes({vaWString}).U32(1).Bytes({'w', 0});
    s.End();
    const auto& full = s.Data();
    TRecordingSink sink;
    size_t lastCount = 0;
    for (size_t n = 0; n < full.size(); ++n) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        TSettingsStreamResult result;
        auto props = Read(cut, sink, &result);
        EXPECT_FALSE(result.Complete) << n;
        EXPECT_GE(props.size(), lastCount) << n;
        lastCount = props.size();
    }
    EXPECT_EQ(lastCount, 5u);
    EXPECT_TRUE(sink.Messages.empty());
}

TEST(SettingsStream, HugeLengthsStopWithoutReading) {
    for (uint8_t type : {vaLString, vaWString}) {
        for (uint32_t len : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 5u}) {
            TStreamBuilder s;
            s.Bool("Before", true).Name("Big").Bytes({type}).U32(len).Bytes({'a', 'b', 0});
            TRecordingSink sink;
            TSettingsStreamResult result;
            auto props = Read(s.Data(), sink, &result);
            EXPECT_FALSE(result.Complete);
            EXPECT_EQ(props.size(), 1u);
        }
    }
}

TEST(SettingsStream, CodePageConversionsRoundTrip) {
    std::u16string all;
    for (char16_t c = 0x20; c < 0x7F; ++c)
        all.push_back(c);
    all += u"\u20AC\u201A\u0192\u2122\u0178\u00A0\u00FF";
    std::string single = Utf16ToCp1252(all);
    EXPECT_EQ(single.size(), all.size());
    EXPECT_EQ(Utf8ToUtf16(Cp1252ToUtf8(single)), all);
}

} // namespace
