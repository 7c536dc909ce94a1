#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/win32_error.h"

namespace zqd::platform {

using Code = Status::Code;
using Why = Status::Why;

namespace {
Status WindowsFailure(Code code = Code::kWriteFailed) {
    return Status::Fail(code, Why::kSystem).Said(WindowsErrorText(GetLastError()));
}
}  // namespace

Status MayWrite(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(path.wstring().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return WindowsFailure(Code::kFileRefused);
    if (attributes & FILE_ATTRIBUTE_READONLY) return Status::Fail(Code::kFileRefused, Why::kReadOnly);
    return Status::Ok();
}

Result<std::FILE*> CreateNewFile(const std::filesystem::path& path) {
    HANDLE h = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        const bool taken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
        return Status::Fail(Code::kWriteFailed, taken ? Why::kNameTaken : Why::kSystem).Said(WindowsErrorText(code));
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(h), 0);
    if (fd < 0) {
        CloseHandle(h);
        return Status::Fail(Code::kWriteFailed, Why::kSystem).Said("_open_osfhandle failed");
    }
    std::FILE* f = _fdopen(fd, "w+b");
    if (!f) {
        Status failed = Status::Fail(Code::kWriteFailed, Why::kSystem).Said(LastErrorText());
        _close(fd);
        return failed;
    }
    return f;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
    std::wstring wmode(mode, mode + std::strlen(mode));
    return _wfopen(path.wstring().c_str(), wmode.c_str());
}

bool SeekTo(std::FILE* file, std::uint64_t offset) { return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0; }

bool ReserveSpace(std::FILE* file, std::uint64_t bytes) {
    // NTFS allocates a file's clusters when its end is set: writes within
    // them need no more room.
    if (std::fflush(file) != 0) return false;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    LARGE_INTEGER size{};
    if (handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(handle, &size)) return false;
    if (static_cast<std::uint64_t>(size.QuadPart) >= bytes) return true;
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(bytes);
    LARGE_INTEGER was{};
    LARGE_INTEGER here{};
    if (!SetFilePointerEx(handle, here, &was, FILE_CURRENT)) return false;
    const bool ok = SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
    SetFilePointerEx(handle, was, nullptr, FILE_BEGIN);
    return ok;
}

Status ReplaceFileSafely(const std::filesystem::path& source, const std::filesystem::path& target,
                         bool /*sync_folder: the move is written through*/) {
    if (MoveFileExW(source.wstring().c_str(), target.wstring().c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Status::Ok();
    return WindowsFailure();
}

Status SyncFolder(const std::filesystem::path&) { return Status::Ok(); }  // moves are written through

Status TruncateFile(const std::filesystem::path& path, std::uint64_t size) {
    std::error_code ec;
    std::filesystem::resize_file(path, size, ec);
    if (ec) return Status::Fail(Code::kWriteFailed, Why::kSystem).Said(ec.message());
    return Status::Ok();
}

namespace detail {

int OpenForAppend(const std::filesystem::path& path, std::uint64_t& size, std::string& system) {
    const int fd = _wopen(path.wstring().c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        system = LastErrorText();
        return -1;
    }
    const __int64 end = _lseeki64(fd, 0, SEEK_END);
    size = end < 0 ? 0 : static_cast<std::uint64_t>(end);
    return fd;
}

long long WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset, std::string& system) {
    if (_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0) {
        system = LastErrorText();
        return -1;
    }
    const unsigned chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
    const int n = _write(fd, data, chunk);
    if (n < 0) system = LastErrorText();
    return n;
}

bool CutTo(int fd, std::uint64_t size, std::string& system) {
    const errno_t e = _chsize_s(fd, static_cast<__int64>(size));
    if (e != 0) {
        system = std::strerror(e);
        return false;
    }
    if (_lseeki64(fd, static_cast<__int64>(size), SEEK_SET) < 0) {
        system = LastErrorText();
        return false;
    }
    return true;
}

bool SyncFd(int fd, std::string& system) {
    if (_commit(fd) == 0) return true;
    system = LastErrorText();
    return false;
}

bool SyncStdio(std::FILE* file, std::string& system) {
    if (std::fflush(file) != 0 || _commit(_fileno(file)) != 0) {
        system = LastErrorText();
        return false;
    }
    return true;
}

void CloseFd(int fd) { _close(fd); }

}  // namespace detail

}  // namespace zqd::platform
