#include "common/numtext.h"
#include "common/utc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace zqd {
namespace {

TEST(LeadingNumber, DecimalPrefixOfWhatRemainsWithoutBlanks) {
    EXPECT_EQ(LeadingNumber("17"), 17);
    EXPECT_EQ(LeadingNumber(" 1 7 "), 17);
    EXPECT_EQ(LeadingNumber("\t2\n5"), 25);
    EXPECT_EQ(LeadingNumber("3abc"), 3);
    EXPECT_EQ(LeadingNumber("38.5"), 38.5);
    EXPECT_EQ(LeadingNumber("1.2.3"), 1.2);
    EXPECT_EQ(LeadingNumber(".5"), 0.5);
    EXPECT_EQ(LeadingNumber("-.5"), -0.5);
    EXPECT_EQ(LeadingNumber("- 3"), -3);
    EXPECT_EQ(LeadingNumber("+2"), 2);
    EXPECT_EQ(LeadingNumber("02"), 2);
    EXPECT_EQ(LeadingNumber("7 h"), 7);
}

TEST(LeadingNumber, ExponentsWithEOrD) {
    EXPECT_EQ(LeadingNumber("1e3"), 1000);
    EXPECT_EQ(LeadingNumber("1D2"), 100);
    EXPECT_EQ(LeadingNumber("2.5E-1x"), 0.25);
    EXPECT_EQ(LeadingNumber("1e"), 1);
    EXPECT_EQ(LeadingNumber("1e+"), 1);
    EXPECT_TRUE(std::isinf(LeadingNumber("1e400")));
    EXPECT_EQ(LeadingNumber("1e-400"), 0);
}

TEST(LeadingNumber, NoNumberGivesZero) {
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber("-"), 0);
    EXPECT_EQ(LeadingNumber("."), 0);
    EXPECT_EQ(LeadingNumber("&"), 0);
    EXPECT_EQ(LeadingNumber("&X12"), 0);
}

TEST(LeadingNumber, HexadecimalAndOctal) {
    EXPECT_EQ(LeadingNumber("&HFF"), 255);
    EXPECT_EQ(LeadingNumber("&hA5"), 165);
    EXPECT_EQ(LeadingNumber("&H1FFzz"), 511);
    EXPECT_EQ(LeadingNumber("&H"), 0);
    EXPECT_EQ(LeadingNumber("&Hxyz"), 0);
    EXPECT_EQ(LeadingNumber("&H f f"), 255);
    EXPECT_EQ(LeadingNumber("&O17"), 15);
    EXPECT_EQ(LeadingNumber("&o78"), 7);
    EXPECT_EQ(LeadingNumber("&HFFFFFFFF"), 4294967295.0);
    EXPECT_GT(LeadingNumber("&H123456789ABCDEF0123"), 4294967295.0);
}

