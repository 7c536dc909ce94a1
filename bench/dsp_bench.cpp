// The views' signal processing, against the work done alone: a band-pass of
// an hour of one channel at 2000 samples/s (7.2 M samples) as a view filters
// it (read from the model's source, to doubles, forward and backward, back to
// counts, summarised) beside the same filter over the same doubles in a tight
// loop; and a spectrogram of ten minutes of one channel.
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>

#include "signal/filter.h"
#include "view/filtered_model.h"
#ifdef ZQD_HAVE_SPECTROGRAM
#include <fftw3.h>

#include "signal/psd.h"
#include "signal/response.h"
#include "signal/spectrogram.h"
#endif

namespace {

using namespace zqd;

constexpr double kRate = 2000;
constexpr std::int64_t kT0 = 1'000'000'000'000'000'000;

std::vector<std::int32_t> Signal(std::size_t n) {
    std::vector<std::int32_t> v(n);
    for (std::size_t k = 0; k < n; ++k) {
        const double t = static_cast<double>(k) / kRate;
        v[k] = static_cast<std::int32_t>(2048 + 600 * std::sin(2 * std::numbers::pi * 3 * t) +
                                         200 * std::sin(2 * std::numbers::pi * 170 * t) + static_cast<double>(k % 7));
    }
    return v;
}

const signal::FilterSpec kBand = *signal::ParseFilter("bp:1:10:4");

// The view's way: the span of an hour (its margin beyond the data), filtered into a model.
void BM_BandPassHourInAView(benchmark::State& state) {
    const auto v = Signal(7'200'000);
    view::WaveformModel m;
    const int c = m.AddChannel("GY0");
    view::Stretch& s = m.AddStretch(c, kT0, kRate, std::make_shared<view::HeldSamples>(v));
    s.summary.Append(v.data(), v.size());
    s.count = v.size();
    for (auto _ : state) {
        view::WaveformModel out;
        const Status st = view::FilterModel(m, {}, kT0, kT0 + 3'600'000'000'000, kBand, out);
        benchmark::DoNotOptimize(out.At(0).stretches.size());
        if (!st.ok()) state.SkipWithError("refused");
    }
    state.counters["samples/s"] = benchmark::Counter(7.2e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_BandPassHourInAView)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same filter alone: forward and backward over the same doubles.
void BM_BandPassHourAlone(benchmark::State& state) {
    const auto v = Signal(7'200'000);
    signal::Filter f;
    (void)signal::Filter::Design(kBand, kRate, f);
    std::vector<double> x;
    for (auto _ : state) {
        state.PauseTiming();
        x.assign(v.begin(), v.end());
        state.ResumeTiming();
        f.RunZeroPhase(x.data(), x.size());
        benchmark::DoNotOptimize(x.data());
    }
    state.counters["samples/s"] = benchmark::Counter(7.2e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_BandPassHourAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef ZQD_HAVE_SPECTROGRAM
void BM_SpectrogramTenMinutes(benchmark::State& state) {
    const auto v = Signal(1'200'000);
    for (auto _ : state) {
        signal::Spectrogram s;
        (void)signal::ComputeSpectrogram(v.data(), v.size(), kRate, kT0, static_cast<int>(state.range(0)), s);
        benchmark::DoNotOptimize(s.db.data());
    }
}
BENCHMARK(BM_SpectrogramTenMinutes)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

// A day's PPSD of one 200/s channel: 47 hour-long segments overlapping by
// half, 13 pieces each, through a geophone's response; side by side with
// FFTW doing the same 611 transforms of 180000 points alone (target: within
// 1.5 times of it).
constexpr std::size_t kDay200 = 86400 * 200;
void BM_PpsdDay200(benchmark::State& state) {
    const auto v = Signal(kDay200);
    signal::PsdMaker maker(200);
    const signal::PolesZeros pz = signal::Geophone(4.5, 0.7, 22.5);
    const signal::PowerResponse response = [&pz](double f) {
        return std::norm(signal::Evaluate(pz, f)) * 28.8 * 28.8 * 409.6 * 409.6 / std::pow(2 * std::numbers::pi * f, 2);
    };
    for (auto _ : state) {
        maker.SetResponse(response);
        signal::Ppsd ppsd(maker.Periods(), -200, -50);
        for (std::size_t at = 0; at + maker.SegmentSamples() <= v.size(); at += maker.SegmentStep())
            ppsd.Add(maker.Segment(v.data() + at));
        benchmark::DoNotOptimize(ppsd.counts.data());
        state.counters["segments"] = static_cast<double>(ppsd.segments);
    }
}
BENCHMARK(BM_PpsdDay200)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PpsdDay200FftwAlone(benchmark::State& state) {
    constexpr int kPiece = 180000, kTransforms = 47 * 13;
    double* in = static_cast<double*>(fftw_malloc(sizeof(double) * kPiece));
    auto* out = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (kPiece / 2 + 1)));
    fftw_plan plan = fftw_plan_dft_r2c_1d(kPiece, in, out, FFTW_ESTIMATE);
    const auto v = Signal(kPiece);
    for (auto _ : state) {
        for (int k = 0; k < kTransforms; ++k) {
            for (int i = 0; i < kPiece; ++i) in[i] = v[static_cast<std::size_t>(i)];
            fftw_execute(plan);
            benchmark::DoNotOptimize(out[1][0]);
        }
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_PpsdDay200FftwAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace
