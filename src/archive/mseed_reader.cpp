#include "archive/mseed_reader.h"

#include <libmseed.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "archive/convert.h"
#include "common/numtext.h"
#include "common/platform.h"
#include "common/safe_file.h"
#include "common/utc.h"

namespace zqd::archive {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Where a record's samples are: its place in the file, its first sample's
// index in its stretch and how many it has. Stored as it is in the cache.
struct Piece {
    std::uint64_t offset = 0;
    std::uint64_t first = 0;
    std::int32_t reclen = 0;
    std::uint32_t count = 0;
};
static_assert(sizeof(Piece) == 24);

// One file, opened when its samples are first needed.
struct SourceFile {
    std::filesystem::path path;
    std::unique_ptr<std::FILE, FileCloser> file;
    std::FILE* Get() {
        if (!file) file.reset(platform::OpenFile(path, "rb"));
        return file.get();
    }
};

void CopySamples(const MSRecord* msr, std::int32_t* out, std::int64_t from, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
        const std::int64_t j = from + i;
        switch (msr->sampletype) {
            case 'i': out[i] = static_cast<const std::int32_t*>(msr->datasamples)[j]; break;
            case 'f': out[i] = static_cast<std::int32_t>(std::lround(static_cast<const float*>(msr->datasamples)[j])); break;
            case 'd': out[i] = static_cast<std::int32_t>(std::llround(static_cast<const double*>(msr->datasamples)[j])); break;
            default: out[i] = 0;
        }
    }
}

// One stretch's samples, decoded from its records on demand; the record
// decoded last is kept, as reads come in neighbouring pieces. One thread.
class MseedSource final : public view::SampleSource {
public:
    MseedSource(std::shared_ptr<SourceFile> file, const Piece* pieces, std::size_t n, std::shared_ptr<const void> keep)
        : file_(std::move(file)), pieces_(pieces), n_(n), keep_(std::move(keep)) {}
    ~MseedSource() override {
        if (msr_) msr_free(&msr_);
    }

    void Read(std::uint64_t first, std::size_t n, std::int32_t* out) const override {
        const Piece* end = pieces_ + n_;
        const Piece* it = std::upper_bound(pieces_, end, first, [](std::uint64_t f, const Piece& p) { return f < p.first; });
        if (it != pieces_) --it;
        std::size_t done = 0;
        auto take_from = [&](const Piece& p) {  // the decoded record's part of the read
            const std::uint64_t at = first + done;
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, p.first + p.count - at));
            CopySamples(msr_, out + done, static_cast<std::int64_t>(at - p.first), static_cast<std::int64_t>(take));
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
    bool Unpack(const Piece& p, char* record) const {
        if (msr_parse(record, p.reclen, &msr_, p.reclen, 1, 0) != MS_NOERROR || msr_->numsamples < static_cast<std::int64_t>(p.count))
            return false;
        decoded_ = &p;
        return true;
    }

    std::shared_ptr<SourceFile> file_;
    const Piece* pieces_;
    std::size_t n_;
    std::shared_ptr<const void> keep_;  // what `pieces_` lies in
    mutable std::vector<char> buffer_;
    mutable MSRecord* msr_ = nullptr;
    mutable const Piece* decoded_ = nullptr;
    mutable std::uint64_t fetched_from_ = 0;  // file offset of buffer_[0]
};

std::string Trim(const char* s) {
    std::string t(s);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
}

// A file's index: its stretches, each one channel's continuous records.
struct IndexedStretch {
    std::string code;
    std::int64_t start_ns = 0;
    double rate = 0;
    std::vector<Piece> pieces;
    const Piece* piece_data = nullptr;  // pieces, or where they lie in a mapped cache
    std::size_t piece_count = 0;
    view::SummaryPyramid summary{kArchiveFinest};
    std::uint64_t count = 0;
    std::int64_t EndNs() const { return start_ns + static_cast<std::int64_t>(std::llround(static_cast<double>(count) * 1e9 / rate)); }
};

struct FileIndex {
    std::vector<IndexedStretch> stretches;
    std::vector<view::TimeSpan> carried;
    std::uint64_t records = 0, bad = 0;
    std::shared_ptr<const void> keep;  // the mapped cache the index lies in
};

