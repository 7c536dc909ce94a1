// The record file T1.DAT: fixed 128-byte records numbered from 1, each
// holding one little-endian value at its start and zero padding after it.
// Record 1: BlockNum (16-bit). Record 2: ChnPoints (32-bit). Record 3 + i:
// BlockData(i) (32-bit), for i = 0 to N x BlockNum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "acquisition/block.h"
#include "common/status.h"

namespace zqd {

inline constexpr std::size_t kRecordBytes = 128;
inline constexpr const char* kRecordFileName = "T1.DAT";

// Byte offset of record r (1-based).
constexpr std::uint64_t RecordOffset(std::uint64_t r) { return (r - 1) * kRecordBytes; }

// Writes the record into `path` without ever leaving a file that is neither
// the old complete one nor the new one. A longer old file keeps its length
// and its bytes beyond the new end. The records stream through a small
// buffer; `fail_after_bytes` >= 0 makes the write fail there (tests).
// kWriteFailed carries the reason in `detail`.
Status SaveRecordFile(const std::filesystem::path& path, std::int16_t blockNum, std::int32_t chnPoints,
                      const std::int32_t* samples, std::size_t count, std::int64_t fail_after_bytes = -1);

// The same from the blocks as the card delivered them: each sample as its
// unsigned 16-bit value, then zeros up to `count` values.
Status SaveRecordBlocks(const std::filesystem::path& path, std::int16_t blockNum, std::int32_t chnPoints,
                        const std::vector<acq::BlockPtr>& blocks, std::size_t count,
                        std::int64_t fail_after_bytes = -1);

}  // namespace zqd
