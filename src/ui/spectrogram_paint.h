// A spectrogram drawn under a waveform: time across on the same axis as the
// rows above it, frequency up from 0 Hz to the Nyquist frequency, power in dB
// in colour (a dark-blue-to-yellow scale), the colour bar and the frequency
// labels in the label column at the left.
#pragma once

#include <QPainter>

#include <cstdint>
#include <string>

#include "signal/spectrogram.h"

namespace zqd::ui {

// `s` over [t0, t1) into `rect`, whose left `label_width` pixels hold the
// labels, from 0 Hz up to `top_hz` (0 or beyond: the Nyquist frequency);
// `title` at the top left ("GY0 频谱图").
void PaintSpectrogram(QPainter& p, const QRect& rect, int label_width, const signal::Spectrogram& s, std::int64_t t0,
                      std::int64_t t1, const std::string& title, double top_hz = 0);

}  // namespace zqd::ui
