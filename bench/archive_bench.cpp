// make bench, the archive: the CPU cost of archiving against libmseed alone
// packing the same samples, and keeping up with a card a hundred times faster
// than real time.
#include <benchmark/benchmark.h>
#include <libmseed.h>

#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/sink.h"
#include "archive/archive_run.h"
#include "card/card.h"
#include "config/station_config.h"
#include "convert/convert.h"
#include "formats/t1dat/t1dat_writer.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "card/sim/sim_card.h"
#ifdef ZQD_HAVE_RESAMPLE
#include <samplerate.h>
#include "signal/resampler.h"
#endif
#include "common/utc.h"

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// CPU time of this process in ms: the archive's cost without the disk's waits.
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

constexpr int kDistinct = 60;  // distinct seconds of the simulated card, reused

std::vector<std::shared_ptr<zqd::acq::Block>> SimBlocks() {
    zqd::sim::SimSettings s;
    s.start_from_clock = false;
    zqd::sim::ParseStartTime("2008-05-12T10:00:00.000000000", s.start_ns);
    zqd::sim::SimCard sim(s, [] { return 0; });
    sim.Initial(320, 5, 0, 0);
    sim.StartIntr(10, 2000, 0, 18, 2000, 0, 1);
    std::vector<std::shared_ptr<zqd::acq::Block>> blocks;
    for (int k = 0; k < kDistinct; ++k) {
        auto b = std::make_shared<zqd::acq::Block>();
        b->ChnNum = 18;
        b->ChnPoints = 2000;
        b->SampleFrq = 2000;
        b->words.assign(36002, 0);
        sim.FillSamples(k, b->words.data() + 1);
        b->time_status = zqd::acq::TimeStatus::kOwn;
        blocks.push_back(std::move(b));
    }
    return blocks;
}

void Discard(char*, int, void* bytes) { *static_cast<std::int64_t*>(bytes) += 512; }

// libmseed's record template for one channel, packed as the archive packs it.
MSRecord* LibmseedTemplate(const std::string& code) {
    MSRecord* msr = msr_init(nullptr);
    std::snprintf(msr->network, 11, "XX");
    std::snprintf(msr->station, 11, "ZQD01");
    std::snprintf(msr->channel, 11, "%s", code.c_str());
    msr->samprate = 2000;
    msr->reclen = 512;
    msr->encoding = DE_STEIM2;
    msr->byteorder = 1;
    msr->sampletype = 'i';
    return msr;
}

