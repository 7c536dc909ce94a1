// Loading a shared library and finding its exports: dlopen on Linux,
// LoadLibraryW on Windows.
#pragma once

#include <filesystem>
#include <string>

#include "common/result.h"

namespace zqd::platform {

// The loaded library's handle, or kNoLibrary with the system's words.
Result<void*> OpenLibrary(const std::filesystem::path& path);
// Address of an export, or kNoLibrary with the system's words.
Result<void*> FindSymbol(void* handle, const std::string& name);

// File name of the card library as it is found beside the executable and on
// the system's search path: "adcard.dll" on Windows, "libadcard.so" elsewhere.
const char* CardLibraryFileName();

}  // namespace zqd::platform
