// make bench, the waveform view over a day of a whole card: 24 hours of 17
// channels at 2000 samples/s (2.9 billion samples) in an SDS archive made
// with the archive's writer. Redrawing the whole window at every zoom,
// opening the archive with its summaries cached, building the summaries of
// an hour against libmseed alone unpacking the same records, the memory
// held while viewing, and appending a live block.
#include <benchmark/benchmark.h>
#include <libmseed.h>

#include <QGuiApplication>
#include <QImage>

#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "formats/mseed/mseed_packer.h"
#include "view/sources/mseed_source.h"
#include "formats/sds/sds_writer.h"
#include "formats/sds/sds_layout.h"
#include "view/sources/open.h"
#include "config/station_config.h"
#include "app/frm_viewer.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "common/utc.h"
#include "ui/helicorder_paint.h"
#include "ui/waveform_widget.h"

namespace {

// The day's archive as the viewer opens it, with the default channels.
zqd::Status OpenDay(const std::filesystem::path& root, zqd::view::Opened& o, const std::filesystem::path& cache) {
    const auto config = zqd::config::DefaultConfig();
    const std::vector<std::pair<int, std::string>> rows(config.records.channels.begin(), config.records.channels.end());
    return zqd::view::OpenForView(root, config.card.ChnNum, rows, std::nullopt, std::nullopt, o, cache);
}

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

constexpr std::int64_t kDay0 = 1210550400LL * 1000000000;  // 2008-05-12T00:00:00Z
constexpr int kChannels = 17;

// A sine per channel and a small saw: differences that Steim-2 packs much as
// a quiet seismometer's.
std::vector<std::int32_t> SineTable() {
    std::vector<std::int32_t> t(1 << 16);
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<std::int32_t>(800 * std::sin(static_cast<double>(i) * 2 * M_PI / 65536));
    return t;
}

void Fill(int c, std::uint64_t first, std::vector<std::int32_t>& out) {
    static const std::vector<std::int32_t> table = SineTable();
    for (std::size_t j = 0; j < out.size(); ++j) {
        const std::uint64_t i = first + j;
        out[j] = 2048 + table[(i * static_cast<std::uint64_t>(3 + c)) & 0xFFFF] + static_cast<std::int32_t>(i % 37);
    }
}

std::uint64_t FreeBytes(const std::filesystem::path& p) {
    std::error_code ec;
    return std::filesystem::space(p, ec).available;
}

// `hours` hours of every channel from kDay0 into `root`, unless a complete one is there.
bool MakeArchive(const std::filesystem::path& root, int hours) {
    if (std::filesystem::exists(root / ".complete")) return true;
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    if (FreeBytes(root) < static_cast<std::uint64_t>(hours) * 200'000'000ULL) return false;
    zqd::sds::SdsWriter sds(root);
    std::vector<std::unique_ptr<zqd::mseed::ChannelPacker>> packers;
    std::vector<zqd::StreamCodes> codes;
    bool ok = true;
    for (int c = 0; c < kChannels; ++c) {
        codes.push_back({"XX", "ZQD01", "00", std::string("GY") + "0123456789ABCDEFG"[c]});
        const auto& code = codes.back();
        packers.push_back(std::make_unique<zqd::mseed::ChannelPacker>(
            code, 2000, zqd::mseed::PackOptions{}, [&sds, &ok, code](const char* r, int n, std::int64_t t) {
                ok = ok && sds.Append(code, t, r, n).ok();
            }));
    }
    std::vector<std::int32_t> minute(120000);
    for (int m = 0; m < hours * 60; ++m)
        for (int c = 0; c < kChannels; ++c) {
            Fill(c, static_cast<std::uint64_t>(m) * minute.size(), minute);
            packers[static_cast<std::size_t>(c)]->Add(kDay0 + m * 60 * zqd::utc::kNsPerSecond, minute.data(), minute.size(),
                                                      zqd::mseed::Timing{100, true});
        }
    packers.clear();  // the last records
    ok = ok && sds.Sync().ok();
    if (ok) std::ofstream(root / ".complete") << "made by make bench\n";
    return ok;
}

std::filesystem::path BenchRoot() { return zqd::platform::TempDir() / "zqd-bench-waveforms"; }

QGuiApplication& App() {
    static int argc = 1;
    static char name[] = "zqd_bench";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(argc, argv);
    return app;
}

double RssMb() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * 4096 / 1e6;
}

