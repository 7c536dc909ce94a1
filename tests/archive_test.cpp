// The archive: configuration, miniSEED packing and the SDS sink, every file
// read back with libmseed (and, end to end, with mseed2sac).
#include <gtest/gtest.h>
#include <libmseed.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include "acquisition/session.h"
#include "archive/archive_run.h"
#include "config/station_config.h"
#include "app/frm_archive.h"
#include "app/archive_texts.h"
#include "app/messages.h"
#include "app/frm_main.h"
#include "formats/mseed/mseed_packer.h"
#include "card/sim/sim_card.h"
#include "common/numtext.h"
#include "common/utc.h"
#include "platform/files.h"
#include "scripted_card.h"
#include "test_support.h"

namespace zqd::archive {
namespace {

using test::TempDir;
using mseed::ChannelPacker;
using mseed::Timing;
using config::DefaultConfig;
using config::LoadConfig;
using config::SaveConfig;
using config::StationConfig;
using config::Validate;
using records::BandCode;
using records::GpsChannelCodes;

std::int64_t Ns(const std::string& iso) {
    std::int64_t ns = 0;
    EXPECT_TRUE(sim::ParseStartTime(iso, ns)) << iso;
    return ns;
}

struct ReadBack {
    struct Rec {
        std::int64_t start_ns, end_ns;
        int samples, quality, io_flags;
    };
    std::vector<Rec> records;
    std::vector<std::vector<std::int32_t>> series;  // continuous runs of samples
    std::vector<std::int64_t> series_start;
    bool all_parsed = true;
};

// Every record of a file, in order, read with libmseed.
ReadBack Read(const std::filesystem::path& file) {
    ReadBack out;
    MSFileParam* fp = nullptr;
    MSRecord* msr = nullptr;
    int r;
    std::int64_t next = 0;
    while ((r = ms_readmsr_r(&fp, &msr, file.c_str(), 0, nullptr, nullptr, 1, 1, 0)) == MS_NOERROR) {
        ReadBack::Rec rec{static_cast<std::int64_t>(msr->starttime) * 1000, static_cast<std::int64_t>(msr_endtime(msr)) * 1000,
                          static_cast<int>(msr->numsamples), msr->Blkt1001 ? msr->Blkt1001->timing_qual : -1,
                          msr->fsdh ? msr->fsdh->io_flags : -1};
        const auto* s = static_cast<const std::int32_t*>(msr->datasamples);
        const double period_ns = 1e9 / msr->samprate;
        if (out.series.empty() || std::llabs(rec.start_ns - next) > static_cast<std::int64_t>(period_ns / 2)) {
            out.series.emplace_back();
            out.series_start.push_back(rec.start_ns);
        }
        out.series.back().insert(out.series.back().end(), s, s + msr->numsamples);
        next = rec.start_ns + static_cast<std::int64_t>(std::llround(static_cast<double>(msr->numsamples) * period_ns));
        out.records.push_back(rec);
    }
    if (r != MS_ENDOFFILE) out.all_parsed = false;
    ms_readmsr_r(&fp, &msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    return out;
}

TEST(StationConfig, DefaultsAreValidUniqueSeedCodes) {
    const StationConfig c = DefaultConfig();
    EXPECT_TRUE(Validate(c, "defaults").ok());
    EXPECT_EQ(c.records.channels.size(), 17u);
    EXPECT_EQ(c.records.channels.count(1), 0u);  // the GPS slot
    EXPECT_EQ(c.records.channels.at(0), "GYP");
    EXPECT_EQ(c.records.channels.at(2), "GY0");
    EXPECT_EQ(c.records.channels.at(17), "GYF");
    EXPECT_EQ(BandCode(2000), 'G');
    EXPECT_EQ(BandCode(500), 'D');
    EXPECT_EQ(BandCode(100), 'E');
    EXPECT_EQ(BandCode(40), 'S');
}

TEST(StationConfig, BadFilesAreRefusedWithTheFileTheLineAndTheProblem) {
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[station]\nnetwork = \"XX\"\ncolour = 3\n", "第 3 行"},
        {"[station]\nstation = \"TOOLONG\"\n", "第 2 行"},
        {"[station]\nnetwork = \"x!\"\n", "台网代码"},
        {"[channels]\n2 = \"ABC\"\n3 = \"ABC\"\n", "第 3 行"},
        {"[channels]\n3 = \"GY0\"\n", "默认代码"},
        {"[channels]\n40 = \"ABC\"\n", "超出板卡"},
        {"[channels]\n2 = \"AB\"\n", "3 个大写字母"},
        {"[archive]\nrecord_length = 1000\n", "512 或 4096"},
        {"[archive]\nencoding = \"gzip\"\n", "encoding"},
        {"[station\nnetwork = 1\n", "第 1 行"},
        {"[extra]\n", "未知的设置"},
    };
    for (const auto& [text, why] : cases) {
        test::WriteFile(dir / "c.toml", text);
        StationConfig c = DefaultConfig();
        const Status s = LoadConfig(dir / "c.toml", c);
        EXPECT_FALSE(s.ok()) << text;
        const std::string said = app::Text(s);
        EXPECT_NE(said.find((dir / "c.toml").string()), std::string::npos) << said;
        EXPECT_NE(said.find(why), std::string::npos) << text << " -> " << said;
    }
    test::WriteFile(dir / "c.toml",
                    "[station]\nnetwork = \"AB\"\nstation = \"S1\"\nlocation = \"\"\n[channels]\n0 = false\n2 = \"HHZ\"\n");
    StationConfig c = DefaultConfig();
    ASSERT_TRUE(LoadConfig(dir / "c.toml", c).ok());
    EXPECT_EQ(c.records.station.network, "AB");
    EXPECT_EQ(c.records.channels.count(0), 0u);
    EXPECT_EQ(c.records.channels.at(2), "HHZ");
    EXPECT_EQ(c.records.channels.size(), 16u);
}

// Every refusal names the file and the line, in the program's words, and
// quotes no more than a short excerpt of what it was given.
TEST(StationConfig, RefusalsNameTheLineInOurWordsWithAShortExcerpt) {
    TempDir dir;
    const std::string huge(2 << 20, 'A');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"[station]\nlocation = \"A\"\n", "第 2 行：位置代码"},
        {"[archive]\nflush_interval = 5\nrecord_length = 1000\n", "第 3 行：记录长度 1000"},
        {"[station]\nnetwork = \"" + huge + "\"\n", "第 2 行：台网代码"},
        {"[station]\n" + huge + " = 1\n", "第 2 行"},
        {"[station\nnetwork = 1\n", "第 1 行：不是有效的 TOML"},
        {"[station]\nnetwork = \"XX\nstation = \"A\"\n", "第 2 行：不是有效的 TOML"},
        {"[archive]\nrecord_length = 99999999999999999999999\n", "第 2 行：不是有效的 TOML"},
    };
    for (const auto& [text, why] : cases) {
        test::WriteFile(dir / "c.toml", text);
        StationConfig c = DefaultConfig();
        const Status s = LoadConfig(dir / "c.toml", c);
        ASSERT_FALSE(s.ok()) << text.substr(0, 60);
        const std::string said = app::Text(s);
        EXPECT_EQ(said.rfind((dir / "c.toml").string(), 0), 0u) << said.substr(0, 300);
        EXPECT_NE(said.find(why), std::string::npos) << said.substr(0, 300);
        EXPECT_LT(said.size(), 300u) << said.substr(0, 300);
        for (const char* english : {"expected", "Error", "error", "while parsing"})
            EXPECT_EQ(said.find(english), std::string::npos) << said;
    }
    // The command line's codes are checked as the file's are.
    StationConfig c = DefaultConfig();
    c.records.station.location = "A";
    EXPECT_EQ(Validate(c, "命令行").why, Status::Why::kBadLocation);
    c.records.station.location = "";
    EXPECT_TRUE(Validate(c, "命令行").ok());
}

// The packer asks the continuity rule: a block 0.4 sample late continues the
// series, one 0.6 sample late starts a new one.
TEST(MseedPacker, ASeriesContinuesWithinHalfASampleAndBreaksBeyond) {
    TempDir dir;
    const auto file = dir / "out.mseed";
    {
        std::ofstream out(file, std::ios::binary);
        ChannelPacker p({"XX", "TEST", "00", "GY0"}, 2000, {}, [&](const char* r, int n, std::int64_t) { out.write(r, n); });
        std::vector<std::int32_t> s(2000, 7);
        const std::int64_t t = Ns("2008-05-12T17:38:40.300000000");
        p.Add(t, s.data(), s.size(), {100, true});
        p.Add(t + utc::kNsPerSecond + 200000, s.data(), s.size(), {100, true});      // 0.4 sample late
        p.Add(t + 2 * utc::kNsPerSecond + 500000, s.data(), s.size(), {100, true});  // 0.6 sample later still
    }
    const ReadBack rb = Read(file);
    ASSERT_EQ(rb.series.size(), 2u);
    EXPECT_EQ(rb.series[0].size(), 4000u);
    EXPECT_EQ(rb.series_start[1], Ns("2008-05-12T17:38:42.300500000"));
}

TEST(MseedPacker, SamplesComeBackAndNoRecordSpansMidnight) {
    TempDir dir;
    const auto file = dir / "out.mseed";
    std::ofstream out(file, std::ios::binary);
    std::vector<std::int64_t> starts;
    {
        ChannelPacker p({"XX", "TEST", "00", "GY0"}, 2000, {}, [&](const char* r, int n, std::int64_t t) {
            out.write(r, n);
            starts.push_back(t);
        });
        // 10 s from 23:59:55.3, in one-second pieces: midnight falls inside.
        std::vector<std::int32_t> s(2000);
        for (int k = 0; k < 10; ++k) {
            for (int j = 0; j < 2000; ++j) s[static_cast<std::size_t>(j)] = (k * 2000 + j) % 65536 - 1000;
            p.Add(Ns("2008-05-12T23:59:55.300000000") + k * utc::kNsPerSecond, s.data(), s.size(), {100, true});
        }
    }
    out.close();
    const ReadBack rb = Read(file);
    ASSERT_TRUE(rb.all_parsed);
    ASSERT_EQ(rb.series.size(), 1u);
    ASSERT_EQ(rb.series[0].size(), 20000u);
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(rb.series[0][static_cast<std::size_t>(i)], i % 65536 - 1000) << i;
    const std::int64_t midnight = Ns("2008-05-13T00:00:00");
    bool split = false;
    for (const auto& r : rb.records) {
        EXPECT_FALSE(r.start_ns < midnight && r.end_ns >= midnight) << utc::Iso(r.start_ns);
        split = split || r.start_ns == midnight;
        EXPECT_EQ(r.quality, 100);
        EXPECT_EQ(r.io_flags & 0x20, 0x20);
    }
    EXPECT_TRUE(split);
    EXPECT_EQ(rb.series_start[0], Ns("2008-05-12T23:59:55.300000000"));
}

