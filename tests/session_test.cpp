// The acquisition engine driven step by step with the scripted card, and a
// few runs with its own thread.
#include "acquisition/session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <atomic>
#include <thread>

#include "card/sim/sim_card.h"
#include "common/utc.h"
#include "app/frm_main.h"
#include "app/messages.h"
#include "acquisition/mailbox.h"
#include "scripted_card.h"
#include "test_support.h"
#include "view/live_waves.h"

namespace zqd {
namespace {

using acq::BlockPtr;
using acq::Event;
using acq::TimeStatus;
using test::ScriptedCard;

// Keeps everything a sink is given.
struct Collector final : acq::Sink {
    std::mutex mutex;
    std::vector<BlockPtr> blocks;
    std::vector<Event> events;
    void OnBlock(const BlockPtr& b) override {
        std::lock_guard lock(mutex);
        blocks.push_back(b);
    }
    void OnEvent(const Event& e) override {
        std::lock_guard lock(mutex);
        events.push_back(e);
    }
    std::size_t Blocks() {
        std::lock_guard lock(mutex);
        return blocks.size();
    }
    std::vector<Event> Of(Event::Kind kind) {
        std::vector<Event> out;
        for (const auto& e : events)
            if (e.kind == kind) out.push_back(e);
        return out;
    }
};

std::int64_t Ns(const std::string& iso) {
    std::int64_t ns = 0;
    EXPECT_TRUE(sim::ParseStartTime(iso, ns)) << iso;
    return ns;
}

// The simulated card's buffers, handed out by the scripted card: ADResult
// call k delivers the simulated buffer `order(k)`.
struct SimFeed {
    sim::SimCard card;
    explicit SimFeed(const std::string& start, sim::SimSettings s = {}) : card(Settings(start, s), [] { return 0; }) {}
    static sim::SimSettings Settings(const std::string& start, sim::SimSettings s) {
        s.start_from_clock = false;
        s.start_ns = Ns(start);
        return s;
    }
    void Start(const acq::AcqConfig& c) {
        card.Initial(320, 5, 0, 0);
        card.StartIntr(c.BufNum, c.ChnPoints, c.StartChn, c.ChnNum, c.SampleFrq, 0, 1);
    }
};

struct SessionFixture : ::testing::Test {
    ScriptedCard card;
    acq::Session session{card, {false, std::chrono::milliseconds(1000)}};
    std::shared_ptr<Collector> sink = std::make_shared<Collector>();
    std::shared_ptr<acq::SinkRunner> runner = session.AddSink(sink, 64);

    // Starts with `config`; buffer k of the simulated card comes at ADResult call order[k].
    void StartSim(SimFeed& feed, const acq::AcqConfig& config, std::vector<int> order = {}) {
        feed.Start(config);
        card.fill = [&feed, order](int call, std::int16_t* w) {
            const int k = order.empty() ? call : order[static_cast<std::size_t>(call)];
            feed.card.FillSamples(k, w + 1);
        };
        ASSERT_TRUE(session.Start(config).ok());
    }
    void Poll(std::int32_t n) {
        card.queryResults.push_back(n);
        session.Pump();
    }
};

acq::AcqConfig MainSettings() { return {}; }
// Dated from the messages alone, the pulse only measured.
acq::TimingConfig MessageTiming() {
    acq::TimingConfig t;
    t.date_from = acq::TimingConfig::DateFrom::kMessage;
    return t;
}

// The simulated card with no GPS message in buffers 3 and 4.
sim::SimSettings OutageAt3For2() {
    sim::SimSettings s;
    s.gps_outage_from = 3;
    s.gps_outage_for = 2;
    return s;
}
acq::AcqConfig MonitorSettings() { return {10, 1000, 0, 4, 10000, 0, 1}; }

TEST_F(SessionFixture, EveryBlockGetsTheTimeOfItsFirstScan) {
    // The message carries the GPS time of the scan at which the receiver began
    // to send it; its first byte lands a byte time (10 bits at 9600 baud) later.
    SimFeed feed("2008-05-12T17:38:40.300000000");
    StartSim(feed, MainSettings());
    Poll(3);
    ASSERT_EQ(sink->blocks.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(sink->blocks[k]->sequence, k);
        EXPECT_EQ(sink->blocks[k]->time_status, TimeStatus::kOwn);
        EXPECT_EQ(sink->blocks[k]->time_ns, Ns("2008-05-12T17:38:40.300000000") + static_cast<std::int64_t>(k) * utc::kNsPerSecond);
        EXPECT_EQ(sink->blocks[k]->Samples(), 36000);
    }
    EXPECT_EQ(card.calls, (std::vector<std::string>{"StopIntr()", "Initial(320, 5, 0, 0)",
                                                      "StartIntr(10, 2000, 0, 18, 2000, 0, 1)", "QueryBuf()",
                                                      "ADResult()", "ADResult()", "ADResult()"}));
    EXPECT_TRUE(sink->Of(Event::Kind::kGap).empty());
}

TEST_F(SessionFixture, TenthSecondBlocksCarryTheTimeBetweenMessages) {
    SimFeed feed("2008-05-12T17:38:40.300000000");
    StartSim(feed, MonitorSettings());
    Poll(12);
    ASSERT_EQ(sink->blocks.size(), 12u);
    // At 10,000 scans a second a message (154 bytes, 1604 scans) ends in the
    // second block of each second: the first block of all has no time yet.
    EXPECT_EQ(sink->blocks[0]->time_status, TimeStatus::kNone);
    for (std::size_t k = 1; k < 12; ++k) {
        EXPECT_EQ(sink->blocks[k]->time_ns, Ns("2008-05-12T17:38:40.300000000") + static_cast<std::int64_t>(k) * 100000000) << k;
        EXPECT_EQ(sink->blocks[k]->time_status, k % 10 == 1 ? TimeStatus::kOwn : TimeStatus::kCarried) << k;
    }
    EXPECT_EQ(session.Stats().carried, 9u);
    EXPECT_EQ(session.Stats().untimed, 1u);
}

// Two blocks of 200 scans of 2 words at 9600 scans/s, one byte a scan, with a
// message whose first byte is in scan `at` of block 0.
std::vector<std::vector<std::int16_t>> SplitStream(int at, std::int64_t time_ns, int corrupt = -1) {
    auto msg = sim::HaMessage(time_ns);
    if (corrupt >= 0) msg[static_cast<std::size_t>(corrupt)] ^= 1;
    std::vector<std::vector<std::int16_t>> blocks(2, std::vector<std::int16_t>(402, 4096));
    for (int i = 0; i < sim::kHaLength; ++i) {
        const int scan = at + i;
        blocks[static_cast<std::size_t>(scan / 200)][static_cast<std::size_t>(scan % 200 * 2 + 1 + 1)] = msg[static_cast<std::size_t>(i)];
    }
    return blocks;
}

TEST_F(SessionFixture, AMessageSplitAcrossTwoBlocksIsDecoded) {
    const std::int64_t t = Ns("2020-02-29T23:59:59.250000000");
    const auto stream = SplitStream(150, t);
    card.fill = [&](int k, std::int16_t* w) { std::copy(stream[static_cast<std::size_t>(k)].begin(), stream[static_cast<std::size_t>(k)].end(), w); };
    ASSERT_TRUE(session.Start({10, 200, 0, 2, 9600, 0, 1}).ok());
    Poll(2);
    ASSERT_EQ(sink->blocks.size(), 2u);
    EXPECT_EQ(sink->blocks[0]->time_status, TimeStatus::kNone);
    EXPECT_EQ(sink->blocks[1]->time_status, TimeStatus::kOwn);
    // Sending began at scan 150 - 10 = 140; block 1 starts 60 scans later.
    EXPECT_EQ(sink->blocks[1]->time_ns, t + timeline::ScansToNs(60, 9600));
    EXPECT_EQ(session.Stats().messages.good, 1u);
}

TEST_F(SessionFixture, MessagesFailingTheirChecksGiveNoTimeAndAreCounted) {
    const std::int64_t t = Ns("2008-05-12T17:38:40.000000000");
    for (int corrupt : {30, 151, 153}) {
        ScriptedCard c;
        acq::Session s{c, {false, std::chrono::milliseconds(1000)}};
        auto col = std::make_shared<Collector>();
        s.AddSink(col);
        const auto stream = SplitStream(0, t, corrupt);
        c.fill = [&](int k, std::int16_t* w) { std::copy(stream[static_cast<std::size_t>(k)].begin(), stream[static_cast<std::size_t>(k)].end(), w); };
        ASSERT_TRUE(s.Start({10, 200, 0, 2, 9600, 0, 1}).ok());
        c.queryResults = {2};
        s.Pump();
        ASSERT_EQ(col->blocks.size(), 2u);
        EXPECT_EQ(col->blocks[1]->time_status, TimeStatus::kNone) << corrupt;
        EXPECT_EQ(s.Stats().messages.Bad(), 1u) << corrupt;
        EXPECT_EQ(corrupt == 153 ? s.Stats().messages.bad_frame : s.Stats().messages.bad_checksum, 1u) << corrupt;
        ASSERT_EQ(col->Of(Event::Kind::kBadMessage).size(), 1u);
    }
    // A month of 13 passes the checksum (it is recomputed) but not the range check.
    auto msg = sim::HaMessage(t);
    msg[4] = 13;
    gps::HaStreamDecoder d;
    EXPECT_FALSE(d.Take(msg));
    EXPECT_EQ(d.Counters().bad_checksum, 1u);
    std::uint8_t sum = 0;
    for (int i = 2; i <= 150; ++i) sum ^= msg[static_cast<std::size_t>(i)];
    msg[151] = sum;
    EXPECT_FALSE(d.Take(msg));
    EXPECT_EQ(d.Counters().bad_range, 1u);
}

TEST_F(SessionFixture, ThroughAGpsOutageTimesAreCarriedAndMarked) {
    SimFeed feed("2008-05-12T17:38:40.300000000", OutageAt3For2());
    session.SetTiming(MessageTiming());
    StartSim(feed, MainSettings());
    Poll(7);
    ASSERT_EQ(sink->blocks.size(), 7u);
    for (std::size_t k = 0; k < 7; ++k) {
        EXPECT_EQ(sink->blocks[k]->time_ns, Ns("2008-05-12T17:38:40.300000000") + static_cast<std::int64_t>(k) * utc::kNsPerSecond);
        EXPECT_EQ(sink->blocks[k]->time_status, k == 3 || k == 4 ? TimeStatus::kCarried : TimeStatus::kOwn) << k;
    }
    EXPECT_TRUE(sink->Of(Event::Kind::kGap).empty());
}

TEST_F(SessionFixture, LiveWavesTakeEveryBlockAsASinkAndMarkCarriedTime) {
    view::LiveWaves live(session, {{2, "GY0"}, {0, "GYP"}});
    EXPECT_FALSE(live.Tick(600));  // nothing yet
    SimFeed feed("2008-05-12T17:38:40.300000000", OutageAt3For2());
    session.SetTiming(MessageTiming());
    StartSim(feed, MainSettings());
    Poll(7);
    ASSERT_TRUE(live.Tick(600));
    EXPECT_EQ(live.Blocks(), 7u);
    const auto m = live.Model();
    ASSERT_EQ(m->ChannelCount(), 2);
    ASSERT_EQ(m->At(0).stretches.size(), 1u);  // continuous through the outage
    const auto& st = m->At(0).stretches[0];
    EXPECT_EQ(st.start_ns, Ns("2008-05-12T17:38:40.300000000"));
    ASSERT_EQ(st.count, 14000u);
    std::vector<std::int32_t> got(14000);
    st.source->Read(0, got.size(), got.data());
    for (std::size_t j = 0; j < got.size(); ++j)
        ASSERT_EQ(got[j], static_cast<std::uint16_t>(sink->blocks[j / 2000]->At(static_cast<std::int64_t>(j % 2000), 2))) << j;
    ASSERT_EQ(m->Carried().size(), 1u);
    EXPECT_EQ(m->Carried()[0].begin_ns, Ns("2008-05-12T17:38:43.300000000"));
    EXPECT_EQ(m->Carried()[0].end_ns, Ns("2008-05-12T17:38:45.300000000"));
}

TEST_F(SessionFixture, LiveWavesFilteredCausallyRunOnAcrossBlocksAsOneSignal) {
    view::LiveWaves live(session, {{2, "GY0"}});
    signal::FilterSpec bad;
    bad.kind = signal::FilterSpec::Kind::kLowPass;
    bad.high_hz = 1500;  // beyond the Nyquist frequency of 2000 samples/s
    EXPECT_EQ(live.SetFilter(bad, 2000).why, Status::Why::kBadFilter);
    EXPECT_EQ(live.Filtered(), nullptr);
    const auto spec = signal::ParseFilter("bp:5:50");
    ASSERT_TRUE(live.SetFilter(*spec, 2000).ok());
    SimFeed feed("2008-05-12T17:38:40.300000000");
    StartSim(feed, MainSettings());
    Poll(4);
    ASSERT_TRUE(live.Tick(600));
    const auto f = live.Filtered();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->At(0).stretches.size(), 1u);
    const auto& st = f->At(0).stretches[0];
    ASSERT_EQ(st.count, 8000u);
    EXPECT_EQ(st.start_ns, Ns("2008-05-12T17:38:40.300000000"));
    // Block by block, the same as the whole signal through one causal filter.
    std::vector<double> x(8000);
    for (std::size_t j = 0; j < x.size(); ++j) x[j] = static_cast<std::uint16_t>(sink->blocks[j / 2000]->At(static_cast<std::int64_t>(j % 2000), 2));
    signal::Filter whole;
    ASSERT_TRUE(signal::Filter::Design(*spec, 2000, whole).ok());
    whole.Run(x.data(), x.size());
    std::vector<std::int32_t> got(8000);
    st.source->Read(0, got.size(), got.data());
    for (std::size_t j = 0; j < got.size(); ++j) ASSERT_EQ(got[j], std::lround(x[j])) << j;
    // The summaries are the filtered samples'.
    EXPECT_EQ(f->RangeIn(0, st.start_ns, st.EndNs()), (view::MinMax{*std::min_element(got.begin(), got.end()),
                                                                     *std::max_element(got.begin(), got.end())}));
    ASSERT_TRUE(live.SetFilter({}, 2000).ok());
    EXPECT_EQ(live.Filtered(), nullptr);
}

TEST_F(SessionFixture, AFailedReadMakesNoBlockAndTheGapIsSeen) {
    SimFeed feed("2008-05-12T17:38:40.300000000");
    StartSim(feed, MainSettings());
    card.adResults = {1, 0, 1};
    Poll(3);
    ASSERT_EQ(sink->blocks.size(), 2u);
    EXPECT_EQ(sink->blocks[1]->sequence, 2u);
    EXPECT_EQ(sink->blocks[1]->time_ns - sink->blocks[0]->time_ns, 2 * utc::kNsPerSecond);
    const auto failed = sink->Of(Event::Kind::kReadFailed);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].sequence, 1u);
    EXPECT_EQ(failed[0].value, 0);
    // The second the failed read lost is that read's: no time gap besides.
    EXPECT_TRUE(sink->Of(Event::Kind::kGap).empty());
    EXPECT_EQ(session.Stats().read_failures, 1u);
    EXPECT_EQ(session.Stats().gaps, 0u);
}

