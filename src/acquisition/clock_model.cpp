#include "acquisition/clock_model.h"

#include <algorithm>
#include <cmath>

#include "timeline/timeline.h"

namespace zqd::acq {

namespace {

constexpr std::int64_t kSecond = timeline::kNsPerSecond;
constexpr std::size_t kKeepEdges = 8;
// The rate, and where the timeline stands at an edge, from a line through
// the last eight seconds of edges: each edge is known to a share of a sample
// only as fine as the converter's codes, and the line averages that out.
constexpr std::int64_t kFitSpan = 8 * kSecond;
constexpr std::int64_t kKeepAnchors = 1100 * kSecond;  // the longest horizon, and some
constexpr std::size_t kRecentErrors = 10;
// A message is taken to begin this near a pulse when it may as well have
// begun on its other side: its first byte is known to a scan or two, and a
// receiver's serial output is not timed better than a few milliseconds.
constexpr double kMarginMs = 5;
constexpr double kMarginScans = 2;
// The wander's worst errors are forgotten over about an hour.
constexpr double kForgetSeconds = 3600;
// A crystal's rate wanders by about a part in 1e9 a second at the least
// (temperature), and how far a free run may be off is taken as twice what
// the wander measured said.
constexpr double kLeastWander = 1.0;  // ns/s^2
constexpr double kBoundFactor = 2.0;

// The best quality each doubt leaves.
int CapOf(LabelDoubt d) {
    switch (d) {
    case LabelDoubt::kAtEdge: return 20;  // the second itself may be wrong
    case LabelDoubt::kLate:
    case LabelDoubt::kDisagrees: return 40;
    }
    return 0;
}

std::int64_t NearestSecond(double ns) { return static_cast<std::int64_t>(std::llround(ns / 1e9)) * kSecond; }

Event MakeEvent(Event::Kind kind, std::uint64_t sequence, std::int64_t value, std::int64_t extra = 0) {
    Event e;
    e.kind = kind;
    e.sequence = sequence;
    e.value = value;
    e.extra = extra;
    return e;
}

}  // namespace

void ClockModel::Reset(const TimingConfig& config, std::int32_t nominal_rate) {
    *this = ClockModel();
    config_ = config;
    nominal_ = nominal_rate;
    margin_ = std::max(kMarginScans, kMarginMs * 1e-3 * nominal_rate);
}

void ClockModel::Unlock() {
    edges_.clear();
    fixes_.clear();
    anchors_.clear();
    last_fix_.reset();
    suspect_ = false;
}

double ClockModel::Extrapolate(const Anchor& from, double scan) const { return (scan - from.fit) / Rate() * 1e9; }

int ClockModel::QualityCap() const {
    int cap = 100;
    for (LabelDoubt d : {LabelDoubt::kAtEdge, LabelDoubt::kLate, LabelDoubt::kDisagrees})
        if (doubts_ & (1 << static_cast<int>(d))) cap = std::min(cap, CapOf(d));
    return cap;
}

std::optional<ClockModel::Dated> ClockModel::DatePulse(std::int64_t scan) const {
    if (config_.date_from != TimingConfig::DateFrom::kPulse || anchors_.empty()) return std::nullopt;
    const auto s = static_cast<double>(scan);
    const auto after = std::upper_bound(anchors_.begin(), anchors_.end(), s,
                                        [](double v, const Anchor& a) { return v < a.fit; });
    if (after == anchors_.begin())  // before the first labelled edge: back from it
        return Dated{anchors_.front().label + static_cast<std::int64_t>(std::llround(Extrapolate(anchors_.front(), s))),
                     false, 0};
    const Anchor& a = *(after - 1);
    if (after != anchors_.end()) {
        // Between two labelled edges: where the scan lies between them.
        const double share = (s - a.fit) / (after->fit - a.fit);
        const auto span = static_cast<double>(after->label - a.label);
        return Dated{a.label + static_cast<std::int64_t>(std::llround(share * span)), false, 0};
    }
    Dated d{a.label + static_cast<std::int64_t>(std::llround(Extrapolate(a, s))), !pulse_ok_, 0};
    if (d.free) d.bound_ns = FreeBound((s - a.scan) / Rate());
    return d;
}

std::optional<std::int64_t> ClockModel::LockError() const {
    if (!last_pe_) return std::nullopt;
    const std::int64_t last = std::llabs(*last_pe_);
    if (last >= 20000 || recent_pe_.empty()) return last;
    std::vector<std::int64_t> e;
    for (std::int64_t v : recent_pe_) e.push_back(std::llabs(v));
    std::nth_element(e.begin(), e.begin() + static_cast<std::ptrdiff_t>(e.size() / 2), e.end());
    return e[e.size() / 2];
}

std::int64_t ClockModel::FreeBound(double seconds) const {
    const double t = std::max(0.0, seconds);
    double b0 = 0;
    for (std::int64_t e : recent_pe_) b0 = std::max(b0, std::abs(static_cast<double>(e)));
    // The worst free run measured over the shortest horizon at least this
    // long; beyond the longest measured, carried on as the square of the
    // time (a wandering rate). The short horizons are mostly the edges' own
    // scatter, which does not grow so.
    double e = 0;
    bool measured = false;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < kHorizons.size(); ++i) {
        if (worst_at_[i] == 0) continue;
        longest = i;
        if (!measured && kHorizons[i] >= t) {
            e = worst_[i];
            measured = true;
        }
    }
    if (!measured && worst_at_[longest] != 0) {
        const double r = t / kHorizons[longest];
        e = worst_[longest] * r * r;
        measured = true;
    }
    if (!measured) e = 1000 * t;  // nothing measured yet: a part per million
    e = std::max(e, 0.5 * kLeastWander * t * t);
    const double bound = b0 + kBoundFactor * e;
    return bound > 9e18 ? std::int64_t{9000000000000000000} : static_cast<std::int64_t>(std::llround(bound));
}

