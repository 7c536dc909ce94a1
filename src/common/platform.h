// The few calls that differ between Linux and 32-bit Windows: loading the
// card library, the executable's folder, replacing a file safely, flushing a
// file to disk, the user's data folder and GBK text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace zqd::platform {

// A loaded shared library; empty on failure with the reason in `error`.
struct Library {
    void* handle = nullptr;
    std::string error;
};

Library OpenLibrary(const std::filesystem::path& path);
// Address of an export, or nullptr with the reason in `error`.
void* FindSymbol(void* handle, const std::string& name, std::string& error);

// File name of the card library as it is found beside the executable and on
// the system's search path: "adcard.dll" on Windows, "libadcard.so" elsewhere.
const char* CardLibraryFileName();

// The folder that holds the running executable (not the working directory).
std::filesystem::path ExecutableDir();

// A folder for the user's own data (XDG data home or %LOCALAPPDATA%), used
// for a copy of a record that could not be saved where it belongs.
std::filesystem::path UserDataDir();

// A folder for what can be made again (XDG cache home, or %LOCALAPPDATA%
// ...\cache): the waveform summaries of archives.
std::filesystem::path UserCacheDir();

// The system's folder for temporary files ($TMPDIR, %TEMP%, /tmp).
std::filesystem::path TempDir();

// Where the main window reads and writes T1.DAT and T2.csv: the program's
// own folder where it may be written, else the user's data folder (made if
// missing), as for a program installed in a system folder.
std::filesystem::path DataFolder();

// Flushes a stdio file's data, and its size, through to the disk. False on failure.
bool SyncData(std::FILE* file);

// Replaces `target` by `source` in one step, so that a reader sees either the
// old or the new file, and (with `sync_folder`) makes the rename itself
// durable. On failure the reason is in `error` and `target` is as it was.
bool ReplaceFileSafely(const std::filesystem::path& source, const std::filesystem::path& target,
                 std::string& error, bool sync_folder = true);

// Makes the names of a folder durable: one call after many renames into it.
bool SyncFolder(const std::filesystem::path& folder);

// What a path names, following symbolic links.
enum class FileKind { kMissing, kRegular, kDirectory, kCharDevice, kBlockDevice, kFifo, kSocket, kOther, kUnknown };
FileKind KindOf(const std::filesystem::path& path, std::string& error);
// "字符设备", "FIFO", ... for messages.
std::string KindText(FileKind kind);

// Whether the user may write an existing file. A file without any write
// permission bit counts as read-only even for the superuser, who could
// override it: someone marked it so.
bool MayWrite(const std::filesystem::path& path, std::string& error);

// Creates a new file that did not exist, never following a link at that
// name (O_CREAT | O_EXCL | O_NOFOLLOW; CREATE_NEW on Windows). Null, with the
// reason in `error`, if anything is in the way.
std::FILE* CreateNewFile(const std::filesystem::path& path, std::string& error);

// Gives `path` the permission bits of `from`.
bool CopyPermissions(const std::filesystem::path& from, const std::filesystem::path& path, std::string& error);

// Same file: same device and inode (file ID on Windows).
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// An exclusive advisory lock on a lock file (created if missing), held until
// destruction. Other processes, and other holders in this process, wait.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    // Tries until `wait_ms` has passed. `busy` tells a lock held by another
    // writer from a lock file that could not be made.
    bool Acquire(const std::filesystem::path& path, int wait_ms, bool& busy, std::string& error);
    void Release();

private:
    std::intptr_t handle_ = -1;
};

// A file that records are appended to, whole: an append that fails is cut
// back, so the file keeps only whole appends.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;
    bool Open(const std::filesystem::path& path, std::string& error);  // created if missing
    bool Append(const void* data, std::size_t size, std::string& error);
    bool Sync(std::string& error);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    std::uint64_t Size() const { return size_; }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Cuts a file to `size` bytes.
bool TruncateFile(const std::filesystem::path& path, std::uint64_t size, std::string& error);

// Bytes free for the user on the file system of `path`; -1 if unknown.
std::int64_t FreeBytes(const std::filesystem::path& path);

// The one acquisition on this machine: a lock file in the user's runtime
// folder on Linux, a named mutex on Windows. `holder` names the process that
// has it when it cannot be taken.
class AcquisitionLock {
public:
    AcquisitionLock() = default;
    ~AcquisitionLock();
    AcquisitionLock(const AcquisitionLock&) = delete;
    AcquisitionLock& operator=(const AcquisitionLock&) = delete;
    bool Acquire(std::string& holder);
    void Release();
    bool Held() const { return handle_ != -1; }
    static std::filesystem::path LockFile();

private:
    std::intptr_t handle_ = -1;
};

// Whether the current user may create files in a folder.
bool FolderWritable(const std::filesystem::path& dir);

// A number that differs between processes, for unique names.
unsigned long ProcessId();

// Moves a file's position to a byte offset that may pass 2 GiB.
bool SeekTo(std::FILE* file, std::uint64_t offset);

// Opens a file with a path that may hold non-ASCII characters.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

// A whole file mapped read-only into memory; empty when it cannot be (the
// caller then reads it another way).
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // `whole`: the file is about to be read through (mapped in at once);
    // otherwise only the pages touched are read.
    bool Open(const std::filesystem::path& path, std::string& error, bool whole = true);
    const unsigned char* Data() const { return data_; }
    std::uint64_t Size() const { return size_; }

private:
    const unsigned char* data_ = nullptr;
    std::uint64_t size_ = 0;
    void* handle_ = nullptr;  // the mapping object on Windows
};

// UTF-8 text in the GBK code page (936). A character that GBK cannot hold
// becomes "?".
std::string Utf8ToGbk(const std::string& utf8);

// Text of the last C library error (errno), for messages.
std::string LastErrorText();

// A path as UTF-8 text, for messages, and back.
std::string PathText(const std::filesystem::path& path);
std::filesystem::path PathFromUtf8(const std::string& utf8);

}  // namespace zqd::platform
