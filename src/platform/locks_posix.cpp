#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/locks.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace zqd::platform {

using Code = Status::Code;
using Why = Status::Why;

namespace {

// Opens a lock file that any user may share: an existing one as it is
// (read-only where its owner's mode allows no more: flock needs no write),
// else a new one readable and writable by all. Never through a link.
// Opening before creating matters in sticky folders such as /run/lock,
// where the kernel refuses O_CREAT on another user's file.
int OpenShared(const std::filesystem::path& path, bool& writable) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        writable = fd >= 0;
        if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0 || errno != ENOENT) return fd;
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            writable = true;
            if (fchmod(fd, 0666) != 0) {
                // Others then share it read-only, which flock allows.
            }
            return fd;
        }
        if (errno != EEXIST) return -1;  // made by another at the same moment: open theirs
    }
    return -1;
}

bool IsRegular(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Whether `path` still names the file open as `fd` (a holder that left
// removes it; whoever locked the removed file must try again).
bool StillNamed(int fd, const std::filesystem::path& path) {
    struct stat a {}, b {};
    return fstat(fd, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool UsableFolder(const char* dir) {
    struct stat st {};
    return stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && access(dir, W_OK | X_OK) == 0;
}

}  // namespace

std::filesystem::path LockFolder() {
    for (const char* dir : {"/run/lock", "/var/lock", "/tmp"})
        if (UsableFolder(dir)) return dir;
    return "/tmp";
}

std::string FolderLockName(const std::filesystem::path& folder) {
    struct stat st {};
    if (stat(folder.empty() ? "." : folder.c_str(), &st) != 0) return {};
    return PathText(LockFolder() / ("zqd4830-gps-folder-" + std::to_string(static_cast<unsigned long long>(st.st_dev)) +
                                    "-" + std::to_string(static_cast<unsigned long long>(st.st_ino)) + ".lock"));
}

FolderLock::~FolderLock() { Release(); }

void FolderLock::Release() {
    if (handle_ == -1) return;
    const int fd = static_cast<int>(handle_);
    // Removed while still held, so that no one can lock it after us and
    // think it current: they find it gone and make a new one.
    if (StillNamed(fd, name_)) unlink(name_.c_str());
    flock(fd, LOCK_UN);
    close(fd);
    handle_ = -1;
}

Status FolderLock::Acquire(const std::filesystem::path& folder, int wait_ms) {
    Release();
    name_ = FolderLockName(folder);
    if (name_.empty()) return Status::Fail(Code::kWriteFailed, Why::kSystem).Said(LastErrorText());
    for (int waited = 0;;) {
        bool writable = false;
        const int fd = OpenShared(name_, writable);
        if (fd < 0)
            return Status::Fail(Code::kWriteFailed, errno == ELOOP ? Why::kLockNotRegular : Why::kSystem)
                .About(name_)
                .Said(LastErrorText());
        if (!IsRegular(fd)) {
            close(fd);
            return Status::Fail(Code::kWriteFailed, Why::kLockNotRegular).About(name_);
        }
        bool locked = false;
        for (;; waited += 10) {
            if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
                locked = true;
                break;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                Status failed = Status::Fail(Code::kWriteFailed, Why::kSystem).About(name_).Said(LastErrorText());
                close(fd);
                return failed;
            }
            if (waited >= wait_ms) break;
            usleep(10000);
        }
        if (!locked) {
            close(fd);
            return Status::Fail(Code::kBusy, Why::kLockHeld).Value(wait_ms / 1000);
        }
        if (StillNamed(fd, name_)) {
            handle_ = fd;
            return Status::Ok();
        }
        close(fd);  // its holder removed it as we waited: lock the current one
    }
}

AcquisitionLock::~AcquisitionLock() { Release(); }

std::filesystem::path AcquisitionLock::LockFile() {
    if (const char* named = std::getenv("ZQD4830_ACQUISITION_LOCK"); named && *named) return named;
    return LockFolder() / "zqd4830-gps-acquisition.lock";
}

Status AcquisitionLock::Acquire() {
    if (handle_ != -1) return Status::Ok();
    const auto path = LockFile();
    bool writable = false;
    const int fd = OpenShared(path, writable);
    if (fd < 0) return Status::Fail(Code::kBusy, Why::kLockFileUnusable).About(PathText(path)).Said(LastErrorText());
    if (!IsRegular(fd)) {
        close(fd);
        return Status::Fail(Code::kBusy, Why::kLockNotRegular).About(PathText(path));
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char text[256] = {};
        const ssize_t n = pread(fd, text, sizeof text - 1, 0);
        close(fd);
        return HolderStatus(n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string());
    }
    // Who holds it, for the message another process shows. The file stays
    // (it is the machine's one), emptied when released.
    std::string name = std::to_string(getpid());
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) name += " " + PathText(exe.filename());
    if (writable && ftruncate(fd, 0) == 0 && pwrite(fd, name.data(), name.size(), 0) < 0) {
        // The name is only for messages.
    }
    handle_ = fd;
    return Status::Ok();
}

void AcquisitionLock::Release() {
    if (handle_ == -1) return;
    const int fd = static_cast<int>(handle_);
    if (ftruncate(fd, 0) != 0) {
        // Only the holder's name stays (or the file was shared read-only).
    }
    flock(fd, LOCK_UN);
    close(fd);
    handle_ = -1;
}

}  // namespace zqd::platform
