// The spectrogram of one channel over a span: short-time Fourier transforms
// of Hann-windowed frames overlapping by half, each frame's power in dB per
// frequency bin. The FFTs are FFTW3's (real to complex, one plan per frame
// length, reused).
#pragma once

#include <cstddef>
#include <cstdint>
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

// The spectrogram of `n` samples at `rate`, the first at `start_ns`, in
// frames of `frame` samples (a power of two from 16 to 65536) each half a
// frame after the last. Each frame's mean is taken out first, so that the
// offset of a 16-bit card does not swamp the lowest bins. kQueryRefused
// (kBadSpectrogram) for a frame length that is none of these or longer than
// the samples.
Status ComputeSpectrogram(const std::int32_t* x, std::size_t n, double rate, std::int64_t start_ns, int frame,
                          Spectrogram& out);

}  // namespace zqd::signal
