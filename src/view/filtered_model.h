// A filtered copy of a model's channels over the span shown: what a view
// draws when a filter is chosen. Only the span is filtered (with a margin on
// each side so that the filter has settled where it is seen), never the
// whole archive; the result is a model like any other, with its own
// summaries.
#pragma once

#include <cstdint>
#include <vector>

#include "common/status.h"
#include "signal/filter.h"
#include "view/waveform_model.h"

namespace zqd::view {

// The samples a filtered span may hold, all channels together (about 200 MB
// as doubles while one stretch is filtered, 100 MB as counts).
inline constexpr std::uint64_t kMostFilteredSamples = 25'000'000;

// The margin read before and after the span: ten periods of the lowest corner.
std::int64_t FilterMarginNs(const signal::FilterSpec& spec);

// Channels `shown` (all when empty) of `in` over [t0, t1), each stretch
// filtered on its own (zero-phase, in double precision, rounded to counts),
// into `out`, whose rows are `in`'s (the others empty). A row whose rate the
// filter does not suit (a health channel of a sample a second under a 1 Hz
// corner) is copied as it is, and named in `unfiltered`. kQueryRefused
// (kBadFilter) when the filter suits no row, or (kFilteredSpanTooLong) when
// the span holds more than `most` samples.
Status FilterModel(const WaveformModel& in, const std::vector<bool>& shown, std::int64_t t0, std::int64_t t1,
                   const signal::FilterSpec& spec, WaveformModel& out, std::uint64_t most = kMostFilteredSamples,
                   std::vector<int>* unfiltered = nullptr);

}  // namespace zqd::view
