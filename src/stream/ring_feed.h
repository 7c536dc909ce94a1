// The station's records into the ring, as they are made: packed once, the
// same bytes in the same order on the wire as on the disk, and never waiting
// for the disk.
#pragma once

#include <functional>
#include <string>

#include "records/record.h"
#include "stream/record_ring.h"

namespace zqd::stream {

// "XX_ZQD01_00_GY0": the stream's name on the wire (DataLink's, and the ring's).
std::string WireName(const StreamCodes& codes);

// "00_G_Y_0" for the record of stream "XX_ZQD01_00_GY0"; and its parts.
std::string StreamId(const std::string& wire);
std::string LocationOf(const std::string& wire);
std::string ChannelOf(const std::string& wire);

// Appends every record of 512 bytes to `ring`; a ring that refuses is said
// through `failed` (once until it takes records again).
class RingFeed final : public records::RecordSubscriber {
public:
    RingFeed(RecordRing& ring, std::function<void(const Status&)> failed) : ring_(ring), failed_(std::move(failed)) {}
    void OnRecord(const records::RecordPtr& record) override;
    void OnLost(std::uint64_t records, std::uint64_t samples) override;

private:
    RecordRing& ring_;
    std::function<void(const Status&)> failed_;
    bool refusing_ = false;
};

}  // namespace zqd::stream
