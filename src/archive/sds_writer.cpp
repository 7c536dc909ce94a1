#include "archive/sds_writer.h"

#include <libmseed.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "common/utc.h"

namespace zqd::archive {

std::filesystem::path SdsWriter::DayFile(const std::filesystem::path& root, const StreamCodes& c, std::int64_t t_ns) {
    const utc::Civil day = utc::FromNs(t_ns);
    const std::int64_t doy = utc::DaysFromCivil(day.year, day.month, day.day) - utc::DaysFromCivil(day.year, 1, 1) + 1;
    char tail[40];
    std::snprintf(tail, sizeof tail, ".D.%04lld.%03lld", static_cast<long long>(day.year), static_cast<long long>(doy));
    return root / std::to_string(day.year) / c.network / c.station / (c.channel + ".D") /
           (c.network + "." + c.station + "." + c.location + "." + c.channel + tail);
}

Status SdsWriter::Append(const StreamCodes& c, std::int64_t start_ns, const char* record, int length,
                         std::filesystem::path* opened) {
    const std::string key = c.network + "." + c.station + "." + c.location + "." + c.channel;
    Open& f = files_[key];
    std::string error;
    const std::int64_t day = utc::FloorDiv(start_ns, utc::kNsPerDay);
    if (!f.file.IsOpen() || f.day != day) {
        const auto path = DayFile(root_, c, start_ns);
        f.file.Close();
        f.day = day;
        std::error_code ec;
        std::filesystem::create_directories(path.parent_path(), ec);
        if (!f.file.Open(path, error))
            return Status::Fail(Status::Code::kWriteFailed, "无法打开 " + platform::PathText(path) + "：" + error);
        f.path = path;
        ++opened_;
        if (opened) *opened = path;
    }
    if (!f.file.Append(record, static_cast<std::size_t>(length), error))
        return Status::Fail(Status::Code::kWriteFailed, "写入 " + platform::PathText(f.path) + " 失败：" + error);
    bytes_ += static_cast<std::uint64_t>(length);
    return Status::Ok();
}

Status SdsWriter::Sync() {
    for (auto& [key, f] : files_) {
        std::string error;
        if (f.file.IsOpen() && !f.file.Sync(error))
            return Status::Fail(Status::Code::kWriteFailed, "写入磁盘 " + platform::PathText(f.path) + " 失败：" + error);
    }
    return Status::Ok();
}

std::vector<std::string> SdsWriter::RepairTails(const std::filesystem::path& root, int record_length) {
    std::vector<std::string> lines;
    std::map<std::filesystem::path, std::filesystem::path> newest;  // channel folder -> newest day file
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
        const auto folder = it->path().parent_path();
        if (folder.extension() != ".D") continue;
        auto& n = newest[folder];
        if (n.empty() || it->path().filename() > n.filename()) n = it->path();
    }
    const auto reclen = static_cast<std::uint64_t>(record_length);
    std::vector<char> record(reclen);
    for (const auto& [folder, path] : newest) {
        const std::uint64_t size = std::filesystem::file_size(path, ec);
        if (ec) continue;
        std::uint64_t keep = size / reclen * reclen;
        // Whole records from the end that do not parse are cut too.
        std::ifstream in(path, std::ios::binary);
        while (keep >= reclen) {
            in.clear();
            in.seekg(static_cast<std::streamoff>(keep - reclen));
            if (!in.read(record.data(), static_cast<std::streamsize>(reclen))) break;
            MSRecord* msr = nullptr;
            const int r = msr_parse(record.data(), static_cast<int>(reclen), &msr, static_cast<int>(reclen), 1, 0);
            msr_free(&msr);
            if (r == MS_NOERROR) break;
            keep -= reclen;
        }
        in.close();
        if (keep == size) continue;
        std::string error;
        const std::string name = platform::PathText(path);
        if (platform::TruncateFile(path, keep, error))
            lines.push_back("修复 " + name + "：截去尾部不完整的 " + std::to_string(size - keep) + " 字节，保留 " +
                            std::to_string(keep / reclen) + " 个完整记录");
        else
            lines.push_back("无法修复 " + name + "：" + error);
    }
    return lines;
}

}  // namespace zqd::archive
