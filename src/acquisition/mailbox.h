// A window's sink: it keeps what arrives while the window listens, in order,
// until the window's timer tick takes it.
#pragma once

#include <mutex>
#include <vector>

#include "acquisition/sink.h"

namespace zqd::acq {

class Mailbox final : public Sink {
public:
    // While not listening, arriving items are let go: an idle window has no
    // use for them (other sinks still get every block).
    void Listen(bool on) {
        std::lock_guard lock(mutex_);
        listening_ = on;
        if (!on) items_.clear();
    }
    std::vector<Item> Take() {
        std::lock_guard lock(mutex_);
        std::vector<Item> out;
        out.swap(items_);
        return out;
    }
    void OnBlock(const BlockPtr& block) override { Put(block); }
    void OnEvent(const Event& event) override { Put(event); }

private:
    void Put(Item item) {
        std::lock_guard lock(mutex_);
        if (listening_) items_.push_back(std::move(item));
    }

    std::mutex mutex_;
    bool listening_ = false;
    std::vector<Item> items_;
};

}  // namespace zqd::acq