using test::SmallDisk;

// The simulated card's buffers through a session without a thread into the archive sink.
struct ArchiveRun {
    TempDir dir;
    test::ScriptedCard card;
    sim::SimCard sim;
    acq::Session session{card, {false, std::chrono::milliseconds(1000)}};
    std::vector<std::string> lines;
    std::unique_ptr<StationArchive> archive;
    std::shared_ptr<acq::SinkRunner> runner;

    std::filesystem::path root;

    explicit ArchiveRun(const std::string& start, sim::SimSettings s = {}, std::filesystem::path where = {})
        : sim(Settings(start, s), [] { return 0; }), root(where.empty() ? dir.path() : where) {
        sim.Initial(320, 5, 0, 0);
        sim.StartIntr(10, 2000, 0, 18, 2000, 0, 1);
        card.fill = [this](int k, std::int16_t* w) { sim.FillSamples(k, w + 1); };
        Attach();
    }
    static sim::SimSettings Settings(const std::string& start, sim::SimSettings s) {
        s.start_from_clock = false;
        s.start_ns = Ns(start);
        return s;
    }
    // The archive goes before `lines`, which its last words may still reach.
    ~ArchiveRun() {
        if (runner) session.RemoveSink(runner);
        runner.reset();
        archive.reset();
    }
    void Attach() {
        Reports reports{[this](const records::StationNote& n) { lines.push_back(app::NoteText(n)); },
                        [this](const DiskNote& n) { lines.push_back(app::NoteText(n)); }};
        archive = std::make_unique<StationArchive>(DefaultConfig().Run(), root, std::move(reports), false);
        runner = session.AddSink(archive->Records(), 64);
        session.SetTiming(DefaultConfig().timing);  // as a run of the archive's sets it
    }
    ArchiveStatus Status() const { return archive->Snapshot(); }
    void Run(int blocks, bool stop = true) {
        if (!session.Running()) {
            ASSERT_TRUE(session.Start(acq::AcqConfig{}).ok());
        }
        card.queryResults.push_back(blocks);
        session.Pump();
        if (!stop) return;
        session.Stop();
        session.Pump();
    }
    std::filesystem::path File(const std::string& chan, const std::string& day = "2008.133") const {
        return root / "2008" / "XX" / "ZQD01" / (chan + ".D") / ("XX.ZQD01.00." + chan + ".D." + day);
    }
};

TEST(ArchiveSink, ChannelsEqualTheCardsSamplesAtTheBlocksGpsTimes) {
    ArchiveRun run("2008-05-12T17:38:40.300000000");
    run.Run(5);
    const auto record = test::SimRecord("2008-05-12T17:38:40.300000000", 5);
    for (const auto& [offset, code] : DefaultConfig().records.channels) {
        const ReadBack rb = Read(run.File(code));
        ASSERT_TRUE(rb.all_parsed) << code;
        ASSERT_EQ(rb.series.size(), 1u) << code;
        ASSERT_EQ(rb.series[0].size(), 10000u) << code;
        EXPECT_EQ(rb.series_start[0], Ns("2008-05-12T17:38:40.300000000")) << code;
        std::size_t wrong = 0;
        for (std::size_t j = 0; j < 10000; ++j) wrong += rb.series[0][j] != record[j * 18 + static_cast<std::size_t>(offset)];
        EXPECT_EQ(wrong, 0u) << code;
        for (const auto& r : rb.records) EXPECT_EQ(r.quality, 100);
    }
    int channels = 0;  // one for each channel but the GPS slot, the clock's three and the receiver's seven
    for (const auto& e : std::filesystem::directory_iterator(run.dir / "2008" / "XX" / "ZQD01")) channels += e.is_directory();
    EXPECT_EQ(channels, 27);
}

// A day file is a contract with every miniSEED reader: the first records
// of the data, the pulse, the clock's and the receiver's channels as the
// golden copies hold them (read by libmseed's msi and mseed2sac).
TEST(ArchiveSink, TheFirstRecordsOfEachKindOfChannelAreTheGoldenOnes) {
    ArchiveRun run("2008-05-12T17:38:40.300000000");
    run.Run(12);
    for (const auto& [chan, records] : std::vector<std::pair<std::string, std::size_t>>{{"GY0", 2}, {"GYP", 1}, {"LCE", 1}, {"LCQ", 1}, {"GLA", 1}}) {
        const std::string day = test::ReadFile(run.File(chan));
        ASSERT_GE(day.size(), records * 512) << chan;
        EXPECT_TRUE(test::SameAsGolden("XX.ZQD01.00." + chan + ".D.2008.133.head", day.substr(0, records * 512)));
    }
}

TEST(ArchiveSink, ThroughAGpsOutageSamplesStayContinuousAndTimingQualityFallsAndRecovers) {
    sim::SimSettings s;
    s.gps_outage_from = 12;
    s.gps_outage_for = 3;
    ArchiveRun run("2008-05-12T17:38:40.300000000", s);
    run.Run(20);
    const ReadBack rb = Read(run.File("GY0"));
    ASSERT_EQ(rb.series.size(), 1u);
    EXPECT_EQ(rb.series[0].size(), 40000u);
    std::set<int> qualities;
    for (const auto& r : rb.records) qualities.insert(r.quality);
    EXPECT_EQ(qualities, (std::set<int>{90, 100}));
    EXPECT_EQ(rb.records.back().quality, 100);
    EXPECT_EQ(rb.records.back().io_flags & 0x20, 0x20);
    int unlocked = 0;
    for (const auto& r : rb.records) unlocked += (r.io_flags & 0x20) == 0;
    EXPECT_GT(unlocked, 0);
}

TEST(ArchiveSink, AFailedReadIsAGapOfExactlyOneBlockNeverStaleData) {
    ArchiveRun run("2008-05-12T17:38:40.300000000");
    run.card.adResults = {1, 1, 0, 1, 1};
    run.Run(5);
    const ReadBack rb = Read(run.File("GY3"));
    ASSERT_EQ(rb.series.size(), 2u);
    EXPECT_EQ(rb.series[0].size(), 4000u);
    EXPECT_EQ(rb.series[1].size(), 4000u);
    EXPECT_EQ(rb.series_start[1] - rb.series_start[0], 3 * utc::kNsPerSecond);  // 2 s of data, 1 s missing
    const auto record = test::SimRecord("2008-05-12T17:38:40.300000000", 5);
    EXPECT_EQ(rb.series[1][0], record[3 * 36000 + 5]);  // buffer 3, not the lost 2
    EXPECT_EQ(run.Status().station.read_failures, 1u);
}

TEST(ArchiveSink, ARunAcrossMidnightMakesTwoDayFilesSplitAtMidnight) {
    ArchiveRun run("2008-05-12T23:59:50.300000000");
    run.Run(20);
    const ReadBack first = Read(run.File("GYP", "2008.133"));
    const ReadBack second = Read(run.File("GYP", "2008.134"));
    ASSERT_EQ(first.series.size(), 1u);
    ASSERT_EQ(second.series.size(), 1u);
    EXPECT_EQ(second.series_start[0], Ns("2008-05-13T00:00:00"));
    EXPECT_EQ(first.series[0].size() + second.series[0].size(), 40000u);
    EXPECT_EQ(first.series[0].size(), 9u * 2000 + 1400);
    EXPECT_LT(first.records.back().end_ns, Ns("2008-05-13T00:00:00"));
}

TEST(ArchiveSink, ATornTailIsCutAtStartAndSaid) {
    ArchiveRun run("2008-05-12T17:38:40.300000000");
    run.Run(3);
    run.session.RemoveSink(run.runner);
    run.runner.reset();
    run.archive.reset();
    const auto file = run.File("GY0");
    const auto whole = std::filesystem::file_size(file);
    {  // a killed writer: half a record, and a last record that is garbage
        std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(static_cast<std::streamoff>(whole - 512));
        const std::string junk(512, 'x');
        f.write(junk.data(), 512);
        f.seekp(0, std::ios::end);
        f.write(junk.data(), 200);
    }
    run.lines.clear();
    run.Attach();
    EXPECT_EQ(std::filesystem::file_size(file), whole - 512);
    bool said = false;
    for (const auto& l : run.lines) said = said || (l.find(file.string()) != std::string::npos && l.find("712") != std::string::npos);
    EXPECT_TRUE(said) << (run.lines.empty() ? "" : run.lines[0]);
    // Appending after the restart is normal; the time between is a gap.
    run.Run(2);
    EXPECT_TRUE(Read(file).all_parsed);
}

TEST(ArchiveSink, AFullDiskIsReportedExistingFilesStayWholeAndWritingResumes) {
    SmallDisk mount("440k");
    if (!mount.mounted) GTEST_SKIP() << "needs root to mount a small tmpfs";
    test::WriteFile(mount / "filler", std::string(200 << 10, 'f'));
    {
        ArchiveRun run("2008-05-12T17:38:40.300000000", {}, mount.path());
        run.Run(12, false);  // more than fits
        ASSERT_FALSE(run.Status().disk.writing);
        bool said = false;
        for (const auto& l : run.lines) said = said || l.find("写入失败") != std::string::npos;
        EXPECT_TRUE(said);
        for (const auto& e : std::filesystem::recursive_directory_iterator(mount.path())) {
            if (e.is_regular_file() && e.path().filename() != "filler") {
                EXPECT_TRUE(Read(e.path()).all_parsed) << e.path();
            }
        }
        // Room again: what waited in memory is written.
        std::filesystem::remove(mount / "filler");
        run.Run(1);
        EXPECT_TRUE(run.Status().disk.writing) << app::Text(run.Status().disk.last_error);
        said = false;
        for (const auto& l : run.lines) said = said || l.find("写入恢复") != std::string::npos;
        EXPECT_TRUE(said);
        const ReadBack rb = Read(run.File("GY0"));
        ASSERT_TRUE(rb.all_parsed);
        ASSERT_EQ(rb.series.size(), 1u);
        EXPECT_EQ(rb.series[0].size(), 13u * 2000);
    }
}

