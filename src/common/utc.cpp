#include "common/utc.h"

#include <chrono>

#include <cstdio>

namespace zqd::utc {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

Civil FromNs(std::int64_t ns) {
    const std::int64_t days = FloorDiv(ns, kNsPerDay);
    const std::int64_t rest = ns - days * kNsPerDay;
    std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    Civil c;
    c.day = doy - (153 * mp + 2) / 5 + 1;
    c.month = mp < 10 ? mp + 3 : mp - 9;
    c.year = static_cast<std::int64_t>(yoe) + era * 400 + (c.month <= 2);
    const std::int64_t sod = rest / kNsPerSecond;
    c.hour = static_cast<unsigned>(sod / 3600);
    c.minute = static_cast<unsigned>(sod / 60 % 60);
    c.second = static_cast<unsigned>(sod % 60);
    c.ns = rest % kNsPerSecond;
    return c;
}

std::int64_t ToNs(const Civil& c) {
    return DaysFromCivil(c.year, c.month, c.day) * kNsPerDay +
           (static_cast<std::int64_t>(c.hour) * 3600 + c.minute * 60 + c.second) * kNsPerSecond + c.ns;
}

std::string Iso(std::int64_t ns) {
    const Civil c = FromNs(ns);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u.%09lldZ", static_cast<long long>(c.year),
                  c.month, c.day, c.hour, c.minute, c.second, static_cast<long long>(c.ns));
    return text;
}

std::string IsoMicro(std::int64_t ns) {
    const Civil c = FromNs(ns);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u.%06lldZ", static_cast<long long>(c.year), c.month,
                  c.day, c.hour, c.minute, c.second, static_cast<long long>(c.ns / 1000));
    return text;
}

int DayOfYear(const Civil& c) { return static_cast<int>(DaysFromCivil(c.year, c.month, c.day) - DaysFromCivil(c.year, 1, 1) + 1); }

std::string Stamp(std::int64_t ns) {
    const Civil c = FromNs(ns);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld.%03d.%02u%02u%02u", static_cast<long long>(c.year), DayOfYear(c), c.hour,
                  c.minute, c.second);
    return text;
}

bool ParseIso(const std::string& text, std::int64_t& ns, bool* out_of_range) {
    if (out_of_range) *out_of_range = false;
    // YYYY-MM-DDTHH:MM:SS[.f...]
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != ' ') ||
        text[13] != ':' || text[16] != ':')
        return false;
    auto num = [&](std::size_t at, std::size_t len, int& out) {
        out = 0;
        for (std::size_t i = at; i < at + len; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int y, mo, d, h, mi, s;
    if (!num(0, 4, y) || !num(5, 2, mo) || !num(8, 2, d) || !num(11, 2, h) || !num(14, 2, mi) ||
        !num(17, 2, s))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) return false;
    const auto month = static_cast<unsigned>(mo);
    const std::int64_t month_days = (mo == 12 ? DaysFromCivil(y + 1, 1, 1) : DaysFromCivil(y, month + 1, 1)) -
                                    DaysFromCivil(y, month, 1);
    if (d > month_days) return false;
    std::int64_t fraction = 0;
    if (text.size() > 19) {
        if (text[19] != '.' || text.size() == 20 || text.size() > 29) return false;
        std::int64_t scale = 100000000;
        for (std::size_t i = 20; i < text.size(); ++i, scale /= 10) {
            if (text[i] < '0' || text[i] > '9') return false;
            fraction += (text[i] - '0') * scale;
        }
    }
    const std::int64_t seconds = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 +
                                 mi * 60 + s;
    std::int64_t whole = 0;
    if (__builtin_mul_overflow(seconds, kNsPerSecond, &whole) || __builtin_add_overflow(whole, fraction, &ns)) {
        if (out_of_range) *out_of_range = true;
        return false;
    }
    return true;
}

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace zqd::utc
