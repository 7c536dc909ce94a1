// The record file T1.DAT: fixed 128-byte records numbered from 1, each
// holding one little-endian value at its start and zero padding after it.
// Record 1: BlockNum (16-bit). Record 2: ChnPoints (32-bit). Record 3 + i:
// BlockData(i) (32-bit), for i = 0 to N x BlockNum, N = ChnNum x ChnPoints
// (the file does not store ChnNum). The layout, the size rules and the
// record as it is read; the reader and the writer sit beside this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/result.h"

namespace zqd::t1dat {

inline constexpr std::size_t kRecordBytes = 128;
inline constexpr const char* kFileName = "T1.DAT";

// Byte offset of record r (1-based).
constexpr std::uint64_t RecordOffset(std::uint64_t r) { return (r - 1) * kRecordBytes; }

// A record as it is read, or the empty record a start leaves: BlockData has
// the indices 0 to ChnNum x ChnPoints x BlockNum, scan by scan.
struct Recording {
    std::int16_t BlockNum = 0;
    std::int32_t ChnPoints = 0;
    std::int16_t ChnNum = 0;
    std::vector<std::int32_t> BlockData;
};

// N = ChnNum x ChnPoints, the samples of one block. kNoBuffers when a factor
// is negative (kNegativeSizes) or N + 1 leaves the 32-bit range (kBlockTooLarge).
Result<std::int32_t> BlockSamples(std::int32_t chnNum, std::int32_t chnPoints);

// L = N x BlockNum, the last index of a record. kNoBuffers when BlockNum is
// negative (kNegativeBlocks) or L leaves the 32-bit range (kRecordTooLarge).
Result<std::int32_t> RecordLastIndex(std::int32_t n, std::int32_t blockNum);

// Both at once: the last index of a record of `blockNum` blocks of
// `chnNum` x `chnPoints` samples.
Result<std::int32_t> RecordLastIndex(std::int32_t chnNum, std::int32_t chnPoints, std::int32_t blockNum);

// Whether a record of `samples` 32-bit values can be held by a program whose
// pointers have `pointerBits` bits (kNotAddressable otherwise).
Status SamplesAddressable(std::uint64_t samples, unsigned pointerBits);

}  // namespace zqd::t1dat