// Stopped while the disk still refuses: every sample acquired is either on
// disk or counted as unwritten, and the stop says so.
// Old days go whole, oldest first: only this archive's own streams' day
// files, never today's, never anything else; the folders they leave empty go
// too; a refused write frees one day.
// The free-space floor counts what is about to be written: a write that
// would take the disk below it makes room first, a day at a time, and no
// more than it needs.
TEST(Retention, TheFloorHoldsAfterTheWriteThatIsAboutToComeNotJustBeforeIt) {
    SmallDisk disk("4m");
    if (!disk.mounted) GTEST_SKIP() << "needs root to mount a small tmpfs";
    const auto folder = disk / "2008" / "XX" / "ZQD01" / "GY0.D";
    std::filesystem::create_directories(folder);
    for (int doy = 131; doy <= 133; ++doy)
        test::WriteFile(folder / ("XX.ZQD01.00.GY0.D.2008." + std::to_string(doy)), std::string(1u << 20, 'x'));
    const auto free = static_cast<std::uint64_t>(platform::FreeBytes(disk.path()));
    ASSERT_GT(free, 600u << 10);
    std::vector<RemovedDay> removed;
    Retention r(disk.path(), {"XX.ZQD01.00.GY0"}, RetentionConfig{0, free - (512u << 10)});
    const std::int64_t today = Ns("2008-05-12T15:00:00");  // day 133
    r.Enforce(today, false, 0, [&](const RemovedDay& d) { removed.push_back(d); });
    EXPECT_TRUE(removed.empty());  // above the floor now
    r.Enforce(today, false, 1u << 20, [&](const RemovedDay& d) { removed.push_back(d); });
    ASSERT_EQ(removed.size(), 1u);  // the oldest day makes room for the megabyte to come
    EXPECT_EQ(removed[0].day_ns, Ns("2008-05-10T00:00:00"));
    EXPECT_TRUE(removed[0].for_space);
    EXPECT_TRUE(std::filesystem::exists(folder / "XX.ZQD01.00.GY0.D.2008.132"));
}

TEST(Retention, OldDaysOfOurOwnStreamsGoWholeAndNothingElse) {
    TempDir dir;
    const auto day = [&](const std::string& stream, int doy) {
        const auto parts = SplitText(stream, '.');
        const auto folder = dir / "2008" / parts[0] / parts[1] / (parts[3] + ".D");
        std::filesystem::create_directories(folder);
        const auto f = folder / (stream + ".D.2008." + std::to_string(doy));
        test::WriteFile(f, std::string(1024, 'x'));
        return f;
    };
    std::vector<std::filesystem::path> ours, theirs;
    for (int doy = 130; doy <= 133; ++doy) {
        ours.push_back(day("XX.ZQD01.00.GY0", doy));
        ours.push_back(day("XX.ZQD01.00.GY1", doy));
        theirs.push_back(day("XX.OTHER.00.GY0", doy));  // another station's, in the same archive
    }
    test::WriteFile(dir / "2008" / "XX" / "ZQD01" / "GY0.D" / "notes.txt", "mine");
    const std::set<std::string> streams{"XX.ZQD01.00.GY0", "XX.ZQD01.00.GY1"};
    std::vector<RemovedDay> removed;
    auto note = [&](const RemovedDay& r) { removed.push_back(r); };
    const std::int64_t today = Ns("2008-05-12T15:00:00");  // day 133
    Retention keep2(dir.path(), streams, RetentionConfig{2, 0});
    keep2.Enforce(today, false, 0, note);
    ASSERT_EQ(removed.size(), 2u);  // days 130 and 131, each whole
    EXPECT_EQ(removed[0].day_ns, Ns("2008-05-09T00:00:00"));
    EXPECT_EQ(removed[0].files.size(), 2u);
    EXPECT_EQ(removed[0].bytes, 2048u);
    EXPECT_FALSE(removed[0].for_space);
    for (std::size_t i = 0; i < ours.size(); ++i) EXPECT_EQ(std::filesystem::exists(ours[i]), i >= 4) << ours[i];
    for (const auto& f : theirs) EXPECT_TRUE(std::filesystem::exists(f)) << f;
    EXPECT_TRUE(std::filesystem::exists(dir / "2008" / "XX" / "ZQD01" / "GY0.D" / "notes.txt"));
    // A refused write frees the oldest day left, never today.
    removed.clear();
    Retention room(dir.path(), streams, RetentionConfig{0, 0});
    room.Enforce(today, true, 0, note);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0].day_ns, Ns("2008-05-11T00:00:00"));
    EXPECT_TRUE(removed[0].for_space);
    removed.clear();
    room.Enforce(today, true, 0, note);
    EXPECT_TRUE(removed.empty());  // only today is left
    EXPECT_TRUE(std::filesystem::exists(ours[6]));
    EXPECT_TRUE(std::filesystem::exists(ours[7]));
    // The configuration takes the table, and refuses what does not fit, at its line.
    test::WriteFile(dir / "c.toml", "[retention]\nkeep_days = 30\nmin_free_mb = 100\n");
    StationConfig c = DefaultConfig();
    ASSERT_TRUE(LoadConfig(dir / "c.toml", c).ok());
    EXPECT_EQ(c.archive.retention.keep_days, 30);
    EXPECT_EQ(c.archive.retention.min_free_bytes, 100u << 20);
    EXPECT_EQ(DefaultConfig().archive.retention.min_free_bytes, 2048u << 20);
    test::WriteFile(dir / "c.toml", "[retention]\nkeep_days = -1\n");
    const Status bad = LoadConfig(dir / "c.toml", c);
    EXPECT_NE(app::Text(bad).find("第 2 行"), std::string::npos) << app::Text(bad);
}

TEST(ArchiveSink, WhatAFullDiskStillRefusesAtTheStopIsCountedToTheSample) {
    SmallDisk mount("300k");
    if (!mount.mounted) GTEST_SKIP() << "needs root to mount a small tmpfs";
    ArchiveStatus st;
    std::vector<std::string> lines;
    {
        ArchiveRun run("2008-05-12T17:38:40.300000000", {}, mount.path());
        run.Run(30);  // about three times what fits, then stopped
        run.session.RemoveSink(run.runner);
        run.runner.reset();
        run.archive->Finish();
        st = run.Status();
        lines = run.lines;
    }
    std::uint64_t on_disk = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(mount.path()))
        if (e.is_regular_file())
            for (const auto& r : Read(e.path()).records) on_disk += static_cast<std::uint64_t>(r.samples);
    EXPECT_GT(st.disk.unwritten_records, 0u);
    // The data's samples, and the clock's a second: LCQ and LCR from the
    // start (the first blocks wait for the rate), LCE from the third pulse
    // (its prediction needs the rate); the receiver's seven, one a message.
    EXPECT_EQ(on_disk + st.disk.unwritten_samples, 30u * 2000 * 17 + 30 + 30 + 28 + 7 * 30);
    EXPECT_FALSE(st.Lossless());
    bool said = false;
    for (const auto& l : lines) said = said || l.find("未能写入") != std::string::npos;
    EXPECT_TRUE(said);
    EXPECT_NE(app::StatusLine(st).find("未写入磁盘 " + std::to_string(st.disk.unwritten_records) + " 个记录"), std::string::npos)
        << app::StatusLine(st);
}

TEST(ArchiveWindow, StartsStopsShowsStatusAndKeepsItsSettings) {
    TempDir dir;
    test::ScriptedCard card;
    sim::SimCard simcard(ArchiveRun::Settings("2008-05-12T17:38:40.300000000", {}), [] { return 0; });
    simcard.Initial(320, 5, 0, 0);
    simcard.StartIntr(10, 2000, 0, 18, 2000, 0, 1);
    card.fill = [&](int k, std::int16_t* w) { simcard.FillSamples(k, w + 1); };
    acq::Session session(card, {false, std::chrono::milliseconds(200)});
    const auto settings = dir / "cfg" / "archive.toml";
    {
        FrmArchive form(session, settings);
        form.Form_Load();
        form.CmdStart_Click();  // no folder yet
        EXPECT_FALSE(form.LastStart.ok());
        EXPECT_NE(form.TxtLog.Text.find("存档文件夹"), std::string::npos);
        form.FolderChosen((dir / "arch").string());
        form.TxtStation.Text = "TOOLONG";
        form.CmdStart_Click();
        EXPECT_FALSE(form.LastStart.ok());
        EXPECT_NE(form.TxtLog.Text.find("台站代码"), std::string::npos);
        form.TxtStation.Text = "AB1";
        // Live data: an address that is none is refused in our words; a good one serves.
        form.ChkSeedLink.Checked = true;
        form.TxtSeedLink.Text = "nonsense";
        form.CmdStart_Click();
        EXPECT_FALSE(form.LastStart.ok());
        EXPECT_NE(form.TxtLog.Text.find("实时数据的地址 nonsense 不是"), std::string::npos) << form.TxtLog.Text;
        form.TxtSeedLink.Text = "127.0.0.1:0";
        form.CmdStart_Click();
        ASSERT_TRUE(form.LastStart.ok()) << form.TxtLog.Text;
        EXPECT_NE(form.TxtLog.Text.find("实时数据：SeedLink 127.0.0.1:"), std::string::npos) << form.TxtLog.Text;
        EXPECT_TRUE(form.TimerStatus.Enabled);
        EXPECT_FALSE(form.CmdStart.Enabled);
        card.queryResults = {12};  // the first blocks wait for the pulse to lock, a few seconds
        form.TimerStatus_Timer();
        EXPECT_EQ(form.lblStatus.Text.rfind("块 12 | 损失 无 | GPS 正常 2008-05-12T17:38:51.300000000Z", 0), 0u)
            << form.lblStatus.Text;
        EXPECT_NE(form.lblStatus.Text.find("| SeedLink 127.0.0.1:"), std::string::npos) << form.lblStatus.Text;
        EXPECT_NE(form.lblStatus.Text.find("，0 个客户端"), std::string::npos) << form.lblStatus.Text;
        EXPECT_NE(form.lblStatus.Text.find("| 3D 定位，卫星 7/8，30.52000°N 114.36000°E，海拔 23.50 m |"), std::string::npos)
            << form.lblStatus.Text;
        form.CmdStop_Click();
        EXPECT_TRUE(form.CmdStart.Enabled);
        EXPECT_NE(form.TxtLog.Text.find("已停止"), std::string::npos);
        // The station's metadata, from the archive just written: its position the receiver's.
        EXPECT_EQ(form.StationXmlSuggested(), (dir / "arch" / "XX.AB1.xml").string());
        ASSERT_TRUE(form.StationXmlChosen(form.StationXmlSuggested()).ok()) << form.TxtLog.Text;
        EXPECT_NE(form.TxtLog.Text.find("台站元数据已写入"), std::string::npos);
        const std::string xml = test::ReadFile(dir / "arch" / "XX.AB1.xml");
        EXPECT_NE(xml.find("<Station code=\"AB1\""), std::string::npos);
        EXPECT_NE(xml.find("<Latitude>30.52</Latitude>"), std::string::npos);
        form.TxtNetwork.Text = "toolong";
        EXPECT_FALSE(form.StationXmlChosen((dir / "x.xml").string()).ok());
        EXPECT_NE(form.TxtLog.Text.find("台站元数据未能写出"), std::string::npos);
        form.TxtNetwork.Text = "XX";
    }
    const ReadBack rb = Read(dir / "arch" / "2008" / "XX" / "AB1" / "GY0.D" / "XX.AB1.00.GY0.D.2008.133");
    ASSERT_EQ(rb.series.size(), 1u);
    EXPECT_EQ(rb.series[0].size(), 24000u);
    FrmArchive again(session, settings);
    again.Form_Load();
    EXPECT_EQ(again.TxtFolder.Text, (dir / "arch").string());
    EXPECT_EQ(again.TxtStation.Text, "AB1");
    EXPECT_TRUE(again.ChkSeedLink.Checked);
    EXPECT_EQ(again.TxtSeedLink.Text, "127.0.0.1:0");
}

