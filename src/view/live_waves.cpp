#include "view/live_waves.h"

#include <algorithm>
#include <cmath>
#include <variant>

#include "timeline/timeline.h"

namespace zqd::view {


Status LiveWaves::SetFilter(const signal::FilterSpec& spec, double rate) {
    if (spec.kind == signal::FilterSpec::Kind::kNone) {
        filtered_.reset();
        filters_.clear();
        held_.clear();
        return Status::Ok();
    }
    signal::Filter f;
    if (Status s = signal::Filter::Design(spec, rate, f); !s.ok()) return s;
    filters_.assign(static_cast<std::size_t>(model_->ChannelCount()), f);
    held_.assign(filters_.size(), nullptr);
    filtered_ = std::make_shared<WaveformModel>();
    for (int c = 0; c < model_->ChannelCount(); ++c) filtered_->AddChannel(model_->At(c).name, model_->At(c).offset);
    return Status::Ok();
}

void LiveWaves::AppendFiltered(const acq::Block& b) {
    if (!filtered_ || b.ChnPoints <= 0 || b.SampleFrq <= 0 || b.time_status == acq::TimeStatus::kNone) return;
    const double rate = b.SampleFrq;
    std::vector<double> x(static_cast<std::size_t>(b.ChnPoints));
    std::vector<std::int32_t> y(x.size());
    for (int c = 0; c < filtered_->ChannelCount(); ++c) {
        const int offset = filtered_->At(c).offset;
        if (offset < 0 || offset >= b.ChnNum) continue;
        const auto& list = filtered_->At(c).stretches;
        auto& held = held_[static_cast<std::size_t>(c)];
        const bool joins = held && !list.empty() && list.back().rate == rate &&
                           timeline::Continues(list.back().EndNs(), b.time_ns, rate) &&
                           static_cast<double>(list.back().count) / rate < 60;
        const bool gap = list.empty() || list.back().rate != rate || !timeline::Continues(list.back().EndNs(), b.time_ns, rate);
        if (gap) filters_[static_cast<std::size_t>(c)].Reset();  // the filter starts again after a gap
        if (!joins) {
            held = std::make_shared<HeldSamples>();
            filtered_->AddStretch(c, b.time_ns, rate, held);
        }
        for (std::size_t j = 0; j < x.size(); ++j) x[j] = static_cast<std::uint16_t>(b.At(static_cast<std::int64_t>(j), offset));
        filters_[static_cast<std::size_t>(c)].Run(x.data(), x.size());
        for (std::size_t j = 0; j < x.size(); ++j) y[j] = static_cast<std::int32_t>(std::lround(std::clamp(x[j], -2e9, 2e9)));
        held->values.insert(held->values.end(), y.begin(), y.end());
        Stretch& s = filtered_->Back(c);
        s.summary.Append(y.data(), y.size());
        s.count += y.size();
    }
}

LiveWaves::LiveWaves(acq::Session& session, const std::vector<std::pair<int, std::string>>& channels)
    : session_(session) {
    for (const auto& [offset, name] : channels) model_->AddChannel(name, offset);
    mailbox_->Listen(true);
    runner_ = session_.AddSink(mailbox_, kMailboxBlocks);
}

LiveWaves::~LiveWaves() { session_.RemoveSink(runner_); }

bool LiveWaves::Tick(double keep_seconds, std::optional<std::int64_t> keep_from_ns) {
    bool appended = false;
    for (const auto& item : mailbox_->Take()) {
        if (const auto* block = std::get_if<acq::BlockPtr>(&item)) {
            model_->AppendBlock(*block);
            AppendFiltered(**block);
            ++blocks_;
            appended = true;
        }
    }
    if (const auto e = model_->Extent(); e && appended) {
        std::int64_t from = e->end_ns - static_cast<std::int64_t>(keep_seconds * 1e9);
        if (keep_from_ns) from = std::min(from, *keep_from_ns);
        model_->DropBefore(from);
        if (filtered_) filtered_->DropBefore(from);
    }
    return appended;
}

}  // namespace zqd::view