struct Day {
    bool ok = false;
    std::shared_ptr<zqd::view::WaveformModel> model;
    double first_open_s = -1;  // building every summary of the day; -1: the cache was there
};

// The day's archive, opened once with its summaries built (and cached);
// opened again from the cache when a benchmark let go of the model.
Day& TheDay() {
    static Day day = [] {
        Day d;
        const auto root = BenchRoot();
        if (!MakeArchive(root / "day", 24)) return d;
        zqd::view::Opened o;
        const auto t0 = Clock::now();
        if (!OpenDay(root / "day", o, root / "cache")
                 .ok())
            return d;
        if (o.files_indexed > 0) d.first_open_s = Ms(Clock::now() - t0) / 1000;
        d.model = o.model;
        d.ok = true;
        return d;
    }();
    if (day.ok && !day.model) {
        zqd::view::Opened o;
        if (OpenDay(BenchRoot() / "day", o, BenchRoot() / "cache").ok())
            day.model = o.model;
        else
            day.ok = false;
    }
    return day;
}

// Drawing into 1920 x 1080 again and again, the worst time kept. The first
// drawing (decoding what it shows, checking the cached summaries it touches)
// is the open's or the zoom's and is given apart; what is measured is
// drawing the same again, as a cursor move or a row change does.
template <typename Draw>
void TimeRedraws(benchmark::State& state, Draw draw) {
    QImage image(1920, 1080, QImage::Format_RGB32);
    const auto first = Clock::now();
    {
        QPainter p(&image);
        draw(p, image.rect());
    }
    state.counters["first_ms"] = Ms(Clock::now() - first);
    double worst = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        QPainter p(&image);
        draw(p, image.rect());
        p.end();
        worst = std::max(worst, Ms(Clock::now() - t0));
    }
    state.counters["worst_ms"] = worst;
}

// The whole window, 1920 x 1080 with all 17 rows, at a zoom: the day, an
// hour, a minute, a second, 100 samples (state.range(0) samples, centred at noon).
void BM_RedrawWholeWindow(benchmark::State& state) {
    App();
    Day& d = TheDay();
    if (!d.ok) {
        state.SkipWithError("no room for the day's archive (2.6 GB) in the temporary folder");
        return;
    }
    zqd::view::WaveformView v;
    v.Fit(*d.model);
    const std::int64_t span = state.range(0) * 500'000;  // samples at 2000/s
    const std::int64_t noon = kDay0 + 12 * 3600 * zqd::utc::kNsPerSecond + 123'456'789;
    v.SetSpan(noon - span / 2, noon + span / 2);
    TimeRedraws(state, [&](QPainter& p, const QRect& r) { zqd::ui::PaintWaveforms(p, r, *d.model, v); });
}
BENCHMARK(BM_RedrawWholeWindow)
    ->ArgName("samples")
    ->Arg(172800000)
    ->Arg(7200000)
    ->Arg(120000)
    ->Arg(2000)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond);