// Reads the whole file once: every data record's place and samples.
bool IndexFile(const std::filesystem::path& path, FileIndex& idx, std::string& why) {
    std::unique_ptr<std::FILE, FileCloser> file(platform::OpenFile(path, "rb"));
    if (!file) {
        why = platform::LastErrorText();
        return false;
    }
    std::error_code ec;
    const std::uint64_t file_size = std::filesystem::file_size(path, ec);
    std::map<std::string, std::size_t> last_of;  // channel -> its last stretch
    MSRecord* msr = nullptr;
    // Records are parsed from pieces of a few MiB, in a buffer each thread keeps.
    thread_local std::vector<char> buffer;
    if (buffer.size() < (4u << 20)) buffer.resize(4u << 20);
    std::vector<std::int32_t> values;
    std::uint64_t base = 0;  // file offset of buffer[0]
    std::size_t have = 0, at = 0;
    bool eof = false, more = false;
    while (true) {
        if ((have - at < 8192 || more) && !eof) {  // keep a record's length ahead, or what parsing asked for
            if (at == 0 && have == buffer.size()) buffer.resize(buffer.size() * 2);
            std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(at), buffer.begin() + static_cast<std::ptrdiff_t>(have), buffer.begin());
            base += at;
            have -= at;
            at = 0;
            const std::size_t got = std::fread(buffer.data() + have, 1, buffer.size() - have, file.get());
            have += got;
            eof = got == 0 || std::feof(file.get());
            more = false;
        }
        if (at >= have) break;
        const int left = static_cast<int>(std::min<std::size_t>(have - at, 1 << 30));
        const int rc = msr_parse(buffer.data() + at, left, &msr, -1, 1, 0);
        if (rc != MS_NOERROR) {
            if (rc > 0 && !eof) {  // more bytes needed: read on
                more = true;
                continue;
            }
            if (rc > 0 || left < 48) break;  // a short tail
            ++idx.bad;  // not a record here: step on by the smallest record length
            at += std::min<std::size_t>(256, have - at);
            continue;
        }
        const std::uint64_t offset = base + at;
        at += static_cast<std::size_t>(msr->reclen);
        if (msr->numsamples <= 0 || msr->samprate <= 0) continue;  // not a data record
        ++idx.records;
        const std::int64_t start = static_cast<std::int64_t>(msr->starttime) * 1000;  // µs to ns
        const std::string code = Trim(msr->network) + "." + Trim(msr->station) + "." + Trim(msr->location) + "." + Trim(msr->channel);
        auto found = last_of.find(code);
        IndexedStretch* s = found == last_of.end() ? nullptr : &idx.stretches[found->second];
        if (!s || s->rate != msr->samprate || std::llabs(s->EndNs() - start) > static_cast<std::int64_t>(0.5e9 / msr->samprate)) {
            idx.stretches.emplace_back();
            s = &idx.stretches.back();
            s->code = code;
            s->start_ns = start;
            s->rate = msr->samprate;
            // Steim-2 holds at most 7 samples in 4 bytes: room for as many as
            // the file could hold, so that the summaries are never moved as
            // they grow (address space only; 64-bit programs have plenty).
            if constexpr (sizeof(void*) >= 8) s->summary.Reserve(file_size / 4 * 7);
            last_of[code] = idx.stretches.size() - 1;
        }
        const std::int32_t* samples = static_cast<const std::int32_t*>(msr->datasamples);
        if (msr->sampletype != 'i') {  // floats are summarised as rounded codes
            values.resize(static_cast<std::size_t>(msr->numsamples));
            CopySamples(msr, values.data(), 0, msr->numsamples);
            samples = values.data();
        }
        s->pieces.push_back(Piece{offset, s->count, msr->reclen, static_cast<std::uint32_t>(msr->numsamples)});
        s->summary.Append(samples, static_cast<std::size_t>(msr->numsamples));
        s->count += static_cast<std::uint64_t>(msr->numsamples);
        if (msr->Blkt1001 && msr->Blkt1001->timing_qual < 100) {
            const std::int64_t end = start + static_cast<std::int64_t>(std::llround(static_cast<double>(msr->numsamples) * 1e9 / msr->samprate));
            if (!idx.carried.empty() && idx.carried.back().end_ns >= start)
                idx.carried.back().end_ns = std::max(idx.carried.back().end_ns, end);
            else
                idx.carried.push_back({start, end});
        }
    }
    if (msr) msr_free(&msr);
    for (auto& s : idx.stretches) {
        s.piece_data = s.pieces.data();
        s.piece_count = s.pieces.size();
    }
    return true;
}

// The cache: one file per indexed file, named by a hash of its path, size
// and time, all checked again on reading.
//   "ZQDIDX1\0", size, mtime, path length, path (padded to 8), stretches, carried spans,
//   the carried spans, then per stretch: code length, code (padded), start, rate, count,
//   pieces, the pieces, summary length, the summary (padded).
constexpr char kIndexMagic[8] = {'Z', 'Q', 'D', 'I', 'D', 'X', '1', 0};

struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
    std::string path;
};

std::filesystem::path CachePath(const std::filesystem::path& cache, const FileStamp& st) {
    std::uint64_t h = 1469598103934665603ULL;  // FNV-1a
    auto mix = [&](const void* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ULL;
    };
    mix(st.path.data(), st.path.size());
    mix(&st.size, sizeof st.size);
    mix(&st.mtime, sizeof st.mtime);
    char name[40];
    std::snprintf(name, sizeof name, "%016llx.zidx", static_cast<unsigned long long>(h));
    return cache / name;
}

