#include <windows.h>

#include "platform/library.h"
#include "platform/win32_error.h"

namespace zqd::platform {

namespace {
Status Refused() {
    return Status::Fail(Status::Code::kNoLibrary, Status::Why::kSystem).Said(WindowsErrorText(GetLastError()));
}
}  // namespace

Result<void*> OpenLibrary(const std::filesystem::path& path) {
    if (HMODULE h = LoadLibraryW(path.wstring().c_str())) return reinterpret_cast<void*>(h);
    return Refused();
}

Result<void*> FindSymbol(void* handle, const std::string& name) {
    if (FARPROC p = GetProcAddress(reinterpret_cast<HMODULE>(handle), name.c_str())) return reinterpret_cast<void*>(p);
    return Refused();
}

const char* CardLibraryFileName() { return "adcard.dll"; }

}  // namespace zqd::platform
