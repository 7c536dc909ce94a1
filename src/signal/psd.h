// A station's noise: power spectral densities of hour-long segments and
// their probability density over days (PPSD), after McNamara, D. E. and
// Buland, R. P. (2004), Ambient noise levels in the continental United
// States, BSSA 94(4), 1517-1527:
//   - segments of an hour overlapping by half;
//   - each cut into 13 pieces overlapping by 75 %, each detrended, tapered
//     (10 % cosine) and transformed; their periodograms averaged;
//   - the instrument response taken out, to acceleration;
//   - full-octave averages at eighth-octave steps of period;
//   - a histogram of the levels, 1 dB wide, over every segment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zqd::signal {

struct PsdSettings {
    double segment_seconds = 3600;
    double segment_overlap = 0.5;
    int pieces = 13;
    double piece_overlap = 0.75;
    double taper = 0.1;  // the cosine taper's share of a piece, half at each end
};

// |H(f)|²: counts² per (m/s²)² at `f` Hz, or none (the levels in counts²/Hz).
using PowerResponse = std::function<double(double f)>;

class PsdMaker {
public:
    // For `rate` samples a second; the segment must hold at least 64 pieces' samples.
    PsdMaker(double rate, PsdSettings settings = {});
    ~PsdMaker();
    PsdMaker(const PsdMaker&) = delete;
    PsdMaker& operator=(const PsdMaker&) = delete;

    bool Usable() const { return piece_ >= 64; }
    std::size_t SegmentSamples() const { return segment_; }
    // Samples from one segment's start to the next's.
    std::size_t SegmentStep() const { return step_; }
    std::size_t PieceSamples() const { return piece_; }
    // The periods of the smoothed levels (s), shortest first.
    const std::vector<double>& Periods() const { return periods_; }

    // The response taken out of every segment from now (evaluated once a bin); none: counts.
    void SetResponse(const PowerResponse& response);
    // One segment of SegmentSamples(): its level at each period, in dB rel.
    // 1 (m/s²)²/Hz with a response, rel. 1 count²/Hz without.
    std::vector<double> Segment(const std::int32_t* x);
    // The averaged periodogram of the last segment: one-sided, per Hz, bin k at k / (piece / rate).
    const std::vector<double>& Periodogram() const { return power_; }

private:
    struct Fft;
    double rate_;
    PsdSettings settings_;
    std::size_t segment_ = 0, step_ = 0, piece_ = 0, piece_step_ = 0, edge_ = 0;
    std::vector<double> taper_, power_, prefix_, periods_;
    std::vector<double> inverse_;  // 1 / |H|² a bin, 0 where it is 0; empty: no response
    std::vector<std::pair<std::size_t, std::size_t>> bands_;  // each period's bins [first, last)
    double scale_ = 0;
    std::unique_ptr<Fft> fft_;
};

// The levels of many segments at each period, as a histogram of 1 dB bins
// from `low_db` to `high_db`; levels below or above it are counted apart,
// never in the edge bins, so that the percentiles stay true.
struct Ppsd {
    std::vector<double> periods;
    double low_db = -200, high_db = -50;
    std::vector<std::uint32_t> counts;  // periods × bins, period-major
    std::vector<std::uint32_t> below, above;  // a period's levels beyond the bins
    std::size_t segments = 0;

    Ppsd() = default;
    Ppsd(std::vector<double> periods, double low_db, double high_db);
    int Bins() const { return static_cast<int>(high_db - low_db); }
    void Add(const std::vector<double>& db);
    std::uint32_t At(std::size_t period, int bin) const { return counts[period * static_cast<std::size_t>(Bins()) + static_cast<std::size_t>(bin)]; }
    // A period's levels, those beyond the bins too.
    std::uint32_t Total(std::size_t period) const;
    // The levels beyond the bins, at every period.
    std::size_t Outside() const;
    // The level below which `p` (0-1) of the segments fall, at a bin's
    // centre; -inf or +inf when it is below or above the bins; NaN with none.
    double Percentile(std::size_t period, double p) const;
    // The commonest level, at its bin's centre; NaN with none.
    double Mode(std::size_t period) const;
};

}  // namespace zqd::signal
