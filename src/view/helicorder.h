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

// What a window's helicorder shows, and how its keys change it: the
// channel, the row length (15, 30 or 60 minutes), the span (12 or 24 hours)
// and where it starts. Unless a start was chosen it shows the last whole
// period of the data, or, following, the period holding the newest sample,
// so that the last row grows as the data do.
struct HelicorderView {
    int channel = 0;
    int row_minutes = 15;
    int hours = 24;
    std::optional<std::int64_t> start;  // chosen; empty: from the data
    bool follow = false;                // the newest period, when no start is chosen

    HelicorderLayout Layout(const WaveformModel& m) const;
    // The period before (step < 0) or after it.
    void Step(const WaveformModel& m, int step);
    void NextRowLength();  // 15, 30, 60, 15 …
    void NextSpan();       // 24, 12, 24 …
    // The row `y` (0 at the top, 1 at the bottom of the rows) falls in, as
    // the span to show in the waveform view; empty outside the rows.
    std::optional<TimeSpan> RowSpanAt(const WaveformModel& m, double y) const;
};

// The amplitude each row is drawn at, common to all rows: half the median of
// the rows' ranges (smallest to largest sample, rows with data only), at
// least 1 count.
double HelicorderScale(const WaveformModel& m, int channel, const HelicorderLayout& l);

}  // namespace zqd::view
