#include "platform/text.h"

#include <cerrno>
#include <cstring>

namespace zqd::platform {

std::string PathText(const std::filesystem::path& path) {
    const auto u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string LastErrorText() { return std::strerror(errno); }

}  // namespace zqd::platform
