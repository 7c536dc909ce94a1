#include "acquisition/mailbox.h"

namespace zqd::acq {

namespace {
// Room for events beyond the blocks' capacity, as a sink's queue has.
constexpr std::size_t kEventRoom = 256;
}  // namespace

void Mailbox::Listen(bool on) {
    std::lock_guard lock(mutex_);
    listening_ = on;
    if (!on) {
        items_.clear();
        complete_ = blocks_ = 0;
        in_poll_ = false;
        unreported_ = 0;
    }
}

std::uint64_t Mailbox::Dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

void Mailbox::Put(Item item) {
    std::lock_guard lock(mutex_);
    if (!listening_) return;
    const auto* event = std::get_if<Event>(&item);
    const bool is_block = event == nullptr;
    const bool full = is_block ? blocks_ >= capacity_ : items_.size() >= capacity_ + kEventRoom;
    if (full) {
        if (is_block) {
            ++dropped_;
            ++unreported_;
        }
        return;
    }
    if (unreported_ > 0) {
        items_.emplace_back(DroppedEvent(unreported_));
        unreported_ = 0;
    }
    if (event && event->kind == Event::Kind::kPolled) {
        complete_ = items_.size();
        in_poll_ = true;
    }
    const bool ends_poll = event && (event->kind == Event::Kind::kPollEnd || event->kind == Event::Kind::kStopped ||
                                     event->kind == Event::Kind::kCardError);
    if (is_block) ++blocks_;
    items_.push_back(std::move(item));
    if (ends_poll) in_poll_ = false;
    if (!in_poll_) complete_ = items_.size();
}

std::vector<Item> Mailbox::Take() {
    std::lock_guard lock(mutex_);
    std::vector<Item> out;
    if (complete_ == items_.size()) {
        out.swap(items_);
    } else {
        out.assign(std::make_move_iterator(items_.begin()),
                   std::make_move_iterator(items_.begin() + static_cast<std::ptrdiff_t>(complete_)));
        items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(complete_));
    }
    complete_ = 0;
    for (const auto& i : out)
        if (std::holds_alternative<BlockPtr>(i)) --blocks_;
    if (unreported_ > 0 && !in_poll_) {
        // Lost since the last item that was kept: said now, in their place.
        out.emplace_back(DroppedEvent(unreported_));
        unreported_ = 0;
    }
    return out;
}

}  // namespace zqd::acq
