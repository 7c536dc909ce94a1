// Locks between writers and between acquisitions. Both are machine-wide and
// live in the machine's lock folder, never in a folder the user chose:
//  - a writers' lock for a folder, keyed by the folder's identity (device
//    and inode; volume and file index on Windows), so that every writer of
//    that folder, through any path and as any user, takes turns;
//  - the machine's one acquisition, which names its holder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "common/status.h"

namespace zqd::platform {

// The machine-wide folder of the locks: /run/lock where it can be used, else
// /var/lock, else /tmp (never a per-user folder, so that every user meets
// the same locks). Empty on Windows, whose locks are named kernel objects.
std::filesystem::path LockFolder();

// The name of the writers' lock of `folder` (a file in LockFolder() on POSIX,
// a mutex name on Windows); empty when the folder cannot be identified.
std::string FolderLockName(const std::filesystem::path& folder);

// An exclusive lock on a folder's writers, held until destruction. Other
// processes, and other holders in this process, wait. Nothing is left
// behind: the lock file is removed by its last holder.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    // Tries until `wait_ms` has passed: kBusy (kLockHeld, `value` the seconds
    // waited) when another writer holds it, else why the lock could not be
    // made (kLockNotRegular, kSystem; `detail` the lock's name).
    Status Acquire(const std::filesystem::path& folder, int wait_ms);
    void Release();

private:
    std::intptr_t handle_ = -1;
    std::string name_;
};

// The one acquisition on this machine: a lock file in LockFolder() on POSIX
// (ZQD4830_ACQUISITION_LOCK names another file, for tests that run several
// simulated cards at once), a global named mutex on Windows. When it cannot
// be taken: kBusy with the holder's name (kHeldBy, kHeldByText; kOtherProcess,
// kOtherProgram when it is not known), or kLockFileUnusable.
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

// "<pid> <program>" or words of another program, as a holder wrote them:
// the Status a second acquisition gets.
Status HolderStatus(const std::string& written);

}  // namespace zqd::platform
