// The @@Ha messages as they arrive during an acquisition: the stream decoder
// follows the GPS slot across blocks, checks every message whole and says at
// which scan it began.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "gps/ha_data.h"

namespace zqd::gps {

struct HaFix {
    std::int64_t time_ns = 0;     // the date and time the message carries, as UTC
    std::int64_t start_scan = 0;  // the scan at which its first byte began to arrive
    HaData data;                  // every field of the message
};

struct HaCounters {
    std::uint64_t good = 0;
    std::uint64_t bad_checksum = 0;  // XOR of bytes 2 to 150 is not byte 151
    std::uint64_t bad_frame = 0;     // no CR LF at the end, or a word that is no byte
    std::uint64_t bad_range = 0;     // a date or time field outside its range
    std::uint64_t Bad() const { return bad_checksum + bad_frame + bad_range; }
};

class HaStreamDecoder {
public:
    explicit HaStreamDecoder(std::int32_t sampleFrq = 2000) : frq_(sampleFrq) {}

    // Feeds the GPS slot of `scans` scans of `chnNum` words each; the first
    // of them is scan `first_scan` of the acquisition. Returns the last valid
    // message that ended among them; every one of them, in order, to `all`.
    std::optional<HaFix> Feed(const std::int16_t* words, std::int32_t chnNum, std::int32_t scans,
                              std::int64_t first_scan, std::vector<HaFix>* all = nullptr);

    // Forgets a message in progress (after scans were lost).
    void Reset() { len_ = 0; }

    const HaCounters& Counters() const { return counters_; }

    // Checks and decodes one whole message; empty if it fails a check (and
    // counts why).
    std::optional<HaData> Take(const HaBytes& m);

private:
    std::int32_t frq_;
    HaBytes msg_{};
    int len_ = 0;
    std::int64_t first_byte_scan_ = 0;
    std::int64_t second_byte_scan_ = 0;
    HaCounters counters_;
};

}  // namespace zqd::gps
