#include "view/sources/mseed_source.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>

#include "formats/mseed/mseed_scan.h"
#include "platform/files.h"
#include "platform/mapped_file.h"
#include "platform/safe_file.h"
#include "platform/text.h"
#include "timeline/timeline.h"
#include "view/sources/mseed_index.h"
#include "view/sources/summary_cache.h"

namespace zqd::view {

using Code = Status::Code;
using Why = Status::Why;

std::int64_t IndexedStretch::EndNs() const { return timeline::SampleTime(start_ns, static_cast<double>(count), rate); }

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// One file, opened when its samples are first needed.
struct SourceFile {
    std::filesystem::path path;
    std::unique_ptr<std::FILE, FileCloser> file;
    std::FILE* Get() {
        if (!file) file.reset(platform::OpenFile(path, "rb"));
        return file.get();
    }
};

// One stretch's samples, decoded from its records on demand; the record
// decoded last is kept, as reads come in neighbouring pieces. One thread.
class MseedSource final : public SampleSource {
public:
    MseedSource(std::shared_ptr<SourceFile> file, const Piece* pieces, std::size_t n, std::shared_ptr<const void> keep)
        : file_(std::move(file)), pieces_(pieces), n_(n), keep_(std::move(keep)) {}
    void Read(std::uint64_t first, std::size_t n, std::int32_t* out) const override {
        const Piece* end = pieces_ + n_;
        const Piece* it = std::upper_bound(pieces_, end, first, [](std::uint64_t f, const Piece& p) { return f < p.first; });
        if (it != pieces_) --it;
        std::size_t done = 0;
        auto take_from = [&](const Piece& p) {  // the decoded record's part of the read
            const std::uint64_t at = first + done;
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, p.first + p.count - at));
            decoder_.Copy(static_cast<std::int64_t>(at - p.first), static_cast<std::int64_t>(take), out + done);
            done += take;
        };
        bool failed = false;
        while (!failed && done < n && it != end) {
            const std::uint64_t at = first + done;
            if (at < it->first || at >= it->first + it->count) break;
            if (decoded_ == it) {
                take_from(*it++);
                continue;
            }
            // The records this read needs that lie one after the other in
            // the file are read in one go (up to 1 MiB), then unpacked.
            const Piece* last = it;
            while (last + 1 != end && (last + 1)->first < first + n &&
                   (last + 1)->offset == last->offset + static_cast<std::uint64_t>(last->reclen) &&
                   (last + 1)->offset + static_cast<std::uint64_t>((last + 1)->reclen) - it->offset <= (1u << 20))
                ++last;
            if (!Fetch(it, last)) break;
            for (; it <= last && done < n; ++it) {
                if (!Unpack(*it, buffer_.data() + (it->offset - fetched_from_))) {
                    failed = true;
                    break;
                }
                take_from(*it);
            }
        }
        std::fill(out + done, out + n, 0);  // unreadable now: the file changed under us
    }

private:
    // Reads the bytes of pieces [a, b] into buffer_.
    bool Fetch(const Piece* a, const Piece* b) const {
        decoded_ = nullptr;
        for (const Piece* p = a; p <= b; ++p)
            if (p->reclen < 48 || p->reclen > (1 << 20)) return false;  // not a record length: a damaged cache
        buffer_.resize(static_cast<std::size_t>(b->offset - a->offset) + static_cast<std::size_t>(b->reclen));
        std::FILE* f = file_->Get();
        fetched_from_ = a->offset;
        return f && platform::SeekTo(f, a->offset) && std::fread(buffer_.data(), 1, buffer_.size(), f) == buffer_.size();
    }
    bool Unpack(const Piece& p, const char* record) const {
        if (!decoder_.Decode(record, p.reclen, p.count)) return false;
        decoded_ = &p;
        return true;
    }

    std::shared_ptr<SourceFile> file_;
    const Piece* pieces_;
    std::size_t n_;
    std::shared_ptr<const void> keep_;  // what `pieces_` lies in
    mutable std::vector<char> buffer_;
    mutable mseed::RecordDecoder decoder_;
    mutable const Piece* decoded_ = nullptr;
    mutable std::uint64_t fetched_from_ = 0;  // file offset of buffer_[0]
};

// Reads the whole file once: every data record's place and samples, into
// stretches of one channel that continue each other.
Status IndexFile(const std::filesystem::path& path, FileIndex& idx) {
    std::error_code ec;
    const std::uint64_t file_size = std::filesystem::file_size(path, ec);
    std::map<std::string, std::size_t> last_of;  // channel -> its last stretch
    mseed::ScanCounts counts;
    auto on_record = [&](const mseed::RecordInfo& r) {
        auto found = last_of.find(r.code);
        IndexedStretch* s = found == last_of.end() ? nullptr : &idx.stretches[found->second];
        if (!s || s->rate != r.rate || !timeline::Continues(s->EndNs(), r.start_ns, r.rate)) {
            idx.stretches.emplace_back();
            s = &idx.stretches.back();
            s->code = r.code;
            s->start_ns = r.start_ns;
            s->rate = r.rate;
            // Steim-2 holds at most 7 samples in 4 bytes: room for as many as
            // the file could hold, so that the summaries are never moved as
            // they grow (address space only; 64-bit programs have plenty).
            if constexpr (sizeof(void*) >= 8) s->summary.Reserve(file_size / 4 * 7);
            last_of[r.code] = idx.stretches.size() - 1;
        }
        s->pieces.push_back(Piece{r.offset, s->count, r.reclen, static_cast<std::uint32_t>(r.samples)});
        s->summary.Append(r.values, static_cast<std::size_t>(r.samples));
        s->count += static_cast<std::uint64_t>(r.samples);
        if (r.timing_quality >= 0 && r.timing_quality < 100) {
            const std::int64_t end = timeline::SampleTime(r.start_ns, static_cast<double>(r.samples), r.rate);
            if (!idx.carried.empty() && idx.carried.back().end_ns >= r.start_ns)
                idx.carried.back().end_ns = std::max(idx.carried.back().end_ns, end);
            else
                idx.carried.push_back({r.start_ns, end});
        }
    };
    if (Status s = mseed::ScanFile(path, on_record, counts); !s.ok()) return s;
    idx.records = counts.records;
    idx.bad = counts.bad;
    for (auto& s : idx.stretches) {
        s.piece_data = s.pieces.data();
        s.piece_count = s.pieces.size();
    }
    return Status::Ok();
}

