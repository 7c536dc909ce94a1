#include "platform/safe_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace zqd {

using Code = Status::Code;
using Why = Status::Why;

namespace {

// Temporary names: ".<name>.<process>-<count>-<clock>.tmp" beside the target.
std::string TempPrefix(const std::filesystem::path& target) { return "." + platform::PathText(target.filename()) + "."; }

std::filesystem::path UniqueTemp(const std::filesystem::path& target) {
    static std::atomic<unsigned long> counter{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return target.parent_path() /
           platform::PathFromUtf8(TempPrefix(target) + std::to_string(platform::ProcessId()) + "-" +
                                  std::to_string(++counter) + "-" + std::to_string(ticks % 1000000007) + ".tmp");
}

// Writers of the same folder take turns on the folder's lock.
std::filesystem::path FolderOf(const std::filesystem::path& target) {
    return target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
}

Status Failed(Why why, const std::filesystem::path& what) {
    return Status::Fail(Code::kWriteFailed, why).About(platform::PathText(what));
}

}  // namespace

Status ReadableFile(const std::filesystem::path& path) {
    std::string system;
    const auto kind = platform::KindOf(path, &system);
    switch (kind) {
    case platform::FileKind::kRegular: return Status::Ok();
    case platform::FileKind::kMissing: return Status::Fail(Code::kFileRefused, Why::kMissing);
    case platform::FileKind::kDirectory: return Status::Fail(Code::kFileRefused, Why::kIsFolder);
    case platform::FileKind::kUnknown: return Status::Fail(Code::kFileRefused, Why::kUnreachable).Said(system);
    default: return Status::Fail(Code::kFileRefused, Why::kNotRegular).Value(static_cast<int>(kind));
    }
}

Status WriteWhole(const std::filesystem::path& path, const std::string& bytes, bool in_batch, bool durable) {
    SafeFileWriter w(path);
    w.in_batch = in_batch;
    w.durable = durable;
    Status s = w.Open();
    if (s.ok()) s = w.Write(bytes.data(), bytes.size());
    if (s.ok()) s = w.Commit();
    return s;
}

SafeFileWriter::SafeFileWriter(std::filesystem::path target) : target_(std::move(target)) {}

SafeFileWriter::~SafeFileWriter() { Abandon(); }

void SafeFileWriter::Abandon() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
        std::error_code ec;
        std::filesystem::remove(temp_, ec);
    }
    lock_.Release();
}

Status SafeFileWriter::Fail(Status why) {
    Abandon();
    return why;
}

void SafeFileWriter::RemoveStaleTemporaries() {
    // Under the lock no other writer of this target is at work: what is left
    // under our temporary names belongs to writers that died.
    const std::string prefix = TempPrefix(resolved_);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(resolved_.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = platform::PathText(it->path().filename());
        if (name.size() > prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - 4, 4, ".tmp") == 0 && it->is_regular_file(ec) && !it->is_symlink(ec)) {
            std::error_code rm;
            std::filesystem::remove(it->path(), rm);
        }
    }
}

Status FolderBatch::Begin() {
    if (Status locked = lock_.Acquire(folder_, kWriterWaitMs); !locked.ok()) {
        const bool busy = locked.code == Code::kBusy;
        return Status::Fail(busy ? Code::kBusy : Code::kWriteFailed, busy ? Why::kFolderBusy : Why::kFolderLockFailed)
            .About(platform::PathText(folder_))
            .Because(std::move(locked));
    }
    // ".<name>.<process>-<count>-<clock>.tmp"; under the folder's lock no
    // other writer is between creating and renaming one.
    auto digits = [](const std::string& s, std::size_t from, std::size_t to) {
        return from < to && s.find_first_not_of("0123456789", from) >= to;
    };
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = platform::PathText(it->path().filename());
        if (name.size() < 12 || name[0] != '.' || name.compare(name.size() - 4, 4, ".tmp") != 0) continue;
        const std::size_t stem_end = name.size() - 4;
        const std::size_t dot = name.rfind('.', stem_end - 1);
        if (dot == std::string::npos || dot == 0) continue;
        const std::size_t d1 = name.find('-', dot + 1), d2 = d1 == std::string::npos ? d1 : name.find('-', d1 + 1);
        if (d2 == std::string::npos || d2 > stem_end || !digits(name, dot + 1, d1) || !digits(name, d1 + 1, d2) ||
            !digits(name, d2 + 1, stem_end))
            continue;
        if (it->is_regular_file(ec) && !it->is_symlink(ec)) {
            std::error_code rm;
            std::filesystem::remove(it->path(), rm);
        }
    }
    return Status::Ok();
}

Status FolderBatch::Finish(bool sync) {
    Status synced = sync ? platform::SyncFolder(folder_) : Status::Ok();
    lock_.Release();
    if (synced.ok()) return synced;
    return Failed(Why::kFolderSyncFailed, folder_).Said(synced.text);
}

