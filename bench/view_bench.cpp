// make bench, the waveform model: drawing a day of one channel at 1920
// pixels from its summaries, at every zoom, and appending a live block.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "view/summary_pyramid.h"

namespace {

std::int32_t Synthetic(std::uint64_t i) {
    return static_cast<std::int32_t>(2048 + 800 * std::sin(static_cast<double>(i) * 0.003) + static_cast<double>(i % 37));
}

// A day of one channel at 2000 samples/s (172.8 million samples), summarised
// once; the samples themselves are computed when the ragged ends need them.
const zqd::view::SummaryPyramid& Day() {
    static const zqd::view::SummaryPyramid pyramid = [] {
        zqd::view::SummaryPyramid p;
        std::vector<std::int32_t> block(2000);
        for (std::uint64_t second = 0; second < 86400; ++second) {
            for (std::size_t j = 0; j < block.size(); ++j) block[j] = Synthetic(second * 2000 + j);
            p.Append(block.data(), block.size());
        }
        return p;
    }();
    return pyramid;
}

void BM_EnvelopeOfOneRow(benchmark::State& state) {
    const auto& p = Day();
    const std::uint64_t span = static_cast<std::uint64_t>(state.range(0));
    const zqd::view::SampleReader read = [](std::uint64_t first, std::size_t n, std::int32_t* out) {
        for (std::size_t i = 0; i < n; ++i) out[i] = Synthetic(first + i);
    };
    const std::uint64_t first = (p.Size() - span) / 2;
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(p.Envelope(first, first + span, 1920, read));
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() /
                      static_cast<double>(state.iterations());
    state.counters["17_rows_ms"] = 17 * ms;  // the data of a full window's envelopes, drawing not included
    state.counters["summary_MB_per_channel_day"] = static_cast<double>(p.Bytes()) / 1e6;
}
// A day, an hour, a minute, a second, 100 samples.
BENCHMARK(BM_EnvelopeOfOneRow)->Arg(172800000)->Arg(7200000)->Arg(120000)->Arg(2000)->Arg(100)->Unit(benchmark::kMicrosecond);

void BM_AppendLiveBlock(benchmark::State& state) {
    // One block of the main window's settings: 17 channels of 2000 samples.
    std::vector<zqd::view::SummaryPyramid> rows(17);
    std::vector<std::int32_t> samples(2000);
    for (std::size_t j = 0; j < samples.size(); ++j) samples[j] = Synthetic(j);
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state)
        for (auto& r : rows) r.Append(samples.data(), samples.size());
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count() /
                      static_cast<double>(state.iterations());
    state.counters["share_of_1s_block_%"] = ms / 1000 * 100;
}
BENCHMARK(BM_AppendLiveBlock)->Unit(benchmark::kMicrosecond);

}  // namespace
