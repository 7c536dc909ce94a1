#include "view/sources/summary_cache.h"

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <climits>
#include <random>

#include "platform/files.h"
#include "platform/mapped_file.h"
#include "platform/safe_file.h"
#include "platform/text.h"

namespace zqd::view {

std::uint64_t CacheChecksum(const void* data, std::size_t bytes) { return XXH3_64bits(data, bytes); }

namespace {

// An entry's file: "<key>.<number>.zidx", number 0 the base, then deltas.
//   header:  "ZQDIDX2\0", generation, number (u32), path length (u32), reserved; the path, padded to 8
//   data:    arrays of pieces and of summary buckets, each followed by its block checksums
//   the directory (below), then the footer: its offset, size, checksum, "ZQDEND2\0"
constexpr char kHeadMagic[8] = {'Z', 'Q', 'D', 'I', 'D', 'X', '2', 0};
constexpr char kFootMagic[8] = {'Z', 'Q', 'D', 'E', 'N', 'D', '2', 0};
constexpr std::uint64_t kVersion = 2;
constexpr std::uint32_t kMostDeltas = 8;     // then the entry is written whole again
constexpr std::size_t kStampBytes = 4096;    // what is checked of a file's head and of its end
constexpr std::size_t kHeaderBytes = 32;
constexpr std::size_t kFooterBytes = 32;

struct Header {
    char magic[8];
    std::uint64_t generation;
    std::uint32_t number;
    std::uint32_t path_length;
    std::uint64_t reserved;
};
static_assert(sizeof(Header) == kHeaderBytes);

struct Footer {
    std::uint64_t offset, size, sum;
    char magic[8];
};
static_assert(sizeof(Footer) == kFooterBytes);

std::filesystem::path EntryFile(const std::filesystem::path& folder, const std::string& key, std::uint32_t number) {
    return folder / (key + "." + std::to_string(number) + ".zidx");
}

// The numbers of a key's files in the folder, highest first.
std::vector<std::uint32_t> NumbersOf(const std::filesystem::path& folder, const std::string& key) {
    std::vector<std::uint32_t> numbers;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = platform::PathText(it->path().filename());
        if (name.size() <= key.size() + 6 || name.compare(0, key.size() + 1, key + ".") != 0 ||
            name.compare(name.size() - 5, 5, ".zidx") != 0)
            continue;
        const std::string n = name.substr(key.size() + 1, name.size() - key.size() - 6);
        if (n.empty() || n.size() > 9 || n.find_first_not_of("0123456789") != std::string::npos) continue;
        numbers.push_back(static_cast<std::uint32_t>(std::stoul(n)));
    }
    std::sort(numbers.rbegin(), numbers.rend());
    return numbers;
}

// The checksum of a file's bytes [from, to), read from disk.
bool FileSum(const std::filesystem::path& path, std::uint64_t from, std::uint64_t to, std::uint64_t& sum) {
    std::vector<char> bytes(static_cast<std::size_t>(to - from));
    std::FILE* f = platform::OpenFile(path, "rb");
    if (!f) return false;
    const bool ok = platform::SeekTo(f, from) && std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
    std::fclose(f);
    sum = CacheChecksum(bytes.data(), bytes.size());
    return ok;
}

struct Stamps {
    std::uint64_t head = 0, tail = 0;
};
bool StampsOf(const std::filesystem::path& path, std::uint64_t scanned, Stamps& s) {
    return FileSum(path, 0, std::min<std::uint64_t>(scanned, kStampBytes), s.head) &&
           FileSum(path, scanned - std::min<std::uint64_t>(scanned, kStampBytes), scanned, s.tail);
}

// The directory's words, written and read back with every bound checked.
class Out {
public:
    void U(std::uint64_t v) { Put(&v, 8); }
    void I(std::int64_t v) { Put(&v, 8); }
    void D(double v) { Put(&v, 8); }
    void T(const std::string& t) {
        U(t.size());
        bytes_ += t;
        bytes_.append((8 - t.size() % 8) % 8, '\0');
    }
    std::string& Bytes() { return bytes_; }

private:
    void Put(const void* p, std::size_t n) { bytes_.append(static_cast<const char*>(p), n); }
    std::string bytes_;
};

class In {
public:
    In(const unsigned char* data, std::uint64_t size) : d_(data), size_(size) {}
    bool U(std::uint64_t& v) { return Get(&v); }
    bool I(std::int64_t& v) { return Get(&v); }
    bool D(double& v) { return Get(&v); }
    bool T(std::string& t, std::uint64_t most) {
        std::uint64_t n = 0;
        if (!U(n) || n > most || size_ - at_ < n) return false;
        t.assign(reinterpret_cast<const char*>(d_ + at_), static_cast<std::size_t>(n));
        at_ = std::min<std::uint64_t>(size_, (at_ + n + 7) / 8 * 8);
        return true;
    }
    // A count of items of `each` bytes that the rest could hold at most.
    bool N(std::uint64_t& n, std::uint64_t each) { return U(n) && n <= (size_ - at_) / each; }

private:
    template <typename T>
    bool Get(T* v) {
        if (size_ - at_ < sizeof *v) return false;
        std::memcpy(v, d_ + at_, sizeof *v);
        at_ += sizeof *v;
        return true;
    }
    const unsigned char* d_;
    std::uint64_t size_;
    std::uint64_t at_ = 0;
};

// What the directory says, before it is attached.
struct Directory {
    std::string path;
    std::uint64_t size = 0, scanned = 0, head = 0, tail_sum = 0;
    std::int64_t mtime = 0;
    std::uint64_t records = 0, bad = 0, bad_times = 0, tail = 0;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> files;
    std::vector<TimeSpan> carried;
    struct Stretch {
        std::string code;
        std::int64_t start_ns = 0;
        double rate = 0;
        std::uint64_t count = 0;
        SummaryPyramid::State state;
        std::vector<MinMax> last;  // each level's last bucket
        Piece first_piece, last_piece;
        std::vector<CacheRun> runs;
    };
    std::vector<Stretch> stretches;
};

bool ReadDirectory(const unsigned char* d, std::uint64_t size, Directory& dir) {
    In in(d, size);
    std::uint64_t version = 0, n = 0;
    if (!in.U(version) || version != kVersion || !in.T(dir.path, 1 << 16) || !in.U(dir.size) || !in.I(dir.mtime) ||
        !in.U(dir.scanned) || !in.U(dir.head) || !in.U(dir.tail_sum) || !in.U(dir.records) || !in.U(dir.bad) ||
        !in.U(dir.bad_times) || !in.U(dir.tail) || dir.scanned > dir.size || !in.N(n, 16))
        return false;
    for (std::uint64_t i = 0; i < n; ++i) {
        std::uint64_t number = 0, generation = 0;
        if (!in.U(number) || !in.U(generation) || number > kMostDeltas) return false;
        dir.files.push_back({static_cast<std::uint32_t>(number), generation});
    }
    if (!in.N(n, 16)) return false;
    for (std::uint64_t i = 0; i < n; ++i) {
        TimeSpan c;
        if (!in.I(c.begin_ns) || !in.I(c.end_ns)) return false;
        dir.carried.push_back(c);
    }
    if (!in.N(n, 88)) return false;
    dir.stretches.resize(static_cast<std::size_t>(n));
    for (auto& s : dir.stretches) {
        std::int64_t finest = 0, pmin = 0, pmax = 0;
        std::uint64_t runs = 0;
        if (!in.T(s.code, 64) || !in.I(s.start_ns) || !in.D(s.rate) || !(s.rate > 0) || !in.U(s.count) ||
            !in.I(finest) || !in.U(s.state.size) || !in.I(pmin) || !in.I(pmax) || !in.U(s.state.pending_n) ||
            finest < 0 || finest > 30 || s.state.size != s.count)
            return false;
        s.state.finest = static_cast<int>(finest);
        s.state.pending = MinMax{static_cast<std::int32_t>(pmin), static_cast<std::int32_t>(pmax)};
        std::uint64_t levels = 0;
        if (!in.N(levels, 16) || levels > 64) return false;
        for (std::uint64_t k = 0; k < levels; ++k) {
            std::int64_t lo = 0, hi = 0;
            if (!in.I(lo) || !in.I(hi)) return false;
            s.last.push_back(MinMax{static_cast<std::int32_t>(lo), static_cast<std::int32_t>(hi)});
        }
        for (Piece* p : {&s.first_piece, &s.last_piece}) {
            std::uint64_t first = 0, reclen = 0, count = 0;
            if (!in.U(p->offset) || !in.U(first) || !in.U(reclen) || !in.U(count) || reclen > (1u << 20) || count > UINT32_MAX)
                return false;
            p->first = first;
            p->reclen = static_cast<std::int32_t>(reclen);
            p->count = static_cast<std::uint32_t>(count);
        }
        if (!in.N(runs, 48)) return false;
        s.runs.resize(static_cast<std::size_t>(runs));
        for (CacheRun& r : s.runs) {
            std::uint64_t file = 0;
            if (!in.U(file) || file >= dir.files.size() || !in.U(r.offset) || !in.U(r.count) || !in.U(r.sums) ||
                !in.I(r.level) || !in.U(r.first) || r.level < -1 || r.level > 64 || r.count == 0)
                return false;
            r.file = static_cast<std::uint32_t>(file);
        }
    }
    return true;
}

// What a stretch's directory entry keeps beside its runs, checked as it is taken.
struct Ends {
    std::vector<MinMax> last;
    Piece first, last_piece;
};

void WriteDirectory(Out& o, const FileStamp& file, const FileIndex& idx, const Stamps& stamps,
                    const std::vector<std::pair<std::uint32_t, std::uint64_t>>& files,
                    const std::vector<std::vector<CacheRun>>& runs, const std::vector<Ends>& ends) {
    o.U(kVersion);
    o.T(file.path);
    o.U(file.size);
    o.I(file.mtime);
    o.U(idx.scanned);
    o.U(stamps.head);
    o.U(stamps.tail);
    o.U(idx.records);
    o.U(idx.bad);
    o.U(idx.bad_times);
    o.U(idx.tail);
    o.U(files.size());
    for (const auto& [number, generation] : files) {
        o.U(number);
        o.U(generation);
    }
    o.U(idx.carried.size());
    for (const auto& c : idx.carried) {
        o.I(c.begin_ns);
        o.I(c.end_ns);
    }
    std::uint64_t kept = 0;
    for (const auto& s : idx.stretches) kept += !s.dropped;
    o.U(kept);
    for (std::size_t i = 0; i < idx.stretches.size(); ++i) {
        const IndexedStretch& s = idx.stretches[i];
        if (s.dropped) continue;
        const SummaryPyramid::State st = s.summary.Saved();
        o.T(s.code);
        o.I(s.start_ns);
        o.D(s.rate);
        o.U(s.count);
        o.I(st.finest);
        o.U(st.size);
        o.I(st.pending.min);
        o.I(st.pending.max);
        o.U(st.pending_n);
        o.U(ends[i].last.size());
        for (const MinMax& m : ends[i].last) {
            o.I(m.min);
            o.I(m.max);
        }
        for (const Piece& p : {ends[i].first, ends[i].last_piece}) {
            o.U(p.offset);
            o.U(p.first);
            o.U(static_cast<std::uint64_t>(p.reclen));
            o.U(p.count);
        }
        o.U(runs[i].size());
        for (const CacheRun& r : runs[i]) {
            o.U(r.file);
            o.U(r.offset);
            o.U(r.count);
            o.U(r.sums);
            o.I(r.level);
            o.U(r.first);
        }
    }
}

// A mapped entry file, what its header says, and its directory (read, not
// mapped: opening an entry touches no page of its data).
struct Mapped {
    std::shared_ptr<platform::MappedFile> map;
    std::uint64_t generation = 0;
    std::string directory;  // whole: its checksum was right
};

bool MapEntryFile(const std::filesystem::path& path, std::uint32_t number, Mapped& m) {
    if (platform::KindOf(path) != platform::FileKind::kRegular) return false;  // only regular files: never a FIFO
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec || size < kHeaderBytes + kFooterBytes) return false;
    std::FILE* f = platform::OpenFile(path, "rb");
    if (!f) return false;
    Header h{};
    Footer foot{};
    bool ok = std::fread(&h, 1, sizeof h, f) == sizeof h && std::equal(kHeadMagic, kHeadMagic + 8, h.magic) &&
              h.number == number;
    ok = ok && platform::SeekTo(f, size - kFooterBytes) && std::fread(&foot, 1, sizeof foot, f) == sizeof foot &&
         std::equal(kFootMagic, kFootMagic + 8, foot.magic) && foot.offset % 8 == 0 && foot.offset >= kHeaderBytes &&
         foot.offset <= size - kFooterBytes && foot.size <= size - kFooterBytes - foot.offset && foot.size < (64u << 20);
    if (ok) {
        m.directory.resize(static_cast<std::size_t>(foot.size));
        ok = platform::SeekTo(f, foot.offset) && std::fread(m.directory.data(), 1, m.directory.size(), f) == m.directory.size() &&
             CacheChecksum(m.directory.data(), m.directory.size()) == foot.sum;
    }
    std::fclose(f);
    if (!ok) return false;
    auto map = std::make_shared<platform::MappedFile>();
    if (!map->Open(path, false).ok() || map->Size() != size || reinterpret_cast<std::uintptr_t>(map->Data()) % 8 != 0)
        return false;
    m.map = std::move(map);
    m.generation = h.generation;
    return true;
}

