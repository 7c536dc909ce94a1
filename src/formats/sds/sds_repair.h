// Repairing an SDS archive's newest day files after an interruption.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "common/status.h"

namespace zqd::sds {

// One day file whose torn tail was cut (or could not be).
struct TailRepair {
    std::filesystem::path path;
    std::uint64_t cut_bytes = 0;
    std::uint64_t kept_records = 0;
    Status status;  // of the cut
};

// Cuts a torn tail off the newest day file of every channel under `root`:
// a length that is not whole records, or last records that do not parse.
std::vector<TailRepair> RepairTails(const std::filesystem::path& root, int record_length);

}  // namespace zqd::sds