// Ten minutes of 17 channels at 2000 samples/s: the CPU time of the archive
// (the records made, written, synced) beside libmseed alone packing the same
// samples and the raw appends of the same bytes, and of the records alone
// beside libmseed alone; the cost of an hour is six times each.
void BM_ArchiveAgainstLibmseed(benchmark::State& state) {
    const auto blocks = SimBlocks();
    const auto config = zqd::config::DefaultConfig();
    const int seconds = 600;
    const auto dir = std::filesystem::temp_directory_path() / "zqd-bench-archive";
    double archive_ms = 0, packing_ms = 0, alone_ms = 0, io_ms = 0;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        std::filesystem::remove_all(dir);
        const std::int64_t t0 = zqd::utc::ToNs({2008, 5, 12, 10, 0, 0, 0});
        std::vector<zqd::acq::BlockPtr> timed;  // made before the measurement
        for (int k = 0; k < seconds; ++k) {
            auto b = std::make_shared<zqd::acq::Block>(*blocks[static_cast<std::size_t>(k % kDistinct)]);
            b->time_ns = t0 + k * zqd::utc::kNsPerSecond;
            b->sequence = static_cast<std::uint64_t>(k);
            timed.push_back(std::move(b));
        }
        auto cfg = config;
        cfg.records.flush_seconds = 3600;  // no waiting for the disk inside the measurement
        const double a0 = CpuMs();
        {
            zqd::archive::StationArchive archive(cfg.Run(), dir, {}, false);
            zqd::acq::Event started;
            started.kind = zqd::acq::Event::Kind::kStarted;
            archive.Records()->OnEvent(started);
            for (const auto& b : timed) archive.Records()->OnBlock(b);
            archive.Finish();
            bytes = static_cast<std::int64_t>(archive.Snapshot().disk.bytes);
        }
        const double a1 = CpuMs();
        // The records alone, made and handed on to a taker that keeps nothing.
        const double p0 = CpuMs();
        {
            struct Nothing final : zqd::records::RecordSubscriber {
                void OnRecord(const zqd::records::RecordPtr&) override {}
            };
            auto hub = std::make_shared<zqd::records::RecordHub>(false);
            hub->Subscribe(std::make_shared<Nothing>(), 1024);
            zqd::records::StationRecords records(cfg.records, cfg.timing, hub);
            zqd::acq::Event started;
            started.kind = zqd::acq::Event::Kind::kStarted;
            records.OnEvent(started);
            for (const auto& b : timed) records.OnBlock(b);
            records.Finish();
        }
        const double p1 = CpuMs();
        // libmseed alone: the same samples of each channel, packed the same way.
        std::vector<std::vector<std::int32_t>> channels(config.records.channels.size(), std::vector<std::int32_t>(2000));
        const double l0 = CpuMs();
        std::int64_t packed_bytes = 0;
        std::vector<MSRecord*> msrs;
        for (const auto& [offset, code] : config.records.channels) msrs.push_back(LibmseedTemplate(code));
        std::vector<std::vector<std::int32_t>> held(config.records.channels.size());
        for (int k = 0; k < seconds; ++k) {
            const auto& b = *blocks[static_cast<std::size_t>(k % kDistinct)];
            std::size_t c = 0;
            for (const auto& [offset, code] : config.records.channels) {
                auto& h = held[c];
                for (int j = 0; j < 2000; ++j) h.push_back(static_cast<std::uint16_t>(b.At(j, offset)));
                MSRecord* msr = msrs[c];
                msr->starttime = static_cast<hptime_t>((zqd::utc::ToNs({2008, 5, 12, 10, 0, 0, 0}) / 1000));
                msr->datasamples = h.data();
                msr->numsamples = static_cast<std::int64_t>(h.size());
                std::int64_t n = 0;
                msr_pack(msr, Discard, &packed_bytes, &n, 0, 0);
                h.erase(h.begin(), h.begin() + n);
                ++c;
            }
        }
        for (std::size_t c = 0; c < msrs.size(); ++c) {
            std::int64_t n = 0;
            msrs[c]->datasamples = held[c].data();
            msrs[c]->numsamples = static_cast<std::int64_t>(held[c].size());
            msr_pack(msrs[c], Discard, &packed_bytes, &n, 1, 0);
            msrs[c]->datasamples = nullptr;
            msr_free(&msrs[c]);
        }
        const double l1 = CpuMs();
        // The raw I/O the archive cannot avoid: the same bytes appended to 17
        // files in the same pieces, synced once.
        const double w0 = CpuMs();
        {
            std::filesystem::remove_all(dir);
            std::filesystem::create_directories(dir);
            std::vector<zqd::platform::AppendFile> files(config.records.channels.size());
            for (std::size_t c = 0; c < files.size(); ++c) (void)files[c].Open(dir / std::to_string(c));
            const std::size_t piece = static_cast<std::size_t>(bytes) / (static_cast<std::size_t>(seconds) * files.size());
            std::vector<char> buffer(piece, 1);
            for (int k = 0; k < seconds; ++k)
                for (auto& f : files) (void)f.Append(buffer.data(), buffer.size());
            for (auto& f : files) (void)f.Sync();
        }
        const double w1 = CpuMs();
        archive_ms += a1 - a0;
        packing_ms += p1 - p0;
        alone_ms += l1 - l0;
        io_ms += w1 - w0;
    }
    std::filesystem::remove_all(dir);
    const double n = static_cast<double>(state.iterations());
    state.counters["archive_ms_per_hour"] = archive_ms / n * 6;
    state.counters["libmseed_alone_ms_per_hour"] = alone_ms / n * 6;
    state.counters["raw_io_ms_per_hour"] = io_ms / n * 6;
    state.counters["archive/libmseed"] = archive_ms / alone_ms;
    state.counters["packing/libmseed"] = packing_ms / alone_ms;
    state.counters["archive/(libmseed+raw_io)"] = archive_ms / (alone_ms + io_ms);
    state.counters["MB_per_hour"] = static_cast<double>(bytes) * 6 / 1e6;
    state.counters["compression_vs_int32"] =
        static_cast<double>(seconds) * 2000 * 17 * 4 / static_cast<double>(bytes);
}
BENCHMARK(BM_ArchiveAgainstLibmseed)->Iterations(2)->Unit(benchmark::kMillisecond);

