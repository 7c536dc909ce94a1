#include "gps/block_time.h"

#include <array>
#include <climits>

#include "common/utc.h"
#include "gps/ha_message.h"

namespace zqd::gps {

namespace {

// The first `want` values of a block's GPS slot, passing over scans without a
// byte; how many there were.
template <std::size_t kWant>
int SlotValues(const std::int32_t* block, std::int32_t chnNum, std::int32_t chnPoints, std::array<std::int64_t, kWant>& out) {
    int len = 0;
    const std::int64_t n = static_cast<std::int64_t>(chnNum) * chnPoints;
    for (std::int64_t j = 0; j <= n - 1 && len < static_cast<int>(kWant); j += chnNum) {
        const std::int32_t v = block[j + kGpsSlot];
        if (v == kNoGpsByte) continue;  // no byte arrived in this scan
        out[static_cast<std::size_t>(len++)] = v;
        if (len == 4 && !(out[0] == kHeader[0] && out[1] == kHeader[1] && out[2] == kHeader[2] && out[3] == kHeader[3]))
            return -1;  // the block does not start with its own @@Ha
    }
    return len;
}

}  // namespace

std::optional<GpsTime> DecodeBlockTime(const std::int32_t* block, std::int32_t chnNum, std::int32_t chnPoints) {
    if (chnNum <= 0 || chnPoints <= 0) return std::nullopt;
    // Only the first 15 message values matter: header, date, time and NS.
    std::array<std::int64_t, ha::kTimeEnd> msg{};
    if (SlotValues(block, chnNum, chnPoints, msg) < ha::kTimeEnd) return std::nullopt;
    const HaTimeFields f = TimeFieldsOf(msg.data());
    auto fits16 = [](std::int64_t v) { return v >= -32768 && v <= 32767; };
    if (!fits16(f.month) || !fits16(f.day) || !fits16(f.year) || !fits16(f.hour) || !fits16(f.minute) ||
        !fits16(f.second) || f.ns < INT32_MIN || f.ns > INT32_MAX)
        return std::nullopt;
    GpsTime t;
    t.Month = static_cast<std::int16_t>(f.month);
    t.Day = static_cast<std::int16_t>(f.day);
    t.Year = static_cast<std::int16_t>(f.year);
    t.Hour = static_cast<std::int16_t>(f.hour);
    t.Minute = static_cast<std::int16_t>(f.minute);
    t.Second = static_cast<std::int16_t>(f.second);
    t.NS = static_cast<std::int32_t>(f.ns);
    return t;
}

std::optional<std::int64_t> CheckedBlockTime(const std::int32_t* block, std::int32_t chnNum, std::int32_t chnPoints) {
    if (chnNum <= kGpsSlot || chnPoints <= 0) return std::nullopt;
    std::array<std::int64_t, kHaLength> values{};
    if (SlotValues(block, chnNum, chnPoints, values) < kHaLength) return std::nullopt;
    HaBytes m{};
    for (std::size_t i = 0; i < m.size(); ++i) {
        if (values[i] < 0 || values[i] > 255) return std::nullopt;  // not a byte of the receiver's
        m[i] = static_cast<std::uint8_t>(values[i]);
    }
    if (Check(m) != HaCheck::kGood) return std::nullopt;
    return TimeNs(TimeFieldsOf(m.data()));
}

std::optional<std::int64_t> GpsTimeNs(const GpsTime& g) {
    if (g.Month < 1 || g.Month > 12 || g.Day < 1 || g.Day > 31 || g.Hour < 0 || g.Hour > 23 || g.Minute < 0 ||
        g.Minute > 59 || g.Second < 0 || g.Second > 60 || g.NS < 0 || g.NS >= 1000000000 || g.Year < 1)
        return std::nullopt;
    HaTimeFields f{g.Year, g.Month, g.Day, g.Hour, g.Minute, g.Second, g.NS};
    return TimeNs(f);
}

}  // namespace zqd::gps
