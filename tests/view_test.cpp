// The summary pyramid against a brute-force minimum and maximum.
#include "view/summary_pyramid.h"

#include <gtest/gtest.h>

#include <set>

#include <limits>
#include <random>

namespace zqd::view {
namespace {

MinMax Brute(const std::vector<std::int32_t>& v, std::uint64_t a, std::uint64_t b) {
    MinMax r;
    for (std::uint64_t i = a; i < std::min<std::uint64_t>(b, v.size()); ++i) r.Add(v[static_cast<std::size_t>(i)]);
    return r;
}

TEST(SummaryPyramid, RangesAndEnvelopesEqualBruteForceOnRandomData) {
    std::mt19937_64 random(4830);
    for (int finest : {0, 2, 4}) {
        std::vector<std::int32_t> v;
        SummaryPyramid p(finest);
        std::uint64_t reads = 0, most = 0;
        const SampleReader read = [&](std::uint64_t first, std::size_t n, std::int32_t* out) {
            ASSERT_LE(first + n, v.size());
            for (std::size_t i = 0; i < n; ++i) out[i] = v[static_cast<std::size_t>(first + i)];
            reads += n;
        };
        // Appended in pieces of every size, as live blocks arrive.
        while (v.size() < 50000) {
            std::vector<std::int32_t> piece(random() % 700);
            for (auto& s : piece) s = static_cast<std::int32_t>(random() % 65536) - (random() % 97 == 0 ? 100000 : 0);
            v.insert(v.end(), piece.begin(), piece.end());
            p.Append(piece.data(), piece.size());
        }
        ASSERT_EQ(p.Size(), v.size());
        for (int t = 0; t < 3000; ++t) {
            std::uint64_t a = random() % (v.size() + 10), b = random() % (v.size() + 10);
            if (t % 10 == 0) a = 0;
            if (t % 10 == 1) b = v.size();
            if (a > b) std::swap(a, b);
            reads = 0;
            ASSERT_EQ(p.Range(a, b, read), Brute(v, a, b)) << finest << " " << a << " " << b;
            if (b - a >= (4u << finest)) most = std::max(most, reads);
        }
        EXPECT_LE(most, 2u * ((1u << finest) - 1) + (1u << finest)) << "reads a bounded number of samples";
        for (int width : {1, 7, 640, 1920}) {
            const std::uint64_t a = random() % 1000, b = v.size() - random() % 1000;
            const auto env = p.Envelope(a, b, width, read);
            ASSERT_EQ(env.size(), static_cast<std::size_t>(width));
            for (int c = 0; c < width; ++c) {
                const std::uint64_t ca = a + (b - a) * static_cast<std::uint64_t>(c) / static_cast<std::uint64_t>(width);
                const std::uint64_t cb = a + (b - a) * static_cast<std::uint64_t>(c + 1) / static_cast<std::uint64_t>(width);
                ASSERT_EQ(env[static_cast<std::size_t>(c)], Brute(v, ca, cb)) << width << " column " << c;
            }
        }
    }
}

TEST(SummaryPyramid, EmptyAndOutOfRangeSpans) {
    SummaryPyramid p;
    const SampleReader none = [](std::uint64_t, std::size_t n, std::int32_t*) { ASSERT_EQ(n, 0u); };
    EXPECT_TRUE(p.Range(0, 100, none).Empty());
    std::vector<std::int32_t> v(40, 7);
    p.Append(v.data(), v.size());
    const SampleReader read = [&](std::uint64_t first, std::size_t n, std::int32_t* out) {
        for (std::size_t i = 0; i < n; ++i) out[i] = v[static_cast<std::size_t>(first + i)];
    };
    EXPECT_TRUE(p.Range(40, 1000, read).Empty());
    EXPECT_TRUE(p.Range(5, 5, read).Empty());
    EXPECT_EQ(p.Range(0, 1000, read), (MinMax{7, 7}));
    EXPECT_EQ(p.Envelope(0, 40, 0, read).size(), 0u);
}

}  // namespace
}  // namespace zqd::view

