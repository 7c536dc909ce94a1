// Locks between writers and between acquisitions: an advisory lock on a lock
// file, and the machine's one acquisition.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/status.h"

namespace zqd::platform {

// An exclusive advisory lock on a lock file (created if missing), held until
// destruction. Other processes, and other holders in this process, wait.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    // Tries until `wait_ms` has passed: kBusy (kLockHeld, `value` the seconds
    // waited) when another writer holds it, else why the lock file could not
    // be made.
    Status Acquire(const std::filesystem::path& path, int wait_ms);
    void Release();

private:
    std::intptr_t handle_ = -1;
};

// The one acquisition on this machine: a lock file in the user's runtime
// folder on Linux, a named mutex on Windows. When it cannot be taken: kBusy
// with the holder's name in `detail` (kOtherProcess, kOtherProgram when it is
// not known), or kLockFileUnusable.
class AcquisitionLock {
public:
    AcquisitionLock() = default;
    ~AcquisitionLock();
    AcquisitionLock(const AcquisitionLock&) = delete;
    AcquisitionLock& operator=(const AcquisitionLock&) = delete;
    Status Acquire();
    void Release();
    bool Held() const { return handle_ != -1; }
    static std::filesystem::path LockFile();

private:
    std::intptr_t handle_ = -1;
};

}  // namespace zqd::platform
