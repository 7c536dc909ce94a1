// Text at the system's boundary: paths as UTF-8 for messages and back, the
// system's last error in its own words, and UTF-8 in the GBK code page.
#pragma once

#include <filesystem>
#include <string>

namespace zqd::platform {

// A path as UTF-8 text, for messages, and back.
std::string PathText(const std::filesystem::path& path);
std::filesystem::path PathFromUtf8(const std::string& utf8);

// Text of the last C library error (errno), for messages.
std::string LastErrorText();

// UTF-8 text in the GBK code page (936). A character that GBK cannot hold
// becomes "?".
std::string Utf8ToGbk(const std::string& utf8);

}  // namespace zqd::platform
