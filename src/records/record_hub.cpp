#include "records/record_hub.h"

namespace zqd::records {

struct RecordHub::Runner {
    Runner(std::shared_ptr<RecordSubscriber> s, std::size_t capacity, bool threaded_)
        : threaded(threaded_),
          subscriber(std::move(s)),
          worker({[this](Item& item) { Deliver(item); },
                  [](const Item& item) { return std::holds_alternative<RecordPtr>(item); },
                  [this](std::uint64_t) {
                      Lost l;
                      {
                          std::lock_guard lock(mutex);
                          l = std::exchange(lost, {});
                      }
                      return Item(l);
                  }},
                 capacity, threaded_) {}
    void Deliver(Item& item) {
        if (const auto* r = std::get_if<RecordPtr>(&item)) subscriber->OnRecord(*r);
        else if (const auto* m = std::get_if<Mark>(&item)) subscriber->OnMark(*m);
        else if (const auto* l = std::get_if<Lost>(&item)) subscriber->OnLost(l->records, l->samples);
    }
    void Push(Item item) {
        const auto* r = std::get_if<RecordPtr>(&item);
        const std::uint64_t samples = r ? (*r)->samples : 0;
        if (!worker.Push(std::move(item)) && r) {
            std::lock_guard lock(mutex);
            ++lost.records;
            lost.samples += samples;
        }
        if (!threaded) worker.Drain();  // not threaded: delivered at once, on the maker's thread
    }

    const bool threaded;
    std::shared_ptr<RecordSubscriber> subscriber;
    std::mutex mutex;  // guards lost
    Lost lost;         // let go since the subscriber was last told
    BoundedWorker<Item> worker;  // last: its thread ends first
};

void RecordHub::Subscribe(std::shared_ptr<RecordSubscriber> subscriber, std::size_t capacity) {
    auto runner = std::make_shared<Runner>(std::move(subscriber), capacity, threaded_);
    std::lock_guard lock(mutex_);
    runners_.push_back(std::move(runner));
}

void RecordHub::SubscribeFirst(std::shared_ptr<RecordSubscriber> subscriber) {
    auto runner = std::make_shared<Runner>(std::move(subscriber), 1, false);
    std::lock_guard lock(mutex_);
    runners_.insert(runners_.begin(), std::move(runner));
}

void RecordHub::Clear() {
    std::vector<std::shared_ptr<Runner>> runners;
    {
        std::lock_guard lock(mutex_);
        runners.swap(runners_);
    }
    runners.clear();  // each delivers what it holds, then ends
}

void RecordHub::Publish(RecordPtr record) {
    std::lock_guard lock(mutex_);
    for (auto& r : runners_) r->Push(record);
}

void RecordHub::Publish(Mark mark) {
    std::lock_guard lock(mutex_);
    for (auto& r : runners_) r->Push(mark);
}

void RecordHub::Drain() {
    std::vector<std::shared_ptr<Runner>> runners;
    {
        std::lock_guard lock(mutex_);
        runners = runners_;
    }
    for (auto& r : runners) r->worker.Flush();
}

}  // namespace zqd::records
