#include "acquisition/block_dater.h"

#include <cmath>
#include <cstdlib>

#include "timeline/timeline.h"

namespace zqd::acq {

int LockedQuality(std::int64_t phase_error_ns) {
    const std::int64_t e = phase_error_ns < 0 ? -phase_error_ns : phase_error_ns;
    if (e < 5000) return 100;
    if (e < 100000) return 90;
    if (e < 200000) return 70;
    return 40;
}

int FreeQuality(std::int64_t bound_ns) {
    if (bound_ns < 100000) return 90;
    if (bound_ns < 200000) return 70;
    if (bound_ns < 1000000) return 40;
    if (bound_ns < 10000000) return 30;
    if (bound_ns < 100000000) return 20;
    if (bound_ns < timeline::kNsPerSecond) return 10;
    return 0;
}

namespace {
constexpr int kMessageQuality = 40;  // the message alone: its latency is not known
constexpr int kFreeRunCeiling = 90;  // a clock running free is not locked
constexpr std::int64_t kJitterNs = 10000000;  // a message's arrival is not known better than this
// A wired pulse channel that gives no pulse in this many seconds is said to
// carry none, and the messages date the data.
constexpr std::int64_t kNoPulseSeconds = 5;

Event MakeEvent(Event::Kind kind, std::uint64_t sequence, std::int64_t value, std::int64_t extra = 0) {
    Event e;
    e.kind = kind;
    e.sequence = sequence;
    e.value = value;
    e.extra = extra;
    return e;
}
}  // namespace

void BlockDater::Reset(const AcqConfig& config, const TimingConfig& timing) {
    config_ = config;
    timing_ = timing;
    decoder_ = gps::HaStreamDecoder(config.SampleFrq);
    pulse_usable_ = timing.PulseWired() && timing.pps_channel < config.ChnNum &&
                    PulseFinder::WidthUsable(timing.pulse_width_ms, config.SampleFrq);
    no_pulse_ = false;
    said_narrow_ = false;
    pulse_.Reset({timing.threshold, timing.pulse_negative, config.SampleFrq, timing.pulse_width_ms, timing.rate_alarm_ppm});
    clock_.Reset(timing, config.SampleFrq);
    first_fix_.reset();
    waiting_.clear();
    holding_ = timing.first_time_wait_s > 0;
    reported_bad_ = 0;
    have_time_ = false;
    have_end_ = false;
    lost_reads_ = 0;
    last_source_ = ClockSource::kNone;
    good_quality_ = 0;
    good_ns_ = 0;
    in_series_ = false;
    have_second_ = false;
}

bool BlockDater::PulseDates() const {
    return pulse_usable_ && !no_pulse_ && timing_.date_from == TimingConfig::DateFrom::kPulse;
}

bool BlockDater::GoodTime() const {
    if (PulseDates()) return clock_.Locked() && clock_.Doubts() == 0;
    return first_fix_.has_value();
}

void BlockDater::Date(std::shared_ptr<Block> block, std::vector<Item>& out, bool ring_full, bool poll_start) {
    const std::uint64_t seq = block->sequence;
    const std::int64_t first_scan = static_cast<std::int64_t>(seq) * config_.ChnPoints;
    const std::int64_t end_scan = first_scan + config_.ChnPoints;
    std::vector<Event> events;
    if (!said_narrow_ && timing_.PulseWired() && timing_.pps_channel < config_.ChnNum && !pulse_usable_) {
        said_narrow_ = true;
        events.push_back(MakeEvent(Event::Kind::kPulseTooNarrow, seq, std::llround(timing_.pulse_width_ms * 1000)));
    }
    fixes_.clear();
    edges_.clear();
    const auto fix = decoder_.Feed(block->Scans(), config_.ChnNum, config_.ChnPoints, first_scan, &fixes_);
    for (const gps::HaFix& f : fixes_) block->messages.push_back(f.data);
    if (!first_fix_ && !fixes_.empty()) first_fix_ = fixes_.front();
    if (ring_full && poll_start) {
        // Buffers may have been overwritten before this one: the scans may
        // no longer count from the edges before (a message will tell).
        clock_.Suspect();
    }
    std::int64_t settled = end_scan;
    if (pulse_usable_) {
        pulse_.Feed(block->Scans() + timing_.pps_channel, config_.ChnNum, config_.ChnPoints, first_scan, edges_);
        settled = pulse_.Settled();
    }
    clock_.Update(edges_, fixes_, settled, end_scan, seq, events);
    if (pulse_usable_ && !no_pulse_ && pulse_.Counted().pulses == 0 &&
        end_scan >= kNoPulseSeconds * static_cast<std::int64_t>(config_.SampleFrq)) {
        no_pulse_ = true;
        const PulseFinder::Counts& c = pulse_.Counted();
        auto why = Event::PulseRefusal::kNoRise;
        std::uint64_t most = 0;
        for (auto [n, reason] : {std::pair{c.not_pulse, Event::PulseRefusal::kNotPulse},
                                 std::pair{c.wrong_width, Event::PulseRefusal::kWrongWidth},
                                 std::pair{c.off_second, Event::PulseRefusal::kOffSecond}})
            if (n > most) {
                most = n;
                why = reason;
            }
        if (why == Event::PulseRefusal::kNoRise && !first_fix_) why = Event::PulseRefusal::kSilent;
        events.push_back(MakeEvent(Event::Kind::kNoPulseFound, seq, timing_.pps_channel, static_cast<std::int64_t>(why)));
    }
    const gps::HaCounters& counters = decoder_.Counters();
    if (counters.Bad() != reported_bad_) {
        events.push_back(MakeEvent(Event::Kind::kBadMessage, seq, static_cast<std::int64_t>(counters.Bad() - reported_bad_)));
        reported_bad_ = counters.Bad();
    }
    for (auto& e : events) out.emplace_back(std::move(e));

    Waiting w{std::move(block), fix, ring_full, lost_reads_};
    lost_reads_ = 0;
    if (!holding_) {
        Place(w, out);
        return;
    }
    waiting_.push_back(std::move(w));
    const auto waited = static_cast<double>(end_scan - static_cast<std::int64_t>(waiting_.front().block->sequence) *
                                                           config_.ChnPoints) /
                        config_.SampleFrq;
    if (GoodTime() || waited >= timing_.first_time_wait_s) {
        if (!GoodTime() && !first_fix_ && !clock_.Locked())
            out.emplace_back(MakeEvent(Event::Kind::kNoGpsTime, seq, std::llround(waited * 1e9)));
        Finish(out);
    }
}

void BlockDater::Finish(std::vector<Item>& out) {
    holding_ = false;
    for (Waiting& w : waiting_) Place(w, out);
    waiting_.clear();
}

void BlockDater::Place(Waiting& w, std::vector<Item>& out) {
    Block& block = *w.block;
    const ClockSource source = Date(w);
    block.clock.source = source;
    std::vector<Event> events;
    const bool stepped = block.time_status == TimeStatus::kOwn && have_end_ && Step(w, source, events);
    Clock(block);
    if (block.time_status != TimeStatus::kNone) {
        Series(block, stepped || w.lost_reads > 0, events);
        have_time_ = true;
        last_time_ns_ = block.time_ns;
        last_timed_sequence_ = block.sequence;
        last_end_ns_ = block.time_ns + block.DurationNs();
        have_end_ = true;
        last_source_ = source;
    }
    for (auto& e : events) out.emplace_back(std::move(e));
    out.emplace_back(BlockPtr(std::move(w.block)));
}

ClockSource BlockDater::Date(Waiting& w) {
    Block& block = *w.block;
    const std::uint64_t seq = block.sequence;
    const std::int64_t first_scan = static_cast<std::int64_t>(seq) * config_.ChnPoints;
    const std::int64_t end_scan = first_scan + config_.ChnPoints;
    if (const auto p = clock_.DatePulse(first_scan)) {
        block.time_ns = p->ns;
        block.time_status = p->free ? TimeStatus::kCarried : TimeStatus::kOwn;
        if (p->free) block.clock.bound_ns = clock_.DatePulse(end_scan)->bound_ns;  // at the block's end, the worst
        return p->free ? ClockSource::kFreeRun : ClockSource::kPulse;
    }
    if (w.fix) {
        block.time_ns = w.fix->time_ns + timeline::ScansToNs(first_scan - w.fix->start_scan, config_.SampleFrq);
        block.time_status = TimeStatus::kOwn;
        clock_.MessageDated();
        return ClockSource::kMessage;
    }
    if (have_time_) {
        const auto scans = static_cast<std::int64_t>(seq - last_timed_sequence_) * config_.ChnPoints;
        // Carried at the rate the pulse measured, if it did.
        block.time_ns = clock_.Measured() > 0
                            ? timeline::SampleTime(last_time_ns_, static_cast<double>(scans), clock_.Measured())
                            : last_time_ns_ + timeline::ScansToNs(scans, config_.SampleFrq);
        block.time_status = TimeStatus::kCarried;
        return ClockSource::kFreeRun;
    }
    if (first_fix_) {
        // Before the run's first message: dated back from it.
        block.time_ns = first_fix_->time_ns + timeline::ScansToNs(first_scan - first_fix_->start_scan, config_.SampleFrq);
        block.time_status = TimeStatus::kCarried;
        clock_.MessageDated();
        return ClockSource::kMessage;
    }
    return ClockSource::kNone;
}

bool BlockDater::Step(const Waiting& w, ClockSource source, std::vector<Event>& events) const {
    const Block& block = *w.block;
    const std::int64_t step = timeline::Break(last_end_ns_, block.time_ns, config_.SampleFrq);
    if (step == 0) return false;
    // How many whole blocks the step is, if it is whole blocks.
    const std::int64_t d = block.DurationNs();
    const std::int64_t k = step > 0 && d > 0 ? (step + d / 2) / d : 0;
    const bool whole =
        k >= 1 && timeline::Continues(last_end_ns_ + timeline::ScansToNs(k * config_.ChnPoints, config_.SampleFrq),
                                      block.time_ns, config_.SampleFrq);
    // Dating that passes between the message and the pulse corrects
    // the time by the message's latency: a tear, not a jump.
    // So does a message's arrival, jittering by a scan or two.
    const bool retimed = !whole && ((source != last_source_ && step > -timeline::kNsPerSecond &&
                                     step < timeline::kNsPerSecond) ||
                                    (source == ClockSource::kMessage && step > -kJitterNs && step < kJitterNs));
    Event e;
    e.sequence = block.sequence;
    if (whole && k == w.lost_reads) {
        return true;  // the failed reads, said when they failed: nothing more
    } else if (whole && k > w.lost_reads && w.ring_full) {
        e.kind = Event::Kind::kOverflow;
        e.value = k - w.lost_reads;
    } else if (retimed) {
        e.kind = Event::Kind::kTimeTear;
        e.value = step;
    } else {
        e.kind = step > 0 ? Event::Kind::kGap : Event::Kind::kTimeBackwards;
        e.value = step;
    }
    events.push_back(std::move(e));
    return true;
}

void BlockDater::Clock(Block& block) {
    BlockClock& c = block.clock;
    c.pulse = clock_.PulseOk();
    c.rate = clock_.Measured();
    c.doubts = clock_.Doubts();
    if (const auto d = clock_.MessageDelay()) c.message_delay_ns = *d;
    if (const auto pe = clock_.LastPhaseError()) c.phase_error_ns = *pe;
    switch (c.source) {
    case ClockSource::kNone: c.quality = 0; break;
    case ClockSource::kPulse: {  // between edges, before the rate is measured too
        const auto e = clock_.LockError();
        c.quality = e ? LockedQuality(*e) : 100;
        break;
    }
    case ClockSource::kMessage:
        c.quality = c.pulse && c.phase_error_ns != ClockSample::kNoValue ? LockedQuality(c.phase_error_ns) : kMessageQuality;
        break;
    case ClockSource::kFreeRun: {
        const double hours = static_cast<double>(block.time_ns - good_ns_) / 3.6e12;
        const auto fallen = static_cast<int>(std::floor(std::max(0.0, hours) * timing_.quality_fall_per_hour));
        // Running free from the pulse: as far off as the time may be by the
        // block's end; from a message: no better than the message was.
        const int base = c.bound_ns > 0 ? FreeQuality(c.bound_ns) : std::min(kFreeRunCeiling, good_quality_);
        c.quality = std::max(0, std::min(kFreeRunCeiling, base) - fallen);
        break;
    }
    }
    if (c.source != ClockSource::kNone) c.quality = std::min(c.quality, clock_.QualityCap());
    if (c.source == ClockSource::kPulse || c.source == ClockSource::kMessage) {
        good_quality_ = c.quality;
        good_ns_ = block.time_ns;
    }
    c.phase_errors = clock_.TakePhaseErrors();
    if (block.time_status == TimeStatus::kNone) return;
    // One sample of the clock's health for every whole second the block holds.
    // Block times wobble by a fraction of a microsecond around a second that
    // falls on their edge: each second is given once, to the first block
    // that reaches it.
    const std::int64_t end = block.time_ns + block.DurationNs();
    std::int64_t second = block.time_ns - (block.time_ns % timeline::kNsPerSecond + timeline::kNsPerSecond) % timeline::kNsPerSecond;
    if (second < block.time_ns) second += timeline::kNsPerSecond;
    if (have_second_ && next_second_ < second && next_second_ >= block.time_ns - kJitterNs) second = next_second_;
    if (have_second_ && second < next_second_) second = next_second_;
    for (; second < end; second += timeline::kNsPerSecond) {
        ClockSample s;
        s.second_ns = second;
        s.quality = c.quality;
        if (c.rate > 0) s.rate_ppb = std::llround((c.rate / config_.SampleFrq - 1) * 1e9);
        c.seconds.push_back(s);
        have_second_ = true;
        next_second_ = second + timeline::kNsPerSecond;
    }
}

void BlockDater::Series(const Block& block, bool stepped, std::vector<Event>& events) {
    const std::int64_t first_scan = static_cast<std::int64_t>(block.sequence) * config_.ChnPoints;
    if (in_series_ && !stepped) {
        const std::int64_t expected = timeline::SampleTime(series_ns_, static_cast<double>(first_scan - series_scan_),
                                                           config_.SampleFrq);
        if (timeline::Within(expected, block.time_ns, timeline::ToleranceNs(timing_.time_tolerance, config_.SampleFrq)))
            return;
        Event e;
        e.kind = Event::Kind::kTimeTear;
        e.sequence = block.sequence;
        e.value = block.time_ns - expected;
        events.push_back(std::move(e));
    }
    in_series_ = true;
    series_ns_ = block.time_ns;
    series_scan_ = first_scan;
}

}  // namespace zqd::acq
