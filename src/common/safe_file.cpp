#include "common/safe_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <vector>

namespace zqd {

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

// One lock file per folder, kept: writers of the same folder take turns.
// (Removing a lock file after use would let a third writer lock a new file
// while a second still waits on the old one.)
constexpr const char* kLockName = ".zqd4830-gps.lock";
std::filesystem::path LockPath(const std::filesystem::path& target) { return target.parent_path() / kLockName; }

}  // namespace

bool ReadableFile(const std::filesystem::path& path, std::string& why) {
    std::string error;
    const auto kind = platform::KindOf(path, error);
    if (kind == platform::FileKind::kRegular) return true;
    if (kind == platform::FileKind::kMissing)
        why = "文件不存在";
    else if (kind == platform::FileKind::kDirectory)
        why = "是文件夹，不是文件";
    else if (kind == platform::FileKind::kUnknown)
        why = "无法访问（" + error + "）";
    else
        why = "不是普通文件，是" + platform::KindText(kind);
    return false;
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

bool SafeFileWriter::Fail(const std::string& what) {
    error_ = what;
    Abandon();
    return false;
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

bool FolderBatch::Begin() {
    bool busy = false;
    std::string error;
    if (!lock_.Acquire(folder_ / kLockName, kWriterWaitMs, busy, error)) {
        error_ = busy ? "文件夹 " + platform::PathText(folder_) + " 正被另一程序写入（" + error + "）"
                      : "无法锁定文件夹 " + platform::PathText(folder_) + "：" + error;
        return false;
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
    return true;
}

bool FolderBatch::Finish() {
    const bool ok = platform::SyncFolder(folder_);
    if (!ok) error_ = "无法把文件夹 " + platform::PathText(folder_) + " 写入磁盘：" + platform::LastErrorText();
    lock_.Release();
    return ok;
}

bool SafeFileWriter::Open() {
    const std::string name = platform::PathText(target_);
    std::error_code ec;
    std::string error;
    // What the name leads to, through any links.
    const auto kind = platform::KindOf(target_, error);
    if (kind == platform::FileKind::kDirectory) return Fail(name + " 是文件夹，不能写成文件");
    if (kind == platform::FileKind::kUnknown) return Fail("无法访问 " + name + "：" + error);
    if (kind != platform::FileKind::kMissing && kind != platform::FileKind::kRegular)
        return Fail(name + " 不是普通文件，是" + platform::KindText(kind) + "，未写入");
    resolved_ = target_;
    if (std::filesystem::is_symlink(target_, ec)) {
        // Written through: the file the link points to, in its own folder.
        resolved_ = std::filesystem::weakly_canonical(target_, ec);
        if (ec) return Fail("无法解析链接 " + name + "：" + ec.message());
    }
    existed_ = kind == platform::FileKind::kRegular;
    if (existed_ && !platform::MayWrite(resolved_, error)) return Fail("没有写入 " + name + " 的权限：" + error);

    if (!in_batch && !lock_.Acquire(LockPath(resolved_), kWriterWaitMs, busy_, error))
        return Fail(busy_ ? name + " 正被另一程序写入（" + error + "）"
                          : "无法锁定 " + name + "（锁文件 " + platform::PathText(LockPath(resolved_)) + "：" +
                                error + "）");
    if (!in_batch) RemoveStaleTemporaries();
    for (int attempt = 0; attempt < 8 && !file_; ++attempt) {
        temp_ = UniqueTemp(resolved_);
        file_ = platform::CreateNewFile(temp_, error);
        if (!file_ && errno != EEXIST) break;
    }
    if (!file_) return Fail("无法创建临时文件 " + platform::PathText(temp_) + "：" + error);
    written_ = 0;
    return true;
}

bool SafeFileWriter::Write(const void* data, std::size_t size) {
    if (!file_) return false;
    if (fail_after_bytes >= 0 && written_ + size > static_cast<std::uint64_t>(fail_after_bytes)) {
        errno = ENOSPC;
        return Fail("写入失败：" + platform::LastErrorText());
    }
    if (std::fwrite(data, 1, size, file_) != size) return Fail("写入失败：" + platform::LastErrorText());
    written_ += size;
    return true;
}

bool SafeFileWriter::CopyTargetTail(std::uint64_t offset) {
    std::error_code ec;
    if (!existed_) return true;
    const auto old_size = std::filesystem::file_size(resolved_, ec);
    if (ec || old_size <= offset) return true;  // nothing beyond the new end
    std::FILE* old = platform::OpenFile(resolved_, "rb");
    if (!old) return Fail("无法读取原文件：" + platform::LastErrorText());
    bool ok = platform::SeekTo(old, offset);
    std::vector<char> buffer(1 << 20);
    while (ok) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), old);
        if (got > 0 && !Write(buffer.data(), got)) {
            std::fclose(old);
            return false;
        }
        if (got < buffer.size()) {
            ok = !std::ferror(old);
            break;
        }
    }
    std::fclose(old);
    if (!ok) return Fail("读取原文件失败：" + platform::LastErrorText());
    return true;
}

bool SafeFileWriter::Commit() {
    if (!file_) return false;
    if (!platform::SyncData(file_)) return Fail("写入磁盘失败：" + platform::LastErrorText());
    const int closed = std::fclose(file_);
    file_ = nullptr;
    std::error_code ec;
    auto drop = [&](const std::string& why) {
        error_ = why;
        std::filesystem::remove(temp_, ec);
        lock_.Release();
        return false;
    };
    if (closed != 0) return drop("关闭文件失败：" + platform::LastErrorText());
    std::string why;
    if (existed_ && !platform::CopyPermissions(resolved_, temp_, why)) return drop("无法设置文件权限：" + why);
    if (!platform::ReplaceFileSafely(temp_, resolved_, why, !in_batch)) return drop("无法替换原文件：" + why);
    lock_.Release();
    return true;
}

}  // namespace zqd
