#include "signal/spectrogram.h"
#include "signal/fftw_lock.h"

#include <fftw3.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>

namespace zqd::signal {

namespace {

struct PlanDeleter {
    void operator()(fftw_plan_s* p) const {
        std::lock_guard lock(FftwPlannerLock());
        fftw_destroy_plan(p);
    }
};
struct BufferDeleter {
    void operator()(void* p) const { fftw_free(p); }
};

}  // namespace

std::mutex& FftwPlannerLock() {
    static std::mutex m;
    return m;
}

Status ComputeSpectrogram(const std::int32_t* x, std::size_t n, double rate, std::int64_t start_ns, int frame,
                          Spectrogram& out) {
    const bool power_of_two = frame >= 16 && frame <= 65536 && (frame & (frame - 1)) == 0;
    if (!power_of_two || static_cast<std::size_t>(frame) > n || !(rate > 0))
        return Status::Fail(Status::Code::kQueryRefused, Status::Why::kBadSpectrogram)
            .Values(frame, static_cast<std::int64_t>(n));
    const auto len = static_cast<std::size_t>(frame);
    const int bins = frame / 2 + 1;
    std::unique_ptr<double, BufferDeleter> in(static_cast<double*>(fftw_malloc(sizeof(double) * len)));
    std::unique_ptr<fftw_complex, BufferDeleter> spec(
        static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(bins))));
    std::unique_ptr<fftw_plan_s, PlanDeleter> plan;
    {
        std::lock_guard lock(FftwPlannerLock());
        plan.reset(fftw_plan_dft_r2c_1d(frame, in.get(), spec.get(), FFTW_ESTIMATE));
    }
    std::vector<double> hann(len);
    double window_power = 0;
    for (std::size_t k = 0; k < len; ++k) {
        hann[k] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(len));
        window_power += hann[k] * hann[k];
    }
    const std::size_t step = len / 2;
    const std::size_t frames = (n - len) / step + 1;
    out = {};
    out.frame = frame;
    out.rate = rate;
    out.bins = bins;
    out.step_ns = std::llround(static_cast<double>(step) * 1e9 / rate);
    out.first_ns = start_ns + std::llround(static_cast<double>(len) / 2 * 1e9 / rate);
    out.db.resize(frames * static_cast<std::size_t>(bins));
    // Power spectral density, one-sided, in counts^2 per Hz.
    const double scale = 1.0 / (rate * window_power);
    for (std::size_t f = 0; f < frames; ++f) {
        const std::int32_t* p = x + f * step;
        double mean = 0;
        for (std::size_t k = 0; k < len; ++k) mean += p[k];
        mean /= static_cast<double>(len);
        for (std::size_t k = 0; k < len; ++k) in.get()[k] = (p[k] - mean) * hann[k];
        fftw_execute(plan.get());
        float* row = out.db.data() + f * static_cast<std::size_t>(bins);
        for (int b = 0; b < bins; ++b) {
            const double re = spec.get()[b][0], im = spec.get()[b][1];
            const double one_sided = (b == 0 || b == bins - 1) ? 1 : 2;
            const double psd = (re * re + im * im) * scale * one_sided;
            row[b] = static_cast<float>(10 * std::log10(psd + 1e-20));
        }
    }
    return Status::Ok();
}

}  // namespace zqd::signal