// Whole blocks missing after a poll that found the card's ring full are
// buffers it overwrote, counted once as such; the same step without a full
// ring, or one that is not whole blocks, is a jump of the GPS time; a failed
// read within an overflow is counted as a failed read, the rest as overflow.
TEST_F(SessionFixture, OverflowedBuffersAreToldFromFailedReadsAndTimeJumps) {
    SimFeed feed("2008-05-12T17:38:40.300000000");
    // ADResult call k delivers buffer order[k].
    StartSim(feed, MainSettings(), {0, 1, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 20, 21});
    Poll(2);
    Poll(10);  // all ten buffers full: 2 to 4 were overwritten
    card.adResults = {1, 0, 1};
    Poll(3);   // buffer 16 fails to read
    Poll(2);   // 18 and 19 missing, the ring not full: the GPS time jumped
    const auto overflow = sink->Of(Event::Kind::kOverflow);
    ASSERT_EQ(overflow.size(), 1u);
    EXPECT_EQ(overflow[0].value, 3);
    EXPECT_EQ(overflow[0].sequence, 2u);
    const auto gaps = sink->Of(Event::Kind::kGap);
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].sequence, 15u);
    EXPECT_EQ(gaps[0].value, 2 * utc::kNsPerSecond);
    const auto stats = session.Stats();
    EXPECT_EQ(stats.overflowed, 3u);
    EXPECT_EQ(stats.read_failures, 1u);
    EXPECT_EQ(stats.gaps, 1u);
}

