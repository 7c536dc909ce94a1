// Civil dates and times in UTC as signed 64-bit nanoseconds since
// 1970-01-01T00:00:00 (proleptic Gregorian calendar, no leap seconds).
#pragma once

#include <cstdint>
#include <string>

namespace zqd::utc {

inline constexpr std::int64_t kNsPerSecond = 1000000000;
inline constexpr std::int64_t kNsPerDay = 86400 * kNsPerSecond;

std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);

struct Civil {
    std::int64_t year = 1970;
    unsigned month = 1, day = 1, hour = 0, minute = 0, second = 0;
    std::int64_t ns = 0;
};

Civil FromNs(std::int64_t ns);
// The computer's clock, ns since 1970 UTC.
std::int64_t NowNs();
std::int64_t ToNs(const Civil& c);

// Floor division, for times before 1970 too.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b);

// Parses "YYYY-MM-DDTHH:MM:SS[.fffffffff]" (a blank may stand for the T).
// False for another form, and for a well-formed time that 64-bit
// nanoseconds cannot hold (before 1677-09-21 or after 2262-04-11), which
// sets `out_of_range` when given.
bool ParseIso(const std::string& text, std::int64_t& ns, bool* out_of_range = nullptr);

// The first and last times 64-bit nanoseconds hold, as ParseIso's message says them.
inline constexpr const char* kFirstTime = "1677-09-21T00:12:44";
inline constexpr const char* kLastTime = "2262-04-11T23:47:16";

// "2008-05-12T17:38:43.300000000Z"
std::string Iso(std::int64_t ns);
// "2008-05-12T10:00:00.000000Z", to the microsecond (a CSV row's time).
std::string IsoMicro(std::int64_t ns);
// "2008.133.100000": year, day of the year and time of day, for file names.
std::string Stamp(std::int64_t ns);
// Day of the year, 1 to 366.
int DayOfYear(const Civil& c);

}  // namespace zqd::utc
