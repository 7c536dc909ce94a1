#include "card/sim/sim_card.h"

#include <gtest/gtest.h>

#include <set>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "formats/t1dat/t1dat_reader.h"
#include "formats/t1dat/record_times.h"
#include "gps/block_time.h"
#include "app/frm_main.h"

namespace zqd::sim {
namespace {

constexpr std::int64_t kSecond = 1000000000;

struct Fixture {
    std::int64_t now = 0;
    SimSettings settings;
    SimCard card;
    explicit Fixture(const std::string& start = "2008-05-12T17:38:40.300000000", SimSettings base = {})
        : settings(Settings(start, base)), card(settings, [this] { return now; }) {}
    static SimSettings Settings(const std::string& start, SimSettings s) {
        s.start_from_clock = false;
        EXPECT_TRUE(ParseStartTime(start, s.start_ns));
        return s;
    }
    void StartMain() {
        ASSERT_EQ(card.Initial(320, 5, 0, 0), 1);
        ASSERT_EQ(card.StartIntr(10, 2000, 0, 18, 2000, 0, 1), 1);
    }
};

// Values in the GPS slot (offset 1) of a buffer that are bytes, not 4096.
std::vector<int> GpsBytes(const std::vector<std::int16_t>& samples, int chnNum) {
    std::vector<int> bytes;
    for (std::size_t i = 1; i < samples.size(); i += static_cast<std::size_t>(chnNum))
        if (samples[i] != kNoByte) bytes.push_back(samples[i]);
    return bytes;
}

TEST(SimCard, BuffersFillInRealTimeAndOverrunsDropTheOldest) {
    Fixture f;
    f.StartMain();
    std::vector<std::int16_t> words(36002);
    f.now = kSecond - 1;
    EXPECT_EQ(f.card.QueryBuf(), 0);
    EXPECT_EQ(f.card.ADResult(words.data()), 0);
    f.now = kSecond;
    EXPECT_EQ(f.card.QueryBuf(), 1);
    EXPECT_EQ(f.card.ADResult(words.data()), 1);
    EXPECT_EQ(words[0], 0);  // buffer number
    EXPECT_EQ(f.card.QueryBuf(), 0);

    f.now = 16 * kSecond;  // 15 more buffers, 10 held
    EXPECT_EQ(f.card.QueryBuf(), 10);
    EXPECT_EQ(f.card.Overruns(), 5);
    EXPECT_EQ(f.card.ADResult(words.data()), 1);
    EXPECT_EQ(words[0], 6);
    f.card.StopIntr();
    EXPECT_EQ(f.card.QueryBuf(), 0);
}

TEST(SimCard, SpeedRunsTheClockFaster) {
    SimSettings s;
    s.speed = 50;
    Fixture f("2008-05-12T17:38:40", s);
    f.StartMain();
    f.now = kSecond / 50;
    EXPECT_EQ(f.card.QueryBuf(), 1);
}

TEST(SimCard, EachOneSecondBlockStartsWithItsOwnHaMessage) {
    Fixture f;
    f.StartMain();
    std::vector<std::int16_t> block(36000);
    for (int b = 0; b < 3; ++b) {
        f.card.FillSamples(b, block.data());
        const auto bytes = GpsBytes(block, 18);
        ASSERT_EQ(bytes.size(), 154u) << "block " << b;
        EXPECT_EQ(bytes[0], '@');
        EXPECT_EQ(bytes[1], '@');
        EXPECT_EQ(bytes[2], 'H');
        EXPECT_EQ(bytes[3], 'a');
        int sum = 0;
        for (int i = 2; i <= 150; ++i) sum ^= bytes[static_cast<std::size_t>(i)];
        EXPECT_EQ(bytes[151], sum);
        EXPECT_EQ(bytes[152], '\r');
        EXPECT_EQ(bytes[153], '\n');
        // The first byte completes ten bit times after the block's first scan.
        EXPECT_EQ(block[2 * 18 + 1], '@');

        std::vector<std::int32_t> values(block.begin(), block.end());
        values.push_back(0);
        const auto t = gps::DecodeBlockTime(values.data(), 18, 2000);
        ASSERT_TRUE(t);
        EXPECT_EQ(BlockTimeLine(*t), "2008-5-12 17:38:" + std::to_string(40 + b) + ":300000000");
    }
}

// The receiver's pulse on channel 0: 200 ms from every whole second, as an
// M12's; its falling edge within a millisecond of that, wandering.
TEST(SimCard, PulseOnChannelZeroFromEveryWholeSecondFor200Ms) {
    Fixture f;  // first scan at .3 s: the next whole second is 0.7 s = 1400 scans later
    f.StartMain();
    std::vector<std::int16_t> block(36000);
    f.card.FillSamples(0, block.data());
    EXPECT_NE(block[1399 * 18], kPulseCode);
    int pulses = 0;
    for (std::size_t i = 0; i < block.size(); i += 18) pulses += block[i] == kPulseCode;
    EXPECT_GE(pulses, 398);  // 400 scans, the last one or two shared with the fall
    EXPECT_LE(pulses, 402);
    for (int s = 1400; s < 1798; ++s) EXPECT_EQ(block[static_cast<std::size_t>(s) * 18], kPulseCode) << s;
    EXPECT_NE(block[1803 * 18], kPulseCode);
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (i % 18 == 1) continue;
        ASSERT_GE(block[i], 0);
        ASSERT_LE(block[i], 4095);
    }
    // The fall wanders; the rise does not (without jitter).
    std::set<double> falls;
    for (std::int64_t w = 1210613921; w < 1210613931; ++w) {
        EXPECT_EQ(f.card.PulseRise(w), static_cast<double>(w * 1000000000 - 1210613920300000000));
        const double width = f.card.PulseFall(w) - f.card.PulseRise(w);
        EXPECT_NEAR(width, 200e6, 1e6);
        falls.insert(width);
    }
    EXPECT_GT(falls.size(), 5u);
    // With a jitter, each rise is off its second by up to it, the same every run.
    SimSettings jittery;
    jittery.pps_jitter_ns = 5000;
    Fixture g("2008-05-12T17:38:40.300000000", jittery);
    g.StartMain();
    std::set<double> offsets;
    for (std::int64_t w = 1210613921; w < 1210613931; ++w) {
        const double off = g.card.PulseRise(w) - static_cast<double>(w * 1000000000 - 1210613920300000000);
        EXPECT_LE(std::abs(off), 5000);
        offsets.insert(off);
    }
    EXPECT_GT(offsets.size(), 5u);
}

TEST(SimCard, SameStartSameSamples) {
    Fixture a, b;
    a.StartMain();
    b.StartMain();
    std::vector<std::int16_t> x(36000), y(36000);
    a.card.FillSamples(7, x.data());
    b.card.FillSamples(7, y.data());
    EXPECT_EQ(x, y);
}

TEST(SimCard, MonitorSettingsCarryOneMessageASecond) {
    Fixture f("2008-05-12T17:38:40");
    ASSERT_EQ(f.card.Initial(320, 5, 0, 0), 1);
    ASSERT_EQ(f.card.StartIntr(10, 1000, 0, 4, 10000, 0, 1), 1);
    std::vector<std::int16_t> buf(4000);
    std::size_t total = 0;
    for (int b = 0; b < 10; ++b) {
        f.card.FillSamples(b, buf.data());
        total += GpsBytes(buf, 4).size();
    }
    EXPECT_EQ(total, 154u);
}

TEST(SimCard, FailuresAndDigitalIo) {
    SimSettings s;
    s.fail_initial = 7;
    Fixture bad("2008-05-12T17:38:40", s);
    EXPECT_EQ(bad.card.Initial(320, 5, 0, 0), 0);
    EXPECT_EQ(bad.card.GetLastADError(), 7);
    EXPECT_EQ(bad.card.StartIntr(10, 2000, 0, 18, 2000, 0, 1), 0);

    SimSettings t;
    t.fail_start = -3;
    Fixture noStart("2008-05-12T17:38:40", t);
    EXPECT_EQ(noStart.card.Initial(320, 5, 0, 0), 1);
    EXPECT_EQ(noStart.card.StartIntr(10, 2000, 0, 18, 2000, 0, 1), 0);
    EXPECT_EQ(noStart.card.GetLastADError(), -3);

    Fixture f;
    EXPECT_EQ(f.card.Initial(320, 5, 0, 0), 1);
    EXPECT_EQ(f.card.StartIntr(10, 0, 0, 18, 2000, 0, 1), 0);
    EXPECT_EQ(f.card.GetLastADError(), kBadArgument);
    std::int16_t di[2] = {0, 0};
    EXPECT_EQ(f.card.Zqd_DO(0, 0xA5), 1);
    EXPECT_EQ(f.card.Zqd_DO(5, 1), 0);
    f.card.Zqd_DI(2, di);
    EXPECT_EQ(di[0], 0xA5);
    EXPECT_EQ(di[1], 1);
}

TEST(SimSettings, StartTimesAndBadEnvironmentValues) {
    std::int64_t ns = 0;
    EXPECT_TRUE(ParseStartTime("1970-01-01T00:00:01.5", ns));
    EXPECT_EQ(ns, 1500000000);
    EXPECT_TRUE(ParseStartTime("2008-05-12T17:38:40", ns));
    EXPECT_FALSE(ParseStartTime("2008-02-30T00:00:00", ns));
    EXPECT_FALSE(ParseStartTime("2008-05-12T24:00:00", ns));
    EXPECT_FALSE(ParseStartTime("2008-05-12T17:38:40.", ns));
    EXPECT_FALSE(ParseStartTime("yesterday", ns));

    setenv("ADCARD_SIM_START", "nonsense", 1);
    setenv("ADCARD_SIM_SPEED", "-4", 1);
    setenv("ADCARD_SIM_FAIL_INITIAL", "7", 1);
    setenv("ADCARD_SIM_FAIL_START", "x", 1);
    std::string warnings;
    const auto s = SettingsFromEnvironment(warnings);
    unsetenv("ADCARD_SIM_START");
    unsetenv("ADCARD_SIM_SPEED");
    unsetenv("ADCARD_SIM_FAIL_INITIAL");
    unsetenv("ADCARD_SIM_FAIL_START");
    EXPECT_TRUE(s.start_from_clock);
    EXPECT_EQ(s.speed, 1.0);
    EXPECT_EQ(s.fail_initial, 7);
    EXPECT_EQ(s.fail_start, 0);
    EXPECT_NE(warnings.find("ADCARD_SIM_START"), std::string::npos);
    EXPECT_NE(warnings.find("ADCARD_SIM_SPEED"), std::string::npos);
    EXPECT_NE(warnings.find("ADCARD_SIM_FAIL_START"), std::string::npos);
}

}  // namespace
}  // namespace zqd::sim