TEST(Rounding, HalfToEvenWithinTheWidth) {
    EXPECT_EQ(RoundToInt16(2.5), 2);
    EXPECT_EQ(RoundToInt16(3.5), 4);
    EXPECT_EQ(RoundToInt16(-2.5), -2);
    EXPECT_EQ(RoundToInt16(0.5), 0);
    EXPECT_EQ(RoundToInt16(1.5), 2);
    EXPECT_EQ(RoundToInt16(32767.4), 32767);
    EXPECT_EQ(RoundToInt16(32767.5), std::nullopt);
    EXPECT_EQ(RoundToInt16(-32768.5), -32768);
    EXPECT_EQ(RoundToInt16(-32769), std::nullopt);
    EXPECT_EQ(RoundToInt16(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(RoundToInt32(2047.5), 2048);
    EXPECT_EQ(RoundToInt32(2049.5), 2050);
    EXPECT_EQ(RoundToInt32(2147483647.0), 2147483647);
    EXPECT_EQ(RoundToInt32(2147483647.5), std::nullopt);
    EXPECT_EQ(RoundToInt32(-2147483648.4), -2147483647 - 1);
    EXPECT_EQ(RoundToInt32(std::numeric_limits<double>::infinity()), std::nullopt);
}

TEST(Text, LabelNumberHexAndNumberText) {
    EXPECT_EQ(LabelNumber(20), " 20");
    EXPECT_EQ(LabelNumber(0), " 0");
    EXPECT_EQ(LabelNumber(72000), " 72000");
    EXPECT_EQ(LabelNumber(-3), "-3");
    EXPECT_EQ(Hex16(0), "0");
    EXPECT_EQ(Hex16(165), "A5");
    EXPECT_EQ(Hex16(-1), "FFFF");
    EXPECT_EQ(Hex16(0x0100), "100");
    EXPECT_EQ(NumberText(3), "3");
    EXPECT_EQ(NumberText(0), "0");
    EXPECT_EQ(NumberText(-0.0), "0");
    EXPECT_EQ(NumberText(-12), "-12");
    EXPECT_EQ(NumberText(2.5), "2.5");
    EXPECT_EQ(NumberText(123456789012345.0), "123456789012345");
    EXPECT_EQ(NumberText(1e20), "1E+20");
}

TEST(FormatFixed, ExportPatternTable) {
    auto v = [](int code) { return static_cast<float>(static_cast<double>(code - 32767) / 65535 * 10); };
    EXPECT_EQ(FormatFixed(v(0), 4), "-4.9999");
    EXPECT_EQ(FormatFixed(v(32766), 4), "-.0002");
    EXPECT_EQ(FormatFixed(v(32767), 4), ".0000");
    EXPECT_EQ(FormatFixed(v(32768), 4), ".0002");
    EXPECT_EQ(FormatFixed(v(40000), 4), "1.1037");
    EXPECT_EQ(FormatFixed(v(65535), 4), "5.0001");
}

TEST(FormatFixed, MonitorPatternTable) {
    auto v = [](int raw) { return static_cast<float>(static_cast<double>(raw - 2048) / 4095 * 10); };
    EXPECT_EQ(FormatFixed(v(2048), 3), ".000");
    EXPECT_EQ(FormatFixed(v(4095), 3), "4.999");
    EXPECT_EQ(FormatFixed(v(0), 3), "-5.001");
    EXPECT_EQ(FormatFixed(v(2049), 3), ".002");
    EXPECT_EQ(FormatFixed(v(2050), 3), ".005");
}

TEST(FormatFixed, SevenDigitsThenHalfAwayFromZero) {
    EXPECT_EQ(FormatFixed(0.00025f, 4), ".0003");    // 2.500000E-04: the half goes up
    EXPECT_EQ(FormatFixed(-0.00025f, 4), "-.0003");
    EXPECT_EQ(FormatFixed(1.00005f, 4), "1.0001");   // 7 digits 1.000050, although the float is below
    EXPECT_EQ(FormatFixed(9.99995f, 4), "10.0000");  // carry into a new integer digit
    EXPECT_EQ(FormatFixed(0.0f, 4), ".0000");
    EXPECT_EQ(FormatFixed(-0.0f, 3), ".000");
    EXPECT_EQ(FormatFixed(12.5f, 3), "12.500");
    EXPECT_EQ(FormatFixed(123456.7f, 4), "123456.7000");
    EXPECT_EQ(FormatFixed(1e10f, 3), "10000000000.000");
    EXPECT_EQ(FormatFixed(75.0183f, 3), "75.018");
}

TEST(Counter16, RollsOverWithoutLeavingItsWidth) {
    EXPECT_EQ(AddCount16(5, -2), 3);
    EXPECT_EQ(AddCount16(0, -2), -2);
    EXPECT_EQ(AddCount16(32767, 1), 0);
    EXPECT_EQ(AddCount16(32760, 10), 2);
    EXPECT_EQ(AddCount16(-32768, -1), -1);
    EXPECT_EQ(AddCount16(-32768, -5), -5);
}

}  // namespace
}  // namespace zqd

namespace zqd {
namespace {

// Times the 64-bit nanoseconds cannot hold are told apart from a wrong form.
TEST(Text, IsoTimesBeyondSixtyFourBitsAreOutOfRangeNotMalformed) {
    std::int64_t ns = 0;
    bool beyond = true;
    EXPECT_TRUE(utc::ParseIso("2262-04-11T23:47:16", ns, &beyond));
    EXPECT_FALSE(beyond);
    for (const char* t : {"2300-01-01T00:00:00", "9999-12-31T23:59:59.999999999", "1600-01-01T00:00:00"}) {
        EXPECT_FALSE(utc::ParseIso(t, ns, &beyond)) << t;
        EXPECT_TRUE(beyond) << t;
    }
    EXPECT_FALSE(utc::ParseIso("2300-13-01T00:00:00", ns, &beyond));
    EXPECT_FALSE(beyond);
}

TEST(Text, ChannelListsRefuseBackwardsRangesAndHugeNumbersByName) {
    EXPECT_EQ(*ParseChannelList("0,2-4", 18), (std::vector<int>{0, 2, 3, 4}));
    const auto backwards = ParseChannelList("5-2", 18);
    ASSERT_FALSE(backwards);
    EXPECT_EQ(backwards.status().why, Status::Why::kChannelRangeBackwards);
    for (const char* bad : {"99999999999999", "-1", "1-", "a", "2 - 4"}) {
        const auto r = ParseChannelList(bad, 18);
        ASSERT_FALSE(r) << bad;
        EXPECT_EQ(r.status().why, Status::Why::kBadChannelList) << bad;
    }
    EXPECT_EQ(ParseChannelList("18", 18).status().why, Status::Why::kChannelBeyond);
}

}  // namespace
}  // namespace zqd
