#include "acquisition/sink.h"

namespace zqd::acq {

namespace {
// Room for events beyond the blocks' capacity.
constexpr std::size_t kEventRoom = 256;
}  // namespace

SinkRunner::SinkRunner(std::shared_ptr<Sink> sink, std::size_t capacity, bool threaded)
    : sink_(std::move(sink)), capacity_(capacity == 0 ? 1 : capacity), threaded_(threaded) {
    if (threaded_) thread_ = std::thread([this] { Run(); });
}

SinkRunner::~SinkRunner() {
    if (threaded_) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    } else {
        Drain();
    }
}

bool SinkRunner::Push(Item item) {
    {
        std::lock_guard lock(mutex_);
        const bool is_block = std::holds_alternative<BlockPtr>(item);
        const bool full = is_block ? blocks_queued_ >= capacity_ : queue_.size() >= capacity_ + kEventRoom;
        if (full) {
            ++dropped_;
            ++unreported_drops_;
            return false;
        }
        if (unreported_drops_ > 0) {
            queue_.emplace_back(DroppedEvent(unreported_drops_));
            unreported_drops_ = 0;
        }
        if (is_block) ++blocks_queued_;
        queue_.push_back(std::move(item));
    }
    if (threaded_) wake_.notify_one();
    return true;
}

void SinkRunner::Deliver(Item& item) {
    if (auto* block = std::get_if<BlockPtr>(&item))
        sink_->OnBlock(*block);
    else
        sink_->OnEvent(std::get<Event>(item));
}

void SinkRunner::Drain() {
    for (;;) {
        Item item;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return;
            item = std::move(queue_.front());
            queue_.pop_front();
            if (std::holds_alternative<BlockPtr>(item)) --blocks_queued_;
        }
        Deliver(item);
    }
}

void SinkRunner::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
        if (queue_.empty()) {
            if (quit_) return;
            continue;
        }
        Item item = std::move(queue_.front());
        queue_.pop_front();
        if (std::holds_alternative<BlockPtr>(item)) --blocks_queued_;
        busy_ = true;
        lock.unlock();
        Deliver(item);
        item = Item{};
        lock.lock();
        busy_ = false;
        if (queue_.empty()) idle_.notify_all();
    }
}

void SinkRunner::Flush() {
    if (!threaded_) {
        Drain();
        return;
    }
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

std::uint64_t SinkRunner::Dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

}  // namespace zqd::acq