namespace zqd::sim {
namespace {

TEST(SimFaults, FromTheEnvironmentAndDeterministic) {
    setenv("ADCARD_SIM_ADRESULT_FAIL", "7", 1);
    setenv("ADCARD_SIM_GPS_OUTAGE", "3:2", 1);
    setenv("ADCARD_SIM_GPS_CORRUPT", "0", 1);
    std::string warnings;
    auto s = SettingsFromEnvironment(warnings);
    setenv("ADCARD_SIM_GPS_OUTAGE", "3", 1);
    setenv("ADCARD_SIM_GPS_CORRUPT", "4", 1);
    std::string more;
    const auto t = SettingsFromEnvironment(more);
    unsetenv("ADCARD_SIM_ADRESULT_FAIL");
    unsetenv("ADCARD_SIM_GPS_OUTAGE");
    unsetenv("ADCARD_SIM_GPS_CORRUPT");
    EXPECT_EQ(s.adresult_fail, 7);
    EXPECT_EQ(s.gps_outage_from, 3);
    EXPECT_EQ(s.gps_outage_for, 2);
    EXPECT_EQ(s.gps_corrupt, 0);
    EXPECT_NE(warnings.find("ADCARD_SIM_GPS_CORRUPT"), std::string::npos);
    EXPECT_NE(more.find("ADCARD_SIM_GPS_OUTAGE"), std::string::npos);
    EXPECT_EQ(t.gps_corrupt, 4);

    // Every 3rd ADResult fails, leaves the buffer alone and loses its buffer.
    s = {};
    s.start_from_clock = false;
    s.adresult_fail = 3;
    std::int64_t now = 0;
    SimCard card(s, [&now] { return now; });
    card.Initial(320, 5, 0, 0);
    card.StartIntr(10, 2000, 0, 18, 2000, 0, 1);
    now = 5 * kSecond;
    std::vector<std::int16_t> buf(36002, -1);
    std::vector<int> results;
    for (int i = 0; i < 5; ++i) {
        results.push_back(card.ADResult(buf.data()));
        if (results.back() == 0) {
            EXPECT_EQ(buf[5], -1);
        }
        std::fill(buf.begin(), buf.end(), -1);
    }
    EXPECT_EQ(results, (std::vector<int>{1, 1, 0, 1, 1}));
    EXPECT_EQ(card.QueryBuf(), 0);  // five buffers filled, five taken or lost

    // Outage and corruption: the GPS slot of seconds 3 and 4 is empty; every
    // 2nd message fails its checksum.
    SimSettings g;
    g.start_from_clock = false;
    g.gps_outage_from = 3;
    g.gps_outage_for = 2;
    g.gps_corrupt = 2;
    SimCard gps(g, [] { return 0; });
    gps.Initial(320, 5, 0, 0);
    gps.StartIntr(10, 2000, 0, 18, 2000, 0, 1);
    std::vector<std::int16_t> samples(36000);
    for (int k = 0; k < 6; ++k) {
        gps.FillSamples(k, samples.data());
        std::vector<int> bytes;
        for (std::size_t i = 1; i < samples.size(); i += 18)
            if (samples[i] != kNoByte) bytes.push_back(samples[i]);
        if (k == 3 || k == 4) {
            EXPECT_TRUE(bytes.empty()) << k;
            continue;
        }
        ASSERT_EQ(bytes.size(), 154u) << k;
        int sum = 0;
        for (int i = 2; i <= 150; ++i) sum ^= bytes[static_cast<std::size_t>(i)];
        EXPECT_EQ(sum == bytes[151], k % 2 == 0) << k;
    }
}

}  // namespace
}  // namespace zqd::sim

