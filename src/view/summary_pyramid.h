// The min/max summaries of one channel's samples, for drawing any span at
// any width from a bounded number of values. Level k holds, for every bucket
// of 2^k samples, their smallest and largest value; each level is made from
// the one below as samples arrive, so a live channel keeps it up to date.
// The samples themselves stay where they are (a file, a block): a span's
// ragged ends, shorter than the finest bucket, are read from them.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
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
    // Buckets of 2^finest samples at the finest level kept (16 by default:
    // the summaries then take an eighth of 32-bit samples' bytes, all levels together).
    explicit SummaryPyramid(int finest = 4) : finest_(finest) {}
    SummaryPyramid(const SummaryPyramid& o);
    SummaryPyramid& operator=(const SummaryPyramid& o);
    SummaryPyramid(SummaryPyramid&&) noexcept = default;  // the levels' buffers move along
    SummaryPyramid& operator=(SummaryPyramid&&) noexcept = default;

    void Append(const std::int32_t* samples, std::size_t n);
    // Room for `samples` in all, so that appending never moves the levels:
    // address space only, touched as it is filled.
    void Reserve(std::uint64_t samples);
    std::uint64_t Size() const { return size_; }
    int Finest() const { return finest_; }
    // Level k: buckets of 2^(finest + k) samples, `n` of them (complete ones only).
    int Levels() const { return static_cast<int>(views_.size()); }
    const MinMax* Level(int k, std::size_t& n) const {
        n = views_[static_cast<std::size_t>(k)].size;
        return views_[static_cast<std::size_t>(k)].data;
    }
    // Bytes held in memory (levels attached from a mapping are not held).
    std::size_t Bytes() const;

    // The pyramid as bytes (native byte order; a cache, not an exchange
    // format), and back: Attach reads the levels in place from `data`,
    // which `keep` keeps alive, and fails (false) on anything inconsistent.
    std::string Serialize() const;
    bool Attach(const unsigned char* data, std::size_t size, std::shared_ptr<const void> keep);

    // Smallest and largest of samples [first, last); empty for an empty span.
    // Reads at most 2 x (2^finest - 1) samples through `read`.
    MinMax Range(std::uint64_t first, std::uint64_t last, const SampleReader& read) const;

    // `pixels` columns over samples [first, last), column c taking samples
    // from first + span*c/pixels up to first + span*(c+1)/pixels.
    std::vector<MinMax> Envelope(std::uint64_t first, std::uint64_t last, int pixels,
                                 const SampleReader& read) const;

private:
    struct LevelSpan {
        const MinMax* data = nullptr;
        std::size_t size = 0;
    };
    void Refresh();  // views_ after the owned levels changed

    int finest_;
    std::uint64_t size_ = 0;
    MinMax pending_;             // the finest bucket being filled
    std::uint64_t pending_n_ = 0;
    std::vector<std::vector<MinMax>> levels_;  // levels_[k]: buckets of 2^(finest + k) samples
    std::vector<LevelSpan> views_;   // what Range reads: the owned levels, or attached ones
    std::shared_ptr<const void> keep_;
};

}  // namespace zqd::view
