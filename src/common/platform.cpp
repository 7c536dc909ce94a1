#include "common/platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zqd::platform {

std::string PathText(const std::filesystem::path& path) {
    const auto u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string LastErrorText() { return std::strerror(errno); }

std::int64_t FreeBytes(const std::filesystem::path& path) {
    std::error_code ec;
    const auto info = std::filesystem::space(path, ec);
    return ec ? -1 : static_cast<std::int64_t>(info.available);
}

std::filesystem::path TempDir() {
    std::error_code ec;
    auto dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = std::filesystem::path(".");
    return dir;
}

std::filesystem::path DataFolder() {
    const auto exe = ExecutableDir();
    if (FolderWritable(exe)) return exe;
    const auto data = UserDataDir();
    std::error_code ec;
    std::filesystem::create_directories(data, ec);
    return data;
}

std::string KindText(FileKind kind) {
    switch (kind) {
    case FileKind::kMissing: return "不存在";
    case FileKind::kRegular: return "普通文件";
    case FileKind::kDirectory: return "文件夹";
    case FileKind::kCharDevice: return "字符设备";
    case FileKind::kBlockDevice: return "块设备";
    case FileKind::kFifo: return "FIFO（命名管道）";
    case FileKind::kSocket: return "套接字";
    case FileKind::kOther: return "特殊文件";
    case FileKind::kUnknown: break;
    }
    return "无法判断的文件";
}

FileKind KindOf(const std::filesystem::path& path, std::string& error) {
    std::error_code ec;
    const auto st = std::filesystem::status(path, ec);
    switch (st.type()) {
    case std::filesystem::file_type::not_found: return FileKind::kMissing;
    case std::filesystem::file_type::regular: return FileKind::kRegular;
    case std::filesystem::file_type::directory: return FileKind::kDirectory;
    case std::filesystem::file_type::character: return FileKind::kCharDevice;
    case std::filesystem::file_type::block: return FileKind::kBlockDevice;
    case std::filesystem::file_type::fifo: return FileKind::kFifo;
    case std::filesystem::file_type::socket: return FileKind::kSocket;
    case std::filesystem::file_type::none:
        error = ec ? ec.message() : "unknown";
        return FileKind::kUnknown;
    default: break;
    }
    if (ec) {
        error = ec.message();
        return FileKind::kUnknown;
    }
    return FileKind::kOther;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

bool CopyPermissions(const std::filesystem::path& from, const std::filesystem::path& path, std::string& error) {
    std::error_code ec;
    const auto perms = std::filesystem::status(from, ec).permissions();
    if (!ec) std::filesystem::permissions(path, perms, std::filesystem::perm_options::replace, ec);
    if (ec) error = ec.message();
    return !ec;
}

#ifdef _WIN32

namespace {
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
}  // namespace

Library OpenLibrary(const std::filesystem::path& path) {
    Library lib;
    lib.handle = reinterpret_cast<void*>(LoadLibraryW(path.wstring().c_str()));
    if (!lib.handle) lib.error = WindowsErrorText(GetLastError());
    return lib;
}

void* FindSymbol(void* handle, const std::string& name, std::string& error) {
    FARPROC p = GetProcAddress(reinterpret_cast<HMODULE>(handle), name.c_str());
    if (!p) error = WindowsErrorText(GetLastError());
    return reinterpret_cast<void*>(p);
}

const char* CardLibraryFileName() { return "adcard.dll"; }

std::filesystem::path ExecutableDir() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::filesystem::current_path();
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::filesystem::path(buffer).parent_path();
}

std::filesystem::path UserDataDir() {
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local)
        return std::filesystem::path(local) / "ZQD4830_GPS";
    return ExecutableDir() / "recovered";
}

std::filesystem::path UserCacheDir() {
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local)
        return std::filesystem::path(local) / "ZQD4830_GPS" / "cache";
    return TempDir() / "ZQD4830_GPS-cache";
}

bool SyncData(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    return _commit(_fileno(file)) == 0;
}

