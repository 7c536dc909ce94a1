// The time-range query: the blocks from a start to an end time of day, one
// channel slot of them as a series, shifted so that it starts at the whole
// GPS second.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/dll_def.h"
#include "recording/recording.h"

namespace zqd {

struct QueryInput {
    std::array<std::string, 3> from;  // start hour, minute, second texts
    std::array<std::string, 3> to;    // end hour, minute, second texts
    std::string channel;              // channel offset text
    const std::vector<GpsTime>* blockTime = nullptr;
    const std::vector<std::int32_t>* blockData = nullptr;
    std::int16_t BlockNum = 0;
    std::int32_t ChnPoints = 0;
    std::int16_t ChnNum = 0;
};

struct QueryResult {
    bool ok = false;
    std::string error;        // why the query was refused
    std::string channelText;  // the channel box, rewritten to its number
    std::int32_t startBlock = 0, endBlock = 0;
    bool startFound = false, endFound = false;  // a block carries the time
    std::int16_t shift = 0;   // D, scans before the start block's first scan
    std::vector<std::int32_t> DispData;
    std::int32_t DispPoints = 0;
    std::int32_t StartNS = 0;
};

// Runs the whole query without touching anything; a query whose inputs leave
// the widths of its values or the bounds of the record is refused.
QueryResult RunQuery(const QueryInput& in);

}  // namespace zqd
