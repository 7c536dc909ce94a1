// Consumers of the acquisition's blocks. Each sink gets its blocks and events
// in acquisition order on its own bounded queue, served by its own thread, so
// that a slow sink (a disk) never stalls the reader or another sink. What a
// full queue cannot take is counted and reported to the sink, never lost
// silently.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "acquisition/block.h"
#include "common/bounded_worker.h"
#include "common/status.h"

namespace zqd::acq {

struct Event {
    enum class Kind {
        kStarted,        // an acquisition started with `config`
        kStopped,        // StopIntr was called
        kPolled,         // QueryBuf reported `value` buffers (not 0); the poll's items follow
        kPollEnd,        // the last item of the poll that kPolled began
        kReadFailed,     // read `sequence` returned `value` from ADResult; no block was made
        kGap,            // block `sequence` starts `value` ns later than its predecessor ended
        kTimeBackwards,  // block `sequence` starts `value` ns (negative) before its predecessor ended
        kOverflow,       // the card's full buffers were overwritten before block `sequence`: `value` blocks lost
        kBadMessage,     // `value` GPS messages failed their checks up to block `sequence`
        kCardError,      // a card call failed for want of the library; `status` says which
        kDropped,        // this sink's queue was full: `value` items were not delivered
        kPulseLost,      // no 1PPS edge since the one of second `value` (ns): the clock runs free
        kPulseBack,      // the 1PPS edge of second `value` (ns) dates the data again; the free-running
                         //   time had put it `extra` ns late (the step back to the true time)
        kPulseDisagrees, // the message names a second `value` ns off the pulses' count; the message holds
        kTimeTear,       // block `sequence` begins a new series `value` ns off the old one's extrapolation
        kRateOff,        // the card's measured rate is `value` / 1000 ppm off nominal
        kNoPulseFound,   // channel `value` gave no pulse in its first seconds; `extra`: a PulseRefusal
        kPulseTooNarrow, // the pulse's width (`value` us) is under three sample periods: its edges cannot be located
        kMessageAtEdge,  // a message began `value` ns from a pulse (negative: before it): the second is in doubt
        kMessageLate,    // a message began `value` ns after its pulse, later than max_message_delay_ms
        kLabelsSure,     // the doubt `value` (a LabelDoubt) is resolved
        kNoGpsTime,      // no GPS time in the first `value` ns of data: the computer's clock dates them
        kPollSooner,     // every buffer of the card was filled at a poll: polling every `value` ms now
    };
    // Why no pulse was found on the channel: what its rises were.
    enum class PulseRefusal : std::int64_t {
        kNoRise,      // it never rose, while messages came
        kSilent,      // nor did any message come: the receiver sends nothing
        kNotPulse,    // its rises were not from a resting level to a flat pulse level
        kWrongWidth,  // its pulses stayed up much shorter or longer than pulse_width_ms
        kOffSecond,   // its pulses were not whole seconds apart, within rate_alarm_ppm
    };
    Kind kind = Kind::kPolled;
    std::uint64_t sequence = 0;
    std::int64_t value = 0;
    std::int64_t extra = 0;
    Status status;
    AcqConfig config;
};

using Item = std::variant<BlockPtr, Event>;

// The kDropped event that says `n` items were let go.
inline Event DroppedEvent(std::uint64_t n) {
    Event e;
    e.kind = Event::Kind::kDropped;
    e.value = static_cast<std::int64_t>(n);
    return e;
}

class Sink {
public:
    virtual ~Sink() = default;
    virtual void OnBlock(const BlockPtr& block) = 0;
    virtual void OnEvent(const Event&) {}
};

class SinkRunner {
public:
    // `threaded` false: items wait until Drain() delivers them on the
    // caller's thread (for tests that must not depend on timing).
    SinkRunner(std::shared_ptr<Sink> sink, std::size_t capacity, bool threaded);

    // Queues an item; false (and counted) when the queue is full. Events
    // have room beyond the blocks' capacity, so that a stop or a failure
    // still reaches a sink whose queue is full of blocks.
    bool Push(Item item) { return worker_.Push(std::move(item)); }
    // Delivers everything queued, on the calling thread (not threaded only).
    void Drain() { worker_.Drain(); }
    // Waits until everything queued so far has been delivered.
    void Flush() { worker_.Flush(); }

    std::uint64_t Dropped() const { return worker_.Dropped(); }
    const std::shared_ptr<Sink>& Target() const { return sink_; }

private:
    std::shared_ptr<Sink> sink_;
    BoundedWorker<Item> worker_;  // last: its thread ends before the sink goes
};

}  // namespace zqd::acq