bool ReplaceFileSafely(const std::filesystem::path& source, const std::filesystem::path& target,
                 std::string& error, bool /*sync_folder: the move is written through*/) {
    if (MoveFileExW(source.wstring().c_str(), target.wstring().c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = WindowsErrorText(GetLastError());
    return false;
}

bool SyncFolder(const std::filesystem::path&) { return true; }  // moves are written through

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
    std::wstring wmode(mode, mode + std::strlen(mode));
    return _wfopen(path.wstring().c_str(), wmode.c_str());
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool MayWrite(const std::filesystem::path& path, std::string& error) {
    const DWORD attributes = GetFileAttributesW(path.wstring().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = WindowsErrorText(GetLastError());
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        error = "只读文件";
        return false;
    }
    return true;
}

std::FILE* CreateNewFile(const std::filesystem::path& path, std::string& error) {
    HANDLE h = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = WindowsErrorText(GetLastError());
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(h), 0);
    if (fd < 0) {
        CloseHandle(h);
        error = "_open_osfhandle failed";
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "w+b");
    if (!f) {
        error = LastErrorText();
        _close(fd);
    }
    return f;
}

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
    if (handle_ == -1) return;
    HANDLE h = reinterpret_cast<HANDLE>(handle_);
    OVERLAPPED o{};
    UnlockFileEx(h, 0, 1, 0, &o);
    CloseHandle(h);
    handle_ = -1;
}

bool FileLock::Acquire(const std::filesystem::path& path, int wait_ms, bool& busy, std::string& error) {
    Release();
    busy = false;
    HANDLE h = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = WindowsErrorText(GetLastError());
        return false;
    }
    for (int waited = 0;; waited += 10) {
        OVERLAPPED o{};
        if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o)) break;
        if (waited >= wait_ms) {
            CloseHandle(h);
            busy = true;
            error = "另一写入者在 " + std::to_string(wait_ms / 1000) + " 秒内没有释放";
            return false;
        }
        Sleep(10);
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
}

bool FolderWritable(const std::filesystem::path& dir) {
    const auto probe = dir / (".zqd-probe-" + std::to_string(ProcessId()) + "-" + std::to_string(GetTickCount64()));
    std::string error;
    std::FILE* f = CreateNewFile(probe, error);
    if (!f) return false;
    std::fclose(f);
    std::error_code ec;
    std::filesystem::remove(probe, ec);
    return true;
}

unsigned long ProcessId() { return static_cast<unsigned long>(GetCurrentProcessId()); }

AppendFile::~AppendFile() { Close(); }

void AppendFile::Close() {
    if (fd_ >= 0) _close(fd_);
    fd_ = -1;
}

bool AppendFile::Open(const std::filesystem::path& path, std::string& error) {
    Close();
    fd_ = _wopen(path.wstring().c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd_ < 0) {
        error = LastErrorText();
        return false;
    }
    const __int64 end = _lseeki64(fd_, 0, SEEK_END);
    size_ = end < 0 ? 0 : static_cast<std::uint64_t>(end);
    return true;
}

