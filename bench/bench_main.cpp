// make bench: the record save and load against the raw I/O limit of the same
// folder, the plot, and one timer tick of each window.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <vector>

#include "app/frm_multibuf.h"
#include "acquisition/session.h"
#include "app/frm_main.h"
#include "formats/t1dat/t1dat_writer.h"
#include "acquisition/record_sink.h"
#include "card/sim/sim_card.h"
#ifdef ZQD_WITH_UI
#include <QImage>

#include "ui/pic_draw.h"
#endif

// ---- heap accounting: current and peak bytes held through operator new ----
namespace {
std::atomic<long long> g_current{0}, g_peak{0};
void* Allocate(std::size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    const long long now = g_current += static_cast<long long>(malloc_usable_size(p));
    long long peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    return p;
}
void Release(void* p) noexcept {
    if (!p) return;
    g_current -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}
// Peak bytes above what was held when the measurement began.
struct PeakMeter {
    long long base = (g_peak = g_current.load(), g_current.load());
    double MiB() const { return static_cast<double>(g_peak.load() - base) / (1 << 20); }
};
}  // namespace
void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

namespace {

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Runs `body` for every iteration and reports its mean time as a share of `period_ms`.
template <typename Body>
void ShareOfPeriod(benchmark::State& state, const char* name, double period_ms, Body body) {
    const auto t0 = Clock::now();
    for (auto _ : state) body();
    const double mean = Ms(Clock::now() - t0) / static_cast<double>(state.iterations());
    state.counters[name] = mean / period_ms * 100;
}

// The bench writes next to the build, in the folder the program would use.
std::filesystem::path BenchDir() {
    auto dir = std::filesystem::current_path() / "bench-files";
    std::filesystem::create_directories(dir);
    return dir;
}

constexpr std::size_t kRecords = 720001;  // samples of the default record
constexpr std::size_t kFileBytes = (kRecords + 2) * zqd::t1dat::kRecordBytes;

std::vector<std::int32_t> DefaultRecord() {
    std::vector<std::int32_t> v(kRecords, 0);
    for (std::size_t i = 0; i + 1 < v.size(); ++i) v[i] = static_cast<std::int32_t>((i * 2654435761u) & 0xFFFF);
    return v;
}

// The same byte count in 1 MiB write calls, flushed to disk like the save.
void RawWrite(const std::filesystem::path& path, std::size_t bytes, std::size_t chunk) {
    std::vector<char> buf(chunk, 1);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (std::size_t done = 0; done < bytes; done += chunk)
        if (write(fd, buf.data(), std::min(chunk, bytes - done)) < 0) std::abort();
    fsync(fd);
    close(fd);
}

void RawRead(const std::filesystem::path& path) {
    std::vector<char> buf(1 << 20);
    const int fd = open(path.c_str(), O_RDONLY);
    long long sum = 0;
    ssize_t n;
    while ((n = read(fd, buf.data(), buf.size())) > 0) sum += buf[0];
    close(fd);
    benchmark::DoNotOptimize(sum);
}

void BM_SaveRecord(benchmark::State& state) {
    const auto dir = BenchDir();
    const auto data = DefaultRecord();
    double save = 0, raw = 0, mem = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        RawWrite(dir / "raw.bin", kFileBytes, 1 << 20);
        auto t1 = Clock::now();
        PeakMeter meter;
        if (!zqd::t1dat::SaveRecordFile(dir / "T1.DAT", 20, 2000, data.data(), data.size()).ok()) std::abort();
        auto t2 = Clock::now();
        mem = std::max(mem, meter.MiB());
        raw += Ms(t1 - t0);
        save += Ms(t2 - t1);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["save_ms"] = save / n;
    state.counters["raw_write_ms"] = raw / n;
    state.counters["save/raw"] = save / raw;
    state.counters["extra_MiB"] = mem;
    state.SetBytesProcessed(static_cast<std::int64_t>(kFileBytes) * state.iterations());
}
BENCHMARK(BM_SaveRecord)->Iterations(5)->Unit(benchmark::kMillisecond);

// The baseline the save avoids: one write call per 128-byte record.
void BM_OneWritePerRecord(benchmark::State& state) {
    const auto dir = BenchDir();
    for (auto _ : state) RawWrite(dir / "per-record.bin", kFileBytes, zqd::t1dat::kRecordBytes);
    state.SetBytesProcessed(static_cast<std::int64_t>(kFileBytes) * state.iterations());
}
BENCHMARK(BM_OneWritePerRecord)->Iterations(2)->Unit(benchmark::kMillisecond);

struct IdleCard final : zqd::Card {
    std::int32_t Initial(std::int32_t, std::int32_t, std::int32_t, std::int32_t) override { return 1; }
    std::int32_t StartIntr(std::int16_t, std::int32_t, std::int16_t, std::int16_t, std::int32_t, std::int32_t,
                           std::int16_t) override { return 1; }
    std::int32_t StopIntr() override { return 1; }
    std::int32_t GetLastADError() override { return 0; }
    std::int32_t QueryBuf() override { return 1; }
    std::int32_t ADResult(std::int16_t* w) override {
        ++w[1];  // the buffer changes a little each time
        return 1;
    }
    std::int16_t Zqd_DI(std::int16_t, std::int16_t* w) override {
        w[0] = 0xA5;
        w[1] = 3;
        return 1;
    }
    std::int16_t Zqd_DO(std::int16_t, std::int16_t) override { return 1; }
};

void BM_LoadAndDecode(benchmark::State& state) {
    const auto dir = BenchDir();
    const auto data = DefaultRecord();
    if (!zqd::t1dat::SaveRecordFile(dir / "T1.DAT", 20, 2000, data.data(), data.size()).ok()) std::abort();
    zqd::DllDef dll;
    IdleCard card;
    zqd::acq::Session session(card, {false, std::chrono::milliseconds(1000)});
    zqd::FrmMain form(dll, session, dir);
    form.Form_Load();
    form.CmdOpen_Click();  // BlockData exists before the measurement, as after any load
    double load = 0, raw = 0, mem = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        RawRead(dir / "T1.DAT");
        auto t1 = Clock::now();
        PeakMeter meter;
        form.CmdOpen_Click();
        auto t2 = Clock::now();
        // The new BlockData replaces the old one: what is beyond it is extra.
        mem = std::max(mem, meter.MiB() - static_cast<double>(kRecords * 4) / (1 << 20));
        raw += Ms(t1 - t0);
        load += Ms(t2 - t1);
        if (!form.CmdFind.Enabled) std::abort();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["load_ms"] = load / n;
    state.counters["raw_read_ms"] = raw / n;
    state.counters["load/raw"] = load / raw;
    state.counters["extra_MiB"] = mem;
}
BENCHMARK(BM_LoadAndDecode)->Iterations(10)->Unit(benchmark::kMillisecond);

// A card whose every buffer is the simulated card's second 0: GPS message
// and all, so that the reader decodes a time for each block.
struct SimBufferCard final : zqd::Card {
    std::vector<std::int16_t> words;
    SimBufferCard() : words(36002) {
        zqd::sim::SimSettings s;
        s.start_from_clock = false;
        zqd::sim::SimCard sim(s, [] { return 0; });
        sim.Initial(320, 5, 0, 0);
        sim.StartIntr(10, 2000, 0, 18, 2000, 0, 1);
        sim.FillSamples(0, words.data() + 1);
    }
    std::int32_t Initial(std::int32_t, std::int32_t, std::int32_t, std::int32_t) override { return 1; }
    std::int32_t StartIntr(std::int16_t, std::int32_t, std::int16_t, std::int16_t, std::int32_t, std::int32_t,
                           std::int16_t) override { return 1; }
    std::int32_t StopIntr() override { return 1; }
    std::int32_t GetLastADError() override { return 0; }
    std::int32_t QueryBuf() override { return 1; }
    std::int32_t ADResult(std::int16_t* w) override {
        std::memcpy(w, words.data(), words.size() * sizeof(std::int16_t));
        return 1;
    }
    std::int16_t Zqd_DI(std::int16_t, std::int16_t*) override { return 1; }
    std::int16_t Zqd_DO(std::int16_t, std::int16_t) override { return 1; }
};

// A real card's buffers, one after another: the clock 25 ppm fast, the
// receiver's message 480 ms after each pulse, the pulse 200 ms wide; a few
// minutes of them at a rate, handed out in a loop (at the loop's turn the
// time steps back once).
struct RealBufferCard final : zqd::Card {
    static constexpr int kBuffers = 240;
    std::vector<std::vector<std::int16_t>> buffers;
    std::size_t next = 0;
    explicit RealBufferCard(std::int32_t rate) {
        zqd::sim::SimSettings s;
        s.start_from_clock = false;
        s.start_ns = 1210613920300000000;
        s.clock_ppm = 25;
        s.gps_delay_ms = 480;
        zqd::sim::SimCard sim(s, [] { return 0; });
        sim.Initial(320, 5, 0, 0);
        sim.StartIntr(10, rate, 0, 18, rate, 0, 1);
        for (int k = 0; k < kBuffers; ++k) {
            buffers.emplace_back(static_cast<std::size_t>(18 * rate + 2));
            sim.FillSamples(k, buffers.back().data() + 1);
        }
    }
    std::int32_t Initial(std::int32_t, std::int32_t, std::int32_t, std::int32_t) override { return 1; }
    std::int32_t StartIntr(std::int16_t, std::int32_t, std::int16_t, std::int16_t, std::int32_t, std::int32_t,
                           std::int16_t) override { return 1; }
    std::int32_t StopIntr() override { return 1; }
    std::int32_t GetLastADError() override { return 0; }
    std::int32_t QueryBuf() override { return 1; }
    std::int32_t ADResult(std::int16_t* w) override {
        const auto& b = buffers[next++ % buffers.size()];
        std::memcpy(w, b.data(), b.size() * sizeof(std::int16_t));
        return 1;
    }
    std::int16_t Zqd_DI(std::int16_t, std::int16_t*) override { return 1; }
    std::int16_t Zqd_DO(std::int16_t, std::int16_t) override { return 1; }
};

// The reader's work for one one-second block of 18 channels at a rate:
// QueryBuf, ADResult into a new block, the GPS message decoded, the block
// dated and handed to a sink. Pulse 0: dated from the message alone, no
// pulse wired; 1: the pulses found, labelled and the block dated from them.
// Side by side at a rate, the difference is what finding the pulse costs.
void BM_ReaderPerBlock(benchmark::State& state) {
    const auto rate = static_cast<std::int32_t>(state.range(0));
    static std::map<std::int32_t, std::unique_ptr<RealBufferCard>> cards;
    auto& card = cards[rate];
    if (!card) card = std::make_unique<RealBufferCard>(rate);
    card->next = 0;
    zqd::acq::Session session(*card, {false, std::chrono::milliseconds(1000)});
    struct Discard final : zqd::acq::Sink {
        void OnBlock(const zqd::acq::BlockPtr&) override {}
    };
    auto runner = session.AddSink(std::make_shared<Discard>(), 4);
    zqd::acq::TimingConfig timing;
    if (state.range(1) == 0) {
        timing.pps_channel = zqd::acq::TimingConfig::kNoPulse;
        timing.date_from = zqd::acq::TimingConfig::DateFrom::kMessage;
    }
    session.SetTiming(timing);
    zqd::acq::AcqConfig config;
    config.ChnPoints = rate;
    config.SampleFrq = rate;
    if (!session.Start(config).ok()) std::abort();
    std::uint64_t blocks = 0;
    ShareOfPeriod(state, "share_of_1000ms_block_%", 1000, [&] {
        session.Pump();
        ++blocks;
    });
    const auto stats = session.Stats();
    if (stats.blocks != blocks || (blocks > 10 && stats.untimed > 3)) std::abort();  // every block timed
    if (state.range(1) == 1 && blocks > 10 && stats.clock.source != zqd::acq::ClockSource::kPulse) std::abort();
}
BENCHMARK(BM_ReaderPerBlock)
    ->ArgNames({"rate", "pulse"})
    ->Args({100, 0})->Args({100, 1})
    ->Args({200, 0})->Args({200, 1})
    ->Args({2000, 0})->Args({2000, 1})
    ->Unit(benchmark::kMicrosecond);

// The window thread while a record is saved: the record sink writes on its
// own thread while this thread runs a 1 ms event loop and notes its longest
// stall. Beside it, the save itself, which was the stall when the window
// thread wrote the file.
void BM_WindowStallDuringSave(benchmark::State& state) {
    const auto dir = BenchDir();
    SimBufferCard card;
    std::vector<zqd::acq::BlockPtr> blocks;
    for (int k = 0; k < 20; ++k) {
        auto b = std::make_shared<zqd::acq::Block>();
        b->ChnNum = 18;
        b->ChnPoints = 2000;
        b->SampleFrq = 2000;
        b->words = card.words;
        b->sequence = static_cast<std::uint64_t>(k);
        blocks.push_back(std::move(b));
    }
    double stall = 0, save = 0, inline_save = 0;
    for (auto _ : state) {
        auto sink = std::make_shared<zqd::RecordSink>();
        std::atomic<bool> done{false};
        sink->SetNotify([&done] { done = true; });
        zqd::acq::SinkRunner runner(sink, 64, true);
        sink->Arm(20, dir / "T1.DAT");
        zqd::acq::Event started;
        started.kind = zqd::acq::Event::Kind::kStarted;
        runner.Push(started);
        const auto t0 = Clock::now();
        for (const auto& b : blocks) runner.Push(b);
        auto last = Clock::now();
        double worst = 0;
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const auto now = Clock::now();
            worst = std::max(worst, Ms(now - last) - 1.0);
            last = now;
        }
        const double took = Ms(Clock::now() - t0);
        if (!sink->TakeReport()->status.ok()) std::abort();
        const auto t1 = Clock::now();
        std::vector<std::span<const std::int16_t>> words;
        for (const auto& b : blocks) words.emplace_back(b->Scans(), static_cast<std::size_t>(b->Samples()));
        if (!zqd::t1dat::SaveRecordWords(dir / "T1.DAT", 20, 2000, words, kRecords).ok()) std::abort();
        inline_save = std::max(inline_save, Ms(Clock::now() - t1));
        stall = std::max(stall, worst);
        save = std::max(save, took);
    }
    state.counters["longest_stall_ms"] = stall;
    state.counters["save_ms"] = save;
    state.counters["save_on_window_thread_ms"] = inline_save;
}
BENCHMARK(BM_WindowStallDuringSave)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_MonitorTick(benchmark::State& state) {
    zqd::DllDef dll;
    IdleCard card;
    zqd::acq::Session session(card, {false, std::chrono::milliseconds(100)});
    zqd::FrmMultiBuf form(dll, session);
    form.Form_Load();
    form.cmdStart_Click();
    ShareOfPeriod(state, "share_of_100ms_period_%", 100, [&] { form.TimerAD_Timer(); });
}
BENCHMARK(BM_MonitorTick)->Unit(benchmark::kMicrosecond);

#ifdef ZQD_WITH_UI
// The whole record (20 blocks, 40,000 points) onto a surface of PicDraw's size.
void BM_PlotWholeRecord(benchmark::State& state) {
    zqd::PicDrawModel model;
    model.Top = 65735;
    model.Bottom = -200;
    model.Trace.resize(static_cast<std::size_t>(state.range(0)));
    for (std::size_t j = 0; j < model.Trace.size(); ++j)
        model.Trace[j] = static_cast<std::int32_t>((j * 2654435761u) & 0xFFFF);
    model.Right = static_cast<double>(model.Trace.size());
    QImage image(265, 241, QImage::Format_RGB32);
    ShareOfPeriod(state, "share_of_16ms_frame_%", 16, [&] {
        zqd::ui::RenderTrace(image, model, Qt::black);
        benchmark::DoNotOptimize(image.constBits());
    });
}
BENCHMARK(BM_PlotWholeRecord)->Arg(40000)->Arg(6000)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
