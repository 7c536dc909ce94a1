#include "view/waveform_model.h"

#include <algorithm>
#include <cmath>

#include "timeline/timeline.h"

namespace zqd::view {

namespace {

// Columns at least this many finest buckets wide are drawn from the
// summaries alone, their bounds rounded to whole buckets.
constexpr std::uint64_t kSnapBuckets = 4;

// Spans in time order, those that touch or overlap made one.
std::vector<TimeSpan> Merged(std::vector<TimeSpan> spans) {
    std::sort(spans.begin(), spans.end(), [](const TimeSpan& x, const TimeSpan& y) { return x.begin_ns < y.begin_ns; });
    std::vector<TimeSpan> merged;
    for (const TimeSpan& s : spans) {
        if (!merged.empty() && merged.back().end_ns >= s.begin_ns)
            merged.back().end_ns = std::max(merged.back().end_ns, s.end_ns);
        else
            merged.push_back(s);
    }
    return merged;
}

}  // namespace

class BlockSource final : public SampleSource {
public:
    explicit BlockSource(int offset) : offset_(offset) {}
    void Add(acq::BlockPtr b) { blocks_.push_back(std::move(b)); }
    void Read(std::uint64_t first, std::size_t n, std::int32_t* out) const override {
        const std::uint64_t points = static_cast<std::uint64_t>(blocks_.front()->ChnPoints);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t s = first + i;
            out[i] = static_cast<std::uint16_t>(
                blocks_[static_cast<std::size_t>(s / points)]->At(static_cast<std::int64_t>(s % points), offset_));
        }
    }

private:
    int offset_;
    std::vector<acq::BlockPtr> blocks_;
};

std::int64_t Stretch::TimeOf(double index) const { return timeline::SampleTime(start_ns, index, rate); }

std::uint64_t Stretch::IndexAtOrAfter(std::int64_t t_ns) const {
    if (t_ns <= start_ns) return 0;
    const double at = std::ceil(static_cast<double>(t_ns - start_ns) * rate / 1e9 - 1e-6);
    return at >= static_cast<double>(count) ? count : static_cast<std::uint64_t>(at);
}

int WaveformModel::AddChannel(std::string name, int offset) {
    channels_.push_back(Channel{std::move(name), offset, {}});
    return ChannelCount() - 1;
}

Stretch& WaveformModel::AddStretch(int c, std::int64_t start_ns, double rate, std::shared_ptr<const SampleSource> source) {
    auto& list = channels_[static_cast<std::size_t>(c)].stretches;
    Stretch s;
    s.start_ns = start_ns;
    s.rate = rate;
    s.source = std::move(source);
    list.push_back(std::move(s));
    return list.back();
}

void WaveformModel::MarkCarried(std::int64_t begin_ns, std::int64_t end_ns) {
    if (!carried_.empty() && carried_.back().begin_ns <= begin_ns) {  // in order, as blocks come
        if (carried_.back().end_ns >= begin_ns) {
            carried_.back().end_ns = std::max(carried_.back().end_ns, end_ns);
            return;
        }
        carried_.push_back({begin_ns, end_ns});
        return;
    }
    // Out of order: put in place, merged with its neighbours.
    auto it = std::lower_bound(carried_.begin(), carried_.end(), begin_ns,
                               [](const TimeSpan& s, std::int64_t t) { return s.begin_ns < t; });
    if (it != carried_.begin() && std::prev(it)->end_ns >= begin_ns) {
        it = std::prev(it);
        it->end_ns = std::max(it->end_ns, end_ns);
    } else {
        it = carried_.insert(it, {begin_ns, end_ns});
    }
    auto next = std::next(it);
    while (next != carried_.end() && next->begin_ns <= it->end_ns) {
        it->end_ns = std::max(it->end_ns, next->end_ns);
        ++next;
    }
    carried_.erase(std::next(it), next);
}

void WaveformModel::MarkCarried(const std::vector<TimeSpan>& spans) {
    // Another file's spans, in one go: merged with these at once.
    if (spans.empty()) return;
    carried_.insert(carried_.end(), spans.begin(), spans.end());
    carried_ = Merged(std::move(carried_));
}

std::optional<TimeSpan> WaveformModel::Extent() const {
    std::optional<TimeSpan> e;
    for (const auto& ch : channels_) {
        if (ch.stretches.empty()) continue;
        const TimeSpan s{ch.stretches.front().start_ns, ch.stretches.back().EndNs()};
        if (!e) e = s;
        e->begin_ns = std::min(e->begin_ns, s.begin_ns);
        e->end_ns = std::max(e->end_ns, s.end_ns);
    }
    return e;
}

std::vector<TimeSpan> WaveformModel::Covered(std::int64_t t0, std::int64_t t1) const {
    std::vector<TimeSpan> spans;
    for (const auto& ch : channels_)
        for (const auto& s : ch.stretches) {
            if (s.count == 0) continue;
            const std::int64_t a = std::max(s.start_ns, t0), b = std::min(s.EndNs(), t1);
            if (a < b) spans.push_back({a, b});
        }
    return Merged(std::move(spans));
}

