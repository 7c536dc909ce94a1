// What reading a miniSEED file through once leaves: its stretches (one
// channel's records that follow each other by the continuity rule), where
// each record's samples lie in the file, and every stretch's summaries. Kept
// in the summary cache and mapped back in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "view/summary_pyramid.h"
#include "view/waveform_model.h"

namespace zqd::view {

// Buckets of 2^6 samples at the finest level of an archive's summaries: a
// channel-day at 2000 samples/s takes 43 MB of cache.
inline constexpr int kArchiveFinest = 6;

// Where a record's samples are: its place in the file, its first sample's
// index in its stretch and how many it has. Stored as it is in the cache.
struct Piece {
    std::uint64_t offset = 0;
    std::uint64_t first = 0;
    std::int32_t reclen = 0;
    std::uint32_t count = 0;
};
static_assert(sizeof(Piece) == 24);

struct IndexedStretch {
    std::string code;
    std::int64_t start_ns = 0;
    double rate = 0;
    std::vector<Piece> pieces;
    const Piece* piece_data = nullptr;  // pieces, or where they lie in a mapped cache
    std::size_t piece_count = 0;
    SummaryPyramid summary{kArchiveFinest};
    std::uint64_t count = 0;
    std::int64_t EndNs() const;
};

struct FileIndex {
    std::vector<IndexedStretch> stretches;
    std::vector<TimeSpan> carried;
    std::uint64_t records = 0, bad = 0;
    std::shared_ptr<const void> keep;  // the mapped cache the index lies in
};

}  // namespace zqd::view
