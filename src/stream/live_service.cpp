#include "stream/live_service.h"

#include "stream/ring_feed.h"
#ifdef ZQD_HAVE_SEEDLINK
#include "stream/datalink_push.h"
#include "stream/seedlink_server.h"
#endif

namespace zqd::stream {

LiveService::LiveService(Log log, std::function<void(const Status&)> failed)
    : log_(std::move(log)), failed_(std::move(failed)) {}
LiveService::~LiveService() { Stop(); }

std::filesystem::path LiveService::RingPath(const std::filesystem::path& archive_root) {
    return archive_root / ".zqd4830" / "live.ring";
}

Status LiveService::Start(const LiveConfig& live, const StreamCodes& station, int record_length,
                          const std::filesystem::path& root, const std::string& version) {
    Stop();
    if (!live.Wanted()) return Status::Ok();
    if (record_length != RecordRing::kRecordBytes)  // refused rather than serving nothing
        return Status::Fail(Status::Code::kFileRefused, Status::Why::kLiveNeeds512).Value(record_length);
#ifndef ZQD_HAVE_SEEDLINK
    // Refused rather than ignored: nothing would be served or reach the data centre.
    return Status::Fail(Status::Code::kFileRefused, Status::Why::kNoNetworkCode);
#endif
    const auto path = RingPath(root);
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    const auto opened = ring_.Open(path, live.ring_mb << 20);
    if (!opened.ok()) return opened.status();
    opened_ = *opened;
    open_ = true;
    if (!live.listen.empty()) {
#ifdef ZQD_HAVE_SEEDLINK
        const auto where = ParseListen(live.listen);
        if (!where)
            return Status::Fail(Status::Code::kFileRefused, Status::Why::kBadListen).About(live.listen);
        ServerLimits limits;
        limits.clients = live.clients;
        limits.per_address = live.per_address;
        limits.handshake_seconds = live.handshake_seconds;
        limits.idle_seconds = live.idle_seconds;
        limits.write_timeout_seconds = live.write_timeout_s;
        for (const auto& [list, into] : {std::pair{&live.allow, &limits.access.allow}, std::pair{&live.deny, &limits.access.deny}}) {
            for (const auto& text : *list) {
                const auto n = ParseNetwork(text);
                if (!n)
                    return Status::Fail(Status::Code::kFileRefused, Status::Why::kBadAddressList).About(text);
                into->push_back(*n);
            }
        }
        ServerIdentity id;
        id.network = station.network;
        id.station = station.station;
        id.description = live.description.empty() ? "ZQD4830_GPS station " + id.network + "." + id.station : live.description;
        id.version = version;
        server_ = std::make_unique<SeedLinkServer>(id, ring_, limits, log_);
        if (Status s = server_->Start(*where); !s.ok()) {
            server_.reset();
            return s;
        }
        listen_ = live.listen;
#endif
    }
#ifdef ZQD_HAVE_SEEDLINK
    if (!live.datalink.empty()) {
        push_ = std::make_unique<DataLinkPush>(ring_, live.datalink, path.parent_path() / "datalink.state",
                                               "ZQD4830_GPS:" + station.network + "_" + station.station + ":" + version,
                                               log_);
        push_->Start();
        datalink_ = live.datalink;
    }
    ring_.SetListener([server = server_.get(), push = push_.get(), observer = observer_](const RingRecordPtr& r) {
        if (observer) observer(r);
        if (server) server->Notify();
        if (push) push->Notify();
    });
#endif
    return Status::Ok();
}

std::shared_ptr<records::RecordSubscriber> LiveService::Feed() {
    if (!open_) return {};
    return std::make_shared<RingFeed>(ring_, failed_);
}

void LiveService::Stop() {
    ring_.SetListener({});
#ifdef ZQD_HAVE_SEEDLINK
    if (server_) server_->Stop();
    if (push_) push_->Stop();
#endif
    server_.reset();
    push_.reset();
    listen_.clear();
}

LiveState LiveService::Snapshot() const {
    LiveState s;
    s.ring = open_;
    s.next_sequence = open_ ? ring_.NextSequence() : 0;
#ifdef ZQD_HAVE_SEEDLINK
    if (server_) {
        s.serving = true;
        s.listen = listen_;
        s.port = server_->Port();
        s.clients = server_->Clients();
    }
    if (push_) {
        s.pushing = true;
        s.datalink = datalink_;
        s.push = push_->Snapshot();
    }
#endif
    return s;
}

}  // namespace zqd::stream
