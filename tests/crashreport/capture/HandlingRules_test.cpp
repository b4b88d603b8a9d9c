#include "crashreport/capture/HandlingRules.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

TEST(HandlingRules, RepeatRuleCountsTenWithinTheWindow) {
    EXPECT_FALSE(RepeatRule(0, {}, 1000));
    EXPECT_TRUE(RepeatRule(1, {}, 1000));
    // AutoRestart = 30: nine exceptions within 30 seconds continue, the tenth restarts — also
    // when the restarted process took over the first nine.
    TExceptionHistory history;
    uint64_t now = 13'000'000'000;
    for (int i = 1; i <= 9; ++i) {
        history.Push(now + uint64_t(i));
        EXPECT_FALSE(RepeatRule(30, history, now + uint64_t(i))) << i;
    }
    TExceptionHistory handedOver = history;
    handedOver.Push(now + 10);
    EXPECT_TRUE(RepeatRule(30, handedOver, now + 10));
    // Too slow: the oldest of the ten is more than 30 seconds back.
    handedOver.Push(now + 60);
    EXPECT_FALSE(RepeatRule(30, handedOver, now + 60));
    EXPECT_EQ(handedOver.Times[0], now + 60);
    EXPECT_EQ(handedOver.Times[9], now + 2); // the oldest fell off
}

TEST(HandlingRules, FilterChosenAlongTheAncestorChain) {
    TRef<TSettingsOverlay<>> settings = MakeRef<TSettingsOverlay<>>(nullptr);
    settings->WriteText("F1Classes", "EFOpenError, EConvertError");
    settings->WriteText("F2Classes", "EStreamError");
    settings->WriteBool("F2NoBugRep", true);
    settings->WriteInt("F1ShowCfg", 2);
    settings->WriteInt("ScrShotDepth", 24);
    struct TCase {
        std::vector<std::string> Chain;
        const char* Set;
    } cases[] = {
        {{"EConvertError", "Exception"}, "F1"},
        {{"EFOpenError", "EFileStreamError", "EStreamError", "Exception"}, "F1"}, // filter 1 before 2
        {{"EReadError", "EStreamError", "Exception"}, "F2"},                      // by an ancestor
        {{"econverterror"}, "F1"},                                                // names in any case
        {{"EAccessViolation", "EExternal", "Exception"}, "Gn"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ApplyExceptionFilter(*settings, c.Chain).Set, c.Set) << c.Chain.front();
    TFilterChoice f2 = ApplyExceptionFilter(*settings, {"EReadError", "EStreamError"});
    EXPECT_FALSE(f2.WantReport);
    EXPECT_TRUE(f2.WantScreenShot && f2.AttachScreenShot);
    EXPECT_EQ(ApplyExceptionFilter(*settings, {"EConvertError"}).DisplayMode, 2);
    EXPECT_TRUE(IsSilentAbort({"EMyAbort", "EAbort", "Exception"}));
    EXPECT_FALSE(IsSilentAbort({"EAbortive", "Exception"}));
}

TEST(HandlingRules, RequestRecordLayout) {
    TExceptionRequest r;
    r.Event = 0x11;
    r.ThreadId = 0x22;
    r.Kind = 1;
    r.ExceptionAddress = 0x401234;
    r.CanContinue = true;
    r.CatchSource = CatchSystemException;
    r.PreparedStack = 0;
    std::vector<uint8_t> bytes = EncodeExceptionRequest(r, 4);
    ASSERT_EQ(bytes.size(), 56u);
    EXPECT_EQ(bytes[0], 0x11);
    EXPECT_EQ(bytes[8], 1);     // kind, byte padded
    EXPECT_EQ(bytes[16], 0x34); // address
    EXPECT_EQ(bytes[40], 14);   // catch source
    TExceptionRequest back;
    ASSERT_TRUE(DecodeExceptionRequest(bytes.data(), bytes.size(), 4, back));
    EXPECT_EQ(back.ExceptionAddress, 0x401234u);
    EXPECT_TRUE(back.CanContinue);
    EXPECT_EQ(back.Kind, 1);
    r.ExceptionAddress = 0x140001234;
    std::vector<uint8_t> wide = EncodeExceptionRequest(r, 8);
    ASSERT_EQ(wide.size(), 112u);
    ASSERT_TRUE(DecodeExceptionRequest(wide.data(), wide.size(), 8, back));
    EXPECT_EQ(back.ExceptionAddress, 0x140001234u);
    EXPECT_FALSE(DecodeExceptionRequest(wide.data(), 56, 8, back)); // a short record is no record
}

TEST(HandlingRules, SystemExceptionTexts) {
    struct TCase {
        uint32_t Code;
        std::vector<uint64_t> Info;
        const char* Message;
    } cases[] = {
        {0xC0000005,
         {0, 0x10},
         "Access violation at address 0040100A in module 'LevelEditor.exe'. Read of address 00000010"},
        {0xC0000005,
         {1, 0x20},
         "Access violation at address 0040100A in module 'LevelEditor.exe'. Write of address 00000020"},
        {0xC0000005,
         {8, 0x0040100A},
         "Access violation at address 0040100A in module 'LevelEditor.exe'. Execute of address 0040100A"},
        {0xC0000094, {}, "Division by zero"},
        {0xC00000FD, {}, "Stack overflow"},
        {0xE0001234, {}, "External exception E0001234"},
    };
    for (const TCase& c : cases) {
        TSystemExceptionText t = SystemExceptionText(c.Code, 0x40100A, "LevelEditor.exe", c.Info, 8);
        EXPECT_EQ(t.Message, c.Message);
        EXPECT_EQ(t.ClassName, "XunException");
    }
    EXPECT_TRUE(IsThreadNaming(0x406D1388, {0x1000, 0x1234, 0xFFFFFFFF, 0}));
    EXPECT_FALSE(IsThreadNaming(0x406D1388, {0x1000, 0x1234, 0xFFFFFFFF, 1}));
    EXPECT_FALSE(IsThreadNaming(0x406D1388, {0x1000}));
}

} // namespace

namespace {

// The checksum the build stored in our own exe (after embedding the symbol data) checks out, and
// any flipped byte is noticed.
TEST(HandlingRules, ImageChecksumOfOwnExe) {
    int checked = 0;
    for (const char* build : {"win32", "win64"}) {
        std::FILE* f = std::fopen(
            (std::string(ZE_SOURCE_DIR "/build/") + build + "/editor/LevelEditor.exe").c_str(), "rb");
        if (!f) continue;
        std::vector<uint8_t> bytes;
        uint8_t chunk[65536];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
        size_t at = 0;
        const uint32_t sum = ImageChecksum(bytes.data(), bytes.size(), at);
        ASSERT_GT(at, 0u);
        uint32_t stored;
        std::memcpy(&stored, &bytes[at], 4);
        EXPECT_EQ(sum, stored) << build;
        bytes[bytes.size() / 2] ^= 0x40;
        EXPECT_NE(ImageChecksum(bytes.data(), bytes.size(), at), stored) << build;
        ++checked;
    }
    size_t at = 1;
    const uint8_t junk[100] = {'M', 'Z'};
    EXPECT_EQ(ImageChecksum(junk, sizeof junk, at), 0u);
    EXPECT_EQ(at, 0u);
    if (!checked) GTEST_SKIP() << "no exe built yet";
}

} // namespace