namespace zqd::view {
namespace {

// A checksum for the test's own kept levels (the cache has its own).
std::uint64_t TestSum(const void* data, std::size_t bytes) {
    std::uint64_t h = 1469598103934665603ULL;
    for (std::size_t i = 0; i < bytes; ++i) h = (h ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ULL;
    return h;
}

// A pyramid's levels laid out elsewhere, as a cache keeps them: level 0 in
// two runs, the others in one, each with a checksum per block.
struct Kept {
    std::vector<std::vector<MinMax>> data;
    std::vector<std::vector<std::uint64_t>> sums;
    std::vector<SummaryPyramid::Run> runs;
    explicit Kept(const SummaryPyramid& p) {
        const SampleReader none = [](std::uint64_t, std::size_t, std::int32_t*) { FAIL(); };
        for (int k = 0; k < p.Levels(); ++k) {
            std::vector<MinMax> all;
            for (const auto& [ptr, n] : p.Spans(k, 0, none)) all.insert(all.end(), ptr, ptr + n);
            const std::size_t cut = k == 0 ? all.size() / 3 : all.size();
            for (const auto& [a, b] : {std::pair{std::size_t{0}, cut}, std::pair{cut, all.size()}}) {
                if (a == b) continue;
                data.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(a), all.begin() + static_cast<std::ptrdiff_t>(b));
                sums.emplace_back();
                for (std::size_t at = 0; at < b - a; at += SummaryPyramid::kCheckBuckets)
                    sums.back().push_back(TestSum(data.back().data() + at, std::min(SummaryPyramid::kCheckBuckets, b - a - at) * sizeof(MinMax)));
                runs.push_back({k, a, b - a, nullptr, nullptr});
            }
        }
        for (std::size_t i = 0; i < runs.size(); ++i) {
            runs[i].data = data[i].data();
            runs[i].sums = sums[i].data();
        }
    }
};

TEST(SummaryPyramid, KeptLevelsAnswerAsBuiltGrowWithoutCopyAndAreNeverBelievedWhenDamaged) {
    std::mt19937_64 random(7);
    std::vector<std::int32_t> v(12 * SummaryPyramid::kCheckBuckets * 64 + 12345);  // several checked blocks at the finest level
    for (auto& x : v) x = static_cast<std::int32_t>(random() % 100000) - 50000;
    SummaryPyramid built(6);
    built.Append(v.data(), v.size());
    std::uint64_t reads = 0;
    const SampleReader read = [&](std::uint64_t first, std::size_t n, std::int32_t* out) {
        ASSERT_LE(first + n, v.size());
        std::copy_n(v.begin() + static_cast<std::ptrdiff_t>(first), n, out);
        reads += n;
    };
    Kept kept(built);
    const SummaryPyramid::State state = built.Saved();
    const std::vector<MinMax> last = built.LastBuckets(read);
    int told = 0;
    SummaryPyramid cached;
    ASSERT_TRUE(cached.Attach(state, kept.runs, last, nullptr, &TestSum, [&] { ++told; }));
    EXPECT_EQ(cached.Size(), v.size());
    EXPECT_EQ(cached.Finest(), 6);
    EXPECT_EQ(cached.Bytes(), 0u);  // nothing of its own
    for (int t = 0; t < 300; ++t) {
        const std::uint64_t a = random() % v.size(), b = a + random() % (v.size() - a + 1);
        ASSERT_EQ(cached.Range(a, b, read), built.Range(a, b, read));
    }
    // Appending goes on from where it was, without taking the kept levels in.
    std::vector<std::int32_t> more(100000);
    for (auto& x : more) x = static_cast<std::int32_t>(random() % 300000) - 150000;
    const std::size_t before = v.size();
    v.insert(v.end(), more.begin(), more.end());
    cached.Append(more.data(), more.size());
    built.Append(more.data(), more.size());
    EXPECT_LT(cached.Bytes(), built.Bytes() / 10);
    for (std::uint64_t a : {std::uint64_t{0}, before - 1000, std::uint64_t{12345}})
        EXPECT_EQ(cached.Range(a, v.size(), read), built.Range(a, v.size(), read));
    for (int k = 0; k < built.Levels(); ++k) EXPECT_EQ(cached.LevelSize(k), built.LevelSize(k)) << k;
    EXPECT_EQ(told, 0);

    // One byte changed in a kept block: never drawn as it is, made again
    // from the samples, and the owner told once.
    SummaryPyramid damaged;
    ASSERT_TRUE(damaged.Attach(state, kept.runs, last, nullptr, &TestSum, [&] { ++told; }));
    kept.data[0][3 * SummaryPyramid::kCheckBuckets + 17].max ^= 0x4000;
    reads = 0;
    for (int t = 0; t < 100; ++t) {
        const std::uint64_t a = random() % before, b = a + random() % (before - a + 1);
        ASSERT_EQ(damaged.Range(a, b, read), Brute(v, a, b)) << a << " " << b;
    }
    EXPECT_EQ(damaged.Buckets(0, 0, damaged.LevelSize(0), read), Brute(v, 0, damaged.LevelSize(0) << 6));
    EXPECT_EQ(told, 1);
    EXPECT_GT(reads, 0u);
    // Runs, or last buckets, that do not fit the state are refused.
    SummaryPyramid bad;
    auto short_runs = kept.runs;
    short_runs.pop_back();
    EXPECT_FALSE(bad.Attach(state, short_runs, last, nullptr, &TestSum, {}));
    auto gap = kept.runs;
    gap[1].first += 1;
    EXPECT_FALSE(bad.Attach(state, gap, last, nullptr, &TestSum, {}));
    EXPECT_FALSE(bad.Attach(state, kept.runs, std::vector<MinMax>(last.begin(), last.end() - 1), nullptr, &TestSum, {}));
}

}  // namespace
}  // namespace zqd::view

