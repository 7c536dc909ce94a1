// Live data beside an archive run: the ring of recent records in the
// archive's folder (.zqd4830/live.ring), fed with the station's records as
// they are made, the SeedLink server on it and the push to a data centre
// when they are asked for.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "formats/stream_codes.h"
#include "records/record.h"
#include "stream/live_config.h"
#include "stream/live_note.h"
#include "common/status.h"
#include "stream/datalink_push.h"
#include "stream/record_ring.h"

namespace zqd::stream {

class SeedLinkServer;
class DataLinkPush;

struct LiveState {
    bool ring = false;        // records go to the ring
    bool serving = false;     // the SeedLink server listens
    std::string listen;       // where, as given
    std::uint16_t port = 0;   // the port it listens on
    int clients = 0;
    std::uint64_t next_sequence = 0;
    bool pushing = false;     // the push to a DataLink server runs
    std::string datalink;     // to where
    PushState push;
};

class LiveService {
public:
    // `log` hears what the server and the push have to say; `failed` a ring
    // that stops taking records.
    using Log = std::function<void(const LiveNote& note)>;
    LiveService(Log log, std::function<void(const Status&)> failed);
    ~LiveService();
    LiveService(const LiveService&) = delete;
    LiveService& operator=(const LiveService&) = delete;

    // The ring file of an archive.
    static std::filesystem::path RingPath(const std::filesystem::path& archive_root);

    // Opens the ring and starts what `live` asks for, for the station
    // `station` whose records are `record_length` bytes. Nothing when it
    // asks for nothing. kFileRefused (kRingOpenFailed, kListenFailed) with
    // the reason; nothing runs then.
    Status Start(const LiveConfig& live, const StreamCodes& station, int record_length, const std::filesystem::path& root,
                 const std::string& version);
    // What takes the station's records into the ring; none when nothing is served.
    std::shared_ptr<records::RecordSubscriber> Feed();
    void Stop();
    LiveState Snapshot() const;
    RecordRing& Ring() { return ring_; }
    // Sees each record as the ring takes it, before the server is woken (for
    // measuring: the time a record became available). Set before Start.
    void SetObserver(std::function<void(const RingRecordPtr&)> observer) { observer_ = std::move(observer); }
    // What opening the ring found.
    const RecordRing::Opened& Opened() const { return opened_; }

private:
    Log log_;
    std::function<void(const Status&)> failed_;
    RecordRing ring_;
    RecordRing::Opened opened_;
    std::unique_ptr<SeedLinkServer> server_;
    std::unique_ptr<DataLinkPush> push_;
    std::string datalink_;
    std::function<void(const RingRecordPtr&)> observer_;
    std::string listen_;
    bool open_ = false;
};

}  // namespace zqd::stream