TEST(ArchiveEndToEnd, AcquireWritesAnArchiveThatMseed2sacReads) {
    if (std::system("command -v mseed2sac >/dev/null 2>&1") != 0) GTEST_SKIP() << "mseed2sac is not installed";
    TempDir dir;
    const std::string cmd = "cd " + dir.path().string() + " && ZQD4830_ACQUISITION_LOCK=" + (dir / "acq.lock").string() +
                            " ADCARD_SIM_SPEED=20 ADCARD_SIM_START=2008-05-12T17:38:40.300000000 " ZQD_BIN_DIR
                            "/zqd4830-cli acquire --archive " + (dir / "a").string() +
                            " --duration 20 --poll-ms 50 >out.txt 2>err.txt";
    const int st = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << test::ReadFile(dir / "out.txt") << test::ReadFile(dir / "err.txt");
    int files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir / "a")) {
        if (!e.is_regular_file()) continue;
        ++files;
        const ReadBack rb = Read(e.path());
        ASSERT_TRUE(rb.all_parsed) << e.path();
        std::size_t samples = 0;
        for (const auto& s : rb.series) samples += s.size();
        const std::string name = e.path().filename().string();
        const bool clock = name.find(".LC") != std::string::npos || name.find(".GY") == std::string::npos;
        EXPECT_GE(samples, clock ? 17u : 40000u) << e.path();
        const std::string conv = "cd " + dir.path().string() + " && mseed2sac -v " + e.path().string() + " >conv.txt 2>&1";
        ASSERT_EQ(std::system(conv.c_str()), 0) << test::ReadFile(dir / "conv.txt");
        EXPECT_NE(test::ReadFile(dir / "conv.txt").find("Samples: " + std::to_string(samples)), std::string::npos)
            << test::ReadFile(dir / "conv.txt");
    }
    EXPECT_EQ(files, 27);  // the 17 channels, the clock's three and the receiver's seven
}

}  // namespace
}  // namespace zqd::archive

namespace zqd::archive {
namespace {

// A card a hundred times faster than real time fills its ten buffers in a
// tenth of a second: at the default polling nothing is lost, or what is
// lost is said, with the shorter polling that follows.
TEST(ArchiveEndToEnd, AFastCardAtTheDefaultPollingLosesNothingOrSaysWhy) {
    TempDir dir;
    const std::string cmd = "cd " + dir.path().string() + " && ZQD4830_ACQUISITION_LOCK=" + (dir / "acq.lock").string() +
                            " ADCARD_SIM_SPEED=100 ADCARD_SIM_START=2008-05-12T17:38:40.300000000 " ZQD_BIN_DIR
                            "/zqd4830-cli acquire --archive " + (dir / "a").string() + " --duration 60 >out.txt 2>&1";
    const int st = std::system(cmd.c_str());
    const std::string out = test::ReadFile(dir / "out.txt");
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << out;
    ASSERT_NE(out.find("结束：存档 60 块"), std::string::npos) << out;
    if (out.find("板卡缓冲区溢出 0 块") == std::string::npos) {  // a machine too busy to keep up
        EXPECT_NE(out.find("板卡缓冲区溢出：第"), std::string::npos) << out;
        EXPECT_NE(out.find("查询周期缩短到"), std::string::npos) << out;
    } else {
        EXPECT_NE(out.find("定时：秒脉冲全程正常"), std::string::npos) << out;
    }
}

TEST(ArchiveEndToEnd, KilledAndRestartedTheArchiveReadsWhole) {
    TempDir dir;
    const std::string run = "cd " + dir.path().string() + " && ZQD4830_ACQUISITION_LOCK=" + (dir / "acq.lock").string() +
                            " ADCARD_SIM_SPEED=20 ADCARD_SIM_START=2008-05-12T10:00:00 " ZQD_BIN_DIR
                            "/zqd4830-cli acquire --archive " +
                            (dir / "a").string() + " --poll-ms 20 ";
    // Killed without a chance to flush, partway through.
    ASSERT_EQ(std::system((run + ">first.txt 2>&1 & pid=$!; sleep 1.5; kill -9 $pid; wait $pid; true").c_str()), 0);
    const int st = std::system((run + "--duration 5 >second.txt 2>&1").c_str());
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << test::ReadFile(dir / "second.txt");
    // The day files of the first run go on; none is said to be new (but the
    // ones of a sample a second, the clock's and the receiver's, which the
    // first run, killed within its first minute, had not written yet).
    EXPECT_NE(test::ReadFile(dir / "first.txt").find("新的日文件"), std::string::npos);
    std::istringstream second(test::ReadFile(dir / "second.txt"));
    for (std::string line; std::getline(second, line);)
        if (line.find("新的日文件") != std::string::npos) {
            bool slow = line.find(".LC") != std::string::npos;
            for (const auto& code : GpsChannelCodes()) slow = slow || line.find("." + code + ".D.") != std::string::npos;
            EXPECT_TRUE(slow) << line;
        }
    int files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir / "a")) {
        if (!e.is_regular_file()) continue;
        ++files;
        EXPECT_EQ(std::filesystem::file_size(e.path()) % 512, 0u) << e.path();
        EXPECT_TRUE(Read(e.path()).all_parsed) << e.path();
    }
    EXPECT_GE(files, 17);
}

}  // namespace
}  // namespace zqd::archive

#include "convert/convert.h"
#include "formats/t1dat/t1dat_writer.h"

