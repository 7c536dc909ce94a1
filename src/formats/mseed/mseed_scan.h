// Reading miniSEED records with libmseed: a file read through once, record
// by record, and one record decoded again where its samples are needed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/status.h"

namespace zqd::mseed {

// One data record as the scan finds it.
struct RecordInfo {
    std::uint64_t offset = 0;  // in the file
    std::int32_t reclen = 0;
    std::string code;          // "NET.STA.LOC.CHA"
    std::int64_t start_ns = 0;
    double rate = 0;
    std::int64_t samples = 0;
    const std::int32_t* values = nullptr;  // the decoded samples (floats rounded to integers)
    int timing_quality = -1;   // blockette 1001's, -1 without one
};

struct ScanCounts {
    std::uint64_t records = 0;  // data records
    std::uint64_t bad = 0;      // places that hold no record (skipped by the smallest record length)
    std::uint64_t tail = 0;     // bytes at the end too short for a record (a record being written, or cut)
    std::uint64_t end = 0;      // where the last whole record ended: a scan of a grown file goes on from here
};

// Reads `path` through once (from byte `from` on), calling `on_record` for every data record in
// file order. A record whose start or end cannot be held in 64-bit
// nanoseconds is bad. kFileRefused (kSystem) when the file cannot be opened.
Status ScanFile(const std::filesystem::path& path, const std::function<void(const RecordInfo&)>& on_record,
                ScanCounts& counts, std::uint64_t from = 0);

// The start of the file's first data record, read from its first bytes
// only; empty when none is there (or the file cannot be read).
std::optional<std::int64_t> FirstRecordStart(const std::filesystem::path& path);

// Decodes single records again, keeping the last one's samples.
class RecordDecoder {
public:
    RecordDecoder() = default;
    ~RecordDecoder();
    RecordDecoder(const RecordDecoder&) = delete;
    RecordDecoder& operator=(const RecordDecoder&) = delete;
    // False when the bytes are no record of at least `samples` samples.
    bool Decode(const char* record, std::int32_t reclen, std::uint32_t samples);
    // Samples [from, from + n) of the record decoded last into `out`.
    void Copy(std::int64_t from, std::int64_t n, std::int32_t* out) const;

private:
    void* msr_ = nullptr;
};

// libmseed's own messages (English, on stderr) silenced, once for the
// program: what it finds wrong is counted and said by its callers.
void QuietLibmseed();

// The number of samples a miniSEED 2 record's fixed header gives (bytes
// 30-31, big-endian, as the packer writes them).
inline std::uint32_t HeaderSamples(const char* record) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(record[30])) << 8 | static_cast<unsigned char>(record[31]);
}

// Whether the bytes begin with a miniSEED record.
bool LooksLikeMseed(const char* bytes, std::size_t size);
// Whether a regular file begins with a miniSEED record.
bool FileLooksLikeMseed(const std::filesystem::path& path);

}  // namespace zqd::mseed
