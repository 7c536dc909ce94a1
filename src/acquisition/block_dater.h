// Dating the blocks of one acquisition from the @@Ha messages in their scans:
// a block in which a valid message ended takes its time from that message
// (the scans since its first byte added), others carry the last timed
// block's time forward by their scans, and a time that does not continue the
// previous block by the continuity rule is a gap (or a step back). A gap of
// whole blocks is explained where it can be: by the reads that failed since
// (already said), or, after a poll that found every buffer of the card
// filled, by buffers the card overwrote (an overflow); any other is a jump
// of the GPS time.
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
    // overflow or step back, then failed messages. `ring_full`: the poll
    // that brought it found all of the card's buffers filled.
    std::vector<Event> Date(Block& block, bool ring_full = false);
    // A read failed: its scans are lost, so a message across them cannot be
    // completed.
    void Lost() {
        decoder_.Reset();
        ++lost_reads_;
    }
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
    std::int64_t lost_reads_ = 0;   // failed reads since the last timed block
};

}  // namespace zqd::acq