// 30 minutes of data from a card running a hundred times faster than real
// time, through the simulated card's library and the engine `acquire` runs,
// at its default polling: what was lost, as the archive counts it.
void BM_KeepingUpAt100x(benchmark::State& state) {
    const auto dir = std::filesystem::temp_directory_path() / "zqd-bench-keepup";
    double lost = -1, wall = 0;
    setenv("ADCARD_SIM_SPEED", "100", 1);
    setenv("ADCARD_SIM_START", "2008-05-12T10:00:00", 1);
    for (auto _ : state) {
        std::filesystem::remove_all(dir);
        zqd::DllCard card;
        zqd::acq::Session session(card, {true, std::chrono::milliseconds(200)});
        zqd::archive::ArchiveRun run(session);
        const auto t0 = Clock::now();
        constexpr std::int64_t kLimit = 1800 * zqd::utc::kNsPerSecond;
        if (!run.Start(zqd::config::DefaultConfig().Run(), dir, {}, kLimit).ok()) std::abort();
        while (run.Snapshot().station.archived_ns < kLimit && session.Running())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        run.Stop();
        wall = Ms(Clock::now() - t0) / 1000;
        const auto st = run.Snapshot();
        lost = static_cast<double>(st.station.read_failures + st.station.overflowed_blocks + st.station.time_gaps +
                                   st.station.dropped_blocks + st.disk.unwritten_records);
        state.counters["blocks"] = static_cast<double>(st.station.blocks);
    }
    unsetenv("ADCARD_SIM_SPEED");
    unsetenv("ADCARD_SIM_START");
    std::filesystem::remove_all(dir);
    state.counters["wall_s"] = wall;
    state.counters["blocks_or_records_lost"] = lost;
}
BENCHMARK(BM_KeepingUpAt100x)->Iterations(1)->Unit(benchmark::kSecond);

// The default T1.DAT (20 blocks, 92 MB) to miniSEED of all 17 channels,
// beside a raw read of the file plus libmseed packing the same samples alone,
// and beside that plus the bare durable write of as many bytes to 17 files.
void BM_ConvertDefaultRecord(benchmark::State& state) {
    const auto dir = std::filesystem::temp_directory_path() / "zqd-bench-convert";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const auto blocks = SimBlocks();
    std::vector<std::int32_t> data;
    data.reserve(720001);
    for (int k = 0; k < 20; ++k)
        for (std::size_t i = 1; i <= 36000; ++i)
            data.push_back(static_cast<std::uint16_t>(blocks[static_cast<std::size_t>(k)]->words[i]));
    data.push_back(0);
    if (!zqd::t1dat::SaveRecordFile(dir / "T1.DAT", 20, 2000, data.data(), data.size()).ok()) std::abort();
    const auto config = zqd::config::DefaultConfig();
    double convert = 0, raw = 0, pack = 0, durable = 0;
    for (auto _ : state) {
        const auto c0 = Clock::now();
        zqd::convert::ConvertOptions o;
        o.out = dir / "out";
        zqd::convert::ConvertSummary sum;
        if (!zqd::convert::ConvertRecord(dir / "T1.DAT", o, sum, [](const zqd::convert::ConvertNote&) {}).ok()) std::abort();
        const auto c1 = Clock::now();
        {
            std::vector<char> buf(1 << 20);
            const int fd = open((dir / "T1.DAT").c_str(), O_RDONLY);
            long long sum_bytes = 0;
            ssize_t n;
            while ((n = read(fd, buf.data(), buf.size())) > 0) sum_bytes += n;
            close(fd);
            benchmark::DoNotOptimize(sum_bytes);
        }
        const auto c2 = Clock::now();
        std::int64_t bytes = 0;
        std::vector<std::int32_t> channel(40000);
        for (const auto& [offset, code] : config.records.channels) {
            for (std::size_t j = 0; j < 40000; ++j) channel[j] = data[j * 18 + static_cast<std::size_t>(offset)];
            MSRecord* msr = LibmseedTemplate(code);
            msr->datasamples = channel.data();
            msr->numsamples = 40000;
            std::int64_t packed = 0;
            msr_pack(msr, Discard, &bytes, &packed, 1, 0);
            msr->datasamples = nullptr;
            msr_free(&msr);
        }
        const auto c3 = Clock::now();
        // The durable write the outputs cannot do without: the same bytes into
        // as many new files, each synced and renamed, the folder synced once.
        {
            const auto wdir = dir / "raw-write";
            std::filesystem::create_directories(wdir);
            const std::size_t each = static_cast<std::size_t>(bytes) / config.records.channels.size();
            std::vector<char> out(each, 1);
            for (std::size_t c = 0; c < config.records.channels.size(); ++c) {
                const auto tmp = wdir / (std::to_string(c) + ".tmp");
                const int fd = open(tmp.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
                if (fd < 0 || write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size()) || fdatasync(fd) != 0)
                    std::abort();
                close(fd);
                std::filesystem::rename(tmp, wdir / std::to_string(c));
            }
            const int dfd = open(wdir.c_str(), O_RDONLY | O_DIRECTORY);
            fsync(dfd);
            close(dfd);
        }
        const auto c4 = Clock::now();
        convert += Ms(c1 - c0);
        raw += Ms(c2 - c1);
        pack += Ms(c3 - c2);
        durable += Ms(c4 - c3);
    }
    std::filesystem::remove_all(dir);
    const double n = static_cast<double>(state.iterations());
    state.counters["convert_ms"] = convert / n;
    state.counters["raw_read_ms"] = raw / n;
    state.counters["libmseed_pack_ms"] = pack / n;
    state.counters["durable_write_ms"] = durable / n;
    state.counters["convert/(read+pack)"] = convert / (raw + pack);
    state.counters["convert/(read+pack+durable_write)"] = convert / (raw + pack + durable);
}
BENCHMARK(BM_ConvertDefaultRecord)->Iterations(5)->Unit(benchmark::kMillisecond);