TEST_F(SessionFixture, TimeJumpsForwardAndBackAreEvents) {
    SimFeed feed("2008-05-12T17:38:40.300000000");
    StartSim(feed, MainSettings(), {0, 1, 5, 2});
    Poll(4);
    ASSERT_EQ(sink->blocks.size(), 4u);
    const auto gaps = sink->Of(Event::Kind::kGap);
    const auto back = sink->Of(Event::Kind::kTimeBackwards);
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].sequence, 2u);
    EXPECT_EQ(gaps[0].value, 3 * utc::kNsPerSecond);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].sequence, 3u);
    EXPECT_EQ(back[0].value, -4 * utc::kNsPerSecond);
}

TEST_F(SessionFixture, AFullSinkQueueCountsAndReportsItsDrops) {
    auto slow = std::make_shared<Collector>();
    auto small = session.AddSink(slow, 2);
    SimFeed feed("2008-05-12T17:38:40.300000000");
    StartSim(feed, MainSettings());
    card.queryResults = {5};
    session.Poll();  // nobody delivers yet
    EXPECT_EQ(small->Dropped(), 3u);
    small->Drain();
    runner->Drain();
    EXPECT_EQ(sink->blocks.size(), 5u);  // the roomy queue lost nothing
    ASSERT_EQ(slow->blocks.size(), 2u);
    card.queryResults = {1};
    session.Pump();
    ASSERT_EQ(slow->blocks.size(), 3u);
    const auto dropped = slow->Of(Event::Kind::kDropped);
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(dropped[0].value, 3);
}

