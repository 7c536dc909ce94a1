// The card's time base measured against the receiver's pulse: each edge
// labelled with its GPS second (by the message that names it, or by counting
// from the last labelled edge), the card's true scan rate measured between
// edges, every scan dated between the labelled edges around it, and the
// clock's phase error at each edge: where the data's timeline, extrapolated
// from what came before, put the edge, against its true second.
#pragma once

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
    void Suspect() { suspect_ = lb_.has_value(); }

    // One block's edges and messages (each in scan order); `end_scan` the
    // scan after the block. Events for block `sequence` go to `events`.
    void Update(const std::vector<double>& edges, const std::vector<gps::HaFix>& fixes, std::int64_t end_scan,
                std::uint64_t sequence, std::vector<Event>& events);

    struct Dated {
        std::int64_t ns = 0;
        bool free = false;  // carried forward from the last edge, no pulse since
    };
    // The time of `scan` from the pulse, when the pulse dates the data.
    std::optional<Dated> DatePulse(std::int64_t scan) const;

    // Scans a second: measured, or nominal before any measurement.
    double Rate() const { return rate_ > 0 ? rate_ : static_cast<double>(nominal_); }
    double Measured() const { return rate_; }
    bool PulseOk() const { return pulse_ok_; }
    // The messages have dated blocks: the phase error at the first edge is theirs.
    void MessageDated() { message_dated_ = true; }
    // The phase errors measured since the last call: second, error (ns).
    std::vector<std::pair<std::int64_t, std::int64_t>> TakePhaseErrors() { return std::exchange(fresh_, {}); }
    // The latest phase error measured, and where (ns of its second).
    std::optional<std::int64_t> LastPhaseError() const { return last_pe_; }

private:
    struct Edge {
        double scan = 0;
        std::optional<std::int64_t> label;
    };
    void NewEdge(double scan, std::uint64_t sequence, std::vector<Event>& events);
    void NewFix(const gps::HaFix& fix, std::uint64_t sequence, std::vector<Event>& events);
    // Labels `edge` from `fix`; says so if its count said otherwise.
    void LabelFromFix(Edge& edge, const gps::HaFix& fix, std::uint64_t sequence, std::vector<Event>& events);
    // A newly labelled edge, later than the anchors: the rate, the phase error.
    void Anchor(const Edge& edge, std::uint64_t sequence, std::vector<Event>& events);
    double Extrapolate(double scan) const;  // ns after lb_'s label

    TimingConfig config_;
    std::int32_t nominal_ = 0;
    std::deque<Edge> edges_;         // the latest edges, labelled or not
    std::deque<gps::HaFix> waiting_;  // messages that name a pulse still to come
    std::optional<Edge> la_, lb_;    // the last two labelled edges (lb_ the latest)
    std::deque<Edge> history_;       // the latest labelled edges, for the rate
    bool message_dated_ = false;
    bool suspect_ = false;           // scans may have been lost since the last anchor
    double rate_ = 0;
    bool pulse_ok_ = false;
    bool ever_pulse_ = false;
    bool rate_alarm_ = false;
    std::optional<gps::HaFix> last_fix_;
    std::optional<std::int64_t> last_pe_;
    std::vector<std::pair<std::int64_t, std::int64_t>> fresh_;  // second, phase error
};

}  // namespace zqd::acq
