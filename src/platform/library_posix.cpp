#include <dlfcn.h>

#include "platform/library.h"

namespace zqd::platform {

namespace {
Status Refused(const char* words, const char* otherwise) {
    return Status::Fail(Status::Code::kNoLibrary, Status::Why::kSystem).Said(words ? words : otherwise);
}
}  // namespace

Result<void*> OpenLibrary(const std::filesystem::path& path) {
    if (void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    return Refused(dlerror(), "dlopen failed");
}

Result<void*> FindSymbol(void* handle, const std::string& name) {
    dlerror();
    if (void* p = dlsym(handle, name.c_str())) return p;
    return Refused(dlerror(), "symbol not found");
}

const char* CardLibraryFileName() { return "libadcard.so"; }

}  // namespace zqd::platform
