// The one continuity rule, and the times along a series it is applied to.
#include "timeline/timeline.h"

#include <gtest/gtest.h>

#include <limits>

namespace zqd::timeline {
namespace {

TEST(Timeline, ASeriesContinuesWithinHalfASampleAndBreaksBeyond) {
    const std::int64_t t = 1210613920300000000;  // 2008-05-12T17:38:40.3
    // 2000 samples a second: the period is 500 us, the tolerance 250 us either way.
    EXPECT_EQ(HalfPeriodNs(2000), 250000);
    for (const std::int64_t d : {0LL, 1LL, 249999LL, 250000LL, -250000LL}) EXPECT_TRUE(Continues(t, t + d, 2000)) << d;
    for (const std::int64_t d : {250001LL, -250001LL, 500000LL, 750000LL}) {
        EXPECT_FALSE(Continues(t, t + d, 2000)) << d;
        EXPECT_EQ(Break(t, t + d, 2000), d);
    }
    EXPECT_EQ(Break(t, t + 250000, 2000), 0);
    // Rates that do not divide a second: three a second, 166,666,666 ns.
    EXPECT_TRUE(Continues(t, t + 166666666, 3));
    EXPECT_FALSE(Continues(t, t + 166666667, 3));
    // Times as far apart as 64 bits go break, without overflowing.
    constexpr auto lo = std::numeric_limits<std::int64_t>::min(), hi = std::numeric_limits<std::int64_t>::max();
    EXPECT_FALSE(Continues(lo, hi, 1));
    EXPECT_EQ(Break(lo, hi, 1), hi);
    EXPECT_EQ(Break(hi, lo, 1), lo);
}

TEST(Timeline, ScanAndSampleTimesRoundToTheNearestNanosecond) {
    EXPECT_EQ(ScansToNs(2000, 2000), kNsPerSecond);
    EXPECT_EQ(ScansToNs(1, 3), 333333333);
    EXPECT_EQ(ScansToNs(2, 3), 666666667);
    EXPECT_EQ(ScansToNs(-1, 3), -333333333);
    EXPECT_EQ(ScansToNs(7, 0), 0);
    EXPECT_EQ(SampleTime(100, 2, 3), 100 + 666666667);
    EXPECT_EQ(SampleTime(0, 3e9, 2000), 1500000 * kNsPerSecond);
    // Beyond what 64 bits hold the time saturates, never overflows.
    constexpr auto hi = std::numeric_limits<std::int64_t>::max(), lo = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(SampleTime(hi - 1000, 2000, 2000), hi);
    EXPECT_EQ(SampleTime(lo + 1000, -2000, 2000), lo);
    EXPECT_EQ(SampleTime(0, 1e300, 1), hi);
}

}  // namespace
}  // namespace zqd::timeline
