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

std::uint64_t SummaryPyramid::LevelSize(int k) const {
    return k >= 0 && k < static_cast<int>(levels_.size()) ? levels_[static_cast<std::size_t>(k)].Size() : 0;
}

void SummaryPyramid::Append(const std::int32_t* samples, std::size_t n) {
    const std::uint64_t bucket = std::uint64_t{1} << finest_;
    auto store = [&](const MinMax& m) {  // a complete finest bucket, and every level it completes above
        if (levels_.empty()) levels_.emplace_back();
        levels_[0].own.push_back(m);
        for (std::size_t k = 0; levels_[k].Size() % 2 == 0; ++k) {
            const Level& l = levels_[k];
            MinMax up = l.own.size() >= 2 ? l.own[l.own.size() - 2] : l.last_attached;
            up.Add(l.own.back());
            if (levels_.size() == k + 1) levels_.emplace_back();
            levels_[k + 1].own.push_back(up);
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
}

void SummaryPyramid::Reserve(std::uint64_t samples) {
    std::uint64_t n = samples >> finest_;
    for (std::size_t k = 0; n > 0; ++k, n /= 2) {
        if (levels_.size() <= k) levels_.emplace_back();
        Level& l = levels_[k];
        if (n > l.attached) l.own.reserve(static_cast<std::size_t>(n - l.attached));
    }
}

std::size_t SummaryPyramid::Bytes() const {
    std::size_t bytes = 0;
    for (const auto& l : levels_) bytes += l.own.capacity() * sizeof(MinMax);
    return bytes;
}

bool SummaryPyramid::Verify(const AttachedRun& run, std::size_t b) const {
    const std::size_t from = b * kCheckBuckets;
    const std::size_t n = std::min(kCheckBuckets, run.size - from);
    return checked_->checksum(run.data + from, n * sizeof(MinMax)) == run.sums[b];
}

bool SummaryPyramid::Attach(const State& state, const std::vector<Run>& runs, const std::vector<MinMax>& last,
                            std::shared_ptr<const void> keep, Checksum checksum, std::function<void()> damaged) {
    if (state.finest < 0 || state.finest > 30 || state.pending_n >= (std::uint64_t{1} << state.finest) || !checksum)
        return false;
    std::vector<Level> levels;
    for (std::uint64_t n = state.size >> state.finest; n > 0; n /= 2) levels.emplace_back();
    if (last.size() != levels.size()) return false;
    auto checked = std::make_shared<Checked>();
    checked->checksum = checksum;
    checked->damaged = std::move(damaged);
    std::size_t blocks = 0;
    for (const Run& r : runs) {
        if (r.level < 0 || r.level >= static_cast<int>(levels.size()) || !r.data || !r.sums || r.size == 0) return false;
        Level& l = levels[static_cast<std::size_t>(r.level)];
        if (r.first != l.attached) return false;  // each level's runs follow each other
        l.runs.push_back({r.first, r.size, r.data, r.sums, blocks});
        l.attached += r.size;
        blocks += (r.size + kCheckBuckets - 1) / kCheckBuckets;
    }
    std::uint64_t expected = state.size >> state.finest;
    for (std::size_t k = 0; k < levels.size(); ++k) {
        if (levels[k].attached != expected) return false;  // every level halves the one below
        expected /= 2;
        levels[k].last_attached = last[k];
    }
    checked->state = std::make_unique<std::atomic<std::uint8_t>[]>(blocks);
    for (std::size_t b = 0; b < blocks; ++b) checked->state[b] = 0;
    finest_ = state.finest;
    size_ = state.size;
    pending_ = state.pending;
    pending_n_ = state.pending_n;
    levels_ = std::move(levels);
    checked_ = std::move(checked);
    keep_ = std::move(keep);
    return true;
}

std::vector<MinMax> SummaryPyramid::LastBuckets(const SampleReader& read) const {
    std::vector<MinMax> last;
    for (int k = 0; k < Levels(); ++k) {
        const Level& l = levels_[static_cast<std::size_t>(k)];
        if (!l.own.empty())
            last.push_back(l.own.back());
        else if (checked_)
            last.push_back(l.last_attached);  // as the keeper checked it
        else
            last.push_back(At(k, l.Size() - 1, read));
    }
    return last;
}

std::size_t SummaryPyramid::RunOf(int k, std::uint64_t i) const {
    const auto& runs = levels_[static_cast<std::size_t>(k)].runs;
    if (runs.size() == 1) return 0;
    const auto it = std::upper_bound(runs.begin(), runs.end(), i, [](std::uint64_t v, const AttachedRun& r) { return v < r.first; });
    return static_cast<std::size_t>(it - runs.begin()) - 1;
}

const MinMax* SummaryPyramid::Block(int k, std::size_t r, std::size_t b, const SampleReader& read) const {
    const AttachedRun& run = levels_[static_cast<std::size_t>(k)].runs[r];
    std::atomic<std::uint8_t>& state = checked_->state[run.check_base + b];
    const std::uint8_t seen = state.load(std::memory_order_acquire);
    if (seen == 1) return run.data + b * kCheckBuckets;
    if (seen == 0 && Verify(run, b)) {
        state.store(1, std::memory_order_release);
        return run.data + b * kCheckBuckets;
    }
    // Damaged: made again, from the level below or from the samples, and
    // the owner told (once) so that the cache is made anew.
    {
        std::lock_guard lock(checked_->mutex);
        const auto key = std::make_tuple(k, r, b);
        if (auto found = checked_->remade.find(key); found != checked_->remade.end()) return found->second.data();
    }
    const std::uint64_t lo = run.first + b * kCheckBuckets;
    const std::size_t n = std::min(kCheckBuckets, run.size - b * kCheckBuckets);
    std::vector<MinMax> made(n);
    if (k == 0) {
        const std::size_t per = std::size_t{1} << finest_;
        std::vector<std::int32_t> raw(n * per);
        read(lo << finest_, raw.size(), raw.data());
        for (std::size_t i = 0; i < n; ++i) made[i] = MinMaxOf(raw.data() + i * per, per);
    } else {
        for (std::size_t i = 0; i < n; ++i) made[i] = Buckets(k - 1, 2 * (lo + i), 2 * (lo + i) + 2, read);
    }
    state.store(2, std::memory_order_release);
    if (!checked_->told.exchange(true) && checked_->damaged) checked_->damaged();
    std::lock_guard lock(checked_->mutex);
    auto& slot = checked_->remade[std::make_tuple(k, r, b)];
    if (slot.empty()) slot = std::move(made);
    return slot.data();
}

MinMax SummaryPyramid::At(int k, std::uint64_t i, const SampleReader& read) const {
    const Level& l = levels_[static_cast<std::size_t>(k)];
    if (i >= l.attached) return l.own[static_cast<std::size_t>(i - l.attached)];
    const std::size_t r = RunOf(k, i);
    const std::uint64_t j = i - l.runs[r].first;
    return Block(k, r, static_cast<std::size_t>(j / kCheckBuckets), read)[j % kCheckBuckets];
}

MinMax SummaryPyramid::Buckets(int k, std::uint64_t lo, std::uint64_t hi, const SampleReader& read) const {
    MinMax m;
    if (k < 0 || k >= static_cast<int>(levels_.size())) return m;
    const Level& l = levels_[static_cast<std::size_t>(k)];
    hi = std::min(hi, l.Size());
    while (lo < hi) {
        if (lo >= l.attached) {
            for (std::uint64_t i = lo; i < hi; ++i) m.Add(l.own[static_cast<std::size_t>(i - l.attached)]);
            break;
        }
        const std::size_t r = RunOf(k, lo);
        const AttachedRun& run = l.runs[r];
        const std::uint64_t j = lo - run.first;
        const std::size_t b = static_cast<std::size_t>(j / kCheckBuckets);
        const std::uint64_t block_end = std::min<std::uint64_t>(run.first + (b + 1) * kCheckBuckets, run.first + run.size);
        const std::uint64_t to = std::min(hi, block_end);
        const MinMax* data = Block(k, r, b, read);
        for (std::uint64_t i = lo; i < to; ++i) m.Add(data[static_cast<std::size_t>(i - run.first - b * kCheckBuckets)]);
        lo = to;
    }
    return m;
}

std::pair<const MinMax*, std::size_t> SummaryPyramid::Piece(int k, std::uint64_t i, const SampleReader& read) const {
    const Level& l = levels_[static_cast<std::size_t>(k)];
    if (i >= l.attached) return {l.own.data() + (i - l.attached), static_cast<std::size_t>(l.Size() - i)};
    const std::size_t r = RunOf(k, i);
    const AttachedRun& run = l.runs[r];
    const std::uint64_t j = i - run.first;
    const std::size_t b = static_cast<std::size_t>(j / kCheckBuckets);
    const std::uint64_t block_end = std::min<std::uint64_t>((b + 1) * kCheckBuckets, run.size);
    return {Block(k, r, b, read) + (j - b * kCheckBuckets), static_cast<std::size_t>(block_end - j)};
}

std::vector<std::pair<const MinMax*, std::size_t>> SummaryPyramid::Spans(int k, std::uint64_t from,
                                                                         const SampleReader& read) const {
    std::vector<std::pair<const MinMax*, std::size_t>> out;
    if (k < 0 || k >= Levels()) return out;
    const Level& l = levels_[static_cast<std::size_t>(k)];
    for (std::size_t r = 0; r < l.runs.size(); ++r) {
        const AttachedRun& run = l.runs[r];
        for (std::size_t b = 0; b * kCheckBuckets < run.size; ++b) {
            const std::uint64_t a = run.first + b * kCheckBuckets;
            const std::size_t n = std::min(kCheckBuckets, run.size - b * kCheckBuckets);
            if (a + n <= from) continue;
            const std::size_t skip = from > a ? static_cast<std::size_t>(from - a) : 0;
            out.push_back({Block(k, r, b, read) + skip, n - skip});
        }
    }
    if (from < l.Size() && !l.own.empty()) {
        const std::size_t skip = from > l.attached ? static_cast<std::size_t>(from - l.attached) : 0;
        out.push_back({l.own.data() + skip, l.own.size() - skip});
    }
    return out;
}

MinMax SummaryPyramid::Range(std::uint64_t first, std::uint64_t last, const SampleReader& read) const {
    MinMax r;
    last = std::min(last, size_);
    if (first >= last) return r;
    const std::uint64_t bucket = std::uint64_t{1} << finest_;
    // Samples beyond the last complete finest bucket, and the ragged ends, are read.
    const std::uint64_t summarised = LevelSize(0) * bucket;
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
    for (int k = 0; i < j && k < static_cast<int>(levels_.size()); ++k) {
        if (i & 1) r.Add(At(k, i++, read));
        if (j & 1) r.Add(At(k, --j, read));
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
