// Finds the receiver's 1PPS pulses in one channel of the scans and locates
// each rising edge to a fraction of a sample.
//
// An integrating converter averages its input over each sample period, so
// the scan in which the edge falls reads between the resting level and the
// pulse's level in proportion to the part of its period the pulse covers.
// With the resting level carried up to the edge (a line through the two
// scans before it) and the pulse's level (the scans after it), the edge is at
// j + 1 - share(j) - share(j - 1), j the first scan above the threshold.
//
// Only a pulse is taken for one. A candidate must rise from the resting
// level to a flat pulse level, stay up for about the pulse's width, and come
// a whole number of seconds (within the rate alarm) after another such
// candidate: the first pulse of a run, or after lost scans, is taken when
// the next one confirms it. A sine, a square wave of another period, a spike
// or a receiver's message give none.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace zqd::acq {

class PulseFinder {
public:
    struct Settings {
        std::optional<double> threshold;  // counts; empty: midway between the levels seen
        bool negative = false;            // the pulse goes down from its resting level
        std::int32_t rate = 0;            // nominal scans a second
        double width_ms = 200;            // how long the pulse stays up
        double rate_alarm_ppm = 100;      // how far off whole seconds pulses may come
    };
    // What was refused, and what taken, since the start.
    struct Counts {
        std::uint64_t pulses = 0;      // taken
        std::uint64_t not_pulse = 0;   // did not rise from the resting level to a flat pulse level
        std::uint64_t wrong_width = 0;  // stayed up much shorter or longer than the width
        std::uint64_t off_second = 0;   // not a whole number of seconds from any other
    };

    // The narrowest pulse whose edge can be located: three sample periods,
    // so that a scan after the one the edge falls in lies wholly within it.
    static bool WidthUsable(double width_ms, std::int32_t rate) { return width_ms * 1e-3 * rate >= 3; }

    void Reset(const Settings& settings);
    // The channel's values of `scans` scans (every `stride`-th word from
    // `words`), the first being scan `first_scan` of the acquisition. Adds
    // the edges of the pulses taken, as fractional scans of the acquisition,
    // to `edges`, in order.
    void Feed(const std::int16_t* words, int stride, std::int32_t scans, std::int64_t first_scan,
              std::vector<double>& edges);
    // Scans were lost: what came before no longer joins what follows.
    void Lost();
    // Every pulse rising before this scan has been taken or refused.
    std::int64_t Settled() const;
    const Counts& Counted() const { return counts_; }
    double Threshold() const { return threshold_; }
    bool Levels() const { return have_levels_; }

private:
    enum class State { kWaitRest, kRest, kHigh };
    struct Candidate {
        double edge = 0;
        bool taken = false;
    };
    double Value(std::int16_t w) const { return negative_ ? -static_cast<double>(w) : static_cast<double>(w); }
    void Learn(const std::int16_t* words, int stride, std::int32_t scans);
    void Ended(std::int64_t fall_scan, std::vector<double>& edges);
    // A pulse of the right shape: taken if a whole number of seconds from another.
    void Offer(double edge, std::vector<double>& edges);
    bool WholeSeconds(double from, double to) const;

    Settings settings_;
    bool negative_ = false;
    double width_scans_ = 0, width_tolerance_ = 0;
    // The levels over the last two seconds or so: each block's lowest and
    // highest value, with its length.
    struct Span {
        double low, high;
        std::int32_t scans;
    };
    std::deque<Span> spans_;
    bool have_levels_ = false;
    double low_ = 0, high_ = 0, threshold_ = 0;

    State state_ = State::kWaitRest;
    static constexpr int kHistory = 5;  // resting scans kept: four for its line, and the one before a rise
    double prev_[kHistory] = {};        // the last resting values: prev_[kHistory - 1] the latest
    int have_ = 0;
    // The pulse being measured: where it rose, the levels around its edge,
    // and the levels after it.
    std::int64_t rise_scan_ = 0;
    double rise_values_[kHistory + 1] = {};  // the resting scans before the rise and its own
    double plateau_sum_ = 0, plateau_min_ = 0, plateau_max_ = 0, last_high_ = 0;
    std::int64_t plateau_n_ = 0;
    std::int64_t next_scan_ = 0;
    std::optional<Candidate> previous_;  // the last pulse of the right shape
    std::optional<double> last_taken_;
    Counts counts_;
};

}  // namespace zqd::acq
