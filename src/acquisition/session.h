// The acquisition session: the only owner of the card. All card calls,
// the windows' digital input and output included, are made from one thread,
// the session's own (the maker's library is not known to be thread-safe).
// While an acquisition runs, that thread polls QueryBuf and ADResult at a set
// period, dates every block from the GPS messages in its scans, and hands the
// blocks and events to the sinks.
//
// Without a thread (`threaded` false) every call runs on the caller's thread
// and Pump() makes one polling step: tests drive the session step by step.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>
#include <array>

#include "acquisition/block.h"
#include "acquisition/block_dater.h"
#include "acquisition/sink.h"
#include "card/card.h"
#include "common/status.h"
#include "platform/locks.h"

namespace zqd::acq {

struct SessionOptions {
    bool threaded = true;
    // Between two QueryBuf calls while acquiring, at most. Polling begins
    // sooner and lengthens to this while polls find few buffers filled; a
    // poll that finds the card's buffers half filled or more polls sooner
    // (down to kPollFloor), so that a fast card loses nothing to its ring.
    std::chrono::milliseconds period{1000};
    // Hold the machine's one acquisition lock while acquiring (the real card,
    // and the programs on the simulated one; not tests' scripted cards).
    bool system_lock = false;
};

inline constexpr std::chrono::milliseconds kPollFloor{10};

// The next polling period after a poll that found `filled` of the card's
// `buffers` buffers filled: shorter when half or more were, back towards the
// `longest` when a quarter or fewer were.
std::chrono::milliseconds NextPollPeriod(std::chrono::milliseconds now, int filled, int buffers,
                                         std::chrono::milliseconds longest);

// The card library a start used.
struct CardIdentity {
    std::string path;        // empty for a card of the program's own (tests)
    bool simulated = false;  // the simulated card: the data are not real
};

struct SessionStats {
    std::uint64_t reads = 0;          // ADResult calls
    std::uint64_t blocks = 0;         // good reads, handed on as blocks
    std::uint64_t read_failures = 0;  // ADResult did not return 1: a block lost each
    std::uint64_t overflowed = 0;     // blocks the card's full buffers overwrote
    std::uint64_t gaps = 0;           // GPS time jumps forward, not explained by the two above
    std::uint64_t backwards = 0;
    std::uint64_t tears = 0;    // series begun again where the card's clock drifted off
    std::uint64_t carried = 0;  // blocks whose time was carried
    std::uint64_t untimed = 0;  // blocks without any time
    gps::HaCounters messages;
    BlockClock clock;  // of the latest block, without its seconds
};

class Session {
public:
    Session(Card& card, SessionOptions options);
    // Stops a running acquisition (StopIntr once), then ends the thread.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Adds a sink with its own queue of `capacity` blocks. Sinks see the items
    // emitted after they were added.
    std::shared_ptr<SinkRunner> AddSink(std::shared_ptr<Sink> sink, std::size_t capacity = 64);
    // Removes it; its queued items are still delivered.
    void RemoveSink(const std::shared_ptr<SinkRunner>& runner);

    // Initial(320, 5, 0, 0), whose result nobody examines.
    Status Initial();
    // StopIntr, Initial, then `prepare` (which makes the caller's buffers and
    // may refuse), then StartIntr with `config`; on success the session
    // acquires and polls. kCardRefused carries GetLastADError's code; kBusy
    // the holder of the machine's acquisition lock.
    Status Start(const AcqConfig& config, const std::function<Status()>& prepare = {});
    // How the next start's blocks are timed (the pulse's channel and the rest).
    void SetTiming(const TimingConfig& timing);
    // StopIntr (whether or not acquiring); no poll follows. Without a usable
    // library (kNoLibrary) nothing was acquiring.
    Status Stop();
    // Zqd_DI(2, words): the two digital-input groups.
    Status DigitalIn(std::array<std::int16_t, 2>& words);
    // Zqd_DO(group, value).
    Status DigitalOut(std::int16_t group, std::int16_t value);
    bool Running() const;

    // Without a thread: one polling step, then every sink's queue delivered.
    // With a thread: nothing (the thread polls by itself).
    void Pump();
    // One polling step: QueryBuf, then ADResult for each buffer it reported,
    // the blocks dated and queued for the sinks, between a kPolled and a
    // kPollEnd event. Made by the session's thread when there is one; tests
    // without a thread call it directly. The buffers QueryBuf reported.
    int Poll();
    // Waits until every sink has taken what was emitted so far.
    void FlushSinks();

    SessionStats Stats() const;
    // The card library of the last successful start.
    CardIdentity Identity() const;
    bool Threaded() const { return options_.threaded; }

private:
    // Runs fn(card) on the card thread and returns its result (exceptions
    // included) once it has run.
    template <typename F>
    auto Call(F&& fn) -> std::invoke_result_t<F, Card&>;
    void Loop();
    // Reads the next buffer of a poll: false when the card failed (and the
    // acquisition has ended).
    bool ReadOne(bool ring_full, bool poll_start);
    // Hands on what the dater gave, counting it.
    void Hand(std::vector<Item>& items);
    void Fail(const CardError& err);
    void Post(std::function<void()> task);
    bool OnCardThread() const;
    void Emit(Item item);

    Card& card_;
    const SessionOptions options_;

    mutable std::mutex mutex_;  // guards tasks_, quit_, running_, stats_, sinks_
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool quit_ = false;
    bool running_ = false;
    SessionStats stats_;
    CardIdentity identity_;
    std::vector<std::shared_ptr<SinkRunner>> sinks_;

    // Card-thread state of the running acquisition.
    AcqConfig config_;
    TimingConfig timing_;  // guarded by mutex_ until a start takes it
    std::uint64_t next_sequence_ = 0;
    BlockDater dater_;
    bool said_sooner_ = false;  // the polling period was shortened this run

    platform::AcquisitionLock lock_;
    std::thread::id card_thread_id_;
    std::thread thread_;
};

template <typename F>
auto Session::Call(F&& fn) -> std::invoke_result_t<F, Card&> {
    using R = std::invoke_result_t<F, Card&>;
    if (!options_.threaded || OnCardThread()) return fn(card_);
    auto task = std::make_shared<std::packaged_task<R()>>([this, &fn] { return fn(card_); });
    auto result = task->get_future();
    Post([task] { (*task)(); });
    return result.get();
}

}  // namespace zqd::acq
