// Samples of a card whose clock runs off nominal, resampled with libsamplerate
// onto the exact grid of the nominal rate in GPS time (sample n of a series
// at its first input sample's time plus n periods), so that a drifting card
// writes one continuous series. All channels go through one converter,
// interleaved, so that they keep one time base.
//
// The converter's position in the input is followed exactly (each output
// advances it by 1 / ratio input samples) and the ratio steered, a call at a
// time, so that the outputs' true times (from the inputs' measured times)
// stay on the grid. Every output is handed on with its true time.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace zqd::signal {

class GridResampler {
public:
    // `frames`: interleaved samples of every channel; their count, the true
    // time of the first, and the rate (frames a second) they were taken at.
    struct Output {
        const float* frames;
        std::size_t count;
        std::int64_t t_ns;
        double rate;
    };
    using Emit = std::function<void(const Output&)>;

    GridResampler(int channels, double nominal_rate);
    ~GridResampler();
    GridResampler(const GridResampler&) = delete;
    GridResampler& operator=(const GridResampler&) = delete;

    bool ok() const { return state_ != nullptr; }
    // Appends `n` frames, the first at `t_ns`, taken at `rate` a second. A
    // time that does not continue the input ends the series first (its
    // tail drained) and begins another.
    void Add(const float* frames, std::size_t n, std::int64_t t_ns, double rate, const Emit& emit);
    // Ends the series: what the converter holds comes out.
    void Finish(const Emit& emit);

private:
    struct Mark {
        double index;  // input frame
        std::int64_t t_ns;
        double rate;
    };
    double TimeAt(double index) const;  // ns after the series' grid origin
    void Run(const float* frames, std::size_t n, bool last, const Emit& emit);

    int channels_;
    double nominal_;
    void* state_ = nullptr;
    bool in_series_ = false;
    std::int64_t origin_ns_ = 0;  // the time of output 0
    double in_frames_ = 0;        // input frames given in this series
    double position_ = 0;         // input frame of the next output
    std::int64_t out_frames_ = 0; // outputs made in this series
    double ratio_ = 1;
    std::deque<Mark> marks_;
    std::vector<float> out_;
};

}  // namespace zqd::signal
