// The files of a summary cache entry, as they lie on disk: names, header,
// data arrays with their block checksums, the directory and the footer;
// written whole, read back with every bound checked. The cache's policy
// (which entry fits a file, when to write a delta, what to remove) is in
// summary_cache.cpp.
//
// An entry's file: "<key>.<number>.zidx", number 0 the base, then deltas.
//   header:  "ZQDIDX2\0", generation, number (u32), path length (u32), reserved; the path, padded to 8
//   data:    arrays of pieces and of summary buckets, each followed by its block checksums
//   the directory, then the footer: its offset, size, checksum, "ZQDEND2\0"
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/mapped_file.h"
#include "view/sources/mseed_index.h"
#include "view/sources/summary_cache.h"

namespace zqd::view::entry {

inline constexpr std::uint32_t kMostDeltas = 8;   // then the entry is written whole again
inline constexpr std::size_t kStampBytes = 4096;  // what is checked of a file's head and of its end

std::filesystem::path EntryFile(const std::filesystem::path& folder, const std::string& key, std::uint32_t number);
// The numbers of a key's files in the folder, highest first.
std::vector<std::uint32_t> NumbersOf(const std::filesystem::path& folder, const std::string& key);
// The data file an entry's file was made of, as its header says; empty when it says nothing.
std::string DataFileOf(const std::filesystem::path& entry_file);

// Checksums of a data file's first kStampBytes and of the kStampBytes before `scanned`.
struct Stamps {
    std::uint64_t head = 0, tail = 0;
};
bool StampsOf(const std::filesystem::path& path, std::uint64_t scanned, Stamps& s);

// What a directory says, before it is attached.
struct Directory {
    std::string path;
    std::uint64_t size = 0, scanned = 0, head = 0, tail_sum = 0;
    std::int64_t mtime = 0;
    std::uint64_t records = 0, bad = 0, bad_times = 0, tail = 0;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> files;  // number, generation
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
bool ReadDirectory(const unsigned char* d, std::uint64_t size, Directory& dir);

// What a stretch's directory entry keeps beside its runs, checked as it is taken.
struct Ends {
    std::vector<MinMax> last;
    Piece first, last_piece;
};
// The directory's bytes.
std::string WriteDirectory(const FileStamp& file, const FileIndex& idx, const Stamps& stamps,
                           const std::vector<std::pair<std::uint32_t, std::uint64_t>>& files,
                           const std::vector<std::vector<CacheRun>>& runs, const std::vector<Ends>& ends);

// A mapped entry file, what its header says, and its directory (read, not
// mapped: opening an entry touches no page of its data).
struct Mapped {
    std::shared_ptr<platform::MappedFile> map;
    std::uint64_t generation = 0;
    std::string directory;  // whole: its checksum was right
};
bool MapEntryFile(const std::filesystem::path& path, std::uint32_t number, Mapped& m);

// Whether `count` items of `each` bytes at `offset`, and their checksums at
// `sums`, lie within the file's data.
bool Fits(const Mapped& m, std::uint64_t offset, std::uint64_t count, std::size_t each, std::uint64_t sums, std::size_t block);

std::uint64_t NewGeneration();

// An entry file being made: data arrays, each followed by its checksums.
class Blob {
public:
    Blob(std::uint32_t number, std::uint64_t generation, const std::string& path);
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
    // The whole file, the directory and the footer after the data.
    std::string Finish(const std::string& directory);

private:
    void Pad() { bytes_.append((8 - bytes_.size() % 8) % 8, '\0'); }
    std::string bytes_;
};

}  // namespace zqd::view::entry
