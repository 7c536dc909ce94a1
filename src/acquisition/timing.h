// How the blocks are timed, and how well: the settings of the card's time
// base (which channel carries the receiver's 1PPS pulse, what dates the
// samples), and what the dating found for each block (the source of its
// time, the clock's quality, one measurement for every second).
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace zqd::acq {

struct TimingConfig {
    static constexpr int kNoPulse = -1;
    enum class DateFrom { kPulse, kMessage };

    int pps_channel = 0;  // the card offset that carries the 1PPS pulse, or kNoPulse
    // kPulse: every scan dated between the pulse edges around it, the
    // message naming the edge's second; kMessage: from the message alone,
    // the pulse (if wired) still measured.
    DateFrom date_from = DateFrom::kPulse;
    bool pulse_negative = false;        // the pulse goes down from its resting level
    std::optional<double> threshold;    // counts; empty: midway between the levels seen
    bool message_refers_to_next = false;  // false: the pulse before the message (the M12's way)
    int max_message_delay_ms = 900;
    double pulse_width_ms = 200;          // how long the pulse stays up (an M12's: 200 ms)
    // Blocks that come before the first good time wait this long (seconds of
    // data) for it, and are then dated back from it; 0: each block is dated
    // as it comes, from what there is.
    double first_time_wait_s = 0;
    // A series continues while its samples' times, extrapolated at the nominal
    // rate, stay within this many sample periods of the measured times.
    double time_tolerance = 0.5;
    bool resample = false;              // onto the exact GPS grid of the nominal rate
    double rate_alarm_ppm = 100;        // the measured rate this far off nominal is said
    double quality_fall_per_hour = 1;   // while the clock runs free

    bool PulseWired() const { return pps_channel != kNoPulse; }
};

// What a block's time rests on.
enum class ClockSource : std::uint8_t {
    kNone,      // nothing yet: the computer's clock
    kPulse,     // the pulse edges, labelled by the messages
    kMessage,   // the message's arrival (latency and a scan's jitter included)
    kFreeRun,   // carried forward at the measured rate, nothing to check it
};

// Why the second a pulse is labelled with may be wrong; each lowers the
// quality until a message resolves it.
enum class LabelDoubt : std::uint8_t {
    kAtEdge,     // the message began within a few ms of a pulse: which one it names cannot be told
    kLate,       // the message came later after its pulse than max_message_delay_ms
    kDisagrees,  // the message named another second than the pulses' count
};

// One second of the clock's health: at the whole second `second_ns`.
struct ClockSample {
    static constexpr std::int64_t kNoValue = std::numeric_limits<std::int64_t>::min();
    std::int64_t second_ns = 0;
    int quality = 0;                         // 0 to 100
    std::int64_t rate_ppb = kNoValue;        // the measured rate's offset from nominal, 1e-9
};

struct BlockClock {
    ClockSource source = ClockSource::kNone;
    int quality = 0;
    bool pulse = false;                              // edges arrive and are labelled
    std::int64_t phase_error_ns = ClockSample::kNoValue;  // the latest measured
    std::int64_t bound_ns = 0;                       // while running free: how far off the time may be
    int doubts = 0;                                  // LabelDoubt bits in force
    std::int64_t message_delay_ns = ClockSample::kNoValue;  // from the pulse to the message's start (next: to the pulse)
    double rate = 0;                                 // measured scans a second, 0 before any
    std::vector<ClockSample> seconds;                // for the whole seconds this block holds
    // The phase errors measured while this block was dated: at each labelled
    // edge, its second and the error (ns).
    std::vector<std::pair<std::int64_t, std::int64_t>> phase_errors;
};

}  // namespace zqd::acq
