#include "gps/ha_stream.h"

namespace zqd::gps {

std::optional<HaData> HaStreamDecoder::Take(const HaBytes& m) {
    switch (Check(m)) {
    case HaCheck::kBadFrame: ++counters_.bad_frame; return std::nullopt;
    case HaCheck::kBadChecksum: ++counters_.bad_checksum; return std::nullopt;
    case HaCheck::kBadRange: ++counters_.bad_range; return std::nullopt;
    case HaCheck::kGood: break;
    }
    ++counters_.good;
    return Decode(m);
}

std::optional<HaFix> HaStreamDecoder::Feed(const std::int16_t* words, std::int32_t chnNum, std::int32_t scans,
                                           std::int64_t first_scan, std::vector<HaFix>* all) {
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
            if (auto d = Take(msg_)) {
                fix = HaFix{d->time_ns, first_byte_scan_ - byte_scans, std::move(*d)};
                if (all) all->push_back(*fix);
            }
        }
    }
    return fix;
}

}  // namespace zqd::gps
