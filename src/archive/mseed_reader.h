// miniSEED files and SDS archive folders as a waveform model. Each file is
// read once to index its records and build its channels' summaries, which
// are kept in the user's cache folder and mapped back in on the next open
// (a file that changed is indexed again). The samples stay in the files and
// are decoded again, record by record, only for the spans drawn at fine
// zoom. Records whose blockette 1001 gives a timing quality below 100 mark
// their time as carried.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "view/waveform_model.h"

namespace zqd::archive {

struct MseedLoad {
    std::uint64_t records = 0, bad_records = 0;
    int files_indexed = 0, files_cached = 0;  // read through, or taken from the cache
    std::vector<std::string> skipped;          // files that could not be read, with why
};

// Buckets of 2^6 samples at the finest level of an archive's summaries: a
// channel-day at 2000 samples/s takes 43 MB of cache.
inline constexpr int kArchiveFinest = 6;

// The miniSEED files `files`, in this order. Channels are named
// NET.STA.LOC.CHA. `cache`: the folder for the summaries; empty: none kept.
std::optional<view::WaveformModel> LoadMseedModel(const std::vector<std::filesystem::path>& files,
                                                  const std::filesystem::path& cache, MseedLoad& report,
                                                  std::string& why);

// The day files of an SDS archive under `folder`
// (YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DOY), in time order, only the
// days that touch [from, to) when given.
std::vector<std::filesystem::path> SdsDayFiles(const std::filesystem::path& folder, std::optional<std::int64_t> from,
                                               std::optional<std::int64_t> to);

}  // namespace zqd::archive
