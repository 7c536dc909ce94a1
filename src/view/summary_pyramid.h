// The min/max summaries of one channel's samples, for drawing any span at
// any width from a bounded number of values. Level k holds, for every bucket
// of 2^k samples, their smallest and largest value; each level is made from
// the one below as samples arrive, so a live channel keeps it up to date.
// The samples themselves stay where they are (a file, a block): a span's
// ragged ends, shorter than the finest bucket, are read from them.
//
// A pyramid can also stand on levels kept elsewhere (a mapped cache), in
// runs, each with a checksum for every kCheckBuckets buckets. A block is
// checked the first time it is used; one that fails is never believed: it is
// made again from the level below (the finest from the samples), and the
// owner is told once, so that the cache is made anew. Appending goes on
// after the attached levels without copying them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace zqd::view {

struct MinMax {
    std::int32_t min = std::numeric_limits<std::int32_t>::max();
    std::int32_t max = std::numeric_limits<std::int32_t>::min();
    bool Empty() const { return min > max; }
    void Add(std::int32_t v) {
        if (v < min) min = v;
        if (v > max) max = v;
    }
    void Add(const MinMax& o) {
        if (o.min < min) min = o.min;
        if (o.max > max) max = o.max;
    }
    bool operator==(const MinMax&) const = default;
};

// Reads samples [first, first + n) into `out`.
using SampleReader = std::function<void(std::uint64_t first, std::size_t n, std::int32_t* out)>;

class SummaryPyramid {
public:
    // Buckets under one checksum of attached levels: 16 KiB.
    static constexpr std::size_t kCheckBuckets = 2048;
    using Checksum = std::uint64_t (*)(const void* data, std::size_t bytes);

    // Buckets [first, first + size) of level `level`, kept elsewhere, with a
    // checksum of every kCheckBuckets of them (the last block may be short).
    struct Run {
        int level = 0;
        std::uint64_t first = 0;
        std::size_t size = 0;
        const MinMax* data = nullptr;
        const std::uint64_t* sums = nullptr;
    };
    // What, besides the levels, a pyramid is: the finest bucket still being filled.
    struct State {
        int finest = 4;
        std::uint64_t size = 0;
        MinMax pending;
        std::uint64_t pending_n = 0;
    };

    // Buckets of 2^finest samples at the finest level kept (16 by default:
    // the summaries then take an eighth of 32-bit samples' bytes, all levels together).
    explicit SummaryPyramid(int finest = 4) : finest_(finest) {}

    void Append(const std::int32_t* samples, std::size_t n);
    // Room for `samples` in all, so that appending seldom moves the levels.
    void Reserve(std::uint64_t samples);
    std::uint64_t Size() const { return size_; }
    int Finest() const { return finest_; }
    // Level k: buckets of 2^(finest + k) samples, LevelSize(k) of them (complete ones only).
    int Levels() const {  // those with a bucket (room may be kept for more)
        std::size_t k = 0;
        while (k < levels_.size() && levels_[k].Size() > 0) ++k;
        return static_cast<int>(k);
    }
    std::uint64_t LevelSize(int k) const;
    // Bytes held in memory (levels attached from a mapping are not held).
    std::size_t Bytes() const;

    // For a cache: the state, and the buckets of level k from `from` on, in
    // pieces of memory in order, every attached one checked first.
    State Saved() const { return {finest_, size_, pending_, pending_n_}; }
    std::vector<std::pair<const MinMax*, std::size_t>> Spans(int k, std::uint64_t from, const SampleReader& read) const;

    // Stands on levels kept elsewhere: `runs` cover every level's buckets in
    // order; `last` holds each level's last bucket, which appending pairs
    // with (as the keeper checked it, so that attaching touches no block).
    // `keep` keeps them alive, `checksum` checks a block, `damaged` is told
    // once of the first that fails. False for runs that do not fit the state.
    bool Attach(const State& state, const std::vector<Run>& runs, const std::vector<MinMax>& last,
                std::shared_ptr<const void> keep, Checksum checksum, std::function<void()> damaged);
    // Each level's last bucket, for a keeper to keep with the levels.
    std::vector<MinMax> LastBuckets(const SampleReader& read) const;

    // Smallest and largest of samples [first, last); empty for an empty span.
    // Reads at most 2 x (2^finest - 1) samples through `read` (more only to
    // make a damaged block of attached levels again).
    MinMax Range(std::uint64_t first, std::uint64_t last, const SampleReader& read) const;
    // Smallest and largest of buckets [lo, hi) of level k.
    MinMax Buckets(int k, std::uint64_t lo, std::uint64_t hi, const SampleReader& read) const;
    // Bucket `i` of level k (below LevelSize(k)) and how many follow it in
    // the same piece of memory (at least one), checked: for reading many
    // buckets straight along without asking for each.
    std::pair<const MinMax*, std::size_t> Piece(int k, std::uint64_t i, const SampleReader& read) const;

    // `pixels` columns over samples [first, last), column c taking samples
    // from first + span*c/pixels up to first + span*(c+1)/pixels.
    std::vector<MinMax> Envelope(std::uint64_t first, std::uint64_t last, int pixels,
                                 const SampleReader& read) const;

private:
    struct AttachedRun {
        std::uint64_t first = 0;
        std::size_t size = 0;
        const MinMax* data = nullptr;
        const std::uint64_t* sums = nullptr;
        std::size_t check_base = 0;  // its first block's place in Checked::state
    };
    struct Level {
        std::vector<AttachedRun> runs;  // attached, covering [0, attached)
        std::uint64_t attached = 0;
        MinMax last_attached;           // the last attached bucket, checked, for pairing
        std::vector<MinMax> own;        // buckets from `attached` on
        std::uint64_t Size() const { return attached + own.size(); }
    };
    // The checks of attached levels, shared by copies of the pyramid.
    struct Checked {
        Checksum checksum = nullptr;
        std::function<void()> damaged;
        std::unique_ptr<std::atomic<std::uint8_t>[]> state;  // per block: 0 unchecked, 1 good, 2 made again
        std::mutex mutex;
        std::map<std::tuple<int, std::size_t, std::size_t>, std::vector<MinMax>> remade;  // level, run, block
        std::atomic<bool> told{false};
    };

    // The buckets of block `b` of run `r` of level k, checked (or made again).
    const MinMax* Block(int k, std::size_t r, std::size_t b, const SampleReader& read) const;
    MinMax At(int k, std::uint64_t i, const SampleReader& read) const;
    std::size_t RunOf(int k, std::uint64_t i) const;
    bool Verify(const AttachedRun& run, std::size_t b) const;

    int finest_;
    std::uint64_t size_ = 0;
    MinMax pending_;             // the finest bucket being filled
    std::uint64_t pending_n_ = 0;
    std::vector<Level> levels_;  // levels_[k]: buckets of 2^(finest + k) samples
    std::shared_ptr<Checked> checked_;
    std::shared_ptr<const void> keep_;
};

}  // namespace zqd::view
