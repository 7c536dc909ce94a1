// The spectrogram of one channel over a span: short-time Fourier transforms
// of Hann-windowed frames overlapping by half, each frame's power in dB per
// frequency bin. The FFTs are FFTW3's (real to complex, one plan per frame
// length, reused).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/status.h"

namespace zqd::signal {

struct Spectrogram {
    int frame = 0;                 // samples a frame (its FFT length)
    double rate = 0;               // of the samples
    std::int64_t first_ns = 0;     // the centre of the first frame
    std::int64_t step_ns = 0;      // between frames' centres (half a frame)
    int bins = 0;                  // frame / 2 + 1, from 0 Hz to Nyquist
    std::vector<float> db;         // frames x bins, frame by frame: 10 log10 of the power
    std::size_t Frames() const { return bins > 0 ? db.size() / static_cast<std::size_t>(bins) : 0; }
    float At(std::size_t frame_index, int bin) const {
        return db[frame_index * static_cast<std::size_t>(bins) + static_cast<std::size_t>(bin)];
    }
    double BinHz(int bin) const { return bin * rate / frame; }
};

// How a spectrogram is drawn: the frequencies shown, on a linear or a
// logarithmic axis, and the powers its colours span. A range kept fixed
// lets two pictures be compared colour for colour.
struct SpectrogramScale {
    double low_hz = 0;   // the bottom; on a log axis at least the first bin above 0 Hz
    double high_hz = 0;  // the top; 0 or beyond: the Nyquist frequency
    bool log = false;
    bool fixed_db = false;  // the colours span [low_db, high_db]; else the picture's own 2nd to 99.8th percentile
    double low_db = 0, high_db = 0;
    bool operator==(const SpectrogramScale&) const = default;

    // The frequencies shown of `s`, bottom and top.
    std::pair<double, double> Range(const Spectrogram& s) const {
        const double nyquist = s.rate / 2;
        const double top = high_hz > 0 && high_hz < nyquist ? high_hz : nyquist;
        double bottom = std::clamp(low_hz, 0.0, top);
        if (log) bottom = std::max(bottom, s.frame > 0 ? s.rate / s.frame : top / 1000);
        if (bottom >= top) bottom = log ? top / 10 : 0;
        return {bottom, top};
    }
    // The frequency at `u` of the height shown, 0 at the bottom, 1 at the top.
    double HzAt(const Spectrogram& s, double u) const {
        const auto [a, b] = Range(s);
        return log ? a * std::pow(b / a, u) : a + (b - a) * u;
    }
    // Where `hz` is, as HzAt's `u`.
    double At(const Spectrogram& s, double hz) const {
        const auto [a, b] = Range(s);
        return log ? std::log(hz / a) / std::log(b / a) : (hz - a) / (b - a);
    }
};

// The spectrogram of `n` samples at `rate`, the first at `start_ns`, in
// frames of `frame` samples (a power of two from 16 to 65536) each half a
// frame after the last. Each frame's mean is taken out first, so that the
// offset of a 16-bit card does not swamp the lowest bins. kQueryRefused
// (kBadSpectrogram) for a frame length that is none of these or longer than
// the samples.
Status ComputeSpectrogram(const std::int32_t* x, std::size_t n, double rate, std::int64_t start_ns, int frame,
                          Spectrogram& out);

}  // namespace zqd::signal
