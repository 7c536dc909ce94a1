// The push to a data centre: every record of the ring written to a
// ringserver (or any DataLink server) as a WRITE of NET_STA_LOC_CHAN/MSEED,
// acknowledged, in order. The last acknowledged sequence number is kept in a
// file beside the ring, so after a broken connection or a restart the push
// resumes after it: the data centre's copy has no gap, and at most the
// records sent but not yet acknowledged arrive twice.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "stream/live_note.h"
#include "stream/record_ring.h"

namespace zqd::stream {

struct PushState {
    bool connected = false;
    std::uint64_t sent = 0;          // records acknowledged by the server, this run
    std::uint64_t behind = 0;        // records in the ring not yet acknowledged
    std::uint64_t skipped = 0;       // records the ring dropped before they could be sent
    LiveNote last_end;               // why the last connection ended, if it did (kPushEnded)
    bool ended = false;
};

class DataLinkPush {
public:
    using Log = std::function<void(const LiveNote& note)>;
    // `server` is "host:port"; `state` the file of the last acknowledged number.
    DataLinkPush(RecordRing& ring, std::string server, std::filesystem::path state, std::string client_id, Log log);
    ~DataLinkPush();
    DataLinkPush(const DataLinkPush&) = delete;
    DataLinkPush& operator=(const DataLinkPush&) = delete;

    void Start();
    void Stop();
    void Notify();  // a record was added to the ring
    PushState Snapshot() const;

    // The backoff between attempts: from `first` doubling to `most`.
    void SetBackoff(std::chrono::milliseconds first, std::chrono::milliseconds most) {
        backoff_first_ = first;
        backoff_most_ = most;
    }

private:
    void Run();
    // One connection: sends until it fails or Stop; why it ended.
    LiveNote Session();
    // Sends what the ring holds after what was acknowledged, a window at a
    // time, until a send or an answer fails, or Stop.
    struct Net;
    LiveNote Transfer(Net& net);
    // The next window of records from `next` on.
    std::vector<RingRecordPtr> Window(std::uint64_t next);
    void Acked(std::uint64_t seq);
    void SaveState();  // the last acknowledged number, to its file (once a batch)
    std::optional<std::uint64_t> LoadState() const;

    RecordRing& ring_;
    std::string server_;
    std::filesystem::path state_path_;
    std::string client_id_;
    Log log_;
    std::chrono::milliseconds backoff_first_{1000}, backoff_most_{60000};

    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false, notified_ = false;
    std::uint64_t next_ = 0;  // the next sequence number to send
    std::uint64_t saved_ = 0; // next_ as the state file has it
    PushState state_;
    Net* net_ = nullptr;  // the open connection, to close it from Stop
};

}  // namespace zqd::stream