// A window takes whole polls: a poll's count and its blocks come together,
// and what a window that stalls cannot hold is let go, counted and said.
TEST(Mailbox, ATickTakesWholePollsAndAStalledWindowsDropsAreCounted) {
    auto event = [](Event::Kind kind, std::int64_t value = 0) {
        Event e;
        e.kind = kind;
        e.value = value;
        return e;
    };
    const acq::BlockPtr block = std::make_shared<acq::Block>();
    acq::Mailbox box(3);
    box.OnBlock(block);  // not listening: let go, not counted
    box.Listen(true);
    box.OnEvent(event(Event::Kind::kPolled, 4));
    box.OnBlock(block);
    box.OnBlock(block);
    EXPECT_TRUE(box.Take().empty());  // the poll is not whole yet
    box.OnBlock(block);
    box.OnBlock(block);  // a fourth: beyond what the box holds
    box.OnEvent(event(Event::Kind::kPollEnd));
    const auto items = box.Take();
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(std::get<Event>(items[0]).kind, Event::Kind::kPolled);
    for (int i = 1; i <= 3; ++i) EXPECT_TRUE(std::holds_alternative<acq::BlockPtr>(items[static_cast<std::size_t>(i)]));
    EXPECT_EQ(std::get<Event>(items[4]).kind, Event::Kind::kDropped);
    EXPECT_EQ(std::get<Event>(items[4]).value, 1);
    EXPECT_EQ(std::get<Event>(items[5]).kind, Event::Kind::kPollEnd);
    EXPECT_EQ(box.Dropped(), 1u);
    // Taken, there is room again; what lies outside a poll comes at once.
    box.OnBlock(block);
    box.OnEvent(event(Event::Kind::kStopped));
    EXPECT_EQ(box.Take().size(), 2u);
}

