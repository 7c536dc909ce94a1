// The station's records handed out to everyone who takes them, in the order
// they were made: the ring of live data first, as each record is published;
// then every other subscriber (the disk) on its own bounded queue and
// thread, so that a disk that stalls or refuses never holds back live data.
// What a full queue cannot take is counted and said to that subscriber alone.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <variant>
#include <vector>

#include "common/bounded_worker.h"
#include "records/record.h"

namespace zqd::records {

class RecordHub {
public:
    // `threaded` false: each record is delivered as it is published, on the
    // publisher's thread (for tests that must not depend on timing).
    explicit RecordHub(bool threaded) : threaded_(threaded) {}
    RecordHub(const RecordHub&) = delete;
    RecordHub& operator=(const RecordHub&) = delete;

    // Adds a subscriber with a queue of `capacity` records; it gets the
    // records published after.
    void Subscribe(std::shared_ptr<RecordSubscriber> subscriber, std::size_t capacity);
    // Adds a subscriber that takes each record as it is published, on the
    // publisher's thread, before any queue gets it: for the ring of live
    // data, whose appends cost microseconds and whose clients are then
    // served the records of a moment together (a queue and a thread of its
    // own cost them half again in latency on a loaded machine).
    void SubscribeFirst(std::shared_ptr<RecordSubscriber> subscriber);
    // Removes every subscriber, each once what it has queued is delivered.
    void Clear();

    void Publish(RecordPtr record);
    void Publish(Mark mark);
    // Delivers what is queued (not threaded), or waits until it has been.
    void Drain();

private:
    struct Lost {
        std::uint64_t records = 0, samples = 0;
    };
    using Item = std::variant<std::monostate, RecordPtr, Mark, Lost>;
    struct Runner;

    const bool threaded_;
    std::mutex mutex_;  // guards runners_
    std::vector<std::shared_ptr<Runner>> runners_;
};

}  // namespace zqd::records
