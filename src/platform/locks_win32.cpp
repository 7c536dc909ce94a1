#include <windows.h>

#include "platform/locks.h"
#include "platform/win32_error.h"

namespace zqd::platform {

using Code = Status::Code;
using Why = Status::Why;

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
    if (handle_ == -1) return;
    HANDLE h = reinterpret_cast<HANDLE>(handle_);
    OVERLAPPED o{};
    UnlockFileEx(h, 0, 1, 0, &o);
    CloseHandle(h);
    handle_ = -1;
}

Status FileLock::Acquire(const std::filesystem::path& path, int wait_ms) {
    Release();
    HANDLE h = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Status::Fail(Code::kWriteFailed, Why::kSystem).Said(WindowsErrorText(GetLastError()));
    for (int waited = 0;; waited += 10) {
        OVERLAPPED o{};
        if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o)) break;
        if (waited >= wait_ms) {
            CloseHandle(h);
            return Status::Fail(Code::kBusy, Why::kLockHeld).Value(wait_ms / 1000);
        }
        Sleep(10);
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return Status::Ok();
}

AcquisitionLock::~AcquisitionLock() { Release(); }

std::filesystem::path AcquisitionLock::LockFile() { return {}; }

Status AcquisitionLock::Acquire() {
    if (handle_ != -1) return Status::Ok();
    HANDLE m = CreateMutexW(nullptr, TRUE, L"Local\\ZQD4830_GPS_acquisition");
    if (!m) return Status::Fail(Code::kBusy, Why::kHeldByText).About(WindowsErrorText(GetLastError()));
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (WaitForSingleObject(m, 0) != WAIT_OBJECT_0) {
            CloseHandle(m);
            return Status::Fail(Code::kBusy, Why::kOtherProgram);
        }
    }
    handle_ = reinterpret_cast<std::intptr_t>(m);
    return Status::Ok();
}

void AcquisitionLock::Release() {
    if (handle_ == -1) return;
    ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

}  // namespace zqd::platform
