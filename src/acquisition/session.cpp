#include "acquisition/session.h"

#include <algorithm>

namespace zqd::acq {

std::chrono::milliseconds NextPollPeriod(std::chrono::milliseconds now, int filled, int buffers,
                                         std::chrono::milliseconds longest) {
    const auto floor = std::min(kPollFloor, longest);
    if (buffers > 0 && 2 * filled >= buffers) return std::max(floor, filled >= buffers ? now / 2 : now * 3 / 4);
    if (buffers <= 0 || 4 * filled <= buffers) return std::min(longest, std::max(now + std::chrono::milliseconds(1), now * 3 / 2));
    return std::clamp(now, floor, longest);
}

Session::Session(Card& card, SessionOptions options) : card_(card), options_(options) {
    if (options_.threaded) {
        thread_ = std::thread([this] { Loop(); });
        card_thread_id_ = thread_.get_id();
    }
}

Session::~Session() {
    if (Running()) Stop();
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    std::vector<std::shared_ptr<SinkRunner>> sinks;
    {
        std::lock_guard lock(mutex_);
        sinks.swap(sinks_);
    }
    for (auto& s : sinks) s->Flush();
}

bool Session::OnCardThread() const { return std::this_thread::get_id() == card_thread_id_; }

std::shared_ptr<SinkRunner> Session::AddSink(std::shared_ptr<Sink> sink, std::size_t capacity) {
    auto runner = std::make_shared<SinkRunner>(std::move(sink), capacity, options_.threaded);
    std::lock_guard lock(mutex_);
    sinks_.push_back(runner);
    return runner;
}

void Session::RemoveSink(const std::shared_ptr<SinkRunner>& runner) {
    std::lock_guard lock(mutex_);
    sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), runner), sinks_.end());
}

void Session::Emit(Item item) {
    std::vector<std::shared_ptr<SinkRunner>> sinks;
    {
        std::lock_guard lock(mutex_);
        sinks = sinks_;
    }
    for (auto& s : sinks) s->Push(item);
}

void Session::Post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
}

void Session::Loop() {
    using Clock = std::chrono::steady_clock;
    auto next_poll = Clock::now();
    auto period = options_.period;
    bool polling = false;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!tasks_.empty()) {
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
            continue;
        }
        if (quit_) return;
        if (!running_) {
            polling = false;
            wake_.wait(lock, [this] { return quit_ || running_ || !tasks_.empty(); });
            continue;
        }
        if (!polling) {
            // A start polls soon, then lengthens towards the period while
            // polls find few buffers: a fast card is read before its ring fills.
            polling = true;
            period = std::min(options_.period, kPollFloor);
            next_poll = Clock::now() + period;
        }
        if (wake_.wait_until(lock, next_poll, [this] { return quit_ || !running_ || !tasks_.empty(); }))
            continue;
        lock.unlock();
        const int filled = Poll();
        const auto before = period;
        period = NextPollPeriod(period, filled, config_.BufNum, options_.period);
        if (filled >= config_.BufNum && period < before && !said_sooner_) {
            said_sooner_ = true;
            Event e;
            e.kind = Event::Kind::kPollSooner;
            e.value = period.count();
            Emit(std::move(e));
        }
        lock.lock();
        next_poll += period;
        if (next_poll < Clock::now()) next_poll = Clock::now() + period;
    }
}

Status Session::Initial() {
    return Call([](Card& card) {
        try {
            card.Initial(320, 5, 0, 0);
        } catch (const CardError& e) {
            return e.status();
        }
        return Status::Ok();
    });
}

Status Session::Start(const AcqConfig& config, const std::function<Status()>& prepare) {
    const Status started = Call([&](Card& card) {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        if (options_.system_lock) {
            if (Status locked = lock_.Acquire(); !locked.ok()) return locked;
        }
        auto refused = [&](Status s) {
            lock_.Release();
            return s;
        };
        try {
            card.StopIntr();
            if (card.Initial(320, 5, 0, 0) == 0)
                return refused(Status::Fail(Status::Code::kCardRefused).Value(card.GetLastADError()));
            if (prepare) {
                if (Status s = prepare(); !s.ok()) return refused(s);
            }
            if (card.StartIntr(config.BufNum, config.ChnPoints, config.StartChn, config.ChnNum, config.SampleFrq,
                               config.StartParam6, config.StartParam7) == 0)
                return refused(Status::Fail(Status::Code::kCardRefused).Value(card.GetLastADError()));
        } catch (const CardError& e) {
            return refused(e.status());
        }
        {
            std::lock_guard lock(mutex_);
            identity_ = CardIdentity{card.LibraryPath(), card.Simulated()};
        }
        config_ = config;
        next_sequence_ = 0;
        said_sooner_ = false;
        {
            std::lock_guard lock(mutex_);
            dater_.Reset(config, timing_);
        }
        Event e;
        e.kind = Event::Kind::kStarted;
        e.config = config;
        Emit(std::move(e));
        {
            std::lock_guard lock(mutex_);
            running_ = true;
        }
        return Status::Ok();
    });
    wake_.notify_all();
    return started;
}

void Session::SetTiming(const TimingConfig& timing) {
    std::lock_guard lock(mutex_);
    timing_ = timing;
}

