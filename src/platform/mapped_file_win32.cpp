#include <windows.h>

#include <cstdint>

#include "platform/mapped_file.h"
#include "platform/win32_error.h"

namespace zqd::platform {

MappedFile::~MappedFile() {
    if (data_) UnmapViewOfFile(data_);
    if (handle_) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

Status MappedFile::Open(const std::filesystem::path& path, bool whole) {
    (void)whole;  // the system reads ahead as pages are touched
    auto failure = [] {
        return Status::Fail(Status::Code::kFileRefused, Status::Why::kSystem).Said(WindowsErrorText(GetLastError()));
    };
    HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failure();
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > static_cast<unsigned long long>(SIZE_MAX / 2)) {
        CloseHandle(file);
        return Status::Fail(Status::Code::kFileRefused, Status::Why::kCannotMap);
    }
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(file);
    if (!mapping) return failure();
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (!view) {
        Status failed = failure();
        CloseHandle(mapping);
        return failed;
    }
    handle_ = mapping;
    data_ = static_cast<const unsigned char*>(view);
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    return Status::Ok();
}

}  // namespace zqd::platform
