// Dating the blocks of one acquisition. With the receiver's 1PPS pulse wired
// to a channel, every pulse is found and its edge located to a fraction of a
// sample (PulseFinder), labelled with its second (ClockModel), and a block's
// first scan is dated between the edges around it; without it (or when told
// to, or when the channel gives no pulse), a block in which a valid @@Ha
// message ended takes its time from that message (the scans since its first
// byte added), and others carry the last time forward at the measured rate.
//
// The first blocks of a run may wait (TimingConfig::first_time_wait_s) for
// the first good time, the pulse locked or else a message, and are then
// dated back from it: no block is dated from the computer's clock while a
// GPS time follows.
//
// A time that does not continue the previous block by the continuity rule
// is a gap (or a step back), explained where it can be: by the reads that
// failed since (already said), or, after a poll that found every buffer of
// the card filled, by buffers the card overwrote (an overflow); any other is
// a jump of the GPS time. A series whose samples, extrapolated at the
// nominal rate, drift farther than the tolerance from the measured times is
// torn at the block (a time tear) and begins again at the right time.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "acquisition/block.h"
#include "acquisition/clock_model.h"
#include "acquisition/pulse_finder.h"
#include "acquisition/sink.h"
#include "acquisition/timing.h"
#include "gps/ha_stream.h"

namespace zqd::acq {

class BlockDater {
public:
    void Reset(const AcqConfig& config, const TimingConfig& timing = {});
    // Takes block `block` (its sequence set) and appends to `out`, in order,
    // what it found (gap, overflow or step back, failed messages, the
    // clock's events) and the blocks now dated: this one, or none while the
    // first blocks wait for a time, or those that waited and this one.
    // `ring_full`: the poll that brought it found all of the card's buffers
    // filled; `poll_start`: it is the poll's first (scans may be missing
    // before it).
    void Date(std::shared_ptr<Block> block, std::vector<Item>& out, bool ring_full = false, bool poll_start = false);
    // The acquisition ends: blocks still waiting are dated from what there is.
    void Finish(std::vector<Item>& out);
    // A read failed: its scans are lost, so a message across them cannot be
    // completed, nor a pulse's edge located.
    void Lost() {
        decoder_.Reset();
        pulse_.Lost();
        ++lost_reads_;
    }
    const gps::HaCounters& Messages() const { return decoder_.Counters(); }
    const TimingConfig& Timing() const { return timing_; }

private:
    struct Waiting {
        std::shared_ptr<Block> block;
        std::optional<gps::HaFix> fix;  // the last message that ended in it
        bool ring_full = false;
        std::int64_t lost_reads = 0;  // failed reads just before it
    };
    // Where the pulse dates the data from: wired, locatable and found.
    bool PulseDates() const;
    bool GoodTime() const;
    void Place(Waiting& w, std::vector<Item>& out);
    // The block's first scan dated by the best there is: the pulse, the
    // message, carried from the last, or dated back from the first message.
    ClockSource Date(Waiting& w);
    // Whether a block of its own time does not continue the last one; the
    // event that says so (none for reads already said to have failed).
    bool Step(const Waiting& w, ClockSource source, std::vector<Event>& events) const;
    void Clock(Block& block);
    void Series(const Block& block, bool stepped, std::vector<Event>& events);

    AcqConfig config_;
    TimingConfig timing_;
    gps::HaStreamDecoder decoder_;
    PulseFinder pulse_;
    ClockModel clock_;
    bool pulse_usable_ = false;   // wired, on the card, wide enough to locate
    bool no_pulse_ = false;       // said to carry no pulse
    bool said_narrow_ = false;
    std::vector<gps::HaFix> fixes_;
    std::vector<double> edges_;
    std::optional<gps::HaFix> first_fix_;  // the run's first message, for blocks before it
    std::deque<Waiting> waiting_;          // blocks before the first good time
    bool holding_ = false;
    std::uint64_t reported_bad_ = 0;
    bool have_time_ = false;
    std::int64_t last_time_ns_ = 0;
    std::uint64_t last_timed_sequence_ = 0;
    bool have_end_ = false;
    std::int64_t last_end_ns_ = 0;  // end of the last timed block
    std::int64_t lost_reads_ = 0;   // failed reads since the last block
    ClockSource last_source_ = ClockSource::kNone;
    // The clock's quality when last checked by the pulse or a message, and when.
    int good_quality_ = 0;
    std::int64_t good_ns_ = 0;
    // The next whole second a clock sample is due for.
    bool have_second_ = false;
    std::int64_t next_second_ = 0;
    // The current series: its first block's time and first scan.
    bool in_series_ = false;
    std::int64_t series_ns_ = 0;
    std::int64_t series_scan_ = 0;
};

// The clock quality the field digitizers report, 0 to 100: 100 locked to the
// pulse within 5 us, 90 within 100 us, 70 within 200 us, 40 beyond or from
// the message alone (of the pulse: ClockModel::LockError).
int LockedQuality(std::int64_t phase_error_ns);
// The quality of a clock running free that may be this far off: at most 90
// (not locked) within 100 us, 70 within 200 us, 40 within 1 ms, 30 within
// 10 ms, 20 within 100 ms, 10 within a second, 0 beyond.
int FreeQuality(std::int64_t bound_ns);

}  // namespace zqd::acq
