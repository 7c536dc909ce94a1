// The helicorder (drum plot): one channel, a span of hours folded into rows
// of a few minutes, the oldest row at the top. The layout maps times to rows
// and across them; the drawing takes each row's envelope from the model's
// summaries, so that any day and any row length redraws within a frame.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "view/waveform_model.h"

namespace zqd::view {

struct HelicorderLayout {
    std::int64_t start_ns = 0;  // the first row's start
    std::int64_t row_ns = 0;    // each row's length
    std::int64_t end_ns = 0;    // the span's end: the last row may be cut short
    int rows = 0;

    std::int64_t RowStart(int r) const { return start_ns + r * row_ns; }
    // The row a time falls in and the fraction of the row before it (0 to
    // under 1); empty outside the span.
    std::optional<std::pair<int, double>> Place(std::int64_t t_ns) const;
};

// Rows of `row_minutes` from `start_ns` for `hours` hours; a row length that
// does not divide the span leaves the last row short.
HelicorderLayout MakeHelicorder(std::int64_t start_ns, int hours, int row_minutes);

// Where a helicorder of `hours` starts by default: the last whole UTC day of
// the data (or of the last 12 hours' half-day), or, when the data hold no
// whole one, the day (half-day) of the last sample.
std::int64_t DefaultHelicorderStart(const WaveformModel& m, int hours);

// The amplitude each row is drawn at, common to all rows: half the median of
// the rows' ranges (smallest to largest sample, rows with data only), at
// least 1 count.
double HelicorderScale(const WaveformModel& m, int channel, const HelicorderLayout& l);

}  // namespace zqd::view