namespace zqd::archive {
namespace {

using convert::ConvertNote;
using convert::ConvertOptions;
using convert::ConvertRecord;
using convert::ConvertSummary;

void Quiet(const ConvertNote&) {}

// A T1.DAT of the simulated card; `untimed` blocks lose their GPS bytes.
std::filesystem::path MakeRecord(const std::filesystem::path& dir, const std::string& start, int blocks,
                                 std::vector<int> untimed = {}) {
    auto data = test::SimRecord(start, blocks);
    for (int k : untimed)
        for (std::size_t s = 0; s < 2000; ++s) data[static_cast<std::size_t>(k) * 36000 + s * 18 + 1] = 4096;
    const auto path = dir / "T1.DAT";
    EXPECT_TRUE(t1dat::SaveRecordFile(path, static_cast<std::int16_t>(blocks), 2000, data.data(), data.size()).ok());
    return path;
}

TEST(Convert, MiniSeedHoldsEveryChannelAtTheDecodedBlockTimes) {
    TempDir dir;
    const auto file = MakeRecord(dir.path(), "2008-05-12T17:38:40.300000000", 4);
    const auto codes = test::SimRecord("2008-05-12T17:38:40.300000000", 4);
    ConvertOptions o;
    o.out = dir / "out";
    ConvertSummary sum;
    ASSERT_TRUE(ConvertRecord(file, o, sum, Quiet).ok());
    EXPECT_EQ(sum.channels, 17u);
    EXPECT_EQ(sum.segments, 1u);
    for (const auto& [offset, code] : o.records.channels) {
        const ReadBack rb = Read(dir / "out" / ("XX.ZQD01.00." + code + ".2008.133.173840.mseed"));
        ASSERT_TRUE(rb.all_parsed) << code;
        ASSERT_EQ(rb.series.size(), 1u) << code;
        EXPECT_EQ(rb.series_start[0], Ns("2008-05-12T17:38:40.300000000"));
        std::size_t wrong = 0;
        for (std::size_t j = 0; j < 8000; ++j) wrong += rb.series[0][j] != codes[j * 18 + static_cast<std::size_t>(offset)];
        EXPECT_EQ(wrong, 0u) << code;
    }
}

TEST(Convert, ABlockWithoutTimeTakesItsNeighboursAndIsMarked) {
    TempDir dir;
    const auto file = MakeRecord(dir.path(), "2008-05-12T17:38:40.300000000", 5, {2});
    ConvertOptions o;
    o.out = dir / "out";
    o.channels = {0};
    ConvertSummary sum;
    std::vector<std::string> lines;
    ASSERT_TRUE(ConvertRecord(file, o, sum, [&](const ConvertNote& n) { lines.push_back(app::NoteText(n)); }).ok());
    EXPECT_EQ(sum.inferred_blocks, 1u);
    EXPECT_EQ(sum.segments, 1u);  // the inferred time continues the series
    bool said = false;
    for (const auto& l : lines) said = said || l.find("第 2 块没有 GPS 时间") != std::string::npos;
    EXPECT_TRUE(said);
    const ReadBack rb = Read(dir / "out" / "XX.ZQD01.00.GYP.2008.133.173840.mseed");
    ASSERT_EQ(rb.series.size(), 1u);
    std::set<int> q;
    for (const auto& r : rb.records) q.insert(r.quality);
    EXPECT_EQ(q, (std::set<int>{50, 100}));
}

// A block whose message fails its checks is dated from its neighbours, as
// one without a message: conversion never takes a corrupt time. The
// listing of 打开文件 keeps its own rule and shows what the message says.
TEST(Convert, ABlockWhoseMessageFailsItsChecksIsDatedFromItsNeighbours) {
    TempDir dir;
    auto data = test::SimRecord("2008-05-12T17:38:40.300000000", 5);
    // The seconds byte of block 2's message, in its 11th GPS byte: 42 made 50.
    std::size_t found = 0;
    for (std::size_t s = 0, bytes = 0; s < 2000 && !found; ++s) {
        std::int32_t& v = data[2 * 36000 + s * 18 + 1];
        if (v != 4096 && ++bytes == 11) {
            EXPECT_EQ(v, 42);
            v = 50;
            found = s;
        }
    }
    ASSERT_NE(found, 0u);
    ASSERT_TRUE(t1dat::SaveRecordFile(dir / "T1.DAT", 5, 2000, data.data(), data.size()).ok());
    const auto listed = ListRecord(dir / "T1.DAT", 18);
    ASSERT_TRUE(listed);
    EXPECT_NE(listed->listing.find("2008-5-12 17:38:50:300000000\r\n"), std::string::npos) << listed->listing;

    ConvertOptions o;
    o.out = dir / "out";
    o.channels = {2};
    ConvertSummary sum;
    ASSERT_TRUE(ConvertRecord(dir / "T1.DAT", o, sum, Quiet).ok());
    EXPECT_EQ(sum.inferred_blocks, 1u);
    EXPECT_EQ(sum.segments, 1u);  // its time is its neighbours', so the series runs on
    const ReadBack rb = Read(dir / "out" / "XX.ZQD01.00.GY0.2008.133.173840.mseed");
    ASSERT_EQ(rb.series.size(), 1u);
    EXPECT_EQ(rb.series[0].size(), 10000u);
    std::set<int> q;
    for (const auto& r : rb.records) q.insert(r.quality);
    EXPECT_EQ(q, (std::set<int>{50, 100}));
}

TEST(Convert, ARecordWithoutAnyTimeIsRefusedUnlessAStartIsGiven) {
    TempDir dir;
    const auto file = MakeRecord(dir.path(), "2008-05-12T17:38:40.300000000", 2, {0, 1});
    ConvertOptions o;
    o.out = dir / "out";
    ConvertSummary sum;
    EXPECT_FALSE(ConvertRecord(file, o, sum, Quiet).ok());
    EXPECT_EQ(sum.refused, 1);
    o.assume_start_ns = Ns("2020-01-01T00:00:00");
    EXPECT_TRUE(ConvertRecord(file, o, sum, Quiet).ok());
    const ReadBack rb = Read(dir / "out" / "XX.ZQD01.00.GY0.2020.001.000000.mseed");
    ASSERT_EQ(rb.records.size() > 0, true);
    EXPECT_EQ(rb.records[0].quality, 0);
}

TEST(Convert, AcrossMidnightTheSdsDayFilesAndSacDaysAreRight) {
    TempDir dir;
    const auto file = MakeRecord(dir.path(), "2008-12-31T23:59:58.500000000", 3);
    ConvertOptions o;
    o.out = dir / "sds";
    o.format = "sds";
    o.channels = {2};
    ConvertSummary sum;
    ASSERT_TRUE(ConvertRecord(file, o, sum, Quiet).ok());
    const auto a = Read(dir / "sds" / "2008" / "XX" / "ZQD01" / "GY0.D" / "XX.ZQD01.00.GY0.D.2008.366");
    const auto b = Read(dir / "sds" / "2009" / "XX" / "ZQD01" / "GY0.D" / "XX.ZQD01.00.GY0.D.2009.001");
    ASSERT_EQ(a.series.size(), 1u);
    ASSERT_EQ(b.series.size(), 1u);
    EXPECT_EQ(a.series[0].size(), 3000u);
    EXPECT_EQ(b.series_start[0], Ns("2009-01-01T00:00:00"));
}

TEST(Convert, SacReadBackBySac2mseedGivesTheSamplesAndTimes) {
    if (std::system("command -v sac2mseed >/dev/null 2>&1") != 0) GTEST_SKIP() << "sac2mseed is not installed";
    TempDir dir;
    const auto file = MakeRecord(dir.path(), "2008-05-12T17:38:40.300250000", 2);
    const auto codes = test::SimRecord("2008-05-12T17:38:40.300250000", 2);
    ConvertOptions o;
    o.out = dir / "sac";
    o.format = "sac";
    o.channels = {5};
    ConvertSummary sum;
    ASSERT_TRUE(ConvertRecord(file, o, sum, Quiet).ok());
    const auto sac = dir / "sac" / "XX.ZQD01.00.GY3.2008.133.173840.SAC";
    ASSERT_TRUE(std::filesystem::exists(sac));
    EXPECT_EQ(std::filesystem::file_size(sac), 632u + 4 * 4000);
    const std::string cmd = "sac2mseed -o " + (dir / "back.mseed").string() + " " + sac.string() + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    MSTraceGroup* group = nullptr;
    ASSERT_EQ(ms_readtraces(&group, (dir / "back.mseed").c_str(), 0, -1.0, -1.0, 0, 1, 1, 0), MS_NOERROR);
    ASSERT_NE(group->traces, nullptr);
    MSTrace* tr = group->traces;
    EXPECT_STREQ(tr->network, "XX");
    EXPECT_STREQ(tr->station, "ZQD01");
    EXPECT_STREQ(tr->location, "00");
    EXPECT_STREQ(tr->channel, "GY3");
    EXPECT_EQ(static_cast<std::int64_t>(tr->starttime) * 1000, Ns("2008-05-12T17:38:40.300250000"));
    EXPECT_DOUBLE_EQ(tr->samprate, 2000);
    ASSERT_EQ(tr->numsamples, 4000);
    ASSERT_TRUE(tr->sampletype == 'f' || tr->sampletype == 'i');
    std::size_t wrong = 0;
    for (std::size_t j = 0; j < 4000; ++j) {
        const double v = tr->sampletype == 'f' ? static_cast<const float*>(tr->datasamples)[j]
                                               : static_cast<const std::int32_t*>(tr->datasamples)[j];
        wrong += v != codes[j * 18 + 5];
    }
    EXPECT_EQ(wrong, 0u);
    mst_freegroup(&group);
}

TEST(Convert, ChannelListsAndABadFileAmongGoodOnes) {
    EXPECT_EQ(*ParseChannelList("0,2-4,17", 18), (std::vector<int>{0, 2, 3, 4, 17}));
    const auto beyond = ParseChannelList("0,18", 18);
    ASSERT_FALSE(beyond);
    EXPECT_NE(app::Text(beyond.status()).find("18"), std::string::npos);
    EXPECT_FALSE(ParseChannelList("a-b", 18));
    EXPECT_FALSE(ParseChannelList("3-1", 18));

    TempDir dir;
    const auto good = MakeRecord(dir.path(), "2008-05-12T17:38:40.300000000", 2);
    test::WriteFile(dir / "bad.DAT", "not a record");
    const std::string cmd = "cd " + dir.path().string() + " && " ZQD_BIN_DIR "/zqd4830-cli convert --format mseed --out out " +
                            (dir / "bad.DAT").string() + " " + good.string() + " >out.txt 2>&1";
    const int st = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 2);
    const std::string out = test::ReadFile(dir / "out.txt");
    EXPECT_NE(out.find("拒绝 " + (dir / "bad.DAT").string()), std::string::npos) << out;
    EXPECT_NE(out.find("共 1 个文件转换，1 个拒绝"), std::string::npos) << out;
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "XX.ZQD01.00.GY0.2008.133.173840.mseed"));
    const std::string badList = "cd " + dir.path().string() + " && " ZQD_BIN_DIR
                                "/zqd4830-cli convert --format sac --channels 40 " + good.string() + " >/dev/null 2>&1";
    const int st2 = std::system(badList.c_str());
    EXPECT_EQ(WEXITSTATUS(st2), 1);
}

}  // namespace
}  // namespace zqd::archive

#include <future>

#include "view/filtered_model.h"
#include "view/sources/mseed_source.h"
#include "view/sources/open.h"
#include "view/export_span.h"
#include "formats/sds/sds_layout.h"
#include "formats/sds/sds_writer.h"
#include "app/frm_viewer.h"
#include "view/sources/summary_cache.h"
#include "formats/mseed/mseed_scan.h"
#include "timeline/timeline.h"

