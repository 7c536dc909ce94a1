// Writing a record file (T1.DAT), crash-safe: see t1dat.h for the layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <span>

#include "common/status.h"
#include "formats/t1dat/t1dat.h"

namespace zqd::t1dat {

// Writes the record into `path` without ever leaving a file that is neither
// the old complete one nor the new one. A longer old file keeps its length
// and its bytes beyond the new end. The records stream through a small
// buffer; `fail_after_bytes` >= 0 makes the write fail there (tests).
// A failure is the safe writer's (kWriteFailed, kBusy).
Status SaveRecordFile(const std::filesystem::path& path, std::int16_t blockNum, std::int32_t chnPoints,
                      const std::int32_t* samples, std::size_t count, std::int64_t fail_after_bytes = -1);

// The same from the card's words, block after block as the card delivered
// them: each sample as its unsigned 16-bit value, then zeros up to `count`
// values.
Status SaveRecordWords(const std::filesystem::path& path, std::int16_t blockNum, std::int32_t chnPoints,
                       const std::vector<std::span<const std::int16_t>>& blocks, std::size_t count,
                       std::int64_t fail_after_bytes = -1);

}  // namespace zqd::t1dat
