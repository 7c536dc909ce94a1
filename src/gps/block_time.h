// The GPS time of one block of a record file (T1.DAT), whose 32-bit values
// hold the GPS slot of every scan. Two rules, both on the @@Ha layout:
//
// - The listing's rule (DecodeBlockTime), what 打开文件 and `decode` show: a
//   block has a time when its first four GPS-slot values are "@@Ha" and it
//   carries the values up to the last byte of NS, every field fitting its
//   width. Nothing else is checked.
// - The checked rule (CheckedBlockTime), which dates a record's blocks for
//   conversion and viewing: the block's first 154 GPS-slot values are a
//   whole message of bytes that passes its frame, checksum and range checks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zqd::gps {

// Date and time of one block as the GPS receiver sent it; all zero = none found.
struct GpsTime {
    std::int16_t Year = 0;
    std::int16_t Month = 0;
    std::int16_t Day = 0;
    std::int16_t Hour = 0;
    std::int16_t Minute = 0;
    std::int16_t Second = 0;
    std::int32_t NS = 0;

    bool operator==(const GpsTime&) const = default;
};

// The listing's rule. N = chnNum x chnPoints values from `block`; the value
// just after the block must be readable too, as a record always has one more.
std::optional<GpsTime> DecodeBlockTime(const std::int32_t* block, std::int32_t chnNum, std::int32_t chnPoints);

// The checked rule: the time of the block's own valid message, ns since 1970 UTC.
std::optional<std::int64_t> CheckedBlockTime(const std::int32_t* block, std::int32_t chnNum, std::int32_t chnPoints);

// A listed time as ns since 1970 UTC, if its fields make a time at all.
std::optional<std::int64_t> GpsTimeNs(const GpsTime& t);

}  // namespace zqd::gps
