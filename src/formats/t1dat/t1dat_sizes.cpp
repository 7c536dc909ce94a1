#include <climits>

#include "formats/t1dat/t1dat.h"

namespace zqd::t1dat {

using Code = Status::Code;
using Why = Status::Why;

Result<std::int32_t> BlockSamples(std::int32_t chnNum, std::int32_t chnPoints) {
    if (chnNum < 0 || chnPoints < 0) return Status::Fail(Code::kNoBuffers, Why::kNegativeSizes).Values(chnNum, chnPoints);
    const std::int64_t n = static_cast<std::int64_t>(chnNum) * chnPoints;
    if (n + 1 > INT32_MAX) return Status::Fail(Code::kNoBuffers, Why::kBlockTooLarge).Value(n);
    return static_cast<std::int32_t>(n);
}

Result<std::int32_t> RecordLastIndex(std::int32_t n, std::int32_t blockNum) {
    if (blockNum < 0) return Status::Fail(Code::kNoBuffers, Why::kNegativeBlocks).Value(blockNum);
    const std::int64_t last = static_cast<std::int64_t>(n) * blockNum;
    if (last > INT32_MAX) return Status::Fail(Code::kNoBuffers, Why::kRecordTooLarge).Value(last);
    return static_cast<std::int32_t>(last);
}

Result<std::int32_t> RecordLastIndex(std::int32_t chnNum, std::int32_t chnPoints, std::int32_t blockNum) {
    const auto n = BlockSamples(chnNum, chnPoints);
    if (!n) return n.status();
    return RecordLastIndex(*n, blockNum);
}

Status SamplesAddressable(std::uint64_t samples, unsigned pointerBits) {
    // Half the address space at most for the samples of a record: a 32-bit
    // program has 2 to 4 GiB in all, shared with everything else.
    const std::uint64_t limit = pointerBits >= 64 ? (std::uint64_t{1} << 40) : (std::uint64_t{1} << (pointerBits - 2));
    if (samples <= limit / sizeof(std::int32_t)) return Status::Ok();
    return Status::Fail(Code::kFileRefused, Why::kNotAddressable)
        .Values(static_cast<std::int64_t>(samples), pointerBits, static_cast<std::int64_t>(limit));
}

}  // namespace zqd::t1dat