ClockModel::Edge* ClockModel::EdgeBefore(double scan) {
    for (auto it = edges_.rbegin(); it != edges_.rend(); ++it)
        if (it->scan <= scan) return &*it;
    return nullptr;
}

ClockModel::Edge* ClockModel::EdgeAfter(double scan) {
    for (auto& e : edges_)
        if (e.scan >= scan) return &e;
    return nullptr;
}

bool ClockModel::Ready(const gps::HaFix& fix, std::int64_t settled) const {
    const auto m = static_cast<double>(fix.start_scan);
    const auto s = static_cast<double>(settled);
    // A message that gives the time of its own first byte: the edges within
    // half a second of it.
    if (fix.time_ns % kSecond != 0) return s >= m + 0.5 * Rate() + margin_;
    // One that names the pulse before it: every edge up to just after its start.
    if (!config_.message_refers_to_next) return s >= m + margin_;
    // One that names the pulse after it: the first edge after it, or a second's edges.
    if (s >= m + Rate() * 1.001 + margin_) return true;
    for (const auto& e : edges_)
        if (e.scan >= m + margin_ && e.scan < s) return true;
    return false;
}

void ClockModel::Update(const std::vector<double>& edges, const std::vector<gps::HaFix>& fixes, std::int64_t settled,
                        std::int64_t end_scan, std::uint64_t sequence, std::vector<Event>& events) {
    for (double e : edges) NewEdge(e, sequence, events);
    for (const auto& f : fixes) fixes_.push_back(f);
    while (!fixes_.empty() && Ready(fixes_.front(), settled)) {
        const gps::HaFix fix = fixes_.front();
        fixes_.pop_front();
        NewFix(fix, sequence, events);
    }
    // Messages cannot wait for ever (a pulse that never settles).
    while (!fixes_.empty() && static_cast<double>(end_scan - fixes_.front().start_scan) > 4 * Rate()) fixes_.pop_front();
    // No edge for a second and a half: the pulse is gone.
    if (pulse_ok_ && !anchors_.empty() && static_cast<double>(settled) - std::max(last_edge_, anchors_.back().scan) > 1.5 * Rate()) {
        pulse_ok_ = false;
        lost_ = true;
        events.push_back(MakeEvent(Event::Kind::kPulseLost, sequence, anchors_.back().label));
    }
}