// Whether `count` items of `each` bytes at `offset`, and their checksums at
// `sums`, lie within the file's data.
bool Fits(const Mapped& m, std::uint64_t offset, std::uint64_t count, std::size_t each, std::uint64_t sums, std::size_t block) {
    const std::uint64_t room = m.map->Size() - kFooterBytes;
    const std::uint64_t blocks = (count + block - 1) / block;
    return offset % 8 == 0 && sums % 8 == 0 && offset <= room && count <= (room - offset) / each && sums <= room &&
           blocks <= (room - sums) / 8;
}

std::uint64_t NewGeneration() {
    std::random_device rd;
    return (static_cast<std::uint64_t>(rd()) << 32 ^ rd()) ^
           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

// An entry file being made: data arrays, each followed by its checksums.
class Blob {
public:
    Blob(std::uint32_t number, std::uint64_t generation, const std::string& path) {
        Header h{};
        std::copy(kHeadMagic, kHeadMagic + 8, h.magic);
        h.generation = generation;
        h.number = number;
        h.path_length = static_cast<std::uint32_t>(path.size());
        bytes_.append(reinterpret_cast<const char*>(&h), sizeof h);
        bytes_ += path;
        Pad();
    }
    // Appends spans of items as one array with a checksum every `block`
    // items; the run's offset, count and checksums' offset.
    template <typename T>
    CacheRun Array(const std::vector<std::pair<const T*, std::size_t>>& spans, std::size_t block) {
        CacheRun r;
        r.offset = bytes_.size();
        for (const auto& [p, n] : spans) bytes_.append(reinterpret_cast<const char*>(p), n * sizeof(T));
        r.count = (bytes_.size() - r.offset) / sizeof(T);
        Pad();
        r.sums = bytes_.size();
        for (std::uint64_t at = 0; at < r.count; at += block) {
            const std::uint64_t n = std::min<std::uint64_t>(block, r.count - at);
            const std::uint64_t sum = CacheChecksum(bytes_.data() + r.offset + at * sizeof(T), static_cast<std::size_t>(n * sizeof(T)));
            bytes_.append(reinterpret_cast<const char*>(&sum), 8);
        }
        return r;
    }
    std::string Finish(const std::string& directory) {
        Footer f{};
        f.offset = bytes_.size();
        f.size = directory.size();
        f.sum = CacheChecksum(directory.data(), directory.size());
        std::copy(kFootMagic, kFootMagic + 8, f.magic);
        bytes_ += directory;
        bytes_.append(reinterpret_cast<const char*>(&f), sizeof f);
        return std::move(bytes_);
    }

private:
    void Pad() { bytes_.append((8 - bytes_.size() % 8) % 8, '\0'); }
    std::string bytes_;
};

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
                    if (!Fits(fm, r.offset, r.count, sizeof(Piece), r.sums, PieceList::kCheckPieces)) return Fit::kNone;
                    pieces.push_back({reinterpret_cast<const Piece*>(fm.map->Data() + r.offset), static_cast<std::size_t>(r.count),
                                      reinterpret_cast<const std::uint64_t*>(fm.map->Data() + r.sums)});
                    s.cached_pieces += static_cast<std::size_t>(r.count);
                } else {
                    if (!Fits(fm, r.offset, r.count, sizeof(MinMax), r.sums, SummaryPyramid::kCheckBuckets)) return Fit::kNone;
                    levels.push_back({static_cast<int>(r.level), r.first, static_cast<std::size_t>(r.count),
                                      reinterpret_cast<const MinMax*>(fm.map->Data() + r.offset),
                                      reinterpret_cast<const std::uint64_t*>(fm.map->Data() + r.sums)});
                    if (buckets.size() <= static_cast<std::size_t>(r.level)) buckets.resize(static_cast<std::size_t>(r.level) + 1, 0);
                    buckets[static_cast<std::size_t>(r.level)] += r.count;
                }
            }
            if (!s.summary.Attach(ds.state, levels, ds.last, out.keep.front(), &CacheChecksum, damaged)) return Fit::kNone;
            s.pieces.Attach(std::move(pieces), ds.first_piece, ds.last_piece, &CacheChecksum, damaged);
            // The pieces cover the stretch, as the directory says its ends
            // are (each piece is checked itself when it is used).
            if (s.pieces.Size() == 0 || ds.first_piece.first != 0 || ds.last_piece.first + ds.last_piece.count != s.count)
                return Fit::kNone;
            s.cached_runs = ds.runs;
            s.cached_buckets = std::move(buckets);
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
    Out dir;
    WriteDirectory(dir, file, idx, stamps, files, runs, ends);
    const auto target = EntryFile(options_.folder, key, number);
    // Not waited for on the disk: an entry a power cut tore fails its checks and is made again.
    if (!WriteWhole(target, blob.Finish(dir.Bytes()), true, false).ok()) return;  // one that cannot be written only costs time
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
            const auto base = EntryFile(options_.folder, key, 0);
            std::FILE* f = platform::OpenFile(base, "rb");
            if (!f) continue;
            Header h{};
            std::string path;
            if (std::fread(&h, 1, sizeof h, f) == sizeof h && std::equal(kHeadMagic, kHeadMagic + 8, h.magic) &&
                h.path_length < (1u << 16)) {
                path.resize(h.path_length);
                if (std::fread(path.data(), 1, path.size(), f) != path.size()) path.clear();
            }
            std::fclose(f);
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
