// A channel's noise, without any toolkit: its PPSD over a span of what is
// open, the instrument's response taken out when a sensor is set, and how
// it is said (the status line, the CSV of percentiles). Drawn by the viewer's
// 噪声 view and by `psd`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/result.h"
#include "config/station_config.h"
#include "signal/psd.h"
#include "view/waveform_model.h"

namespace zqd {

struct Noise {
    signal::Ppsd ppsd;
    bool acceleration = false;  // the response taken out; else the levels are in counts
    std::string name;           // NET.STA.LOC.CHA
    std::int64_t first_ns = 0, last_ns = 0;  // of the segments used
    double segment_seconds = 0;
};

// |H(f)|² of the channel `code` to ground acceleration, counts² per (m/s²)²,
// from its sensor and the card's stage; none without a sensor.
signal::PowerResponse AccelerationResponse(const config::StationConfig& c, const std::string& code);

// Row `row` of `m` over [from, to): every whole segment without a gap of
// `segment_seconds`, overlapping by half. kQueryRefused (kNoWholeSegment)
// when there is none.
Result<Noise> MakeNoise(const view::WaveformModel& m, int row, std::optional<std::int64_t> from,
                        std::optional<std::int64_t> to, const config::StationConfig& config, double segment_seconds);

// The segments for a view of `span_ns`: an hour when two fit, else a
// quarter of the span in whole seconds (at least one).
double NoiseSegmentSeconds(std::int64_t span_ns);

// "dB rel. 1 (m/s²)²/Hz", or rel. 1 count²/Hz without a response.
std::string NoiseDbLabel(const Noise& n);
// "XX.ZQD01.00.GY0 的噪声：47 段，每段 3600 秒，重叠一半；dB rel. …", and
// without a sensor that the levels are counts.
std::string NoiseSaid(const Noise& n);
// Per period: segments, the 10th, 50th, 90th percentiles, the mode and the
// noise models (those only with a response), CRLF lines.
std::string NoiseCsv(const Noise& n);

}  // namespace zqd
