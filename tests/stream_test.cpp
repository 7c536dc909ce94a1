// The ring of recent records live clients are served from: what it holds,
// that its sequence numbers only grow, across restarts and a damaged file.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "acquisition/session.h"
#include "app/messages.h"
#include "archive/archive_run.h"
#include "config/station_config.h"
#include "card/sim/sim_card.h"
#include "scripted_card.h"
#include "stream/ring_feed.h"
#include "stream/record_ring.h"
#include "test_support.h"

namespace zqd::stream {
namespace {

// A record whose bytes say which it is.
std::vector<char> RecordOf(std::uint64_t n) {
    std::vector<char> r(RecordRing::kRecordBytes);
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<char>((n * 31 + i) & 0xFF);
    return r;
}

constexpr std::uint64_t kSlotBytes = 64 + 512;

void Flip(const std::filesystem::path& file, std::uint64_t offset) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    char c = 0;
    f.read(&c, 1);
    c = static_cast<char>(c ^ 0x40);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(&c, 1);
}

TEST(RecordRing, HoldsTheNewestRecordsAndResumesAfterARestartWithoutReusingANumber) {
    test::TempDir dir;
    const auto file = dir / "ring.zqr";
    std::vector<std::uint64_t> seqs;
    {
        RecordRing ring;
        const auto opened = ring.Open(file, 64 * kSlotBytes);
        ASSERT_TRUE(opened.ok());
        EXPECT_TRUE(opened->created);
        EXPECT_EQ(ring.Slots(), 64u);
        for (std::uint64_t n = 0; n < 100; ++n) {
            const auto r = RecordOf(n);
            const auto seq = ring.Append("XX_ZQD01_00_GY0", static_cast<std::int64_t>(n) * 1000, static_cast<std::int64_t>(n) * 1000 + 999,
                                         r.data(), r.size());
            ASSERT_TRUE(seq.ok());
            seqs.push_back(*seq);
        }
        EXPECT_EQ(seqs.front(), 0u);
        EXPECT_EQ(seqs.back(), 99u);
        EXPECT_EQ(ring.Oldest(), 36u);  // the last 64
        EXPECT_EQ(ring.Newest(), 99u);
        EXPECT_EQ(ring.AtOrAfter(3), 36u);  // older than the ring: its oldest
        EXPECT_EQ(ring.Read(35), nullptr);
        const auto r = ring.Read(50);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->bytes, RecordOf(50));
        EXPECT_EQ(r->stream, "XX_ZQD01_00_GY0");
        EXPECT_EQ(r->start_ns, 50000);
        EXPECT_EQ(r->end_ns, 50999);
    }
    // As after kill -9: the records are there, the next numbers come after
    // everything the run before may have handed out.
    RecordRing ring;
    const auto opened = ring.Open(file, 64 * kSlotBytes);
    ASSERT_TRUE(opened.ok());
    EXPECT_FALSE(opened->created);
    EXPECT_FALSE(opened->rebuilt);
    EXPECT_EQ(opened->kept, 64u);
    EXPECT_GT(opened->next, 99u);
    EXPECT_EQ(ring.Oldest(), 36u);
    EXPECT_EQ(ring.Newest(), 99u);
    ASSERT_NE(ring.Read(99), nullptr);
    EXPECT_EQ(ring.Read(99)->bytes, RecordOf(99));
    EXPECT_EQ(ring.AtOrAfter(100), std::nullopt);  // nothing newer yet
    const auto r = RecordOf(100);
    const auto seq = ring.Append("XX_ZQD01_00_GY0", 0, 1, r.data(), r.size());
    ASSERT_TRUE(seq.ok());
    EXPECT_EQ(*seq, opened->next);
    // A client that had 99 asks for 100 on: it gets the first record after
    // the restart, nothing missed and nothing twice.
    EXPECT_EQ(ring.AtOrAfter(100), *seq);
    EXPECT_EQ(ring.Read(*seq)->bytes, RecordOf(100));
}