namespace zqd::sim {
namespace {

// A real card: its clock 25 ppm fast with a 5 ppm wander, its receiver 120 ms
// late. The pulse's edges fall between scans, found to a fraction of one
// from the scan they fall in; their spacing is the card's true rate; each
// message names the pulse before it and begins 120 ms after it.
TEST(SimCard, ARealCardDriftsItsPulseEdgesFallBetweenScansAndMessagesComeLate) {
    SimSettings real;
    real.clock_ppm = 25;
    real.wander_ppm = 5;
    real.gps_delay_ms = 120;
    Fixture f("2008-05-12T17:38:40.000000000", real);
    f.StartMain();
    std::vector<int> pulse;  // channel 0, all blocks on end
    std::vector<std::int16_t> block(36000);
    std::vector<std::size_t> message_at;
    for (int b = 0; b < 30; ++b) {
        f.card.FillSamples(b, block.data());
        for (std::size_t s = 0; s < 2000; ++s) pulse.push_back(block[s * 18]);
        // This block's message, naming its whole second.
        ASSERT_EQ(GpsBytes(block, 18).size(), 154u) << b;
        std::size_t at = 0;
        while (block[at * 18 + 1] != '@') ++at;
        message_at.push_back(b * 2000 + at);
        std::vector<std::int32_t> values(block.begin(), block.end());
        values.push_back(0);
        const auto t = gps::DecodeBlockTime(values.data(), 18, 2000);
        ASSERT_TRUE(t);
        EXPECT_EQ(BlockTimeLine(*t), "2008-5-12 17:" + std::to_string(38 + (40 + b) / 60) + ":" + std::to_string((40 + b) % 60) + ":0")
            << b;
    }
    std::vector<double> edges{0};  // in scans since the first; the first pulse begins with it
    ASSERT_EQ(pulse[0], kPulseCode);
    for (std::size_t s = 2; s < pulse.size(); ++s) {
        const int low = pulse[s - 2], before = pulse[s - 1], v = pulse[s];
        if (before >= 3000 || v < 3000) continue;  // s: the first scan more than half high
        if (v < kPulseCode)  // the edge falls in s, which took the share of its period after it
            edges.push_back(static_cast<double>(s) + 1 - static_cast<double>(v - before) / (kPulseCode - before));
        else  // in the scan before, which took a share of at most a half
            edges.push_back(static_cast<double>(s) - static_cast<double>(before - low) / (kPulseCode - low));
    }
    // Each message begins 120 ms (and a byte) after its pulse.
    for (std::size_t b = 0; b < message_at.size() && b < edges.size(); ++b)
        EXPECT_NEAR(static_cast<double>(message_at[b]), edges[b] + (0.120 + 10.0 / 9600) * 2000, 1.01) << b;
    ASSERT_EQ(edges.size(), 30u);
    EXPECT_NEAR(edges[0], 0, 1e-9);
    for (std::size_t i = 1; i < edges.size(); ++i) {
        const double rate = edges[i] - edges[i - 1];  // scans in one true second
        EXPECT_GT(rate, 2000 * (1 + 19e-6) - 0.002) << i;
        EXPECT_LT(rate, 2000 * (1 + 31e-6) + 0.002) << i;
    }
    // Over the 29 s the clock gained about 25 ppm.
    EXPECT_NEAR((edges.back() - edges.front()) / 29 / 2000 - 1, 25e-6 + 5e-6, 2.5e-6);
}

// Below 170 scans a second a 154-byte message a second does not fit one byte
// a scan: the receiver sends one every n-th second, each whole, each naming
// its second.
TEST(SimCard, AtLowRatesTheReceiverSendsEveryFewSecondsAndEachMessageFits) {
    for (const auto& [rate, every] : {std::pair{50, 4}, std::pair{100, 2}, std::pair{150, 2}, std::pair{200, 1}}) {
        SimSettings real;
        real.gps_delay_ms = 480;
        Fixture f("2008-05-12T17:38:40.300000000", real);
        ASSERT_EQ(f.card.Initial(320, 5, 0, 0), 1);
        ASSERT_EQ(f.card.StartIntr(10, rate, 0, 3, rate, 0, 1), 1);
        EXPECT_EQ(f.card.MessageEvery(), every) << rate;
        std::vector<std::int16_t> all, block(static_cast<std::size_t>(3 * rate));
        for (int b = 0; b < 12; ++b) {
            f.card.FillSamples(b, block.data());
            all.insert(all.end(), block.begin(), block.end());
        }
        const auto bytes = GpsBytes(all, 3);
        const std::size_t messages = bytes.size() / 154;  // the last may go on beyond
        EXPECT_GE(messages, static_cast<std::size_t>(11 / every)) << rate;
        for (std::size_t m = 0; m < messages; ++m) {
            EXPECT_EQ(bytes[m * 154], '@') << rate;
            EXPECT_EQ(bytes[m * 154 + 153], '\n') << rate;
            EXPECT_EQ(bytes[m * 154 + 10], static_cast<int>((41 + m * static_cast<std::size_t>(every)) % 60)) << rate;  // its second
        }
    }
}

// The environment sets the real card; values out of range are said and not taken.
TEST(SimSettings, ARealCardFromTheEnvironment) {
    setenv("ADCARD_SIM_CLOCK_PPM", "-12.5", 1);
    setenv("ADCARD_SIM_CLOCK_WANDER_PPM", "3", 1);
    setenv("ADCARD_SIM_GPS_DELAY_MS", "5000", 1);
    setenv("ADCARD_SIM_PPS_WIDTH_MS", "100", 1);
    setenv("ADCARD_SIM_PPS_JITTER_NS", "-3", 1);
    std::string warnings;
    const SimSettings s = SettingsFromEnvironment(warnings);
    unsetenv("ADCARD_SIM_CLOCK_PPM");
    unsetenv("ADCARD_SIM_CLOCK_WANDER_PPM");
    unsetenv("ADCARD_SIM_GPS_DELAY_MS");
    unsetenv("ADCARD_SIM_PPS_WIDTH_MS");
    unsetenv("ADCARD_SIM_PPS_JITTER_NS");
    EXPECT_EQ(s.clock_ppm, -12.5);
    EXPECT_EQ(s.wander_ppm, 3);
    EXPECT_EQ(s.gps_delay_ms, 0);
    EXPECT_EQ(s.pps_width_ms, 100);
    EXPECT_EQ(s.pps_jitter_ns, 0);
    EXPECT_NE(warnings.find("ADCARD_SIM_GPS_DELAY_MS"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("ADCARD_SIM_PPS_JITTER_NS"), std::string::npos) << warnings;
    EXPECT_EQ(SimSettings{}.pps_width_ms, 200);
    EXPECT_TRUE(s.Real());
    EXPECT_FALSE(SimSettings{}.Real());
}

}  // namespace
}  // namespace zqd::sim

namespace zqd::sim {
namespace {

TEST(SimFaults, AnEventIsABurstOnTheDataChannelsOnlyAtItsTime) {
    setenv("ADCARD_SIM_EVENT", "2008-05-12T17:38:45:10:3000", 1);
    std::string warnings;
    SimSettings s = SettingsFromEnvironment(warnings);
    setenv("ADCARD_SIM_EVENT", "2008-05-12T17:38:45:10", 1);  // no amplitude
    std::string bad;
    SettingsFromEnvironment(bad);
    unsetenv("ADCARD_SIM_EVENT");
    EXPECT_TRUE(warnings.empty()) << warnings;
    EXPECT_NE(bad.find("ADCARD_SIM_EVENT"), std::string::npos);
    EXPECT_DOUBLE_EQ(s.event_seconds, 10);
    EXPECT_DOUBLE_EQ(s.event_amplitude, 3000);

    s.start_from_clock = false;
    ASSERT_TRUE(ParseStartTime("2008-05-12T17:38:40", s.start_ns));
    SimSettings quiet = s;
    quiet.event_seconds = 0;
    SimCard card(s, [] { return 0; }), calm(quiet, [] { return 0; });
    for (SimCard* c : {&card, &calm}) {
        c->Initial(320, 5, 0, 0);
        c->StartIntr(10, 2000, 0, 18, 2000, 0, 1);
    }
    std::vector<std::int16_t> a(36000), b(36000);
    // Second by second: the largest difference the event makes on a data
    // channel, and whether the pulse and GPS slots were touched at all.
    for (int k = 0; k < 20; ++k) {
        card.FillSamples(k, a.data());
        calm.FillSamples(k, b.data());
        int largest = 0;
        bool others = false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            const int d = std::abs(a[i] - b[i]);
            if (i % 18 >= 2) largest = std::max(largest, d);
            else others = others || d != 0;
        }
        EXPECT_FALSE(others) << k;
        if (k < 5 || k >= 15) {
            EXPECT_EQ(largest, 0) << k;
        } else if (k < 8) {
            EXPECT_GT(largest, 1000) << k;  // the strong part
            EXPECT_LE(largest, 3000) << k;
        }
    }
}

}  // namespace
}  // namespace zqd::sim

