#include "view/summary_pyramid.h"

#include <algorithm>

namespace zqd::view {

void SummaryPyramid::Append(const std::int32_t* samples, std::size_t n) {
    const std::uint64_t bucket = std::uint64_t{1} << finest_;
    for (std::size_t i = 0; i < n; ++i) {
        pending_.Add(samples[i]);
        if (++pending_n_ < bucket) continue;
        // A finest bucket is complete: store it, and every level it completes above.
        if (levels_.empty()) levels_.emplace_back();
        levels_[0].push_back(pending_);
        pending_ = MinMax{};
        pending_n_ = 0;
        for (std::size_t k = 0; levels_[k].size() % 2 == 0; ++k) {
            MinMax up = levels_[k][levels_[k].size() - 2];
            up.Add(levels_[k].back());
            if (levels_.size() == k + 1) levels_.emplace_back();
            levels_[k + 1].push_back(up);
        }
    }
    size_ += n;
}

std::size_t SummaryPyramid::Bytes() const {
    std::size_t bytes = 0;
    for (const auto& l : levels_) bytes += l.capacity() * sizeof(MinMax);
    return bytes;
}

MinMax SummaryPyramid::Range(std::uint64_t first, std::uint64_t last, const SampleReader& read) const {
    MinMax r;
    last = std::min(last, size_);
    if (first >= last) return r;
    const std::uint64_t bucket = std::uint64_t{1} << finest_;
    // Samples beyond the last complete finest bucket, and the ragged ends, are read.
    const std::uint64_t summarised = levels_.empty() ? 0 : levels_[0].size() * bucket;
    std::uint64_t a = (first + bucket - 1) / bucket * bucket;
    std::uint64_t b = std::min(last, summarised) / bucket * bucket;
    std::vector<std::int32_t> raw;
    auto take = [&](std::uint64_t from, std::uint64_t to) {
        if (from >= to) return;
        raw.resize(static_cast<std::size_t>(to - from));
        read(from, raw.size(), raw.data());
        for (std::int32_t v : raw) r.Add(v);
    };
    if (a >= b) {  // no whole bucket inside: all of it from the samples
        take(first, last);
        return r;
    }
    take(first, a);
    take(b, last);
    // The whole buckets, climbing the levels as a segment tree does.
    std::uint64_t i = a / bucket, j = b / bucket;
    for (std::size_t k = 0; i < j && k < levels_.size(); ++k) {
        if (i & 1) r.Add(levels_[k][static_cast<std::size_t>(i++)]);
        if (j & 1) r.Add(levels_[k][static_cast<std::size_t>(--j)]);
        i >>= 1;
        j >>= 1;
    }
    return r;
}

std::vector<MinMax> SummaryPyramid::Envelope(std::uint64_t first, std::uint64_t last, int pixels,
                                             const SampleReader& read) const {
    std::vector<MinMax> columns(static_cast<std::size_t>(std::max(pixels, 0)));
    if (pixels <= 0 || first >= last) return columns;
    const std::uint64_t span = last - first;
    for (int c = 0; c < pixels; ++c) {
        // 128-bit-free: span * pixels stays below 2^63 for any day of samples at any screen width.
        const std::uint64_t a = first + span * static_cast<std::uint64_t>(c) / static_cast<std::uint64_t>(pixels);
        const std::uint64_t b = first + span * static_cast<std::uint64_t>(c + 1) / static_cast<std::uint64_t>(pixels);
        columns[static_cast<std::size_t>(c)] = Range(a, b, read);
    }
    return columns;
}

}  // namespace zqd::view
