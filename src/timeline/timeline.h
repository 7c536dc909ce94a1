// Time along a series of evenly spaced samples, and the one rule for when a
// series continues: everything that joins samples into series (the
// acquisition's gap events, the miniSEED packer, the archive reader, the
// waveform model, conversion) asks this rule and no other.
#pragma once

#include <cstdint>

namespace zqd::timeline {

inline constexpr std::int64_t kNsPerSecond = 1000000000;

// Nanoseconds that `scans` scans take at `frq` scans a second, rounded to
// the nearest nanosecond (0 for a rate that is not positive).
std::int64_t ScansToNs(std::int64_t scans, std::int32_t frq);

// Time of sample `index` of a series whose sample 0 is at `origin_ns`, at
// `rate` samples a second: origin + index x 1e9 / rate, rounded to the
// nearest nanosecond; the largest or smallest time there is where that would
// leave what 64-bit nanoseconds hold.
std::int64_t SampleTime(std::int64_t origin_ns, double index, double rate);

// Half a sample period in whole nanoseconds, rounded down: the tolerance of
// the continuity rule.
std::int64_t HalfPeriodNs(double rate);

// `periods` sample periods at `rate` samples a second, to the nearest whole
// nanosecond: a tolerance given in sample periods.
std::int64_t ToleranceNs(double periods, double rate);

// The continuity rule: a series whose next sample is due at `expected_ns`
// continues with a sample at `t_ns` when the two lie within `tolerance_ns`
// of each other (inclusive); anything farther is a gap or an overlap.
bool Within(std::int64_t expected_ns, std::int64_t t_ns, std::int64_t tolerance_ns);
// The rule at its usual tolerance: half a sample period.
bool Continues(std::int64_t expected_ns, std::int64_t t_ns, double rate);

// The signed difference `t_ns` - `expected_ns` when the series does not
// continue, 0 when it does.
std::int64_t Break(std::int64_t expected_ns, std::int64_t t_ns, double rate);

}  // namespace zqd::timeline
