// Batch conversion of record files (T1.DAT) to miniSEED, an SDS archive, SAC
// or CSV: every selected channel, with each block's decoded GPS time.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_config.h"
#include "common/status.h"

namespace zqd::archive {

struct ConvertOptions {
    std::string format = "mseed";  // mseed, sds, sac or csv
    std::filesystem::path out = ".";
    int chn_num = 18;
    std::vector<int> channels;     // card offsets; empty: those of `config`
    ArchiveConfig config = DefaultConfig();
    std::optional<std::int64_t> assume_start_ns;  // for records without any time
    bool volts = false;            // CSV in volts (the export's scaling) instead of codes
};

struct ConvertSummary {
    int files = 0, refused = 0;
    std::uint64_t channels = 0, segments = 0, samples = 0, outputs = 0;
    std::uint64_t inferred_blocks = 0;  // blocks whose time came from a neighbour
};

// "0,2-5,17" as card offsets; empty with `why` for anything else.
std::optional<std::vector<int>> ParseChannelList(const std::string& text, int chnNum, std::string& why);

// "2008.133.100000": year, day of the year and time of a start, for file names.
std::string Stamp(std::int64_t ns);
// "2008-05-12T10:00:00.000000Z", a CSV row's time.
std::string IsoMicro(std::int64_t ns);
// `bytes` as the whole new content of `path`, crash-safe (in a FolderBatch
// when `in_batch`).
Status WriteWhole(const std::filesystem::path& path, const std::string& bytes, bool in_batch = false);

// Converts one record file. `say` gets the lines to show; a refused file is
// kFileRefused with the reason.
Status ConvertRecord(const std::filesystem::path& file, const ConvertOptions& options, ConvertSummary& summary,
                     const std::function<void(const std::string&)>& say);

}  // namespace zqd::archive