std::uint64_t WaveformModel::Samples() const {
    std::uint64_t n = 0;
    for (const auto& ch : channels_)
        for (const auto& s : ch.stretches) n += s.count;
    return n;
}

std::size_t WaveformModel::SummaryBytes() const {
    std::size_t n = 0;
    for (const auto& ch : channels_)
        for (const auto& s : ch.stretches) n += s.summary.Bytes();
    return n;
}

std::vector<MinMax> WaveformModel::Envelope(int c, std::int64_t t0, std::int64_t t1, int width) const {
    std::vector<MinMax> out(static_cast<std::size_t>(std::max(width, 0)));
    if (width <= 0 || t1 <= t0) return out;
    const double ns_per_px = static_cast<double>(t1 - t0) / width;
    std::vector<std::int32_t> raw;
    for (const Stretch& s : At(c).stretches) {
        if (s.count == 0 || s.EndNs() <= t0 || s.start_ns >= t1) continue;
        const std::uint64_t a = s.IndexAtOrAfter(t0), b = s.IndexAtOrAfter(t1);
        if (a >= b) continue;
        // Columns [ca, cb] hold samples of this stretch.
        const int ca = std::clamp(static_cast<int>((static_cast<double>(s.TimeOf(static_cast<double>(a)) - t0)) / ns_per_px), 0, width - 1);
        const int cb = std::clamp(static_cast<int>((static_cast<double>(s.TimeOf(static_cast<double>(b - 1)) - t0)) / ns_per_px), 0, width - 1);
        // The first sample of each column.
        auto first_of = [&](int col) -> std::uint64_t {
            if (col <= ca) return a;
            if (col > cb) return b;
            return std::clamp<std::uint64_t>(s.IndexAtOrAfter(t0 + static_cast<std::int64_t>(std::llround(col * ns_per_px))), a, b);
        };
        const double per_column = ns_per_px * s.rate / 1e9;
        const std::uint64_t finest_bucket = std::uint64_t{1} << s.summary.Finest();
        if (per_column >= static_cast<double>(kSnapBuckets * finest_bucket) && s.summary.Levels() > 0) {
            // From one level of the summaries, read straight along: the
            // coarsest whose buckets are at most an eighth of a column, each
            // bucket going to the column its middle falls in. What the level
            // does not cover yet (a live stretch's last samples) and columns
            // a stretch's edge leaves without a whole bucket come from Range.
            int level = 0;
            while (level + 1 < s.summary.Levels() &&
                   static_cast<double>(std::uint64_t{1} << (s.summary.Finest() + level + 1)) * 8 <= per_column)
                ++level;
            const int shift = s.summary.Finest() + level;
            const std::uint64_t buckets = s.summary.LevelSize(level);
            const std::uint64_t covered = buckets << shift;
            const std::uint64_t half = (std::uint64_t{1} << shift) / 2;
            const SampleReader read = [&](std::uint64_t from, std::size_t n, std::int32_t* to) { s.source->Read(from, n, to); };
            // The level's buckets read straight along, a piece at a time.
            std::uint64_t piece_lo = 0, piece_hi = 0;
            const MinMax* piece = nullptr;
            auto read_buckets = [&](std::uint64_t lo, std::uint64_t hi) {
                MinMax m;
                while (lo < hi) {
                    if (lo < piece_lo || lo >= piece_hi) {
                        const auto [p, n] = s.summary.Piece(level, lo, read);
                        piece = p;
                        piece_lo = lo;
                        piece_hi = lo + n;
                    }
                    const std::uint64_t to = std::min(hi, piece_hi);
                    for (const MinMax* b = piece + (lo - piece_lo); b != piece + (to - piece_lo); ++b) m.Add(*b);
                    lo = to;
                }
                return m;
            };
            std::uint64_t next = first_of(ca);
            for (int col = ca; col <= cb; ++col) {
                const std::uint64_t from = next, to = first_of(col + 1);
                next = to;
                if (from >= to) continue;
                MinMax m;
                // Inner column bounds round to the nearest bucket; the span's
                // own ends are exact, so nothing outside it is drawn.
                std::uint64_t lo = std::min<std::uint64_t>((from + half) >> shift, buckets);
                std::uint64_t hi = std::min<std::uint64_t>((to + half) >> shift, buckets);
                if (col == ca) {
                    lo = std::min<std::uint64_t>((from + (std::uint64_t{1} << shift) - 1) >> shift, buckets);
                    m.Add(s.summary.Range(from, std::min(to, lo << shift), read));
                }
                if (col == cb) {
                    hi = std::max(lo, std::min<std::uint64_t>(to >> shift, buckets));
                    m.Add(s.summary.Range(std::max(from, hi << shift), std::min(to, covered), read));
                }
                if (lo < hi) m.Add(read_buckets(lo, hi));
                if (to > covered) m.Add(s.summary.Range(std::max(from, covered), to, read));
                if (m.Empty()) m = s.summary.Range(from, to, read);
                out[static_cast<std::size_t>(col)].Add(m);
            }
        } else {
            raw.resize(static_cast<std::size_t>(b - a));
            s.source->Read(a, raw.size(), raw.data());
            for (int col = ca; col <= cb; ++col) {
                const std::uint64_t lo = first_of(col), hi = first_of(col + 1);
                for (std::uint64_t i = lo; i < hi; ++i) out[static_cast<std::size_t>(col)].Add(raw[static_cast<std::size_t>(i - a)]);
            }
        }
    }
    return out;
}

