// A spectrogram drawn under a waveform: time across on the same axis as the
// rows above it, frequency up on a linear or logarithmic axis, the power
// spectral density in colour (a dark-blue-to-yellow scale); the title on a
// line of its own above, the colour bar with its range and reference and the
// frequency labels in the label column at the left.
#pragma once

#include <QPainter>

#include <cstdint>
#include <string>
#include <utility>

#include "signal/spectrogram.h"

namespace zqd::ui {

// What the colour bar says the colours are.
inline constexpr const char* kSpectrogramDbReference = "dB rel. 1 count²/Hz";

// The powers the colours span: the scale's when fixed, else from the 2nd to
// the 99.8th percentile of `s`.
std::pair<double, double> ColourRange(const signal::Spectrogram& s, const signal::SpectrogramScale& scale);

// `s` over [t0, t1) into `rect`, whose left `label_width` pixels hold the
// labels, as `scale` says; `title` on the top line ("XX.ZQD01.00.GY0 频谱图…").
// The colours' range in dB, as drawn (the one to keep for a fixed scale).
std::pair<double, double> PaintSpectrogram(QPainter& p, const QRect& rect, int label_width, const signal::Spectrogram& s,
                                           std::int64_t t0, std::int64_t t1, const std::string& title,
                                           const signal::SpectrogramScale& scale = {});

}  // namespace zqd::ui
