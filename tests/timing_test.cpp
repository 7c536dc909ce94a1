// Time from the 1PPS pulse on a real card: a sample clock that runs ppm fast
// and wanders, a receiver whose message comes late after its pulse, a pulse
// 200 ms wide as an M12's. Everything is read back from the archive with
// libmseed and held against the simulated card's own truth: the true time
// of every scan.
#include <gtest/gtest.h>
#include <libmseed.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "acquisition/block_dater.h"
#include "acquisition/clock_model.h"
#include "acquisition/pulse_finder.h"
#include "acquisition/session.h"
#include "app/archive_texts.h"
#include "archive/archive_run.h"
#include "config/station_config.h"
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

// The samples of a one-a-second channel by the second (0: the first whole
// second of the acquisition).
std::map<std::int64_t, std::int32_t> BySecond(const std::vector<Rec>& recs) {
    std::map<std::int64_t, std::int32_t> out;
    for (const auto& r : recs)
        for (std::size_t i = 0; i < r.samples.size(); ++i)
            out[utc::FloorDiv(r.start_ns - kStart, utc::kNsPerSecond) + static_cast<std::int64_t>(i)] = r.samples[i];
    return out;
}

// One second a sample, none twice, none missing, from the first to the last.
void ExpectEverySecond(const std::vector<Rec>& recs, const char* what) {
    std::size_t samples = 0;
    for (const auto& r : recs) samples += r.samples.size();
    const auto by_second = BySecond(recs);
    ASSERT_FALSE(by_second.empty()) << what;
    EXPECT_EQ(by_second.size(), samples) << what;
    EXPECT_EQ(by_second.rbegin()->first - by_second.begin()->first + 1, static_cast<std::int64_t>(samples)) << what;
}

// The card's settings for a rate: one-second blocks of six channels (the
// pulse on 0, the receiver on 1).
acq::AcqConfig CardAt(std::int32_t rate, std::int16_t channels = 6) {
    acq::AcqConfig c;
    c.ChnNum = channels;
    c.ChnPoints = rate;
    c.SampleFrq = rate;
    return c;
}

struct Station {
    test::TempDir dir;
    test::ScriptedCard card;
    sim::SimCard sim;
    acq::AcqConfig acq;
    acq::Session session{card, {false, std::chrono::milliseconds(1000)}};
    std::unique_ptr<StationArchive> archive;
    std::shared_ptr<acq::SinkRunner> runner;
    std::vector<std::string> notes;

    Station(sim::SimSettings s, const acq::TimingConfig& timing, std::map<int, std::string> channels = {{0, "GYP"}},
            acq::AcqConfig a = {}, int record_length = 512, std::int64_t start = kStart)
        : sim(Settings(s, start), [] { return 0; }), acq(a) {
        sim.Initial(320, 5, 0, 0);
        sim.StartIntr(acq.BufNum, acq.ChnPoints, 0, acq.ChnNum, acq.SampleFrq, 0, 1);
        card.fill = [this](int k, std::int16_t* w) { sim.FillSamples(k, w + 1); };
        config::StationConfig c = config::DefaultConfig();
        c.card = acq;
        c.records.channels = std::move(channels);
        c.timing = timing;
        c.records.pack.record_length = record_length;
        Reports reports{[this](const records::StationNote& n) { notes.push_back(app::NoteText(n)); },
                        [this](const DiskNote& n) { notes.push_back(app::NoteText(n)); }};
        archive = std::make_unique<StationArchive>(c.Run(), dir.path(), std::move(reports), false);
        runner = session.AddSink(archive->Records(), 64);
        session.SetTiming(timing);
    }
    static sim::SimSettings Settings(sim::SimSettings s, std::int64_t start) {
        s.start_from_clock = false;
        s.start_ns = start;
        return s;
    }
    // `blocks` blocks, `per_poll` at a time (the card's ten buffers filled:
    // every poll may have lost some).
    void Run(int blocks, int per_poll = 10) {
        EXPECT_TRUE(session.Start(acq).ok());
        for (int done = 0; done < blocks; done += per_poll) {
            card.queryResults.push_back(std::min(per_poll, blocks - done));
            session.Pump();
        }
        session.Stop();
        session.Pump();
    }
    std::filesystem::path File(const std::string& chan) const {
        return dir.path() / "2008" / "XX" / "ZQD01" / (chan + ".D") / ("XX.ZQD01.00." + chan + ".D.2008.133");
    }
    std::vector<Rec> Records(const std::string& chan) const { return ReadAll(File(chan)); }
    ArchiveStatus Status() const { return archive->Snapshot(); }
    // The true time of scan k, from the simulated card's own clock.
    double Truth(std::int64_t k) const { return static_cast<double>(kStart) + sim.ScanTime(k); }
    bool Said(const std::string& part) const {
        for (const auto& n : notes)
            if (n.find(part) != std::string::npos) return true;
        return false;
    }
    std::string AllSaid() const {
        std::string all;
        for (const auto& n : notes) all += n + "\n";
        return all;
    }
    // Each record's start against the true time of its first sample: the
    // records of a channel, in order, hold every scan from the first.
    struct Offset {
        std::int64_t scan;
        double error_ns;
        int quality;
    };
    std::vector<Offset> Offsets(const std::vector<Rec>& recs) const {
        std::vector<Offset> out;
        std::int64_t k = 0;
        for (const auto& r : recs) {
            out.push_back({k, static_cast<double>(r.start_ns) - Truth(k), r.quality});
            k += static_cast<std::int64_t>(r.samples.size());
        }
        return out;
    }
};