namespace zqd::archive {
namespace {

using view::Opened;

// What the viewer opens, with the default configuration's channels.
Status OpenForView(const std::filesystem::path& path, const StationConfig& config, std::optional<std::int64_t> from,
                   std::optional<std::int64_t> to, Opened& opened,
                   const view::CacheOptions& cache = view::DefaultSummaryCache()) {
    const std::vector<std::pair<int, std::string>> rows(config.records.channels.begin(), config.records.channels.end());
    return view::OpenForView(path, config.card.ChnNum, rows, from, to, opened, cache);
}

TEST(ViewFiles, ARecordWithABlockWithoutTimeIsOneStretchMarkedWhereCarried) {
    TempDir dir;
    const auto file = MakeRecord(dir.path(), "2008-05-12T23:59:58.000000000", 4, {2});
    const auto codes = test::SimRecord("2008-05-12T23:59:58.000000000", 4);
    Opened o;
    ASSERT_TRUE(OpenForView(file, DefaultConfig(), std::nullopt, std::nullopt, o).ok());
    const auto& m = *o.model;
    ASSERT_EQ(m.ChannelCount(), 17);
    EXPECT_EQ(m.At(1).name, "GY0");
    ASSERT_EQ(m.At(1).stretches.size(), 1u);
    EXPECT_EQ(m.At(1).stretches[0].start_ns, Ns("2008-05-12T23:59:58.000000000"));
    ASSERT_EQ(m.Carried().size(), 1u);  // block 2, the first second of the 13th
    EXPECT_EQ(m.Carried()[0].begin_ns, Ns("2008-05-13T00:00:00.000000000"));
    EXPECT_EQ(m.Carried()[0].end_ns, Ns("2008-05-13T00:00:01.000000000"));
    EXPECT_FALSE(o.notes.empty());
    // Every sample of channel offset 2 where the record has it.
    std::vector<std::int32_t> got(8000);
    m.At(1).stretches[0].source->Read(0, got.size(), got.data());
    for (std::size_t j = 0; j < got.size(); ++j) ASSERT_EQ(got[j], codes[j * 18 + 2]) << j;
}

TEST(ViewFiles, AnSdsFolderWithAMissingDayHasAGapThereAndSamplesReadBackLazily) {
    TempDir dir;
    sds::SdsWriter sds(dir / "sds");
    const StreamCodes codes{"XX", "ZQD01", "00", "GY0"};
    std::vector<std::int32_t> samples(4000);
    for (std::size_t j = 0; j < samples.size(); ++j) samples[j] = static_cast<std::int32_t>(j * 7 % 5000);
    // Two seconds on each of three days, the middle day missing.
    for (const char* day : {"2008-05-11T12:00:00", "2008-05-13T12:00:00"}) {
        ChannelPacker p(codes, 2000, {}, [&](const char* r, int n, std::int64_t t) { ASSERT_TRUE(sds.Append(codes, t, r, n).ok()); });
        p.Add(Ns(day), samples.data(), samples.size(), Timing{100, true});
        p.Pack(true);
    }
    ASSERT_TRUE(sds.Sync().ok());
    test::WriteFile(dir / "sds" / "2008" / "XX" / "ZQD01" / "GY0.D" / "XX.ZQD01.00.GY0.D.2008.999", "not a day");
    const auto files = sds::DayFiles(dir / "sds", std::nullopt, std::nullopt);
    ASSERT_EQ(files.size(), 2u);
    const auto cache = dir / "cache";
    Opened o;
    ASSERT_TRUE(OpenForView(dir / "sds", DefaultConfig(), std::nullopt, std::nullopt, o, cache).ok());
    EXPECT_EQ(o.files_indexed, 2);
    // Opened again: from the cache, the same.
    Opened again;
    ASSERT_TRUE(OpenForView(dir / "sds", DefaultConfig(), std::nullopt, std::nullopt, again, cache).ok());
    EXPECT_EQ(again.files_cached, 2);
    EXPECT_EQ(again.model->Envelope(0, Ns("2008-05-11T00:00:00"), Ns("2008-05-14T00:00:00"), 700),
              o.model->Envelope(0, Ns("2008-05-11T00:00:00"), Ns("2008-05-14T00:00:00"), 700));
    // A damaged cache file is read through again, never trusted.
    for (const auto& e : std::filesystem::directory_iterator(cache)) {
        if (e.path().extension() != ".zidx") continue;
        std::string bytes = test::ReadFile(e.path());
        bytes[bytes.size() / 2] ^= 0x55;
        bytes.resize(bytes.size() - 100);
        test::WriteFile(e.path(), bytes);
    }
    Opened damaged;
    ASSERT_TRUE(OpenForView(dir / "sds", DefaultConfig(), std::nullopt, std::nullopt, damaged, cache).ok());
    EXPECT_EQ(damaged.files_indexed, 2);
    const auto& m = *damaged.model;
    ASSERT_EQ(m.ChannelCount(), 1);
    EXPECT_EQ(m.At(0).name, "XX.ZQD01.00.GY0");
    ASSERT_EQ(m.At(0).stretches.size(), 2u);
    EXPECT_EQ(m.At(0).stretches[1].start_ns, Ns("2008-05-13T12:00:00"));
    for (const auto& s : m.At(0).stretches) {
        ASSERT_EQ(s.count, samples.size());
        std::vector<std::int32_t> got(1000);
        s.source->Read(1500, got.size(), got.data());  // across records
        for (std::size_t j = 0; j < got.size(); ++j) ASSERT_EQ(got[j], samples[1500 + j]);
        // Reads after a kept one: within it, a sample beyond each side, a
        // small one outside it, one up to the last sample, one more kept.
        for (auto [first, n] : {std::pair{1600, 300}, {1499, 1002}, {10, 5}, {3990, 10}, {3000, 1000}, {0, 4000}, {2, 3}}) {
            std::vector<std::int32_t> again(static_cast<std::size_t>(n), -1);
            s.source->Read(static_cast<std::uint64_t>(first), again.size(), again.data());
            for (int j = 0; j < n; ++j) ASSERT_EQ(again[static_cast<std::size_t>(j)], samples[static_cast<std::size_t>(first + j)]) << first;
        }
    }
    // The missing day draws nothing.
    for (const auto& c : m.Envelope(0, Ns("2008-05-12T00:00:00"), Ns("2008-05-13T00:00:00"), 500)) ASSERT_TRUE(c.Empty());
    // Only the days a span touches are read.
    Opened one;
    ASSERT_TRUE(OpenForView(dir / "sds", DefaultConfig(), Ns("2008-05-13T00:00:00"), Ns("2008-05-14T00:00:00"), one, cache).ok());
    EXPECT_EQ(one.model->At(0).stretches.size(), 1u);
    // An empty folder and a file that is neither are refused with a reason.
    std::filesystem::create_directories(dir / "empty");
    Opened none;
    const Status s = OpenForView(dir / "empty", DefaultConfig(), std::nullopt, std::nullopt, none, cache);
    EXPECT_EQ(s.code, Status::Code::kFileRefused);
    EXPECT_NE(app::Text(s).find("SDS"), std::string::npos);
    test::WriteFile(dir / "junk.dat", std::string(300, 'x'));
    EXPECT_FALSE(OpenForView(dir / "junk.dat", DefaultConfig(), std::nullopt, std::nullopt, none, cache).ok());
}

// The files of the summary cache, by name.
std::vector<std::string> CacheFiles(const std::filesystem::path& cache) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(cache))
        if (e.path().extension() == ".zidx") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A live day file, opened again and again as it grows: one entry, read on
// from where it stopped, drawn as a fresh index draws it; an entry whose
// bytes lie, or that is another file's, or that is no regular file, is never
// believed.
TEST(ViewFiles, FilteredSpansAndReadingsAgainAreMadeOnAnotherThreadWhileTheViewDraws) {
    TempDir dir;
    const StreamCodes codes{"XX", "ZQD01", "00", "GY0"};
    auto write = [&](std::int64_t from, std::size_t n) {
        sds::SdsWriter sds(dir / "sds");
        std::vector<std::int32_t> x(n);
        for (std::size_t j = 0; j < n; ++j) x[j] = static_cast<std::int32_t>(j * 37 % 1001) - 500;
        ChannelPacker p(codes, 100, {}, [&](const char* r, int len, std::int64_t t) { ASSERT_TRUE(sds.Append(codes, t, r, len).ok()); });
        p.Add(from, x.data(), x.size(), Timing{100, true});
        p.Pack(true);
        ASSERT_TRUE(sds.Sync().ok());
    };
    const std::int64_t t0 = Ns("2008-05-12T10:00:00");
    write(t0, 60000);  // ten minutes at 100 samples/s
    FrmViewer viewer(DefaultConfig());
    ASSERT_TRUE(viewer.Open(dir / "sds").ok());
    ASSERT_TRUE(viewer.FilterChosen("bp:1:10").ok());
    const std::vector<bool> shown{true};
    const std::int64_t a = t0 + 120 * utc::kNsPerSecond, b = t0 + 240 * utc::kNsPerSecond;
    EXPECT_EQ(viewer.Filtered(shown, a, b), nullptr);
    auto job = viewer.FilterNeeded(shown, a, b);
    ASSERT_TRUE(job);
    EXPECT_LT(job->t0, a);  // a little wider than the view
    auto made = std::async(std::launch::async, RunFilterJob, *job);
    auto again = std::async(std::launch::async, viewer.ReadAgain());
    // Meanwhile the view draws, at every zoom, from the same files.
    const auto model = viewer.Model();
    for (int k = 0; k < 50; ++k) {
        const std::int64_t span = (k % 5 + 1) * 30 * utc::kNsPerSecond;
        EXPECT_FALSE(model->Envelope(0, t0 + k * utc::kNsPerSecond, t0 + k * utc::kNsPerSecond + span, 700)[350].Empty());
        (void)model->SamplesIn(0, t0 + k * utc::kNsPerSecond, t0 + k * utc::kNsPerSecond + utc::kNsPerSecond, 1000);
    }
    viewer.FilterDone(made.get());
    const auto filtered = viewer.Filtered(shown, a, b);
    ASSERT_NE(filtered, nullptr);
    EXPECT_EQ(viewer.FilterNeeded(shown, a + utc::kNsPerSecond, b + utc::kNsPerSecond), std::nullopt);  // within what was made
    // The same as filtering there and then.
    view::WaveformModel direct;
    ASSERT_TRUE(view::FilterModel(*model, shown, job->t0, job->t1, *signal::ParseFilter("bp:1:10"), direct).ok());
    EXPECT_EQ(filtered->Envelope(0, a, b, 900), direct.Envelope(0, a, b, 900));
    // The reading again: in place, and the filter is made anew from it.
    auto [status, opened] = again.get();
    ASSERT_TRUE(status.ok());
    viewer.Reopened(status, std::move(opened));
    EXPECT_EQ(viewer.Filtered(shown, a, b), nullptr);
    EXPECT_TRUE(viewer.FilterNeeded(shown, a, b));
    // A view at the ends of time: no wider span than it, and nothing beyond them read.
    const std::int64_t edge = std::numeric_limits<std::int64_t>::min() + 5;
    const auto far = viewer.FilterNeeded(shown, edge, edge + 3'000'000'000'000'000'000);
    ASSERT_TRUE(far);
    EXPECT_EQ(far->t0, edge);
    EXPECT_TRUE(RunFilterJob(*far).status.ok());
    // A filter that is no filter is refused in our words and the one chosen stays.
    EXPECT_EQ(viewer.FilterChosen("bp:one").why, Status::Why::kFilterUnreadable);
    EXPECT_NE(viewer.StatusText.find("bp:one"), std::string::npos);
    EXPECT_EQ(viewer.FilterNote(true), "零相位滤波 bp:1:10:4");
}

TEST(ViewFiles, ACacheEntryPerFileGrowsWithItsFileAndIsNeverTrustedBlindly) {
    TempDir dir;
    const StreamCodes codes{"XX", "ZQD01", "00", "GY0"};
    const auto file = dir / "day.mseed";
    std::int64_t t = Ns("2008-05-12T12:00:00");
    std::vector<std::int32_t> samples;
    auto append = [&](int seconds) {  // as the archive appends: whole records, the series going on
        std::ofstream out(file, std::ios::binary | std::ios::app);
        ChannelPacker p(codes, 2000, {}, [&](const char* r, int n, std::int64_t) { out.write(r, n); });
        std::vector<std::int32_t> v(static_cast<std::size_t>(seconds) * 2000);
        for (std::size_t j = 0; j < v.size(); ++j) v[j] = static_cast<std::int32_t>((samples.size() + j) * 37 % 9001);
        p.Add(t, v.data(), v.size(), Timing{100, true});
        samples.insert(samples.end(), v.begin(), v.end());
        t += seconds * utc::kNsPerSecond;
    };
    const auto cache = dir / "cache";
    auto open = [&](const view::CacheOptions& c) {
        Opened o;
        EXPECT_TRUE(OpenForView(file, DefaultConfig(), std::nullopt, std::nullopt, o, c).ok());
        return o;
    };
    auto same_as_fresh = [&](const Opened& o) {
        Opened fresh = open(view::CacheOptions{});
        const auto e = fresh.model->Extent();
        for (int width : {7, 300, 1000})
            ASSERT_EQ(o.model->Envelope(0, e->begin_ns, e->end_ns, width), fresh.model->Envelope(0, e->begin_ns, e->end_ns, width));
        ASSERT_EQ(o.model->Samples(), samples.size());
    };
    append(300);
    EXPECT_EQ(open(cache).files_indexed, 1);
    const auto first = CacheFiles(cache);
    ASSERT_EQ(first.size(), 1u);
    for (int round = 0; round < 12; ++round) {
        append(7);
        const Opened o = open(cache);
        EXPECT_EQ(o.files_extended, 1) << round;
        same_as_fresh(o);
        // One entry: a base and fewer than nine deltas, all of one key.
        const auto names = CacheFiles(cache);
        EXPECT_LE(names.size(), 9u) << round;
        for (const auto& n : names) EXPECT_EQ(n.substr(0, 16), first[0].substr(0, 16));
    }
    EXPECT_EQ(open(cache).files_cached, 1);

    // The file rewritten in place, its size and time kept: a byte in its
    // head, or one in the last bytes before where the scan stopped, and the
    // entry is not taken (the view is the file's own).
    for (const std::uint64_t from_end : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{4000}}) {
        const std::string before = test::ReadFile(file);
        const auto when = std::filesystem::last_write_time(file);
        std::string changed = before;
        const std::size_t at = from_end == 0 ? 100 : changed.size() - from_end;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        test::WriteFile(file, changed);
        std::filesystem::last_write_time(file, when);
        EXPECT_EQ(open(cache).files_indexed, 1) << from_end;
        test::WriteFile(file, before);
        std::filesystem::last_write_time(file, when);
        EXPECT_EQ(open(cache).files_indexed, 1) << from_end;  // and back: the entry was made for the changed bytes
        EXPECT_EQ(open(cache).files_cached, 1) << from_end;
    }