#ifdef ZQD_HAVE_RESAMPLE
// Resampling 17 channels at 2000 samples/s onto the nominal rate, a card
// buffer (a second) at a time, against libsamplerate converting the same
// frames alone at a fixed ratio; the two alternate in one run.
void BM_Resample17Channels(benchmark::State& state) {
    constexpr int kChannels = 17, kFrames = 2000;
    std::vector<float> frames(static_cast<std::size_t>(kChannels) * kFrames);
    for (int j = 0; j < kFrames; ++j)
        for (int c = 0; c < kChannels; ++c)
            frames[static_cast<std::size_t>(j * kChannels + c)] =
                static_cast<float>(2048 + 500 * std::sin(0.01 * j * (c + 1)));
    zqd::signal::GridResampler ours(kChannels, 2000);
    int error = 0;
    SRC_STATE* alone = src_new(SRC_SINC_FASTEST, kChannels, &error);
    std::vector<float> out(frames.size() + 64 * kChannels);
    const double rate = 2000.05;  // 25 ppm fast
    std::int64_t t = 1210613920300000000;
    std::size_t made = 0;
    double ours_ms = 0, alone_ms = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        ours.Add(frames.data(), kFrames, t, rate, [&](const zqd::signal::GridResampler::Output& o) { made += o.count; });
        ours_ms += Ms(Clock::now() - t0);
        t += static_cast<std::int64_t>(kFrames / rate * 1e9);
        t0 = Clock::now();
        SRC_DATA d{};
        d.data_in = frames.data();
        d.input_frames = kFrames;
        d.data_out = out.data();
        d.output_frames = static_cast<long>(out.size() / kChannels);
        d.src_ratio = 2000 / rate;
        src_process(alone, &d);
        alone_ms += Ms(Clock::now() - t0);
        benchmark::DoNotOptimize(out.data());
    }
    src_delete(alone);
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_share_of_core_%"] = ours_ms / n / 1000 * 100;
    state.counters["library_alone_share_%"] = alone_ms / n / 1000 * 100;
    state.counters["ours_over_library"] = ours_ms / alone_ms;
    state.counters["frames_out"] = static_cast<double>(made);
}
BENCHMARK(BM_Resample17Channels)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