// A file to be shown: its identity, where its cache entry goes, its index.
struct Entry {
    FileStamp st;
    std::filesystem::path cache_file;
    FileIndex idx;
    bool cached = false;
    Status status = Status::Fail(Code::kFileRefused);  // of its indexing
};

// Each file's identity, and its index from the cache where that fits.
std::vector<Entry> LookUp(const std::vector<std::filesystem::path>& files, const std::filesystem::path& cache) {
    std::vector<Entry> entries(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        Entry& e = entries[i];
        std::error_code ec;
        e.st.size = std::filesystem::file_size(files[i], ec);
        if (ec) {
            e.status = Status::Fail(Code::kFileRefused, Why::kSystem).Said(ec.message());
            continue;
        }
        e.st.mtime = static_cast<std::int64_t>(std::filesystem::last_write_time(files[i], ec).time_since_epoch().count());
        e.st.path = platform::PathText(std::filesystem::absolute(files[i], ec));
        if (cache.empty()) continue;
        e.cache_file = CachePath(cache, e.st);
        if (std::filesystem::exists(e.cache_file, ec)) {
            auto map = std::make_shared<platform::MappedFile>();
            e.cached = map->Open(e.cache_file, false).ok() && ParseIndex(map, e.st, e.idx);
            if (!e.cached) e.idx = FileIndex{};
            if (e.cached) e.status = Status::Ok();
        }
    }
    return entries;
}

// Indexes the files the cache did not have, on as many threads as the
// machine has cores (up to 4); keeps them for the next open in one batch (a
// cache that cannot be written only costs time).
void IndexRest(const std::vector<std::filesystem::path>& files, std::vector<Entry>& entries,
               const std::filesystem::path& cache) {
    std::vector<std::size_t> to_index;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (!entries[i].cached && entries[i].st.path.size() > 0) to_index.push_back(i);
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t k; (k = next++) < to_index.size();) {
            Entry& e = entries[to_index[k]];
            e.status = IndexFile(files[to_index[k]], e.idx);
        }
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads && t < to_index.size(); ++t) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();
    if (cache.empty() || to_index.empty()) return;
    FolderBatch batch(cache);
    if (!batch.Begin().ok()) return;
    for (std::size_t i : to_index)
        if (entries[i].status.ok() && entries[i].idx.records > 0)
            (void)WriteWhole(entries[i].cache_file, SerializeIndex(entries[i].idx, entries[i].st), true);
    (void)batch.Finish();
}

Status Passed(Why why, const std::filesystem::path& file) {
    return Status::Fail(Code::kFileRefused, why).About(platform::PathText(file));
}

// One file's stretches into the model, after those of the files before it.
void AddToModel(const std::filesystem::path& path, Entry& e, std::map<std::string, int>& channel_of, WaveformModel& model,
                MseedLoad& report) {
    FileIndex& idx = e.idx;
    if (e.cached) {
        ++report.files_cached;
    } else {
        ++report.files_indexed;
        if (idx.bad > 0) report.skipped.push_back(Passed(Why::kPassedUndecodable, path));
        report.bad_records += idx.bad;
    }
    report.records += idx.records;
    auto file = std::make_shared<SourceFile>();
    file->path = path;
    // Samples of the stretches read from the file point into `pieces`: kept alive with the source.
    auto owned = std::make_shared<FileIndex>(std::move(idx));
    for (auto& s : owned->stretches) {
        auto [it, added] = channel_of.emplace(s.code, model.ChannelCount());
        if (added) model.AddChannel(s.code);
        const int c = it->second;
        if (!model.At(c).stretches.empty() && model.At(c).stretches.back().EndNs() > s.start_ns) {
            report.skipped.push_back(Passed(Why::kPassedOverlap, path).And(s.code));
            continue;
        }
        std::shared_ptr<const void> keep = owned->keep ? owned->keep : std::shared_ptr<const void>(owned, owned.get());
        Stretch& vs = model.AddStretch(c, s.start_ns, s.rate, std::make_shared<MseedSource>(file, s.piece_data, s.piece_count, keep));
        vs.summary = std::move(s.summary);
        vs.count = s.count;
    }
    for (const auto& span : owned->carried) model.MarkCarried(span.begin_ns, span.end_ns);
}

}  // namespace

Result<WaveformModel> LoadMseedModel(const std::vector<std::filesystem::path>& files,
                                     const std::filesystem::path& cache, MseedLoad& report) {
    if (!cache.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(cache, ec);
    }
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
