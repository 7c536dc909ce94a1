#include "view/sources/summary_cache.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zqd::view {

namespace {

// The cache: one file per indexed file, named by a hash of its path, size
// and time, all checked again on reading.
//   "ZQDIDX1\0", size, mtime, path length, path (padded to 8), stretches, carried spans,
//   the carried spans, then per stretch: code length, code (padded), start, rate, count,
//   pieces, the pieces, summary length, the summary (padded).
constexpr char kIndexMagic[8] = {'Z', 'Q', 'D', 'I', 'D', 'X', '1', 0};

template <typename T>
void Put(std::string& out, const T& v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}
void Pad(std::string& out) { out.append((8 - out.size() % 8) % 8, '\0'); }

}  // namespace

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
        TimeSpan c;
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

}  // namespace zqd::view
