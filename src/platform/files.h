// Files as the system keeps them: what a path names, creating, replacing,
// syncing and cutting files, appending whole records. Every call that can
// fail returns a Status with the system's own words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/result.h"

namespace zqd::platform {

// What a path names, following symbolic links.
enum class FileKind { kMissing, kRegular, kDirectory, kCharDevice, kBlockDevice, kFifo, kSocket, kOther, kUnknown };
// kUnknown puts the system's words into `system` when given.
FileKind KindOf(const std::filesystem::path& path, std::string* system = nullptr);

// Same file: same device and inode (file ID on Windows).
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// Bytes free for the user on the file system of `path`; -1 if unknown.
std::int64_t FreeBytes(const std::filesystem::path& path);

// Gives `path` the permission bits of `from`.
Status CopyPermissions(const std::filesystem::path& from, const std::filesystem::path& path);

// Whether the user may write an existing file (kReadOnly otherwise). A file
// without any write permission bit counts as read-only even for the
// superuser, who could override it: someone marked it so.
Status MayWrite(const std::filesystem::path& path);

// Creates a new file that did not exist, never following a link at that
// name (O_CREAT | O_EXCL | O_NOFOLLOW; CREATE_NEW on Windows). kNameTaken
// when anything is at that name, else the system's words.
Result<std::FILE*> CreateNewFile(const std::filesystem::path& path);

// Opens a file with a path that may hold non-ASCII characters.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

// Moves a file's position to a byte offset that may pass 2 GiB.
bool SeekTo(std::FILE* file, std::uint64_t offset);

// Allocates the disk space of `file`'s first `bytes` bytes (growing it if
// shorter), so that writes within them cannot fail for want of room.
bool ReserveSpace(std::FILE* file, std::uint64_t bytes);

// Flushes a stdio file's data, and its size, through to the disk.
Status SyncData(std::FILE* file);

// Replaces `target` by `source` in one step, so that a reader sees either the
// old or the new file, and (with `sync_folder`) makes the rename itself
// durable. On failure `target` is as it was.
Status ReplaceFileSafely(const std::filesystem::path& source, const std::filesystem::path& target,
                         bool sync_folder = true);

// Makes the names of a folder durable: one call after many renames into it.
Status SyncFolder(const std::filesystem::path& folder);

// Cuts a file to `size` bytes.
Status TruncateFile(const std::filesystem::path& path, std::uint64_t size);

// A file that records are appended to, whole: an append that fails is cut
// back, so the file keeps only whole appends; a cut that fails too is said.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    Status Open(const std::filesystem::path& path);  // created if missing
    Status Append(const void* data, std::size_t size);
    Status Sync();
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    std::uint64_t Size() const { return size_; }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Test hooks: the next calls of an operation fail as a full or failing disk
// would, on either platform (the seam below the portable file code).
namespace faults {
enum class Op { kWrite, kSync, kCut };
void FailNext(Op op, int times = 1);
void Clear();
// Whether this call is to fail (taking one from the count).
bool Take(Op op);
}  // namespace faults

// The few calls the portable code above is built on, one file per platform.
namespace detail {
// Opens `path` for appending (created if missing, never through a link on
// POSIX); its size in `size`. -1 with the system's words, -2 for what is
// not a regular file.
int OpenForAppend(const std::filesystem::path& path, std::uint64_t& size, std::string& system);
// Writes at `offset`, retrying interruptions: the bytes written (0: none),
// or -1 with the system's words.
long long WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset, std::string& system);
bool CutTo(int fd, std::uint64_t size, std::string& system);
bool SyncFd(int fd, std::string& system);
bool SyncStdio(std::FILE* file, std::string& system);
void CloseFd(int fd);
}  // namespace detail

}  // namespace zqd::platform
