// Reading a record file (T1.DAT) back, whole and checked.
#pragma once

#include <cstdint>
#include <filesystem>

#include "common/result.h"
#include "formats/t1dat/t1dat.h"

namespace zqd::t1dat {

// Reads a record file with the given ChnNum (the file does not store it). A
// file that is missing, shorter than its header announces, or whose header
// is negative or too large is refused: kFileRefused (kRecordRefused, the
// file in `detail`, the reason as `cause`). The file is read in large
// sequential blocks, a large one as two halves at once.
Result<Recording> ReadRecordFile(const std::filesystem::path& path, std::int16_t chnNum);

}  // namespace zqd::t1dat
