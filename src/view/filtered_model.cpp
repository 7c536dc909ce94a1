#include "view/filtered_model.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace zqd::view {

namespace {

// Filtered samples, held in memory.
class HeldSource final : public SampleSource {
public:
    explicit HeldSource(std::vector<std::int32_t> values) : values_(std::move(values)) {}
    void Read(std::uint64_t first, std::size_t n, std::int32_t* out) const override {
        std::copy_n(values_.begin() + static_cast<std::ptrdiff_t>(first), n, out);
    }
    const std::vector<std::int32_t>& Values() const { return values_; }

private:
    std::vector<std::int32_t> values_;
};

}  // namespace

std::int64_t FilterMarginNs(const FilterSpec& spec) {
    double lowest = 0;
    switch (spec.kind) {
    case FilterSpec::Kind::kHighPass:
    case FilterSpec::Kind::kBandPass: lowest = spec.low_hz; break;
    case FilterSpec::Kind::kLowPass: lowest = spec.high_hz; break;
    default: return 0;
    }
    return static_cast<std::int64_t>(std::min(10 / lowest, 3600.0) * 1e9);
}

Status FilterModel(const WaveformModel& in, const std::vector<bool>& shown, std::int64_t t0, std::int64_t t1,
                   const FilterSpec& spec, WaveformModel& out, std::uint64_t most) {
    out = WaveformModel{};
    const std::int64_t margin = FilterMarginNs(spec);
    const std::int64_t from = t0 - margin, to = t1 + margin;
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
    std::vector<std::int32_t> raw;
    std::vector<double> x;
    for (const Piece& p : pieces) {
        Filter f;
        if (Status s = Filter::Design(spec, p.stretch->rate, f); !s.ok()) return s;
        raw.resize(p.count);
        p.stretch->source->Read(p.first, raw.size(), raw.data());
        x.assign(raw.begin(), raw.end());
        f.RunZeroPhase(x.data(), x.size());
        std::vector<std::int32_t> values(x.size());
        for (std::size_t k = 0; k < x.size(); ++k)
            values[k] = static_cast<std::int32_t>(std::llround(std::clamp(
                x[k], static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                static_cast<double>(std::numeric_limits<std::int32_t>::max()))));
        auto held = std::make_shared<HeldSource>(std::move(values));
        Stretch& s = out.AddStretch(p.channel, p.stretch->TimeOf(static_cast<double>(p.first)), p.stretch->rate, held);
        s.summary.Append(held->Values().data(), held->Values().size());
        s.count = held->Values().size();
    }
    return Status::Ok();
}

}  // namespace zqd::view
