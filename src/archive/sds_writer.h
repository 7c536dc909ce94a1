// An SDS archive: ROOT/YEAR/NET/STA/CHAN.D/NET.STA.LOC.CHAN.D.YEAR.DOY, one
// file per channel and day, whole records appended.
#pragma once

#include <climits>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/mseed_packer.h"
#include "common/platform.h"
#include "common/status.h"

namespace zqd::archive {

class SdsWriter {
public:
    explicit SdsWriter(std::filesystem::path root) : root_(std::move(root)) {}

    // The day file of a channel for a time.
    static std::filesystem::path DayFile(const std::filesystem::path& root, const StreamCodes& codes, std::int64_t t_ns);

    // Appends one record to the day file of its start time. `opened` gets the
    // path when a day file is opened (a new day, or the first record).
    Status Append(const StreamCodes& codes, std::int64_t start_ns, const char* record, int length,
                  std::filesystem::path* opened = nullptr);
    // Flushes every open file to disk.
    Status Sync();
    void CloseAll() { files_.clear(); }

    std::uint64_t BytesWritten() const { return bytes_; }
    std::uint64_t FilesOpened() const { return opened_; }

    // Cuts a torn tail off the newest day file of every channel under `root`:
    // a length that is not whole records, or last records that do not parse.
    // One line a file that was cut.
    static std::vector<std::string> RepairTails(const std::filesystem::path& root, int record_length);

private:
    struct Open {
        std::int64_t day = INT64_MIN;  // days since 1970 of the open file
        std::filesystem::path path;
        platform::AppendFile file;
    };
    std::filesystem::path root_;
    std::map<std::string, Open> files_;  // by stream
    std::uint64_t bytes_ = 0;
    std::uint64_t opened_ = 0;
};

}  // namespace zqd::archive
