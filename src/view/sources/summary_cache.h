// The summary cache: for every miniSEED file indexed, one entry in the
// user's cache folder, named by a hash of the file's path. An entry is a
// base file and, for a file that grew, up to a few delta files holding only
// what was added; every file is written whole under a new name and renamed,
// never changed in place, so that a mapped entry never changes under its
// reader. A newer entry replaces the old one.
//
// Each entry records the file's size, time, where its scan stopped, and
// checksums of its first bytes and of the bytes before that stop, so that a
// file that only grew is told from one that changed. Its directory is
// checked whole on opening; its data (record places and summaries) carry a
// checksum for every block, checked the first time the block is used, so
// that an open maps a cached day without reading it through.
//
// The folder is kept within a size (2 GiB or 5 % of its disk, whichever is
// smaller; ZQD4830_CACHE_LIMIT_MB sets another): the entries used least
// recently go first, and entries of files that are gone are removed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

#include "view/sources/mseed_index.h"

namespace zqd::view {

struct CacheOptions {
    CacheOptions(std::filesystem::path f = {}, std::uint64_t limit = 0)  // NOLINT: a folder is options enough
        : folder(std::move(f)), limit_bytes(limit) {}
    std::filesystem::path folder;   // empty: nothing kept
    std::uint64_t limit_bytes = 0;  // 0: ZQD4830_CACHE_LIMIT_MB, else 2 GiB or 5 % of the folder's disk
};

// The identity of an indexed file now.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
    std::string path;  // absolute
};

// The checksum of the cache (XXH3, 64 bits).
std::uint64_t CacheChecksum(const void* data, std::size_t bytes);

class SummaryCache {
public:
    explicit SummaryCache(CacheOptions options);

    enum class Fit {
        kNone,   // no entry, or one that does not fit the file: index it whole
        kSame,   // the entry is the file's as it is
        kGrown,  // the file grew since: the entry holds it up to `scanned`
    };
    // Looks up the entry of `file` and attaches its index in place.
    Fit Load(const FileStamp& file, FileIndex& index);
    // Keeps an index, in a batch of the cache folder's writers: what a grown
    // entry did not hold as a delta of it (when `grown`), else whole.
    void Save(const FileStamp& file, const FileIndex& index, bool grown);
    // Removes the entry of a file (its data gone, or its entry damaged).
    void Forget(const std::string& path);
    // Keeps the folder within its size: the least recently used entries go
    // first, never those of `in_use`; entries of files that are gone go too.
    void Trim(const std::set<std::string>& in_use);

    const std::filesystem::path& Folder() const { return options_.folder; }
    std::uint64_t Limit() const;
    static std::string Key(const std::string& path);

private:
    CacheOptions options_;
};

}  // namespace zqd::view