void ClockModel::NewEdge(double scan, std::uint64_t sequence, std::vector<Event>& events) {
    Edge edge{scan, std::nullopt};
    last_edge_ = any_edge_ ? std::max(last_edge_, scan) : scan;
    any_edge_ = true;
    if (!anchors_.empty() && scan > anchors_.back().scan && !suspect_) {
        // Counted from the last labelled edge: whole seconds at the measured
        // rate, within a millisecond and 100 ppm of the span.
        const Anchor& last = anchors_.back();
        const double seconds = (scan - last.scan) / Rate();
        const auto k = static_cast<std::int64_t>(std::llround(seconds));
        if (k >= 1 && std::abs(seconds - static_cast<double>(k)) * 1e3 <= 1.0 + 0.1 * static_cast<double>(k))
            edge.label = last.label + k * kSecond;
    }
    edges_.push_back(edge);
    if (edges_.size() > kKeepEdges) edges_.pop_front();
    if (edges_.back().label) AddAnchor(edges_.back(), sequence, events);
}

void ClockModel::CountOn(const Edge& from, std::uint64_t sequence, std::vector<Event>& events) {
    for (auto& e : edges_) {
        if (e.scan <= from.scan || e.label || anchors_.empty() || e.scan <= anchors_.back().scan) continue;
        const Anchor& last = anchors_.back();
        const double seconds = (e.scan - last.scan) / Rate();
        const auto k = static_cast<std::int64_t>(std::llround(seconds));
        if (k >= 1 && std::abs(seconds - static_cast<double>(k)) * 1e3 <= 1.0 + 0.1 * static_cast<double>(k)) {
            e.label = last.label + k * kSecond;
            AddAnchor(e, sequence, events);
        }
    }
}

void ClockModel::Doubt(LabelDoubt doubt, bool now, std::int64_t value, std::uint64_t sequence, std::vector<Event>& events) {
    const int bit = 1 << static_cast<int>(doubt);
    const bool was = (doubts_ & bit) != 0;
    if (now == was) return;
    doubts_ ^= bit;
    if (!now) {
        events.push_back(MakeEvent(Event::Kind::kLabelsSure, sequence, static_cast<std::int64_t>(doubt)));
        return;
    }
    if (doubt == LabelDoubt::kAtEdge) events.push_back(MakeEvent(Event::Kind::kMessageAtEdge, sequence, value));
    if (doubt == LabelDoubt::kLate) events.push_back(MakeEvent(Event::Kind::kMessageLate, sequence, value));
}

