#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/locks.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/win32_error.h"

namespace zqd::platform {

using Code = Status::Code;
using Why = Status::Why;

namespace {

// Waits for a named mutex of the whole machine; a holder that died leaves it
// abandoned, which is as good as released. -1: not made (`code` says why),
// 0: busy, 1: ours.
int TakeMutex(const std::wstring& name, int wait_ms, HANDLE& out, DWORD& code) {
    HANDLE m = CreateMutexW(nullptr, FALSE, name.c_str());
    if (!m) {
        code = GetLastError();
        return code == ERROR_ACCESS_DENIED ? 0 : -1;  // another user's, held or not
    }
    const DWORD r = WaitForSingleObject(m, static_cast<DWORD>(wait_ms < 0 ? 0 : wait_ms));
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
        out = m;
        return 1;
    }
    code = r == WAIT_FAILED ? GetLastError() : 0;
    CloseHandle(m);
    return r == WAIT_TIMEOUT ? 0 : -1;
}

std::wstring Wide(const std::string& s) { return std::filesystem::path(PathFromUtf8(s)).wstring(); }

std::filesystem::path HolderFile() {
    std::filesystem::path base = TempDir();
    if (const wchar_t* data = _wgetenv(L"ProgramData"); data && *data) base = std::filesystem::path(data);
    return base / "ZQD4830_GPS" / "acquisition-holder.txt";
}

}  // namespace

std::filesystem::path LockFolder() { return {}; }

std::string FolderLockName(const std::filesystem::path& folder) {
    HANDLE h = CreateFileW(folder.empty() ? L"." : folder.wstring().c_str(), 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok) return {};
    char name[96];
    std::snprintf(name, sizeof name, "Global\\zqd4830-gps-folder-%08lx-%08lx%08lx",
                  static_cast<unsigned long>(info.dwVolumeSerialNumber), static_cast<unsigned long>(info.nFileIndexHigh),
                  static_cast<unsigned long>(info.nFileIndexLow));
    return name;
}

FolderLock::~FolderLock() { Release(); }

void FolderLock::Release() {
    if (handle_ == -1) return;
    ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

Status FolderLock::Acquire(const std::filesystem::path& folder, int wait_ms) {
    Release();
    name_ = FolderLockName(folder);
    if (name_.empty()) return Status::Fail(Code::kWriteFailed, Why::kSystem).Said(WindowsErrorText(GetLastError()));
    HANDLE m = nullptr;
    DWORD code = 0;
    const int got = TakeMutex(Wide(name_), wait_ms, m, code);
    if (got == 0) return Status::Fail(Code::kBusy, Why::kLockHeld).Value(wait_ms / 1000);
    if (got < 0) return Status::Fail(Code::kWriteFailed, Why::kSystem).About(name_).Said(WindowsErrorText(code));
    handle_ = reinterpret_cast<std::intptr_t>(m);
    return Status::Ok();
}

AcquisitionLock::~AcquisitionLock() { Release(); }

std::filesystem::path AcquisitionLock::LockFile() { return HolderFile(); }

Status AcquisitionLock::Acquire() {
    if (handle_ != -1) return Status::Ok();
    std::wstring name = L"Global\\ZQD4830_GPS_acquisition";
    if (const wchar_t* named = _wgetenv(L"ZQD4830_ACQUISITION_LOCK"); named && *named) {
        std::wstring suffix(named);
        for (auto& c : suffix)
            if (c == L'\\') c = L'/';
        name += L"-" + suffix;
    }
    HANDLE m = nullptr;
    DWORD code = 0;
    const int got = TakeMutex(name, 0, m, code);
    if (got < 0) return Status::Fail(Code::kBusy, Why::kLockFileUnusable).About("ZQD4830_GPS_acquisition").Said(WindowsErrorText(code));
    if (got == 0) {
        // The holder's name, where it could leave it.
        std::string text;
        if (std::FILE* f = OpenFile(HolderFile(), "rb")) {
            char buffer[256] = {};
            text.assign(buffer, std::fread(buffer, 1, sizeof buffer - 1, f));
            std::fclose(f);
        }
        return text.empty() ? Status::Fail(Code::kBusy, Why::kOtherProgram) : HolderStatus(text);
    }
    handle_ = reinterpret_cast<std::intptr_t>(m);
    std::error_code ec;
    std::filesystem::create_directories(HolderFile().parent_path(), ec);
    if (std::FILE* f = OpenFile(HolderFile(), "wb")) {
        const std::string holder = std::to_string(ProcessId()) + " " + PathText(ExecutableDir().filename()) + "\\zqd4830";
        std::fwrite(holder.data(), 1, holder.size(), f);
        std::fclose(f);
    }
    return Status::Ok();
}

void AcquisitionLock::Release() {
    if (handle_ == -1) return;
    std::error_code ec;
    std::filesystem::remove(HolderFile(), ec);
    ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

}  // namespace zqd::platform
