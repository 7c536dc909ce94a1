// Every field of the @@Ha message, in one value with units: what the receiver
// says of where it is, what it sees and how its clock runs. Byte positions
// from the message's first "@"; fields are big-endian, signed where the
// receiver's values can be negative.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "gps/ha_message.h"

namespace zqd::gps {

namespace ha {
inline constexpr int kLatitude = 15, kLongitude = 19, kHeightGps = 23, kHeightMsl = 27;  // filtered, 4 bytes each
inline constexpr int kRawLatitude = 31, kRawLongitude = 35, kRawHeightGps = 39, kRawHeightMsl = 43;  // unfiltered
inline constexpr int kSpeed3d = 47, kSpeed2d = 49, kHeading = 51, kDop = 53;  // 2 bytes each
inline constexpr int kVisible = 55, kTracked = 56;
inline constexpr int kChannels = 57, kChannelBytes = 6, kChannelCount = 12;  // SVID, mode, signal, IODE, status (2)
inline constexpr int kReceiverStatus = 129, kReserved = 131, kClockBias = 133;  // 2 bytes each
inline constexpr int kOscillator = 135;                                      // 4 bytes
inline constexpr int kTemperature = 139;                                     // 2 bytes
inline constexpr int kUtc = 141, kGmtSign = 142, kGmtHour = 143, kGmtMinute = 144;
inline constexpr int kId = 145, kIdLength = 6;
}  // namespace ha

struct HaPosition {
    std::int32_t latitude_mas = 0;   // milliarcseconds, north positive
    std::int32_t longitude_mas = 0;  // east positive
    std::int32_t height_gps_cm = 0;  // above the WGS-84 ellipsoid
    std::int32_t height_msl_cm = 0;  // above mean sea level
    double LatitudeDeg() const { return latitude_mas / 3.6e6; }
    double LongitudeDeg() const { return longitude_mas / 3.6e6; }
};

struct HaChannel {
    std::uint8_t svid = 0;     // satellite, 0 for none
    std::uint8_t mode = 0;     // 0 code search ... 8 available for position
    std::uint8_t signal = 0;   // signal strength, 0 to 255
    std::uint8_t iode = 0;     // issue of data, ephemeris
    std::uint16_t status = 0;  // bit 7: used for the fix; bit 11: used for time; bits 3-0: accuracy
    bool UsedForFix() const { return (status & 0x0080) != 0; }
};

// What the receiver's status bits 15-13 say of its fix.
enum class HaFixKind : std::uint8_t {
    kReserved0 = 0, kReserved1 = 1, kBadGeometry = 2, kAcquiring = 3,
    kPositionHold = 4, kPropagate = 5, kFix2d = 6, kFix3d = 7,
};

struct HaData {
    HaTimeFields time;
    std::int64_t time_ns = 0;  // the date and time as ns since 1970 UTC
    HaPosition position;       // filtered (or not, as the receiver is told)
    HaPosition raw;            // always unfiltered
    std::uint16_t speed_3d_cm_s = 0, speed_2d_cm_s = 0;
    std::uint16_t heading_decideg = 0;  // tenths of a degree
    std::uint16_t dop_tenths = 0;       // PDOP with a 3D fix, HDOP with a 2D fix, 0 otherwise
    std::uint8_t visible = 0, tracked = 0;
    std::array<HaChannel, ha::kChannelCount> channels{};
    std::uint16_t receiver_status = 0;
    std::int16_t clock_bias_ns = 0;
    std::uint32_t oscillator_offset_hz = 0;
    std::int16_t temperature_half_c = 0;  // half degrees Celsius
    std::uint8_t utc = 0;                 // bit 7 UTC mode, bit 6 offset decoded, bits 5-0 the offset
    std::uint8_t gmt_sign = 0, gmt_hour = 0, gmt_minute = 0;  // sign 0xFF: negative
    std::string id;                                       // six characters

    HaFixKind Fix() const { return static_cast<HaFixKind>(receiver_status >> 13); }
    // 2 a 3D fix or a held (surveyed) position: the receiver is locked;
    // 1 a 2D fix or propagating: unlocked; 0 no fix.
    int FixState() const;
    // Antenna sense, bits 2-1: 0 OK, 1 overcurrent, 2 undercurrent, 3 no bias voltage.
    int Antenna() const { return (receiver_status >> 1) & 3; }
    bool HasPosition() const { return FixState() > 0; }
    double TemperatureC() const { return temperature_half_c / 2.0; }
    // GPS - UTC in seconds, when the receiver has decoded it.
    std::optional<int> UtcOffset() const;
};

// Every field of a message that passes its checks (Check); empty otherwise.
std::optional<HaData> Decode(const HaBytes& m);

}  // namespace zqd::gps
