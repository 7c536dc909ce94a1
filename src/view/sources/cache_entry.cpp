#include "view/sources/cache_entry.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/files.h"
#include "platform/text.h"

namespace zqd::view::entry {

namespace {

constexpr char kHeadMagic[8] = {'Z', 'Q', 'D', 'I', 'D', 'X', '2', 0};
constexpr char kFootMagic[8] = {'Z', 'Q', 'D', 'E', 'N', 'D', '2', 0};
constexpr std::uint64_t kVersion = 3;  // 3: a lone record near its place is kept
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

}  // namespace

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

std::string DataFileOf(const std::filesystem::path& entry_file) {
    std::FILE* f = platform::OpenFile(entry_file, "rb");
    if (!f) return {};
    Header h{};
    std::string path;
    if (std::fread(&h, 1, sizeof h, f) == sizeof h && std::equal(kHeadMagic, kHeadMagic + 8, h.magic) &&
        h.path_length < (1u << 16)) {
        path.resize(h.path_length);
        if (std::fread(path.data(), 1, path.size(), f) != path.size()) path.clear();
    }
    std::fclose(f);
    return path;
}

bool StampsOf(const std::filesystem::path& path, std::uint64_t scanned, Stamps& s) {
    return FileSum(path, 0, std::min<std::uint64_t>(scanned, kStampBytes), s.head) &&
           FileSum(path, scanned - std::min<std::uint64_t>(scanned, kStampBytes), scanned, s.tail);
}

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

std::string WriteDirectory(const FileStamp& file, const FileIndex& idx, const Stamps& stamps,
                           const std::vector<std::pair<std::uint32_t, std::uint64_t>>& files,
                           const std::vector<std::vector<CacheRun>>& runs, const std::vector<Ends>& ends) {
    Out o;
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
    return std::move(o.Bytes());
}


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

Blob::Blob(std::uint32_t number, std::uint64_t generation, const std::string& path) {
    Header h{};
    std::copy(kHeadMagic, kHeadMagic + 8, h.magic);
    h.generation = generation;
    h.number = number;
    h.path_length = static_cast<std::uint32_t>(path.size());
    bytes_.append(reinterpret_cast<const char*>(&h), sizeof h);
    bytes_ += path;
    Pad();
}

std::string Blob::Finish(const std::string& directory) {
    Footer f{};
    f.offset = bytes_.size();
    f.size = directory.size();
    f.sum = CacheChecksum(directory.data(), directory.size());
    std::copy(kFootMagic, kFootMagic + 8, f.magic);
    bytes_ += directory;
    bytes_.append(reinterpret_cast<const char*>(&f), sizeof f);
    return std::move(bytes_);
}

}  // namespace zqd::view::entry
