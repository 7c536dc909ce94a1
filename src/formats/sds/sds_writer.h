// Appending whole miniSEED records to the day files of an SDS archive.
#pragma once

#include <climits>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/status.h"
#include "formats/stream_codes.h"
#include "platform/files.h"

namespace zqd::sds {

class SdsWriter {
public:
    explicit SdsWriter(std::filesystem::path root) : root_(std::move(root)) {}

    // Appends records to the day file of their start time (kWriteFailed with
    // kDayFileOpenFailed or kDayFileWriteFailed). `created` gets the path
    // when a day file is begun (one that did not exist, or was empty).
    Status Append(const StreamCodes& codes, std::int64_t start_ns, const char* records, int length,
                  std::filesystem::path* created = nullptr);
    // Flushes every open file to disk.
    Status Sync();
    void CloseAll() { files_.clear(); }

    std::uint64_t BytesWritten() const { return bytes_; }
    std::uint64_t FilesOpened() const { return opened_; }

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

}  // namespace zqd::sds
