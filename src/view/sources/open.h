// What the waveform viewer opens: a record file (T1.DAT), a miniSEED file
// or an SDS archive folder, as a model.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/status.h"
#include "view/sources/summary_cache.h"
#include "view/waveform_model.h"

namespace zqd::view {

struct Opened {
    enum class Kind { kRecord, kMseed, kSds };
    Kind kind = Kind::kRecord;
    std::shared_ptr<WaveformModel> model;
    std::filesystem::path path;
    std::uint64_t records = 0;   // miniSEED records read
    std::size_t day_files = 0;   // of an SDS folder
    std::vector<Status> notes;   // files passed over (mseed_source.h); kCarriedBlocks for a record
    int files_indexed = 0, files_cached = 0;  // miniSEED files read through, or from the cache
    int files_extended = 0;                   // from the cache, read on where they grew
};

// Where the summaries of miniSEED files are kept: the user's cache folder.
std::filesystem::path DefaultSummaryCache();

// The cached summaries of data files that are gone (days an archive removed).
void ForgetSummaries(const std::vector<std::filesystem::path>& files, const CacheOptions& cache = DefaultSummaryCache());

// A folder is read as an SDS archive, a file as miniSEED when it starts
// with a miniSEED record, else as a record file of `chnNum` channels whose
// rows are `rows` (card offset, name). Only the days of an archive that
// touch [from, to) when given. The summaries of miniSEED files are kept in
// `cache` (empty: not kept). kFileRefused (kViewRefused, the reason as cause).
Status OpenForView(const std::filesystem::path& path, int chnNum, const std::vector<std::pair<int, std::string>>& rows,
                   std::optional<std::int64_t> from, std::optional<std::int64_t> to, Opened& opened,
                   const CacheOptions& cache = DefaultSummaryCache());

}  // namespace zqd::view
