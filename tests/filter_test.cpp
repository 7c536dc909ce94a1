// The Butterworth filters against their analytic response: the bilinear
// transform of the Butterworth prototype, |H|^2 = 1 / (1 + R^2N), R written
// from the pre-warped frequencies (tan(pi f / fs)) for each kind. The gain is
// measured by filtering sines, so that the sections as run are checked, not
// only as designed.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "app/frm_viewer.h"
#include "app/messages.h"
#include "signal/filter.h"
#include "view/filtered_model.h"

namespace zqd::view {
namespace {

using signal::Filter;
using signal::FilterSpec;
using signal::FilterText;
using signal::ParseFilter;

constexpr double kPi = std::numbers::pi;

double AnalyticDb(const FilterSpec& f, double rate, double hz) {
    const auto w = [&](double x) { return std::tan(kPi * x / rate); };
    double r = 0;
    switch (f.kind) {
    case FilterSpec::Kind::kLowPass: r = w(hz) / w(f.high_hz); break;
    case FilterSpec::Kind::kHighPass: r = w(f.low_hz) / w(hz); break;
    case FilterSpec::Kind::kBandPass: {
        const double w1 = w(f.low_hz), w2 = w(f.high_hz);
        r = (w(hz) * w(hz) - w1 * w2) / (w(hz) * (w2 - w1));
        break;
    }
    default: return 0;
    }
    return -10 * std::log10(1 + std::pow(r * r, f.order));
}

// The gain of `run` on a sine of `hz`, in dB, from its steady state: the
// amplitude found by projecting the last whole cycles onto sine and cosine;
// and its phase against the input.
struct Measured {
    double db, phase;
};
template <typename Run>
Measured Measure(double rate, double hz, double seconds, Run run) {
    const auto n = static_cast<std::size_t>(seconds * rate);
    std::vector<double> x(n);
    for (std::size_t k = 0; k < n; ++k) x[k] = std::sin(2 * kPi * hz * static_cast<double>(k) / rate);
    run(x);
    // The middle half: past the transients at both ends (zero-phase has two).
    const std::size_t from = n / 4;
    const auto cycles = std::floor(static_cast<double>(n / 2) * hz / rate);
    const auto len = static_cast<std::size_t>(std::llround(cycles * rate / hz));
    double s = 0, c = 0;
    for (std::size_t k = from; k < from + len; ++k) {
        const double a = 2 * kPi * hz * static_cast<double>(k) / rate;
        s += x[k] * std::sin(a);
        c += x[k] * std::cos(a);
    }
    const double amp = 2 * std::hypot(s, c) / static_cast<double>(len);
    return {20 * std::log10(amp), std::atan2(c, s)};
}

TEST(Filter, EveryKindAndOrderFollowsItsAnalyticResponseWithinATenthOfADecibel) {
    struct Case {
        const char* text;
        double rate;
        std::vector<double> at;  // corners, pass band, stop band
    };
    const std::vector<Case> cases = {
        {"lp:10:2", 100, {10, 2, 5, 25}},
        {"lp:10:5", 100, {10, 3, 20, 30}},
        {"lp:100:8", 2000, {100, 20, 150, 300}},
        {"hp:2:4", 100, {2, 10, 30, 1, 0.8}},
        {"hp:0.5:3", 50, {0.5, 5, 0.3}},
        {"bp:1:10:4", 100, {1, 10, 3, 5, 0.4, 25}},
        {"bp:5:8:6", 100, {5, 8, 6.3, 3, 12}},
        {"bp:20:200:2", 2000, {20, 200, 60, 5, 600}},
    };
    for (const auto& c : cases) {
        const auto spec = ParseFilter(c.text);
        ASSERT_TRUE(spec) << c.text;
        Filter f;
        ASSERT_TRUE(Filter::Design(*spec, c.rate, f).ok()) << c.text;
        for (const double hz : c.at) {
            const double want = AnalyticDb(*spec, c.rate, hz);
            EXPECT_NEAR(20 * std::log10(f.Gain(hz)), want, 0.1) << c.text << " at " << hz << " Hz (designed)";
            const double seconds = std::max(40.0, 400 / std::min(hz, spec->low_hz > 0 ? spec->low_hz : hz));
            Filter live = f;
            const Measured m = Measure(c.rate, hz, seconds, [&](std::vector<double>& x) {
                // Causal, in pieces: the state carries from one to the next.
                for (std::size_t at = 0; at < x.size(); at += 777) live.Run(x.data() + at, std::min<std::size_t>(777, x.size() - at));
            });
            EXPECT_NEAR(m.db, want, 0.1) << c.text << " at " << hz << " Hz (run)";
        }
        // The corners are at -3 dB.
        for (const double corner : {spec->low_hz, spec->high_hz}) {
            if (corner > 0) {
                EXPECT_NEAR(AnalyticDb(*spec, c.rate, corner), -3.0103, 1e-3) << c.text;
            }
        }
    }
}

TEST(Filter, ZeroPhaseSquaresTheGainAndDelaysNothing) {
    const auto spec = ParseFilter("bp:1:10:4");
    Filter f;
    ASSERT_TRUE(Filter::Design(*spec, 100, f).ok());
    for (const double hz : {1.0, 2.0, 4.0, 10.0}) {
        const Measured m = Measure(100, hz, 200, [&](std::vector<double>& x) { f.RunZeroPhase(x.data(), x.size()); });
        EXPECT_NEAR(m.db, 2 * AnalyticDb(*spec, 100, hz), 0.1) << hz;
        EXPECT_NEAR(m.phase, 0, 1e-3) << hz;  // radians: no delay at all
    }
    // A causal pass delays: the same band's phase at 4 Hz is far from zero.
    Filter live = f;
    const Measured causal = Measure(100, 4, 200, [&](std::vector<double>& x) { live.Run(x.data(), x.size()); });
    EXPECT_GT(std::abs(causal.phase), 0.1);
    // De-mean: the mean goes, nothing else.
    Filter demean;
    ASSERT_TRUE(Filter::Design(*ParseFilter("demean"), 100, demean).ok());
    std::vector<double> x = {5, 7, 9, 11};
    demean.RunZeroPhase(x.data(), x.size());
    EXPECT_EQ(x, (std::vector<double>{-3, -1, 1, 3}));
    // A constant through a high-pass from its steady state: zero throughout, no step at the start.
    Filter hp;
    ASSERT_TRUE(Filter::Design(*ParseFilter("hp:0.5"), 100, hp).ok());
    std::vector<double> level(500, 1234.0);
    hp.RunZeroPhase(level.data(), level.size());
    for (double v : level) ASSERT_NEAR(v, 0, 1e-6);
}

TEST(Filter, TextsAreReadBackAndWhatCannotBeIsRefused) {
    for (const char* good : {"bp:1:10:4", "hp:0.5:4", "lp:20:8", "demean", "none"}) {
        const auto f = ParseFilter(good);
        ASSERT_TRUE(f) << good;
        EXPECT_EQ(FilterText(*f), good);
    }
    EXPECT_EQ(ParseFilter("bp:1:10")->order, 4);
    for (const char* bad : {"", "bp", "bp:10:1", "bp:1", "hp:-1", "hp:abc", "lp:20:9", "lp:20:2.5", "xx:1", "demean:1",
                            "bp:1:10:4:5", "hp:nan", "hp:inf"}) {
        const auto f = ParseFilter(bad);
        ASSERT_FALSE(f) << bad;
        EXPECT_EQ(f.status().why, Status::Why::kFilterUnreadable) << bad;
        EXPECT_EQ(f.status().detail, bad);
    }
    Filter f;
    EXPECT_FALSE(Filter::Design(*ParseFilter("lp:50"), 100, f).ok());   // at Nyquist
    EXPECT_FALSE(Filter::Design(*ParseFilter("bp:1:60"), 100, f).ok());  // beyond
    EXPECT_FALSE(Filter::Design(*ParseFilter("hp:1"), 0, f).ok());
    const Status s = Filter::Design(*ParseFilter("lp:50"), 100, f);
    EXPECT_EQ(s.why, Status::Why::kBadFilter);
}

TEST(FilteredModel, OnlyTheSpanShownIsFilteredWithItsMarginAndTheDriftIsGone) {
    // 100 samples/s for 10 minutes: a 2 Hz wave of 300 counts on a slow drift of 20000.
    constexpr double kRate = 100;
    constexpr std::int64_t kT0 = 1'000'000'000'000'000'000;
    std::vector<std::int32_t> v(60000);
    for (std::size_t k = 0; k < v.size(); ++k) {
        const double t = static_cast<double>(k) / kRate;
        v[k] = static_cast<std::int32_t>(std::lround(20000 * std::sin(2 * kPi * t / 600) + 300 * std::sin(2 * kPi * 2 * t)));
    }
    WaveformModel m;
    for (const char* name : {"GY0", "GY1"}) {
        const int c = m.AddChannel(name);
        Stretch& s = m.AddStretch(c, kT0, kRate, std::make_shared<HeldSamples>(v));
        s.summary.Append(v.data(), v.size());
        s.count = v.size();
    }
    const auto spec = *ParseFilter("hp:0.5");
    const std::int64_t t0 = kT0 + 200'000'000'000, t1 = kT0 + 260'000'000'000;  // a minute in the middle
    WaveformModel out;
    ASSERT_TRUE(FilterModel(m, {false, true}, t0, t1, spec, out).ok());
    ASSERT_EQ(out.ChannelCount(), 2);
    EXPECT_TRUE(out.At(0).stretches.empty());  // not shown: not filtered
    ASSERT_EQ(out.At(1).stretches.size(), 1u);
    const Stretch& f = out.At(1).stretches[0];
    // The span and twenty seconds (ten periods of 0.5 Hz) on each side.
    EXPECT_EQ(f.start_ns, t0 - FilterMarginNs(spec));
    EXPECT_EQ(FilterMarginNs(spec), 20'000'000'000);
    EXPECT_EQ(f.count, 10000u);
    const MinMax range = out.RangeIn(1, t0, t1);
    EXPECT_NEAR(range.max, 300, 6);   // the wave, whole (0.5 Hz is far below 2 Hz)
    EXPECT_NEAR(range.min, -300, 6);  // and the drift gone
    // Too much to filter is refused before anything is read.
    const Status too_long = FilterModel(m, {}, kT0, kT0 + 600'000'000'000, spec, out, 100000);
    EXPECT_EQ(too_long.why, Status::Why::kFilteredSpanTooLong);
    // Said without an empty place before it ("：要滤波…").
    EXPECT_EQ(app::Text(too_long).rfind("要滤波的时段有 120000 个样本", 0), 0u) << app::Text(too_long);
    EXPECT_EQ(FilterModel(m, {}, t0, t1, *ParseFilter("lp:60"), out).why, Status::Why::kBadFilter);

    // A health row of a sample a second beside them: below a 1 Hz corner's
    // Nyquist frequency, it is shown as it is, and named; the others are filtered.
    std::vector<std::int32_t> slow(600);
    for (std::size_t k = 0; k < slow.size(); ++k) slow[k] = static_cast<std::int32_t>(100 + k % 7);
    const int lce = m.AddChannel("XX.ZQD01.00.LCE");
    Stretch& s = m.AddStretch(lce, kT0, 1, std::make_shared<HeldSamples>(slow));
    s.summary.Append(slow.data(), slow.size());
    s.count = slow.size();
    std::vector<int> left;
    ASSERT_TRUE(FilterModel(m, {}, t0, t1, *ParseFilter("bp:1:10"), out, kMostFilteredSamples, &left).ok());
    EXPECT_EQ(left, std::vector<int>{lce});
    ASSERT_EQ(out.At(lce).stretches.size(), 1u);
    std::vector<std::int32_t> back(out.At(lce).stretches[0].count);
    out.At(lce).stretches[0].source->Read(0, back.size(), back.data());
    const auto first = static_cast<std::size_t>((out.At(lce).stretches[0].start_ns - kT0) / 1'000'000'000);
    EXPECT_EQ(back, std::vector<std::int32_t>(slow.begin() + static_cast<std::ptrdiff_t>(first),
                                              slow.begin() + static_cast<std::ptrdiff_t>(first + back.size())));
    EXPECT_NEAR(out.RangeIn(1, t0, t1).max, 300, 10);  // the 2 Hz wave kept, the drift gone
    EXPECT_EQ(zqd::UnfilteredNote(m, left), "未滤波：LCE（采样率太低，不适合此滤波器，按原样显示）");
    // The health row alone: nothing to filter, refused.
    EXPECT_EQ(FilterModel(m, {false, false, true}, t0, t1, *ParseFilter("bp:1:10"), out).why, Status::Why::kBadFilter);
}

}  // namespace
}  // namespace zqd::view

#ifdef ZQD_HAVE_SPECTROGRAM
#include <algorithm>
#include <random>

#include "signal/noise_models.h"
#include "signal/psd.h"
#include "signal/spectrogram.h"

namespace zqd::signal {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(Spectrogram, ASineAndAChirpPeakAtTheirFrequencyAndTime) {
    constexpr double kRate = 200;
    constexpr std::int64_t kStart = 1'000'000'000'000'000'000;
    // Twenty seconds of 25 Hz on a large offset, then twenty of a chirp from 5 to 85 Hz.
    std::vector<std::int32_t> x(8000);
    for (std::size_t k = 0; k < x.size(); ++k) {
        const double t = static_cast<double>(k) / kRate;
        const double phase = t < 20 ? 2 * kPi * 25 * t : 2 * kPi * (5 * (t - 20) + 2 * (t - 20) * (t - 20));  // 5 + 4 (t-20) Hz
        x[k] = static_cast<std::int32_t>(std::lround(2048 + 1000 * std::sin(phase)));
    }
    Spectrogram s;
    ASSERT_TRUE(ComputeSpectrogram(x.data(), x.size(), kRate, kStart, 256, s).ok());
    EXPECT_EQ(s.bins, 129);
    EXPECT_EQ(s.Frames(), (8000u - 256) / 128 + 1);
    EXPECT_EQ(s.step_ns, 640'000'000);
    EXPECT_EQ(s.first_ns, kStart + 640'000'000);
    auto peak = [&](std::size_t f) {
        int best = 1;
        for (int b = 1; b < s.bins; ++b)
            if (s.At(f, b) > s.At(f, best)) best = b;
        return s.BinHz(best);
    };
    const double bin = kRate / 256;
    for (std::size_t f = 0; f < s.Frames(); ++f) {
        const double centre = static_cast<double>(s.first_ns - kStart + static_cast<std::int64_t>(f) * s.step_ns) / 1e9;
        if (centre + 0.64 < 20) {
            EXPECT_NEAR(peak(f), 25, bin) << centre;
            EXPECT_LT(s.At(f, 0), s.At(f, 32) - 60) << "the offset is taken out";
        } else if (centre - 0.64 > 20) {
            EXPECT_NEAR(peak(f), 5 + 4 * (centre - 20), 2 * bin) << centre;  // the chirp, where it is then
        }
    }
    // The power of a sine of amplitude A, as a density: A^2 / 2 spread over the
    // window's equivalent noise bandwidth (1.5 bins for Hann).
    const double expected = 10 * std::log10(1000.0 * 1000 / 2 / (1.5 * bin));
    EXPECT_NEAR(s.At(3, 32), expected, 0.5);
    Spectrogram bad;
    EXPECT_EQ(ComputeSpectrogram(x.data(), x.size(), kRate, kStart, 300, bad).why, Status::Why::kBadSpectrogram);
    EXPECT_EQ(ComputeSpectrogram(x.data(), 100, kRate, kStart, 256, bad).why, Status::Why::kBadSpectrogram);
}

// White noise of a known variance has the flat density 2σ²/fs at every
// period, with a response taken out its level falls by the response's;
// a sine stands out at its own period.
TEST(Psd, WhiteNoiseIsFlatAtItsKnownLevelAndASineStandsAtItsPeriod) {
    constexpr double kRate = 20, kSigma = 100;
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, kSigma);
    std::vector<std::int32_t> day(static_cast<std::size_t>(86400 * kRate));
    for (auto& v : day) v = static_cast<std::int32_t>(std::lround(2048 + noise(rng)));
    PsdMaker maker(kRate);
    ASSERT_TRUE(maker.Usable());
    EXPECT_EQ(maker.SegmentSamples(), 72000u);
    EXPECT_EQ(maker.PieceSamples(), 18000u);  // 13 pieces overlapping by 75 % fill the hour
    const double expected = 10 * std::log10(2 * kSigma * kSigma / kRate);  // 30 dB rel. 1 count²/Hz
    const auto& periods = maker.Periods();
    ASSERT_FALSE(periods.empty());
    EXPECT_NEAR(periods.front(), 2 / kRate * std::sqrt(2.0), 1e-9);
    std::vector<double> sum(periods.size(), 0);
    int segments = 0;
    for (std::size_t at = 0; at + maker.SegmentSamples() <= day.size(); at += maker.SegmentStep(), ++segments) {
        const auto db = maker.Segment(day.data() + at);
        for (std::size_t i = 0; i < db.size(); ++i) sum[i] += db[i];
    }
    EXPECT_EQ(segments, 47);  // hours overlapping by half
    for (std::size_t i = 0; i < periods.size(); ++i)
        EXPECT_NEAR(sum[i] / segments, expected, 0.5) << periods[i] << " s";
    maker.SetResponse([](double) { return 100.0; });
    const auto taken = maker.Segment(day.data());
    maker.SetResponse(nullptr);
    const auto raw = maker.Segment(day.data());
    for (std::size_t i = 0; i < raw.size(); ++i) EXPECT_NEAR(taken[i], raw[i] - 20, 1e-9);

    std::vector<std::int32_t> hour(maker.SegmentSamples());
    for (std::size_t k = 0; k < hour.size(); ++k)
        hour[k] = static_cast<std::int32_t>(std::lround(1000 * std::sin(2 * kPi * 2.0 * static_cast<double>(k) / kRate) + noise(rng) / 10));
    const auto db = maker.Segment(hour.data());
    // The periodogram's peak at 2 Hz to the bin; the octave averages highest
    // among the octaves holding 0.5 s, far above the noise.
    const auto& power = maker.Periodogram();
    const auto bin = static_cast<std::size_t>(std::max_element(power.begin(), power.end()) - power.begin());
    EXPECT_NEAR(static_cast<double>(bin) * kRate / static_cast<double>(maker.PieceSamples()), 2.0, 1e-9);
    const std::size_t peak = static_cast<std::size_t>(std::max_element(db.begin(), db.end()) - db.begin());
    EXPECT_LE(std::abs(std::log2(periods[peak] / 0.5)), 0.5) << periods[peak];
    EXPECT_GT(db[peak], expected - 20 + 40) << periods[peak];
    // The histogram's middle at the level.
    Ppsd ppsd(periods, -50, 150);
    for (std::size_t at = 0; at + maker.SegmentSamples() <= day.size(); at += maker.SegmentStep())
        ppsd.Add(maker.Segment(day.data() + at));
    EXPECT_EQ(ppsd.segments, 47u);
    EXPECT_NEAR(ppsd.Percentile(0, 0.5), expected, 1.0);
    EXPECT_NEAR(ppsd.Mode(0), expected, 1.0);
    // A segment whose pieces' step is no whole number of samples (15 s at
    // 200/s: pieces of 750, a step of 187.5) is read within its samples
    // (ASan sees a read beyond them), its levels all numbers.
    PsdSettings short_segments;
    short_segments.segment_seconds = 15;
    PsdMaker fifteen(200, short_segments);
    ASSERT_TRUE(fifteen.Usable());
    std::vector<std::int32_t> segment(fifteen.SegmentSamples());
    for (std::size_t k = 0; k < segment.size(); ++k) segment[k] = static_cast<std::int32_t>(std::lround(noise(rng)));
    for (const double level : fifteen.Segment(segment.data())) EXPECT_TRUE(std::isfinite(level));
    // Levels beyond the histogram are counted apart, not in its edge bins:
    // the percentiles say they are beyond it.
    Ppsd narrow({1.0}, 0, 10);
    for (const double level : {-40.0, -30.0, 5.2, 70.0}) narrow.Add({level});
    EXPECT_EQ(narrow.Total(0), 4u);
    EXPECT_EQ(narrow.Outside(), 3u);
    EXPECT_EQ(narrow.At(0, 0) + narrow.At(0, 9), 0u);
    EXPECT_EQ(narrow.Percentile(0, 0.5), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(narrow.Percentile(0, 0.75), 5.5);
    EXPECT_EQ(narrow.Percentile(0, 0.9), std::numeric_limits<double>::infinity());
}

// Peterson's models at a few periods, from the published table by hand:
// A + B log10(P) of the segment the period falls in.
TEST(NoiseModels, ThePublishedLevelsAtAFewPeriods) {
    EXPECT_NEAR(NewLowNoiseModel(0.1), -162.36 - 5.64, 1e-9);
    EXPECT_NEAR(NewLowNoiseModel(1.0), -166.40, 1e-9);
    EXPECT_NEAR(NewLowNoiseModel(10.0), -132.18 - 31.57, 1e-9);
    EXPECT_NEAR(NewLowNoiseModel(100.0), -216.47 + 15.70 * 2, 1e-9);
    EXPECT_NEAR(NewHighNoiseModel(1.0), -116.85, 1e-9);
    EXPECT_NEAR(NewHighNoiseModel(10.0), -93.37 - 22.42, 1e-9);
    EXPECT_NEAR(NewHighNoiseModel(1000.0), -206.66 + 31.63 * 3, 1e-9);
    EXPECT_TRUE(std::isnan(NewLowNoiseModel(0.05)));
    EXPECT_TRUE(std::isnan(NewHighNoiseModel(2e5)));
    // The low model is below the high one everywhere they are defined.
    for (double p = 0.1; p < 1e5; p *= 1.1) EXPECT_LT(NewLowNoiseModel(p), NewHighNoiseModel(p)) << p;
}

}  // namespace
}  // namespace zqd::signal
#endif
