// The simulated card's settings from ADCARD_SIM_* in the environment: each
// read whole and in range, or said on the warnings and left at its default.
#include "card/sim/sim_card.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "common/utc.h"

namespace zqd::sim {

namespace {

// A whole text as a number, whatever the locale: "0.5" everywhere.
bool ParseReal(const std::string& text, double& out) {
    double v = 0;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, v);
    if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool ParseInt(const char* text, long long& out) {
    char* end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0') return false;
    out = v;
    return true;
}

}  // namespace

bool ParseStartTime(const std::string& text, std::int64_t& ns) { return utc::ParseIso(text, ns); }

// SECOND:SECONDS: from which second of acquisition, for how long.
static void ReadSpan(const char* name, std::int64_t& from_out, std::int64_t& for_out, std::string& warnings) {
    const char* v = std::getenv(name);
    if (!v || !*v) return;
    const std::string text(v);
    const auto colon = text.find(':');
    long long from = 0, length = 0;
    if (colon != std::string::npos && ParseInt(text.substr(0, colon).c_str(), from) &&
        ParseInt(text.substr(colon + 1).c_str(), length) && from >= 0 && length >= 1) {
        from_out = from;
        for_out = length;
    } else {
        warnings += std::string("adcard: ") + name + "=\"" + text +
                    "\" is not SECOND:SECONDS (from which second of acquisition, for how long); ignored\n";
    }
}

// ADCARD_SIM_EVENT, ISO_TIME:SECONDS:AMPLITUDE: the time's own colons before the last two.
static void ReadEvent(SimSettings& s, std::string& warnings) {
    const char* v = std::getenv("ADCARD_SIM_EVENT");
    if (!v || !*v) return;
    const std::string text(v);
    const auto last = text.rfind(':');
    const auto middle = last == std::string::npos || last == 0 ? std::string::npos : text.rfind(':', last - 1);
    std::int64_t at = 0;
    const std::string seconds = middle == std::string::npos ? "" : text.substr(middle + 1, last - middle - 1);
    double length = 0, peak = 0;
    const bool length_ok = ParseReal(seconds, length) && length > 0 && length <= 86400;
    const std::string amplitude = last == std::string::npos ? "" : text.substr(last + 1);
    const bool peak_ok = ParseReal(amplitude, peak) && peak > 0 && peak <= 30000;
    if (middle != std::string::npos && ParseStartTime(text.substr(0, middle), at) && length_ok && peak_ok) {
        s.event_ns = at;
        s.event_seconds = length;
        s.event_amplitude = peak;
    } else {
        warnings += "adcard: ADCARD_SIM_EVENT=\"" + text +
                    "\" is not ISO_TIME:SECONDS:AMPLITUDE (e.g. 2026-12-08T10:00:00:120:3000); ignored\n";
    }
}

SimSettings SettingsFromEnvironment(std::string& warnings) {
    SimSettings s;
    if (const char* v = std::getenv("ADCARD_SIM_START"); v && *v) {
        if (ParseStartTime(v, s.start_ns))
            s.start_from_clock = false;
        else
            warnings += std::string("adcard: ADCARD_SIM_START=\"") + v +
                        "\" is not YYYY-MM-DDTHH:MM:SS.fffffffff; using the system clock\n";
    }
    if (const char* v = std::getenv("ADCARD_SIM_SPEED"); v && *v) {
        double speed = 0;
        if (ParseReal(v, speed) && speed > 0 && speed <= 100000)
            s.speed = speed;
        else
            warnings += std::string("adcard: ADCARD_SIM_SPEED=\"") + v +
                        "\" is not a rate between 0 and 100000; using 1 (real time)\n";
    }
    auto code = [&](const char* name, std::int32_t& out) {
        const char* v = std::getenv(name);
        if (!v || !*v) return;
        long long c = 0;
        if (ParseInt(v, c) && c >= INT32_MIN && c <= INT32_MAX)
            out = static_cast<std::int32_t>(c);
        else
            warnings += std::string("adcard: ") + name + "=\"" + v +
                        "\" is not a 32-bit error code; ignored\n";
    };
    code("ADCARD_SIM_FAIL_INITIAL", s.fail_initial);
    code("ADCARD_SIM_FAIL_START", s.fail_start);
    auto every = [&](const char* name, std::int64_t& out) {
        const char* v = std::getenv(name);
        if (!v || !*v) return;
        long long c = 0;
        if (ParseInt(v, c) && c >= 1)
            out = c;
        else
            warnings += std::string("adcard: ") + name + "=\"" + v + "\" is not a count of 1 or more; ignored\n";
    };
    auto real = [&](const char* name, double lo, double hi, double& out) {
        const char* v = std::getenv(name);
        if (!v || !*v) return;
        double x = 0;
        if (ParseReal(v, x) && x >= lo && x <= hi)
            out = x;
        else
            warnings += std::string("adcard: ") + name + "=\"" + v + "\" is not a number from " + std::to_string(static_cast<int>(lo)) +
                        " to " + std::to_string(static_cast<int>(hi)) + "; using 0\n";
    };
    real("ADCARD_SIM_CLOCK_PPM", -1000, 1000, s.clock_ppm);
    real("ADCARD_SIM_CLOCK_WANDER_PPM", 0, 1000, s.wander_ppm);
    real("ADCARD_SIM_NOISE", 0, 1000, s.noise_codes);
    double delay = 0;
    real("ADCARD_SIM_GPS_DELAY_MS", 0, 999, delay);
    s.gps_delay_ms = static_cast<std::int64_t>(delay);
    if (const char* v = std::getenv("ADCARD_SIM_PPS_WIDTH_MS"); v && *v) {
        double width = 0;
        if (ParseReal(v, width) && width >= 0.001 && width <= 900)
            s.pps_width_ms = width;
        else
            warnings += std::string("adcard: ADCARD_SIM_PPS_WIDTH_MS=\"") + v +
                        "\" is not a width from 0.001 to 900 ms; using 200\n";
    }
    if (const char* v = std::getenv("ADCARD_SIM_PPS_JITTER_NS"); v && *v) {
        long long jitter = 0;
        if (ParseInt(v, jitter) && jitter >= 0 && jitter <= 10000000)
            s.pps_jitter_ns = jitter;
        else
            warnings += std::string("adcard: ADCARD_SIM_PPS_JITTER_NS=\"") + v +
                        "\" is not a jitter from 0 to 10000000 ns; using 0\n";
    }
    every("ADCARD_SIM_ADRESULT_FAIL", s.adresult_fail);
    every("ADCARD_SIM_GPS_CORRUPT", s.gps_corrupt);
    ReadSpan("ADCARD_SIM_GPS_OUTAGE", s.gps_outage_from, s.gps_outage_for, warnings);
    ReadSpan("ADCARD_SIM_GPS_NOFIX", s.gps_nofix_from, s.gps_nofix_for, warnings);
    ReadEvent(s, warnings);
    return s;
}

}  // namespace zqd::sim
