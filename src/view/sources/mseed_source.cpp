#include "view/sources/mseed_source.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "formats/mseed/mseed_scan.h"
#include "platform/files.h"
#include "platform/safe_file.h"
#include "platform/text.h"
#include "timeline/timeline.h"
#include "view/sources/mseed_index.h"

namespace zqd::view {

using Code = Status::Code;
using Why = Status::Why;

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// One file, opened when its samples are first needed.
struct SourceFile {
    std::filesystem::path path;
    std::unique_ptr<std::FILE, FileCloser> file;
    std::mutex mutex;  // the channels of one file share it
    std::FILE* Get() {
        if (!file) file.reset(platform::OpenFile(path, "rb"));
        return file.get();
    }
};

// Adds a file's records to its index, record by record: a record that
// continues its channel's last stretch joins it; one that does not begins a
// new stretch, unless it shows that the record before it was a lone record
// whose time fit neither neighbour and lay far off (a damaged header): that
// one is passed over, never let tear the rest of the file away.
class Indexer {
public:
    Indexer(FileIndex& idx, std::uint64_t file_size) : idx_(idx), file_size_(file_size) {
        for (std::size_t i = 0; i < idx_.stretches.size(); ++i)
            if (!idx_.stretches[i].dropped) of_[idx_.stretches[i].code].push_back(i);
    }

    void Add(const mseed::RecordInfo& r) {
        auto& list = of_[r.code];
        IndexedStretch* s = list.empty() ? nullptr : &idx_.stretches[list.back()];
        if (!s || s->rate != r.rate || !timeline::Continues(s->EndNs(), r.start_ns, r.rate)) {
            if (s && list.size() >= 2 && s->pieces.Size() == 1) {
                const IndexedStretch& before = idx_.stretches[list[list.size() - 2]];
                const std::int64_t expected = timeline::SampleTime(before.EndNs(), static_cast<double>(s->count), r.rate);
                // A damaged header puts its record far off; a card's clock
                // tears a series by part of a sample, and its records are good.
                const std::int64_t off = s->start_ns - before.EndNs();
                const auto far = static_cast<std::int64_t>(10e9 / r.rate);
                if (before.rate == r.rate && s->rate == r.rate && timeline::Continues(expected, r.start_ns, r.rate) &&
                    (off > far || off < -far)) {
                    s->dropped = true;
                    ++idx_.bad_times;
                    list.pop_back();
                }
            }
            idx_.stretches.emplace_back();
            s = &idx_.stretches.back();
            s->code = r.code;
            s->start_ns = r.start_ns;
            s->rate = r.rate;
            // Steim-2 holds at most 7 samples in 4 bytes: room for as many as
            // the file could hold, so that the summaries are seldom moved as
            // they grow (address space only; 64-bit programs have plenty).
            if constexpr (sizeof(void*) >= 8) s->summary.Reserve(file_size_ / 4 * 7);
            list.push_back(idx_.stretches.size() - 1);
        }
        s->pieces.Push(Piece{r.offset, s->count, r.reclen, static_cast<std::uint32_t>(r.samples)});
        s->summary.Append(r.values, static_cast<std::size_t>(r.samples));
        s->count += static_cast<std::uint64_t>(r.samples);
        if (r.timing_quality >= 0 && r.timing_quality < 100) {
            const std::int64_t end = timeline::SampleTime(r.start_ns, static_cast<double>(r.samples), r.rate);
            if (!idx_.carried.empty() && idx_.carried.back().end_ns >= r.start_ns && idx_.carried.back().begin_ns <= r.start_ns)
                idx_.carried.back().end_ns = std::max(idx_.carried.back().end_ns, end);
            else
                idx_.carried.push_back({r.start_ns, end});
        }
    }

private:
    FileIndex& idx_;
    std::uint64_t file_size_;
    std::map<std::string, std::vector<std::size_t>> of_;  // channel -> its stretches, in order
};

// Reads a file from `from` on (where its index stopped; 0: the whole file)
// into its index.
Status IndexFile(const std::filesystem::path& path, FileIndex& idx, std::uint64_t from) {
    std::error_code ec;
    Indexer indexer(idx, std::filesystem::file_size(path, ec));
    mseed::ScanCounts counts;
    if (Status s = mseed::ScanFile(path, [&](const mseed::RecordInfo& r) { indexer.Add(r); }, counts, from); !s.ok()) return s;
    idx.records += counts.records;
    idx.bad += counts.bad;
    idx.tail = counts.tail;
    idx.scanned = counts.end;
    return Status::Ok();
}

// One stretch's samples, decoded from its records on demand. What a view
// reads at fine zoom is kept decoded (a little more than was asked, up to
// kKeptMost samples), since a redraw of the same span (a cursor move, a row
// hidden) reads the same samples again; the record decoded last is kept
// too, as small reads come in neighbouring pieces. Reads may come from more
// than one thread (a view and a filter working in the background). Pieces
// from a cache that fail their checksum are found again in the file.
class MseedSource final : public SampleSource {
public:
    MseedSource(std::shared_ptr<SourceFile> file, PieceList pieces, std::string code, std::int64_t start_ns,
                std::uint64_t count, std::vector<std::shared_ptr<const void>> keep)
        : file_(std::move(file)), pieces_(std::move(pieces)), code_(std::move(code)), start_ns_(start_ns), count_(count),
          keep_(std::move(keep)) {}