void ClockModel::NewFix(const gps::HaFix& fix, std::uint64_t sequence, std::vector<Event>& events) {
    last_fix_ = fix;
    const auto m = static_cast<double>(fix.start_scan);
    const bool whole = fix.time_ns % kSecond == 0;
    const double second = Rate() * 1.001 + margin_;
    auto ns = [&](double scans) { return static_cast<std::int64_t>(std::llround(scans / Rate() * 1e9)); };
    Edge* match = nullptr;
    if (!whole) {
        // A message that gives the time of its own first byte: the nearest edge.
        for (auto& e : edges_)
            if (std::abs(e.scan - m) <= Rate() && (!match || std::abs(e.scan - m) < std::abs(match->scan - m))) match = &e;
    } else {
        // The message names the pulse before it (or after it). One that began
        // within the margin of a pulse, on the side where it would name the
        // other, cannot be placed: it is taken to name the one the rule says,
        // and the label is in doubt.
        const bool next = config_.message_refers_to_next;
        Edge* near = next ? EdgeAfter(m - margin_) : EdgeBefore(m + margin_);
        const double gap = near ? (next ? near->scan - m : m - near->scan) : 0;  // the delay, if it is this one
        if (near && gap <= second) {
            if (gap < 0) {
                Doubt(LabelDoubt::kAtEdge, true, ns(m - near->scan), sequence, events);
                Edge* other = next ? EdgeAfter(near->scan + 0.5 * Rate()) : EdgeBefore(near->scan - 0.5 * Rate());
                // An edge the count has labelled already keeps its label when
                // either reading of the message agrees with it.
                const bool agrees = (near->label && *near->label == fix.time_ns) ||
                                    (other && other->label && *other->label == fix.time_ns);
                if (other && std::abs(std::abs(other->scan - near->scan) - Rate()) <= 0.001 * Rate() + margin_) {
                    if (!agrees) match = other;
                    else return;
                }
            } else {
                Doubt(LabelDoubt::kAtEdge, false, 0, sequence, events);
                const std::int64_t delay = ns(gap);
                delay_ = delay;
                Doubt(LabelDoubt::kLate, delay > static_cast<std::int64_t>(config_.max_message_delay_ms) * 1000000, delay,
                      sequence, events);
                match = near;
            }
        }
    }
    if (match) {
        LabelFromFix(*match, fix, sequence, events);
        return;
    }
    // No pulse to label: a clock running free from the last edge is checked
    // against the message, and let go when the message says it is wrong.
    if (!anchors_.empty() && !pulse_ok_) {
        // Where the clock puts the message's start, against its time.
        const double off = static_cast<double>(anchors_.back().label - fix.time_ns) + Extrapolate(anchors_.back(), m);
        const double lo = whole && config_.message_refers_to_next ? -1e9 - 1e6 : -1e6;
        const double hi = whole && !config_.message_refers_to_next ? 1e9 + 1e6 : 1e6;
        if (off < lo || off > hi) Unlock();
    }
}

void ClockModel::LabelFromFix(Edge& edge, const gps::HaFix& fix, std::uint64_t sequence, std::vector<Event>& events) {
    const auto m = static_cast<double>(fix.start_scan);
    const std::int64_t label =
        fix.time_ns % kSecond == 0
            ? fix.time_ns
            : NearestSecond(static_cast<double>(fix.time_ns) + (edge.scan - m) / static_cast<double>(nominal_) * 1e9);
    if (!edge.label && !anchors_.empty() && edge.scan <= anchors_.back().scan) {
        // Older than what is anchored: what the count says of it.
        const Anchor& last = anchors_.back();
        const double seconds = (last.scan - edge.scan) / Rate();
        const auto k = static_cast<std::int64_t>(std::llround(seconds));
        if (k < 0 || std::abs(seconds - static_cast<double>(k)) * 1e3 > 1.0 + 0.1 * static_cast<double>(k)) return;
        edge.label = last.label - k * kSecond;
    }
    if (edge.label) {
        if (*edge.label == label) {
            Doubt(LabelDoubt::kDisagrees, false, 0, sequence, events);
            return;
        }
        events.push_back(MakeEvent(Event::Kind::kPulseDisagrees, sequence, label - *edge.label));
        Doubt(LabelDoubt::kDisagrees, true, label - *edge.label, sequence, events);
        // The message holds: counting starts again from this edge.
        edge.label = label;
        anchors_.clear();
        for (auto& e : edges_)
            if (&e != &edge) e.label.reset();
        AddAnchor(edge, sequence, events);
        CountOn(edge, sequence, events);
        return;
    }
    edge.label = label;
    if (suspect_ && !anchors_.empty()) {
        // Scans may have been lost before this edge: the anchor holds if the
        // message's second is the one counted from it.
        suspect_ = false;
        const Anchor& last = anchors_.back();
        const double seconds = (edge.scan - last.scan) / Rate();
        const auto k = static_cast<std::int64_t>(std::llround(seconds));
        if (!(k >= 1 && last.label + k * kSecond == label && std::abs(seconds - static_cast<double>(k)) < 1e-3))
            anchors_.clear();
    }
    AddAnchor(edge, sequence, events);
    CountOn(edge, sequence, events);  // the edges found since, which waited for this one
}

