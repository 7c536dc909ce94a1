// The times of a record's blocks, for what dates its samples (conversion,
// the waveform view). A record's block spans one second of acquisition with
// one @@Ha message at its start, so its samples run at ChnPoints a second.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/t1dat/t1dat.h"

namespace zqd::t1dat {

// A block of a record spans one second.
inline constexpr std::int64_t kBlockNs = 1000000000;

// The sample rate of a record's channels: ChnPoints a second.
inline double RecordRate(const Recording& rec) { return static_cast<double>(rec.ChnPoints); }

// Each block's time, ns since 1970 UTC: the time of its own message where
// that message passes every check (the checked rule of gps/block_time.h),
// else the nearest block's that has one (the earlier first) plus or minus
// whole blocks. `from[k]` is k for a block with its own time, else the block
// its time came from; -1 for all when no block has a time.
struct RecordTimes {
    std::vector<std::int64_t> ns;
    std::vector<int> from;
    int timed = 0;  // blocks with a time of their own
    bool Own(int k) const { return from[static_cast<std::size_t>(k)] == k; }
};
RecordTimes BlockTimesOf(const Recording& rec, std::int32_t chnNum);

}  // namespace zqd::t1dat
