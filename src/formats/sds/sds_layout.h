// The SDS archive layout, once: ROOT/YEAR/NET/STA/CHAN.D/NET.STA.LOC.CHAN.D.YEAR.DOY,
// one file per channel and day. Written by the writer, read back by the
// archive's readers and repair.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "formats/stream_codes.h"

namespace zqd::sds {

// The day file of a channel for a time.
std::filesystem::path DayFile(const std::filesystem::path& root, const StreamCodes& codes, std::int64_t t_ns);

// What a day file's name says: its stream and its day. Empty for a name that
// is not a day file's.
struct DayFileName {
    StreamCodes codes;
    std::string type;  // "D"
    int year = 0, doy = 0;
    std::int64_t day_ns = 0;  // the day's start, ns since 1970 UTC
};
std::optional<DayFileName> ParseDayFileName(const std::string& name);

// The day files under `root`, in time order (then by name), only the days
// that touch [from, to) when given. Folders reached through links are
// followed as deep as the layout goes. What has a day file's name but is no
// regular file (a FIFO, a device, a broken link) is passed over, and put in
// `passed` when given.
std::vector<std::filesystem::path> DayFiles(const std::filesystem::path& root, std::optional<std::int64_t> from = {},
                                            std::optional<std::int64_t> to = {},
                                            std::vector<std::filesystem::path>* passed = nullptr);

}  // namespace zqd::sds
