// A window's sink: it keeps what arrives while the window listens, in order,
// until the window's timer tick takes it. It holds at most `capacity` blocks:
// what a window that stalls cannot take is let go and counted, and a kDropped
// event says so in the place of the lost blocks, as for any sink. A tick
// takes whole polls only: a poll's blocks and its count arrive together.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "acquisition/sink.h"

namespace zqd::acq {

class Mailbox final : public Sink {
public:
    explicit Mailbox(std::size_t capacity = 1024) : capacity_(capacity == 0 ? 1 : capacity) {}

    // While not listening, arriving items are let go: an idle window has no
    // use for them (other sinks still get every block).
    void Listen(bool on);
    // What has arrived, up to the last whole poll.
    std::vector<Item> Take();
    // Blocks let go because the window had not taken what it held.
    std::uint64_t Dropped() const;

    void OnBlock(const BlockPtr& block) override { Put(block); }
    void OnEvent(const Event& event) override { Put(event); }

private:
    void Put(Item item);

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    bool listening_ = false;
    bool in_poll_ = false;
    std::vector<Item> items_;
    std::size_t complete_ = 0;  // items_[0, complete_) are whole polls or lie outside any
    std::size_t blocks_ = 0;    // blocks among items_
    std::uint64_t dropped_ = 0;
    std::uint64_t unreported_ = 0;
};

}  // namespace zqd::acq
