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
    std::string error;

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
            error = "no answer within " + std::to_string(kIoLimit.count()) + " s";
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
            error = "the server does not speak DataLink";
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

void DataLinkPush::Run() {
    auto backoff = backoff_first_;
    while (true) {
        std::uint64_t sent_before;
        {
            std::lock_guard lock(mutex_);
            sent_before = state_.sent;
        }
        const std::string why = Session();
        SaveState();
        std::unique_lock lock(mutex_);
        state_.connected = false;
        if (stop_) return;
        state_.last_error = why;
        if (state_.sent > sent_before) backoff = backoff_first_;  // it worked for a while: start over
        lock.unlock();
        if (log_) log_("DataLink " + server_ + ": " + why + "; again in " + std::to_string(backoff.count()) + " ms");
        lock.lock();
        wake_.wait_for(lock, backoff, [this] { return stop_; });
        if (stop_) return;
        backoff = std::min(backoff * 2, backoff_most_);
    }
}

std::string DataLinkPush::Session() {
    Net net;
    {
        std::lock_guard lock(mutex_);
        if (stop_) return "stopped";
        net_ = &net;
    }
    struct Release {
        DataLinkPush& self;
        ~Release() {
            std::lock_guard lock(self.mutex_);
            self.net_ = nullptr;
        }
    } release{*this};

    const auto colon = server_.rfind(':');
    if (colon == std::string::npos) return "not host:port";
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
    if (!resolved || rerr) return "cannot find " + server_ + (rerr ? ": " + rerr.message() : std::string());
    if (!net.Await([&](auto handler) {
            asio::async_connect(net.socket, found, [handler](const asio::error_code& ec, const asio::ip::tcp::endpoint&) mutable {
                handler(ec, 0);
            });
        }))
        return "connect: " + net.error;
    asio::error_code ignored;
    net.socket.set_option(asio::ip::tcp::no_delay(true), ignored);

    // Who we are; the server answers with its own ID.
    const std::string id = Packet("ID " + client_id_);
    std::string reply;
    if (!net.Send({asio::buffer(id)}) || !net.Reply(reply)) return "ID: " + net.error;
    if (reply.rfind("ID DataLink", 0) != 0) return "the server's ID is not DataLink's: " + reply.substr(0, 60);
    {
        std::lock_guard lock(mutex_);
        state_.connected = true;
        state_.last_error.clear();
    }
    if (log_) log_("DataLink " + server_ + ": connected (" + reply + ")");

    while (true) {
        std::uint64_t next;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::seconds(10), [&] { return stop_ || notified_ || ring_.NextSequence() > next_; });
            notified_ = false;
            if (stop_) return "stopped";
            next = next_;
        }
        // Up to a window of records, each a WRITE asking for an answer.
        std::vector<RingRecordPtr> batch;
        std::vector<std::string> heads;
        std::uint64_t at = next;
        while (batch.size() < kWindow) {
            const auto held = ring_.AtOrAfter(at);
            if (!held) break;
            if (*held > at) {
                // The ring no longer holds these (or the numbers a restart skipped).
                const auto oldest = ring_.Oldest();
                if (oldest && at < *oldest) {
                    std::lock_guard lock(mutex_);
                    state_.skipped += *oldest - at;
                }
            }
            at = *held + 1;
            auto record = ring_.Read(*held);
            if (!record) continue;
            heads.push_back(Packet("WRITE " + record->stream + "/MSEED " + std::to_string(Micro(record->start_ns)) + " " +
                                   std::to_string(Micro(record->end_ns)) + " A " + std::to_string(record->bytes.size())));
            batch.push_back(std::move(record));
        }
        if (batch.empty()) {
            // Nothing sendable up to `at` (damaged slots only): move on.
            if (at > next) {
                std::lock_guard lock(mutex_);
                next_ = at;
            }
            continue;
        }
        std::vector<asio::const_buffer> buffers;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            buffers.push_back(asio::buffer(heads[i]));
            buffers.push_back(asio::buffer(batch[i]->bytes));
        }
        if (!net.Send(buffers)) return "WRITE: " + net.error;
        for (const auto& record : batch) {
            if (!net.Reply(reply)) return "waiting for the acknowledgement: " + net.error;
            char status[16] = {};
            long long value = 0, size = 0;
            if (std::sscanf(reply.c_str(), "%15s %lld %lld", status, &value, &size) != 3 || size < 0 || size > 65535)
                return "an answer that is not DataLink's: " + reply.substr(0, 60);
            std::string message;
            if (!net.Read(message, static_cast<std::size_t>(size))) return "reading the answer: " + net.error;
            if (std::string(status) != "OK") return "the server refused record " + std::to_string(record->sequence) + ": " + message;
            Acked(record->sequence);
        }
        SaveState();
    }
}

}  // namespace zqd::stream
