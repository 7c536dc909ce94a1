#include "platform/files.h"

#include <array>
#include <atomic>

namespace zqd::platform {

using Code = Status::Code;
using Why = Status::Why;

namespace faults {

namespace {
std::array<std::atomic<int>, 3> pending{};
}  // namespace

void FailNext(Op op, int times) { pending[static_cast<std::size_t>(op)] += times; }

void Clear() {
    for (auto& p : pending) p = 0;
}

bool Take(Op op) {
    auto& p = pending[static_cast<std::size_t>(op)];
    for (int n = p.load(); n > 0;)
        if (p.compare_exchange_weak(n, n - 1)) return true;
    return false;
}

}  // namespace faults

FileKind KindOf(const std::filesystem::path& path, std::string* system) {
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
        if (system) *system = ec ? ec.message() : "unknown";
        return FileKind::kUnknown;
    default: break;
    }
    if (ec) {
        if (system) *system = ec.message();
        return FileKind::kUnknown;
    }
    return FileKind::kOther;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

std::int64_t FreeBytes(const std::filesystem::path& path) {
    std::error_code ec;
    const auto info = std::filesystem::space(path, ec);
    return ec ? -1 : static_cast<std::int64_t>(info.available);
}

Status CopyPermissions(const std::filesystem::path& from, const std::filesystem::path& path) {
    std::error_code ec;
    const auto perms = std::filesystem::status(from, ec).permissions();
    if (!ec) std::filesystem::permissions(path, perms, std::filesystem::perm_options::replace, ec);
    if (ec) return Status::Fail(Code::kWriteFailed, Why::kSystem).Said(ec.message());
    return Status::Ok();
}

Status SyncData(std::FILE* file) {
    std::string system;
    if (faults::Take(faults::Op::kSync)) return Status::Fail(Code::kWriteFailed, Why::kSystem).Said("Input/output error");
    if (!detail::SyncStdio(file, system)) return Status::Fail(Code::kWriteFailed, Why::kSystem).Said(system);
    return Status::Ok();
}

AppendFile::~AppendFile() { Close(); }

void AppendFile::Close() {
    if (fd_ >= 0) detail::CloseFd(fd_);
    fd_ = -1;
}

Status AppendFile::Open(const std::filesystem::path& path) {
    Close();
    std::string system;
    fd_ = detail::OpenForAppend(path, size_, system);
    if (fd_ == -2) {
        fd_ = -1;
        return Status::Fail(Code::kWriteFailed, Why::kNotAFile);
    }
    if (fd_ < 0) return Status::Fail(Code::kWriteFailed, Why::kSystem).Said(system);
    return Status::Ok();
}

Status AppendFile::Append(const void* data, std::size_t size) {
    if (fd_ < 0) return Status::Fail(Code::kWriteFailed, Why::kNotOpen);
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        std::string system;
        long long n = -1;
        if (faults::Take(faults::Op::kWrite))
            system = "No space left on device";
        else
            n = detail::WriteAt(fd_, p + done, size - done, size_ + done, system);
        if (n <= 0) {
            Status failed = n == 0 ? Status::Fail(Code::kWriteFailed, Why::kWroteNothing)
                                   : Status::Fail(Code::kWriteFailed, Why::kSystem).Said(system);
            // What was written of this record goes again, so the file keeps whole records.
            std::string cut_words;
            const bool cut = !faults::Take(faults::Op::kCut) && detail::CutTo(fd_, size_, cut_words);
            if (!cut) return Status::Fail(Code::kWriteFailed, Why::kCutBackFailed).Because(std::move(failed));
            return failed;
        }
        done += static_cast<std::size_t>(n);
    }
    size_ += size;
    return Status::Ok();
}

Status AppendFile::Sync() {
    std::string system;
    if (fd_ < 0) return Status::Ok();
    if (faults::Take(faults::Op::kSync)) return Status::Fail(Code::kWriteFailed, Why::kSystem).Said("Input/output error");
    if (!detail::SyncFd(fd_, system)) return Status::Fail(Code::kWriteFailed, Why::kSystem).Said(system);
    return Status::Ok();
}

}  // namespace zqd::platform