// The header's reservation alone keeps numbers from being handed out
// twice: a restart whose records never reached the disk (only the header
// did) still begins after every number the run before may have given, at
// the reservation's boundary and on either side of it.
TEST(RecordRing, TheReservationAloneKeepsEveryNumberGivenFromBeingGivenAgain) {
    constexpr std::uint64_t k = RecordRing::kReserve;
    for (const std::uint64_t n : {std::uint64_t{1}, k - 1, k, k + 1, 2 * k, 2 * k + 1}) {
        test::TempDir dir;
        const auto file = dir / "ring.zqr";
        {
            RecordRing ring;
            ASSERT_TRUE(ring.Open(file, 64 * kSlotBytes).ok());
            const auto r = RecordOf(0);
            for (std::uint64_t i = 0; i < n; ++i) ASSERT_TRUE(ring.Append("XX_ZQD01_00_GY0", 0, 1, r.data(), r.size()).ok());
        }
        // The slots lost, the header kept.
        std::string bytes = test::ReadFile(file);
        std::fill(bytes.begin() + 4096, bytes.end(), '\0');
        test::WriteFile(file, bytes);
        RecordRing ring;
        const auto opened = ring.Open(file, 64 * kSlotBytes);
        ASSERT_TRUE(opened.ok());
        EXPECT_EQ(opened->kept, 0u) << n;
        EXPECT_GE(opened->next, n) << "after " << n << " records";
        const auto r = RecordOf(1);
        const auto seq = ring.Append("XX_ZQD01_00_GY0", 0, 1, r.data(), r.size());
        ASSERT_TRUE(seq.ok());
        EXPECT_GE(*seq, n) << "after " << n << " records";
    }
}

// Every restart skips the numbers its run had reserved: the ring serves
// the records of every run it still holds, over each skip, and a number
// in any skip stands for the first record after it.
TEST(RecordRing, TheRecordsOfEveryEarlierRunAreServedAcrossEachRestartsSkip) {
    test::TempDir dir;
    const auto file = dir / "ring.zqr";
    constexpr std::uint64_t kSlots = 4 * RecordRing::kReserve;
    std::vector<std::uint64_t> given, firsts;
    for (int run = 0; run < 3; ++run) {
        RecordRing ring;
        const auto opened = ring.Open(file, kSlots * kSlotBytes);
        ASSERT_TRUE(opened.ok());
        EXPECT_EQ(opened->kept, given.size()) << "run " << run;
        for (int k = 0; k < 5; ++k) {
            const auto r = RecordOf(given.size());
            const auto seq = ring.Append("XX_ZQD01_00_GY0", 0, 1, r.data(), r.size());
            ASSERT_TRUE(seq.ok());
            if (k == 0) firsts.push_back(*seq);
            given.push_back(*seq);
        }
    }
    RecordRing ring;
    ASSERT_TRUE(ring.Open(file, kSlots * kSlotBytes).ok());
    ASSERT_EQ(ring.Oldest(), given.front());
    std::vector<std::uint64_t> served;
    for (auto at = ring.AtOrAfter(0); at; at = ring.AtOrAfter(*at + 1)) {
        const auto r = ring.Read(*at);
        ASSERT_TRUE(r) << *at;
        EXPECT_EQ(r->bytes, RecordOf(served.size())) << *at;
        served.push_back(*at);
    }
    EXPECT_EQ(served, given);
    // The number after each run's last: skipped, and the next held is the next run's first.
    for (std::size_t run = 0; run < 3; ++run) {
        const std::uint64_t after_last = given[run * 5 + 4] + 1;
        EXPECT_TRUE(ring.Skipped(after_last)) << "run " << run;
        EXPECT_FALSE(ring.Skipped(given[run * 5 + 4])) << "run " << run;
        if (run < 2) {
            EXPECT_EQ(ring.AtOrAfter(after_last), firsts[run + 1]);
        }
    }
}

