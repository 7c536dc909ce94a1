#include "acquisition/clock_model.h"

#include <cmath>

#include "timeline/timeline.h"

namespace zqd::acq {

namespace {

constexpr std::int64_t kSecond = timeline::kNsPerSecond;
constexpr std::size_t kKeepEdges = 4;
constexpr std::size_t kRateEdges = 5;  // the rate over the last four seconds
constexpr std::int64_t kMaxRateSpan = 10 * kSecond;  // edges farther apart do not measure the rate

std::int64_t NearestSecond(double ns) { return static_cast<std::int64_t>(std::llround(ns / 1e9)) * kSecond; }

Event MakeEvent(Event::Kind kind, std::uint64_t sequence, std::int64_t value) {
    Event e;
    e.kind = kind;
    e.sequence = sequence;
    e.value = value;
    return e;
}

}  // namespace

void ClockModel::Reset(const TimingConfig& config, std::int32_t nominal_rate) {
    *this = ClockModel();
    config_ = config;
    nominal_ = nominal_rate;
}

void ClockModel::Unlock() {
    edges_.clear();
    waiting_.clear();
    la_.reset();
    lb_.reset();
    last_fix_.reset();
    history_.clear();
    suspect_ = false;
}

double ClockModel::Extrapolate(double scan) const { return (scan - lb_->scan) / Rate() * 1e9; }

std::optional<ClockModel::Dated> ClockModel::DatePulse(std::int64_t scan) const {
    if (config_.date_from != TimingConfig::DateFrom::kPulse || !lb_) return std::nullopt;
    const auto s = static_cast<double>(scan);
    if (la_ && la_->scan <= s && s <= lb_->scan) {
        // Between two labelled edges: where the scan lies between them.
        const double share = (s - la_->scan) / (lb_->scan - la_->scan);
        const auto span = static_cast<double>(*lb_->label - *la_->label);
        return Dated{*la_->label + static_cast<std::int64_t>(std::llround(share * span)), false};
    }
    return Dated{*lb_->label + static_cast<std::int64_t>(std::llround(Extrapolate(s))), !pulse_ok_};
}

void ClockModel::Update(const std::vector<double>& edges, const std::vector<gps::HaFix>& fixes,
                        std::int64_t end_scan, std::uint64_t sequence, std::vector<Event>& events) {
    for (double e : edges) NewEdge(e, sequence, events);
    for (const auto& f : fixes) NewFix(f, sequence, events);
    const double delay = config_.max_message_delay_ms * 1e-3 * Rate();
    while (!waiting_.empty() && static_cast<double>(end_scan - waiting_.front().start_scan) > delay) waiting_.pop_front();
    // No labelled edge for a second and a half: the pulse is gone.
    if (pulse_ok_ && lb_ && static_cast<double>(end_scan) - lb_->scan > 1.5 * Rate()) {
        pulse_ok_ = false;
        events.push_back(MakeEvent(Event::Kind::kPulseLost, sequence, *lb_->label));
    }
}

void ClockModel::NewEdge(double scan, std::uint64_t sequence, std::vector<Event>& events) {
    Edge edge{scan, std::nullopt};
    if (lb_ && scan > lb_->scan && !suspect_) {
        // Counted from the last labelled edge: whole seconds at the measured
        // rate, within a millisecond and 100 ppm of the span.
        const double r = Rate();
        const double seconds = (scan - lb_->scan) / r;
        const auto k = static_cast<std::int64_t>(std::llround(seconds));
        if (k >= 1 && std::abs(seconds - static_cast<double>(k)) * 1e3 <= 1.0 + 0.1 * static_cast<double>(k))
            edge.label = *lb_->label + k * kSecond;
    }
    edges_.push_back(edge);
    if (edges_.size() > kKeepEdges) edges_.pop_front();
    Edge& kept = edges_.back();
    // A message that named the pulse to come.
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
        const double after = scan - static_cast<double>(it->start_scan);
        if (after >= -2 && after <= config_.max_message_delay_ms * 1e-3 * Rate()) {
            const gps::HaFix fix = *it;
            waiting_.erase(it);
            LabelFromFix(kept, fix, sequence, events);
            return;
        }
    }
    if (kept.label) Anchor(kept, sequence, events);
}