namespace zqd::sim {
namespace {

// Ground noise: centred on mid-scale, of the RMS asked for, three times
// louder at 14:00 UTC than at 02:00, the same on every run, and only on the
// data channels.
TEST(SimFaults, GroundNoiseIsOfItsLevelLouderByDayAndOnlyOnTheDataChannels) {
    setenv("ADCARD_SIM_NOISE", "3", 1);
    std::string warnings;
    SimSettings s = SettingsFromEnvironment(warnings);
    unsetenv("ADCARD_SIM_NOISE");
    EXPECT_TRUE(warnings.empty()) << warnings;
    ASSERT_DOUBLE_EQ(s.noise_codes, 3);
    s.start_from_clock = false;
    const auto rms = [&](const char* start, std::vector<std::int16_t>* keep) {
        SimSettings at = s;
        EXPECT_TRUE(ParseStartTime(start, at.start_ns));
        SimCard card(at, [] { return 0; });
        card.Initial(320, 5, 0, 0);
        card.StartIntr(10, 2000, 0, 18, 2000, 0, 1);
        std::vector<std::int16_t> a(36000);
        double sum = 0, squares = 0;
        int n = 0;
        for (int k = 0; k < 30; ++k) {
            card.FillSamples(k, a.data());
            if (keep && k == 0) *keep = a;
            for (std::size_t i = 0; i < a.size(); ++i)
                if (i % 18 >= 2) sum += a[i] - 2048, squares += (a[i] - 2048.0) * (a[i] - 2048.0), ++n;
        }
        EXPECT_NEAR(sum / n, 0, 0.1);
        return std::sqrt(squares / n);
    };
    std::vector<std::int16_t> first, again;
    const double day = rms("2026-12-07T14:00:00", &first), night = rms("2026-12-07T02:00:00", nullptr);
    rms("2026-12-07T14:00:00", &again);
    // 1.5 and 0.5 times 3 codes of broadband noise, over the microseism's
    // 0.5 × 3 × √((1 + 0.8² + 0.6²) / 2) = 1.5 codes.
    EXPECT_NEAR(day, std::hypot(4.5, 1.5), 0.25);
    EXPECT_NEAR(night, std::hypot(1.5, 1.5), 0.25);
    EXPECT_EQ(first, again);
    SimSettings sines = s;
    sines.noise_codes = 0;
    ASSERT_TRUE(ParseStartTime("2026-12-07T14:00:00", sines.start_ns));
    SimCard card(sines, [] { return 0; });
    card.Initial(320, 5, 0, 0);
    card.StartIntr(10, 2000, 0, 18, 2000, 0, 1);
    std::vector<std::int16_t> b(36000);
    card.FillSamples(0, b.data());
    for (std::size_t i = 0; i < b.size(); i += 18) {
        ASSERT_EQ(first[i], b[i]) << "the pulse's channel, scan " << i / 18;
    }
}

}  // namespace
}  // namespace zqd::sim
