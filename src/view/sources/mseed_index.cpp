#include "view/sources/mseed_index.h"

#include <algorithm>

#include "timeline/timeline.h"

namespace zqd::view {

std::int64_t IndexedStretch::EndNs() const { return timeline::SampleTime(start_ns, static_cast<double>(count), rate); }

void PieceList::Attach(std::vector<Run> runs, const Piece& first, const Piece& last, Checksum checksum,
                       std::function<void()> damaged) {
    runs_ = std::move(runs);
    first_attached_ = first;
    last_attached_ = last;
    starts_.clear();
    attached_ = 0;
    auto checks = std::make_shared<Checks>();
    checks->checksum = checksum;
    checks->damaged = std::move(damaged);
    std::size_t blocks = 0;
    for (const Run& r : runs_) {
        starts_.push_back(attached_);
        attached_ += r.size;
        checks->base.push_back(blocks);
        blocks += (r.size + kCheckPieces - 1) / kCheckPieces;
    }
    checks->state = std::make_unique<std::atomic<std::uint8_t>[]>(blocks);
    for (std::size_t b = 0; b < blocks; ++b) checks->state[b] = 0;
    checks_ = std::move(checks);
}

const Piece& PieceList::Raw(std::size_t i) const {
    if (i >= attached_) return own_[i - attached_];
    const auto r = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), i) - starts_.begin()) - 1;
    return runs_[r].data[i - starts_[r]];
}

bool PieceList::Check(std::size_t r, std::size_t b) const {
    std::atomic<std::uint8_t>& state = checks_->state[checks_->base[r] + b];
    const std::uint8_t seen = state.load(std::memory_order_acquire);
    if (seen != 0) return seen == 1;
    const Run& run = runs_[r];
    const std::size_t from = b * kCheckPieces, n = std::min(kCheckPieces, run.size - from);
    const bool good = checks_->checksum(run.data + from, n * sizeof(Piece)) == run.sums[b];
    state.store(good ? 1 : 2, std::memory_order_release);
    if (!good && !checks_->told.exchange(true) && checks_->damaged) checks_->damaged();
    return good;
}

bool PieceList::Get(std::size_t i, Piece& out) const {
    if (i >= Size()) return false;
    if (i >= attached_) {
        out = own_[i - attached_];
        return true;
    }
    const auto r = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), i) - starts_.begin()) - 1;
    const std::size_t j = i - starts_[r];
    if (!Check(r, j / kCheckPieces)) return false;
    out = runs_[r].data[j];
    return true;
}

bool PieceList::Front(Piece& out) const {
    if (attached_ > 0) {
        out = first_attached_;
        return true;
    }
    return Get(0, out);
}

bool PieceList::Back(Piece& out) const {
    if (!own_.empty()) {
        out = own_.back();
        return true;
    }
    if (attached_ == 0) return false;
    out = last_attached_;
    return true;
}

std::size_t PieceList::Find(std::uint64_t sample) const {
    // Pieces are in the order of their samples; a damaged one only misleads
    // the search, and is refused when it is taken.
    std::size_t lo = 0, hi = Size();
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (Raw(mid).first <= sample)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo == 0 ? 0 : lo - 1;
}

bool PieceList::Spans(std::size_t from, std::vector<std::pair<const Piece*, std::size_t>>& out) const {
    for (std::size_t r = 0; r < runs_.size(); ++r) {
        const Run& run = runs_[r];
        for (std::size_t b = 0; b * kCheckPieces < run.size; ++b) {
            const std::size_t a = starts_[r] + b * kCheckPieces, n = std::min(kCheckPieces, run.size - b * kCheckPieces);
            if (a + n <= from) continue;
            if (!Check(r, b)) return false;
            const std::size_t skip = from > a ? from - a : 0;
            out.push_back({run.data + b * kCheckPieces + skip, n - skip});
        }
    }
    if (from < Size() && !own_.empty()) {
        const std::size_t skip = from > attached_ ? from - attached_ : 0;
        out.push_back({own_.data() + skip, own_.size() - skip});
    }
    return true;
}

}  // namespace zqd::view
