// What the waveform view shows, without any toolkit: the time span, which
// rows are shown and how they are scaled, the cursor, and the time axis's
// ticks. The widget and the headless plot both draw from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "view/waveform_model.h"

namespace zqd::view {

struct TimeTick {
    std::int64_t t_ns = 0;
    std::string label;
};

// Ticks at a round step for [t0, t1] drawn over `width` pixels, at least
// `min_px` apart: whole days, hours, minutes, seconds, fractions of a second
// down to microseconds. Labels show what the step needs ("10:05", "10:05:30",
// "10:05:30.250", "30.250125"); a midnight shows the new date ("05-13").
std::vector<TimeTick> TimeTicks(std::int64_t t0, std::int64_t t1, int width, int min_px = 100);
std::int64_t TickStepNs(std::int64_t t0, std::int64_t t1, int width, int min_px = 100);
// "2008-05-12", the date of a time.
std::string DateText(std::int64_t t_ns);
// "2008-05-12 10:00:03.123456", to the microsecond.
std::string CursorTimeText(std::int64_t t_ns);

class WaveformView {
public:
    static constexpr std::int64_t kMinSpanNs = 10'000;                      // 10 µs
    static constexpr std::int64_t kMaxSpanNs = 36525LL * 86'400'000'000'000;  // a hundred years

    std::int64_t Begin() const { return t0_; }
    std::int64_t End() const { return t1_; }
    std::int64_t Span() const { return t1_ - t0_; }
    void SetSpan(std::int64_t t0, std::int64_t t1);
    // The whole model (a second when it is empty).
    void Fit(const WaveformModel& model);
    // factor < 1 zooms in, about the time `about` that stays where it is.
    void Zoom(double factor, std::int64_t about);
    void ZoomAtX(double factor, double x, int width) { Zoom(factor, TimeAtX(x, width)); }
    // Moves by a fraction of the span (positive: later).
    void Pan(double fraction);
    void PanPixels(double dx, int width);

    std::int64_t TimeAtX(double x, int width) const;
    double XOf(std::int64_t t_ns, int width) const;

    // Rows: hidden or shown, auto-scaled to the visible data or fixed.
    void SetRowCount(int n) {
        hidden_.resize(static_cast<std::size_t>(n), false);
        weight_.resize(static_cast<std::size_t>(n), 1.0);
    }
    bool Hidden(int row) const { return row < static_cast<int>(hidden_.size()) && hidden_[static_cast<std::size_t>(row)]; }
    void SetHidden(int row, bool hidden);
    // The rows not hidden, top to bottom: those of the order given first, in
    // its order, then the others by their number.
    std::vector<int> ShownRows() const;
    void SetOrder(std::vector<int> rows) { order_ = std::move(rows); }
    // Each shown row's share of the height: 1 by default, 0.25 to 8.
    double Weight(int row) const;
    void Resize(int row, double factor);
    // The row the keys act on (hide, resize): moved with [ and ], marked
    // where there are keys to act (the window, not a picture).
    int current_row = 0;
    bool mark_current_row = false;
    void StepRow(int step);
    bool fixed_scale = false;  // keep each row's scale as it was when fixed
    bool volts = false;        // amplitude axes in volts (the export's scaling)
    // Each row's scale when fixed: taken by FixScale from what is visible.
    void FixScale(const WaveformModel& model);
    MinMax RowScale(const WaveformModel& model, int row) const;

    // Live: the last `live_seconds` follow the newest data unless paused.
    bool paused = false;
    double live_seconds = 10;
    void Follow(const WaveformModel& model);

    std::optional<std::int64_t> cursor;  // time under the mouse
    std::string note;                    // at the top right: the filter drawn

private:
    std::int64_t t0_ = 0, t1_ = 1'000'000'000;
    std::vector<bool> hidden_;
    std::vector<int> order_;  // the rows drawn first, in this order
    std::vector<double> weight_;
    std::vector<MinMax> fixed_;
};

}  // namespace zqd::view