// What a machine that has just started has: the day's files and its cached
// summaries out of the page cache (what the kernel lets go of unasked; no
// rights needed), and a model opened anew, without a decoded span.
void DropFromPageCache(const std::filesystem::path& root) {
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec); !ec && it != std::filesystem::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const int fd = ::open(it->path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        (void)::fdatasync(fd);
        (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

// The whole window at each zoom after a cold start: each iteration drops
// the day from the page cache, opens it again from the summary cache, draws
// it once (cold_first_ms, the worst of the iterations) and then draws it
// again five times (worst_ms: the worst redraw of every iteration).
void BM_RedrawWholeWindowAfterColdStart(benchmark::State& state) {
    App();
    if (!TheDay().ok) {
        state.SkipWithError("no room for the day's archive (2.6 GB) in the temporary folder");
        return;
    }
    TheDay().model.reset();  // its maps would keep the day's pages in memory
    const auto root = BenchRoot();
    const std::int64_t span = state.range(0) * 500'000;
    const std::int64_t noon = kDay0 + 12 * 3600 * zqd::utc::kNsPerSecond + 123'456'789;
    QImage image(1920, 1080, QImage::Format_RGB32);
    double cold = 0, worst = 0;
    for (auto _ : state) {
        state.PauseTiming();
        DropFromPageCache(root);
        zqd::view::Opened o;
        if (!OpenDay(root / "day", o, root / "cache").ok()) {
            state.SkipWithError("the day could not be opened again");
            return;
        }
        zqd::view::WaveformView v;
        v.Fit(*o.model);
        v.SetSpan(noon - span / 2, noon + span / 2);
        state.ResumeTiming();
        for (int k = 0; k < 6; ++k) {
            const auto t0 = Clock::now();
            QPainter p(&image);
            zqd::ui::PaintWaveforms(p, image.rect(), *o.model, v);
            p.end();
            const double ms = Ms(Clock::now() - t0);
            (k == 0 ? cold : worst) = std::max(k == 0 ? cold : worst, ms);
        }
    }
    state.counters["cold_first_ms"] = cold;
    state.counters["worst_ms"] = worst;
}
BENCHMARK(BM_RedrawWholeWindowAfterColdStart)
    ->ArgName("samples")
    ->Arg(172800000)
    ->Arg(7200000)
    ->Arg(120000)
    ->Arg(2000)
    ->Arg(100)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The helicorder of the day's first data channel (172.8 M samples), rows of
// 15 minutes, at 1920 x 1080, drawn again from the summaries.
void BM_HelicorderDay(benchmark::State& state) {
    App();
    Day& d = TheDay();
    if (!d.ok) {
        state.SkipWithError("no room for the day's archive (2.6 GB) in the temporary folder");
        return;
    }
    const zqd::view::HelicorderLayout layout = zqd::view::MakeHelicorder(kDay0, 24, 15);
    TimeRedraws(state, [&](QPainter& p, const QRect& r) { zqd::ui::PaintHelicorder(p, r, *d.model, 1, layout); });
}
BENCHMARK(BM_HelicorderDay)->Unit(benchmark::kMillisecond);

// Opening the day with its summaries cached, to the first full drawing.
void BM_OpenDayCached(benchmark::State& state) {
    App();
    Day& d = TheDay();
    if (!d.ok) {
        state.SkipWithError("no room for the day's archive");
        return;
    }
    const auto root = BenchRoot();
    double rss_growth = 0;
    for (auto _ : state) {
        const double rss0 = RssMb();
        zqd::view::Opened o;
        if (!OpenDay(root / "day", o, root / "cache")
                 .ok() ||
            o.files_cached != kChannels) {
            state.SkipWithError("the cache was not used");
            return;
        }
        zqd::view::WaveformView v;
        v.Fit(*o.model);
        QImage image = zqd::ui::RenderWaveforms(*o.model, v, QSize(1920, 1080));
        benchmark::DoNotOptimize(image);
        state.PauseTiming();
        // Memory while viewing: every zoom drawn once more, then what this open added.
        for (std::int64_t samples : {7200000LL, 120000LL, 2000LL, 100LL}) {
            const std::int64_t noon = kDay0 + 12 * 3600 * zqd::utc::kNsPerSecond;
            v.SetSpan(noon, noon + samples * 500'000);
            benchmark::DoNotOptimize(zqd::ui::RenderWaveforms(*o.model, v, QSize(1920, 1080)));
        }
        rss_growth = RssMb() - rss0;
        state.ResumeTiming();
    }
    const double raw_mb = 86400.0 * 2000 * kChannels * 4 / 1e6;
    if (d.first_open_s >= 0) state.counters["first_open_building_summaries_s"] = d.first_open_s;
    state.counters["memory_growth_MB"] = rss_growth;
    state.counters["memory_growth_of_raw_%"] = rss_growth / raw_mb * 100;
    state.counters["summary_cache_MB"] = [&] {
        double mb = 0;
        for (const auto& e : std::filesystem::directory_iterator(root / "cache"))
            if (e.path().extension() == ".zidx") mb += static_cast<double>(e.file_size()) / 1e6;
        return mb;
    }();
}
BENCHMARK(BM_OpenDayCached)->Iterations(3)->Unit(benchmark::kMillisecond);

// Building the summaries of one hour on its first open, beside libmseed
// alone unpacking the same records from the same files.
void BM_BuildOneHour(benchmark::State& state) {
    const auto root = BenchRoot();
    if (!MakeArchive(root / "hour", 1)) {
        state.SkipWithError("no room for the hour's archive");
        return;
    }
    const auto files = zqd::sds::DayFiles(root / "hour", std::nullopt, std::nullopt);
    double build = 0, alone = 0, build_cpu = 0, alone_cpu = 0;
    auto cpu_ms = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
    };
    for (auto _ : state) {
        const double u0 = cpu_ms();
        const auto t0 = Clock::now();
        zqd::view::MseedLoad report;
        auto m = zqd::view::LoadMseedModel(files, {}, report);  // no cache: built every time
        benchmark::DoNotOptimize(m);
        const auto t1 = Clock::now();
        const double u1 = cpu_ms();
        // libmseed alone: every record of the same files parsed and unpacked.
        std::int64_t samples = 0;
        MSRecord* msr = nullptr;
        std::vector<char> bytes;
        for (const auto& f : files) {
            bytes.resize(static_cast<std::size_t>(std::filesystem::file_size(f)));
            std::FILE* in = std::fopen(f.c_str(), "rb");
            if (!in || std::fread(bytes.data(), 1, bytes.size(), in) != bytes.size()) std::abort();
            std::fclose(in);
            for (std::size_t at = 0; at + 512 <= bytes.size(); at += static_cast<std::size_t>(msr->reclen)) {
                if (msr_parse(bytes.data() + at, static_cast<int>(bytes.size() - at), &msr, 512, 1, 0) != MS_NOERROR) break;
                samples += msr->numsamples;
            }
        }
        if (msr) msr_free(&msr);
        benchmark::DoNotOptimize(samples);
        const auto t2 = Clock::now();
        const double u2 = cpu_ms();
        build += Ms(t1 - t0);
        alone += Ms(t2 - t1);
        build_cpu += u1 - u0;
        alone_cpu += u2 - u1;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["build_ms"] = build / n;
    state.counters["libmseed_unpack_ms"] = alone / n;
    state.counters["build/libmseed"] = build / alone;  // wall time: the files are indexed on every core
    state.counters["build_cpu/libmseed_cpu"] = build_cpu / alone_cpu;
}
BENCHMARK(BM_BuildOneHour)->Iterations(3)->Unit(benchmark::kMillisecond);

// A live day file opened again after one more minute was appended, against
// indexing that minute alone: the summary cache reads on from where the
// file's scan stopped and keeps only what was added.
void BM_ReopenAfterAMinute(benchmark::State& state) {
    const auto root = BenchRoot() / "reopen";
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    std::filesystem::create_directories(root);
    // Six hours of one channel, then the records of the minute after them.
    const int hours = 6;
    std::string base, minute;
    {
        const zqd::StreamCodes code{"XX", "ZQD01", "00", "GY0"};
        zqd::mseed::ChannelPacker p(code, 2000, {}, [&](const char* r, int n, std::int64_t t) {
            (t < kDay0 + hours * 3600 * zqd::utc::kNsPerSecond ? base : minute).append(r, static_cast<std::size_t>(n));
        });
        std::vector<std::int32_t> m(120000);
        for (int i = 0; i <= hours * 60; ++i) {
            Fill(0, static_cast<std::uint64_t>(i) * m.size(), m);
            p.Add(kDay0 + i * 60 * zqd::utc::kNsPerSecond, m.data(), m.size(), zqd::mseed::Timing{100, true});
        }
    }
    const auto day = root / "XX.ZQD01.00.GY0.D.2008.133", alone = root / "minute.mseed";
    const auto cache = root / "cache", kept = root / "cache-kept";
    std::ofstream(day, std::ios::binary) << base;
    std::ofstream(alone, std::ios::binary) << minute;
    {  // the entry of the file as it was
        zqd::view::MseedLoad r;
        if (!zqd::view::LoadMseedModel({day}, cache, r)) std::abort();
        std::filesystem::copy(cache, kept, std::filesystem::copy_options::recursive);
    }
    double reopen = 0, index = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(cache);
        std::filesystem::copy(kept, cache, std::filesystem::copy_options::recursive);
        std::filesystem::resize_file(day, base.size());
        std::ofstream(day, std::ios::binary | std::ios::app) << minute;
        state.ResumeTiming();
        const auto t0 = Clock::now();
        zqd::view::MseedLoad r;
        auto m = zqd::view::LoadMseedModel({day}, cache, r);
        const auto t1 = Clock::now();
        // The minute alone, opened for the first time as any file is: indexed, and its entry kept.
        std::filesystem::remove_all(root / "cache-alone", ec);
        state.PauseTiming();
        state.ResumeTiming();
        const auto t1b = Clock::now();
        zqd::view::MseedLoad a;
        auto only = zqd::view::LoadMseedModel({alone}, root / "cache-alone", a);
        const auto t2 = Clock::now();
        if (!m || !only || r.files_extended != 1) {
            state.SkipWithError("the grown file was not read on from its cache entry");
            return;
        }
        benchmark::DoNotOptimize(m);
        benchmark::DoNotOptimize(only);
        reopen += Ms(t1 - t0);
        index += Ms(t2 - t1b);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["reopen_ms"] = reopen / n;
    state.counters["minute_alone_ms"] = index / n;
    state.counters["reopen/minute_alone"] = reopen / index;
}
BENCHMARK(BM_ReopenAfterAMinute)->Iterations(20)->Unit(benchmark::kMillisecond);

// A live block of the main window's settings (18 x 2000) appended to the
// model of 17 channels and its summaries.
void BM_AppendLiveBlockToTheModel(benchmark::State& state) {
    zqd::view::WaveformModel m;
    for (int c = 0; c < kChannels; ++c) m.AddChannel("GY" + std::to_string(c), c < 1 ? 0 : c + 1);
    std::vector<zqd::acq::BlockPtr> blocks;
    for (int k = 0; k < 64; ++k) {
        auto b = std::make_shared<zqd::acq::Block>();
        b->ChnNum = 18;
        b->ChnPoints = 2000;
        b->SampleFrq = 2000;
        b->words.assign(36002, 0);
        for (std::size_t i = 1; i <= 36000; ++i) b->words[i] = static_cast<std::int16_t>((i * 7 + static_cast<std::size_t>(k)) % 4096);
        b->time_status = zqd::acq::TimeStatus::kOwn;
        blocks.push_back(std::move(b));
    }
    std::int64_t k = 0;
    const auto t0 = Clock::now();
    for (auto _ : state) {
        state.PauseTiming();  // the block as the session hands it on
        auto b = std::make_shared<zqd::acq::Block>(*blocks[static_cast<std::size_t>(k % 64)]);
        b->time_ns = kDay0 + k * zqd::utc::kNsPerSecond;
        zqd::acq::BlockPtr shared = std::move(b);
        state.ResumeTiming();
        m.AppendBlock(shared);
        ++k;
        if (k % 600 == 0) m.DropBefore(kDay0 + (k - 600) * zqd::utc::kNsPerSecond);  // as the live view keeps 10 minutes
    }
    const double ms = Ms(Clock::now() - t0) / static_cast<double>(state.iterations());
    state.counters["share_of_1s_block_%"] = ms / 1000 * 100;
}
BENCHMARK(BM_AppendLiveBlockToTheModel)->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace
