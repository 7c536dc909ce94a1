#include "view/waveform_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/utc.h"

namespace zqd::view {

namespace {

constexpr std::int64_t kUs = 1'000, kMs = 1'000'000, kS = 1'000'000'000, kMin = 60 * kS, kHour = 60 * kMin,
                       kDay = 24 * kHour;

// The start of a span of `span` ns placed at `t0`, kept so that the whole
// span lies within what 64-bit nanoseconds hold.
constexpr std::int64_t kEdge = 9'200'000'000'000'000'000;
std::int64_t PlaceStart(std::int64_t t0, std::int64_t span) { return std::clamp(t0, -kEdge, kEdge - span); }

// a + b, or the nearest end of the range where that would not fit.
std::int64_t Add(std::int64_t a, std::int64_t b) {
    std::int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? kEdge : -kEdge;
    return r;
}

std::int64_t Offset(double ns) { return static_cast<std::int64_t>(std::llround(std::clamp(ns, -9.2e18, 9.2e18))); }

}  // namespace

std::int64_t TickStepNs(std::int64_t t0, std::int64_t t1, int width, int min_px) {
    static const std::int64_t steps[] = {
        kUs,        2 * kUs,     5 * kUs,     10 * kUs,   20 * kUs,   50 * kUs,   100 * kUs, 200 * kUs, 500 * kUs,
        kMs,        2 * kMs,     5 * kMs,     10 * kMs,   20 * kMs,   50 * kMs,   100 * kMs, 200 * kMs, 500 * kMs,
        kS,         2 * kS,      5 * kS,      10 * kS,    15 * kS,    30 * kS,    kMin,      2 * kMin,  5 * kMin,
        10 * kMin,  15 * kMin,   30 * kMin,   kHour,      2 * kHour,  3 * kHour,  6 * kHour, 12 * kHour, kDay,
        2 * kDay,   5 * kDay,    10 * kDay,   30 * kDay,  100 * kDay, 200 * kDay, 500 * kDay, 1000 * kDay,
        2000 * kDay, 5000 * kDay, 10000 * kDay};
    if (width <= 0 || t1 <= t0) return kDay;
    const double ns_per_px = static_cast<double>(t1 - t0) / width;
    for (std::int64_t s : steps)
        if (static_cast<double>(s) >= ns_per_px * min_px) return s;
    return steps[std::size(steps) - 1];
}

std::vector<TimeTick> TimeTicks(std::int64_t t0, std::int64_t t1, int width, int min_px) {
    std::vector<TimeTick> ticks;
    if (width <= 0 || t1 <= t0) return ticks;
    const std::int64_t step = TickStepNs(t0, t1, width, min_px);
    for (std::int64_t t = (utc::FloorDiv(t0, step) + (utc::FloorDiv(t0, step) * step < t0 ? 1 : 0)) * step; t <= t1;) {
        const utc::Civil c = utc::FromNs(t);
        char text[48];
        if (step >= 100 * kDay)  // years: the whole date
            std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(c.year), c.month, c.day);
        else if (step >= kDay)
            std::snprintf(text, sizeof text, "%02u-%02u", c.month, c.day);
        else if (t % kDay == 0)  // midnight: the new date
            std::snprintf(text, sizeof text, "%02u-%02u", c.month, c.day);
        else if (step >= kMin)
            std::snprintf(text, sizeof text, "%02u:%02u", c.hour, c.minute);
        else if (step >= kS)
            std::snprintf(text, sizeof text, "%02u:%02u:%02u", c.hour, c.minute, c.second);
        else if (step >= kMs)
            std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03lld", c.hour, c.minute, c.second,
                          static_cast<long long>(c.ns / kMs));
        else
            std::snprintf(text, sizeof text, "%02u.%06lld", c.second, static_cast<long long>(c.ns / kUs));
        ticks.push_back({t, text});
        if (__builtin_add_overflow(t, step, &t)) break;
    }
    return ticks;
}

std::string DateText(std::int64_t t_ns) {
    const utc::Civil c = utc::FromNs(t_ns);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(c.year), c.month, c.day);
    return text;
}

std::string CursorTimeText(std::int64_t t_ns) {
    const utc::Civil c = utc::FromNs(t_ns);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02u:%02u:%02u.%06lld", static_cast<long long>(c.year), c.month,
                  c.day, c.hour, c.minute, c.second, static_cast<long long>(c.ns / kUs));
    return text;
}

void WaveformView::SetSpan(std::int64_t t0, std::int64_t t1) {
    if (t1 < t0) std::swap(t0, t1);
    std::int64_t whole = 0;
    const bool wide = __builtin_sub_overflow(t1, t0, &whole);
    const std::int64_t span = wide ? kMaxSpanNs : std::clamp(whole, kMinSpanNs, kMaxSpanNs);
    const std::int64_t mid = t0 / 2 + t1 / 2 + (t0 % 2 + t1 % 2) / 2;
    t0_ = PlaceStart(!wide && whole == span ? t0 : Add(mid, -span / 2), span);
    t1_ = t0_ + span;
}