Status Session::Stop() {
    return Call([this](Card& card) {
        bool was = false;
        {
            std::lock_guard lock(mutex_);
            was = running_;
            running_ = false;
        }
        if (was) {  // blocks still waiting for a time are dated from what there is
            std::vector<Item> items;
            dater_.Finish(items);
            Hand(items);
        }
        Event e;
        e.kind = Event::Kind::kStopped;
        Status s;
        try {
            card.StopIntr();
        } catch (const CardError& err) {
            // Without a usable library nothing is acquiring.
            s = err.status();
        }
        lock_.Release();
        Emit(std::move(e));
        return s;
    });
}

Status Session::DigitalIn(std::array<std::int16_t, 2>& words) {
    return Call([&](Card& card) {
        try {
            card.Zqd_DI(2, words.data());
        } catch (const CardError& e) {
            return e.status();
        }
        return Status::Ok();
    });
}

Status Session::DigitalOut(std::int16_t group, std::int16_t value) {
    return Call([&](Card& card) {
        try {
            card.Zqd_DO(group, value);
        } catch (const CardError& e) {
            return e.status();
        }
        return Status::Ok();
    });
}

bool Session::Running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void Session::Pump() {
    if (options_.threaded) return;
    Poll();
    std::vector<std::shared_ptr<SinkRunner>> sinks;
    {
        std::lock_guard lock(mutex_);
        sinks = sinks_;
    }
    for (auto& s : sinks) s->Drain();
}

void Session::FlushSinks() {
    std::vector<std::shared_ptr<SinkRunner>> sinks;
    {
        std::lock_guard lock(mutex_);
        sinks = sinks_;
    }
    for (auto& s : sinks) s->Flush();
}

CardIdentity Session::Identity() const {
    std::lock_guard lock(mutex_);
    return identity_;
}

SessionStats Session::Stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

void Session::Fail(const CardError& err) {
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    std::vector<Item> items;
    dater_.Finish(items);
    Hand(items);
    lock_.Release();
    Event e;
    e.kind = Event::Kind::kCardError;
    e.status = err.status();
    Emit(std::move(e));
}

int Session::Poll() {
    if (!Running()) return 0;
    std::int32_t reported = 0;
    try {
        reported = card_.QueryBuf();
    } catch (const CardError& err) {
        Fail(err);
        return 0;
    }
    const int n = static_cast<std::int16_t>(reported & 0xFFFF);
    if (n == 0) return 0;
    Event polled;
    polled.kind = Event::Kind::kPolled;
    polled.value = n;
    Emit(std::move(polled));
    // Every buffer of the card filled: some may have been overwritten.
    const bool ring_full = n >= config_.BufNum;
    for (int pass = 0; pass < n; ++pass)
        if (!ReadOne(ring_full, pass == 0)) return std::max(0, n);  // the card failed: its kCardError ends the poll
    Event end;
    end.kind = Event::Kind::kPollEnd;
    Emit(std::move(end));
    return std::max(0, n);
}

bool Session::ReadOne(bool ring_full, bool poll_start) {
    auto block = std::make_shared<Block>();
    block->words.assign(static_cast<std::size_t>(config_.BlockWords()) + 2, 0);
    try {
        block->status = card_.ADResult(block->words.data());
    } catch (const CardError& err) {
        Fail(err);
        return false;
    }
    block->sequence = next_sequence_++;
    block->host_ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    block->ChnNum = config_.ChnNum;
    block->ChnPoints = config_.ChnPoints;
    block->SampleFrq = config_.SampleFrq;
    if (block->status != 1) {
        dater_.Lost();
        {
            std::lock_guard lock(mutex_);
            ++stats_.reads;
            ++stats_.read_failures;
        }
        Event e;
        e.kind = Event::Kind::kReadFailed;
        e.sequence = block->sequence;
        e.value = block->status;
        Emit(std::move(e));
        return true;
    }
    {
        std::lock_guard lock(mutex_);
        ++stats_.reads;
    }
    std::vector<Item> items;
    dater_.Date(std::move(block), items, ring_full, poll_start);
    Hand(items);
    return true;
}

void Session::Hand(std::vector<Item>& items) {
    {
        std::lock_guard lock(mutex_);
        stats_.messages = dater_.Messages();
        for (const Item& item : items) {
            if (const auto* e = std::get_if<Event>(&item)) {
                if (e->kind == Event::Kind::kGap) ++stats_.gaps;
                if (e->kind == Event::Kind::kTimeBackwards) ++stats_.backwards;
                if (e->kind == Event::Kind::kOverflow) stats_.overflowed += static_cast<std::uint64_t>(e->value);
                if (e->kind == Event::Kind::kTimeTear) ++stats_.tears;
                continue;
            }
            const Block& b = *std::get<BlockPtr>(item);
            ++stats_.blocks;
            if (b.time_status == TimeStatus::kCarried) ++stats_.carried;
            if (b.time_status == TimeStatus::kNone) ++stats_.untimed;
            stats_.clock = b.clock;
            stats_.clock.seconds.clear();
            stats_.clock.phase_errors.clear();
        }
    }
    for (auto& item : items) Emit(std::move(item));
}

}  // namespace zqd::acq
