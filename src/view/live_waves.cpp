#include "view/live_waves.h"

#include <algorithm>
#include <variant>

namespace zqd::view {

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
            ++blocks_;
            appended = true;
        }
    }
    if (const auto e = model_->Extent(); e && appended) {
        std::int64_t from = e->end_ns - static_cast<std::int64_t>(keep_seconds * 1e9);
        if (keep_from_ns) from = std::min(from, *keep_from_ns);
        model_->DropBefore(from);
    }
    return appended;
}

}  // namespace zqd::view