template <typename T>
void Put(std::string& out, const T& v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}
void Pad(std::string& out) { out.append((8 - out.size() % 8) % 8, '\0'); }

std::string SerializeIndex(const FileIndex& idx, const FileStamp& st) {
    std::string out(kIndexMagic, 8);
    Put(out, st.size);
    Put(out, st.mtime);
    Put(out, static_cast<std::uint64_t>(st.path.size()));
    out += st.path;
    Pad(out);
    Put(out, static_cast<std::uint64_t>(idx.stretches.size()));
    Put(out, static_cast<std::uint64_t>(idx.carried.size()));
    Put(out, idx.records);
    for (const auto& c : idx.carried) {
        Put(out, c.begin_ns);
        Put(out, c.end_ns);
    }
    for (const auto& s : idx.stretches) {
        Put(out, static_cast<std::uint64_t>(s.code.size()));
        out += s.code;
        Pad(out);
        Put(out, s.start_ns);
        Put(out, s.rate);
        Put(out, s.count);
        Put(out, static_cast<std::uint64_t>(s.piece_count));
        out.append(reinterpret_cast<const char*>(s.piece_data), s.piece_count * sizeof(Piece));
        const std::string summary = s.summary.Serialize();
        Put(out, static_cast<std::uint64_t>(summary.size()));
        out += summary;
        Pad(out);
    }
    return out;
}

// Reads a mapped cache in place; false for anything that does not fit.
bool ParseIndex(const std::shared_ptr<platform::MappedFile>& map, const FileStamp& st, FileIndex& idx) {
    const unsigned char* d = map->Data();
    const std::uint64_t size = map->Size();
    std::uint64_t at = 0;
    auto get = [&](auto& v) {
        if (size - at < sizeof v) return false;
        std::memcpy(&v, d + at, sizeof v);
        at += sizeof v;
        return true;
    };
    auto text = [&](std::string& t) {
        std::uint64_t n = 0;
        if (!get(n) || size - at < n) return false;
        t.assign(reinterpret_cast<const char*>(d + at), static_cast<std::size_t>(n));
        at = std::min<std::uint64_t>(size, (at + n + 7) / 8 * 8);
        return true;
    };
    char magic[8];
    std::uint64_t fsize = 0, nstretch = 0, ncarried = 0;
    std::int64_t mtime = 0;
    std::string path;
    if (size < 8 || reinterpret_cast<std::uintptr_t>(d) % 8 != 0 || !get(magic) ||
        !std::equal(kIndexMagic, kIndexMagic + 8, magic) || !get(fsize) || !get(mtime) || !text(path) ||
        fsize != st.size || mtime != st.mtime || path != st.path || !get(nstretch) || !get(ncarried) ||
        !get(idx.records) || ncarried > size / 16 || nstretch > size / 48)
        return false;
    for (std::uint64_t i = 0; i < ncarried; ++i) {
        view::TimeSpan c;
        if (!get(c.begin_ns) || !get(c.end_ns)) return false;
        idx.carried.push_back(c);
    }
    idx.stretches.resize(static_cast<std::size_t>(nstretch));
    for (auto& s : idx.stretches) {
        std::uint64_t npieces = 0, nsummary = 0;
        if (!text(s.code) || !get(s.start_ns) || !get(s.rate) || !get(s.count) || !get(npieces) || !(s.rate > 0) ||
            (size - at) / sizeof(Piece) < npieces)
            return false;
        s.piece_data = reinterpret_cast<const Piece*>(d + at);
        s.piece_count = static_cast<std::size_t>(npieces);
        at += npieces * sizeof(Piece);
        if (!get(nsummary) || size - at < nsummary || !s.summary.Attach(d + at, static_cast<std::size_t>(nsummary), map) ||
            s.summary.Size() != s.count)
            return false;
        at = std::min<std::uint64_t>(size, (at + nsummary + 7) / 8 * 8);
        // The pieces cover the stretch (checked at its ends only, so that an
        // open reads no more than it needs; a read checks each piece it uses).
        if (s.piece_count == 0 || s.piece_data[0].first != 0 ||
            s.piece_data[s.piece_count - 1].first + s.piece_data[s.piece_count - 1].count != s.count)
            return false;
    }
    idx.keep = map;
    return true;
}

}  // namespace

