// Finds the rising edges of the receiver's 1PPS pulse in one channel of the
// scans, to a fraction of a sample. An integrating converter averages its
// input over each sample period, so the scan in which the edge falls reads
// between the resting level and the pulse's level in proportion to the part
// of its period the pulse covers: with the level before (two scans ahead of
// the first above the threshold) and the level after (the next scan), the
// edge is at j + 1 - share(j) - share(j - 1), j the first scan above the
// threshold.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zqd::acq {

class PulseFinder {
public:
    // `threshold` fixed, or found midway between the levels seen; `negative`
    // pulses go down from their resting level.
    void Reset(std::optional<double> threshold, bool negative, std::int32_t rate);
    // The channel's values of `scans` scans (every `stride`-th word from
    // `words`), the first being scan `first_scan` of the acquisition. Adds
    // the edges found, as fractional scans of the acquisition, to `edges`.
    void Feed(const std::int16_t* words, int stride, std::int32_t scans, std::int64_t first_scan,
              std::vector<double>& edges);
    // Scans were lost: what came before no longer joins what follows.
    void Lost() {
        have_ = 0;
        pending_ = false;
        above_ = true;  // wait for the resting level before the next edge
    }
    double Threshold() const { return threshold_; }
    bool Levels() const { return have_levels_; }

private:
    double Value(std::int16_t w) const { return negative_ ? -static_cast<double>(w) : static_cast<double>(w); }
    void Learn(const std::int16_t* words, int stride, std::int32_t scans);
    double Edge(double before2, double before1, double at, double after, std::int64_t j);

    std::optional<double> fixed_;
    bool negative_ = false;
    std::int32_t rate_ = 0;
    bool have_levels_ = false;
    double low_ = 0, high_ = 0, threshold_ = 0;
    // The last values before the scans to come: prev_[1] the latest.
    double prev_[2] = {0, 0};
    int have_ = 0;
    bool above_ = true;
    bool pending_ = false;  // an edge at pending_scan_ waits for the scan after it
    std::int64_t pending_scan_ = 0;
    double pending_values_[3] = {0, 0, 0};  // the two scans before it and its own
    std::int64_t last_edge_scan_ = INT64_MIN / 2;
};

}  // namespace zqd::acq
