#include "formats/t1dat/record_times.h"

#include <algorithm>

#include "gps/block_time.h"

namespace zqd::t1dat {

RecordTimes BlockTimesOf(const Recording& rec, std::int32_t chnNum) {
    const int blocks = rec.BlockNum;
    const std::int64_t n = static_cast<std::int64_t>(chnNum) * rec.ChnPoints;
    RecordTimes r;
    r.ns.assign(static_cast<std::size_t>(std::max(blocks, 0)), 0);
    r.from.assign(r.ns.size(), -1);
    for (int k = 0; k < blocks; ++k) {
        if (const auto ns = gps::CheckedBlockTime(rec.BlockData.data() + k * n, chnNum, rec.ChnPoints)) {
            r.ns[static_cast<std::size_t>(k)] = *ns;
            r.from[static_cast<std::size_t>(k)] = k;
            ++r.timed;
        }
    }
    if (r.timed == 0) return r;
    for (int k = 0; k < blocks; ++k) {
        if (r.Own(k)) continue;
        int best = -1;
        for (int d = 1; d < blocks && best < 0; ++d) {
            if (k - d >= 0 && r.Own(k - d)) best = k - d;
            else if (k + d < blocks && r.Own(k + d)) best = k + d;
        }
        r.ns[static_cast<std::size_t>(k)] = r.ns[static_cast<std::size_t>(best)] + (k - best) * kBlockNs;
        r.from[static_cast<std::size_t>(k)] = best;
    }
    return r;
}

}  // namespace zqd::t1dat
