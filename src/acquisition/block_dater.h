// Dating the blocks of one acquisition from the @@Ha messages in their scans:
// a block in which a valid message ended takes its time from that message
// (the scans since its first byte added), others carry the last timed
// block's time forward by their scans, and a time that does not continue the
// previous block by the continuity rule is a gap (or a step back).
#pragma once

#include <cstdint>
#include <vector>

#include "acquisition/block.h"
#include "acquisition/sink.h"
#include "gps/ha_stream.h"

namespace zqd::acq {

class BlockDater {
public:
    void Reset(const AcqConfig& config);
    // Dates block `block` (its sequence set) and says what it found: gap,
    // step back and failed messages, in that order.
    std::vector<Event> Date(Block& block);
    // A read failed: its scans are lost, so a message across them cannot be
    // completed.
    void Lost() { decoder_.Reset(); }
    const gps::HaCounters& Messages() const { return decoder_.Counters(); }

private:
    AcqConfig config_;
    gps::HaStreamDecoder decoder_;
    std::uint64_t reported_bad_ = 0;
    bool have_time_ = false;
    std::int64_t last_time_ns_ = 0;
    std::uint64_t last_timed_sequence_ = 0;
    bool have_end_ = false;
    std::int64_t last_end_ns_ = 0;  // end of the last timed block
};

}  // namespace zqd::acq