// The waveform model and view: envelopes over stretches and gaps, the time
// axis at its extremes, live appends under a paused view.
#include "common/utc.h"
#include "view/waveform_model.h"
#include "view/waveform_view.h"

namespace zqd::view {
namespace {

class VectorSource final : public SampleSource {
public:
    explicit VectorSource(std::vector<std::int32_t> v) : v_(std::move(v)) {}
    void Read(std::uint64_t first, std::size_t n, std::int32_t* out) const override {
        ASSERT_LE(first + n, v_.size());
        std::copy_n(v_.begin() + static_cast<std::ptrdiff_t>(first), n, out);
    }

private:
    std::vector<std::int32_t> v_;
};

struct Built {
    WaveformModel model;
    std::vector<std::vector<std::int32_t>> data;  // each stretch's samples
};

constexpr std::int64_t kT0 = 1210636800LL * 1000000000;  // 2008-05-13T00:00:00Z

// One channel at 2000/s: stretches at `starts` of `counts` random samples.
Built Build(const std::vector<std::int64_t>& starts, const std::vector<std::size_t>& counts, std::uint64_t seed) {
    Built b;
    std::mt19937_64 random(seed);
    b.model.AddChannel("GY0");
    for (std::size_t i = 0; i < starts.size(); ++i) {
        std::vector<std::int32_t> v(counts[i]);
        for (auto& x : v) x = static_cast<std::int32_t>(random() % 65536);
        Stretch& s = b.model.AddStretch(0, starts[i], 2000, std::make_shared<VectorSource>(v));
        s.summary.Append(v.data(), v.size());
        s.count = v.size();
        b.data.push_back(std::move(v));
    }
    return b;
}

// Brute force: the samples whose times fall in column c of [t0, t1).
std::vector<MinMax> BruteEnvelope(const Built& b, std::int64_t t0, std::int64_t t1, int width) {
    std::vector<MinMax> out(static_cast<std::size_t>(width));
    for (std::size_t i = 0; i < b.data.size(); ++i) {
        const Stretch& s = b.model.At(0).stretches[i];
        for (std::size_t j = 0; j < b.data[i].size(); ++j) {
            const std::int64_t t = s.TimeOf(static_cast<double>(j));
            if (t < t0 || t >= t1) continue;
            const auto col = static_cast<std::size_t>(static_cast<double>(t - t0) * width / static_cast<double>(t1 - t0));
            out[std::min(col, out.size() - 1)].Add(b.data[i][j]);
        }
    }
    return out;
}

TEST(WaveformModel, FineEnvelopesEqualBruteForceAndGapsStayEmpty) {
    // Two stretches with a 3 s gap between them.
    const Built b = Build({kT0, kT0 + 8 * utc::kNsPerSecond}, {10000, 7000}, 1);
    std::mt19937_64 random(2);
    for (int trial = 0; trial < 400; ++trial) {
        const std::int64_t t0 = kT0 - utc::kNsPerSecond + static_cast<std::int64_t>(random() % 13'000'000'000ULL);
        const std::int64_t t1 = t0 + 1'000'000 + static_cast<std::int64_t>(random() % 20'000'000'000ULL);
        const int width = 50 + static_cast<int>(random() % 1900);
        const auto env = b.model.Envelope(0, t0, t1, width);
        const auto brute = BruteEnvelope(b, t0, t1, width);
        const double per_column = static_cast<double>(t1 - t0) / width * 2000 / 1e9;
        if (per_column < 64) {  // samples read: exact
            for (int c = 0; c < width; ++c)
                ASSERT_EQ(env[static_cast<std::size_t>(c)], brute[static_cast<std::size_t>(c)]) << trial << " col " << c;
        } else {  // from the summaries: every column empty where brute force is, the whole the same
            MinMax all, all_brute;
            for (int c = 0; c < width; ++c) {
                ASSERT_EQ(env[static_cast<std::size_t>(c)].Empty(), brute[static_cast<std::size_t>(c)].Empty()) << trial << " col " << c;
                MinMax near;  // a bucket may go to the next column, never further
                for (int d = std::max(c - 1, 0); d <= std::min(c + 1, width - 1); ++d) near.Add(brute[static_cast<std::size_t>(d)]);
                if (!env[static_cast<std::size_t>(c)].Empty()) {
                    ASSERT_GE(env[static_cast<std::size_t>(c)].min, near.min) << trial << " col " << c;
                    ASSERT_LE(env[static_cast<std::size_t>(c)].max, near.max) << trial << " col " << c;
                }
                all.Add(env[static_cast<std::size_t>(c)]);
                all_brute.Add(brute[static_cast<std::size_t>(c)]);
            }
            ASSERT_EQ(all, all_brute) << trial;
        }
    }
    // A span inside the gap has no data at all, and no samples to draw.
    const auto inside = b.model.Envelope(0, kT0 + 5 * utc::kNsPerSecond + 1000, kT0 + 7 * utc::kNsPerSecond, 800);
    for (const auto& m : inside) ASSERT_TRUE(m.Empty());
    const auto runs = b.model.SamplesIn(0, kT0 + 6 * utc::kNsPerSecond, kT0 + 7 * utc::kNsPerSecond, 100);
    ASSERT_TRUE(runs.has_value());
    EXPECT_TRUE(runs->empty());
    // A span across the gap: one run each side, never one joined run.
    const auto across = b.model.SamplesIn(0, kT0 + 4995 * 1'000'000LL, kT0 + 8005 * 1'000'000LL, 1000);
    ASSERT_TRUE(across.has_value());
    ASSERT_EQ(across->size(), 2u);
    EXPECT_EQ(across->at(1).start_ns, kT0 + 8 * utc::kNsPerSecond);
    EXPECT_EQ(across->at(0).values.back(), b.data[0].back());
    EXPECT_FALSE(b.model.SamplesIn(0, kT0, kT0 + utc::kNsPerSecond, 100).has_value());  // too many: envelope
}

TEST(WaveformModel, CarriedSpansFromFilesInAnyOrderMergeAsIfSorted) {
    // Carried spans of four files (channels), each in time order, some
    // touching, overlapping or apart; by one or all at once.
    std::mt19937_64 random(7);
    std::vector<std::vector<TimeSpan>> files(4);
    for (auto& f : files) {
        std::int64_t t = kT0;
        for (int k = 0; k < 300; ++k) {
            t += static_cast<std::int64_t>(random() % 5) * utc::kNsPerSecond;
            const std::int64_t end = t + static_cast<std::int64_t>(1 + random() % 3) * utc::kNsPerSecond;
            f.push_back({t, end});
            t = end;
        }
    }
    // Brute force: every covered second.
    std::set<std::int64_t> seconds;
    for (const auto& f : files)
        for (const auto& s : f)
            for (std::int64_t t = s.begin_ns; t < s.end_ns; t += utc::kNsPerSecond) seconds.insert(t);
    WaveformModel one_by_one, at_once;
    for (const auto& f : files) {
        for (const auto& s : f) one_by_one.MarkCarried(s.begin_ns, s.end_ns);
        at_once.MarkCarried(f);
    }
    for (const WaveformModel* m : {&one_by_one, &at_once}) {
        std::set<std::int64_t> got;
        for (std::size_t i = 0; i < m->Carried().size(); ++i) {
            const TimeSpan& s = m->Carried()[i];
            if (i > 0) {
                ASSERT_LT(m->Carried()[i - 1].end_ns, s.begin_ns);  // apart and in order
            }
            for (std::int64_t t = s.begin_ns; t < s.end_ns; t += utc::kNsPerSecond) got.insert(t);
        }
        EXPECT_EQ(got, seconds);
    }
}

TEST(WaveformView, TimeToPixelAndTicksAtTheExtremes) {
    WaveformView v;
    // A day: hour ticks labelled HH:MM, and the date.
    v.SetSpan(kT0, kT0 + utc::kNsPerDay);
    EXPECT_DOUBLE_EQ(v.XOf(kT0 + utc::kNsPerDay / 2, 1920), 960.0);
    EXPECT_EQ(v.TimeAtX(1920, 1920), kT0 + utc::kNsPerDay);
    auto ticks = TimeTicks(v.Begin(), v.End(), 1920);
    ASSERT_GE(ticks.size(), 8u);
    EXPECT_EQ(ticks.front().label, "05-13");  // midnight shows the date
    EXPECT_EQ(ticks[1].label.size(), 5u);     // "02:00"
    EXPECT_EQ(DateText(kT0), "2008-05-13");
    // 100 samples at 2000/s: 50 ms over 1920 px, tick labels to the millisecond.
    v.SetSpan(kT0 + 123'000'000, kT0 + 173'000'000);
    ticks = TimeTicks(v.Begin(), v.End(), 1920);
    ASSERT_FALSE(ticks.empty());
    EXPECT_EQ(ticks.front().label, "00:00:00.125");
    for (const auto& t : ticks) {
        const double x = v.XOf(t.t_ns, 1920);
        EXPECT_GE(x, 0);
        EXPECT_LE(x, 1920);
        EXPECT_LE(std::llabs(v.TimeAtX(x, 1920) - t.t_ns), 1);
    }
    // Microseconds when zoomed further.
    v.SetSpan(kT0 + 1'000'000'000, kT0 + 1'000'100'000);
    EXPECT_EQ(TimeTicks(v.Begin(), v.End(), 1000).front().label, "01.000000");
    // Across midnight: the new date at its tick.
    v.SetSpan(kT0 - 30 * utc::kNsPerSecond, kT0 + 30 * utc::kNsPerSecond);
    bool date = false;
    for (const auto& t : TimeTicks(v.Begin(), v.End(), 1200)) date = date || (t.t_ns == kT0 && t.label == "05-13");
    EXPECT_TRUE(date);
    EXPECT_EQ(DateText(v.Begin()), "2008-05-12");
    EXPECT_EQ(CursorTimeText(kT0 - 1000), "2008-05-12 23:59:59.999999");
    // Zoom about a point keeps it where it is; the span stays within limits.
    v.SetSpan(kT0, kT0 + utc::kNsPerSecond);
    const std::int64_t about = kT0 + 250'000'000;
    v.Zoom(0.1, about);
    EXPECT_NEAR(v.XOf(about, 1000), 250, 0.01);
    for (int i = 0; i < 40; ++i) v.Zoom(0.1, about);
    EXPECT_EQ(v.Span(), WaveformView::kMinSpanNs);
    for (int i = 0; i < 40; ++i) v.Zoom(10, about);
    EXPECT_EQ(v.Span(), WaveformView::kMaxSpanNs);
}

// Data two years apart: the default span is all of it, ticks carry the
// year, the strip's covered spans keep the gap, and panning and zooming at
// the ends of 64-bit time stay within it.
TEST(WaveformView, DataYearsApartFitWholeAndTheEndsOfTimeAreSafe) {
    const std::int64_t a = kT0 - utc::kNsPerDay, b = a + 730 * utc::kNsPerDay;  // 2008-05-12, 2010-05-12
    Built built = Build({a, b}, {4000, 4000}, 9);
    WaveformView v;
    v.Fit(built.model);
    EXPECT_LE(v.Begin(), a);
    EXPECT_GE(v.End(), b + 2 * utc::kNsPerSecond);
    const auto ticks = TimeTicks(v.Begin(), v.End(), 1600);
    ASSERT_GE(ticks.size(), 2u);
    EXPECT_EQ(ticks.front().label.size(), 10u) << ticks.front().label;  // "2008-10-15": the year too
    const auto covered = built.model.Covered(v.Begin(), v.End());
    ASSERT_EQ(covered.size(), 2u);
    EXPECT_EQ(covered[0].begin_ns, a);
    EXPECT_EQ(covered[0].end_ns, a + 2 * utc::kNsPerSecond);
    EXPECT_EQ(covered[1].begin_ns, b);
    // The ends of time: no overflow (the sanitizers would say), the span whole.
    constexpr auto hi = std::numeric_limits<std::int64_t>::max(), lo = std::numeric_limits<std::int64_t>::min();
    v.SetSpan(lo, hi);
    EXPECT_EQ(v.Span(), WaveformView::kMaxSpanNs);
    for (int i = 0; i < 100; ++i) v.Pan(1.0);
    EXPECT_EQ(v.Span(), WaveformView::kMaxSpanNs);
    EXPECT_GT(v.End(), v.Begin());
    (void)TimeTicks(v.Begin(), v.End(), 1600);
    for (int i = 0; i < 100; ++i) v.Pan(-1.0);
    v.Zoom(0.5, lo);
    v.SetSpan(hi - 1000, hi);
    v.Zoom(10, hi);
    EXPECT_GT(v.End(), v.Begin());
}

acq::BlockPtr LiveBlock(std::int64_t t, int k) {
    auto b = std::make_shared<acq::Block>();
    b->ChnNum = 3;
    b->ChnPoints = 2000;
    b->SampleFrq = 2000;
    b->words.assign(2 + 3 * 2000, 0);
    for (int j = 0; j < 2000; ++j) b->words[static_cast<std::size_t>(1 + j * 3 + 2)] = static_cast<std::int16_t>(k * 10 + j % 7);
    b->time_ns = t;
    b->time_status = k % 5 == 3 ? acq::TimeStatus::kCarried : acq::TimeStatus::kOwn;
    return b;
}

TEST(WaveformModel, LiveBlocksJoinFollowAndLeaveAPausedViewAsItWas) {
    WaveformModel m;
    m.AddChannel("GY0", 2);
    WaveformView v;
    v.live_seconds = 10;
    for (int k = 0; k < 20; ++k) {
        m.AppendBlock(LiveBlock(kT0 + k * utc::kNsPerSecond, k));
        v.Follow(m);
    }
    ASSERT_EQ(m.At(0).stretches.size(), 1u);  // continuous: one stretch
    EXPECT_EQ(v.End(), kT0 + 20 * utc::kNsPerSecond);
    EXPECT_EQ(v.Span(), 10 * utc::kNsPerSecond);
    EXPECT_EQ(m.ValueAt(0, kT0 + 3 * utc::kNsPerSecond)->second, 30);
    EXPECT_EQ(m.Carried().size(), 4u);  // blocks 3, 8, 13, 18
    // Paused and zoomed in: later blocks change neither the span nor what it shows.
    v.paused = true;
    v.SetSpan(kT0 + 12 * utc::kNsPerSecond, kT0 + 12 * utc::kNsPerSecond + 50'000'000);
    const auto before = m.Envelope(0, v.Begin(), v.End(), 300);
    for (int k = 20; k < 40; ++k) {
        m.AppendBlock(LiveBlock(kT0 + k * utc::kNsPerSecond, k));
        v.Follow(m);
    }
    EXPECT_EQ(v.Begin(), kT0 + 12 * utc::kNsPerSecond);
    EXPECT_EQ(m.Envelope(0, v.Begin(), v.End(), 300), before);
    // A jump in time starts a new stretch; old stretches are let go whole.
    m.AppendBlock(LiveBlock(kT0 + 100 * utc::kNsPerSecond, 1));
    EXPECT_EQ(m.At(0).stretches.size(), 2u);
    m.DropBefore(kT0 + 90 * utc::kNsPerSecond);
    EXPECT_EQ(m.At(0).stretches.size(), 1u);
    EXPECT_TRUE(m.Carried().empty());
}

}  // namespace
}  // namespace zqd::view

#include "app/frm_viewer.h"

namespace zqd {
namespace {

// An archive's rows come sorted by name, the receiver's G* and the clock's
// LC* among the data: opened, the data are shown and the health channels
// are not; a list draws its rows in the order it names them.
TEST(ViewerRows, DataFirstHealthOnRequestAndTheOrderAsked) {
    view::WaveformModel m;
    for (const char* name : {"XX.ZQD01.00.GDP", "XX.ZQD01.00.HHE", "XX.ZQD01.00.HHN", "XX.ZQD01.00.HHZ", "XX.ZQD01.10.LCE",
                             "XX.ZQD01.00.LCQ"})
        m.AddChannel(name);
    const auto shown = SelectRows(m, {});
    ASSERT_TRUE(shown.ok());
    EXPECT_EQ(*shown, (std::vector<bool>{false, true, true, true, false, false}));
    std::vector<int> order;
    const auto asked = SelectRows(m, "HHZ,HHN,HHE,LCE", &order);
    ASSERT_TRUE(asked.ok());
    EXPECT_EQ(order, (std::vector<int>{3, 2, 1, 4}));
    view::WaveformView v;
    v.SetRowCount(m.ChannelCount());
    for (int c = 0; c < m.ChannelCount(); ++c) v.SetHidden(c, !(*asked)[static_cast<std::size_t>(c)]);
    v.SetOrder(order);
    EXPECT_EQ(v.ShownRows(), (std::vector<int>{3, 2, 1, 4}));
    v.SetHidden(0, false);  // shown on request: after those asked for
    EXPECT_EQ(v.ShownRows(), (std::vector<int>{3, 2, 1, 4, 0}));
    // Health channels alone are shown.
    view::WaveformModel health;
    health.AddChannel("XX.ZQD01.00.LCE");
    EXPECT_EQ(*SelectRows(health, {}), std::vector<bool>{true});
}

}  // namespace
}  // namespace zqd
