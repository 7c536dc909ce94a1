#include "common/safe_file.h"

#include <cerrno>
#include <vector>

#include "common/platform.h"

namespace zqd {

SafeFileWriter::SafeFileWriter(std::filesystem::path target) : target_(std::move(target)) {
    temp_ = target_;
    temp_ += ".tmp";
}

SafeFileWriter::~SafeFileWriter() { Abandon(); }

void SafeFileWriter::Abandon() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
        std::error_code ec;
        std::filesystem::remove(temp_, ec);
    }
}

bool SafeFileWriter::Fail(const std::string& what) {
    error_ = what;
    Abandon();
    return false;
}

bool SafeFileWriter::Open() {
    file_ = platform::OpenFile(temp_, "wb");
    if (!file_) {
        error_ = "无法创建临时文件 " + platform::PathText(temp_) + "：" + platform::LastErrorText();
        return false;
    }
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
    const auto old_size = std::filesystem::file_size(target_, ec);
    if (ec || old_size <= offset) return true;  // no old file, or nothing beyond the new end
    std::FILE* old = platform::OpenFile(target_, "rb");
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
    if (!platform::SyncToDisk(file_)) return Fail("写入磁盘失败：" + platform::LastErrorText());
    const int closed = std::fclose(file_);
    file_ = nullptr;
    std::error_code ec;
    if (closed != 0) {
        error_ = "关闭文件失败：" + platform::LastErrorText();
        std::filesystem::remove(temp_, ec);
        return false;
    }
    std::string why;
    if (!platform::ReplaceFileSafely(temp_, target_, why)) {
        error_ = "无法替换原文件：" + why;
        std::filesystem::remove(temp_, ec);
        return false;
    }
    return true;
}

}  // namespace zqd
