// The station's records as they are made: each one miniSEED record, packed
// once and shared read-only by every consumer (the disk, the ring of live
// data), so that what clients are served is byte for byte what the archive
// holds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/stream_codes.h"

namespace zqd::records {

struct Record {
    std::shared_ptr<const StreamCodes> codes;  // its stream's, shared by the stream's records
    std::string bytes;                         // the whole record
    std::int64_t start_ns = 0, end_ns = 0;     // its first and last sample
    std::uint64_t samples = 0;
    std::int64_t day = 0;                      // days since 1970 of its first sample (UTC)
};
using RecordPtr = std::shared_ptr<const Record>;

// Marks between the records: a flush (what was packed so far is all out,
// short records too: a disk syncs), and the end of a run.
enum class Mark { kFlush, kEnd };

class RecordSubscriber {
public:
    virtual ~RecordSubscriber() = default;
    virtual void OnRecord(const RecordPtr& record) = 0;
    virtual void OnMark(Mark) {}
    // `records` records (of `samples` samples) never reached this subscriber:
    // its queue was full.
    virtual void OnLost(std::uint64_t /*records*/, std::uint64_t /*samples*/) {}
};

}  // namespace zqd::records
