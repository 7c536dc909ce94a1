// The helicorder's folding of time into rows.
#include <gtest/gtest.h>

#include <memory>

#include "common/utc.h"
#include "view/helicorder.h"

namespace zqd::view {
namespace {

constexpr std::int64_t kMinute = 60 * utc::kNsPerSecond;
const std::int64_t kDay = utc::ToNs({2026, 12, 7, 0, 0, 0, 0});

class Flat final : public SampleSource {
public:
    explicit Flat(std::int32_t amplitude) : a_(amplitude) {}
    void Read(std::uint64_t first, std::size_t n, std::int32_t* out) const override {
        for (std::size_t k = 0; k < n; ++k) out[k] = (first + k) % 2 ? a_ : -a_;
    }

private:
    std::int32_t a_;
};

// One channel at 1 sample/s: stretches [from, to) minutes after `kDay`, each of amplitude `a`.
WaveformModel Model(std::initializer_list<std::tuple<std::int64_t, std::int64_t, std::int32_t>> stretches) {
    WaveformModel m;
    const int c = m.AddChannel("GY0");
    for (const auto& [from, to, a] : stretches) {
        const auto n = static_cast<std::size_t>((to - from) * 60);
        Stretch& s = m.AddStretch(c, kDay + from * kMinute, 1.0, std::make_shared<Flat>(a));
        std::vector<std::int32_t> v(n);
        Flat(a).Read(0, n, v.data());
        s.summary.Append(v.data(), n);
        s.count = n;
    }
    return m;
}

TEST(Helicorder, TimesFallInTheirRowAndAcrossItUpToMidnight) {
    const HelicorderLayout l = MakeHelicorder(kDay, 24, 15);
    EXPECT_EQ(l.rows, 96);
    EXPECT_EQ(l.Place(kDay), (std::pair{0, 0.0}));
    EXPECT_EQ(l.Place(kDay + 15 * kMinute), (std::pair{1, 0.0}));
    EXPECT_EQ(l.Place(kDay + 22 * kMinute + 30 * utc::kNsPerSecond), (std::pair{1, 0.5}));
    const auto last = l.Place(kDay + utc::kNsPerDay - 1);  // a nanosecond before midnight
    ASSERT_TRUE(last);
    EXPECT_EQ(last->first, 95);
    EXPECT_GT(last->second, 0.999999);
    EXPECT_FALSE(l.Place(kDay + utc::kNsPerDay));  // midnight: the next day's
    EXPECT_FALSE(l.Place(kDay - 1));
    EXPECT_EQ(l.RowStart(95), kDay + 95 * 15 * kMinute);
    // Rows that do not divide the span: the last one is short, nothing beyond the span is placed.
    const HelicorderLayout odd = MakeHelicorder(kDay, 12, 25);
    EXPECT_EQ(odd.rows, 29);  // 28.8 rows
    EXPECT_EQ(odd.Place(kDay + 12 * 60 * kMinute - 1)->first, 28);
    EXPECT_FALSE(odd.Place(kDay + 12 * 60 * kMinute));
    EXPECT_EQ(MakeHelicorder(kDay, 12, 60).rows, 12);
}

TEST(Helicorder, TheDefaultDayIsTheLastWholeOneAndTheScaleIgnoresGapsAndEvents) {
    // From the day before to 05:00 today: yesterday is whole.
    EXPECT_EQ(DefaultHelicorderStart(Model({{-24 * 60, 5 * 60, 10}}), 24), kDay - utc::kNsPerDay);
    // From 10:00 yesterday: no whole day, so the day of the last sample.
    EXPECT_EQ(DefaultHelicorderStart(Model({{-14 * 60, 5 * 60, 10}}), 24), kDay);
    // Half-days: the last whole half-day.
    EXPECT_EQ(DefaultHelicorderStart(Model({{-24 * 60, 5 * 60, 10}}), 12), kDay - 12 * 60 * kMinute);
    // The scale: half the median row range; an empty row (a gap) does not count, nor does one large row.
    const WaveformModel m = Model({{0, 60, 100}, {75, 120, 100}, {120, 135, 5000}});
    const HelicorderLayout l = MakeHelicorder(kDay, 24, 15);
    EXPECT_DOUBLE_EQ(HelicorderScale(m, 0, l), 100);
    EXPECT_TRUE(m.RangeIn(0, l.RowStart(4), l.RowStart(5)).Empty());  // 01:00-01:15 is a gap
}

TEST(Helicorder, TheWindowsKeysStepFollowAndARowClickedIsItsSpan) {
    // Data from the day before to 05:00 today.
    const WaveformModel m = Model({{-24 * 60, 5 * 60, 10}});
    HelicorderView h;
    EXPECT_EQ(h.Layout(m).start_ns, kDay - utc::kNsPerDay);  // the last whole day
    h.follow = true;
    EXPECT_EQ(h.Layout(m).start_ns, kDay);  // the newest, growing
    h.Step(m, -1);
    EXPECT_EQ(h.Layout(m).start_ns, kDay - utc::kNsPerDay);
    EXPECT_FALSE(h.follow);
    h.Step(m, 1);
    EXPECT_EQ(*h.start, kDay);
    h.NextRowLength();
    EXPECT_EQ(h.Layout(m).rows, 48);
    h.NextRowLength();
    h.NextRowLength();
    EXPECT_EQ(h.row_minutes, 15);
    // Half-days from a start at 13:00 keep the half-day it lies in, and back.
    h.start = kDay + 13 * 60 * kMinute;
    h.NextSpan();
    EXPECT_EQ(h.Layout(m).start_ns, kDay + 12 * 60 * kMinute);
    EXPECT_EQ(h.Layout(m).rows, 48);
    h.NextSpan();
    EXPECT_EQ(h.Layout(m).start_ns, kDay);
    // A click: the row's own span; the last of rows that do not divide the span is short.
    const auto row1 = h.RowSpanAt(m, 1.5 / 96);
    ASSERT_TRUE(row1);
    EXPECT_EQ(row1->begin_ns, kDay + 15 * kMinute);
    EXPECT_EQ(row1->end_ns, kDay + 30 * kMinute);
    EXPECT_FALSE(h.RowSpanAt(m, -0.01));
    EXPECT_FALSE(h.RowSpanAt(m, 1.0));
    h.row_minutes = 25;
    h.hours = 12;
    h.start = kDay;
    const auto last = h.RowSpanAt(m, 0.999);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->begin_ns, kDay + 28 * 25 * kMinute);
    EXPECT_EQ(last->end_ns, kDay + 12 * 60 * kMinute);
}

}  // namespace
}  // namespace zqd::view
