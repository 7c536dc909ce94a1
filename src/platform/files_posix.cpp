#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/text.h"

namespace zqd::platform {

using Code = Status::Code;
using Why = Status::Why;

namespace {
Status SystemFailure(Code code = Code::kWriteFailed) { return Status::Fail(code, Why::kSystem).Said(LastErrorText()); }
}  // namespace

Status MayWrite(const std::filesystem::path& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return SystemFailure(Code::kFileRefused);
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.c_str(), W_OK) != 0) {
        errno = EACCES;
        return Status::Fail(Code::kFileRefused, Why::kReadOnly).Said(LastErrorText());
    }
    return Status::Ok();
}

Result<std::FILE*> CreateNewFile(const std::filesystem::path& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        const bool taken = errno == EEXIST || errno == ELOOP;
        return Status::Fail(Code::kWriteFailed, taken ? Why::kNameTaken : Why::kSystem).Said(LastErrorText());
    }
    std::FILE* f = fdopen(fd, "w+b");
    if (!f) {
        Status failed = SystemFailure();
        close(fd);
        return failed;
    }
    return f;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool SeekTo(std::FILE* file, std::uint64_t offset) { return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }

bool ReserveSpace(std::FILE* file, std::uint64_t bytes) {
    if (std::fflush(file) != 0) return false;
    return posix_fallocate(fileno(file), 0, static_cast<off_t>(bytes)) == 0;
}

Status ReplaceFileSafely(const std::filesystem::path& source, const std::filesystem::path& target, bool sync_folder) {
    if (std::rename(source.c_str(), target.c_str()) != 0) return SystemFailure();
    // Make the new directory entry durable too.
    if (sync_folder) (void)SyncFolder(target.has_parent_path() ? target.parent_path() : std::filesystem::path("."));
    return Status::Ok();
}

Status SyncFolder(const std::filesystem::path& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return SystemFailure();
    const bool ok = fsync(fd) == 0;
    Status s = ok ? Status::Ok() : SystemFailure();
    close(fd);
    return s;
}

Status TruncateFile(const std::filesystem::path& path, std::uint64_t size) {
    if (truncate(path.c_str(), static_cast<off_t>(size)) != 0) return SystemFailure();
    return Status::Ok();
}

namespace detail {

int OpenForAppend(const std::filesystem::path& path, std::uint64_t& size, std::string& system) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        system = LastErrorText();
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -2;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

long long WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset, std::string& system) {
    for (;;) {
        const ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) system = LastErrorText();
        return n;
    }
}

bool CutTo(int fd, std::uint64_t size, std::string& system) {
    if (ftruncate(fd, static_cast<off_t>(size)) == 0) return true;
    system = LastErrorText();
    return false;
}

bool SyncFd(int fd, std::string& system) {
    if (fdatasync(fd) == 0) return true;  // the size is synced with the data
    system = LastErrorText();
    return false;
}

bool SyncStdio(std::FILE* file, std::string& system) {
    if (std::fflush(file) != 0 || fdatasync(fileno(file)) != 0) {
        system = LastErrorText();
        return false;
    }
    return true;
}

void CloseFd(int fd) { close(fd); }

}  // namespace detail

}  // namespace zqd::platform
