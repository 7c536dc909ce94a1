#include "acquisition/session.h"

#include <algorithm>

namespace zqd::acq {

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
            polling = true;
            next_poll = Clock::now() + options_.period;
        }
        if (wake_.wait_until(lock, next_poll, [this] { return quit_ || !running_ || !tasks_.empty(); }))
            continue;
        lock.unlock();
        Poll();
        lock.lock();
        next_poll += options_.period;
        if (next_poll < Clock::now()) next_poll = Clock::now() + options_.period;
    }
}

Status Session::Initial() {
    return Call([](Card& card) {
        try {
            card.Initial(320, 5, 0, 0);
        } catch (const CardError& e) {
            return Status::Fail(Status::Code::kNoLibrary, e.what());
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
        if (std::string holder; options_.system_lock && !lock_.Acquire(holder))
            return Status::Fail(Status::Code::kBusy, holder);
        auto refused = [&](Status s) {
            lock_.Release();
            return s;
        };
        try {
            card.StopIntr();
            if (card.Initial(320, 5, 0, 0) == 0)
                return refused(Status::Fail(Status::Code::kCardRefused, {}, card.GetLastADError()));
            if (prepare) {
                if (Status s = prepare(); !s.ok()) return refused(s);
            }
            if (card.StartIntr(config.BufNum, config.ChnPoints, config.StartChn, config.ChnNum, config.SampleFrq,
                               config.StartParam6, config.StartParam7) == 0)
                return refused(Status::Fail(Status::Code::kCardRefused, {}, card.GetLastADError()));
        } catch (const CardError& e) {
            return refused(Status::Fail(Status::Code::kNoLibrary, e.what()));
        }
        {
            std::lock_guard lock(mutex_);
            identity_ = CardIdentity{card.LibraryPath(), card.Simulated()};
        }
        config_ = config;
        next_sequence_ = 0;
        decoder_ = HaStreamDecoder(config.SampleFrq);
        reported_bad_ = 0;
        have_time_ = false;
        have_end_ = false;
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

Status Session::Stop() {
    return Call([this](Card& card) {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        Event e;
        e.kind = Event::Kind::kStopped;
        Status s;
        try {
            card.StopIntr();
        } catch (const CardError& err) {
            // Without a usable library nothing is acquiring.
            s = Status::Fail(Status::Code::kNoLibrary, err.what());
        }
        lock_.Release();
        Emit(std::move(e));
        return s;
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

std::string CardNotice(const CardIdentity& card) {
    if (card.path.empty()) return {};
    return "板卡函数库：" + card.path + (card.simulated ? "（模拟板卡：数据是模拟的，不是真实采集）" : "");
}

CardIdentity Session::Identity() const {
    std::lock_guard lock(mutex_);
    return identity_;
}

SessionStats Session::Stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

void Session::Poll() {
    if (!Running()) return;
    auto fail = [this](const CardError& err) {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        lock_.Release();
        Event e;
        e.kind = Event::Kind::kCardError;
        e.detail = err.what();
        Emit(std::move(e));
    };
    std::int32_t reported = 0;
    try {
        reported = card_.QueryBuf();
    } catch (const CardError& err) {
        fail(err);
        return;
    }
    const int n = static_cast<std::int16_t>(reported & 0xFFFF);
    if (n == 0) return;
    {
        Event e;
        e.kind = Event::Kind::kPolled;
        e.value = n;
        Emit(std::move(e));
    }
    const std::int64_t words = config_.BlockWords();
    for (int pass = 0; pass < n; ++pass) {
        auto block = std::make_shared<Block>();
        block->words.assign(static_cast<std::size_t>(words) + 2, 0);
        try {
            block->status = card_.ADResult(block->words.data());
        } catch (const CardError& err) {
            fail(err);
            return;
        }
        const std::uint64_t seq = next_sequence_++;
        block->sequence = seq;
        block->host_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        block->ChnNum = config_.ChnNum;
        block->ChnPoints = config_.ChnPoints;
        block->SampleFrq = config_.SampleFrq;
        if (block->status != 1) {
            // Its scans are lost: a message across them cannot be completed.
            decoder_.Reset();
            {
                std::lock_guard lock(mutex_);
                ++stats_.reads;
                ++stats_.read_failures;
            }
            Event e;
            e.kind = Event::Kind::kReadFailed;
            e.sequence = seq;
            e.value = block->status;
            Emit(std::move(e));
            continue;
        }

        const std::int64_t first_scan = static_cast<std::int64_t>(seq) * config_.ChnPoints;
        const auto fix = decoder_.Feed(block->Scans(), config_.ChnNum, config_.ChnPoints, first_scan);
        if (fix) {
            block->time_ns = fix->time_ns + ScansToNs(first_scan - fix->start_scan, config_.SampleFrq);
            block->time_status = TimeStatus::kOwn;
        } else if (have_time_) {
            const auto scans = static_cast<std::int64_t>(seq - last_timed_sequence_) * config_.ChnPoints;
            block->time_ns = last_time_ns_ + ScansToNs(scans, config_.SampleFrq);
            block->time_status = TimeStatus::kCarried;
        }

        std::vector<Event> events;
        if (fix && have_end_) {
            const std::int64_t diff = block->time_ns - last_end_ns_;
            const std::int64_t half = ScansToNs(1, config_.SampleFrq) / 2;
            if (diff > half || diff < -half) {
                Event e;
                e.kind = diff > 0 ? Event::Kind::kGap : Event::Kind::kTimeBackwards;
                e.sequence = seq;
                e.value = diff;
                events.push_back(std::move(e));
            }
        }
        const HaCounters counters = decoder_.Counters();
        if (counters.Bad() != reported_bad_) {
            Event e;
            e.kind = Event::Kind::kBadMessage;
            e.sequence = seq;
            e.value = static_cast<std::int64_t>(counters.Bad() - reported_bad_);
            reported_bad_ = counters.Bad();
            events.push_back(std::move(e));
        }
        if (block->time_status != TimeStatus::kNone) {
            have_time_ = true;
            last_time_ns_ = block->time_ns;
            last_timed_sequence_ = seq;
            last_end_ns_ = block->time_ns + block->DurationNs();
            have_end_ = true;
        }
        {
            std::lock_guard lock(mutex_);
            ++stats_.reads;
            ++stats_.blocks;
            stats_.messages = counters;
            for (const auto& e : events) {
                if (e.kind == Event::Kind::kGap) ++stats_.gaps;
                if (e.kind == Event::Kind::kTimeBackwards) ++stats_.backwards;
            }
            if (block->time_status == TimeStatus::kCarried) ++stats_.carried;
            if (block->time_status == TimeStatus::kNone) ++stats_.untimed;
        }
        for (auto& e : events) Emit(std::move(e));
        Emit(BlockPtr(std::move(block)));
    }
}

}  // namespace zqd::acq