void ClockModel::MeasureWander(const Anchor& now) {
    for (std::size_t i = 0; i < kHorizons.size(); ++i) {
        const std::int64_t then = now.label - kHorizons[i] * kSecond;
        const auto it = std::lower_bound(anchors_.begin(), anchors_.end(), then,
                                         [](const Anchor& a, std::int64_t l) { return a.label < l; });
        if (it == anchors_.end() || it->label != then || !it->full) continue;
        // A free run from that edge at the rate measured there.
        const double predicted = it->fit + it->rate * kHorizons[i];
        const double err = std::abs(now.fit - predicted) / Rate() * 1e9;
        const double age = worst_at_[i] == 0 ? 0 : static_cast<double>(now.label - worst_at_[i]) / 1e9;
        worst_[i] = std::max(err, worst_[i] * std::exp(-age / kForgetSeconds));
        worst_at_[i] = now.label;
    }
}

void ClockModel::AddAnchor(const Edge& edge, std::uint64_t sequence, std::vector<Event>& events) {
    const std::int64_t label = *edge.label;
    // The phase error: where the data's timeline put this edge (from the
    // pulse once its rate is measured; from the message while it dated them).
    // (Each as an offset from the edge's second: nanoseconds since 1970 are
    // beyond a double's precision.)
    std::optional<double> at;
    if (config_.date_from == TimingConfig::DateFrom::kPulse && !anchors_.empty()) {
        if (rate_ > 0) at = static_cast<double>(anchors_.back().label - label) + Extrapolate(anchors_.back(), edge.scan);
    } else if (last_fix_ && (config_.date_from == TimingConfig::DateFrom::kMessage || message_dated_)) {
        // The message dates the scans near it at the nominal rate.
        at = static_cast<double>(last_fix_->time_ns - label) +
             (edge.scan - static_cast<double>(last_fix_->start_scan)) / static_cast<double>(nominal_) * 1e9;
    }
    std::int64_t error = 0;
    if (at) {
        error = static_cast<std::int64_t>(std::llround(*at));
        last_pe_ = error;
        fresh_.emplace_back(label, error);
        if (!lost_) {  // a re-lock's step is the free run's, not the lock's
            recent_pe_.push_back(error);
            if (recent_pe_.size() > kRecentErrors) recent_pe_.pop_front();
        }
    }
    if (!anchors_.empty() && label <= anchors_.back().label) anchors_.clear();
    Anchor now{edge.scan, label, 0.0, false, edge.scan};
    // The line through the edges of the last seconds, this one with them:
    // the rate is its slope, and it says where the timeline stands here.
    double n = 1, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (auto it = anchors_.rbegin(); it != anchors_.rend() && label - it->label <= kFitSpan; ++it) {
        const double x = static_cast<double>(it->label - label) / 1e9, y = it->scan - edge.scan;
        n += 1;
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    if (n >= 2) {
        const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
        rate_ = slope;
        now.rate = slope;
        now.fit = edge.scan + (sy - slope * sx) / n;  // the line at this edge's second
        now.full = n > static_cast<double>(kFitSpan / kSecond);
        const double ppm = (rate_ / nominal_ - 1) * 1e6;
        // Said once: again only after the rate has been well within the
        // alarm (half of it) for an hour, not each time an overloaded or
        // wandering clock crosses it.
        const bool off = std::abs(ppm) > config_.rate_alarm_ppm;
        if (off && !rate_alarm_ && (!rate_said_ || label - rate_good_since_ >= kRateSaidAgain))
            events.push_back(MakeEvent(Event::Kind::kRateOff, sequence, static_cast<std::int64_t>(std::llround(ppm * 1000))));
        if (off) {
            rate_alarm_ = rate_said_ = true;
        } else if (rate_alarm_ && std::abs(ppm) <= config_.rate_alarm_ppm / 2) {
            rate_alarm_ = false;
            rate_good_since_ = label;
        }
    }
    MeasureWander(now);
    anchors_.push_back(now);
    while (anchors_.back().label - anchors_.front().label > kKeepAnchors) anchors_.pop_front();
    if (!pulse_ok_) {
        if (ever_pulse_) events.push_back(MakeEvent(Event::Kind::kPulseBack, sequence, label, at ? error : 0));
        pulse_ok_ = true;
        ever_pulse_ = true;
        lost_ = false;
    }
}

}  // namespace zqd::acq