std::optional<std::vector<SampleRun>> WaveformModel::SamplesIn(int c, std::int64_t t0, std::int64_t t1,
                                                               std::size_t limit) const {
    std::vector<SampleRun> runs;
    std::size_t total = 0;
    for (const Stretch& s : At(c).stretches) {
        if (s.count == 0 || s.EndNs() <= t0 || s.start_ns > t1) continue;
        // One sample either side, so that the line runs to the edges.
        std::uint64_t a = s.IndexAtOrAfter(t0), b = s.IndexAtOrAfter(t1 + 1);
        if (a > 0) --a;
        if (b < s.count) ++b;
        if (a >= b) continue;
        total += static_cast<std::size_t>(b - a);
        if (total > limit) return std::nullopt;
        SampleRun r;
        r.start_ns = s.TimeOf(static_cast<double>(a));
        r.rate = s.rate;
        r.values.resize(static_cast<std::size_t>(b - a));
        s.source->Read(a, r.values.size(), r.values.data());
        runs.push_back(std::move(r));
    }
    return runs;
}

MinMax WaveformModel::RangeIn(int c, std::int64_t t0, std::int64_t t1) const {
    MinMax r;
    for (const Stretch& s : At(c).stretches) {
        if (s.count == 0 || s.EndNs() <= t0 || s.start_ns >= t1) continue;
        const SampleReader read = [&](std::uint64_t from, std::size_t n, std::int32_t* to) { s.source->Read(from, n, to); };
        r.Add(s.summary.Range(s.IndexAtOrAfter(t0), s.IndexAtOrAfter(t1), read));
    }
    return r;
}

std::optional<std::pair<std::int64_t, std::int32_t>> WaveformModel::ValueAt(int c, std::int64_t t_ns) const {
    for (const Stretch& s : At(c).stretches) {
        if (s.count == 0 || t_ns < s.start_ns - static_cast<std::int64_t>(1e9 / s.rate) || t_ns >= s.EndNs()) continue;
        const double at = std::round(static_cast<double>(t_ns - s.start_ns) * s.rate / 1e9);
        const std::uint64_t i = at <= 0 ? 0 : std::min<std::uint64_t>(static_cast<std::uint64_t>(at), s.count - 1);
        std::int32_t v = 0;
        s.source->Read(i, 1, &v);
        return std::make_pair(s.TimeOf(static_cast<double>(i)), v);
    }
    return std::nullopt;
}

void WaveformModel::AppendBlock(const acq::BlockPtr& block, double stretch_seconds) {
    const acq::Block& b = *block;
    if (b.ChnPoints <= 0 || b.SampleFrq <= 0 || b.time_status == acq::TimeStatus::kNone) return;
    const double rate = b.SampleFrq;
    std::vector<std::int32_t> values(static_cast<std::size_t>(b.ChnPoints));
    for (int c = 0; c < ChannelCount(); ++c) {
        const int offset = channels_[static_cast<std::size_t>(c)].offset;
        if (offset < 0 || offset >= b.ChnNum) continue;
        auto& list = channels_[static_cast<std::size_t>(c)].stretches;
        Stretch* s = list.empty() ? nullptr : &list.back();
        const bool joins = s && s->rate == rate && timeline::Continues(s->EndNs(), b.time_ns, rate) &&
                           static_cast<double>(s->count) / rate < stretch_seconds;
        if (live_.size() < channels_.size()) live_.resize(channels_.size());
        auto& source = live_[static_cast<std::size_t>(c)];
        if (!joins || !source) {
            source = std::make_shared<BlockSource>(offset);
            s = &AddStretch(c, b.time_ns, rate, source);
        }
        source->Add(block);
        for (std::int64_t j = 0; j < b.ChnPoints; ++j) values[static_cast<std::size_t>(j)] = static_cast<std::uint16_t>(b.At(j, offset));
        s->summary.Append(values.data(), values.size());
        s->count += static_cast<std::uint64_t>(b.ChnPoints);
    }
    if (b.time_status == acq::TimeStatus::kCarried) MarkCarried(b.time_ns, b.time_ns + b.DurationNs());
}

void WaveformModel::DropBefore(std::int64_t t_ns) {
    for (auto& ch : channels_)
        while (!ch.stretches.empty() && ch.stretches.front().EndNs() < t_ns) ch.stretches.pop_front();
    std::erase_if(carried_, [&](const TimeSpan& s) { return s.end_ns < t_ns; });
}

}  // namespace zqd::view