std::optional<view::WaveformModel> LoadMseedModel(const std::vector<std::filesystem::path>& files,
                                                  const std::filesystem::path& cache, MseedLoad& report,
                                                  std::string& why) {
    view::WaveformModel model;
    std::map<std::string, int> channel_of;
    if (!cache.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(cache, ec);
    }
    // Each file's index: from the cache where it fits, else read through,
    // the files read on as many threads as the machine has cores (up to 4).
    struct Entry {
        FileStamp st;
        std::filesystem::path cache_file;
        FileIndex idx;
        bool ok = false, cached = false;
        std::string error;
    };
    std::vector<Entry> entries(files.size());
    std::vector<std::size_t> to_index;
    for (std::size_t i = 0; i < files.size(); ++i) {
        Entry& e = entries[i];
        std::error_code ec;
        e.st.size = std::filesystem::file_size(files[i], ec);
        if (ec) {
            e.error = ec.message();
            continue;
        }
        e.st.mtime = static_cast<std::int64_t>(std::filesystem::last_write_time(files[i], ec).time_since_epoch().count());
        e.st.path = platform::PathText(std::filesystem::absolute(files[i], ec));
        if (!cache.empty()) {
            e.cache_file = CachePath(cache, e.st);
            if (std::filesystem::exists(e.cache_file, ec)) {
                auto map = std::make_shared<platform::MappedFile>();
                std::string error;
                e.cached = map->Open(e.cache_file, error, false) && ParseIndex(map, e.st, e.idx);
                if (!e.cached) e.idx = FileIndex{};
            }
        }
        e.ok = e.cached;
        if (!e.cached) to_index.push_back(i);
    }
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t k; (k = next++) < to_index.size();) {
            Entry& e = entries[to_index[k]];
            e.ok = IndexFile(files[to_index[k]], e.idx, e.error);
        }
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads && t < to_index.size(); ++t) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();
    // Kept for the next open, in one batch; a cache that cannot be written only costs time.
    if (!cache.empty() && !to_index.empty()) {
        FolderBatch batch(cache);
        if (batch.Begin()) {
            for (std::size_t i : to_index)
                if (entries[i].ok && entries[i].idx.records > 0)
                    (void)WriteWhole(entries[i].cache_file, SerializeIndex(entries[i].idx, entries[i].st), true);
            batch.Finish();
        }
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto& path = files[i];
        const std::string name = platform::PathText(path);
        Entry& e = entries[i];
        if (!e.ok) {
            report.skipped.push_back(name + "：" + e.error);
            continue;
        }
        FileIndex& idx = e.idx;
        if (e.cached) {
            ++report.files_cached;
        } else {
            ++report.files_indexed;
            if (idx.bad > 0) report.skipped.push_back(name + "：有无法解读的数据，已跳过");
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
                report.skipped.push_back(name + "：" + s.code + " 与前面的数据重叠，已跳过这一段");
                continue;
            }
            std::shared_ptr<const void> keep = owned->keep ? owned->keep : std::shared_ptr<const void>(owned, owned.get());
            view::Stretch& vs = model.AddStretch(c, s.start_ns, s.rate,
                                                 std::make_shared<MseedSource>(file, s.piece_data, s.piece_count, keep));
            vs.summary = std::move(s.summary);
            vs.count = s.count;
        }
        for (const auto& span : owned->carried) model.MarkCarried(span.begin_ns, span.end_ns);
    }
    if (model.ChannelCount() == 0) {
        why = files.empty() ? "没有 miniSEED 文件" : "文件中没有 miniSEED 数据记录";
        if (!report.skipped.empty()) why += "（" + report.skipped.front() + "）";
        return std::nullopt;
    }
    return model;
}

std::vector<std::filesystem::path> SdsDayFiles(const std::filesystem::path& folder, std::optional<std::int64_t> from,
                                               std::optional<std::int64_t> to) {
    std::vector<std::pair<std::string, std::filesystem::path>> found;  // YEAR.DOY + name, path
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const std::string name = platform::PathText(it->path().filename());
        const auto parts = SplitText(name, '.');  // NET.STA.LOC.CHA.TYPE.YEAR.DOY
        int year = 0, doy = 0;
        char extra = 0;
        if (parts.size() != 7 || std::sscanf(parts[5].c_str(), "%d%c", &year, &extra) != 1 ||
            std::sscanf(parts[6].c_str(), "%d%c", &doy, &extra) != 1 || doy < 1 || doy > 366)
            continue;
        const std::int64_t day0 = (utc::DaysFromCivil(year, 1, 1) + doy - 1) * utc::kNsPerDay;
        if ((from && day0 + utc::kNsPerDay <= *from) || (to && day0 >= *to)) continue;
        char key[32];
        std::snprintf(key, sizeof key, "%06d.%03d.", year, doy);
        found.push_back({key + name, it->path()});
    }
    std::sort(found.begin(), found.end());
    std::vector<std::filesystem::path> files;
    for (auto& f : found) files.push_back(std::move(f.second));
    return files;
}

}  // namespace zqd::archive
