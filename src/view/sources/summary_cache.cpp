#include "view/sources/summary_cache.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

#include "platform/files.h"
#include "platform/safe_file.h"
#include "platform/text.h"
#include "view/sources/cache_entry.h"

namespace zqd::view {

std::uint64_t CacheChecksum(const void* data, std::size_t bytes) { return XXH3_64bits(data, bytes); }

using namespace entry;

namespace {

// One stretch of a directory, its runs attached in place from the mapped
// files; false when a run does not fit its file or the pieces do not cover
// the stretch.
bool AttachStretch(const Directory::Stretch& ds, const std::vector<const Mapped*>& files,
                   const std::shared_ptr<const void>& keep, const std::function<void()>& damaged, IndexedStretch& s) {
    s.code = ds.code;
    s.start_ns = ds.start_ns;
    s.rate = ds.rate;
    s.count = ds.count;
    std::vector<SummaryPyramid::Run> levels;
    std::vector<PieceList::Run> pieces;
    std::vector<std::uint64_t> buckets;
    for (const CacheRun& r : ds.runs) {
        const Mapped& fm = *files[r.file];
        if (r.level < 0) {
            if (!Fits(fm, r.offset, r.count, sizeof(Piece), r.sums, PieceList::kCheckPieces)) return false;
            pieces.push_back({reinterpret_cast<const Piece*>(fm.map->Data() + r.offset), static_cast<std::size_t>(r.count),
                              reinterpret_cast<const std::uint64_t*>(fm.map->Data() + r.sums)});
            s.cached_pieces += static_cast<std::size_t>(r.count);
        } else {
            if (!Fits(fm, r.offset, r.count, sizeof(MinMax), r.sums, SummaryPyramid::kCheckBuckets)) return false;
            levels.push_back({static_cast<int>(r.level), r.first, static_cast<std::size_t>(r.count),
                              reinterpret_cast<const MinMax*>(fm.map->Data() + r.offset),
                              reinterpret_cast<const std::uint64_t*>(fm.map->Data() + r.sums)});
            if (buckets.size() <= static_cast<std::size_t>(r.level)) buckets.resize(static_cast<std::size_t>(r.level) + 1, 0);
            buckets[static_cast<std::size_t>(r.level)] += r.count;
        }
    }
    if (!s.summary.Attach(ds.state, levels, ds.last, keep, &CacheChecksum, damaged)) return false;
    s.pieces.Attach(std::move(pieces), ds.first_piece, ds.last_piece, &CacheChecksum, damaged);
    // The pieces cover the stretch, as the directory says its ends
    // are (each piece is checked itself when it is used).
    if (s.pieces.Size() == 0 || ds.first_piece.first != 0 || ds.last_piece.first + ds.last_piece.count != s.count)
        return false;
    s.cached_runs = ds.runs;
    s.cached_buckets = std::move(buckets);
    return true;
}

}  // namespace

SummaryCache::SummaryCache(CacheOptions options) : options_(std::move(options)) {}

std::string SummaryCache::Key(const std::string& path) {
    char key[20];
    std::snprintf(key, sizeof key, "%016llx", static_cast<unsigned long long>(CacheChecksum(path.data(), path.size())));
    return key;
}

std::uint64_t SummaryCache::Limit() const {
    if (options_.limit_bytes > 0) return options_.limit_bytes;
    if (const char* mb = std::getenv("ZQD4830_CACHE_LIMIT_MB"); mb && *mb) {
        char* end = nullptr;
        const unsigned long long v = std::strtoull(mb, &end, 10);
        if (end != mb && *end == '\0' && v > 0 && v < (1ULL << 40)) return v << 20;
    }
    constexpr std::uint64_t kMost = 2ULL << 30;
    std::error_code ec;
    const auto space = std::filesystem::space(options_.folder, ec);
    if (ec || space.capacity == 0 || space.capacity == static_cast<std::uintmax_t>(-1)) return kMost;
    return std::min<std::uint64_t>(kMost, static_cast<std::uint64_t>(space.capacity) / 20);
}

void SummaryCache::Forget(const std::string& path) {
    if (options_.folder.empty()) return;
    const std::string key = Key(path);
    std::error_code ec;
    for (std::uint32_t n : NumbersOf(options_.folder, key)) std::filesystem::remove(EntryFile(options_.folder, key, n), ec);
}

SummaryCache::Fit SummaryCache::Load(const FileStamp& file, FileIndex& idx) {
    if (options_.folder.empty()) return Fit::kNone;
    const std::string key = Key(file.path);
    std::map<std::uint32_t, Mapped> mapped;
    for (std::uint32_t top : NumbersOf(options_.folder, key)) {
        // The newest file whose directory is whole and whose files are all there.
        if (top > kMostDeltas) continue;
        Mapped& m = mapped[top];
        if (!m.map && !MapEntryFile(EntryFile(options_.folder, key, top), top, m)) continue;
        Directory dir;
        if (!ReadDirectory(reinterpret_cast<const unsigned char*>(m.directory.data()), m.directory.size(), dir) ||
            dir.path != file.path || dir.files.empty() ||
            dir.files.back().first != top || dir.files.back().second != m.generation)
            continue;
        std::vector<const Mapped*> files;
        for (const auto& [number, generation] : dir.files) {
            Mapped& other = mapped[number];
            if (!other.map && !MapEntryFile(EntryFile(options_.folder, key, number), number, other)) break;
            if (other.generation != generation) break;
            files.push_back(&other);
        }
        if (files.size() != dir.files.size()) continue;

        // How the entry stands to the file now.
        // Its head and the bytes before where the scan stopped must still be
        // what the entry was made of: then it is the same file, or the same
        // file grown.
        Fit fit = Fit::kNone;
        Stamps now;
        if (dir.scanned > 0 && file.size >= dir.scanned && StampsOf(file.path, dir.scanned, now) && now.head == dir.head &&
            now.tail == dir.tail_sum)
            fit = file.size == dir.size && file.mtime == dir.mtime ? Fit::kSame : file.size > dir.scanned ? Fit::kGrown : Fit::kNone;
        if (fit == Fit::kNone) return Fit::kNone;

        // Attached in place; a block that fails its checksum later has the entry forgotten.
        FileIndex out;
        const std::filesystem::path folder = options_.folder;
        const std::string path = file.path;
        auto damaged = [folder, path] { SummaryCache(CacheOptions{folder, 0}).Forget(path); };
        for (const Mapped* fm : files) out.keep.push_back(fm->map);
        for (const auto& ds : dir.stretches) {
            IndexedStretch s;
            if (!AttachStretch(ds, files, out.keep.front(), damaged, s)) return Fit::kNone;
            out.stretches.push_back(std::move(s));
        }
        out.carried = std::move(dir.carried);
        out.records = dir.records;
        out.bad = dir.bad;
        out.bad_times = dir.bad_times;
        out.tail = dir.tail;
        out.scanned = dir.scanned;
        out.cache_files = dir.files;
        idx = std::move(out);
        if (fit == Fit::kSame) {  // used: the least recently used entries go first
            std::error_code ec;
            std::filesystem::last_write_time(EntryFile(options_.folder, key, top), std::filesystem::file_time_type::clock::now(), ec);
        }
        return fit;
    }
    return Fit::kNone;
}

void SummaryCache::Save(const FileStamp& file, const FileIndex& idx, bool grown) {
    if (options_.folder.empty()) return;
    const std::string key = Key(file.path);
    Stamps stamps;
    if (idx.scanned == 0 || !StampsOf(file.path, idx.scanned, stamps)) return;
    std::uint32_t top = 0;
    for (const auto& f : idx.cache_files) top = std::max(top, f.first);
    const bool delta = grown && !idx.cache_files.empty() && top < kMostDeltas;
    const std::uint32_t number = delta ? top + 1 : 0;
    const std::uint64_t generation = NewGeneration();
    auto files = delta ? idx.cache_files : std::vector<std::pair<std::uint32_t, std::uint64_t>>{};
    files.push_back({number, generation});
    const auto self = static_cast<std::uint32_t>(files.size() - 1);

    // Attached data that fails its checksum here is not copied on: the entry is forgotten instead.
    bool failed = false;
    const SampleReader refuse = [&](std::uint64_t, std::size_t n, std::int32_t* out) {
        failed = true;
        std::fill(out, out + n, 0);
    };
    Blob blob(number, generation, file.path);
    std::vector<std::vector<CacheRun>> runs(idx.stretches.size());
    std::vector<Ends> ends(idx.stretches.size());
    for (std::size_t i = 0; i < idx.stretches.size() && !failed; ++i) {
        const IndexedStretch& s = idx.stretches[i];
        if (s.dropped) continue;
        const bool had = delta && !s.cached_runs.empty();
        if (had) runs[i] = s.cached_runs;
        ends[i].last = s.summary.LastBuckets(refuse);
        if (!s.pieces.Front(ends[i].first) || !s.pieces.Back(ends[i].last_piece)) {
            failed = true;
            break;
        }
        std::vector<std::pair<const Piece*, std::size_t>> pieces;
        if (!s.pieces.Spans(had ? s.cached_pieces : 0, pieces)) {
            failed = true;
            break;
        }
        if (!pieces.empty()) {
            CacheRun r = blob.Array(pieces, PieceList::kCheckPieces);
            r.file = self;
            runs[i].push_back(r);
        }
        for (int k = 0; k < s.summary.Levels(); ++k) {
            const std::uint64_t from = had && static_cast<std::size_t>(k) < s.cached_buckets.size() ? s.cached_buckets[static_cast<std::size_t>(k)] : 0;
            const auto spans = s.summary.Spans(k, from, refuse);
            if (spans.empty()) continue;
            CacheRun r = blob.Array(spans, SummaryPyramid::kCheckBuckets);
            r.file = self;
            r.level = k;
            r.first = from;
            runs[i].push_back(r);
        }
    }
    if (failed) {
        Forget(file.path);
        return;
    }
    const std::string dir = WriteDirectory(file, idx, stamps, files, runs, ends);
    const auto target = EntryFile(options_.folder, key, number);
    // Not waited for on the disk: an entry a power cut tore fails its checks and is made again.
    if (!WriteWhole(target, blob.Finish(dir), true, false).ok()) return;  // one that cannot be written only costs time
    std::error_code ec;  // its use, to the clock's full resolution: the least recently used go first
    std::filesystem::last_write_time(target, std::filesystem::file_time_type::clock::now(), ec);
    if (!delta) {  // a new entry replaces the old one whole
        for (std::uint32_t n : NumbersOf(options_.folder, key))
            if (n != 0) std::filesystem::remove(EntryFile(options_.folder, key, n), ec);
    }
}

void SummaryCache::Trim(const std::set<std::string>& in_use) {
    if (options_.folder.empty()) return;
    struct Group {
        std::uint64_t bytes = 0;
        std::filesystem::file_time_type used = std::filesystem::file_time_type::min();
        std::vector<std::filesystem::path> files;
        std::string path;  // the data file's, as the base's header says
    };
    std::map<std::string, Group> groups;
    std::uint64_t total = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(options_.folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = platform::PathText(it->path().filename());
        if (it->path().extension() != ".zidx") continue;
        std::error_code e2;
        const bool regular = it->is_regular_file(e2) && !it->is_symlink(e2);
        const auto dot = name.find('.');
        if (!regular || dot != 16 || name.find_first_not_of("0123456789abcdef") != 16) {
            std::filesystem::remove(it->path(), e2);  // not an entry of ours (an older layout, or a planted thing)
            continue;
        }
        Group& g = groups[name.substr(0, 16)];
        const std::uint64_t size = it->file_size(e2);
        g.bytes += size;
        total += size;
        g.used = std::max(g.used, it->last_write_time(e2));
        g.files.push_back(it->path());
    }
    // Entries of files that are gone, at most once an hour (a look at every entry's header).
    const auto marker = options_.folder / ".swept";
    const auto now = std::filesystem::file_time_type::clock::now();
    const auto swept = std::filesystem::last_write_time(marker, ec);
    const bool sweep = ec || now - swept > std::chrono::hours(1);
    if (sweep) {
        if (std::FILE* f = platform::OpenFile(marker, "wb")) std::fclose(f);
        for (auto& [key, g] : groups) {
            if (in_use.count(key)) continue;
            const std::string path = DataFileOf(EntryFile(options_.folder, key, 0));
            if (path.empty() || platform::KindOf(platform::PathFromUtf8(path)) != platform::FileKind::kMissing) continue;
            for (const auto& p : g.files) std::filesystem::remove(p, ec);
            total -= g.bytes;
            g.bytes = 0;
            g.files.clear();
        }
    }
    const std::uint64_t limit = Limit();
    if (total <= limit) return;
    std::vector<std::pair<std::filesystem::file_time_type, std::string>> order;
    for (const auto& [key, g] : groups)
        if (!g.files.empty() && !in_use.count(key)) order.push_back({g.used, key});
    std::sort(order.begin(), order.end());
    for (const auto& [used, key] : order) {
        if (total <= limit) break;
        Group& g = groups[key];
        for (const auto& p : g.files) std::filesystem::remove(p, ec);
        total -= g.bytes;
    }
}

}  // namespace zqd::view