    void Read(std::uint64_t first, std::size_t n, std::int32_t* out) const override {
        const std::lock_guard lock(mutex_);
        if (first >= kept_first_ && first - kept_first_ + n <= kept_.size()) {
            std::copy_n(kept_.begin() + static_cast<std::ptrdiff_t>(first - kept_first_), n, out);
            return;
        }
        // A read worth keeping: with a margin each side, so that the same
        // span's neighbouring reads (a sample either side, ragged ends) are
        // served from it too.
        const std::uint64_t margin = n / 8 + 64;
        const std::uint64_t a = first > margin ? first - margin : 0;
        const std::uint64_t b = std::min<std::uint64_t>(count_, first + n + margin);
        if (n >= kKeepFrom && b - a <= kKeptMost) {
            kept_.resize(static_cast<std::size_t>(b - a));
            Decode(a, kept_.size(), kept_.data());
            kept_first_ = a;
            std::copy_n(kept_.begin() + static_cast<std::ptrdiff_t>(first - a), n, out);
            return;
        }
        Decode(first, n, out);
    }

private:
    static constexpr std::size_t kKeepFrom = 256, kKeptMost = std::size_t{1} << 20;

    void Decode(std::uint64_t first, std::size_t n, std::int32_t* out) const {
        std::size_t done = 0;
        bool rescued = false;
        std::size_t i = pieces_.Find(first);
        auto take_from = [&](const Piece& p) {  // the decoded record's part of the read
            const std::uint64_t at = first + done;
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, p.first + p.count - at));
            decoder_.Copy(static_cast<std::int64_t>(at - p.first), static_cast<std::int64_t>(take), out + done);
            done += take;
        };
        while (done < n && i < pieces_.Size()) {
            const std::uint64_t at = first + done;
            Piece p;
            if (!pieces_.Get(i, p)) {  // the cache lied: the file is read instead
                if (rescued || !Rescue()) break;
                rescued = true;
                i = pieces_.Find(at);
                continue;
            }
            if (at < p.first || at >= p.first + p.count) break;
            if (decoded_ == i) {
                take_from(p);
                ++i;
                continue;
            }
            // The records this read needs that lie one after the other in
            // the file are read in one go (up to 1 MiB), then unpacked.
            batch_.assign(1, p);
            Piece next;
            while (i + batch_.size() < pieces_.Size() && pieces_.Get(i + batch_.size(), next) && next.first < first + n &&
                   next.offset == batch_.back().offset + static_cast<std::uint64_t>(batch_.back().reclen) &&
                   next.offset + static_cast<std::uint64_t>(next.reclen) - p.offset <= (1u << 20))
                batch_.push_back(next);
            if (!Fetch()) break;
            bool failed = false;
            for (std::size_t k = 0; k < batch_.size() && done < n; ++k, ++i) {
                if (!decoder_.Decode(buffer_.data() + (batch_[k].offset - p.offset), batch_[k].reclen, batch_[k].count)) {
                    failed = true;
                    break;
                }
                decoded_ = i;
                take_from(batch_[k]);
            }
            if (failed) break;
        }
        std::fill(out + done, out + n, 0);  // unreadable now: the file changed under us
    }

    // Reads the bytes of the batch's records into buffer_.
    bool Fetch() const {
        decoded_ = kNone;
        for (const Piece& p : batch_)
            if (p.reclen < 48 || p.reclen > (1 << 20)) return false;  // not a record length
        const Piece& a = batch_.front();
        const Piece& b = batch_.back();
        if (b.offset < a.offset) return false;
        buffer_.resize(static_cast<std::size_t>(b.offset - a.offset) + static_cast<std::size_t>(b.reclen));
        const std::lock_guard lock(file_->mutex);
        std::FILE* f = file_->Get();
        return f && platform::SeekTo(f, a.offset) && std::fread(buffer_.data(), 1, buffer_.size(), f) == buffer_.size();
    }
    // The stretch's pieces found again by reading the file through.
    bool Rescue() const {
        FileIndex fresh;
        if (!IndexFile(file_->path, fresh, 0).ok()) return false;
        for (auto& s : fresh.stretches)
            if (!s.dropped && s.code == code_ && s.start_ns == start_ns_ && s.count >= count_) {
                pieces_ = std::move(s.pieces);
                decoded_ = kNone;
                return true;
            }
        return false;
    }

    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::shared_ptr<SourceFile> file_;
    mutable PieceList pieces_;
    std::string code_;
    std::int64_t start_ns_;
    std::uint64_t count_;
    std::vector<std::shared_ptr<const void>> keep_;  // the mapped cache the pieces lie in
    mutable std::vector<Piece> batch_;
    mutable std::vector<char> buffer_;
    mutable mseed::RecordDecoder decoder_;
    mutable std::size_t decoded_ = kNone;
    mutable std::vector<std::int32_t> kept_;
    mutable std::uint64_t kept_first_ = 0;
    mutable std::mutex mutex_;
};

