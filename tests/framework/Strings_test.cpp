// The integer entry rule shared by the editor's fields.
#include "framework/Strings.h"

#include <gtest/gtest.h>

namespace {

std::optional<int32_t> I(int32_t v) {
    return v;
}
const std::optional<int32_t> None;

TEST(TryStrToInt, DecimalWithBlanksAndSigns) {
    EXPECT_EQ(TryStrToInt("0"), I(0));
    EXPECT_EQ(TryStrToInt("15"), I(15));
    EXPECT_EQ(TryStrToInt("   12"), I(12));
    EXPECT_EQ(TryStrToInt("+7"), I(7));
    EXPECT_EQ(TryStrToInt("-3"), I(-3));
    EXPECT_EQ(TryStrToInt("  -0003"), I(-3));
    // A blank between sign and digits, or after the digits, is not allowed; neither are two signs.
    EXPECT_EQ(TryStrToInt("- 3"), None);
    EXPECT_EQ(TryStrToInt("3 "), None);
    EXPECT_EQ(TryStrToInt("+-3"), None);
    // Only blanks lead; other white space does not.
    EXPECT_EQ(TryStrToInt("\t3"), None);
}

TEST(TryStrToInt, HexadecimalPrefixes) {
    EXPECT_EQ(TryStrToInt("$1F"), I(31));
    EXPECT_EQ(TryStrToInt("$ff"), I(255));
    EXPECT_EQ(TryStrToInt("x10"), I(16));
    EXPECT_EQ(TryStrToInt("X10"), I(16));
    EXPECT_EQ(TryStrToInt("0x10"), I(16));
    EXPECT_EQ(TryStrToInt("0XaB"), I(171));
    EXPECT_EQ(TryStrToInt(" -$10"), I(-16));
    EXPECT_EQ(TryStrToInt("+0x7"), I(7));
    // Hex letters without a prefix, or a prefix without digits, are no integers.
    EXPECT_EQ(TryStrToInt("1F"), None);
    EXPECT_EQ(TryStrToInt("$"), None);
    EXPECT_EQ(TryStrToInt("0x"), None);
    EXPECT_EQ(TryStrToInt("-x"), None);
    EXPECT_EQ(TryStrToInt("$-5"), None);
    EXPECT_EQ(TryStrToInt("0x$5"), None);
    EXPECT_EQ(TryStrToInt("$1G"), None);
    // "0" followed by a digit is plain decimal, not an octal or hex start.
    EXPECT_EQ(TryStrToInt("010"), I(10));
}

TEST(TryStrToInt, NothingMayFollowTheDigits) {
    EXPECT_EQ(TryStrToInt("abc"), None);
    EXPECT_EQ(TryStrToInt("12a"), None);
    EXPECT_EQ(TryStrToInt("1.5"), None);
    EXPECT_EQ(TryStrToInt("1,5"), None);
    EXPECT_EQ(TryStrToInt(std::string_view("1\0", 2)), None);
    EXPECT_EQ(TryStrToInt("\xC3\xA4"), None);
}

TEST(TryStrToInt, EmptyTextIsNoInteger) {
    EXPECT_EQ(TryStrToInt(""), None);
    EXPECT_EQ(TryStrToInt("   "), None);
    EXPECT_EQ(TryStrToInt("+"), None);
    EXPECT_EQ(TryStrToInt("-"), None);
}

TEST(TryStrToInt, ValuesMustFitASigned32BitInteger) {
    EXPECT_EQ(TryStrToInt("2147483647"), I(2147483647));
    EXPECT_EQ(TryStrToInt("-2147483648"), I(INT32_MIN));
    EXPECT_EQ(TryStrToInt("2147483648"), None);
    EXPECT_EQ(TryStrToInt("-2147483649"), None);
    EXPECT_EQ(TryStrToInt("99999999999999999999999"), None);
    EXPECT_EQ(TryStrToInt("$7FFFFFFF"), I(2147483647));
    EXPECT_EQ(TryStrToInt("-$80000000"), I(INT32_MIN));
    // The full 32-bit pattern is a value beyond the range, not -1.
    EXPECT_EQ(TryStrToInt("$80000000"), None);
    EXPECT_EQ(TryStrToInt("$FFFFFFFF"), None);
    EXPECT_EQ(TryStrToInt("0x100000000"), None);
    // Leading zeros do not count toward the range.
    EXPECT_EQ(TryStrToInt("000000000000000000042"), I(42));
    EXPECT_EQ(TryStrToInt("$00000000000000FF"), I(255));
}

} // namespace