    // A byte changed in the entry's summaries (its finest level, which
    // follows the record places): drawn as the file says, not as the entry
    // does, and the entry made anew on the next open.
    {
        const auto base = cache / (first[0].substr(0, 16) + ".0.zidx");
        std::string bytes = test::ReadFile(base);
        ASSERT_GT(bytes.size(), 150000u);
        bytes[60000] ^= 0x10;
        test::WriteFile(base, bytes);
        const Opened again = open(cache);
        EXPECT_EQ(again.files_cached, 1);  // its directory is whole: taken, and checked as used
        same_as_fresh(again);
    }
    EXPECT_EQ(open(cache).files_indexed, 1);

    // Another file's entry under this file's name is refused, and so is a FIFO.
    const auto other = dir / "other.mseed";
    std::filesystem::copy_file(file, other);
    Opened o;
    ASSERT_TRUE(OpenForView(other, DefaultConfig(), std::nullopt, std::nullopt, o, cache).ok());
    for (const auto& n : CacheFiles(cache)) {
        const std::string key = view::SummaryCache::Key(std::filesystem::absolute(file).string());
        if (n.substr(0, 16) == key) std::filesystem::remove(cache / n);
    }
    const std::string key = view::SummaryCache::Key(std::filesystem::absolute(file).string());
    const std::string other_key = view::SummaryCache::Key(std::filesystem::absolute(other).string());
    std::filesystem::copy_file(cache / (other_key + ".0.zidx"), cache / (key + ".0.zidx"));
    EXPECT_EQ(open(cache).files_indexed, 1);
    std::filesystem::remove(cache / (key + ".0.zidx"));
    ASSERT_EQ(mkfifo((cache / (key + ".0.zidx")).c_str(), 0644), 0);
    EXPECT_EQ(open(cache).files_indexed, 1);  // and no hang

    // The cache within its size: the entry used least recently goes first.
    std::filesystem::remove_all(cache);
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 4; ++i) {
        files.push_back(dir / ("f" + std::to_string(i) + ".mseed"));
        std::filesystem::copy_file(file, files.back());
    }
    ASSERT_TRUE(OpenForView(files[0], DefaultConfig(), std::nullopt, std::nullopt, o, cache).ok());
    std::uint64_t one = 0;
    for (const auto& n : CacheFiles(cache)) one += std::filesystem::file_size(cache / n);
    const view::CacheOptions small{cache, one * 5 / 2};  // room for two entries
    for (int i = 1; i < 4; ++i) ASSERT_TRUE(OpenForView(files[static_cast<std::size_t>(i)], DefaultConfig(), std::nullopt, std::nullopt, o, small).ok());
    std::uint64_t total = 0;
    std::set<std::string> keys;
    for (const auto& n : CacheFiles(cache)) {
        total += std::filesystem::file_size(cache / n);
        keys.insert(n.substr(0, 16));
    }
    EXPECT_LE(total, small.limit_bytes);
    EXPECT_EQ(keys.count(view::SummaryCache::Key(std::filesystem::absolute(files[3]).string())), 1u);
    EXPECT_EQ(keys.count(view::SummaryCache::Key(std::filesystem::absolute(files[0]).string())), 0u);
}

// One record whose year was changed: only that record is passed over, and said.
TEST(ViewFiles, ARecordWithABadTimeIsPassedOverNotTheRestOfItsFile) {
    TempDir dir;
    const StreamCodes codes{"XX", "ZQD01", "00", "GY0"};
    std::vector<std::int32_t> v(60000);
    for (std::size_t j = 0; j < v.size(); ++j) v[j] = static_cast<std::int32_t>(j % 4000);
    std::string bytes;
    ChannelPacker p(codes, 2000, {}, [&](const char* r, int n, std::int64_t) { bytes.append(r, static_cast<std::size_t>(n)); });
    p.Add(Ns("2008-05-12T12:00:00"), v.data(), v.size(), Timing{100, true});
    p.Pack(true);
    const std::size_t records = bytes.size() / 512;
    ASSERT_GT(records, 20u);
    bytes[(records / 2) * 512 + 20 + 1] ^= 0x01;  // one byte of the middle record's year (BTIME at 20, big-endian)
    test::WriteFile(dir / "x.mseed", bytes);
    Opened o;
    ASSERT_TRUE(OpenForView(dir / "x.mseed", DefaultConfig(), std::nullopt, std::nullopt, o, dir / "cache").ok());
    const auto& ch = o.model->At(0);
    ASSERT_EQ(ch.stretches.size(), 2u);  // before and after the passed-over record
    EXPECT_EQ(ch.stretches[0].start_ns, Ns("2008-05-12T12:00:00"));
    EXPECT_EQ(ch.stretches[1].EndNs(), Ns("2008-05-12T12:00:30"));
    EXPECT_GT(o.model->Samples(), v.size() - 1000);
    std::string notes;
    for (const auto& n : app::OpenedNotes(o)) notes += n;
    EXPECT_NE(notes.find("1 个记录的时间与前后记录都不相接"), std::string::npos) << notes;
    EXPECT_EQ(notes.find("重叠"), std::string::npos) << notes;
    // From the cache the same.
    Opened cached;
    ASSERT_TRUE(OpenForView(dir / "x.mseed", DefaultConfig(), std::nullopt, std::nullopt, cached, dir / "cache").ok());
    EXPECT_EQ(cached.files_cached, 1);
    EXPECT_EQ(cached.model->At(0).stretches.size(), 2u);
}

