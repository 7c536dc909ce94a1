#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"

namespace zqd::platform {

std::filesystem::path ExecutableDir() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::filesystem::current_path();
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::filesystem::path(buffer).parent_path();
}

std::filesystem::path UserDataDir() {
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local)
        return std::filesystem::path(local) / "ZQD4830_GPS";
    return ExecutableDir() / "recovered";
}

std::filesystem::path UserCacheDir() {
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local)
        return std::filesystem::path(local) / "ZQD4830_GPS" / "cache";
    return TempDir() / "ZQD4830_GPS-cache";
}

std::filesystem::path UserConfigDir() { return UserDataDir(); }

bool FolderWritable(const std::filesystem::path& dir) {
    const auto probe = dir / (".zqd-probe-" + std::to_string(ProcessId()) + "-" + std::to_string(GetTickCount64()));
    auto f = CreateNewFile(probe);
    if (!f) return false;
    std::fclose(*f);
    std::error_code ec;
    std::filesystem::remove(probe, ec);
    return true;
}

unsigned long ProcessId() { return static_cast<unsigned long>(GetCurrentProcessId()); }

}  // namespace zqd::platform