// A real card and receiver: 25 ppm fast, wandering by 5 ppm over ten
// minutes, the message 480 ms after its pulse (so that the first block holds
// no whole message), the pulse 200 ms wide.
sim::SimSettings RealCard(double wander = 5, std::int64_t delay_ms = 480) {
    sim::SimSettings s;
    s.clock_ppm = 25;
    s.wander_ppm = wander;
    s.gps_delay_ms = delay_ms;
    return s;
}

acq::TimingConfig FromMessage() {
    acq::TimingConfig t = config::RecordingTiming();
    t.date_from = acq::TimingConfig::DateFrom::kMessage;
    return t;
}

// At the rates stations record at, every record of the pulse's and of a
// data channel starts within 20 us of the true time of its first sample,
// from the very first record; nothing is dated from the computer's clock;
// LCE has a sample for every second; resampled, each channel is one series.
class AtEveryRate : public ::testing::TestWithParam<int> {};

TEST_P(AtEveryRate, RecordsStartOnTheTruthFromTheFirstAndTheClocksChannelsHaveEverySecond) {
    const int rate = GetParam();
    Station st(RealCard(), config::RecordingTiming(), {{0, "EYP"}, {2, "EY0"}}, CardAt(rate));
    st.Run(300);
    // The archive holds the run's day and nothing else: no file of the
    // computer's clock.
    std::size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(st.dir.path())) {
        if (!e.is_regular_file()) continue;
        ++files;
        EXPECT_NE(e.path().string().find(".2008.133"), std::string::npos) << e.path();
    }
    EXPECT_GE(files, 12u);
    double worst = 0;
    for (const char* code : {"EYP", "EY0"}) {
        const auto recs = st.Records(code);
        ASSERT_FALSE(recs.empty()) << code;
        std::int64_t samples = 0;
        for (const auto& r : recs) samples += static_cast<std::int64_t>(r.samples.size());
        EXPECT_EQ(samples, 300LL * rate) << code;
        for (const auto& o : st.Offsets(recs)) {
            EXPECT_LE(std::abs(o.error_ns), 20e3) << code << " at scan " << o.scan << ", " << rate << "/s";
            EXPECT_EQ(o.quality, 100) << code << " at scan " << o.scan;
            worst = std::max(worst, std::abs(o.error_ns));
        }
    }
    ExpectEverySecond(st.Records("LCE"), "LCE");
    ExpectEverySecond(st.Records("LCQ"), "LCQ");
    EXPECT_GE(Values(st.Records("LCE")).size(), 296u);
    int lce = 0;
    for (auto v : Values(st.Records("LCE"))) {
        EXPECT_LE(std::abs(v), 10) << rate << "/s";
        lce = std::max(lce, std::abs(v));
    }
    for (auto v : Values(st.Records("LCQ"))) EXPECT_EQ(v, 100) << rate << "/s";
    // The clock's channels in a record a minute, not one every few samples.
    EXPECT_LE(st.Records("LCQ").size(), 6u);
    EXPECT_FALSE(st.Said("秒脉冲中断")) << st.AllSaid();
    EXPECT_FALSE(st.Said("偏离标称值")) << st.AllSaid();
    std::cout << rate << "/s: worst record start " << worst / 1e3 << " us from the truth, |LCE| at most " << lce << " us\n";
}