bool AppendFile::Append(const void* data, std::size_t size, std::string& error) {
    if (fd_ < 0) return false;
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const int n = _write(fd_, p + done, static_cast<unsigned>(size - done));
        if (n <= 0) {
            error = LastErrorText();
            _chsize_s(fd_, static_cast<__int64>(size_));
            _lseeki64(fd_, static_cast<__int64>(size_), SEEK_SET);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    size_ += size;
    return true;
}

bool AppendFile::Sync(std::string& error) {
    if (fd_ >= 0 && _commit(fd_) != 0) {
        error = LastErrorText();
        return false;
    }
    return true;
}

bool TruncateFile(const std::filesystem::path& path, std::uint64_t size, std::string& error) {
    std::error_code ec;
    std::filesystem::resize_file(path, size, ec);
    if (ec) error = ec.message();
    return !ec;
}

AcquisitionLock::~AcquisitionLock() { Release(); }

std::filesystem::path AcquisitionLock::LockFile() { return {}; }

bool AcquisitionLock::Acquire(std::string& holder) {
    if (handle_ != -1) return true;
    HANDLE m = CreateMutexW(nullptr, TRUE, L"Local\\ZQD4830_GPS_acquisition");
    if (!m) {
        holder = WindowsErrorText(GetLastError());
        return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (WaitForSingleObject(m, 0) != WAIT_OBJECT_0) {
            CloseHandle(m);
            holder = "另一个 ZQD4830_GPS 程序";
            return false;
        }
    }
    handle_ = reinterpret_cast<std::intptr_t>(m);
    return true;
}

void AcquisitionLock::Release() {
    if (handle_ == -1) return;
    ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

MappedFile::~MappedFile() {
    if (data_) UnmapViewOfFile(data_);
    if (handle_) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool MappedFile::Open(const std::filesystem::path& path, std::string& error, bool whole) {
    (void)whole;  // the system reads ahead as pages are touched
    HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = WindowsErrorText(GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > static_cast<unsigned long long>(SIZE_MAX / 2)) {
        error = "cannot map a file of this size";
        CloseHandle(file);
        return false;
    }
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(file);
    if (!mapping) {
        error = WindowsErrorText(GetLastError());
        return false;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (!view) {
        error = WindowsErrorText(GetLastError());
        CloseHandle(mapping);
        return false;
    }
    handle_ = mapping;
    data_ = static_cast<const unsigned char*>(view);
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

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

#else  // POSIX

Library OpenLibrary(const std::filesystem::path& path) {
    Library lib;
    lib.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib.handle) {
        const char* e = dlerror();
        lib.error = e ? e : "dlopen failed";
    }
    return lib;
}

void* FindSymbol(void* handle, const std::string& name, std::string& error) {
    dlerror();
    void* p = dlsym(handle, name.c_str());
    if (!p) {
        const char* e = dlerror();
        error = e ? e : "symbol not found";
    }
    return p;
}

const char* CardLibraryFileName() { return "libadcard.so"; }

std::filesystem::path ExecutableDir() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path();
    return exe.parent_path();
}

std::filesystem::path UserDataDir() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        return std::filesystem::path(xdg) / "ZQD4830_GPS";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".local" / "share" / "ZQD4830_GPS";
    return std::filesystem::temp_directory_path() / "ZQD4830_GPS";
}

std::filesystem::path UserCacheDir() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg)
        return std::filesystem::path(xdg) / "zqd4830-gps";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".cache" / "zqd4830-gps";
    return std::filesystem::temp_directory_path() / "zqd4830-gps-cache";
}

bool SyncData(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    return fdatasync(fileno(file)) == 0;  // the size is synced with the data
}

bool ReplaceFileSafely(const std::filesystem::path& source, const std::filesystem::path& target,
                 std::string& error, bool sync_folder) {
    if (std::rename(source.c_str(), target.c_str()) != 0) {
        error = LastErrorText();
        return false;
    }
    // Make the new directory entry durable too.
    if (sync_folder) SyncFolder(target.has_parent_path() ? target.parent_path() : std::filesystem::path("."));
    return true;
}

bool SyncFolder(const std::filesystem::path& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool MayWrite(const std::filesystem::path& path, std::string& error) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        error = LastErrorText();
        return false;
    }
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.c_str(), W_OK) != 0) {
        errno = EACCES;
        error = LastErrorText() + "（只读）";
        return false;
    }
    return true;
}

std::FILE* CreateNewFile(const std::filesystem::path& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = LastErrorText();
        return nullptr;
    }
    std::FILE* f = fdopen(fd, "w+b");
    if (!f) {
        error = LastErrorText();
        close(fd);
    }
    return f;
}

FileLock::~FileLock() { Release(); }

void FileLock::Release() {
    if (handle_ == -1) return;
    flock(static_cast<int>(handle_), LOCK_UN);
    close(static_cast<int>(handle_));
    handle_ = -1;
}

bool FileLock::Acquire(const std::filesystem::path& path, int wait_ms, bool& busy, std::string& error) {
    Release();
    busy = false;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = LastErrorText();
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        error = "锁文件不是普通文件";
        return false;
    }
    for (int waited = 0;; waited += 10) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) break;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error = LastErrorText();
            close(fd);
            return false;
        }
        if (waited >= wait_ms) {
            close(fd);
            busy = true;
            error = "另一写入者在 " + std::to_string(wait_ms / 1000) + " 秒内没有释放";
            return false;
        }
        usleep(10000);
    }
    handle_ = fd;
    return true;
}

bool FolderWritable(const std::filesystem::path& dir) { return access(dir.c_str(), W_OK | X_OK) == 0; }

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

AppendFile::~AppendFile() { Close(); }

