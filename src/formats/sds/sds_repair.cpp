#include "formats/sds/sds_repair.h"

#include <libmseed.h>

#include <fstream>
#include <map>

#include "formats/mseed/mseed_scan.h"
#include "platform/files.h"

namespace zqd::sds {

std::vector<TailRepair> RepairTails(const std::filesystem::path& root, int record_length) {
    mseed::QuietLibmseed();
    std::vector<TailRepair> repairs;
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
        repairs.push_back({path, size - keep, keep / reclen, platform::TruncateFile(path, keep)});
    }
    return repairs;
}

}  // namespace zqd::sds
