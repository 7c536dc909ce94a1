// A bounded queue of items handed, in order, to one consumer on a thread of
// its own (or, not threaded, on the caller's thread when it drains them), so
// that a slow consumer never stalls the producer or another consumer. What a
// full queue cannot take is counted, and the consumer is told how many went
// before the next item it gets, never losing any silently.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace zqd {

template <typename Item>
class BoundedWorker {
public:
    struct Hooks {
        std::function<void(Item&)> deliver;               // on the worker's thread
        std::function<bool(const Item&)> counts;          // whether an item counts against the capacity (all: empty)
        std::function<Item(std::uint64_t lost)> dropped;  // the item that says `lost` were let go (none: empty)
    };

    // `capacity` counted items; `room` uncounted ones beyond them.
    BoundedWorker(Hooks hooks, std::size_t capacity, bool threaded, std::size_t room = 256)
        : hooks_(std::move(hooks)), capacity_(capacity == 0 ? 1 : capacity), room_(room), threaded_(threaded) {
        if (threaded_) thread_ = std::thread([this] { Run(); });
    }
    // Delivers what is queued, then ends the thread.
    ~BoundedWorker() {
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
    BoundedWorker(const BoundedWorker&) = delete;
    BoundedWorker& operator=(const BoundedWorker&) = delete;

    // Queues an item; false (and counted) when the queue is full.
    bool Push(Item item) {
        {
            std::lock_guard lock(mutex_);
            const bool counted = !hooks_.counts || hooks_.counts(item);
            if (counted ? counted_ >= capacity_ : queue_.size() >= capacity_ + room_) {
                ++dropped_;
                ++unreported_;
                return false;
            }
            if (unreported_ > 0 && hooks_.dropped) {
                queue_.push_back(hooks_.dropped(unreported_));
                unreported_ = 0;
            }
            if (counted) ++counted_;
            queue_.push_back(std::move(item));
        }
        if (threaded_) wake_.notify_one();
        return true;
    }
    // Delivers everything queued, on the calling thread (not threaded only).
    void Drain() {
        for (;;) {
            Item item;
            {
                std::lock_guard lock(mutex_);
                if (queue_.empty()) return;
                item = Take();
            }
            hooks_.deliver(item);
        }
    }
    // Waits until everything queued so far has been delivered.
    void Flush() {
        if (!threaded_) {
            Drain();
            return;
        }
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
    }
    std::uint64_t Dropped() const {
        std::lock_guard lock(mutex_);
        return dropped_;
    }

private:
    Item Take() {
        Item item = std::move(queue_.front());
        queue_.pop_front();
        if (!hooks_.counts || hooks_.counts(item)) --counted_;
        return item;
    }
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
            if (queue_.empty()) {
                if (quit_) return;
                continue;
            }
            Item item = Take();
            busy_ = true;
            lock.unlock();
            hooks_.deliver(item);
            item = Item{};
            lock.lock();
            busy_ = false;
            if (queue_.empty()) idle_.notify_all();
        }
    }

    Hooks hooks_;
    const std::size_t capacity_, room_;
    const bool threaded_;
    mutable std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<Item> queue_;
    std::size_t counted_ = 0;
    bool busy_ = false;
    bool quit_ = false;
    std::uint64_t dropped_ = 0;
    std::uint64_t unreported_ = 0;
    std::thread thread_;
};

}  // namespace zqd