// A card whose clock runs fast tears its series back by part of a sample
// (the time tolerance): the viewer shows every series; a real overlap it
// passes over, and says so.
TEST(ViewFiles, ASeriesTornBackByLessThanASampleIsShownAndARealOverlapIsNot) {
    TempDir dir;
    const StreamCodes codes{"XX", "ZQD01", "00", "GY0"};
    std::vector<std::int32_t> v(20000, 7);
    std::string bytes;
    ChannelPacker p(codes, 2000, {}, [&](const char* r, int n, std::int64_t) { bytes.append(r, static_cast<std::size_t>(n)); });
    const std::int64_t t0 = Ns("2008-05-12T12:00:00");
    p.Add(t0, v.data(), v.size(), Timing{100, true});                            // 10 s
    p.Add(t0 + 10 * utc::kNsPerSecond - 270000, v.data(), v.size(), Timing{100, true});  // torn 270 us back
    p.Add(t0 + 15 * utc::kNsPerSecond, v.data(), v.size(), Timing{100, true});  // 5 s back: overlaps
    p.Pack(true);
    test::WriteFile(dir / "x.mseed", bytes);
    Opened o;
    ASSERT_TRUE(OpenForView(dir / "x.mseed", DefaultConfig(), std::nullopt, std::nullopt, o, dir / "cache").ok());
    const auto& ch = o.model->At(0);
    ASSERT_EQ(ch.stretches.size(), 2u);
    EXPECT_EQ(ch.stretches[1].start_ns, t0 + 10 * utc::kNsPerSecond - 270000);
    std::string notes;
    for (const auto& n : app::OpenedNotes(o)) notes += n;
    EXPECT_NE(notes.find("重叠"), std::string::npos) << notes;

    // A short series between two tears, one record long, whose neighbours
    // would join without it: a good record all the same, kept.
    bytes.clear();
    ChannelPacker q(codes, 2000, {}, [&](const char* r, int n, std::int64_t) { bytes.append(r, static_cast<std::size_t>(n)); });
    q.Add(t0, v.data(), v.size(), Timing{100, true});
    q.Add(t0 + 10 * utc::kNsPerSecond - 300000, v.data(), 100, Timing{100, true});  // one record
    q.Add(t0 + 10 * utc::kNsPerSecond + 50000000, v.data(), v.size(), Timing{100, true});
    q.Pack(true);
    test::WriteFile(dir / "y.mseed", bytes);
    Opened y;
    ASSERT_TRUE(OpenForView(dir / "y.mseed", DefaultConfig(), std::nullopt, std::nullopt, y, dir / "cache").ok());
    EXPECT_EQ(y.model->Samples(), 2 * v.size() + 100);
    notes.clear();
    for (const auto& n : app::OpenedNotes(y)) notes += n;
    EXPECT_EQ(notes.find("已跳过"), std::string::npos) << notes;
}

TEST(ViewFiles, TheVisibleSpanExportsAsMiniSeedSacAndCsv) {
    TempDir dir;
    const auto file = MakeRecord(dir.path(), "2008-05-12T10:00:00.000000000", 3);
    const auto codes = test::SimRecord("2008-05-12T10:00:00.000000000", 3);
    Opened o;
    ASSERT_TRUE(OpenForView(file, DefaultConfig(), std::nullopt, std::nullopt, o).ok());
    const std::int64_t t0 = Ns("2008-05-12T10:00:00.500000000"), t1 = Ns("2008-05-12T10:00:01.500000000");
    for (const char* format : {"mseed", "sac", "csv"}) {
        int files = 0;
        ASSERT_TRUE(view::ExportSpan(*o.model, {1, 2}, t0, t1, format, DefaultConfig().records.station, DefaultConfig().records.pack,
                                     dir / format, files)
                        .ok());
        EXPECT_EQ(files, 2);
    }
    const ReadBack rb = Read(dir / "mseed" / "XX.ZQD01.00.GY0.2008.133.100000.mseed");
    ASSERT_EQ(rb.series.size(), 1u);
    EXPECT_EQ(rb.series_start[0], t0);
    ASSERT_EQ(rb.series[0].size(), 2000u);
    for (std::size_t j = 0; j < 2000; ++j) ASSERT_EQ(rb.series[0][j], codes[(1000 + j) * 18 + 2]);
    const std::string csv = test::ReadFile(dir / "csv" / "XX.ZQD01.00.GY1.2008.133.100000.csv");
    const std::string head = "time,GY1\n2008-05-12T10:00:00.500000Z," + std::to_string(codes[1000 * 18 + 3]) +
                             "\n2008-05-12T10:00:00.500500Z," + std::to_string(codes[1001 * 18 + 3]) + "\n";
    EXPECT_EQ(csv.substr(0, head.size()), head);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2001);
}


// Far dates, linked year folders and things that only look like day files:
// nothing overflows, everything readable is read, the rest is said.
TEST(ViewFiles, FarDatesLinkedYearsAndNonFilesAreSaidNotHidden) {
    TempDir dir;
    const StreamCodes codes{"XX", "ZQD01", "00", "GY0"};
    std::vector<std::int32_t> samples(4000, 5);
    // A record that begins in 2262 and would end beyond what 64-bit ns hold.
    {
        std::ofstream out(dir / "far.mseed", std::ios::binary);
        ChannelPacker p(codes, 2000, {}, [&](const char* r, int n, std::int64_t) { out.write(r, n); });
        p.Add(std::numeric_limits<std::int64_t>::max() - 500'000'000, samples.data(), 2000, Timing{100, true});
    }
    mseed::ScanCounts counts;
    ASSERT_TRUE(mseed::ScanFile(dir / "far.mseed", [](const mseed::RecordInfo& r) {
        EXPECT_LT(r.start_ns, timeline::SampleTime(r.start_ns, static_cast<double>(r.samples), r.rate));
        EXPECT_LT(timeline::SampleTime(r.start_ns, static_cast<double>(r.samples), r.rate), std::numeric_limits<std::int64_t>::max());
    }, counts).ok());
    EXPECT_GE(counts.records, 1u);  // those that end in time
    EXPECT_GE(counts.bad, 1u);      // those that would not
    Opened far;
    ASSERT_TRUE(OpenForView(dir / "far.mseed", DefaultConfig(), std::nullopt, std::nullopt, far, dir / "cache").ok());
    const auto extent = far.model->Extent();
    ASSERT_TRUE(extent);
    (void)far.model->Envelope(0, extent->begin_ns, extent->end_ns, 500);

    // The year folder is a link to where the data are; beside the real day
    // file, a FIFO with a day file's name.
    const auto real = dir / "elsewhere" / "2008" / "XX" / "ZQD01" / "GY0.D";
    std::filesystem::create_directories(real);
    sds::SdsWriter sds(dir / "elsewhere");
    ChannelPacker p(codes, 2000, {}, [&](const char* r, int n, std::int64_t t) { ASSERT_TRUE(sds.Append(codes, t, r, n).ok()); });
    p.Add(Ns("2008-05-12T12:00:00"), samples.data(), samples.size(), Timing{100, true});
    p.Pack(true);
    ASSERT_TRUE(sds.Sync().ok());
    ASSERT_EQ(mkfifo((real / "XX.ZQD01.00.GY0.D.2008.134").c_str(), 0644), 0);
    std::filesystem::create_directories(dir / "sds");
    std::filesystem::create_directory_symlink(dir / "elsewhere" / "2008", dir / "sds" / "2008");
    Opened o;
    const Status s = OpenForView(dir / "sds", DefaultConfig(), std::nullopt, std::nullopt, o, dir / "cache");
    ASSERT_TRUE(s.ok()) << app::Text(s);
    EXPECT_EQ(o.model->Samples(), samples.size());
    std::string notes;
    for (const auto& n : app::OpenedNotes(o)) notes += n + "\n";
    EXPECT_NE(notes.find("XX.ZQD01.00.GY0.D.2008.134"), std::string::npos) << notes;
    EXPECT_NE(notes.find("FIFO"), std::string::npos) << notes;
}

// A miniSEED file given to convert is told apart from a record, not read as one.
TEST(Convert, AMiniSeedFileIsRefusedAsDataAlreadyNotAsABadRecord) {
    TempDir dir;
    {
        std::ofstream out(dir / "x.mseed", std::ios::binary);
        std::vector<std::int32_t> samples(2000, 1);
        ChannelPacker p({"XX", "ZQD01", "00", "GY0"}, 2000, {}, [&](const char* r, int n, std::int64_t) { out.write(r, n); });
        p.Add(Ns("2008-05-12T12:00:00"), samples.data(), samples.size(), Timing{100, true});
    }
    ConvertOptions o;
    o.format = "sac";
    o.out = dir / "out";
    ConvertSummary sum;
    std::string said;
    const Status st = ConvertRecord(dir / "x.mseed", o, sum, [&](const ConvertNote& n) { said += app::NoteText(n); });
    EXPECT_FALSE(st.ok());
    EXPECT_NE(said.find("miniSEED"), std::string::npos) << said;
    EXPECT_EQ(said.find("为负"), std::string::npos) << said;
}

}  // namespace
}  // namespace zqd::archive

#include <condition_variable>

#include "records/record_hub.h"

namespace zqd {
namespace {

// The ring of live data has each record as it is published, while the
// disk's taker is stalled: the disk's queue fills and counts what it lets
// go, the ring misses nothing and waits for nothing.
TEST(RecordHub, TheRingHasEachRecordAsItIsMadeWhileTheDiskIsStalled) {
    struct Counting : records::RecordSubscriber {
        std::atomic<int> records{0};
        void OnRecord(const records::RecordPtr&) override { ++records; }
    };
    struct Stalled : records::RecordSubscriber {
        std::mutex m;
        std::condition_variable cv;
        bool released = false;
        std::atomic<std::uint64_t> records{0}, lost{0};
        void OnRecord(const records::RecordPtr&) override {
            std::unique_lock lock(m);
            cv.wait(lock, [this] { return released; });
            ++records;
        }
        void OnLost(std::uint64_t n, std::uint64_t) override { lost += n; }
        void Release() {
            std::lock_guard lock(m);
            released = true;
            cv.notify_all();
        }
    };
    auto ring = std::make_shared<Counting>();
    auto disk = std::make_shared<Stalled>();
    records::RecordHub hub(true);
    hub.Subscribe(disk, 8);
    hub.SubscribeFirst(ring);  // made after the disk's, served before it
    for (int i = 0; i < 20; ++i) {
        auto r = std::make_shared<records::Record>();
        r->samples = 100;
        hub.Publish(r);
        EXPECT_EQ(ring->records.load(), i + 1);  // at once, not after a queue's thread
    }
    disk->Release();
    hub.Drain();
    hub.Publish(records::Mark::kEnd);  // the loss is told before the next item
    hub.Drain();
    EXPECT_EQ(disk->records + disk->lost, 20u);
    EXPECT_LE(disk->records.load(), 9u);  // its queue's eight and the one it was holding
    EXPECT_EQ(ring->records.load(), 20);
}

}  // namespace
}  // namespace zqd
