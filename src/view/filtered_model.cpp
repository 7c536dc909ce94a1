#include "view/filtered_model.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>

namespace zqd::view {

std::int64_t FilterMarginNs(const signal::FilterSpec& spec) {
    double lowest = 0;
    switch (spec.kind) {
    case signal::FilterSpec::Kind::kHighPass:
    case signal::FilterSpec::Kind::kBandPass: lowest = spec.low_hz; break;
    case signal::FilterSpec::Kind::kLowPass: lowest = spec.high_hz; break;
    default: return 0;
    }
    return static_cast<std::int64_t>(std::min(10 / lowest, 3600.0) * 1e9);
}

Status FilterModel(const WaveformModel& in, const std::vector<bool>& shown, std::int64_t t0, std::int64_t t1,
                   const signal::FilterSpec& spec, WaveformModel& out, std::uint64_t most, std::vector<int>* unfiltered) {
    out = WaveformModel{};
    if (unfiltered) unfiltered->clear();
    const std::int64_t margin = FilterMarginNs(spec);
    std::int64_t from = 0, to = 0;  // the margin, short of the ends of time
    if (__builtin_sub_overflow(t0, margin, &from)) from = std::numeric_limits<std::int64_t>::min();
    if (__builtin_add_overflow(t1, margin, &to)) to = std::numeric_limits<std::int64_t>::max();
    // What the span holds first, so that nothing is read for a span refused.
    struct Piece {
        int channel;
        const Stretch* stretch;
        std::uint64_t first, count;
    };
    std::vector<Piece> pieces;
    std::uint64_t total = 0;
    for (int c = 0; c < in.ChannelCount(); ++c) {
        out.AddChannel(in.At(c).name, in.At(c).offset);
        if (!shown.empty() && (static_cast<std::size_t>(c) >= shown.size() || !shown[static_cast<std::size_t>(c)])) continue;
        for (const Stretch& s : in.At(c).stretches) {
            if (s.EndNs() <= from || s.start_ns >= to || s.count == 0) continue;
            const std::uint64_t first = s.IndexAtOrAfter(from), end = s.IndexAtOrAfter(to);
            if (end <= first) continue;
            pieces.push_back({c, &s, first, end - first});
            total += end - first;
        }
    }
    if (total > most)
        return Status::Fail(Status::Code::kQueryRefused, Status::Why::kFilteredSpanTooLong)
            .Values(static_cast<std::int64_t>(total), static_cast<std::int64_t>(most));
    constexpr double kLow = std::numeric_limits<std::int32_t>::min(), kHigh = std::numeric_limits<std::int32_t>::max();
    constexpr std::size_t kPiece = 4096;
    std::vector<double> x(kPiece);
    // Each row's filter, or why it has none.
    std::vector<signal::Filter> filters(pieces.size());
    std::vector<bool> suits(pieces.size());
    Status refused = Status::Ok();
    std::vector<int> left;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const Status s = signal::Filter::Design(spec, pieces[i].stretch->rate, filters[i]);
        suits[i] = s.ok();
        if (s.ok()) continue;
        if (refused.ok()) refused = s;
        if (std::find(left.begin(), left.end(), pieces[i].channel) == left.end()) left.push_back(pieces[i].channel);
    }
    if (!pieces.empty() && std::none_of(suits.begin(), suits.end(), [](bool b) { return b; })) return refused;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const Piece& p = pieces[i];
        const signal::Filter& f = filters[i];
        // The counts are read into the vector that then holds the result, and
        // filtered in pieces through a small buffer of doubles: forward, the
        // intermediate kept in place as floats (the filter's state stays
        // double; the float's rounding is far below a count), then backward
        // into counts. No copy of the span in doubles is made.
        std::vector<std::int32_t> values(p.count);
        p.stretch->source->Read(p.first, values.size(), values.data());
        const std::size_t n = values.size();
        if (!suits[i]) {
            // left as it is
        } else if (!f.Filters()) {  // de-mean
            double sum = 0;
            for (const std::int32_t v : values) sum += v;
            const double mean = sum / static_cast<double>(n);
            for (std::int32_t& v : values) v = static_cast<std::int32_t>(std::lrint(std::clamp(v - mean, kLow, kHigh)));
        } else {
            signal::Filter::State state = f.SteadyStateAt(values[0]);
            for (std::size_t at = 0; at < n; at += kPiece) {
                const std::size_t m = std::min(kPiece, n - at);
                for (std::size_t k = 0; k < m; ++k) x[k] = values[at + k];
                f.Forward(x.data(), m, state);
                for (std::size_t k = 0; k < m; ++k) values[at + k] = std::bit_cast<std::int32_t>(static_cast<float>(x[k]));
            }
            state = f.SteadyStateAt(std::bit_cast<float>(values[n - 1]));
            for (std::size_t end = n; end > 0;) {
                const std::size_t m = std::min(kPiece, end), at = end - m;
                for (std::size_t k = 0; k < m; ++k) x[k] = std::bit_cast<float>(values[at + k]);
                f.Backward(x.data(), m, state);
                for (std::size_t k = 0; k < m; ++k) values[at + k] = static_cast<std::int32_t>(std::lrint(std::clamp(x[k], kLow, kHigh)));
                end = at;
            }
        }
        auto held = std::make_shared<HeldSamples>(std::move(values));
        Stretch& s = out.AddStretch(p.channel, p.stretch->TimeOf(static_cast<double>(p.first)), p.stretch->rate, held);
        s.summary.Append(held->values.data(), held->values.size());
        s.count = held->values.size();
    }
    if (unfiltered) *unfiltered = std::move(left);
    return Status::Ok();
}

}  // namespace zqd::view
