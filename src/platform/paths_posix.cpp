#include <unistd.h>

#include <cstdlib>

#include "platform/paths.h"

namespace zqd::platform {

std::filesystem::path ExecutableDir() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path();
    return exe.parent_path();
}

std::filesystem::path UserDataDir() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        return std::filesystem::path(xdg) / "ZQD4830_GPS";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".local" / "share" / "ZQD4830_GPS";
    return std::filesystem::temp_directory_path() / "ZQD4830_GPS";
}

std::filesystem::path UserCacheDir() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg)
        return std::filesystem::path(xdg) / "zqd4830-gps";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".cache" / "zqd4830-gps";
    return std::filesystem::temp_directory_path() / "zqd4830-gps-cache";
}

std::filesystem::path UserConfigDir() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return std::filesystem::path(xdg) / "ZQD4830_GPS";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".config" / "ZQD4830_GPS";
    return UserDataDir();
}

bool FolderWritable(const std::filesystem::path& dir) { return access(dir.c_str(), W_OK | X_OK) == 0; }

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

}  // namespace zqd::platform
