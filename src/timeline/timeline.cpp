#include "timeline/timeline.h"

#include <cmath>
#include <limits>

namespace zqd::timeline {

std::int64_t ScansToNs(std::int64_t scans, std::int32_t frq) {
    if (frq <= 0) return 0;
    const std::int64_t whole = scans / frq;
    const std::int64_t rest = scans % frq;  // |rest| < frq, so rest * 1e9 fits
    const std::int64_t part = rest * kNsPerSecond;
    const std::int64_t rounded = part >= 0 ? (part + frq / 2) / frq : -((-part + frq / 2) / frq);
    return whole * kNsPerSecond + rounded;
}

std::int64_t SampleTime(std::int64_t origin_ns, double index, double rate) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    const double offset = index * 1e9 / rate;
    // Saturated where a time would leave what 64-bit nanoseconds hold.
    if (std::isnan(offset)) return origin_ns;
    if (offset >= 9.2e18) return kMax;
    if (offset <= -9.2e18) return kMin;
    std::int64_t t = 0;
    if (__builtin_add_overflow(origin_ns, static_cast<std::int64_t>(std::llround(offset)), &t)) return offset > 0 ? kMax : kMin;
    return t;
}

std::int64_t HalfPeriodNs(double rate) {
    if (!(rate > 0)) return 0;
    // Exact for whole rates, as the card's are.
    const double r = std::round(rate);
    if (r == rate && r <= 5e8) return 500000000 / static_cast<std::int64_t>(r);
    return static_cast<std::int64_t>(std::floor(5e8 / rate));
}

std::int64_t ToleranceNs(double periods, double rate) {
    if (!(rate > 0) || !(periods > 0)) return 0;
    const double ns = periods * 1e9 / rate;
    return ns >= 9.2e18 ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(std::llround(ns));
}

bool Within(std::int64_t expected_ns, std::int64_t t_ns, std::int64_t tolerance_ns) {
    // The difference of two times of this program fits: both lie within
    // +-292 years of 1970, but clamp rather than overflow for any others.
    std::int64_t diff = 0;
    if (__builtin_sub_overflow(t_ns, expected_ns, &diff)) return false;
    return diff <= tolerance_ns && diff >= -tolerance_ns;
}

bool Continues(std::int64_t expected_ns, std::int64_t t_ns, double rate) {
    return Within(expected_ns, t_ns, HalfPeriodNs(rate));
}

std::int64_t Break(std::int64_t expected_ns, std::int64_t t_ns, double rate) {
    if (Continues(expected_ns, t_ns, rate)) return 0;
    std::int64_t diff = 0;
    if (__builtin_sub_overflow(t_ns, expected_ns, &diff))
        return t_ns > expected_ns ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    return diff;
}

}  // namespace zqd::timeline
