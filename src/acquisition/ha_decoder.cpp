#include "acquisition/ha_decoder.h"

#include "acquisition/block.h"
#include "common/utc.h"

namespace zqd::acq {

std::int64_t ScansToNs(std::int64_t scans, std::int32_t frq) {
    if (frq <= 0) return 0;
    const std::int64_t whole = scans / frq;
    const std::int64_t rest = scans % frq;  // |rest| < frq, so rest * 1e9 fits
    const std::int64_t part = rest * utc::kNsPerSecond;
    const std::int64_t rounded = part >= 0 ? (part + frq / 2) / frq : -((-part + frq / 2) / frq);
    return whole * utc::kNsPerSecond + rounded;
}

std::optional<std::int64_t> HaStreamDecoder::Check(const std::array<std::uint8_t, kHaLength>& m) {
    std::uint8_t sum = 0;
    for (int i = 2; i <= 150; ++i) sum ^= m[static_cast<std::size_t>(i)];
    if (m[152] != '\r' || m[153] != '\n') {
        ++counters_.bad_frame;
        return std::nullopt;
    }
    if (sum != m[151]) {
        ++counters_.bad_checksum;
        return std::nullopt;
    }
    const unsigned month = m[4], day = m[5], hour = m[8], minute = m[9], second = m[10];
    const std::int64_t year = m[6] * 256 + m[7];
    const std::int64_t ns = ((static_cast<std::int64_t>(m[11]) * 256 + m[12]) * 256 + m[13]) * 256 + m[14];
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
        ns >= utc::kNsPerSecond) {
        ++counters_.bad_range;
        return std::nullopt;
    }
    ++counters_.good;
    utc::Civil c;
    c.year = year;
    c.month = month;
    c.day = day;
    c.hour = hour;
    c.minute = minute;
    c.second = second;  // a leap second 60 reads as the next minute's 0
    c.ns = ns;
    return utc::ToNs(c);
}

std::optional<HaFix> HaStreamDecoder::Feed(const std::int16_t* words, std::int32_t chnNum, std::int32_t scans,
                                           std::int64_t first_scan) {
    std::optional<HaFix> fix;
    if (chnNum <= kGpsSlot) return fix;
    // The first byte lands in the scan in which its stop bit ends: its start
    // bit began one byte time earlier.
    const std::int64_t byte_scans = (10LL * frq_ + kGpsBaud / 2) / kGpsBaud;
    for (std::int32_t s = 0; s < scans; ++s) {
        const std::int32_t v = words[static_cast<std::size_t>(s) * static_cast<std::size_t>(chnNum) + kGpsSlot];
        if (v == kNoGpsByte) continue;
        const std::int64_t scan = first_scan + s;
        if (v < 0 || v > 255) {  // not a byte of the receiver's
            if (len_ > 0) ++counters_.bad_frame;
            len_ = 0;
            continue;
        }
        const auto b = static_cast<std::uint8_t>(v);
        static constexpr std::uint8_t kHeader[4] = {'@', '@', 'H', 'a'};
        if (len_ < 4 && b != kHeader[len_]) {
            if (len_ == 2 && b == '@') {  // "@@@": the header starts one byte later
                first_byte_scan_ = second_byte_scan_;
                second_byte_scan_ = scan;
                continue;
            }
            len_ = 0;
            if (b != '@') continue;
        }
        if (len_ == 0) first_byte_scan_ = scan;
        if (len_ == 1) second_byte_scan_ = scan;
        msg_[static_cast<std::size_t>(len_++)] = b;
        if (len_ == kHaLength) {
            len_ = 0;
            if (const auto t = Check(msg_)) fix = HaFix{*t, first_byte_scan_ - byte_scans};
        }
    }
    return fix;
}

}  // namespace zqd::acq
