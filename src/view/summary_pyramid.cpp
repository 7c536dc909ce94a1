#include "view/summary_pyramid.h"

#include <algorithm>

namespace zqd::view {

namespace {

// Smallest and largest of n samples, eight lanes at a time, which the
// compiler turns into vector instructions.
MinMax MinMaxOf(const std::int32_t* p, std::size_t n) {
    MinMax m;
    std::size_t i = 0;
    if (n >= 8) {
        std::int32_t lo[8], hi[8];
        for (int l = 0; l < 8; ++l) lo[l] = hi[l] = p[l];
        for (i = 8; i + 8 <= n; i += 8)
            for (int l = 0; l < 8; ++l) {
                const std::int32_t v = p[i + static_cast<std::size_t>(l)];
                lo[l] = v < lo[l] ? v : lo[l];
                hi[l] = v > hi[l] ? v : hi[l];
            }
        for (int l = 0; l < 8; ++l) m.Add(MinMax{lo[l], hi[l]});
    }
    for (; i < n; ++i) m.Add(p[i]);
    return m;
}

}  // namespace

SummaryPyramid::SummaryPyramid(const SummaryPyramid& o)
    : finest_(o.finest_), size_(o.size_), pending_(o.pending_), pending_n_(o.pending_n_), levels_(o.levels_),
      views_(o.views_), keep_(o.keep_) {
    if (!keep_) Refresh();  // the copy's own levels
}

SummaryPyramid& SummaryPyramid::operator=(const SummaryPyramid& o) {
    if (this != &o) *this = SummaryPyramid(o);
    return *this;
}

void SummaryPyramid::Refresh() {
    views_.resize(levels_.size());
    for (std::size_t k = 0; k < levels_.size(); ++k) views_[k] = {levels_[k].data(), levels_[k].size()};
}

void SummaryPyramid::Append(const std::int32_t* samples, std::size_t n) {
    if (keep_) {  // attached: take the levels in, then go on appending
        levels_.clear();
        for (const LevelSpan& l : views_) levels_.emplace_back(l.data, l.data + l.size);
        keep_.reset();
    }
    const std::uint64_t bucket = std::uint64_t{1} << finest_;
    auto store = [&](const MinMax& m) {  // a complete finest bucket, and every level it completes above
        if (levels_.empty()) levels_.emplace_back();
        levels_[0].push_back(m);
        for (std::size_t k = 0; levels_[k].size() % 2 == 0; ++k) {
            MinMax up = levels_[k][levels_[k].size() - 2];
            up.Add(levels_[k].back());
            if (levels_.size() == k + 1) levels_.emplace_back();
            levels_[k + 1].push_back(up);
        }
    };
    // The bucket being filled, then whole buckets, then the start of the next.
    std::size_t i = 0;
    if (pending_n_ > 0) {
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, bucket - pending_n_));
        pending_.Add(MinMaxOf(samples, take));
        pending_n_ += take;
        i = take;
        if (pending_n_ == bucket) {
            store(pending_);
            pending_ = MinMax{};
            pending_n_ = 0;
        }
    }
    for (; n - i >= bucket; i += bucket) store(MinMaxOf(samples + i, static_cast<std::size_t>(bucket)));
    if (i < n) {
        pending_.Add(MinMaxOf(samples + i, n - i));
        pending_n_ += n - i;
    }
    size_ += n;
    Refresh();
}

void SummaryPyramid::Reserve(std::uint64_t samples) {
    if (keep_) return;
    std::uint64_t n = samples >> finest_;
    for (std::size_t k = 0; n > 0; ++k, n /= 2) {
        if (levels_.size() <= k) levels_.emplace_back();
        levels_[k].reserve(static_cast<std::size_t>(n));
    }
    Refresh();
}

std::size_t SummaryPyramid::Bytes() const {
    std::size_t bytes = 0;
    if (!keep_)
        for (const auto& l : levels_) bytes += l.capacity() * sizeof(MinMax);
    return bytes;
}

namespace {

struct Header {
    char magic[8];
    std::int32_t finest, levels;
    std::uint64_t size, pending_n;
    MinMax pending;
};
constexpr char kMagic[8] = {'Z', 'Q', 'D', 'S', 'U', 'M', '1', 0};

}  // namespace

std::string SummaryPyramid::Serialize() const {
    Header h{};
    std::copy(kMagic, kMagic + 8, h.magic);
    h.finest = finest_;
    h.levels = static_cast<std::int32_t>(views_.size());
    h.size = size_;
    h.pending_n = pending_n_;
    h.pending = pending_;
    std::string out(reinterpret_cast<const char*>(&h), sizeof h);
    for (const LevelSpan& l : views_) {
        const std::uint64_t n = l.size;
        out.append(reinterpret_cast<const char*>(&n), sizeof n);
    }
    for (const LevelSpan& l : views_) out.append(reinterpret_cast<const char*>(l.data), l.size * sizeof(MinMax));
    return out;
}

bool SummaryPyramid::Attach(const unsigned char* data, std::size_t size, std::shared_ptr<const void> keep) {
    Header h;
    if (size < sizeof h || reinterpret_cast<std::uintptr_t>(data) % alignof(MinMax) != 0) return false;
    std::copy(data, data + sizeof h, reinterpret_cast<unsigned char*>(&h));
    if (!std::equal(kMagic, kMagic + 8, h.magic) || h.finest < 0 || h.finest > 30 || h.levels < 0 || h.levels > 64 ||
        h.pending_n >= (std::uint64_t{1} << h.finest))
        return false;
    std::size_t at = sizeof h;
    std::vector<LevelSpan> views(static_cast<std::size_t>(h.levels));
    std::uint64_t expected = h.size >> h.finest;  // the finest level's buckets
    for (LevelSpan& l : views) {
        std::uint64_t n = 0;
        if (size - at < sizeof n) return false;
        std::copy(data + at, data + at + sizeof n, reinterpret_cast<unsigned char*>(&n));
        at += sizeof n;
        if (n != expected) return false;  // every level halves the one below
        l.size = static_cast<std::size_t>(n);
        expected = n / 2;
    }
    for (LevelSpan& l : views) {
        if ((size - at) / sizeof(MinMax) < l.size) return false;
        l.data = reinterpret_cast<const MinMax*>(data + at);
        at += l.size * sizeof(MinMax);
    }
    finest_ = h.finest;
    size_ = h.size;
    pending_n_ = h.pending_n;
    pending_ = h.pending;
    levels_.clear();
    views_ = std::move(views);
    keep_ = std::move(keep);
    return true;
}

MinMax SummaryPyramid::Range(std::uint64_t first, std::uint64_t last, const SampleReader& read) const {
    MinMax r;
    last = std::min(last, size_);
    if (first >= last) return r;
    const std::uint64_t bucket = std::uint64_t{1} << finest_;
    // Samples beyond the last complete finest bucket, and the ragged ends, are read.
    const std::uint64_t summarised = views_.empty() ? 0 : views_[0].size * bucket;
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
    for (std::size_t k = 0; i < j && k < views_.size(); ++k) {
        if (i & 1) r.Add(views_[k].data[static_cast<std::size_t>(i++)]);
        if (j & 1) r.Add(views_[k].data[static_cast<std::size_t>(--j)]);
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
