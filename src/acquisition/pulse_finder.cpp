#include "acquisition/pulse_finder.h"

#include <algorithm>
#include <cmath>

namespace zqd::acq {

namespace {
// The least swing between the levels that is taken for a pulse.
constexpr double kMinSwing = 64;
// The resting level ahead of a pulse and its level once up lie within this
// share of the swing from the lowest and the highest levels seen; the pulse
// level is flat within the flatness share.
constexpr double kLevelShare = 0.35;
constexpr double kFlatShare = 0.2;
// A pulse's width may be off by this share of it (and two sample periods).
constexpr double kWidthShare = 0.25;
// How far off a whole second an edge may be beyond the rate alarm, in
// sample periods: what locating it to a fraction of a sample may miss.
constexpr double kEdgeSlack = 0.05;
}  // namespace

void PulseFinder::Reset(const Settings& settings) {
    settings_ = settings;
    negative_ = settings.negative;
    width_scans_ = settings.width_ms * 1e-3 * settings.rate;
    width_tolerance_ = std::max(2.0, kWidthShare * width_scans_);
    spans_.clear();
    have_levels_ = false;
    low_ = high_ = 0;
    threshold_ = settings.threshold ? (negative_ ? -*settings.threshold : *settings.threshold) : 0;
    state_ = State::kWaitRest;
    have_ = 0;
    next_scan_ = 0;
    previous_.reset();
    last_taken_.reset();
    counts_ = {};
}

void PulseFinder::Lost() {
    // The lost scans are counted: the pulses before still count seconds with
    // those after; only one across the loss cannot be measured.
    state_ = State::kWaitRest;
    have_ = 0;
}

void PulseFinder::Learn(const std::int16_t* words, int stride, std::int32_t scans) {
    if (scans <= 0) return;
    double lo = Value(words[0]), hi = lo;
    for (std::int32_t i = 1; i < scans; ++i) {
        const double v = Value(words[static_cast<std::size_t>(i) * static_cast<std::size_t>(stride)]);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    spans_.push_back({lo, hi, scans});
    std::int64_t held = 0;
    for (const Span& s : spans_) held += s.scans;
    while (spans_.size() > 1 && held - spans_.front().scans >= 2LL * settings_.rate) {
        held -= spans_.front().scans;
        spans_.pop_front();
    }
    low_ = spans_.front().low;
    high_ = spans_.front().high;
    for (const Span& s : spans_) {
        low_ = std::min(low_, s.low);
        high_ = std::max(high_, s.high);
    }
    have_levels_ = high_ - low_ >= kMinSwing;
    if (!settings_.threshold && have_levels_) threshold_ = (low_ + high_) / 2;
}

std::int64_t PulseFinder::Settled() const {
    std::int64_t settled = next_scan_;
    if (state_ == State::kHigh) settled = std::min(settled, rise_scan_ - 1);
    // A pulse not yet taken waits for the next one to confirm it.
    if (previous_ && !previous_->taken &&
        static_cast<double>(next_scan_) - previous_->edge <= 1.5 * settings_.rate + width_scans_ + width_tolerance_)
        settled = std::min(settled, static_cast<std::int64_t>(std::floor(previous_->edge)));
    return settled;
}

bool PulseFinder::WholeSeconds(double from, double to) const {
    const double d = to - from;
    const double rate = settings_.rate;
    const double k = std::round(d / rate);
    if (k < 1) return false;
    const double ppm = std::max(1.0, settings_.rate_alarm_ppm);
    return std::abs(d - k * rate) <= k * rate * ppm * 1e-6 + kEdgeSlack;
}

void PulseFinder::Offer(double edge, std::vector<double>& edges) {
    auto take = [&](double e) {
        edges.push_back(e);
        ++counts_.pulses;
        last_taken_ = e;
    };
    const bool next_second = previous_ && edge - previous_->edge <= 1.5 * settings_.rate;
    if (previous_ && next_second && WholeSeconds(previous_->edge, edge)) {
        if (!previous_->taken) take(previous_->edge);
        take(edge);
    } else if (last_taken_ && WholeSeconds(*last_taken_, edge)) {
        take(edge);
    } else {
        if (previous_ && !previous_->taken) ++counts_.off_second;  // never confirmed
        previous_ = Candidate{edge, false};
        return;
    }
    previous_ = Candidate{edge, true};
}

void PulseFinder::Ended(std::int64_t fall_scan, std::vector<double>& edges) {
    const auto up = static_cast<double>(fall_scan - rise_scan_);
    if (std::abs(up - width_scans_) > width_tolerance_ || plateau_n_ < 1) {
        ++counts_.wrong_width;
        return;
    }
    const double swing = high_ - low_;
    const double high = plateau_sum_ / static_cast<double>(plateau_n_);
    // The resting level: a line through the four scans before the two the
    // edge may fall in, carried to them.
    const double* r = rise_values_;
    const double slope = (3 * (r[3] - r[0]) + (r[2] - r[1])) / 10.0;  // least squares over four scans
    const double mean = (r[0] + r[1] + r[2] + r[3]) / 4.0;
    const double low_before = mean + 2.5 * slope, low_at = mean + 3.5 * slope;
    if (low_at > low_ + kLevelShare * swing || high < high_ - kLevelShare * swing ||
        plateau_max_ - plateau_min_ > kFlatShare * swing || !(high - low_at > 0) || !(high - low_before > 0)) {
        ++counts_.not_pulse;
        return;
    }
    // The scan before the rise (below the threshold) took a share of at most
    // a half; the rise's own scan the rest.
    const double share_j = std::clamp((r[5] - low_at) / (high - low_at), 0.0, 1.0);
    const double share_b = std::clamp((r[4] - low_before) / (high - low_before), 0.0, 1.0);
    Offer(static_cast<double>(rise_scan_) + 1.0 - share_j - share_b, edges);
}

void PulseFinder::Feed(const std::int16_t* words, int stride, std::int32_t scans, std::int64_t first_scan,
                       std::vector<double>& edges) {
    Learn(words, stride, scans);
    if (first_scan != next_scan_ && next_scan_ != 0) Lost();  // not the scans that follow
    next_scan_ = first_scan + scans;
    if (!have_levels_) {
        // Nothing that swings like a pulse: wait for its resting level.
        state_ = State::kWaitRest;
        have_ = 0;
        return;
    }
    for (std::int32_t i = 0; i < scans; ++i) {
        const double v = Value(words[static_cast<std::size_t>(i) * static_cast<std::size_t>(stride)]);
        const std::int64_t s = first_scan + i;
        const bool up = v >= threshold_;
        switch (state_) {
        case State::kWaitRest:
            if (!up) {
                state_ = State::kRest;
                have_ = 0;
            }
            break;
        case State::kRest:
            if (!up) break;
            if (have_ < kHistory) {  // too little resting level before it to carry
                ++counts_.not_pulse;
                state_ = State::kWaitRest;
                break;
            }
            state_ = State::kHigh;
            rise_scan_ = s;
            for (int k = 0; k < kHistory; ++k) rise_values_[k] = prev_[k];
            rise_values_[kHistory] = v;
            plateau_sum_ = 0;
            plateau_n_ = 0;
            last_high_ = v;
            break;
        case State::kHigh:
            if (up) {
                if (s >= rise_scan_ + 2) {  // the scan before this one lies wholly within the pulse
                    plateau_min_ = plateau_n_ == 0 ? last_high_ : std::min(plateau_min_, last_high_);
                    plateau_max_ = plateau_n_ == 0 ? last_high_ : std::max(plateau_max_, last_high_);
                    plateau_sum_ += last_high_;
                    ++plateau_n_;
                }
                last_high_ = v;
                if (static_cast<double>(s - rise_scan_) > width_scans_ + width_tolerance_ + 1) {
                    ++counts_.wrong_width;  // stays up too long
                    state_ = State::kWaitRest;
                }
            } else {
                Ended(s, edges);
                state_ = State::kRest;
                have_ = 0;
            }
            break;
        }
        if (state_ == State::kRest && !up) {
            for (int k = 0; k + 1 < kHistory; ++k) prev_[k] = prev_[k + 1];
            prev_[kHistory - 1] = v;
            have_ = std::min(kHistory, have_ + 1);
        }
    }
}

}  // namespace zqd::acq
