// The live waveforms of an acquisition: a sink of the session whose blocks
// the window's timer appends to a waveform model, keeping the last minutes.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "acquisition/mailbox.h"
#include "acquisition/session.h"
#include "signal/filter.h"
#include "view/waveform_model.h"

namespace zqd::view {

class LiveWaves {
public:
    // `channels`: card offset and name of each row.
    LiveWaves(acq::Session& session, const std::vector<std::pair<int, std::string>>& channels);
    ~LiveWaves();
    LiveWaves(const LiveWaves&) = delete;
    LiveWaves& operator=(const LiveWaves&) = delete;

    std::shared_ptr<const WaveformModel> Model() const { return model_; }
    // Live data filtered causally (each channel's filter runs on from block
    // to block, starting again after a gap), kept as long as the model's;
    // null without a filter. kQueryRefused (kBadFilter) when the filter does
    // not suit `rate`, the card's; the filter that was stays.
    Status SetFilter(const signal::FilterSpec& spec, double rate);
    std::shared_ptr<const WaveformModel> Filtered() const { return filtered_; }
    // Appends what arrived; lets go of data older than `keep_seconds` before
    // the newest, but never of what lies after `keep_from_ns` (a paused
    // view's start). True when something was appended.
    bool Tick(double keep_seconds, std::optional<std::int64_t> keep_from_ns = std::nullopt);
    std::uint64_t Blocks() const { return blocks_; }

private:
    acq::Session& session_;
    // Blocks held for the next tick (a tick comes several times a second).
    static constexpr std::size_t kMailboxBlocks = 256;
    std::shared_ptr<acq::Mailbox> mailbox_ = std::make_shared<acq::Mailbox>(kMailboxBlocks);
    std::shared_ptr<acq::SinkRunner> runner_;
    std::shared_ptr<WaveformModel> model_ = std::make_shared<WaveformModel>();
    std::uint64_t blocks_ = 0;

    void AppendFiltered(const acq::Block& b);
    std::shared_ptr<WaveformModel> filtered_;
    std::vector<signal::Filter> filters_;  // one a channel
    std::vector<std::shared_ptr<HeldSamples>> held_;  // each channel's last filtered stretch
};

}  // namespace zqd::view
