#include "formats/sac/sac_writer.h"

#include <algorithm>
#include <cstring>

#include "common/utc.h"

namespace zqd::sac {

namespace {

constexpr int kFloats = 70, kInts = 40;
constexpr float kUndefined = -12345.0f;

void PutFloat(std::string& out, std::size_t at, float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

void PutInt(std::string& out, std::size_t at, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

void PutText(std::string& out, std::size_t at, std::size_t width, const std::string& text) {
    std::string field = text.empty() ? std::string("-12345") : text.substr(0, width);
    field.resize(width, ' ');
    out.replace(at, width, field);
}

// Header word positions.
enum Float { kDelta = 0, kDepmin = 1, kDepmax = 2, kB = 5, kE = 6, kDepmen = 56 };
enum Int { kNzyear = 0, kNzjday, kNzhour, kNzmin, kNzsec, kNzmsec, kNvhdr, kNpts = 9, kIftype = 15, kIztype = 17, kLeven = 35 };
constexpr std::size_t kIntAt = 4 * kFloats, kTextAt = kIntAt + 4 * kInts;
// Character fields: KSTNM (8) at 0, KEVNM (16) at 8, then 8-character
// fields: KHOLE 24, KO, KA, KT0-KT9, KF, KUSER0-2, KCMPNM 160, KNETWK 168, KDATRD, KINST.
constexpr std::size_t kKstnm = 0, kKevnm = 8, kKhole = 24, kKcmpnm = 160, kKnetwk = 168;

}  // namespace

std::string SacBytes(const SacTrace& t) {
    std::string out(632 + 4 * t.samples.size(), '\0');
    for (int i = 0; i < kFloats; ++i) PutFloat(out, 4 * static_cast<std::size_t>(i), kUndefined);
    for (int i = 0; i < kInts; ++i) PutInt(out, kIntAt + 4 * static_cast<std::size_t>(i), -12345);
    PutText(out, kTextAt + kKstnm, 8, "");
    PutText(out, kTextAt + kKevnm, 16, "");
    for (std::size_t f = kKhole; f < 192; f += 8) PutText(out, kTextAt + f, 8, "");

    const double delta = 1.0 / t.sample_rate;
    // The reference time is the first sample's, to the millisecond; B holds the rest.
    const std::int64_t ms_ns = utc::FloorDiv(t.start_ns, 1000000) * 1000000;
    const utc::Civil c = utc::FromNs(ms_ns);
    const std::int64_t jday = utc::DaysFromCivil(c.year, c.month, c.day) - utc::DaysFromCivil(c.year, 1, 1) + 1;
    const double b = static_cast<double>(t.start_ns - ms_ns) / 1e9;
    PutFloat(out, 4 * kDelta, static_cast<float>(delta));
    PutFloat(out, 4 * kB, static_cast<float>(b));
    PutFloat(out, 4 * kE, static_cast<float>(b + delta * static_cast<double>(t.samples.empty() ? 0 : t.samples.size() - 1)));
    if (!t.samples.empty()) {
        const auto [lo, hi] = std::minmax_element(t.samples.begin(), t.samples.end());
        double sum = 0;
        for (float v : t.samples) sum += v;
        PutFloat(out, 4 * kDepmin, *lo);
        PutFloat(out, 4 * kDepmax, *hi);
        PutFloat(out, 4 * kDepmen, static_cast<float>(sum / static_cast<double>(t.samples.size())));
    }
    PutInt(out, kIntAt + 4 * kNzyear, static_cast<std::int32_t>(c.year));
    PutInt(out, kIntAt + 4 * kNzjday, static_cast<std::int32_t>(jday));
    PutInt(out, kIntAt + 4 * kNzhour, static_cast<std::int32_t>(c.hour));
    PutInt(out, kIntAt + 4 * kNzmin, static_cast<std::int32_t>(c.minute));
    PutInt(out, kIntAt + 4 * kNzsec, static_cast<std::int32_t>(c.second));
    PutInt(out, kIntAt + 4 * kNzmsec, static_cast<std::int32_t>(c.ns / 1000000));
    PutInt(out, kIntAt + 4 * kNvhdr, 6);
    PutInt(out, kIntAt + 4 * kNpts, static_cast<std::int32_t>(t.samples.size()));
    PutInt(out, kIntAt + 4 * kIftype, 1);   // ITIME: a time series
    PutInt(out, kIntAt + 4 * kIztype, 9);   // IB: times relative to the beginning
    PutInt(out, kIntAt + 4 * kLeven, 1);
    PutText(out, kTextAt + kKstnm, 8, t.codes.station);
    PutText(out, kTextAt + kKhole, 8, t.codes.location);
    PutText(out, kTextAt + kKcmpnm, 8, t.codes.channel);
    PutText(out, kTextAt + kKnetwk, 8, t.codes.network);
    for (std::size_t i = 0; i < t.samples.size(); ++i) PutFloat(out, 632 + 4 * i, t.samples[i]);
    return out;
}

}  // namespace zqd::sac
