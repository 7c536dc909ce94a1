// DllDef: the acquisition settings that both windows share (one instance in
// the application). A start in either window uses them as they stand; the
// monitor's start overwrites them with its own, and opening a record sets
// BlockNum and ChnPoints from it.
#pragma once

#include <cstdint>

#include "acquisition/block.h"

namespace zqd {

struct DllDef {
    std::int16_t BlockNum = 0;     // blocks per record
    std::int32_t BlockIdx = 0;     // position of the next block in the record or ring: 0, N, 2N, ...
    std::int16_t BufNum = 0;       // StartIntr argument 1
    std::int32_t ChnPoints = 0;    // samples per channel in one block
    std::int16_t StartChn = 0;     // StartIntr argument 3
    std::int16_t ChnNum = 0;       // channels in one block (values per scan)
    std::int32_t SampleFrq = 0;    // StartIntr argument 5
    std::int32_t StartParam6 = 0;  // StartIntr argument 6
    std::int16_t StartParam7 = 0;  // StartIntr argument 7

    // The start settings as they stand now.
    acq::AcqConfig Config() const {
        return {BufNum, ChnPoints, StartChn, ChnNum, SampleFrq, StartParam6, StartParam7};
    }
};

}  // namespace zqd
