// Butterworth filters for looking at waveforms: de-mean, high-pass, low-pass
// and band-pass of order 2 to 8, designed by the bilinear transform of the
// analog prototype (corners pre-warped, so that each lies exactly at -3 dB)
// and run as a cascade of second-order sections in transposed direct form
// II, in double precision. Zero-phase (forward, then backward: the gain
// squared, no delay) for files; causal, with its state kept between calls,
// for live data.
#pragma once

#include <complex>
#include <cstddef>
#include <string>
#include <vector>

#include "common/result.h"
#include "common/status.h"

namespace zqd::signal {

struct FilterSpec {
    enum class Kind { kNone, kDemean, kHighPass, kLowPass, kBandPass };
    Kind kind = Kind::kNone;
    int order = 4;
    double low_hz = 0;   // the high-pass's corner, or the band's lower one
    double high_hz = 0;  // the low-pass's corner, or the band's upper one
    bool operator==(const FilterSpec&) const = default;
};

// "bp:1:10", "hp:0.5", "lp:20", "demean", each with ":ORDER" at its end if
// wanted ("bp:1:10:6"); "none". kQueryRefused (kFilterUnreadable, the text)
// for any other text. Numbers are read the same whatever the locale.
Result<FilterSpec> ParseFilter(const std::string& text);
// The text ParseFilter reads back, whatever the locale.
std::string FilterText(const FilterSpec& spec);

// One second-order section: y = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2) x.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

class Filter {
public:
    // Designs the filter for samples at `rate`; kQueryRefused (kBadFilter)
    // for corners at or beyond the Nyquist frequency, below zero, a band
    // whose lower corner is not below its upper one, an order outside 2 to 8.
    static Status Design(const FilterSpec& spec, double rate, Filter& out);

    // Causal: runs `x` in place, the state carried on from the last call
    // (the first call starts as if the signal had always been its first value).
    void Run(double* x, std::size_t n);
    // Zero-phase: forward then backward over the whole of `x`, each pass
    // starting in the steady state of its first value. De-mean subtracts the mean.
    void RunZeroPhase(double* x, std::size_t n) const;
    void Reset() { started_ = false; }

    // For running in pieces: each section's two delays; the state in which a
    // signal that has always been `first` leaves the filter; a piece run
    // forward, or backward (from x[n - 1] down to x[0]), carrying the state.
    using State = std::vector<std::pair<double, double>>;
    State SteadyStateAt(double first) const {
        State s;
        SteadyState(sections_, first, s);
        return s;
    }
    void Forward(double* x, std::size_t n, State& state) const { Pass(x, n, state, false); }
    void Backward(double* x, std::size_t n, State& state) const { Pass(x, n, state, true); }
    bool Filters() const { return !sections_.empty(); }

    // The designed gain at `hz` (the sections' product, not squared).
    double Gain(double hz) const;
    const std::vector<Biquad>& Sections() const { return sections_; }
    const FilterSpec& Spec() const { return spec_; }

private:
    void Start(double first);
    void Pass(double* x, std::size_t n, std::vector<std::pair<double, double>>& state, bool backward) const;
    static void SteadyState(const std::vector<Biquad>& sections, double first,
                            std::vector<std::pair<double, double>>& state);

    FilterSpec spec_;
    double rate_ = 0;
    std::vector<Biquad> sections_;
    std::vector<std::pair<double, double>> state_;  // each section's two delays
    bool started_ = false;
    double mean_ = 0;  // de-mean, live: the running mean
    double seen_ = 0;
};

}  // namespace zqd::signal
