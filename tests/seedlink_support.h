// Test helpers for the SeedLink server: a client on a plain socket with a
// deadline on every read, a station's ring of real miniSEED records, and the
// server on it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/utc.h"
#include "formats/mseed/mseed_packer.h"
#include "stream/ring_feed.h"
#include "stream/seedlink_server.h"
#include "test_support.h"

namespace zqd::stream::test_seedlink {

using namespace std::chrono_literals;

// A client on a plain socket, with a deadline on every read.
class Client {
public:
    explicit Client(std::uint16_t port, int receive_buffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receive_buffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { ::close(fd_); }
    bool Connected() const { return connected_; }
    void Send(const std::string& s) { (void)!::send(fd_, s.data(), s.size(), MSG_NOSIGNAL); }
    void Line(const std::string& s) { Send(s + "\r\n"); }
    // Exactly `n` bytes, or fewer when the deadline or the close comes first.
    std::string Take(std::size_t n, std::chrono::milliseconds wait = 5000ms) {
        const auto until = std::chrono::steady_clock::now() + wait;
        while (buffer_.size() < n && Fill(until)) {
        }
        const std::size_t k = std::min(n, buffer_.size());
        std::string out = buffer_.substr(0, k);
        buffer_.erase(0, k);
        return out;
    }
    std::string Until(const std::string& end, std::chrono::milliseconds wait = 5000ms) {
        const auto until = std::chrono::steady_clock::now() + wait;
        while (buffer_.find(end) == std::string::npos && Fill(until)) {
        }
        const auto at = buffer_.find(end);
        const std::size_t k = at == std::string::npos ? buffer_.size() : at + end.size();
        std::string out = buffer_.substr(0, k);
        buffer_.erase(0, k);
        return out;
    }
    // True when the server closed the connection within the wait.
    bool Closed(std::chrono::milliseconds wait = 5000ms) {
        const auto until = std::chrono::steady_clock::now() + wait;
        while (Fill(until)) {
        }
        return eof_;
    }

private:
    bool Fill(std::chrono::steady_clock::time_point until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || eof_) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char b[65536];
        const auto n = ::recv(fd_, b, sizeof b, 0);
        if (n <= 0) {
            eof_ = true;
            return false;
        }
        buffer_.append(b, static_cast<std::size_t>(n));
        return true;
    }
    int fd_ = -1;
    bool connected_ = false, eof_ = false;
    std::string buffer_;
};

constexpr std::int64_t kT0 = 1'800'000'000LL * utc::kNsPerSecond;  // 2027-01-15T08:00:00Z

// A station's records: real miniSEED, packed as the archive packs them.
struct Station {
    test::TempDir dir;
    RecordRing ring;
    std::vector<std::string> streams{"GY0", "GY1"};
    std::int64_t second = 0;

    explicit Station(std::uint64_t slots = 4096) { EXPECT_TRUE(ring.Open(dir / "live.ring", slots * 576).ok()); }
    // One record a channel, each one second of 100 samples, the channels in turn.
    void AddSeconds(int n) {
        for (int k = 0; k < n; ++k, ++second) {
            for (const auto& chan : streams) {
                StreamCodes codes{"XX", "ZQD01", "00", chan};
                std::vector<std::int32_t> samples(100);
                for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int32_t>(second * 100 + static_cast<std::int64_t>(i));
                const std::int64_t t = kT0 + second * utc::kNsPerSecond;
                mseed::ChannelPacker packer(codes, 100.0, {}, [&](const char* r, int length, std::int64_t start) {
                    ASSERT_TRUE(ring.Append(WireName(codes), start, start + utc::kNsPerSecond, r, static_cast<std::size_t>(length)).ok());
                });
                packer.Add(t, samples.data(), samples.size(), {100, true});
                packer.Pack(true);
            }
        }
    }
};

struct Server {
    std::vector<LiveNote> log;
    std::mutex mutex;
    RecordRing& ring;
    std::unique_ptr<SeedLinkServer> server;
    Server(RecordRing& r, ServerLimits limits = {}) : ring(r) {
        ServerIdentity id;
        id.version = "test";
        id.description = "Test station";
        server = std::make_unique<SeedLinkServer>(id, ring, limits, [this](const LiveNote& note) {
            std::lock_guard lock(mutex);
            log.push_back(note);
        });
        EXPECT_TRUE(server->Start({"127.0.0.1", 0}).ok());
        ring.SetListener([s = server.get()](const RingRecordPtr&) { s->Notify(); });
    }
    ~Server() {
        ring.SetListener({});
        server.reset();
    }
    std::uint16_t Port() const { return server->Port(); }
};

inline std::uint64_t Le(const std::string& s, std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

}  // namespace zqd::stream::test_seedlink
