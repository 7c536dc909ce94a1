// The Oncore @@Ha message (position/status/data, 154 bytes), once: where its
// fields lie, its checksum and frame, and its date and time. The message
// travels one byte per scan in offset 1 of the card's scans; a scan without a
// byte holds 4096 there. Both decoders, the acquisition's stream decoder and
// the record listing's rule, are built on this.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace zqd::gps {

inline constexpr int kHaLength = 154;
inline constexpr int kGpsSlot = 1;                // the scan offset the receiver's bytes travel in
inline constexpr std::int32_t kNoGpsByte = 4096;  // the slot's value in a scan without a byte
inline constexpr int kGpsBaud = 9600;             // 8N1: ten bit times a byte

// Byte offsets in the message.
namespace ha {
inline constexpr int kMonth = 4, kDay = 5, kYear = 6 /* 2 bytes */, kHour = 8, kMinute = 9, kSecond = 10;
inline constexpr int kFraction = 11;  // 4 bytes: ns into the second
inline constexpr int kTimeEnd = 15;   // the date and time lie in bytes 0 to 14
inline constexpr int kSumFrom = 2, kSumTo = 150, kChecksum = 151, kCr = 152, kLf = 153;
}  // namespace ha

using HaBytes = std::array<std::uint8_t, kHaLength>;

// The date and time fields as the message's values give them: bytes, or the
// wider values of a record file's GPS slot (the record rule reads those).
struct HaTimeFields {
    std::int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ns = 0;
};

// Big-endian fields from the first ha::kTimeEnd values of a message.
template <typename V>
HaTimeFields TimeFieldsOf(const V* m) {
    auto at = [&](int i) { return static_cast<std::int64_t>(m[i]); };
    HaTimeFields t;
    t.month = at(ha::kMonth);
    t.day = at(ha::kDay);
    t.year = at(ha::kYear) * 256 + at(ha::kYear + 1);
    t.hour = at(ha::kHour);
    t.minute = at(ha::kMinute);
    t.second = at(ha::kSecond);
    t.ns = ((at(ha::kFraction) * 256 + at(ha::kFraction + 1)) * 256 + at(ha::kFraction + 2)) * 256 + at(ha::kFraction + 3);
    return t;
}

// The four bytes "@@Ha" a message starts with.
inline constexpr std::uint8_t kHeader[4] = {'@', '@', 'H', 'a'};

enum class HaCheck { kGood, kBadFrame, kBadChecksum, kBadRange };

// Checks a whole message: CR LF at its end, the XOR of bytes 2 to 150 in
// byte 151, and every date and time field within its range (a second of 60,
// a leap second, is allowed).
HaCheck Check(const HaBytes& m);

// A message's time as ns since 1970 UTC; a leap second 60 reads as the next
// minute's 0. Only for fields that are within their ranges.
std::int64_t TimeNs(const HaTimeFields& t);

}  // namespace zqd::gps
