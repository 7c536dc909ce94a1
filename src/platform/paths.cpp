#include "platform/paths.h"

namespace zqd::platform {

std::filesystem::path TempDir() {
    std::error_code ec;
    auto dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = std::filesystem::path(".");
    return dir;
}

std::filesystem::path DataFolder() {
    const auto exe = ExecutableDir();
    if (FolderWritable(exe)) return exe;
    const auto data = UserDataDir();
    std::error_code ec;
    std::filesystem::create_directories(data, ec);
    return data;
}

}  // namespace zqd::platform