#ifdef ZQD_HAVE_RESAMPLE
TEST_P(AtEveryRate, ResampledEachChannelIsOneSeries) {
    const int rate = GetParam();
    acq::TimingConfig t = config::RecordingTiming();
    t.resample = true;
    Station st(RealCard(), t, {{0, "EYP"}, {2, "EY0"}}, CardAt(rate));
    st.Run(120);
    for (const char* code : {"EYP", "EY0"}) {
        const auto recs = st.Records(code);
        ASSERT_FALSE(recs.empty()) << code;
        std::int64_t next = recs[0].start_ns;
        int breaks = 0;
        for (const auto& r : recs) {
            breaks += std::llabs(r.start_ns - next) > 500000000 / rate;  // a reader's tolerance, half a sample
            next = r.start_ns + static_cast<std::int64_t>(r.samples.size()) * (1000000000 / rate);
            EXPECT_EQ(r.dataquality, 'Q');
        }
        EXPECT_EQ(breaks, 0) << code << " at " << rate << "/s";
        // From the run's first scan, on the truth.
        EXPECT_LE(std::abs(static_cast<double>(recs[0].start_ns) - st.Truth(0)), 20e3 + 2e9 / rate) << code;
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(Rates, AtEveryRate, ::testing::Values(100, 200, 2000),
                         [](const ::testing::TestParamInfo<int>& p) { return std::to_string(p.param) + "PerSecond"; });

// The pulse channel set to a data channel (a sine): nothing in it is taken
// for a pulse, the channel is said to carry none, naming the setting, and
// the messages date the data at their quality.
TEST(TimeThatCannotLie, APulseChannelWithoutAPulseIsSaidAndNeverGivesGoodTimes) {
    acq::TimingConfig t = config::RecordingTiming();
    t.pps_channel = 2;
    Station st(RealCard(0, 120), t, {{2, "EY0"}}, CardAt(200));
    st.Run(120);
    EXPECT_TRUE(st.Said("通道 2 上没有找到秒脉冲")) << st.AllSaid();
    EXPECT_TRUE(st.Said("pps_channel")) << st.AllSaid();
    for (const auto& o : st.Offsets(st.Records("EY0"))) {
        EXPECT_LE(o.quality, 40) << o.scan;
        // From the message: late by its 120 ms, and said to be poor.
        EXPECT_NEAR(o.error_ns, -120e6, 6e6) << o.scan;
    }
    EXPECT_FALSE(std::filesystem::exists(st.File("LCE")));
    for (auto v : Values(st.Records("LCQ"))) EXPECT_LE(v, 40);
    EXPECT_NE(app::TimingSummaryText(st.Status().station).find("没有秒脉冲"), std::string::npos);
}

// A message that begins a millisecond before the next pulse: which second
// it names cannot be told. The labels follow the rule (the pulse before
// it), and are said to be in doubt, naming the settings.
TEST(TimeThatCannotLie, AMessageJustBeforeThePulseLeavesItsSecondInDoubtAndSaysSo) {
    Station st(RealCard(0, 999), config::RecordingTiming(), {{0, "EYP"}}, CardAt(200));
    st.Run(60);
    EXPECT_TRUE(st.Said("无法确定它指的是哪一秒")) << st.AllSaid();
    EXPECT_TRUE(st.Said("message_refers_to")) << st.AllSaid();
    EXPECT_TRUE(st.Said("max_message_delay_ms")) << st.AllSaid();
    const auto offsets = st.Offsets(st.Records("EYP"));
    ASSERT_FALSE(offsets.empty());
    for (const auto& o : offsets) {
        EXPECT_LT(o.quality, 90) << o.scan;
        EXPECT_LE(std::abs(o.error_ns), 20e3) << o.scan;  // the rule's reading is the right one here
    }
    for (auto v : Values(st.Records("LCQ"))) EXPECT_LT(v, 90);
    EXPECT_NE(app::TimingSummaryText(st.Status().station).find("报文紧挨秒脉冲"), std::string::npos)
        << app::TimingSummaryText(st.Status().station);
}

// A receiver 950 ms late against the default 900: the pulse still dates the
// data, and each label is said to be doubtful until the setting fits.
TEST(TimeThatCannotLie, AMessageLaterThanTheSettingKeepsThePulseButNotItsQuality) {
    Station st(RealCard(0, 950), config::RecordingTiming(), {{0, "EYP"}}, CardAt(200));
    st.Run(60);
    EXPECT_TRUE(st.Said("超过 max_message_delay_ms = 900")) << st.AllSaid();
    EXPECT_FALSE(st.Said("秒脉冲中断")) << st.AllSaid();
    for (const auto& o : st.Offsets(st.Records("EYP"))) {
        EXPECT_LT(o.quality, 90) << o.scan;
        EXPECT_LE(std::abs(o.error_ns), 20e3) << o.scan;
    }
    EXPECT_EQ(st.Status().station.clock.source, acq::ClockSource::kPulse);

    // With the setting widened, the same receiver is good.
    acq::TimingConfig wide = config::RecordingTiming();
    wide.max_message_delay_ms = 990;
    Station ok(RealCard(0, 950), wide, {{0, "EYP"}}, CardAt(200));
    ok.Run(30);
    for (const auto& o : ok.Offsets(ok.Records("EYP"))) EXPECT_EQ(o.quality, 100) << o.scan;
}

// Through a two-minute outage the clock runs free. Its quality follows how
// far off it may be: below 90 wherever it is more than 100 us off, below 70
// wherever more than 200 us; the summary names the outage and the step back.
TEST(TimeThatCannotLie, RunningFreeTheQualityFallsAsTheErrorGrowsAndTheSummaryNamesTheStep) {
    sim::SimSettings s = RealCard(5);
    s.gps_outage_from = 60;
    s.gps_outage_for = 120;
    Station st(s, config::RecordingTiming(), {{0, "EYP"}, {2, "EY0"}}, CardAt(200));
    st.Run(300);
    EXPECT_TRUE(st.Said("秒脉冲中断")) << st.AllSaid();
    EXPECT_TRUE(st.Said("秒脉冲恢复")) << st.AllSaid();
    double worst = 0;
    int beyond = 0;
    for (const auto& o : st.Offsets(st.Records("EY0"))) {
        const double e = std::abs(o.error_ns);
        worst = std::max(worst, e);
        if (e > 100e3) {
            ++beyond;
            EXPECT_LT(o.quality, 90) << "scan " << o.scan << " off by " << e / 1e3 << " us";
        }
        if (e > 200e3) {
            EXPECT_LT(o.quality, 70) << "scan " << o.scan << " off by " << e / 1e3 << " us";
        }
        if (o.quality == 100) {
            EXPECT_LE(e, 20e3) << "scan " << o.scan << " at 100";
        }
    }
    EXPECT_GT(beyond, 0) << "the outage never took the clock beyond 100 us: no test";
    const auto lcq = BySecond(st.Records("LCQ"));
    EXPECT_EQ(lcq.at(30), 100);
    EXPECT_EQ(lcq.at(65), 90);
    EXPECT_LT(lcq.at(178), 90);
    EXPECT_EQ(lcq.at(250), 100);
    EXPECT_EQ(lcq.size(), 300u);
    const records::StationStatus status = st.Status().station;
    EXPECT_EQ(status.timing_record.outages, 1u);
    EXPECT_EQ(status.timing_record.outage_ns, 120 * utc::kNsPerSecond);
    EXPECT_GT(std::llabs(status.timing_record.worst_step_ns), 100000);
    const std::string summary = app::TimingSummaryText(status);
    EXPECT_NE(summary.find("秒脉冲中断 1 次，共 120 秒"), std::string::npos) << summary;
    EXPECT_NE(summary.find("跳变"), std::string::npos) << summary;
    std::cout << "outage: worst " << worst / 1e3 << " us, step " << status.timing_record.worst_step_ns / 1e3
              << " us, bound " << status.timing_record.worst_bound_ns / 1e3 << " us\n" << summary << "\n";
}

// 4096-byte records at 100 ppm span seconds: a record ends before the
// times its samples are given (its start, then the nominal rate) drift
// more than the tolerance from their true times.
TEST(TimeThatCannotLie, ALongRecordEndsBeforeItsSamplesDriftPastTheTolerance) {
    sim::SimSettings s;
    s.clock_ppm = -100;
    s.gps_delay_ms = 120;
    Station st(s, config::RecordingTiming(), {{2, "GY0"}}, CardAt(2000), 4096);
    st.Run(120);
    const auto recs = st.Records("GY0");
    ASSERT_FALSE(recs.empty());
    std::int64_t k = 0;
    std::size_t longest = 0;
    for (const auto& r : recs) {
        const auto n = static_cast<std::int64_t>(r.samples.size());
        const double last = static_cast<double>(r.start_ns) + static_cast<double>(n - 1) * 5e5;
        EXPECT_LE(std::abs(last - st.Truth(k + n - 1)), 250e3 + 20e3) << "record at scan " << k << " of " << n;
        longest = std::max(longest, r.samples.size());
        k += n;
    }
    EXPECT_GE(longest, 4000u);  // the records are still long ones
}

// The pulse finder alone, at every rate the card runs at: each 200 ms pulse
// found once, its edge within a microsecond-scale share of a sample of the
// truth; what is not a pulse is refused, counted by why.
TEST(PulseFinder, FindsEveryPulseAtEveryRateAndRefusesWhatIsNotOne) {
    for (const int rate : {50, 100, 200, 500, 1000, 2000}) {
        sim::SimSettings s = RealCard(5, 480);
        s.pps_jitter_ns = 2000;
        s.start_from_clock = false;
        s.start_ns = kStart;
        sim::SimCard card(s, [] { return 0; });
        card.Initial(320, 5, 0, 0);
        card.StartIntr(10, rate, 0, 3, rate, 0, 1);
        acq::PulseFinder f;
        f.Reset({std::nullopt, false, rate, 200, 100});
        std::vector<double> edges;
        std::vector<std::int16_t> block(static_cast<std::size_t>(3 * rate));
        for (int b = 0; b < 30; ++b) {
            card.FillSamples(b, block.data());
            f.Feed(block.data(), 3, rate, static_cast<std::int64_t>(b) * rate, edges);
        }
        ASSERT_EQ(edges.size(), 30u) << rate;  // every whole second of the thirty
        EXPECT_EQ(f.Counted().wrong_width + f.Counted().not_pulse + f.Counted().off_second, 0u) << rate;
        for (std::size_t i = 0; i < edges.size(); ++i) {
            // The true edge, in scans: where the card's clock was at the pulse's rise.
            const double rise = card.PulseRise(1210613921 + static_cast<std::int64_t>(i));
            const std::int64_t k = card.ScanAt(rise);
            const double truth = static_cast<double>(k) + (rise - card.ScanTime(k)) / (card.ScanTime(k + 1) - card.ScanTime(k));
            // Codes are whole numbers: the share is known to 1/1950 of a sample.
            EXPECT_NEAR(edges[i], truth, 2e-3) << rate << "/s, edge " << i;
        }
    }
    // A sine, a square wave of half a second, spikes: never a pulse.
    for (int kind = 0; kind < 3; ++kind) {
        acq::PulseFinder f;
        f.Reset({std::nullopt, false, 200, 200, 100});
        std::vector<double> edges;
        std::vector<std::int16_t> x(200);
        for (int b = 0; b < 20; ++b) {
            for (int i = 0; i < 200; ++i) {
                const double t = b + i / 200.0;
                const double v = kind == 0   ? 2048 + 1500 * std::sin(2 * M_PI * 0.7 * t)
                                 : kind == 1 ? (std::fmod(t, 1.0) < 0.5 ? 4000 : 100)
                                             : (i == 37 ? 4000 : 100);
                x[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(std::lround(v));
            }
            f.Feed(x.data(), 1, 200, static_cast<std::int64_t>(b) * 200, edges);
        }
        EXPECT_TRUE(edges.empty()) << kind;
        EXPECT_GE(f.Counted().wrong_width + f.Counted().not_pulse, 10u) << kind;
    }
    EXPECT_FALSE(acq::PulseFinder::WidthUsable(2, 200));
    EXPECT_TRUE(acq::PulseFinder::WidthUsable(2, 2000));
}

// A pulse too narrow to locate at the rate is refused in our words, and the
// messages date the data.
TEST(PulseFinder, APulseNarrowerThanThreeSamplesIsRefusedAtTheStart) {
    sim::SimSettings s = RealCard(0, 120);
    s.pps_width_ms = 2;
    acq::TimingConfig t = config::RecordingTiming();
    t.pulse_width_ms = 2;
    Station st(s, t, {{0, "EYP"}}, CardAt(200));
    st.Run(20);
    EXPECT_TRUE(st.Said("不足三个采样周期")) << st.AllSaid();
    for (const auto& r : st.Records("EYP")) EXPECT_LE(r.quality, 40);
}

// A card whose rate wanders across the alarm (an overloaded computer's
// lost scans, a crystal at its edge): said once, not at every crossing.
TEST(ClockModel, ARateThatCrossesTheAlarmAgainAndAgainIsSaidOnce) {
    acq::ClockModel m;
    acq::TimingConfig t;
    t.rate_alarm_ppm = 100;
    m.Reset(t, 2000);
    const std::int64_t second0 = 1210613921000000000;
    std::vector<acq::Event> events;
    double edge = 1000.25;
    for (int k = 0; k < 600; ++k) {
        const double ppm = (k / 30) % 2 ? 160 : 10;  // half a minute beyond, half a minute well within
        edge += 2000 * (1 + ppm * 1e-6);
        const auto m0 = static_cast<std::int64_t>(edge + 240);
        m.Update({edge}, {gps::HaFix{second0 + k * utc::kNsPerSecond, m0, {}}}, m0 + 100, m0 + 100,
                 static_cast<std::uint64_t>(k), events);
    }
    int said = 0;
    for (const auto& e : events) said += e.kind == acq::Event::Kind::kRateOff;
    EXPECT_EQ(said, 1);
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
        m.Update({edge}, {gps::HaFix{named, m0, {}}}, m0 + 100, m0 + 100, static_cast<std::uint64_t>(k), events);
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
    EXPECT_EQ(m.QualityCap(), 40);  // in doubt until a message agrees
    // The message holds: the next edge counts on from its second, and agrees.
    events.clear();
    feed(7, second0 + 8 * utc::kNsPerSecond);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, acq::Event::Kind::kLabelsSure);
    EXPECT_EQ(m.QualityCap(), 100);
}

// Edges located with the receiver's jitter (up to 3 us either way): the
// rate is the line through the last seconds' edges, a fraction of a ppm off,
// where one pair of edges would be up to six.
TEST(ClockModel, TheRateIsMeasuredThroughSeveralEdgesNotOnePair) {
    acq::ClockModel m;
    m.Reset(acq::TimingConfig{}, 2000);
    const double rate = 2000 * (1 + 25e-6);
    const std::int64_t second0 = 1210613921000000000;
    std::vector<acq::Event> events;
    std::uint32_t noise = 12345;
    double worst_ppm = 0;
    for (int k = 0; k < 60; ++k) {
        noise = noise * 1664525u + 1013904223u;
        const double jitter_s = (static_cast<double>(noise >> 8) / 16777216.0 * 2 - 1) * 3e-6;
        const double edge = 1000.25 + (k + jitter_s) * rate;
        const auto m0 = static_cast<std::int64_t>(edge + 0.12 * rate);
        m.Update({edge}, {gps::HaFix{second0 + k * utc::kNsPerSecond, m0, {}}}, m0 + 100, m0 + 100,
                 static_cast<std::uint64_t>(k), events);
        if (k >= 9) worst_ppm = std::max(worst_ppm, std::abs(m.Measured() / rate - 1) * 1e6);
    }
    EXPECT_LT(worst_ppm, 1.0);
    EXPECT_GT(worst_ppm, 0.0);
}

// Free running, how good the time is follows how far off it may be.
TEST(ClockModel, FreeQualityPassesTheMarksWithTheBound) {
    EXPECT_EQ(acq::FreeQuality(99999), 90);
    EXPECT_EQ(acq::FreeQuality(100000), 70);
    EXPECT_EQ(acq::FreeQuality(200000), 40);
    EXPECT_EQ(acq::FreeQuality(5000000), 30);
    EXPECT_EQ(acq::FreeQuality(50000000), 20);
    EXPECT_EQ(acq::FreeQuality(500000000), 10);
    EXPECT_EQ(acq::FreeQuality(2000000000), 0);
    EXPECT_EQ(acq::LockedQuality(4999), 100);
    EXPECT_EQ(acq::LockedQuality(-99999), 90);
    EXPECT_EQ(acq::LockedQuality(199999), 70);
    EXPECT_EQ(acq::LockedQuality(120000000), 40);
}

// A poll that finds the card's ring full polls sooner, down to the floor;
// few buffers lengthen it back to the period asked for.
TEST(SessionPolling, ShortensWhenTheRingFillsAndLengthensWhenItIsNearlyEmpty) {
    using ms = std::chrono::milliseconds;
    EXPECT_EQ(acq::NextPollPeriod(ms(200), 10, 10, ms(200)), ms(100));
    EXPECT_EQ(acq::NextPollPeriod(ms(200), 5, 10, ms(200)), ms(150));
    EXPECT_EQ(acq::NextPollPeriod(ms(12), 10, 10, ms(200)), acq::kPollFloor);
    EXPECT_EQ(acq::NextPollPeriod(ms(40), 1, 10, ms(200)), ms(60));
    EXPECT_EQ(acq::NextPollPeriod(ms(190), 0, 10, ms(200)), ms(200));
    EXPECT_EQ(acq::NextPollPeriod(ms(50), 3, 10, ms(200)), ms(50));
    // Polling a card a hundred times faster than real time settles where a
    // poll finds a quarter to a half of its ten buffers.
    ms period = std::min(ms(200), acq::kPollFloor);
    for (int i = 0; i < 50; ++i) {
        const int filled = std::min(10, static_cast<int>(period.count() / 10));
        ASSERT_LT(filled, 10) << "a poll found the ring full at " << period.count() << " ms";
        period = acq::NextPollPeriod(period, filled, 10, ms(200));
    }
    EXPECT_GE(period, ms(20));
    EXPECT_LE(period, ms(60));
}

// Blocks that begin on whole seconds (an ideal card started on one): their
// times wobble by a fraction of a microsecond around the second, and still
// each second gets one sample of each clock channel, in one series.
TEST(TimingFromThePulse, BlocksOnWholeSecondsGiveEachSecondOneClockSample) {
    Station st({}, config::RecordingTiming(), {{2, "GY0"}}, CardAt(2000), 512, kStart - 300000000);
    st.Run(120);
    for (const char* code : {"LCE", "LCQ", "LCR"}) {
        const auto recs = ReadAll(st.File(code));
        EXPECT_LE(recs.size(), 2u) << code;
        ExpectEverySecond(recs, code);
        std::size_t samples = 0;
        for (const auto& r : recs) samples += r.samples.size();
        EXPECT_GE(samples, 117u) << code;
    }
}

TEST(TimingFromThePulse, DatedFromTheMessageTheReceiversLatencyShowsInLceAndLcqSaysPoor) {
    Station st(RealCard(0, 120), FromMessage());
    st.Run(60);
    const auto lce = Values(ReadAll(st.File("LCE")));
    ASSERT_GE(lce.size(), 55u);
    for (auto v : lce) EXPECT_NEAR(v, -120000, 1000);  // the data put each edge 120 ms early
    for (auto v : Values(ReadAll(st.File("LCQ")))) EXPECT_LE(v, 40);
    for (const auto& r : ReadAll(st.File("GYP"))) EXPECT_LE(r.quality, 40);

    // No pulse wired: no phase error at all, and never better than the message.
    acq::TimingConfig none = config::RecordingTiming();
    none.pps_channel = acq::TimingConfig::kNoPulse;
    Station blind(RealCard(0, 120), none);
    blind.Run(30);
    EXPECT_FALSE(std::filesystem::exists(blind.File("LCE")));
    const auto lcq = Values(ReadAll(blind.File("LCQ")));
    ASSERT_GE(lcq.size(), 29u);
    for (auto v : lcq) EXPECT_LE(v, 40);
}

#ifdef ZQD_HAVE_RESAMPLE
// Resampled, the pulse's edges stay on their seconds: the rise of an
// integrating converter's step crosses its middle half a sample before the
// edge, and a band-limited resampler keeps that.
TEST(TimingFromThePulse, ResampledEveryEdgeStaysOnItsSecond) {
    acq::TimingConfig t = config::RecordingTiming();
    t.resample = true;
    Station st(RealCard(), t, {{0, "GYP"}, {2, "GY0"}});
    st.Run(300);
    const auto recs = ReadAll(st.File("GYP"));
    const auto x = Values(recs);
    EXPECT_GE(x.size(), 299u * 2000);
    int edges = 0;
    double worst = 0;
    for (std::size_t j = 40; j + 40 < x.size(); ++j) {
        if (!(x[j] > 3000 && x[j - 1] <= 3000)) continue;
        double low = 0, high = 0;
        for (std::size_t k = 0; k < 10; ++k) {
            low += x[j - 30 + k] / 10.0;
            high += x[j + 20 + k] / 10.0;
        }
        const double mid = (low + high) / 2;
        std::size_t i = j;
        while (i > 1 && x[i - 1] >= mid) --i;
        const double crossing = static_cast<double>(i - 1) + (mid - x[i - 1]) / (x[i] - x[i - 1]);
        const double t_ns = static_cast<double>(recs[0].start_ns - kStart) + (crossing + 0.5) * 5e5;
        const double off = t_ns - std::round((t_ns + 3e8) / 1e9) * 1e9 + 3e8;
        EXPECT_LE(std::abs(off), 50e3) << j;
        worst = std::max(worst, std::abs(off));
        ++edges;
    }
    EXPECT_GE(edges, 298);
    EXPECT_EQ(st.Status().station.tears, 0u);
    EXPECT_TRUE(st.Status().station.resampled);
    std::cout << "resampled: worst edge " << worst / 1e3 << " us\n";
}
#endif

struct Collect : acq::Sink {
    std::vector<acq::BlockPtr> blocks;
    void OnBlock(const acq::BlockPtr& b) override { blocks.push_back(b); }
};

// The full card at the main window's settings: every block, the first ones
// that waited for the lock too, dated within a microsecond of the truth,
// from the pulse; series torn only as the tolerance allows.
TEST(TimingFromThePulse, EveryBlockIsDatedWithinAMicrosecondOfItsFirstScansTrueTime) {
    Station st(RealCard(), config::RecordingTiming());
    st.acq = acq::AcqConfig{};
    auto got = std::make_shared<Collect>();
    st.session.AddSink(got, 1000);
    st.Run(120);
    ASSERT_EQ(got->blocks.size(), 120u);
    for (const auto& b : got->blocks) {
        const double truth = st.Truth(static_cast<std::int64_t>(b->sequence) * 2000);
        EXPECT_NEAR(static_cast<double>(b->time_ns), truth, 1000) << b->sequence;
        EXPECT_EQ(b->clock.source, acq::ClockSource::kPulse);
        EXPECT_EQ(b->clock.quality, 100);
    }
    // Half a sample (250 us) at 20 to 30 ppm: a tear every 8 to 13 s.
    const records::StationStatus s = st.Status().station;
    EXPECT_GE(s.tears, 8u);
    EXPECT_LE(s.tears, 16u);
    EXPECT_TRUE(st.Said("时间撕裂"));
    const std::string clock = app::ClockText(s.clock, 2000, s.timing);
    EXPECT_NE(clock.find("秒脉冲定时"), std::string::npos) << clock;
    EXPECT_NE(clock.find("message_refers_to = \"previous\""), std::string::npos) << clock;
}

TEST(TimingConfig, ReadWrittenAndRefusedInOurWords) {
    test::TempDir dir;
    test::WriteFile(dir / "c.toml",
                    "[timing]\npps_channel = \"none\"\ndate_from = \"message\"\nthreshold = 3000\n"
                    "message_refers_to = \"next\"\nmax_message_delay_ms = 500\ntime_tolerance = 2.5\n"
                    "pulse_width_ms = 100\nfirst_time_wait_s = 4.5\nclock_channels = false\nlocation = \"10\"\n");
    config::StationConfig c = config::DefaultConfig();
    EXPECT_EQ(c.timing.first_time_wait_s, 10);
    EXPECT_EQ(c.timing.pulse_width_ms, 200);
    ASSERT_TRUE(config::LoadConfig(dir / "c.toml", c).ok());
    EXPECT_FALSE(c.timing.PulseWired());
    EXPECT_EQ(c.timing.date_from, acq::TimingConfig::DateFrom::kMessage);
    EXPECT_EQ(c.timing.threshold, 3000.0);
    EXPECT_TRUE(c.timing.message_refers_to_next);
    EXPECT_EQ(c.timing.max_message_delay_ms, 500);
    EXPECT_EQ(c.timing.time_tolerance, 2.5);
    EXPECT_FALSE(c.records.clock_channels);
    EXPECT_EQ(c.records.clock_location, "10");
    ASSERT_TRUE(config::SaveConfig(dir / "d.toml", c).ok());
    config::StationConfig d = config::DefaultConfig();
    ASSERT_TRUE(config::LoadConfig(dir / "d.toml", d).ok());
    EXPECT_EQ(d.timing.threshold, 3000.0);
    EXPECT_EQ(d.timing.time_tolerance, 2.5);
    EXPECT_EQ(d.timing.pulse_width_ms, 100);
    EXPECT_EQ(d.timing.first_time_wait_s, 4.5);
    EXPECT_EQ(d.records.clock_location, "10");
    EXPECT_FALSE(d.timing.PulseWired());
    for (const char* bad : {"date_from = \"gps\"", "pps_channel = 40", "time_tolerance = \"x\"", "resample = 1",
                            "pulse_width_ms = 0", "first_time_wait_s = -1"}) {
        test::WriteFile(dir / "c.toml", std::string("[timing]\n") + bad + "\n");
        const std::string text = app::Text(config::LoadConfig(dir / "c.toml", c));
        EXPECT_NE(text.find("第 2 行"), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace zqd::archive
