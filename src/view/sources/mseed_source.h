// miniSEED files and SDS archive folders as a waveform model. Each file is
// read once to index its records and build its channels' summaries, which
// are kept in the summary cache and mapped back in on the next open; a file
// that grew is read on from where its index stopped, one that changed
// otherwise is indexed again. The samples stay in the files and are decoded
// again, record by record, only for the spans drawn at fine zoom. Records
// whose blockette 1001 gives a timing quality below 100 mark their time as
// carried. A lone record whose time fits neither neighbour is passed over
// and said, never let tear the rest of its file away.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/result.h"
#include "view/sources/summary_cache.h"
#include "view/waveform_model.h"

namespace zqd::view {

struct MseedLoad {
    std::uint64_t records = 0, bad_records = 0;
    int files_indexed = 0, files_cached = 0;  // read through, or taken from the cache
    int files_extended = 0;                   // taken from the cache and read on where they grew
    // What was passed over: kPassedUnreadable, kPassedUndecodable, kPassedBadTime,
    // kPassedTail, kPassedNoRecords, kPassedOverlap.
    std::vector<Status> skipped;
};

// The miniSEED files `files`, in this order. Channels are named
// NET.STA.LOC.CHA. `cache`: where the summaries are kept (no folder: none).
// kFileRefused with kNoMseedFiles or kNoMseedRecords (the first file passed
// over as its cause) when no channel has data.
Result<WaveformModel> LoadMseedModel(const std::vector<std::filesystem::path>& files, const CacheOptions& cache,
                                     MseedLoad& report);

}  // namespace zqd::view
