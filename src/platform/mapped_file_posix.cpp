#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "platform/mapped_file.h"
#include "platform/text.h"

namespace zqd::platform {

MappedFile::~MappedFile() {
    if (data_) munmap(const_cast<unsigned char*>(data_), static_cast<std::size_t>(size_));
}

Status MappedFile::Open(const std::filesystem::path& path, bool whole) {
    // Non-blocking: a FIFO put where a file was expected must not hang the open.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Status::Fail(Status::Code::kFileRefused, Status::Why::kSystem).Said(LastErrorText());
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<unsigned long long>(st.st_size) > static_cast<unsigned long long>(SIZE_MAX / 2)) {
        close(fd);
        return Status::Fail(Status::Code::kFileRefused, Status::Why::kCannotMap);
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    int flags = MAP_PRIVATE;
#ifdef MAP_POPULATE
    if (whole) flags |= MAP_POPULATE;  // map the cached pages in one go instead of one fault each
#endif
    void* p = mmap(nullptr, size, PROT_READ, flags, fd, 0);
    Status failed = p == MAP_FAILED ? Status::Fail(Status::Code::kFileRefused, Status::Why::kSystem).Said(LastErrorText())
                                    : Status::Ok();
    close(fd);
    if (!failed.ok()) return failed;
    madvise(p, size, whole ? MADV_SEQUENTIAL : MADV_RANDOM);
    data_ = static_cast<const unsigned char*>(p);
    size_ = size;
    return Status::Ok();
}

}  // namespace zqd::platform
