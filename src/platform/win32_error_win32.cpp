#include "platform/win32_error.h"

#include <filesystem>

#include "platform/text.h"

namespace zqd::platform {

std::string WindowsErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = "Windows error " + std::to_string(code);
    if (n > 0 && buffer) {
        std::wstring w(buffer, n);
        while (!w.empty() && (w.back() == L'\r' || w.back() == L'\n' || w.back() == L' ')) w.pop_back();
        text = PathText(std::filesystem::path(w));
    }
    if (buffer) LocalFree(buffer);
    return text;
}

}  // namespace zqd::platform
