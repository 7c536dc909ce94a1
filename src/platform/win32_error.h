// The words Windows has for one of its error codes (Windows builds only).
#pragma once

#include <windows.h>

#include <string>

namespace zqd::platform {

std::string WindowsErrorText(DWORD code);

}  // namespace zqd::platform
