// Writing a file so that it is always one writer's complete output: the
// bytes go to a temporary file of a unique name in the target's folder,
// created exclusively (no name can be planted, no two writers share one),
// which is flushed to disk and then renamed over the target, all under the
// folder's writers' lock (platform/locks.h, kept outside the folder). An
// interruption leaves the old file whole; a second writer waits for the first
// and then replaces its file whole.
//
// A target that is a symbolic link is written through: the file it points to
// is replaced in its own folder and the link stays. A target that exists but
// is not a regular file, or may not be written, is refused untouched.
//
// Built on the platform's calls alone, the same on every system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/status.h"
#include "platform/locks.h"

namespace zqd {

// How long a writer waits for another one to finish with the same target.
inline constexpr int kWriterWaitMs = 10000;

class SafeFileWriter {
public:
    explicit SafeFileWriter(std::filesystem::path target);
    ~SafeFileWriter();  // abandons an uncommitted temporary file, releases the lock
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // kBusy when another writer kept the target for kWriterWaitMs.
    Status Open();
    Status Write(const void* data, std::size_t size);
    // Copies the bytes of the current target from `offset` to its end, so that
    // a shorter new content keeps the old file's tail.
    Status CopyTargetTail(std::uint64_t offset);
    // Flushes, closes and renames over the target.
    Status Commit();

    const std::filesystem::path& Target() const { return target_; }
    // The file that is replaced: the target, or the file its link points to.
    const std::filesystem::path& Resolved() const { return resolved_; }
    std::uint64_t Written() const { return written_; }

    // Part of a FolderBatch, which holds the folder's lock, has removed stale
    // temporaries and syncs the folder once after the last commit.
    bool in_batch = false;

    // False for what can be made again (a cache): whole and renamed into
    // place all the same, only not waited for on the disk.
    bool durable = true;

    // Test hook: the write that would pass this many bytes fails as a full
    // disk would. Negative: never.
    std::int64_t fail_after_bytes = -1;

private:
    Status Fail(Status why);
    void Abandon();
    void RemoveStaleTemporaries();

    std::filesystem::path target_;
    std::filesystem::path resolved_;
    std::filesystem::path temp_;
    std::FILE* file_ = nullptr;
    platform::FolderLock lock_;
    bool existed_ = false;
    std::uint64_t written_ = 0;
};

// Many files written into one folder at once, from any number of threads,
// each by a SafeFileWriter with `in_batch` set: the folder's lock is taken
// once for all of them, what writers that died left is removed once, and the
// new names are made durable by one sync of the folder in Finish().
class FolderBatch {
public:
    explicit FolderBatch(std::filesystem::path folder) : folder_(std::move(folder)) {}
    Status Begin();   // kBusy when the folder is busy, else whether its lock can be made
    Status Finish(bool sync = true);  // syncs the folder (unless not `sync`) and releases the lock

private:
    std::filesystem::path folder_;
    platform::FolderLock lock_;
};

// `bytes` as the whole new content of `path`, crash-safe (in a FolderBatch
// when `in_batch`; not waited for on the disk unless `durable`).
Status WriteWhole(const std::filesystem::path& path, const std::string& bytes, bool in_batch = false, bool durable = true);

// Checks that `path` may be read as a data file: it exists and is a regular
// file (kFileRefused with kMissing, kIsFolder, kNotRegular, kUnreachable).
Status ReadableFile(const std::filesystem::path& path);

}  // namespace zqd
