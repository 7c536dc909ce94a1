#include "signal/resampler.h"

#include <samplerate.h>

#include <algorithm>
#include <cmath>

namespace zqd::signal {

namespace {
constexpr double kNsPerSecond = 1e9;
}  // namespace

GridResampler::GridResampler(int channels, double nominal_rate) : channels_(channels), nominal_(nominal_rate) {
    int error = 0;
    // The fastest of the band-limited converters: its pass band is flat to
    // 97 % of Nyquist, more than the card's anti-alias filter leaves.
    state_ = src_new(SRC_SINC_FASTEST, channels_, &error);
}

GridResampler::~GridResampler() {
    if (state_) src_delete(static_cast<SRC_STATE*>(state_));
}

double GridResampler::TimeAt(double index) const {
    const Mark* m = &marks_.front();
    for (const Mark& k : marks_) {
        if (k.index > index) break;
        m = &k;
    }
    return static_cast<double>(m->t_ns - origin_ns_) + (index - m->index) / m->rate * kNsPerSecond;
}

void GridResampler::Add(const float* frames, std::size_t n, std::int64_t t_ns, double rate, const Emit& emit) {
    if (!state_ || n == 0) return;
    if (!(rate > 0)) rate = nominal_;
    const double period = kNsPerSecond / nominal_;
    if (in_series_) {
        const double expected = TimeAt(in_frames_);
        if (std::abs(static_cast<double>(t_ns - origin_ns_) - expected) > period / 2) Finish(emit);
    }
    if (!in_series_) {
        src_reset(static_cast<SRC_STATE*>(state_));
        // The series' grid: its first sample's time, then whole periods.
        origin_ns_ = t_ns;
        in_frames_ = 0;
        position_ = 0;
        out_frames_ = 0;
        marks_.clear();
        in_series_ = true;
    }
    marks_.push_back({in_frames_, t_ns, rate});
    while (marks_.size() > 2 && marks_[1].index <= position_) marks_.pop_front();
    Run(frames, n, false, emit);
    in_frames_ += static_cast<double>(n);
}

void GridResampler::Finish(const Emit& emit) {
    if (!state_ || !in_series_) return;
    Run(nullptr, 0, true, emit);
    in_series_ = false;
}

void GridResampler::Run(const float* frames, std::size_t n, bool last, const Emit& emit) {
    auto* state = static_cast<SRC_STATE*>(state_);
    const double rate_in = marks_.back().rate;
    const double period = kNsPerSecond / nominal_;
    // Steered so that a second of outputs from now falls on the grid: the
    // next output's time against its grid point.
    const double error_ns = TimeAt(position_) - static_cast<double>(out_frames_) * period;
    const double spacing = rate_in / nominal_ - error_ns * rate_in / (kNsPerSecond * nominal_);
    const double natural = nominal_ / rate_in;
    ratio_ = std::clamp(1.0 / spacing, natural * (1 - 1e-3), natural * (1 + 1e-3));
    src_set_ratio(state, ratio_);
    std::size_t used = 0;
    for (int rounds = 0; rounds < 1000; ++rounds) {
        const std::size_t left = n - used;
        const auto room = static_cast<std::size_t>(static_cast<double>(left) * ratio_ * 1.1) + 256;
        out_.resize(room * static_cast<std::size_t>(channels_));
        SRC_DATA data{};
        data.data_in = frames ? frames + used * static_cast<std::size_t>(channels_) : nullptr;
        data.input_frames = static_cast<long>(left);
        data.data_out = out_.data();
        data.output_frames = static_cast<long>(room);
        data.end_of_input = last ? 1 : 0;
        data.src_ratio = ratio_;
        if (src_process(state, &data) != 0) return;
        used += static_cast<std::size_t>(data.input_frames_used);
        const auto made = static_cast<std::size_t>(data.output_frames_gen);
        if (made > 0) {
            const std::int64_t t = origin_ns_ + static_cast<std::int64_t>(std::llround(TimeAt(position_)));
            emit(Output{out_.data(), made, t, ratio_ * rate_in});
            position_ += static_cast<double>(made) / ratio_;
            out_frames_ += static_cast<std::int64_t>(made);
        }
        if (used >= n && (!last || made == 0)) break;
    }
}

}  // namespace zqd::signal