// A file to be shown: its identity, its index, and how the cache had it.
struct Entry {
    FileStamp st;
    FileIndex idx;
    SummaryCache::Fit fit = SummaryCache::Fit::kNone;
    Status status = Status::Fail(Code::kFileRefused);  // of its indexing
};

// Each file's identity, and its index from the cache where that fits.
std::vector<Entry> LookUp(const std::vector<std::filesystem::path>& files, SummaryCache& cache) {
    std::vector<Entry> entries(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        Entry& e = entries[i];
        std::error_code ec;
        if (Status s = ReadableFile(files[i]); !s.ok()) {  // only regular files are read
            e.status = std::move(s);
            continue;
        }
        e.st.size = std::filesystem::file_size(files[i], ec);
        if (ec) {
            e.status = Status::Fail(Code::kFileRefused, Why::kSystem).Said(ec.message());
            continue;
        }
        e.st.mtime = static_cast<std::int64_t>(std::filesystem::last_write_time(files[i], ec).time_since_epoch().count());
        e.st.path = platform::PathText(std::filesystem::absolute(files[i], ec));
        e.fit = cache.Load(e.st, e.idx);
        if (e.fit == SummaryCache::Fit::kSame) e.status = Status::Ok();
    }
    return entries;
}

// Indexes what the cache did not have (whole files, or what grown files
// added), on as many threads as the machine has cores (up to 4), and keeps
// it for the next open in one batch (a cache that cannot be written only
// costs time); then keeps the cache within its size.
void IndexRest(const std::vector<std::filesystem::path>& files, std::vector<Entry>& entries, SummaryCache& cache) {
    std::vector<std::size_t> to_index;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].fit != SummaryCache::Fit::kSame && !entries[i].st.path.empty()) to_index.push_back(i);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t k; (k = next++) < to_index.size();) {
            Entry& e = entries[to_index[k]];
            const bool grown = e.fit == SummaryCache::Fit::kGrown;
            e.status = IndexFile(files[to_index[k]], e.idx, grown ? e.idx.scanned : 0);
        }
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads && t < to_index.size(); ++t) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();
    if (cache.Folder().empty() || to_index.empty()) return;
    FolderBatch batch(cache.Folder());
    if (!batch.Begin().ok()) return;
    for (std::size_t i : to_index)
        if (entries[i].status.ok() && entries[i].idx.records > 0)
            cache.Save(entries[i].st, entries[i].idx, entries[i].fit == SummaryCache::Fit::kGrown);
    (void)batch.Finish(false);
    std::set<std::string> in_use;
    for (const Entry& e : entries)
        if (!e.st.path.empty()) in_use.insert(SummaryCache::Key(e.st.path));
    cache.Trim(in_use);
}