Status SafeFileWriter::Open() {
    std::error_code ec;
    std::string system;
    // What the name leads to, through any links.
    const auto kind = platform::KindOf(target_, &system);
    if (kind == platform::FileKind::kDirectory) return Fail(Failed(Why::kTargetIsFolder, target_));
    if (kind == platform::FileKind::kUnknown) return Fail(Failed(Why::kTargetUnreachable, target_).Said(system));
    if (kind != platform::FileKind::kMissing && kind != platform::FileKind::kRegular)
        return Fail(Failed(Why::kTargetNotRegular, target_).Value(static_cast<int>(kind)));
    resolved_ = target_;
    if (std::filesystem::is_symlink(target_, ec)) {
        // Written through: the file the link points to, in its own folder.
        resolved_ = std::filesystem::weakly_canonical(target_, ec);
        if (ec) return Fail(Failed(Why::kCannotResolveLink, target_).Said(ec.message()));
    }
    existed_ = kind == platform::FileKind::kRegular;
    if (existed_) {
        if (Status may = platform::MayWrite(resolved_); !may.ok())
            return Fail(Failed(Why::kNoWritePermission, target_).Because(std::move(may)));
    }
    if (platform::KindOf(FolderOf(resolved_)) == platform::FileKind::kMissing)
        return Fail(Failed(Why::kTargetFolderMissing, target_).And(platform::PathText(FolderOf(resolved_))));
    if (!in_batch) {
        if (Status locked = lock_.Acquire(FolderOf(resolved_), kWriterWaitMs); !locked.ok()) {
            if (locked.code == Code::kBusy) {
                Status busy = Failed(Why::kTargetBusy, target_).Because(std::move(locked));
                busy.code = Code::kBusy;
                return Fail(std::move(busy));
            }
            return Fail(Failed(Why::kCannotLock, target_).And(platform::FolderLockName(FolderOf(resolved_))).Because(std::move(locked)));
        }
        RemoveStaleTemporaries();
    }
    Status created;
    for (int attempt = 0; attempt < 8 && !file_; ++attempt) {
        temp_ = UniqueTemp(resolved_);
        auto made = platform::CreateNewFile(temp_);
        if (made) {
            file_ = *made;
            break;
        }
        created = made.status();
        if (created.why != Why::kNameTaken) break;
    }
    if (!file_) return Fail(Failed(Why::kCannotCreateTemp, temp_).Because(std::move(created)));
    written_ = 0;
    return Status::Ok();
}

Status SafeFileWriter::Write(const void* data, std::size_t size) {
    if (!file_) return Failed(Why::kNotOpen, target_);
    if (fail_after_bytes >= 0 && written_ + size > static_cast<std::uint64_t>(fail_after_bytes))
        return Fail(Failed(Why::kWriteError, target_).Said(std::strerror(ENOSPC)));
    if (std::fwrite(data, 1, size, file_) != size) return Fail(Failed(Why::kWriteError, target_).Said(platform::LastErrorText()));
    written_ += size;
    return Status::Ok();
}

Status SafeFileWriter::CopyTargetTail(std::uint64_t offset) {
    std::error_code ec;
    if (!existed_) return Status::Ok();
    const auto old_size = std::filesystem::file_size(resolved_, ec);
    if (ec || old_size <= offset) return Status::Ok();  // nothing beyond the new end
    std::FILE* old = platform::OpenFile(resolved_, "rb");
    if (!old) return Fail(Failed(Why::kReadOriginalFailed, resolved_).Said(platform::LastErrorText()));
    bool ok = platform::SeekTo(old, offset);
    std::vector<char> buffer(1 << 20);
    while (ok) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), old);
        if (got > 0) {
            if (Status s = Write(buffer.data(), got); !s.ok()) {
                std::fclose(old);
                return s;
            }
        }
        if (got < buffer.size()) {
            ok = !std::ferror(old);
            break;
        }
    }
    std::fclose(old);
    if (!ok) return Fail(Failed(Why::kReadOriginalError, resolved_).Said(platform::LastErrorText()));
    return Status::Ok();
}

Status SafeFileWriter::Commit() {
    if (!file_) return Failed(Why::kNotOpen, target_);
    if (Status synced = durable ? platform::SyncData(file_) : Status::Ok(); !synced.ok())
        return Fail(Failed(Why::kSyncFailed, target_).Because(std::move(synced)));
    const int closed = std::fclose(file_);
    file_ = nullptr;
    std::error_code ec;
    auto drop = [&](Status why) {
        std::filesystem::remove(temp_, ec);
        lock_.Release();
        return why;
    };
    if (closed != 0) return drop(Failed(Why::kCloseFailed, target_).Said(platform::LastErrorText()));
    if (existed_) {
        if (Status s = platform::CopyPermissions(resolved_, temp_); !s.ok())
            return drop(Failed(Why::kPermissionsFailed, target_).Because(std::move(s)));
    }
    if (Status s = platform::ReplaceFileSafely(temp_, resolved_, !in_batch && durable); !s.ok())
        return drop(Failed(Why::kReplaceFailed, target_).Because(std::move(s)));
    lock_.Release();
    return Status::Ok();
}

}  // namespace zqd
