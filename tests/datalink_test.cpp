// The push to a data centre against a DataLink receiver written here from
// the protocol's description: every record WRITE-n in order and acknowledged,
// resumed after a broken connection and after a restart without a gap.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <sstream>
#include <thread>

#include "stream/datalink_push.h"
#include "test_support.h"

namespace zqd::stream {
namespace {

using namespace std::chrono_literals;

// A DataLink server that keeps what it is sent, and can break the
// connection before answering its n-th WRITE.
class Receiver {
public:
    struct Got {
        std::string stream;
        long long start = 0, end = 0;
        std::string flags;
        std::string bytes;
    };

    Receiver() {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::listen(listen_, 4);
        socklen_t n = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &n);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~Receiver() {
        stop_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        ::close(listen_);
        thread_.join();
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    void BreakAt(int write) { break_at_ = write; }
    std::vector<Got> Received() {
        std::lock_guard lock(mutex_);
        return got_;
    }
    int Connections() const { return connections_; }
    std::string ClientId() {
        std::lock_guard lock(mutex_);
        return id_;
    }

private:
    static bool ReadAll(int fd, std::string& out, std::size_t n) {
        out.resize(n);
        std::size_t at = 0;
        while (at < n) {
            const auto k = ::recv(fd, out.data() + at, n - at, 0);
            if (k <= 0) return false;
            at += static_cast<std::size_t>(k);
        }
        return true;
    }
    static void SendPacket(int fd, const std::string& header) {
        const std::string p = std::string("DL") + static_cast<char>(header.size()) + header;
        (void)!::send(fd, p.data(), p.size(), MSG_NOSIGNAL);
    }
    void Serve() {
        while (!stop_) {
            const int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0) return;
            ++connections_;
            std::string head, header, data;
            while (ReadAll(fd, head, 3) && head.substr(0, 2) == "DL" &&
                   ReadAll(fd, header, static_cast<unsigned char>(head[2]))) {
                if (header.rfind("ID ", 0) == 0) {
                    {
                        std::lock_guard lock(mutex_);
                        id_ = header.substr(3);
                    }
                    SendPacket(fd, "ID DataLink 2024.001 :: DLPROTO:1.0 PACKETSIZE:512 WRITE");
                    continue;
                }
                std::istringstream in(header);
                std::string verb;
                Got g;
                std::size_t size = 0;
                in >> verb >> g.stream >> g.start >> g.end >> g.flags >> size;
                if (verb != "WRITE" || !ReadAll(fd, g.bytes, size)) break;
                int count;
                {
                    std::lock_guard lock(mutex_);
                    got_.push_back(g);
                    count = static_cast<int>(got_.size());
                }
                if (count == break_at_) break;  // received, never acknowledged
                SendPacket(fd, "OK " + std::to_string(count) + " 0");
            }
            ::close(fd);
        }
    }