void WaveformView::Fit(const WaveformModel& model) {
    SetRowCount(model.ChannelCount());
    if (const auto e = model.Extent())
        SetSpan(e->begin_ns, e->end_ns);
    else
        SetSpan(t0_, t0_ + kS);
}

void WaveformView::Zoom(double factor, std::int64_t about) {
    const double span = std::clamp(static_cast<double>(Span()) * factor, static_cast<double>(kMinSpanNs),
                                   static_cast<double>(kMaxSpanNs));
    const double left = (static_cast<double>(about) - static_cast<double>(t0_)) / static_cast<double>(Span());
    const auto whole = static_cast<std::int64_t>(std::llround(span));
    t0_ = PlaceStart(Add(about, -Offset(left * span)), whole);
    t1_ = t0_ + whole;
}

void WaveformView::Pan(double fraction) {
    const std::int64_t span = Span();
    t0_ = PlaceStart(Add(t0_, Offset(static_cast<double>(span) * fraction)), span);
    t1_ = t0_ + span;
}

void WaveformView::PanPixels(double dx, int width) {
    if (width > 0) Pan(-dx / width);
}

std::int64_t WaveformView::TimeAtX(double x, int width) const {
    if (width <= 0) return t0_;
    return t0_ + static_cast<std::int64_t>(std::llround(static_cast<double>(Span()) * x / width));
}

double WaveformView::XOf(std::int64_t t_ns, int width) const {
    return static_cast<double>(t_ns - t0_) * width / static_cast<double>(Span());
}

void WaveformView::SetHidden(int row, bool hidden) {
    if (row < 0) return;
    if (row >= static_cast<int>(hidden_.size())) hidden_.resize(static_cast<std::size_t>(row) + 1, false);
    hidden_[static_cast<std::size_t>(row)] = hidden;
}

std::vector<int> WaveformView::ShownRows() const {
    std::vector<int> rows;
    const int n = static_cast<int>(hidden_.size());
    std::vector<bool> taken(hidden_.size(), false);
    for (int r : order_)
        if (r >= 0 && r < n && !hidden_[static_cast<std::size_t>(r)] && !taken[static_cast<std::size_t>(r)]) {
            taken[static_cast<std::size_t>(r)] = true;
            rows.push_back(r);
        }
    for (int r = 0; r < n; ++r)
        if (!hidden_[static_cast<std::size_t>(r)] && !taken[static_cast<std::size_t>(r)]) rows.push_back(r);
    return rows;
}

double WaveformView::Weight(int row) const {
    return row >= 0 && row < static_cast<int>(weight_.size()) ? weight_[static_cast<std::size_t>(row)] : 1.0;
}

void WaveformView::Resize(int row, double factor) {
    if (row < 0 || row >= static_cast<int>(weight_.size())) return;
    auto& w = weight_[static_cast<std::size_t>(row)];
    w = std::clamp(w * factor, 0.25, 8.0);
}

void WaveformView::StepRow(int step) {
    const auto rows = ShownRows();
    if (rows.empty()) return;
    auto it = std::lower_bound(rows.begin(), rows.end(), current_row);
    auto i = static_cast<int>(it - rows.begin());
    if (it == rows.end() || *it != current_row) step = step > 0 ? step - 1 : step;  // the current row was hidden
    i = std::clamp(i + step, 0, static_cast<int>(rows.size()) - 1);
    current_row = rows[static_cast<std::size_t>(i)];
}

void WaveformView::FixScale(const WaveformModel& model) {
    fixed_.assign(static_cast<std::size_t>(model.ChannelCount()), MinMax{});
    for (int c = 0; c < model.ChannelCount(); ++c) fixed_[static_cast<std::size_t>(c)] = model.RangeIn(c, t0_, t1_);
    fixed_scale = true;
}

MinMax WaveformView::RowScale(const WaveformModel& model, int row) const {
    MinMax r = fixed_scale && row < static_cast<int>(fixed_.size()) && !fixed_[static_cast<std::size_t>(row)].Empty()
                   ? fixed_[static_cast<std::size_t>(row)]
                   : model.RangeIn(row, t0_, t1_);
    if (r.Empty()) return MinMax{0, 65535};
    if (r.min == r.max) {  // a flat line in the middle of its row
        r.min -= 1;
        r.max += 1;
    }
    return r;
}

void WaveformView::Follow(const WaveformModel& model) {
    if (paused) return;
    const auto e = model.Extent();
    if (!e) return;
    const auto span = static_cast<std::int64_t>(live_seconds * 1e9);
    t1_ = e->end_ns;
    t0_ = t1_ - span;
}

}  // namespace zqd::view
