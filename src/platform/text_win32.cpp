#include <windows.h>

#include "platform/text.h"

namespace zqd::platform {

std::string Utf8ToGbk(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int wn = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wn), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), wn);
    const int n = WideCharToMultiByte(936, 0, wide.data(), wn, nullptr, 0, "?", nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(936, 0, wide.data(), wn, out.data(), n, "?", nullptr);
    return out;
}

}  // namespace zqd::platform
