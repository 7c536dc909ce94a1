// The summary cache: one file per indexed miniSEED file in the user's cache
// folder, named by a hash of the file's path, size and time, all of which
// are checked again on reading; the index is mapped back in place.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/mapped_file.h"
#include "view/sources/mseed_index.h"

namespace zqd::view {

// The identity of an indexed file.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
    std::string path;  // absolute
};

std::filesystem::path CachePath(const std::filesystem::path& cache, const FileStamp& stamp);

// The index as the cache keeps it.
std::string SerializeIndex(const FileIndex& index, const FileStamp& stamp);

// Reads a mapped cache entry in place; false for anything that does not fit
// (another file's, another layout, damaged).
bool ParseIndex(const std::shared_ptr<platform::MappedFile>& map, const FileStamp& stamp, FileIndex& index);

}  // namespace zqd::view
