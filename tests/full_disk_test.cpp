// Live data never wait for the disk: a disk that fills while a SeedLink
// client is connected costs the archive records, counted and said, and the
// client none. And a clean stop serves every record to every client before
// it closes.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <thread>

#include "app/archive_texts.h"
#include "archive/archive_run.h"
#include "card/sim/sim_card.h"
#include "config/station_config.h"
#include "scripted_card.h"
#include "seedlink_support.h"
#include "stream/live_service.h"
#include "records/records_config.h"
#include "test_support.h"

namespace zqd::stream {
namespace {

using namespace test_seedlink;

TEST(LiveDataBeforeTheDisk, AFullDiskLosesRecordsOnTheDiskAndNoneOnTheWire) {
    test::SmallDisk disk("6m");
    if (!disk.mounted) GTEST_SKIP() << "needs root to mount a small tmpfs";
    // The ring takes its room when it is made: 4 MB of the disk, the rest the archive's.
    RecordRing ring;
    ASSERT_TRUE(ring.Open(disk / "live.ring", 4u << 20).ok());
    Server server(ring);
    Client client(server.Port());
    ASSERT_TRUE(client.Connected());
    client.Line("STATION ZQD01 XX");
    client.Line("DATA");
    client.Line("END");
    ASSERT_EQ(client.Until("OK\r\n"), "OK\r\n");
    ASSERT_EQ(client.Until("OK\r\n"), "OK\r\n");

    sim::SimSettings s;
    s.start_from_clock = false;
    s.start_ns = 1210613920300000000;
    sim::SimCard sim(s, [] { return 0; });
    sim.Initial(320, 5, 0, 0);
    sim.StartIntr(10, 2000, 0, 18, 2000, 0, 1);
    test::ScriptedCard card;
    card.fill = [&](int k, std::int16_t* w) { sim.FillSamples(k, w + 1); };
    acq::Session session(card, {false, std::chrono::milliseconds(1000)});
    config::StationConfig c = config::DefaultConfig();
    c.archive.retention.min_free_bytes = 0;
    c.archive.memory_limit_bytes = 256u << 10;
    std::vector<std::string> said;
    archive::Reports reports{[&](const records::StationNote& n) { said.push_back(app::NoteText(n)); },
                             [&](const archive::DiskNote& n) { said.push_back(app::NoteText(n)); }};
    auto station = std::make_unique<archive::StationArchive>(c.Run(), disk / "archive", std::move(reports), false,
                                                             std::make_shared<RingFeed>(ring, nullptr));
    auto runner = session.AddSink(station->Records(), 64);
    session.SetTiming(c.timing);
    ASSERT_TRUE(session.Start(c.card).ok());
    for (int k = 0; k < 10; ++k) {  // 100 s of 17 channels: more than the 2 MB left
        card.queryResults.push_back(10);
        session.Pump();
    }
    session.Stop();
    session.Pump();
    const archive::ArchiveStatus st = station->Snapshot();

    // The disk refused, and what it lost is counted to the record and said.
    EXPECT_GT(st.disk.unwritten_records, 0u);
    EXPECT_LT(st.disk.records, st.station.records);
    EXPECT_EQ(st.disk.records + st.disk.unwritten_records, st.station.records);
    bool failing = false;
    for (const auto& line : said) failing = failing || line.find("写入失败") != std::string::npos;
    EXPECT_TRUE(failing);
    // The client has every record the station made, in order, none twice.
    const std::uint64_t made = st.station.records;
    ASSERT_EQ(*ring.Newest() - *ring.Oldest() + 1, made);
    std::set<std::uint64_t> got;
    std::uint64_t expected = *ring.Oldest();
    for (std::uint64_t i = 0; i < made; ++i) {
        const std::string packet = client.Take(520);
        ASSERT_EQ(packet.size(), 520u) << "after " << i << " of " << made;
        ASSERT_EQ(packet.substr(0, 2), "SL");
        const std::uint64_t seq = std::stoull(packet.substr(2, 6), nullptr, 16);
        EXPECT_EQ(seq, expected & 0xFFFFFF);
        expected = (expected + 1) & 0xFFFFFF;
        got.insert(seq);
    }
    EXPECT_EQ(got.size(), made);
}

// The simulated card at `rate` samples a second behind a scripted card that
// hands over the blocks it is told to, one Pump at a time.
struct SimulatedCard {
    sim::SimCard sim;
    test::ScriptedCard card;
    explicit SimulatedCard(int rate) : sim(Settings(), [] { return 0; }) {
        sim.Initial(320, 5, 0, 0);
        sim.StartIntr(10, rate, 0, 18, rate, 0, 1);
        card.fill = [this](int k, std::int16_t* w) { sim.FillSamples(k, w + 1); };
    }
    static sim::SimSettings Settings() {
        sim::SimSettings s;
        s.start_from_clock = false;
        s.start_ns = 1210613920300000000;
        return s;
    }
};

// Clients on plain sockets, read together by one thread until the server closes each.
class ManyClients {
public:
    ManyClients(std::uint16_t port, int n) : got_(static_cast<std::size_t>(n)) {
        for (int k = 0; k < n; ++k) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
            fds_.push_back(fd);
        }
    }
    ~ManyClients() {
        if (reader_.joinable()) reader_.join();
        for (int fd : fds_) ::close(fd);
    }
    void SendAll(const std::string& text) {
        for (int fd : fds_) (void)!::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    }
    // Reads every socket until each is closed, or `limit` has passed.
    void StartReading(std::chrono::seconds limit) {
        reader_ = std::thread([this, limit] {
            const auto until = std::chrono::steady_clock::now() + limit;
            std::vector<bool> open(fds_.size(), true);
            std::size_t left = fds_.size();
            std::vector<pollfd> polls;
            char b[65536];
            while (left > 0 && std::chrono::steady_clock::now() < until) {
                polls.clear();
                for (std::size_t i = 0; i < fds_.size(); ++i)
                    if (open[i]) polls.push_back({fds_[i], POLLIN, 0});
                if (::poll(polls.data(), polls.size(), 100) <= 0) continue;
                for (const auto& p : polls) {
                    if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
                    const std::size_t i = static_cast<std::size_t>(
                        std::find(fds_.begin(), fds_.end(), p.fd) - fds_.begin());
                    const auto n = ::recv(p.fd, b, sizeof b, 0);
                    if (n > 0) {
                        std::lock_guard lock(mutex_);
                        got_[i].append(b, static_cast<std::size_t>(n));
                    } else {
                        open[i] = false;
                        --left;
                    }
                }
            }
            closed_ = fds_.size() - left;
        });
    }
    // Until every client has `bytes` or `limit` has passed.
    bool WaitFor(std::size_t bytes, std::chrono::seconds limit) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            {
                std::lock_guard lock(mutex_);
                if (std::all_of(got_.begin(), got_.end(), [&](const std::string& g) { return g.size() >= bytes; }))
                    return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    // After the reading ended: what each client got, and how many the server closed.
    const std::vector<std::string>& Got() {
        if (reader_.joinable()) reader_.join();
        return got_;
    }
    std::size_t Closed() const { return closed_; }

private:
    std::vector<int> fds_;
    std::vector<std::string> got_;
    std::mutex mutex_;
    std::thread reader_;
    std::size_t closed_ = 0;
};

// The last records are made at the stop (each channel's part-filled record,
// the health channels'); every client still connected is sent them, and all
// it asked for before them, before the connection closes.
TEST(LiveStop, EveryClientConnectedAtACleanStopHasEveryRecordTheArchiveHas) {
    test::TempDir dir;
    std::mutex mutex;
    std::map<LiveNote::End, int> ended;
    LiveService live(
        [&](const LiveNote& note) {
            std::lock_guard lock(mutex);
            if (note.kind == LiveNote::Kind::kClientEnded) ++ended[note.end];
        },
        nullptr);
    LiveConfig lc;
    lc.listen = "127.0.0.1:0";
    lc.ring_mb = 16;
    lc.per_address = 100;
    config::StationConfig c = config::DefaultConfig();
    ASSERT_TRUE(live.Start(lc, c.records.station, 512, dir.path(), "test").ok());
    constexpr int kClients = 100;
    ManyClients clients(live.Snapshot().port, kClients);
    clients.StartReading(std::chrono::seconds(60));
    clients.SendAll("STATION " + c.records.station.station + " " + c.records.station.network + "\r\nDATA\r\nEND\r\n");
    ASSERT_TRUE(clients.WaitFor(8, std::chrono::seconds(20)));  // "OK\r\nOK\r\n": each is in transfer

    constexpr int kRate = 200;
    SimulatedCard simulated(kRate);
    test::ScriptedCard& card = simulated.card;
    acq::Session session(card, {false, std::chrono::milliseconds(1000)});
    c.card.ChnPoints = kRate;
    c.card.SampleFrq = kRate;
    archive::StationArchive station(c.Run(), dir / "archive", {}, false, live.Feed());
    auto runner = session.AddSink(station.Records(), 64);
    session.SetTiming(c.timing);
    ASSERT_TRUE(session.Start(c.card).ok());
    for (int k = 0; k < 3; ++k) {
        card.queryResults.push_back(10);
        session.Pump();
    }
    session.Stop();
    session.Pump();
    station.Finish();  // the last records, into the ring and onto the disk
    live.Stop();

    const archive::ArchiveStatus st = station.Snapshot();
    ASSERT_GT(st.disk.records, 200u);
    ASSERT_EQ(st.disk.records, st.station.records);
    const auto& got = clients.Got();
    EXPECT_EQ(clients.Closed(), static_cast<std::size_t>(kClients));
    const std::string head = "OK\r\nOK\r\n";
    int complete = 0;
    for (const auto& g : got) {
        ASSERT_EQ(g.substr(0, head.size()), head);
        const std::size_t packets = (g.size() - head.size()) / 520;
        EXPECT_EQ((g.size() - head.size()) % 520, 0u);
        bool in_order = true;
        for (std::size_t i = 0; i < packets; ++i)
            in_order = in_order && std::stoull(g.substr(head.size() + i * 520 + 2, 6), nullptr, 16) == (*live.Ring().Oldest() + i);
        EXPECT_TRUE(in_order);
        if (packets == st.disk.records && in_order) ++complete;
    }
    EXPECT_EQ(complete, kClients);
    std::lock_guard lock(mutex);
    EXPECT_EQ(ended[LiveNote::End::kServerStopped], kClients);
}

// The health channels, a sample a second, reach the ring (and so every live
// client) within a minute of their data, in the same records as the disk's.
TEST(LiveHealth, TheClockAndReceiverChannelsAreServedWithinAMinuteAsTheDiskHasThem) {
    test::TempDir dir;
    RecordRing ring;
    ASSERT_TRUE(ring.Open(dir / "live.ring", 8u << 20).ok());
    constexpr int kRate = 200;
    SimulatedCard simulated(kRate);
    test::ScriptedCard& card = simulated.card;
    acq::Session session(card, {false, std::chrono::milliseconds(1000)});
    config::StationConfig c = config::DefaultConfig();
    c.card.ChnPoints = kRate;
    c.card.SampleFrq = kRate;
    std::set<std::string> health;
    for (const char* code : {"LCE", "LCQ", "LCR"}) health.insert(code);
    for (const auto& code : records::GpsChannelCodes()) health.insert(code);
    archive::StationArchive station(c.Run(), dir / "archive", {}, false, std::make_shared<RingFeed>(ring, nullptr));
    auto runner = session.AddSink(station.Records(), 64);
    session.SetTiming(c.timing);
    ASSERT_TRUE(session.Start(c.card).ok());
    // The newest end of each health channel's records in the ring.
    std::map<std::string, std::int64_t> served;
    std::uint64_t next = 0;
    auto look = [&] {
        for (; ring.Newest() && next <= *ring.Newest(); ++next) {
            const auto r = ring.Read(next);
            ASSERT_TRUE(r);
            const std::string chan = r->stream.substr(r->stream.rfind('_') + 1);
            if (health.count(chan)) served[chan] = std::max(served[chan], r->end_ns);
        }
    };
    const std::int64_t start = SimulatedCard::Settings().start_ns;
    const std::int64_t t0 = start - start % utc::kNsPerSecond;
    std::int64_t worst_s = 0;
    constexpr int kSeconds = 300;
    for (int k = 1; k <= kSeconds; ++k) {
        card.queryResults.push_back(1);
        session.Pump();
        look();
        const std::int64_t now = t0 + k * utc::kNsPerSecond;  // the end of the data made so far
        if (k < 70) continue;  // the time's lock, then the first minute of health
        for (const auto& chan : health) {
            ASSERT_TRUE(served.count(chan)) << chan << " unserved after " << k << " s";
            worst_s = std::max(worst_s, (now - served[chan]) / utc::kNsPerSecond);
        }
    }
    EXPECT_LE(worst_s, 61);
    session.Stop();
    session.Pump();
    station.Finish();
    look();

    // The ring's records of each health channel are its day file's, byte for byte.
    std::map<std::string, std::string> on_wire, on_disk;
    for (std::uint64_t q = *ring.Oldest(); q <= *ring.Newest(); ++q) {
        const auto r = ring.Read(q);
        const std::string chan = r->stream.substr(r->stream.rfind('_') + 1);
        if (health.count(chan)) on_wire[chan].append(r->bytes.begin(), r->bytes.end());
    }
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir / "archive")) {
        const std::string name = e.path().filename().string();
        for (const auto& chan : health)
            if (e.is_regular_file() && name.find("." + chan + ".D.") != std::string::npos) on_disk[chan] = test::ReadFile(e.path());
    }
    ASSERT_EQ(on_disk.size(), health.size());
    for (const auto& chan : health) {
        EXPECT_EQ(on_wire[chan], on_disk[chan]) << chan;
        EXPECT_GE(on_disk[chan].size() / 512, static_cast<std::size_t>(kSeconds / 60 - 1)) << chan;
        EXPECT_LE(on_disk[chan].size() / 512, static_cast<std::size_t>(kSeconds / 60 + 1)) << chan;
    }
}

}  // namespace
}  // namespace zqd::stream
