// Writing a file so that an interruption at any point leaves either the old
// complete file or the new one: the bytes go to a temporary file in the same
// folder, which is flushed to disk and then renamed over the target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace zqd {

class SafeFileWriter {
public:
    explicit SafeFileWriter(std::filesystem::path target);
    ~SafeFileWriter();  // abandons an uncommitted temporary file
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    bool Open();
    bool Write(const void* data, std::size_t size);
    // Copies the bytes of the current target from `offset` to its end, so that
    // a shorter new content keeps the old file's tail.
    bool CopyTargetTail(std::uint64_t offset);
    // Flushes, closes and renames over the target.
    bool Commit();

    const std::filesystem::path& Target() const { return target_; }
    const std::string& Error() const { return error_; }
    std::uint64_t Written() const { return written_; }

    // Test hook: the write that would pass this many bytes fails as a full
    // disk would. Negative: never.
    std::int64_t fail_after_bytes = -1;

private:
    bool Fail(const std::string& what);
    void Abandon();

    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::FILE* file_ = nullptr;
    std::uint64_t written_ = 0;
    std::string error_;
};

}  // namespace zqd