void ClockModel::NewFix(const gps::HaFix& fix, std::uint64_t sequence, std::vector<Event>& events) {
    last_fix_ = fix;
    const double m = static_cast<double>(fix.start_scan);
    const double delay = config_.max_message_delay_ms * 1e-3 * Rate();
    const bool whole = fix.time_ns % kSecond == 0;
    Edge* match = nullptr;
    if (!whole) {
        // A message that gives the time of its own first byte: the nearest edge.
        for (auto& e : edges_)
            if (std::abs(e.scan - m) <= Rate() && (!match || std::abs(e.scan - m) < std::abs(match->scan - m))) match = &e;
    } else if (!config_.message_refers_to_next) {
        for (auto& e : edges_)
            if (e.scan <= m + 2 && m - e.scan <= delay) match = &e;  // the latest before the message
    } else {
        for (auto& e : edges_)
            if (e.scan >= m - 2 && e.scan - m <= delay) {
                match = &e;
                break;
            }
        if (!match) waiting_.push_back(fix);
    }
    if (match) {
        LabelFromFix(*match, fix, sequence, events);
        return;
    }
    // No pulse to label: a clock running free from the last edge is checked
    // against the message, and let go when the message says it is wrong.
    if (lb_ && !pulse_ok_ && !(whole && config_.message_refers_to_next)) {
        const double free = static_cast<double>(*lb_->label) + Extrapolate(m);
        const double off = free - static_cast<double>(fix.time_ns);  // where the clock puts the message's start
        const double lo = -1e6, hi = whole ? config_.max_message_delay_ms * 1e6 + 1e6 : 1e6;
        if (off < lo || off > hi) Unlock();
    }
}

void ClockModel::LabelFromFix(Edge& edge, const gps::HaFix& fix, std::uint64_t sequence, std::vector<Event>& events) {
    const double m = static_cast<double>(fix.start_scan);
    const std::int64_t label =
        fix.time_ns % kSecond == 0
            ? fix.time_ns
            : NearestSecond(static_cast<double>(fix.time_ns) + (edge.scan - m) / static_cast<double>(nominal_) * 1e9);
    if (edge.label) {
        if (*edge.label == label) return;
        events.push_back(MakeEvent(Event::Kind::kPulseDisagrees, sequence, label - *edge.label));
        // The message holds: counting starts again from this edge.
        edge.label = label;
        la_.reset();
        lb_ = edge;
        history_.clear();
        history_.push_back(edge);
        return;
    }
    if (lb_ && edge.scan <= lb_->scan) return;  // older than what is anchored
    edge.label = label;
    if (suspect_ && lb_) {
        // Scans may have been lost before this edge: the anchor holds if the
        // message's second is the one counted from it.
        suspect_ = false;
        const double seconds = (edge.scan - lb_->scan) / Rate();
        const auto k = static_cast<std::int64_t>(std::llround(seconds));
        if (!(k >= 1 && *lb_->label + k * kSecond == label && std::abs(seconds - static_cast<double>(k)) < 1e-3)) {
            la_.reset();
            lb_.reset();
            history_.clear();
        }
    }
    Anchor(edge, sequence, events);
}

void ClockModel::Anchor(const Edge& edge, std::uint64_t sequence, std::vector<Event>& events) {
    const std::int64_t label = *edge.label;
    // The phase error: where the data's timeline put this edge (from the
    // pulse once its rate is measured; from the message while it dated them).
    std::optional<double> at;
    if (config_.date_from == TimingConfig::DateFrom::kPulse && lb_) {
        if (rate_ > 0) at = static_cast<double>(*lb_->label) + Extrapolate(edge.scan);
    } else if (last_fix_ && (config_.date_from == TimingConfig::DateFrom::kMessage || message_dated_)) {
        // The message dates the scans near it at the nominal rate.
        at = static_cast<double>(last_fix_->time_ns) +
             (edge.scan - static_cast<double>(last_fix_->start_scan)) / static_cast<double>(nominal_) * 1e9;
    }
    if (at) {
        last_pe_ = static_cast<std::int64_t>(std::llround(*at - static_cast<double>(label)));
        fresh_.emplace_back(label, *last_pe_);
    }
    // The rate over a few seconds: the edges' own jitter averages out.
    if (lb_ && label <= *lb_->label) history_.clear();
    history_.push_back(edge);
    while (history_.size() > kRateEdges || *history_.back().label - *history_.front().label > kMaxRateSpan)
        history_.pop_front();
    if (history_.size() >= 2) {
        const Edge& from = history_.front();
        rate_ = (edge.scan - from.scan) / (static_cast<double>(label - *from.label) / 1e9);
        const double ppm = (rate_ / nominal_ - 1) * 1e6;
        const bool off = std::abs(ppm) > config_.rate_alarm_ppm;
        if (off && !rate_alarm_)
            events.push_back(MakeEvent(Event::Kind::kRateOff, sequence, static_cast<std::int64_t>(std::llround(ppm * 1000))));
        rate_alarm_ = off;
    }
    if (lb_ && label > *lb_->label) la_ = lb_;
    else la_.reset();
    lb_ = edge;
    if (!pulse_ok_) {
        if (ever_pulse_) events.push_back(MakeEvent(Event::Kind::kPulseBack, sequence, label));
        pulse_ok_ = true;
        ever_pulse_ = true;
    }
}

}  // namespace zqd::acq