TEST_F(SessionFixture, StopCallsStopIntrOnceAndNoPollFollows) {
    SimFeed feed("2008-05-12T17:38:40.300000000");
    StartSim(feed, MainSettings());
    card.calls.clear();
    EXPECT_TRUE(session.Stop().ok());
    Poll(1);
    EXPECT_EQ(card.calls, std::vector<std::string>{"StopIntr()"});
    EXPECT_FALSE(session.Running());
    card.missing = "QueryBuf";
    ASSERT_TRUE(session.Start(MainSettings()).ok());
    Poll(1);
    EXPECT_FALSE(session.Running());
    ASSERT_EQ(sink->Of(Event::Kind::kCardError).size(), 1u);
    EXPECT_NE(app::Text(sink->Of(Event::Kind::kCardError)[0].status).find("QueryBuf"), std::string::npos);
}

TEST(SessionThread, EveryCardCallIsMadeOnTheSessionsThread) {
    struct ThreadCard final : ScriptedCard {
        std::atomic<int> foreign{0};
        std::thread::id owner;
        std::int32_t QueryBuf() override { Check(); return 1; }
        std::int32_t ADResult(std::int16_t* w) override { Check(); w[1] = 7; return 1; }
        std::int16_t Zqd_DI(std::int16_t, std::int16_t* w) override { Check(); w[0] = 1; w[1] = 2; return 1; }
        std::int32_t Initial(std::int32_t, std::int32_t, std::int32_t, std::int32_t) override { Check(); return 1; }
        std::int32_t StartIntr(std::int16_t, std::int32_t, std::int16_t, std::int16_t, std::int32_t, std::int32_t, std::int16_t) override { Check(); return 1; }
        std::int32_t StopIntr() override { Check(); return 1; }
        void Check() {
            if (owner == std::thread::id()) owner = std::this_thread::get_id();
            if (owner != std::this_thread::get_id()) ++foreign;
        }
    } card;
    auto col = std::make_shared<Collector>();
    {
        acq::Session s(card, {true, std::chrono::milliseconds(1)});
        auto runner = s.AddSink(col, 1000);
        EXPECT_TRUE(s.Initial().ok());
        ASSERT_TRUE(s.Start({10, 10, 0, 2, 1000, 0, 1}).ok());
        for (int i = 0; i < 50; ++i) {
            std::array<std::int16_t, 2> di{};
            EXPECT_TRUE(s.DigitalIn(di).ok());
            EXPECT_EQ(di[1], 2);
        }
        for (int i = 0; i < 5000 && col->Blocks() < 20; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        s.Stop();
        ASSERT_TRUE(s.Start({10, 10, 0, 2, 1000, 0, 1}).ok());  // restart, then destroyed running
    }
    EXPECT_EQ(card.foreign, 0);
    EXPECT_GE(col->blocks.size(), 20u);
    EXPECT_NE(card.owner, std::this_thread::get_id());
    EXPECT_EQ(card.calls.empty(), true);  // the overrides above log nothing
}

// Settings of the main window with a record in `dir`, a threaded session
// whose scripted card delivers the simulated card's buffers.
TEST(RecordSink, StoppingDuringTheSaveStillWritesTheRecordWhole) {
    test::TempDir dir;
    const auto expected = test::SimRecord("2008-05-12T17:38:40.300000000", 20);
    ScriptedCard card;
    SimFeed feed("2008-05-12T17:38:40.300000000");
    feed.Start(MainSettings());
    card.fill = [&feed](int k, std::int16_t* w) { feed.card.FillSamples(k, w + 1); };
    card.queryResults = {22};
    {
        DllDef dll;
        acq::Session session(card, {true, std::chrono::milliseconds(1)});
        FrmMain form(dll, session, dir.path());
        form.Form_Load();
        form.CmdStart_Click();
        ASSERT_TRUE(form.TimerAD.Enabled);
        for (int i = 0; i < 5000 && form.Recording(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            form.TimerAD_Timer();
        }
        ASSERT_FALSE(form.Recording());
        EXPECT_EQ(form.TxtResult.Text, "存盘...");
        form.CmdExit_Click();  // leave while the record is being written
    }
    const std::string bytes = test::ReadFile(dir / "T1.DAT");
    ASSERT_EQ(bytes.size(), 92160384u);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::uint32_t v = 0;
        for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<unsigned char>(bytes[(2 + i) * 128 + static_cast<std::size_t>(b)]);
        wrong += static_cast<std::int32_t>(v) != expected[i];
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(RecordSink, ARecordAcrossMidnightIsDatedAndQueriedRight) {
    test::TempDir dir;
    ScriptedCard card;
    SimFeed feed("2008-05-12T23:59:50.300000000");
    feed.Start(MainSettings());
    card.fill = [&feed](int k, std::int16_t* w) { feed.card.FillSamples(k, w + 1); };
    DllDef dll;
    acq::Session session(card, {false, std::chrono::milliseconds(1000)});
    auto col = std::make_shared<Collector>();
    session.AddSink(col, 64);
    FrmMain form(dll, session, dir.path());
    form.Form_Load();
    form.CmdStart_Click();
    card.queryResults = {20};
    form.TimerAD_Timer();
    ASSERT_EQ(form.TxtResult.Text, "保存完毕！");
    ASSERT_EQ(col->blocks.size(), 20u);
    for (std::size_t k = 0; k < 20; ++k)
        EXPECT_EQ(col->blocks[k]->time_ns, Ns("2008-05-12T23:59:50.300000000") + static_cast<std::int64_t>(k) * utc::kNsPerSecond);
    EXPECT_EQ(utc::Iso(col->blocks[10]->time_ns), "2008-05-13T00:00:00.300000000Z");

    form.CmdOpen_Click();
    EXPECT_EQ(form.BlockTime[9], (gps::GpsTime{2008, 5, 12, 23, 59, 59, 300000000}));
    EXPECT_EQ(form.BlockTime[10], (gps::GpsTime{2008, 5, 13, 0, 0, 0, 300000000}));
    form.TxtFormT[0].Text = "23";
    form.TxtFormT[1].Text = "59";
    form.TxtFormT[2].Text = "59";
    form.TxtToT[0].Text = "0";
    form.TxtToT[1].Text = "0";
    form.TxtToT[2].Text = "1";
    form.TxtDispChnNo.Text = "0";
    form.CmdFind_Click();
    ASSERT_TRUE(form.LastQuery.ok());
    EXPECT_EQ(form.DispPoints, 3 * 2000);
    EXPECT_EQ(form.StartNS, 0);  // 0.3 s is 600 whole scans
    // Channel 0 carries the 1PPS pulse at the whole second: the series starts on it.
    EXPECT_EQ(form.DispData[0], sim::kPulseCode);
    EXPECT_EQ(form.DispData[2000], sim::kPulseCode);
    EXPECT_NE(form.DispData[500], sim::kPulseCode);  // 200 ms on, the pulse is down
}

}  // namespace
}  // namespace zqd
