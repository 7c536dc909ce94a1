// What reading a miniSEED file through once leaves: its stretches (one
// channel's records that follow each other by the continuity rule), where
// each record's samples lie in the file, and every stretch's summaries. Kept
// in the summary cache and mapped back in; a file that grew is read on from
// where the index stopped.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
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

// Where a run of a cache entry's data lies: which of the entry's files
// (its place in the entry's list), at what offset, how many items, and
// where their checksums are.
struct CacheRun {
    std::uint32_t file = 0;
    std::uint64_t offset = 0;
    std::uint64_t count = 0;
    std::uint64_t sums = 0;
    std::int64_t level = -1;  // summaries: the level; -1 for pieces
    std::uint64_t first = 0;  // summaries: the first bucket
};

// A stretch's pieces: runs kept in a cache (each checked the first time it
// is used, kCheckPieces at a time), then its own.
class PieceList {
public:
    static constexpr std::size_t kCheckPieces = 512;  // 12 KiB under one checksum
    using Checksum = std::uint64_t (*)(const void* data, std::size_t bytes);
    struct Run {
        const Piece* data = nullptr;
        std::size_t size = 0;
        const std::uint64_t* sums = nullptr;
    };

    // `first` and `last`: the attached pieces' ends, as their keeper checked them.
    void Attach(std::vector<Run> runs, const Piece& first, const Piece& last, Checksum checksum, std::function<void()> damaged);
    void Push(const Piece& p) { own_.push_back(p); }
    void Reserve(std::size_t n) { own_.reserve(n); }
    std::size_t Size() const { return attached_ + own_.size(); }
    std::size_t Attached() const { return attached_; }
    // Piece i, unchecked: for finding one's way only.
    const Piece& Raw(std::size_t i) const;
    // Piece i, checked: false when the cache that holds it fails its checksum.
    bool Get(std::size_t i, Piece& out) const;
    // The last piece whose first sample is at or before `sample` (0 if none).
    std::size_t Find(std::uint64_t sample) const;
    // The first and the last piece (of the keeper's, or checked): false when
    // there is none, or it fails its checksum.
    bool Front(Piece& out) const;
    bool Back(Piece& out) const;
    // Pieces [from, Size()) as pieces of memory, checked: false when any fails.
    bool Spans(std::size_t from, std::vector<std::pair<const Piece*, std::size_t>>& out) const;

private:
    bool Check(std::size_t run, std::size_t block) const;
    struct Checks {
        Checksum checksum = nullptr;
        std::function<void()> damaged;
        std::vector<std::size_t> base;  // each run's first block in `state`
        std::unique_ptr<std::atomic<std::uint8_t>[]> state;  // 0 unchecked, 1 good, 2 failed
        std::atomic<bool> told{false};
    };
    std::vector<Run> runs_;
    std::vector<std::size_t> starts_;  // each run's first piece
    std::size_t attached_ = 0;
    Piece first_attached_, last_attached_;
    std::vector<Piece> own_;
    std::shared_ptr<Checks> checks_;
};

struct IndexedStretch {
    std::string code;
    std::int64_t start_ns = 0;
    double rate = 0;
    PieceList pieces;
    SummaryPyramid summary{kArchiveFinest};
    std::uint64_t count = 0;
    bool dropped = false;  // a lone record whose time fits neither neighbour: passed over
    // What the cache entry it came from holds of it (nothing for a new one).
    std::vector<CacheRun> cached_runs;
    std::size_t cached_pieces = 0;
    std::vector<std::uint64_t> cached_buckets;  // per level
    std::int64_t EndNs() const;
};

struct FileIndex {
    std::vector<IndexedStretch> stretches;
    std::vector<TimeSpan> carried;
    std::uint64_t records = 0;
    std::uint64_t bad = 0;        // places that held no record
    std::uint64_t bad_times = 0;  // records whose time fit neither neighbour
    std::uint64_t tail = 0;       // bytes at the end too short for a record
    std::uint64_t scanned = 0;    // where the last whole record ended
    // The cache entry it came from: its files' numbers and generations.
    std::vector<std::pair<std::uint32_t, std::uint64_t>> cache_files;
    std::vector<std::shared_ptr<const void>> keep;  // the mapped cache files the index lies in
};

}  // namespace zqd::view