void AppendFile::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool AppendFile::Open(const std::filesystem::path& path, std::string& error) {
    Close();
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        error = LastErrorText();
        return false;
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "不是普通文件";
        Close();
        return false;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool AppendFile::Append(const void* data, std::size_t size, std::string& error) {
    if (fd_ < 0) return false;
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd_, p + done, size - done, static_cast<off_t>(size_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n == 0 ? std::string("写入 0 字节") : LastErrorText();
            if (ftruncate(fd_, static_cast<off_t>(size_)) != 0) error += "（也无法截回原长）";
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    size_ += size;
    return true;
}

bool AppendFile::Sync(std::string& error) {
    if (fd_ >= 0 && fdatasync(fd_) != 0) {
        error = LastErrorText();
        return false;
    }
    return true;
}

bool TruncateFile(const std::filesystem::path& path, std::uint64_t size, std::string& error) {
    if (truncate(path.c_str(), static_cast<off_t>(size)) != 0) {
        error = LastErrorText();
        return false;
    }
    return true;
}

AcquisitionLock::~AcquisitionLock() { Release(); }

std::filesystem::path AcquisitionLock::LockFile() {
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run)
        return std::filesystem::path(run) / "zqd4830-gps-acquisition.lock";
    return TempDir() / ("zqd4830-gps-acquisition-" + std::to_string(getuid()) + ".lock");
}

bool AcquisitionLock::Acquire(std::string& holder) {
    if (handle_ != -1) return true;
    const auto path = LockFile();
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        holder = "无法打开锁文件 " + PathText(path) + "：" + LastErrorText();
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char text[256] = {};
        const ssize_t n = pread(fd, text, sizeof text - 1, 0);
        holder = n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string("另一进程");
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) holder.pop_back();
        close(fd);
        return false;
    }
    // Who holds it, for the message another process shows.
    std::string name = "进程 " + std::to_string(getpid());
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) name += "（" + PathText(exe.filename()) + "）";
    if (ftruncate(fd, 0) == 0 && pwrite(fd, name.data(), name.size(), 0) < 0) {
        // The name is only for messages.
    }
    handle_ = fd;
    return true;
}

void AcquisitionLock::Release() {
    if (handle_ == -1) return;
    const int fd = static_cast<int>(handle_);
    if (ftruncate(fd, 0) != 0) {
        // Only the holder's name is lost.
    }
    flock(fd, LOCK_UN);
    close(fd);
    handle_ = -1;
}

MappedFile::~MappedFile() {
    if (data_) munmap(const_cast<unsigned char*>(data_), static_cast<std::size_t>(size_));
}

bool MappedFile::Open(const std::filesystem::path& path, std::string& error, bool whole) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = LastErrorText();
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<unsigned long long>(st.st_size) > static_cast<unsigned long long>(SIZE_MAX / 2)) {
        error = "cannot map this file";
        close(fd);
        return false;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
    if (whole) flags |= MAP_POPULATE;  // map the cached pages in one go instead of one fault each
#endif
    void* p = mmap(nullptr, size, PROT_READ, flags, fd, 0);
    close(fd);
    if (p == MAP_FAILED) {
        error = LastErrorText();
        return false;
    }
    madvise(p, size, whole ? MADV_SEQUENTIAL : MADV_RANDOM);
    data_ = static_cast<const unsigned char*>(p);
    size_ = size;
    return true;
}

std::string Utf8ToGbk(const std::string& utf8) {
    iconv_t cd = iconv_open("CP936", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
    std::string out;
    out.reserve(utf8.size());
    char* in = const_cast<char*>(utf8.data());
    std::size_t in_left = utf8.size();
    char buffer[256];
    while (in_left > 0) {
        char* o = buffer;
        std::size_t o_left = sizeof buffer;
        const std::size_t r = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // Not representable (or not valid UTF-8): one "?" for the character.
            out.push_back('?');
            std::size_t skip = 1;
            const unsigned char lead = static_cast<unsigned char>(*in);
            if (lead >= 0xF0) skip = 4;
            else if (lead >= 0xE0) skip = 3;
            else if (lead >= 0xC0) skip = 2;
            if (skip > in_left) skip = in_left;
            in += skip;
            in_left -= skip;
        }
    }
    iconv_close(cd);
    return out;
}

#endif

}  // namespace zqd::platform