    int listen_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> break_at_{-1}, connections_{0};
    std::mutex mutex_;
    std::vector<Got> got_;
    std::string id_;
};

std::string RecordOf(std::uint64_t n) {
    std::string r(512, '\0');
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<char>((n * 7 + i) & 0xFF);
    return r;
}

template <typename Done>
bool WaitFor(Done done, std::chrono::milliseconds limit = 10000ms) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(DataLinkPush, EveryRecordArrivesInOrderThroughABrokenConnectionAndARestart) {
    test::TempDir dir;
    RecordRing ring;
    ASSERT_TRUE(ring.Open(dir / "live.ring", 1024 * 576).ok());
    Receiver receiver;
    receiver.BreakAt(15);
    const auto state = dir / "datalink.state";
    constexpr std::int64_t kT0 = 1'800'000'000'000'000'000LL;
    auto add = [&](std::uint64_t n) {
        const auto r = RecordOf(n);
        const std::int64_t t = kT0 + static_cast<std::int64_t>(n) * 1'000'000'000;
        ASSERT_TRUE(ring.Append("XX_ZQD01_00_GY0", t, t + 1'000'000'000, r.data(), r.size()).ok());
    };
    {
        DataLinkPush push(ring, receiver.Address(), state, "ZQD4830_GPS:XX_ZQD01:test", {});
        push.SetBackoff(20ms, 100ms);
        push.Start();
        ring.SetListener([&](const RingRecordPtr&) { push.Notify(); });
        for (std::uint64_t n = 0; n < 40; ++n) add(n);
        ASSERT_TRUE(WaitFor([&] { return push.Snapshot().behind == 0; }));
        EXPECT_EQ(push.Snapshot().sent, 40u);
        EXPECT_TRUE(push.Snapshot().connected);
        ring.SetListener({});
    }
    EXPECT_EQ(receiver.Connections(), 2);
    EXPECT_EQ(receiver.ClientId(), "ZQD4830_GPS:XX_ZQD01:test");
    // A restart: the push begins after the last acknowledged record.
    {
        DataLinkPush push(ring, receiver.Address(), state, "ZQD4830_GPS:XX_ZQD01:test", {});
        push.Start();
        ring.SetListener([&](const RingRecordPtr&) { push.Notify(); });
        for (std::uint64_t n = 40; n < 45; ++n) add(n);
        ASSERT_TRUE(WaitFor([&] { return push.Snapshot().behind == 0; }));
        ring.SetListener({});
    }
    // What the data centre has: every record in order, only the one never
    // acknowledged twice, nothing missing.
    const auto got = receiver.Received();
    std::vector<std::uint64_t> order;
    for (const auto& g : got) {
        std::uint64_t n = 0;
        while (n < 45 && g.bytes != RecordOf(n)) ++n;
        ASSERT_LT(n, 45u);
        order.push_back(n);
        EXPECT_EQ(g.stream, "XX_ZQD01_00_GY0/MSEED");
        EXPECT_EQ(g.flags, "A");
        EXPECT_EQ(g.start, (kT0 + static_cast<std::int64_t>(n) * 1'000'000'000) / 1000);  // microseconds
        EXPECT_EQ(g.end, g.start + 1'000'000);
    }
    // The break costs one step back, to the first record whose answer the
    // push had not read (answers in flight die with the connection), and no
    // more than a window's worth; after it, and after the restart, the
    // records go on in order.
    int steps_back = 0;
    std::vector<bool> seen(45, false);
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && order[i] != order[i - 1] + 1) {
            ++steps_back;
            EXPECT_LE(order[i], order[i - 1]);
            EXPECT_LE(order[i - 1] - order[i], 64u);
            EXPECT_TRUE(seen[order[i]]);
        }
        seen[order[i]] = true;
    }
    EXPECT_EQ(steps_back, 1);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 45);
    EXPECT_EQ(order.back(), 44u);
    EXPECT_LE(order.size(), 45u + 64u);
}

TEST(DataLinkPush, ANonDataLinkServerOrNoneAtAllIsSaidAndRetried) {
    test::TempDir dir;
    RecordRing ring;
    ASSERT_TRUE(ring.Open(dir / "live.ring", 64 * 576).ok());
    // A port where nothing listens.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(probe);
    std::vector<LiveNote> log;
    std::mutex m;
    DataLinkPush push(ring, "127.0.0.1:" + std::to_string(ntohs(a.sin_port)), dir / "state", "x", [&](const LiveNote& note) {
        std::lock_guard lock(m);
        log.push_back(note);
    });
    push.SetBackoff(10ms, 20ms);
    push.Start();
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard lock(m);
        return log.size() >= 3;
    }));
    EXPECT_FALSE(push.Snapshot().connected);
    ASSERT_TRUE(push.Snapshot().ended);
    EXPECT_EQ(push.Snapshot().last_end.end, LiveNote::End::kConnectFailed);
    {
        std::lock_guard lock(m);
        EXPECT_EQ(log[0].kind, LiveNote::Kind::kPushEnded);
        EXPECT_GE(log[1].again_ms, log[0].again_ms);
    }
    push.Stop();
}

}  // namespace
}  // namespace zqd::stream
