// What the acquisition engine hands on: the card's start settings, and one
// block, the words of one card buffer with the GPS time of its first scan.
// Blocks are immutable once made and shared read-only between consumers.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "acquisition/timing.h"
#include "gps/ha_data.h"
#include "timeline/timeline.h"

namespace zqd::acq {

// The start settings of one acquisition, fixed for its whole run: the
// arguments of StartIntr.
struct AcqConfig {
    std::int16_t BufNum = 10;
    std::int32_t ChnPoints = 2000;
    std::int16_t StartChn = 0;
    std::int16_t ChnNum = 18;
    std::int32_t SampleFrq = 2000;
    std::int32_t StartParam6 = 0;
    std::int16_t StartParam7 = 1;

    // N = ChnNum x ChnPoints, the words of one block (0 for negative settings).
    std::int64_t BlockWords() const {
        return ChnNum > 0 && ChnPoints > 0 ? static_cast<std::int64_t>(ChnNum) * ChnPoints : 0;
    }
};

// Where a block's time came from.
enum class TimeStatus {
    kNone,     // no GPS time has been seen since the start
    kOwn,      // a valid @@Ha message that ended in this block
    kCarried,  // the previous timed block's time plus the scans in between
};

struct Block {
    std::uint64_t sequence = 0;  // read number since the start; failed reads count too
    std::int16_t ChnNum = 0;
    std::int32_t ChnPoints = 0;
    std::int32_t SampleFrq = 0;
    std::int32_t status = 1;  // what ADResult returned
    // The words as ADResult stored them: N + 2, the samples in 1 to N, scan
    // by scan, ChnNum values a scan.
    std::vector<std::int16_t> words;
    std::int64_t time_ns = 0;  // GPS time of the first scan, ns since 1970 UTC
    TimeStatus time_status = TimeStatus::kNone;
    std::int64_t host_ns = 0;  // the computer's clock when the block was read (UTC, ns)
    BlockClock clock;          // what the time rests on, and how good it is
    // The receiver's messages that ended in this block and passed their
    // checks, every field decoded.
    std::vector<gps::HaData> messages;

    std::int64_t Samples() const { return static_cast<std::int64_t>(ChnNum) * ChnPoints; }
    const std::int16_t* Scans() const { return words.data() + 1; }
    std::int16_t At(std::int64_t scan, int channel) const { return words[static_cast<std::size_t>(scan * ChnNum + channel + 1)]; }
    std::int64_t DurationNs() const { return timeline::ScansToNs(ChnPoints, SampleFrq); }
};

using BlockPtr = std::shared_ptr<const Block>;

}  // namespace zqd::acq
