// The time-range query: the blocks from a start to an end time of day, one
// channel slot of them as a series, shifted so that it starts at the whole
// GPS second.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "gps/block_time.h"

namespace zqd {

struct QueryInput {
    std::array<std::string, 3> from;  // start hour, minute, second texts
    std::array<std::string, 3> to;    // end hour, minute, second texts
    std::string channel;              // channel offset text
    const std::vector<gps::GpsTime>* blockTime = nullptr;
    const std::vector<std::int32_t>* blockData = nullptr;
    std::int16_t BlockNum = 0;
    std::int32_t ChnPoints = 0;
    std::int16_t ChnNum = 0;
};

struct QueryResult {
    std::string channelText;  // the channel box, rewritten to its number
    std::int32_t startBlock = 0, endBlock = 0;
    bool startFound = false, endFound = false;  // a block carries the time
    std::int16_t shift = 0;   // D, scans before the start block's first scan
    std::vector<std::int32_t> DispData;
    std::int32_t DispPoints = 0;
    std::int32_t StartNS = 0;
};

// Runs the whole query without touching anything; a query whose inputs leave
// the widths of its values or the bounds of the record is refused
// (kQueryRefused with the reason).
Result<QueryResult> RunQuery(const QueryInput& in);

}  // namespace zqd
