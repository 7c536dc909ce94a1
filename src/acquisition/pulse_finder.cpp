#include "acquisition/pulse_finder.h"

#include <algorithm>

namespace zqd::acq {

namespace {
// The least swing between the levels that is taken for a pulse.
constexpr double kMinSwing = 64;
}  // namespace

void PulseFinder::Reset(std::optional<double> threshold, bool negative, std::int32_t rate) {
    fixed_ = threshold;
    negative_ = negative;
    rate_ = rate;
    have_levels_ = false;
    if (fixed_) threshold_ = negative_ ? -*fixed_ : *fixed_;
    have_ = 0;
    above_ = true;
    pending_ = false;
    last_edge_scan_ = INT64_MIN / 2;
}

void PulseFinder::Learn(const std::int16_t* words, int stride, std::int32_t scans) {
    if (scans <= 0) return;
    double lo = Value(words[0]), hi = lo;
    for (std::int32_t i = 1; i < scans; ++i) {
        const double v = Value(words[static_cast<std::size_t>(i) * static_cast<std::size_t>(stride)]);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    if (hi - lo < kMinSwing) return;  // no pulse here (yet)
    low_ = lo;
    high_ = hi;
    have_levels_ = true;
    if (!fixed_) threshold_ = (low_ + high_) / 2;
}

double PulseFinder::Edge(double before2, double before1, double at, double after, std::int64_t j) {
    const double low = before2;
    // A pulse narrower than three sample periods has no scan wholly high
    // after the edge: the level learned stands in for it.
    const double high = after >= threshold_ ? after : high_;
    const double span = high - low;
    if (!(span > 0)) return static_cast<double>(j);
    const double share_j = std::clamp((at - low) / span, 0.0, 1.0);
    const double share_b = std::clamp((before1 - low) / span, 0.0, 1.0);
    // The levels follow the signal slowly, so that the threshold stays midway.
    low_ += (low - low_) / 8;
    high_ += (high - high_) / 8;
    if (!fixed_) threshold_ = (low_ + high_) / 2;
    return static_cast<double>(j) + 1.0 - share_j - share_b;
}

void PulseFinder::Feed(const std::int16_t* words, int stride, std::int32_t scans, std::int64_t first_scan,
                       std::vector<double>& edges) {
    if (!have_levels_ && !fixed_) Learn(words, stride, scans);
    if (!have_levels_ && !fixed_) return;
    const std::int64_t spacing = std::max<std::int64_t>(2, rate_ / 2);  // pulses come a second apart
    for (std::int32_t i = 0; i < scans; ++i) {
        const double v = Value(words[static_cast<std::size_t>(i) * static_cast<std::size_t>(stride)]);
        const std::int64_t s = first_scan + i;
        if (pending_) {
            pending_ = false;
            if (s == pending_scan_ + 1) edges.push_back(Edge(pending_values_[0], pending_values_[1], pending_values_[2], v, pending_scan_));
        }
        if (above_) {
            if (v < threshold_) above_ = false;
        } else if (v >= threshold_) {
            above_ = true;
            if (have_ == 2 && s - last_edge_scan_ >= spacing) {
                pending_ = true;
                pending_scan_ = s;
                pending_values_[0] = prev_[0];
                pending_values_[1] = prev_[1];
                pending_values_[2] = v;
                last_edge_scan_ = s;
            }
        }
        prev_[0] = prev_[1];
        prev_[1] = v;
        have_ = std::min(2, have_ + 1);
    }
}

}  // namespace zqd::acq