TEST(RecordRing, ADamagedRecordIsNotServedAndADamagedOrOtherRingIsMadeNewWithHigherNumbers) {
    test::TempDir dir;
    const auto file = dir / "ring.zqr";
    std::uint64_t last = 0;
    {
        RecordRing ring;
        ASSERT_TRUE(ring.Open(file, 32 * kSlotBytes).ok());
        for (std::uint64_t n = 0; n < 20; ++n) {
            const auto r = RecordOf(n);
            last = *ring.Append("XX_ZQD01_00_GY0", 0, 1, r.data(), r.size());
        }
        Flip(file, 4096 + 7 * kSlotBytes + 64 + 100);  // a byte of record 7
        // Served as it was appended while recent (from memory)...
        EXPECT_EQ(ring.Read(7)->bytes, RecordOf(7));
    }
    {
        // ...but read back from the file after a restart, the damage shows.
        RecordRing ring;
        ASSERT_TRUE(ring.Open(file, 32 * kSlotBytes).ok());
        EXPECT_EQ(ring.Read(7), nullptr);
        EXPECT_NE(ring.Read(8), nullptr);
    }
    Flip(file, 30);  // the header
    {
        RecordRing ring;
        const auto opened = ring.Open(file, 32 * kSlotBytes);
        ASSERT_TRUE(opened.ok());
        EXPECT_TRUE(opened->rebuilt);
        EXPECT_EQ(opened->kept, 0u);
        EXPECT_GT(opened->next, last);  // the records seen say which numbers went out
        EXPECT_EQ(ring.Oldest(), std::nullopt);
        const auto r = RecordOf(1);
        EXPECT_GT(*ring.Append("XX_ZQD01_00_GY0", 0, 1, r.data(), r.size()), last);
    }
    // Not a ring at all: made new, said.
    test::WriteFile(dir / "other.zqr", "not a ring");
    RecordRing other;
    const auto opened = other.Open(dir / "other.zqr", 32 * kSlotBytes);
    ASSERT_TRUE(opened.ok());
    EXPECT_TRUE(opened->rebuilt);
    // A folder where the ring should be: refused in our words.
    std::filesystem::create_directories(dir / "folder.zqr");
    RecordRing none;
    const auto refused = none.Open(dir / "folder.zqr", 32 * kSlotBytes);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(app::Text(refused.status()).find("folder.zqr"), std::string::npos) << app::Text(refused.status());
}

// Packed once: the ring holds, record for record and in the same order, the
// bytes the archive wrote, each under its stream's wire name and times.
TEST(RingFeed, TheRingHoldsExactlyTheArchivedRecordsInTheOrderWritten) {
    test::TempDir dir;
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
    c.records.channels = {{0, "GYP"}, {2, "GY0"}};
    RecordRing ring;
    ASSERT_TRUE(ring.Open(dir / "ring.zqr", 8u << 20).ok());
    archive::StationArchive station(c.Run(), dir / "arc", {}, false, std::make_shared<RingFeed>(ring, nullptr));
    auto runner = session.AddSink(station.Records(), 64);
    session.SetTiming(c.timing);
    ASSERT_TRUE(session.Start(acq::AcqConfig{}).ok());
    card.queryResults.push_back(10);
    card.queryResults.push_back(10);
    session.Pump();
    session.Pump();
    session.Stop();
    session.Pump();
    std::map<std::string, std::string> wired;
    std::int64_t last_start = 0;
    for (std::uint64_t seq = *ring.Oldest(); seq <= *ring.Newest(); ++seq) {
        const auto r = ring.Read(seq);
        ASSERT_NE(r, nullptr) << seq;
        wired[r->stream].append(r->bytes.data(), r->bytes.size());
        EXPECT_LT(r->start_ns, r->end_ns);
        if (r->stream == "XX_ZQD01_00_GY0") {
            EXPECT_GT(r->start_ns, last_start);
            last_start = r->start_ns;
        }
    }
    const auto day = dir / "arc" / "2008" / "XX" / "ZQD01";
    for (const char* code : {"GYP", "GY0", "LCE", "LCQ", "LCR"}) {
        const auto file = day / (std::string(code) + ".D") / ("XX.ZQD01.00." + std::string(code) + ".D.2008.133");
        EXPECT_EQ(wired["XX_ZQD01_00_" + std::string(code)], test::ReadFile(file)) << code;
    }
    EXPECT_FALSE(wired["XX_ZQD01_00_GY0"].empty());
}

}  // namespace
}  // namespace zqd::stream
