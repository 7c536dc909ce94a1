#include "gps/ha_data.h"

namespace zqd::gps {

namespace {

std::uint32_t U32(const HaBytes& m, int at) {
    const auto i = static_cast<std::size_t>(at);
    return (static_cast<std::uint32_t>(m[i]) << 24) | (static_cast<std::uint32_t>(m[i + 1]) << 16) |
           (static_cast<std::uint32_t>(m[i + 2]) << 8) | m[i + 3];
}

std::uint16_t U16(const HaBytes& m, int at) {
    const auto i = static_cast<std::size_t>(at);
    return static_cast<std::uint16_t>((m[i] << 8) | m[i + 1]);
}

HaPosition PositionAt(const HaBytes& m, int lat, int lon, int gps, int msl) {
    HaPosition p;
    p.latitude_mas = static_cast<std::int32_t>(U32(m, lat));
    p.longitude_mas = static_cast<std::int32_t>(U32(m, lon));
    p.height_gps_cm = static_cast<std::int32_t>(U32(m, gps));
    p.height_msl_cm = static_cast<std::int32_t>(U32(m, msl));
    return p;
}

}  // namespace

int HaData::FixState() const {
    switch (Fix()) {
    case HaFixKind::kFix3d:
    case HaFixKind::kPositionHold: return 2;
    case HaFixKind::kFix2d:
    case HaFixKind::kPropagate: return 1;
    default: return 0;
    }
}

std::optional<int> HaData::UtcOffset() const {
    if ((utc & 0x40) == 0) return std::nullopt;
    const int six = utc & 0x3F;
    return six >= 32 ? six - 64 : six;
}

std::optional<HaData> Decode(const HaBytes& m) {
    if (Check(m) != HaCheck::kGood) return std::nullopt;
    HaData d;
    d.time = TimeFieldsOf(m.data());
    d.time_ns = TimeNs(d.time);
    d.position = PositionAt(m, ha::kLatitude, ha::kLongitude, ha::kHeightGps, ha::kHeightMsl);
    d.raw = PositionAt(m, ha::kRawLatitude, ha::kRawLongitude, ha::kRawHeightGps, ha::kRawHeightMsl);
    d.speed_3d_cm_s = U16(m, ha::kSpeed3d);
    d.speed_2d_cm_s = U16(m, ha::kSpeed2d);
    d.heading_decideg = U16(m, ha::kHeading);
    d.dop_tenths = U16(m, ha::kDop);
    d.visible = m[ha::kVisible];
    d.tracked = m[ha::kTracked];
    for (int c = 0; c < ha::kChannelCount; ++c) {
        const int at = ha::kChannels + c * ha::kChannelBytes;
        HaChannel& ch = d.channels[static_cast<std::size_t>(c)];
        ch.svid = m[static_cast<std::size_t>(at)];
        ch.mode = m[static_cast<std::size_t>(at + 1)];
        ch.signal = m[static_cast<std::size_t>(at + 2)];
        ch.iode = m[static_cast<std::size_t>(at + 3)];
        ch.status = U16(m, at + 4);
    }
    d.receiver_status = U16(m, ha::kReceiverStatus);
    d.clock_bias_ns = static_cast<std::int16_t>(U16(m, ha::kClockBias));
    d.oscillator_offset_hz = U32(m, ha::kOscillator);
    d.temperature_half_c = static_cast<std::int16_t>(U16(m, ha::kTemperature));
    d.utc = m[ha::kUtc];
    d.gmt_sign = m[ha::kGmtSign];
    d.gmt_hour = m[ha::kGmtHour];
    d.gmt_minute = m[ha::kGmtMinute];
    for (int i = 0; i < ha::kIdLength; ++i) {
        const auto c = m[static_cast<std::size_t>(ha::kId + i)];
        d.id += (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : '?';
    }
    return d;
}

}  // namespace zqd::gps
