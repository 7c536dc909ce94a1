#include "stream/datalink_push.h"

#include <asio.hpp>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <vector>

#include "common/utc.h"
#include "platform/files.h"
#include "platform/safe_file.h"
#include "stream/ring_feed.h"

namespace zqd::stream {

namespace {

constexpr std::size_t kWindow = 64;  // WRITEs sent before their answers are read
constexpr auto kIoLimit = std::chrono::seconds(30);

// "DL", the header's length in one byte, the header.
std::string Packet(const std::string& header) {
    return std::string("DL") + static_cast<char>(header.size()) + header;
}

std::int64_t Micro(std::int64_t ns) { return utc::FloorDiv(ns, 1000); }

}  // namespace

struct DataLinkPush::Net {
    asio::io_context io;
    asio::ip::tcp::socket socket{io};
    std::string error;          // the system's words for what failed
    bool timed_out = false;     // no answer within kIoLimit
    bool not_datalink = false;  // an answer, but not DataLink's

    // Runs one asynchronous operation to its end or the time limit.
    template <typename Start>
    bool Await(Start start, std::size_t* moved = nullptr) {
        bool done = false;
        asio::error_code result;
        start([&](const asio::error_code& ec, std::size_t n) {
            done = true;
            result = ec;
            if (moved) *moved = n;
        });
        io.restart();
        io.run_for(kIoLimit);
        if (!done) {
            asio::error_code ignored;
            socket.close(ignored);
            io.restart();
            io.run();
            timed_out = true;
            return false;
        }
        if (result) error = result.message();
        return !result;
    }
    bool Send(const std::vector<asio::const_buffer>& buffers) {
        return Await([&](auto handler) { asio::async_write(socket, buffers, handler); });
    }
    bool Read(std::string& out, std::size_t n) {
        out.resize(n);
        return n == 0 || Await([&](auto handler) { asio::async_read(socket, asio::buffer(out), handler); });
    }
    // One packet from the server: its header, and `payload` bytes after it if asked.
    bool Reply(std::string& header) {
        std::string head;
        if (!Read(head, 3)) return false;
        if (head[0] != 'D' || head[1] != 'L') {
            not_datalink = true;
            return false;
        }
        return Read(header, static_cast<unsigned char>(head[2]));
    }
};

DataLinkPush::DataLinkPush(RecordRing& ring, std::string server, std::filesystem::path state, std::string client_id,
                           Log log)
    : ring_(ring), server_(std::move(server)), state_path_(std::move(state)), client_id_(std::move(client_id)),
      log_(std::move(log)) {}

DataLinkPush::~DataLinkPush() { Stop(); }

std::optional<std::uint64_t> DataLinkPush::LoadState() const {
    std::ifstream in(state_path_);
    std::string server;
    std::uint64_t seq = 0;
    if (in >> server >> seq && server == server_) return seq;
    return std::nullopt;  // none, or of another server: that one's copy says nothing of this one's
}

void DataLinkPush::Start() {
    if (thread_.joinable()) return;
    const auto acked = LoadState();
    {
        std::lock_guard lock(mutex_);
        stop_ = false;
        // After the last acknowledged record; a first push starts with what comes now.
        next_ = acked ? *acked + 1 : ring_.NextSequence();
    }
    thread_ = std::thread([this] { Run(); });
}

void DataLinkPush::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        if (net_) asio::post(net_->io, [net = net_] {
            asio::error_code ignored;
            net->socket.close(ignored);
        });
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void DataLinkPush::Notify() {
    {
        std::lock_guard lock(mutex_);
        notified_ = true;
    }
    wake_.notify_all();
}

PushState DataLinkPush::Snapshot() const {
    std::lock_guard lock(mutex_);
    PushState s = state_;
    const std::uint64_t end = ring_.NextSequence();
    s.behind = end > next_ ? end - next_ : 0;
    return s;
}

void DataLinkPush::Acked(std::uint64_t seq) {
    std::lock_guard lock(mutex_);
    next_ = seq + 1;
    ++state_.sent;
}

void DataLinkPush::SaveState() {
    std::uint64_t next;
    {
        std::lock_guard lock(mutex_);
        next = next_;
    }
    if (next == 0 || next == saved_) return;
    saved_ = next;
    // Written whole under a new name and renamed: a torn state file is never read.
    (void)WriteWhole(state_path_, server_ + " " + std::to_string(next - 1) + "\n");
}

namespace {

LiveNote Ended(LiveNote::End end, std::string text = {}, std::int64_t value = 0) {
    LiveNote n;
    n.kind = LiveNote::Kind::kPushEnded;
    n.end = end;
    n.text = std::move(text);
    n.value = value;
    return n;
}

}  // namespace

void DataLinkPush::Run() {
    auto backoff = backoff_first_;
    while (true) {
        std::uint64_t sent_before;
        {
            std::lock_guard lock(mutex_);
            sent_before = state_.sent;
        }
        LiveNote why = Session();
        why.who = server_;
        SaveState();
        std::unique_lock lock(mutex_);
        state_.connected = false;
        if (stop_) return;
        if (state_.sent > sent_before) backoff = backoff_first_;  // it worked for a while: start over
        why.again_ms = backoff.count();
        state_.last_end = why;
        state_.ended = true;
        lock.unlock();
        if (log_) log_(why);
        lock.lock();
        wake_.wait_for(lock, backoff, [this] { return stop_; });
        if (stop_) return;
        backoff = std::min(backoff * 2, backoff_most_);
    }
}

LiveNote DataLinkPush::Session() {
    Net net;
    {
        std::lock_guard lock(mutex_);
        if (stop_) return Ended(LiveNote::End::kStopped);
        net_ = &net;
    }
    struct Release {
        DataLinkPush& self;
        ~Release() {
            std::lock_guard lock(self.mutex_);
            self.net_ = nullptr;
        }
    } release{*this};
    // What a failed exchange was: no answer, not DataLink, or the system's words.
    auto failed = [&](LiveNote::End end) {
        if (net.timed_out) return Ended(LiveNote::End::kNoAnswer, {}, kIoLimit.count());
        if (net.not_datalink) return Ended(LiveNote::End::kNotDataLink);
        return Ended(end, net.error);
    };

    const auto colon = server_.rfind(':');
    if (colon == std::string::npos) return Ended(LiveNote::End::kNotHostPort);
    asio::ip::tcp::resolver resolver(net.io);
    asio::ip::tcp::resolver::results_type found;
    bool resolved = false;
    asio::error_code rerr;
    resolver.async_resolve(server_.substr(0, colon), server_.substr(colon + 1),
                           [&](const asio::error_code& ec, asio::ip::tcp::resolver::results_type r) {
                               rerr = ec;
                               found = std::move(r);
                               resolved = true;
                           });
    net.io.run_for(kIoLimit);
    if (!resolved || rerr) return Ended(LiveNote::End::kCannotResolve, rerr ? rerr.message() : std::string());
    if (!net.Await([&](auto handler) {
            asio::async_connect(net.socket, found, [handler](const asio::error_code& ec, const asio::ip::tcp::endpoint&) mutable {
                handler(ec, 0);
            });
        }))
        return failed(LiveNote::End::kConnectFailed);
    asio::error_code ignored;
    net.socket.set_option(asio::ip::tcp::no_delay(true), ignored);

    // Who we are; the server answers with its own ID.
    const std::string id = Packet("ID " + client_id_);
    std::string reply;
    if (!net.Send({asio::buffer(id)}) || !net.Reply(reply)) return failed(LiveNote::End::kIdFailed);
    if (reply.rfind("ID DataLink", 0) != 0) return Ended(LiveNote::End::kNotDataLink, reply.substr(0, 60));
    {
        std::lock_guard lock(mutex_);
        state_.connected = true;
        state_.ended = false;
    }
    if (log_) {
        LiveNote connected;
        connected.kind = LiveNote::Kind::kPushConnected;
        connected.who = server_;
        connected.text = reply;
        log_(connected);
    }
    return Transfer(net);
}

LiveNote DataLinkPush::Transfer(Net& net) {
    auto failed = [&](LiveNote::End end) {
        if (net.timed_out) return Ended(LiveNote::End::kNoAnswer, {}, kIoLimit.count());
        if (net.not_datalink) return Ended(LiveNote::End::kNotDataLink);
        return Ended(end, net.error);
    };
    std::string reply;
    while (true) {
        std::uint64_t next;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::seconds(10), [&] { return stop_ || notified_ || ring_.NextSequence() > next_; });
            notified_ = false;
            if (stop_) return Ended(LiveNote::End::kStopped);
            next = next_;
        }
        const std::vector<RingRecordPtr> batch = Window(next);
        if (batch.empty()) continue;
        std::vector<std::string> heads;
        for (const auto& record : batch)
            heads.push_back(Packet("WRITE " + record->stream + "/MSEED " + std::to_string(Micro(record->start_ns)) + " " +
                                   std::to_string(Micro(record->end_ns)) + " A " + std::to_string(record->bytes.size())));
        std::vector<asio::const_buffer> buffers;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            buffers.push_back(asio::buffer(heads[i]));
            buffers.push_back(asio::buffer(batch[i]->bytes));
        }
        if (!net.Send(buffers)) return failed(LiveNote::End::kSendFailed);
        for (const auto& record : batch) {
            if (!net.Reply(reply)) return failed(LiveNote::End::kNoAcknowledgement);
            char status[16] = {};
            long long value = 0, size = 0;
            if (std::sscanf(reply.c_str(), "%15s %lld %lld", status, &value, &size) != 3 || size < 0 || size > 65535)
                return Ended(LiveNote::End::kNotDataLink, reply.substr(0, 60));
            std::string message;
            if (!net.Read(message, static_cast<std::size_t>(size))) return failed(LiveNote::End::kNoAcknowledgement);
            if (std::string(status) != "OK")
                return Ended(LiveNote::End::kRecordRefused, message, static_cast<std::int64_t>(record->sequence));
            Acked(record->sequence);
        }
        SaveState();
    }
}

std::vector<RingRecordPtr> DataLinkPush::Window(std::uint64_t next) {
    // Up to a window of records after `next`; the numbers the ring no longer
    // holds (or a restart skipped) counted as skipped.
    std::vector<RingRecordPtr> batch;
    std::uint64_t at = next;
    while (batch.size() < kWindow) {
        const auto held = ring_.AtOrAfter(at);
        if (!held) break;
        if (*held > at) {
            const auto oldest = ring_.Oldest();
            if (oldest && at < *oldest) {
                std::lock_guard lock(mutex_);
                state_.skipped += *oldest - at;
            }
        }
        at = *held + 1;
        if (auto record = ring_.Read(*held)) batch.push_back(std::move(record));
    }
    if (batch.empty() && at > next) {
        // Nothing sendable up to `at` (damaged slots only): move on.
        std::lock_guard lock(mutex_);
        next_ = at;
    }
    return batch;
}

}  // namespace zqd::stream
