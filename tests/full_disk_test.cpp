// Live data never wait for the disk: a disk that fills while a SeedLink
// client is connected costs the archive records, counted and said, and the
// client none.
#include <gtest/gtest.h>

#include <set>

#include "app/archive_texts.h"
#include "archive/archive_run.h"
#include "card/sim/sim_card.h"
#include "config/station_config.h"
#include "scripted_card.h"
#include "seedlink_support.h"
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

}  // namespace
}  // namespace zqd::stream
