// A whole file mapped read-only into memory.
#pragma once

#include <cstdint>
#include <filesystem>

#include "common/status.h"

namespace zqd::platform {

// Empty when the file cannot be mapped (the caller then reads it another way).
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // `whole`: the file is about to be read through (mapped in at once);
    // otherwise only the pages touched are read. Only regular files of a
    // size this program can map are mapped (kCannotMap otherwise).
    Status Open(const std::filesystem::path& path, bool whole = true);
    const unsigned char* Data() const { return data_; }
    std::uint64_t Size() const { return size_; }

private:
    const unsigned char* data_ = nullptr;
    std::uint64_t size_ = 0;
    void* handle_ = nullptr;  // the mapping object on Windows
};

}  // namespace zqd::platform
