// Time from the 1PPS pulse on a real card: a sample clock 25 ppm fast that
// wanders, a receiver whose message comes 120 ms after the pulse. Everything
// is read back from the archive with libmseed, and the pulse's edges are
// found again in the archived pulse channel and timed from each record's
// own start.
#include <gtest/gtest.h>
#include <libmseed.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "acquisition/block_dater.h"
#include "acquisition/clock_model.h"
#include "acquisition/session.h"
#include "app/archive_texts.h"
#include "archive/archive_config.h"
#include "archive/archive_sink.h"
#include "card/sim/sim_card.h"
#include "common/utc.h"
#include "scripted_card.h"
#include "test_support.h"

namespace zqd::archive {
namespace {

constexpr std::int64_t kStart = 1210613920300000000;  // 2008-05-12T17:38:40.3

struct Rec {
    std::int64_t start_ns;
    std::vector<std::int32_t> samples;
    int quality;
    char dataquality;
};

std::vector<Rec> ReadAll(const std::filesystem::path& file) {
    std::vector<Rec> out;
    MSFileParam* fp = nullptr;
    MSRecord* msr = nullptr;
    while (ms_readmsr_r(&fp, &msr, file.c_str(), 0, nullptr, nullptr, 1, 1, 0) == MS_NOERROR) {
        const auto* s = static_cast<const std::int32_t*>(msr->datasamples);
        out.push_back({static_cast<std::int64_t>(msr->starttime) * 1000, {s, s + msr->numsamples},
                       msr->Blkt1001 ? msr->Blkt1001->timing_qual : -1, msr->dataquality});
    }
    ms_readmsr_r(&fp, &msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    return out;
}

std::vector<std::int32_t> Values(const std::vector<Rec>& recs) {
    std::vector<std::int32_t> v;
    for (const auto& r : recs) v.insert(v.end(), r.samples.begin(), r.samples.end());
    return v;
}

// The first rising edge of the pulse in a record, in samples from its start:
// the scan that straddles it read in proportion to the part the pulse covers.
std::optional<double> FirstEdge(const std::vector<std::int32_t>& x) {
    for (std::size_t j = 2; j + 1 < x.size(); ++j) {
        if (!(x[j] > 3000 && x[j - 1] <= 3000)) continue;
        const double low = x[j - 2], high = x[j + 1];
        auto share = [&](double v) { return std::clamp((v - low) / (high - low), 0.0, 1.0); };
        return static_cast<double>(j) + 1 - share(x[j]) - share(x[j - 1]);
    }
    return std::nullopt;
}

// The samples of a one-a-second channel by the second (0: the first whole
// second of the acquisition).
std::map<std::int64_t, std::int32_t> BySecond(const std::vector<Rec>& recs) {
    std::map<std::int64_t, std::int32_t> out;
    for (const auto& r : recs)
        for (std::size_t i = 0; i < r.samples.size(); ++i)
            out[utc::FloorDiv(r.start_ns - kStart, utc::kNsPerSecond) + static_cast<std::int64_t>(i)] = r.samples[i];
    return out;
}

struct Station {
    test::TempDir dir;
    test::ScriptedCard card;
    sim::SimCard sim;
    acq::Session session{card, {false, std::chrono::milliseconds(1000)}};
    std::shared_ptr<ArchiveSink> sink;
    std::shared_ptr<acq::SinkRunner> runner;
    std::vector<std::string> notes;

    Station(sim::SimSettings s, const acq::TimingConfig& timing, std::map<int, std::string> channels = {{0, "GYP"}},
            std::int64_t start = kStart)
        : sim(Settings(s, start), [] { return 0; }) {
        sim.Initial(320, 5, 0, 0);
        sim.StartIntr(10, 2000, 0, 18, 2000, 0, 1);
        card.fill = [this](int k, std::int16_t* w) { sim.FillSamples(k, w + 1); };
        ArchiveConfig c = DefaultConfig();
        c.channels = std::move(channels);
        c.timing = timing;
        sink = std::make_shared<ArchiveSink>(c, dir.path(), [this](const ArchiveNote& n) { notes.push_back(app::NoteText(n)); });
        runner = session.AddSink(sink, 64);
        session.SetTiming(timing);
    }
    static sim::SimSettings Settings(sim::SimSettings s, std::int64_t start) {
        s.start_from_clock = false;
        s.start_ns = start;
        return s;
    }
    void Run(int blocks) {
        EXPECT_TRUE(session.Start(acq::AcqConfig{}).ok());
        for (int done = 0; done < blocks; done += 10) {
            card.queryResults.push_back(std::min(10, blocks - done));
            session.Pump();
        }
        session.Stop();
        session.Pump();
    }
    std::filesystem::path File(const std::string& chan) const {
        return dir.path() / "2008" / "XX" / "ZQD01" / (chan + ".D") / ("XX.ZQD01.00." + chan + ".D.2008.133");
    }
    bool Said(const std::string& part) const {
        for (const auto& n : notes)
            if (n.find(part) != std::string::npos) return true;
        return false;
    }
};

sim::SimSettings RealCard(double wander = 5) {
    sim::SimSettings s;
    s.clock_ppm = 25;
    s.wander_ppm = wander;
    s.gps_delay_ms = 120;
    return s;
}

acq::TimingConfig FromMessage() {
    acq::TimingConfig t;
    t.date_from = acq::TimingConfig::DateFrom::kMessage;
    return t;
}

TEST(TimingFromThePulse, ARealCardsRecordsStartWithin20UsOfTheTruthAndTearOnlyAsTheToleranceAllows) {
    Station st(RealCard(), {});
    st.Run(600);  // ten minutes
    const auto recs = ReadAll(st.File("GYP"));
    ASSERT_GT(recs.size(), 600u);
    int edges = 0;
    double worst = 0;
    for (const auto& r : recs) {
        const auto edge = FirstEdge(r.samples);
        if (!edge) continue;
        ++edges;
        const double t = static_cast<double>(r.start_ns - kStart) + *edge * 5e5;  // from the record's start, nominal rate
        const double off = t - std::round((t + 3e8) / 1e9) * 1e9 + 3e8;           // from its whole second
        // 20 us, and the card's drift (30 ppm at most) over the distance from the start.
        EXPECT_LE(std::abs(off), 20e3 + 30e-6 * *edge * 5e5) << r.start_ns;
        worst = std::max(worst, std::abs(off));
    }
    EXPECT_GE(edges, 550);
    // Half a sample (250 us) at 20 to 30 ppm: a tear every 8 to 13 s.
    const ArchiveStatus s = st.sink->Snapshot();
    EXPECT_GE(s.tears, 40u);
    EXPECT_LE(s.tears, 80u);
    EXPECT_TRUE(st.Said("时间撕裂"));
    // The clock's health: phase error within 10 us, quality 100, the rate 25 +- 5 ppm.
    const auto lce = Values(ReadAll(st.File("LCE")));
    const auto lcq = Values(ReadAll(st.File("LCQ")));
    const auto lcr = Values(ReadAll(st.File("LCR")));
    EXPECT_GE(lce.size(), 595u);
    EXPECT_GE(lcq.size(), 599u);
    // One LCQ sample for every second, none twice, none missing.
    const auto by_second = BySecond(ReadAll(st.File("LCQ")));
    EXPECT_EQ(by_second.size(), lcq.size());
    EXPECT_EQ(by_second.rbegin()->first - by_second.begin()->first + 1, static_cast<std::int64_t>(lcq.size()));
    for (auto v : lce) EXPECT_LE(std::abs(v), 10);
    for (auto v : lcq) EXPECT_EQ(v, 100);
    for (auto v : lcr) {
        EXPECT_GE(v, 19500);
        EXPECT_LE(v, 30500);
    }
    for (const auto& r : recs) EXPECT_EQ(r.quality, 100);
    EXPECT_EQ(s.clock.source, acq::ClockSource::kPulse);
    EXPECT_NE(app::ClockText(s.clock, 2000).find("秒脉冲定时"), std::string::npos) << app::ClockText(s.clock, 2000);
    std::cout << "worst edge " << worst / 1e3 << " us, tears " << s.tears << "\n";
}

#ifdef ZQD_HAVE_RESAMPLE
TEST(TimingFromThePulse, ResampledEveryChannelIsOneSeriesAtTheNominalRateAndEveryEdgeOnItsSecond) {
    acq::TimingConfig t;
    t.resample = true;
    Station st(RealCard(), t, {{0, "GYP"}, {2, "GY0"}});
    st.Run(600);
    for (const char* code : {"GYP", "GY0"}) {
        const auto recs = ReadAll(st.File(code));
        ASSERT_FALSE(recs.empty());
        std::int64_t next = recs[0].start_ns;
        int breaks = 0;
        for (const auto& r : recs) {
            breaks += std::llabs(r.start_ns - next) > 250000;  // a reader's tolerance, half a sample
            next = r.start_ns + static_cast<std::int64_t>(r.samples.size()) * 500000;
            EXPECT_EQ(r.dataquality, 'Q');
        }
        EXPECT_EQ(breaks, 0) << code;
    }
    // Resampling rings around the pulse's edges, so each edge is found from
    // the pulse's centroid, which a symmetric interpolator keeps: the pulse
    // covers [edge, edge + 4 samples), its centroid 2 samples after the edge.
    const auto recs = ReadAll(st.File("GYP"));
    const auto x = Values(recs);
    EXPECT_GE(x.size(), 599u * 2000);
    int edges = 0;
    double worst = 0;
    for (std::size_t j = 40; j + 40 < x.size(); ++j) {
        if (!(x[j] > 3000 && x[j - 1] <= 3000)) continue;
        // The resting level (a slow sine under the pulse): a line through
        // the means well before and well after.
        double before = 0, after = 0;
        for (std::size_t k = 0; k < 10; ++k) {
            before += x[j - 30 + k] / 10.0;
            after += x[j + 25 + k] / 10.0;
        }
        auto base = [&](std::size_t k) {
            return before + (after - before) * (static_cast<double>(k) - (j - 25.5)) / 55.0;
        };
        double sum = 0, moment = 0;
        for (std::size_t k = j - 20; k < j + 24; ++k) {
            sum += x[k] - base(k);
            moment += (static_cast<double>(k) + 0.5) * (x[k] - base(k));
        }
        const double edge = moment / sum - 2;
        const double t = static_cast<double>(recs[0].start_ns - kStart) + edge * 5e5;
        const double off = t - std::round((t + 3e8) / 1e9) * 1e9 + 3e8;
        EXPECT_LE(std::abs(off), 50e3) << j;
        worst = std::max(worst, std::abs(off));
        ++edges;
    }
    EXPECT_GE(edges, 598);
    EXPECT_EQ(st.sink->Snapshot().tears, 0u);
    EXPECT_TRUE(st.sink->Snapshot().resampled);
    std::cout << "resampled: worst edge " << worst / 1e3 << " us\n";
}
#endif

// Blocks that begin on whole seconds (an ideal card started on one): their
// times wobble by a fraction of a microsecond around the second, and still
// each second gets one sample of each clock channel, in one series.
TEST(TimingFromThePulse, BlocksOnWholeSecondsGiveEachSecondOneClockSample) {
    Station st({}, {}, {{2, "GY0"}}, kStart - 300000000);
    st.Run(120);
    for (const char* code : {"LCE", "LCQ", "LCR"}) {
        const auto recs = ReadAll(st.File(code));
        EXPECT_LE(recs.size(), 2u) << code;  // a record holds them all (the first seconds' quality may differ)
        auto by_second = BySecond(recs);
        ASSERT_FALSE(by_second.empty()) << code;
        std::size_t samples = 0;
        for (const auto& r : recs) samples += r.samples.size();
        if (std::string(code) == "LCE") {
            // Its first, where the message's dating met the first edge; then
            // from the third edge on, once the rate is measured.
            by_second.erase(by_second.begin());
            --samples;
        }
        EXPECT_EQ(by_second.size(), samples) << code;
        EXPECT_EQ(by_second.rbegin()->first - by_second.begin()->first + 1, static_cast<std::int64_t>(samples)) << code;
        EXPECT_GE(samples, 117u) << code;
    }
}

TEST(TimingFromThePulse, DatedFromTheMessageTheReceiversLatencyShowsInLceAndLcqSaysPoor) {
    Station st(RealCard(0), FromMessage());
    st.Run(60);
    const auto lce = Values(ReadAll(st.File("LCE")));
    ASSERT_GE(lce.size(), 55u);
    for (auto v : lce) EXPECT_NEAR(v, -120000, 1000);  // the data put each edge 120 ms early
    for (auto v : Values(ReadAll(st.File("LCQ")))) EXPECT_LE(v, 40);
    for (const auto& r : ReadAll(st.File("GYP"))) EXPECT_LE(r.quality, 40);

    // No pulse wired: no phase error at all, and never better than the message.
    acq::TimingConfig none;
    none.pps_channel = acq::TimingConfig::kNoPulse;
    Station blind(RealCard(0), none);
    blind.Run(30);
    EXPECT_FALSE(std::filesystem::exists(blind.File("LCE")));
    const auto lcq = Values(ReadAll(blind.File("LCQ")));
    ASSERT_GE(lcq.size(), 29u);
    for (auto v : lcq) EXPECT_LE(v, 40);
}

TEST(TimingFromThePulse, ThroughAGpsOutageTheClockRunsFreeAtTheMeasuredRateAndItsQualityFalls) {
    sim::SimSettings s = RealCard(0);
    s.gps_outage_from = 60;
    s.gps_outage_for = 120;
    acq::TimingConfig t;
    t.quality_fall_per_hour = 60;  // a point a minute, to see it fall in two
    Station st(s, t);
    st.Run(240);
    EXPECT_TRUE(st.Said("秒脉冲中断"));
    EXPECT_TRUE(st.Said("秒脉冲恢复"));
    const auto lcq = BySecond(ReadAll(st.File("LCQ")));
    EXPECT_EQ(lcq.at(30), 100);
    EXPECT_EQ(lcq.at(63), 90);   // free: not locked
    EXPECT_EQ(lcq.at(125), 89);  // a minute on
    EXPECT_EQ(lcq.at(200), 100);
    EXPECT_EQ(lcq.size(), 240u);  // one a second throughout
    // No phase error through the outage; where the free-running clock put
    // the first pulse after it.
    const auto lce = BySecond(ReadAll(st.File("LCE")));
    EXPECT_EQ(lce.count(100), 0u);
    const auto back = lce.upper_bound(170);
    ASSERT_NE(back, lce.end());
    EXPECT_EQ(back->first, 180);
    EXPECT_LE(std::abs(back->second), 50) << back->second;
    // And no record's time strays: the edges in the pulse channel stay on their seconds.
    for (const auto& r : ReadAll(st.File("GYP")))
        if (const auto edge = FirstEdge(r.samples)) {
            const double t = static_cast<double>(r.start_ns - kStart) + *edge * 5e5;
            const double off = t - std::round((t + 3e8) / 1e9) * 1e9 + 3e8;
            EXPECT_LE(std::abs(off), 50e3) << r.start_ns;
        }
}

struct Collect : acq::Sink {
    std::vector<acq::BlockPtr> blocks;
    void OnBlock(const acq::BlockPtr& b) override { blocks.push_back(b); }
};

TEST(TimingFromThePulse, EveryBlockIsDatedWithinAMicrosecondOfItsFirstScansTrueTime) {
    Station st(RealCard(), {});
    auto got = std::make_shared<Collect>();
    st.session.AddSink(got, 1000);
    st.Run(120);
    ASSERT_EQ(got->blocks.size(), 120u);
    for (const auto& b : got->blocks) {
        if (b->sequence == 0) continue;  // before the second edge the rate is not known
        const double truth = static_cast<double>(kStart) + st.sim.ScanTime(static_cast<std::int64_t>(b->sequence) * 2000);
        EXPECT_NEAR(static_cast<double>(b->time_ns), truth, 1000) << b->sequence;
        EXPECT_EQ(b->clock.source, acq::ClockSource::kPulse);
    }
}

// The clock model alone: edges at the scans a 250 ppm fast card puts them,
// messages naming the second before them 120 ms on.
TEST(ClockModel, CountsEdgesSaysWhenAMessageDisagreesAndWhenTheRateIsFarOff) {
    acq::ClockModel m;
    acq::TimingConfig t;
    m.Reset(t, 2000);
    const double rate = 2000 * (1 + 250e-6);
    const std::int64_t second0 = 1210613921000000000;
    std::vector<acq::Event> events;
    auto feed = [&](int k, std::int64_t named) {
        const double edge = 1000.25 + k * rate;
        const auto m0 = static_cast<std::int64_t>(edge + 0.12 * rate);
        m.Update({edge}, {gps::HaFix{named, m0, {}}}, m0 + 100, static_cast<std::uint64_t>(k), events);
    };
    for (int k = 0; k < 6; ++k) feed(k, second0 + k * utc::kNsPerSecond);
    EXPECT_TRUE(m.PulseOk());
    EXPECT_NEAR(m.Rate(), rate, 1e-6);
    ASSERT_EQ(events.size(), 1u);  // the rate, once
    EXPECT_EQ(events[0].kind, acq::Event::Kind::kRateOff);
    EXPECT_EQ(events[0].value, 250000);
    const auto errors = m.TakePhaseErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().first, second0 + 5 * utc::kNsPerSecond);
    EXPECT_NEAR(static_cast<double>(errors.back().second), 0, 1);
    EXPECT_TRUE(m.TakePhaseErrors().empty());
    // A scan between edges, dated between them; the next message a second off.
    const auto scan = static_cast<std::int64_t>(1000.25 + 4.5 * rate);
    const auto mid = m.DatePulse(scan);
    ASSERT_TRUE(mid);
    EXPECT_NEAR(static_cast<double>(mid->ns - second0), (static_cast<double>(scan) - 1000.25) / rate * 1e9, 1);
    events.clear();
    feed(6, second0 + 7 * utc::kNsPerSecond);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, acq::Event::Kind::kPulseDisagrees);
    EXPECT_EQ(events[0].value, utc::kNsPerSecond);
    // The message holds: the next edge counts on from its second.
    events.clear();
    feed(7, second0 + 8 * utc::kNsPerSecond);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(acq::LockedQuality(4999), 100);
    EXPECT_EQ(acq::LockedQuality(-99999), 90);
    EXPECT_EQ(acq::LockedQuality(199999), 70);
    EXPECT_EQ(acq::LockedQuality(120000000), 40);
}

TEST(TimingConfig, ReadWrittenAndRefusedInOurWords) {
    test::TempDir dir;
    test::WriteFile(dir / "c.toml",
                    "[timing]\npps_channel = \"none\"\ndate_from = \"message\"\nthreshold = 3000\n"
                    "message_refers_to = \"next\"\nmax_message_delay_ms = 500\ntime_tolerance = 2.5\n"
                    "clock_channels = false\nlocation = \"10\"\n");
    ArchiveConfig c = DefaultConfig();
    ASSERT_TRUE(LoadConfig(dir / "c.toml", c).ok());
    EXPECT_FALSE(c.timing.PulseWired());
    EXPECT_EQ(c.timing.date_from, acq::TimingConfig::DateFrom::kMessage);
    EXPECT_EQ(c.timing.threshold, 3000.0);
    EXPECT_TRUE(c.timing.message_refers_to_next);
    EXPECT_EQ(c.timing.max_message_delay_ms, 500);
    EXPECT_EQ(c.timing.time_tolerance, 2.5);
    EXPECT_FALSE(c.clock_channels);
    EXPECT_EQ(c.clock_location, "10");
    ASSERT_TRUE(SaveConfig(dir / "d.toml", c).ok());
    ArchiveConfig d = DefaultConfig();
    ASSERT_TRUE(LoadConfig(dir / "d.toml", d).ok());
    EXPECT_EQ(d.timing.threshold, 3000.0);
    EXPECT_EQ(d.timing.time_tolerance, 2.5);
    EXPECT_EQ(d.clock_location, "10");
    EXPECT_FALSE(d.timing.PulseWired());
    for (const char* bad : {"date_from = \"gps\"", "pps_channel = 40", "time_tolerance = \"x\"", "resample = 1"}) {
        test::WriteFile(dir / "c.toml", std::string("[timing]\n") + bad + "\n");
        const std::string text = app::Text(LoadConfig(dir / "c.toml", c));
        EXPECT_NE(text.find("第 2 行"), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace zqd::archive
