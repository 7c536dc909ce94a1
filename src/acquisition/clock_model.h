// The card's time base measured against the receiver's pulse: each edge
// labelled with its GPS second (by the message that names it, or by counting
// from the last labelled edge), the card's true scan rate measured between
// edges, every scan dated between the labelled edges around it, and the
// clock's phase error at each edge: where the data's timeline, extrapolated
// from what came before, put the edge, against its true second.
//
// A label that may be wrong is said and doubted (LabelDoubt) until a
// message resolves it. While the pulse is missing, the clock runs free at
// the measured rate, and how far off it may be by then grows with the time
// since the last edge as the clock's own wander, measured while it was
// locked, says.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "acquisition/sink.h"
#include "acquisition/timing.h"
#include "gps/ha_stream.h"

namespace zqd::acq {

class ClockModel {
public:
    void Reset(const TimingConfig& config, std::int32_t nominal_rate);
    // Scans were lost uncounted (the card overwrote buffers): the edges
    // before no longer count scans with those after. The rate is kept.
    void Unlock();
    // Scans may have been lost uncounted: edges are not counted from the last
    // anchor until a message confirms the count (or says otherwise).
    void Suspect() { suspect_ = !anchors_.empty(); }

    // One block's edges and messages (each in scan order). `settled`: every
    // edge before that scan has been found; `end_scan` the scan after the
    // block. Events for block `sequence` go to `events`.
    void Update(const std::vector<double>& edges, const std::vector<gps::HaFix>& fixes, std::int64_t settled,
                std::int64_t end_scan, std::uint64_t sequence, std::vector<Event>& events);

    struct Dated {
        std::int64_t ns = 0;
        bool free = false;         // carried forward from the last edge, no pulse since
        std::int64_t bound_ns = 0;  // how far off it may be, when free
    };
    // The time of `scan` from the pulse, when the pulse dates the data:
    // between the labelled edges around it, or from the nearest at the
    // measured rate.
    std::optional<Dated> DatePulse(std::int64_t scan) const;
    // The rate measured through five labelled edges, four seconds at least.
    bool Locked() const {
        return rate_ > 0 && anchors_.size() >= 5 && anchors_.back().label - anchors_.front().label >= 4000000000;
    }

    // Scans a second: measured, or nominal before any measurement.
    double Rate() const { return rate_ > 0 ? rate_ : static_cast<double>(nominal_); }
    double Measured() const { return rate_; }
    bool PulseOk() const { return pulse_ok_; }
    // LabelDoubt bits in force, and the best quality they allow.
    int Doubts() const { return doubts_; }
    // How long after its pulse the latest message began (before it, when
    // messages name the pulse to come).
    std::optional<std::int64_t> MessageDelay() const { return delay_; }
    int QualityCap() const;
    // The messages have dated blocks: the phase error at the first edge is theirs.
    void MessageDated() { message_dated_ = true; }
    // The phase errors measured since the last call: second, error (ns).
    std::vector<std::pair<std::int64_t, std::int64_t>> TakePhaseErrors() { return std::exchange(fresh_, {}); }
    // The latest phase error measured.
    std::optional<std::int64_t> LastPhaseError() const { return last_pe_; }
    // The phase error the lock holds to: the median of the last ones, unless
    // the latest is far off (20 us and more), when it is that. Each edge is
    // located only as finely as the converter's codes allow (about 5 us a
    // code at 100 samples/s), and the median sees through that.
    std::optional<std::int64_t> LockError() const;
    // How far off a clock running free from the last edge may be after
    // `seconds`: the errors seen at the edges, the rate's, and the wander's.
    std::int64_t FreeBound(double seconds) const;

private:
    struct Edge {
        double scan = 0;
        std::optional<std::int64_t> label;
    };
    struct Anchor {
        double scan = 0;         // where the edge was found
        std::int64_t label = 0;
        double rate = 0;         // the rate measured at this edge (0: not yet)
        bool full = false;       // measured through the whole span of seconds
        double fit = 0;          // where the line through the last seconds' edges puts it
    };
    void NewEdge(double scan, std::uint64_t sequence, std::vector<Event>& events);
    // A message whose edges have all been found.
    void NewFix(const gps::HaFix& fix, std::uint64_t sequence, std::vector<Event>& events);
    bool Ready(const gps::HaFix& fix, std::int64_t settled) const;
    // Labels `edge` from `fix`; says so if its count said otherwise.
    void LabelFromFix(Edge& edge, const gps::HaFix& fix, std::uint64_t sequence, std::vector<Event>& events);
    // A newly labelled edge, later than the anchors: the rate, the phase error.
    void AddAnchor(const Edge& edge, std::uint64_t sequence, std::vector<Event>& events);
    // Counts on from `from` the edges after it that wait for a label.
    void CountOn(const Edge& from, std::uint64_t sequence, std::vector<Event>& events);
    void Doubt(LabelDoubt doubt, bool now, std::int64_t value, std::uint64_t sequence, std::vector<Event>& events);
    // How well a free run of each horizon would have done, from the edges.
    void MeasureWander(const Anchor& now);
    double Extrapolate(const Anchor& from, double scan) const;  // ns after from's label, from its fit
    Edge* EdgeBefore(double scan);  // the latest edge at or before `scan`
    Edge* EdgeAfter(double scan);   // the first edge at or after `scan`

    TimingConfig config_;
    std::int32_t nominal_ = 0;
    double margin_ = 0;              // scans: a message this near a pulse may be on either side of it
    std::deque<Edge> edges_;         // the latest edges, labelled or not
    std::deque<gps::HaFix> fixes_;   // messages waiting for the edges around them
    std::deque<Anchor> anchors_;     // the labelled edges of the last minutes, in order
    bool message_dated_ = false;
    bool suspect_ = false;           // scans may have been lost since the last anchor
    double rate_ = 0;
    bool pulse_ok_ = false;
    bool ever_pulse_ = false;
    bool rate_alarm_ = false;        // the rate is off (until back within half the alarm)
    bool rate_said_ = false;         // said in this run
    std::int64_t rate_good_since_ = 0;  // label: back within half the alarm since
    static constexpr std::int64_t kRateSaidAgain = 3600LL * 1'000'000'000;
    bool lost_ = false;              // the pulse went, and has not come back
    double last_edge_ = 0;           // the latest edge found, labelled or not
    bool any_edge_ = false;
    std::optional<gps::HaFix> last_fix_;
    std::optional<std::int64_t> last_pe_;
    std::deque<std::int64_t> recent_pe_;  // the last phase errors, for the free-running bound
    std::vector<std::pair<std::int64_t, std::int64_t>> fresh_;  // second, phase error
    int doubts_ = 0;
    std::optional<std::int64_t> delay_;
    // Horizons in seconds, and the worst error a free run of that long from
    // an edge, at the rate measured there, would have made (ns), forgetting
    // slowly; the label it was last measured at.
    static constexpr std::array<int, 9> kHorizons = {4, 8, 16, 32, 64, 128, 256, 512, 1024};
    std::array<double, kHorizons.size()> worst_{};
    std::array<std::int64_t, kHorizons.size()> worst_at_{};
};

}  // namespace zqd::acq
