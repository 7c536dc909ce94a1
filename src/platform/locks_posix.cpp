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

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
    if (handle_ == -1) return;
    flock(static_cast<int>(handle_), LOCK_UN);
    close(static_cast<int>(handle_));
    handle_ = -1;
}

Status FileLock::Acquire(const std::filesystem::path& path, int wait_ms) {
    Release();
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return Status::Fail(Code::kWriteFailed, Why::kSystem).Said(LastErrorText());
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return Status::Fail(Code::kWriteFailed, Why::kLockNotRegular);
    }
    for (int waited = 0;; waited += 10) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) break;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            Status failed = Status::Fail(Code::kWriteFailed, Why::kSystem).Said(LastErrorText());
            close(fd);
            return failed;
        }
        if (waited >= wait_ms) {
            close(fd);
            return Status::Fail(Code::kBusy, Why::kLockHeld).Value(wait_ms / 1000);
        }
        usleep(10000);
    }
    handle_ = fd;
    return Status::Ok();
}

AcquisitionLock::~AcquisitionLock() { Release(); }

std::filesystem::path AcquisitionLock::LockFile() {
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run)
        return std::filesystem::path(run) / "zqd4830-gps-acquisition.lock";
    return TempDir() / ("zqd4830-gps-acquisition-" + std::to_string(getuid()) + ".lock");
}

Status AcquisitionLock::Acquire() {
    if (handle_ != -1) return Status::Ok();
    const auto path = LockFile();
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Status::Fail(Code::kBusy, Why::kLockFileUnusable).About(PathText(path)).Said(LastErrorText());
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char text[256] = {};
        const ssize_t n = pread(fd, text, sizeof text - 1, 0);
        close(fd);
        std::string holder = n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string();
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) holder.pop_back();
        if (holder.empty()) return Status::Fail(Code::kBusy, Why::kOtherProcess);
        // "<pid> <program>", as written below; anything else is shown as it stands.
        char* end = nullptr;
        const long long pid = std::strtoll(holder.c_str(), &end, 10);
        if (end != holder.c_str() && pid > 0 && (*end == ' ' || *end == '\0'))
            return Status::Fail(Code::kBusy, Why::kHeldBy).Value(pid).About(*end ? std::string(end + 1) : std::string());
        return Status::Fail(Code::kBusy, Why::kHeldByText).About(holder);
    }
    // Who holds it, for the message another process shows.
    std::string name = std::to_string(getpid());
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) name += " " + PathText(exe.filename());
    if (ftruncate(fd, 0) == 0 && pwrite(fd, name.data(), name.size(), 0) < 0) {
        // The name is only for messages.
    }
    handle_ = fd;
    return Status::Ok();
}

void AcquisitionLock::Release() {
    if (handle_ == -1) return;
    const int fd = static_cast<int>(handle_);
    if (ftruncate(fd, 0) != 0) {
        // Only the holder's name is lost.
    }
    flock(fd, LOCK_UN);
    close(fd);
    handle_ = -1;
}

}  // namespace zqd::platform
