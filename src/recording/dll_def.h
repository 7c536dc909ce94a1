// DllDef: the acquisition settings and sample buffers that both windows share
// (one instance in the application), and the GPS time of one block.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zqd {

struct DllDef {
    std::int16_t BlockNum = 0;     // blocks per record
    std::int32_t BlockIdx = 0;     // index in BlockData of the next block: 0, N, 2N, ...
    std::int16_t BufNum = 0;       // StartIntr argument 1
    std::int32_t ChnPoints = 0;    // samples per channel in one block
    std::int16_t StartChn = 0;     // StartIntr argument 3
    std::int16_t ChnNum = 0;       // channels in one block (values per scan)
    std::int32_t SampleFrq = 0;    // StartIntr argument 5
    std::int32_t StartParam6 = 0;  // StartIntr argument 6
    std::int16_t StartParam7 = 0;  // StartIntr argument 7

    std::vector<std::int16_t> AdBuf;      // one card buffer: indices 0 to N+1
    std::vector<std::int32_t> BlockData;  // one record: indices 0 to N x BlockNum
};

// Date and time of one block as the GPS receiver sent it; all zero = none found.
struct GpsTime {
    std::int16_t Year = 0;
    std::int16_t Month = 0;
    std::int16_t Day = 0;
    std::int16_t Hour = 0;
    std::int16_t Minute = 0;
    std::int16_t Second = 0;
    std::int32_t NS = 0;

    bool operator==(const GpsTime&) const = default;
};

// N = ChnNum x ChnPoints, the samples of one block. Empty, with the reason in
// `why`, when a factor is negative or N + 1 leaves the 32-bit range.
std::optional<std::int32_t> BlockSamples(std::int32_t chnNum, std::int32_t chnPoints, std::string& why);

// L = N x BlockNum, the last index of a record in BlockData. Empty, with the
// reason in `why`, when BlockNum is negative or L leaves the 32-bit range.
std::optional<std::int32_t> RecordLastIndex(std::int32_t n, std::int32_t blockNum, std::string& why);

// Creates AdBuf (N + 2 elements) and BlockData (N x BlockNum + 1 elements)
// anew, all zero, from the current settings. On failure nothing is touched
// and `why` says what went wrong.
bool CreateBuffers(DllDef& dll, std::string& why);

}  // namespace zqd
