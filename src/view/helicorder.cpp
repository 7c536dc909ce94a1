#include "view/helicorder.h"

#include <algorithm>
#include <vector>

#include "common/utc.h"

namespace zqd::view {

std::optional<std::pair<int, double>> HelicorderLayout::Place(std::int64_t t_ns) const {
    if (row_ns <= 0 || t_ns < start_ns || t_ns >= end_ns) return std::nullopt;
    const std::int64_t into = t_ns - start_ns;
    const auto r = static_cast<int>(into / row_ns);
    return std::pair{r, static_cast<double>(into - r * row_ns) / static_cast<double>(row_ns)};
}

HelicorderLayout MakeHelicorder(std::int64_t start_ns, int hours, int row_minutes) {
    HelicorderLayout l;
    l.start_ns = start_ns;
    l.row_ns = static_cast<std::int64_t>(std::max(row_minutes, 1)) * 60 * utc::kNsPerSecond;
    const std::int64_t span = static_cast<std::int64_t>(std::max(hours, 1)) * 3600 * utc::kNsPerSecond;
    l.end_ns = start_ns + span;
    l.rows = static_cast<int>((span + l.row_ns - 1) / l.row_ns);
    return l;
}

std::int64_t DefaultHelicorderStart(const WaveformModel& m, int hours) {
    const auto extent = m.Extent();
    if (!extent) return 0;
    const std::int64_t period = static_cast<std::int64_t>(std::max(hours, 1)) * 3600 * utc::kNsPerSecond;
    // The period holding the last sample; the one before it when that one is
    // whole in the data (the data reach its start) and the last is not yet.
    const std::int64_t last = utc::FloorDiv(extent->end_ns - 1, period) * period;
    if (extent->end_ns < last + period && extent->begin_ns <= last - period) return last - period;
    return last;
}

HelicorderLayout HelicorderView::Layout(const WaveformModel& m) const {
    const std::int64_t period = static_cast<std::int64_t>(hours) * 3600 * utc::kNsPerSecond;
    std::int64_t from = 0;
    if (start)
        from = *start;
    else if (const auto e = m.Extent(); e && follow)
        from = utc::FloorDiv(e->end_ns - 1, period) * period;
    else
        from = DefaultHelicorderStart(m, hours);
    return MakeHelicorder(from, hours, row_minutes);
}

void HelicorderView::Step(const WaveformModel& m, int step) {
    const HelicorderLayout l = Layout(m);
    start = l.start_ns + step * (l.end_ns - l.start_ns);
    follow = false;
}

void HelicorderView::NextRowLength() { row_minutes = row_minutes == 15 ? 30 : row_minutes == 30 ? 60 : 15; }

void HelicorderView::NextSpan() {
    hours = hours == 24 ? 12 : 24;
    if (start) {  // the half-day (day) the old start lay in
        const std::int64_t period = static_cast<std::int64_t>(hours) * 3600 * utc::kNsPerSecond;
        start = utc::FloorDiv(*start, period) * period;
    }
}

std::optional<TimeSpan> HelicorderView::RowSpanAt(const WaveformModel& m, double y) const {
    const HelicorderLayout l = Layout(m);
    if (l.rows <= 0 || y < 0 || y >= 1) return std::nullopt;
    const int r = std::min(static_cast<int>(y * l.rows), l.rows - 1);
    return TimeSpan{l.RowStart(r), std::min(l.RowStart(r) + l.row_ns, l.end_ns)};
}

double HelicorderScale(const WaveformModel& m, int channel, const HelicorderLayout& l) {
    std::vector<double> ranges;
    for (int r = 0; r < l.rows; ++r) {
        const MinMax mm = m.RangeIn(channel, l.RowStart(r), std::min(l.RowStart(r) + l.row_ns, l.end_ns));
        if (!mm.Empty()) ranges.push_back(static_cast<double>(mm.max) - mm.min);
    }
    if (ranges.empty()) return 1;
    const auto mid = ranges.begin() + static_cast<std::ptrdiff_t>(ranges.size() / 2);
    std::nth_element(ranges.begin(), mid, ranges.end());
    return std::max(1.0, *mid / 2);
}

}  // namespace zqd::view