Status Passed(Why why, const std::filesystem::path& file) {
    return Status::Fail(Code::kFileRefused, why).About(platform::PathText(file));
}

// One file's stretches into the model, after those of the files before it,
// and what was passed over in it.
void AddToModel(const std::filesystem::path& path, Entry& e, std::map<std::string, int>& channel_of, WaveformModel& model,
                MseedLoad& report) {
    FileIndex& idx = e.idx;
    switch (e.fit) {
    case SummaryCache::Fit::kSame: ++report.files_cached; break;
    case SummaryCache::Fit::kGrown: ++report.files_extended; break;
    case SummaryCache::Fit::kNone: ++report.files_indexed; break;
    }
    if (idx.bad > 0) report.skipped.push_back(Passed(Why::kPassedUndecodable, path));
    if (idx.bad_times > 0) report.skipped.push_back(Passed(Why::kPassedBadTime, path).Value(static_cast<std::int64_t>(idx.bad_times)));
    if (idx.tail > 0) report.skipped.push_back(Passed(Why::kPassedTail, path).Value(static_cast<std::int64_t>(idx.tail)));
    if (idx.records == 0) report.skipped.push_back(Passed(Why::kPassedNoRecords, path));
    report.bad_records += idx.bad + idx.bad_times;
    report.records += idx.records;
    auto file = std::make_shared<SourceFile>();
    file->path = path;
    // Each channel's stretches in time order, the channels as they first appear.
    std::vector<std::size_t> order;
    std::map<std::string, std::size_t> appears;
    for (std::size_t i = 0; i < idx.stretches.size(); ++i)
        if (!idx.stretches[i].dropped) {
            order.push_back(i);
            appears.emplace(idx.stretches[i].code, appears.size());
        }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const auto& x = idx.stretches[a];
        const auto& y = idx.stretches[b];
        return x.code != y.code ? appears[x.code] < appears[y.code] : x.start_ns < y.start_ns;
    });
    for (std::size_t i : order) {
        IndexedStretch& s = idx.stretches[i];
        auto [it, added] = channel_of.emplace(s.code, model.ChannelCount());
        if (added) model.AddChannel(s.code);
        const int c = it->second;
        // A series torn where the card's clock ran fast begins up to a sample
        // before the last one ends: the same samples' times, not others.
        if (!model.At(c).stretches.empty() &&
            model.At(c).stretches.back().EndNs() - (s.rate > 0 ? static_cast<std::int64_t>(1e9 / s.rate) : 0) > s.start_ns) {
            report.skipped.push_back(Passed(Why::kPassedOverlap, path).And(s.code));
            continue;
        }
        Stretch& vs = model.AddStretch(c, s.start_ns, s.rate,
                                       std::make_shared<MseedSource>(file, std::move(s.pieces), s.code, s.start_ns, s.count, idx.keep));
        vs.summary = std::move(s.summary);
        vs.count = s.count;
    }
    model.MarkCarried(idx.carried);
}

}  // namespace

Result<WaveformModel> LoadMseedModel(const std::vector<std::filesystem::path>& files, const CacheOptions& cache_options,
                                     MseedLoad& report) {
    if (!cache_options.folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(cache_options.folder, ec);
    }
    SummaryCache cache(cache_options);
    std::vector<Entry> entries = LookUp(files, cache);
    IndexRest(files, entries, cache);
    WaveformModel model;
    std::map<std::string, int> channel_of;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!entries[i].status.ok()) {
            report.skipped.push_back(Passed(Why::kPassedUnreadable, files[i]).Because(entries[i].status));
            continue;
        }
        AddToModel(files[i], entries[i], channel_of, model, report);
    }
    if (model.ChannelCount() == 0) {
        Status none = Status::Fail(Code::kFileRefused, files.empty() ? Why::kNoMseedFiles : Why::kNoMseedRecords);
        if (!report.skipped.empty()) none.cause = std::make_shared<const Status>(report.skipped.front());
        return none;
    }
    return model;
}

}  // namespace zqd::view
