#include "acquisition/block_dater.h"

#include "timeline/timeline.h"

namespace zqd::acq {

void BlockDater::Reset(const AcqConfig& config) {
    config_ = config;
    decoder_ = gps::HaStreamDecoder(config.SampleFrq);
    reported_bad_ = 0;
    have_time_ = false;
    have_end_ = false;
    lost_reads_ = 0;
}

std::vector<Event> BlockDater::Date(Block& block, bool ring_full) {
    const std::uint64_t seq = block.sequence;
    const std::int64_t first_scan = static_cast<std::int64_t>(seq) * config_.ChnPoints;
    const auto fix = decoder_.Feed(block.Scans(), config_.ChnNum, config_.ChnPoints, first_scan);
    if (fix) {
        block.time_ns = fix->time_ns + timeline::ScansToNs(first_scan - fix->start_scan, config_.SampleFrq);
        block.time_status = TimeStatus::kOwn;
    } else if (have_time_) {
        const auto scans = static_cast<std::int64_t>(seq - last_timed_sequence_) * config_.ChnPoints;
        block.time_ns = last_time_ns_ + timeline::ScansToNs(scans, config_.SampleFrq);
        block.time_status = TimeStatus::kCarried;
    }

    std::vector<Event> events;
    if (fix && have_end_) {
        if (const std::int64_t step = timeline::Break(last_end_ns_, block.time_ns, config_.SampleFrq); step != 0) {
            // How many whole blocks the step is, if it is whole blocks.
            const std::int64_t d = block.DurationNs();
            const std::int64_t k = step > 0 && d > 0 ? (step + d / 2) / d : 0;
            const bool whole =
                k >= 1 && timeline::Continues(last_end_ns_ + timeline::ScansToNs(k * config_.ChnPoints, config_.SampleFrq),
                                              block.time_ns, config_.SampleFrq);
            Event e;
            e.sequence = seq;
            if (whole && k == lost_reads_) {
                // The failed reads, said when they failed: nothing more.
            } else if (whole && k > lost_reads_ && ring_full) {
                e.kind = Event::Kind::kOverflow;
                e.value = k - lost_reads_;
                events.push_back(std::move(e));
            } else {
                e.kind = step > 0 ? Event::Kind::kGap : Event::Kind::kTimeBackwards;
                e.value = step;
                events.push_back(std::move(e));
            }
        }
    }
    const gps::HaCounters& counters = decoder_.Counters();
    if (counters.Bad() != reported_bad_) {
        Event e;
        e.kind = Event::Kind::kBadMessage;
        e.sequence = seq;
        e.value = static_cast<std::int64_t>(counters.Bad() - reported_bad_);
        reported_bad_ = counters.Bad();
        events.push_back(std::move(e));
    }
    if (block.time_status != TimeStatus::kNone) {
        lost_reads_ = 0;  // a carried time counts the failed reads' scans already
        have_time_ = true;
        last_time_ns_ = block.time_ns;
        last_timed_sequence_ = seq;
        last_end_ns_ = block.time_ns + block.DurationNs();
        have_end_ = true;
    }
    return events;
}

}  // namespace zqd::acq
