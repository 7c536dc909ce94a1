// make bench, live data: 100 SeedLink clients on loopback, each taking all
// 17 channels live from an acquisition at fifty times real time, beside the
// same acquisition with no client. Printed: the server's CPU time for the
// hundred clients (the difference of the two runs) per hour of data and per
// client, and the latency from a record entering the ring to its arrival at
// a client (median, 99th percentile); checked: no loss in the archive, every
// client had every record.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/session.h"
#include "config/station_config.h"
#include "archive/archive_run.h"
#include "card/card.h"
#include "stream/live_service.h"

namespace {

constexpr int kClients = 100;
constexpr double kSpeed = 50;
constexpr std::int64_t kDataSeconds = 1200;  // twenty minutes of data: 24 s at fifty times real time

std::int64_t WallNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

bool ReadAll(int fd, void* p, std::size_t n) {
    auto* c = static_cast<char*>(p);
    while (n > 0) {
        const auto k = ::read(fd, c, n);
        if (k <= 0) return false;
        c += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}
void WriteAll(int fd, const void* p, std::size_t n) {
    const auto* c = static_cast<const char*>(p);
    while (n > 0) {
        const auto k = ::write(fd, c, n);
        if (k <= 0) return;
        c += k;
        n -= static_cast<std::size_t>(k);
    }
}

struct ClientReport {
    std::uint64_t min_packets = 0, max_packets = 0;
    double p50_ms = 0, p99_ms = 0, max_ms = 0;
};

// The clients, in a process of their own (forked before any thread starts):
// told the port, they connect and ask for everything live; told the first
// and last sequence numbers and when each record entered the ring, they
// read until every client has all of them and report.
[[noreturn]] void Clients(int from_parent, int to_parent) {
    std::uint16_t port = 0;
    if (!ReadAll(from_parent, &port, sizeof port)) std::_Exit(1);
    std::vector<int> fds;
    for (int i = 0; i < kClients; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::_Exit(2);
        const char hello[] = "SLPROTO 4.0\r\nSTATION *\r\nDATA\r\nEND\r\n";
        WriteAll(fd, hello, sizeof hello - 1);
        fds.push_back(fd);
    }
    // The three OKs of each, then packets.
    std::vector<std::string> buffers(kClients);
    std::vector<int> oks(kClients, 0);
    std::vector<std::uint64_t> packets(kClients, 0);
    std::vector<std::pair<std::uint64_t, std::int64_t>> arrivals;  // (sequence, ns) of every packet of every client
    arrivals.reserve(static_cast<std::size_t>(kClients) * 40000);
    const char ready = 'r';
    bool told_ready = false;
    std::uint64_t last = UINT64_MAX;
    int done_fd = from_parent;  // the parent writes the last sequence number when the acquisition has ended
    std::vector<pollfd> polls;
    char chunk[1 << 16];
    while (true) {
        polls.clear();
        for (int fd : fds) polls.push_back({fd, POLLIN, 0});
        polls.push_back({done_fd, POLLIN, 0});
        if (::poll(polls.data(), polls.size(), 1000) < 0) std::_Exit(3);
        const std::int64_t now = WallNs();
        for (int i = 0; i < kClients; ++i) {
            if (!(polls[static_cast<std::size_t>(i)].revents & POLLIN)) continue;
            const auto k = ::read(fds[static_cast<std::size_t>(i)], chunk, sizeof chunk);
            if (k <= 0) std::_Exit(5);  // the server closed a client: the run is not what it should be
            auto& b = buffers[static_cast<std::size_t>(i)];
            b.append(chunk, static_cast<std::size_t>(k));
            std::size_t at = 0;
            while (oks[static_cast<std::size_t>(i)] < 3 && b.size() >= at + 4 && b.compare(at, 4, "OK\r\n") == 0) {
                at += 4;
                ++oks[static_cast<std::size_t>(i)];
            }
            while (oks[static_cast<std::size_t>(i)] == 3 && b.size() >= at + 17) {
                std::uint32_t length = 0;
                std::uint64_t seq = 0;
                std::memcpy(&length, b.data() + at + 4, 4);
                std::memcpy(&seq, b.data() + at + 8, 8);
                const std::size_t total = 17 + static_cast<unsigned char>(b[at + 16]) + length;
                if (b.size() < at + total) break;
                arrivals.emplace_back(seq, now);
                ++packets[static_cast<std::size_t>(i)];
                at += total;
            }
            b.erase(0, at);
        }
        if (!told_ready && std::all_of(oks.begin(), oks.end(), [](int n) { return n == 3; })) {
            WriteAll(to_parent, &ready, 1);
            told_ready = true;
        }
        if (polls.back().revents & POLLIN) {
            if (!ReadAll(done_fd, &last, sizeof last)) std::_Exit(4);
            polls.back().fd = -1;
            done_fd = -1;
        }
        if (done_fd < 0 && last != UINT64_MAX) {
            std::uint64_t got = *std::min_element(packets.begin(), packets.end());
            if (got >= last) break;  // `last` is the number of records the run put in the ring
        }
    }
    // When each record entered the ring: from the parent, after the run.
    std::uint64_t first = 0, count = 0;
    ReadAll(from_parent, &first, sizeof first);
    ReadAll(from_parent, &count, sizeof count);
    std::vector<std::int64_t> entered(count);
    ReadAll(from_parent, entered.data(), count * sizeof(std::int64_t));
    std::vector<double> ms;
    ms.reserve(arrivals.size());
    for (const auto& [seq, at] : arrivals)
        if (seq >= first && seq - first < count) ms.push_back(static_cast<double>(at - entered[seq - first]) / 1e6);
    std::sort(ms.begin(), ms.end());
    ClientReport r;
    r.min_packets = *std::min_element(packets.begin(), packets.end());
    r.max_packets = *std::max_element(packets.begin(), packets.end());
    if (!ms.empty()) {
        r.p50_ms = ms[ms.size() / 2];
        r.p99_ms = ms[ms.size() * 99 / 100];
        r.max_ms = ms.back();
    }
    WriteAll(to_parent, &r, sizeof r);
    std::_Exit(0);
}

struct RunResult {
    double cpu_s = 0;
    std::uint64_t records = 0, blocks = 0;
    bool lossless = false;
    ClientReport clients;
};

RunResult Run(bool with_clients, const std::filesystem::path& dir) {
    int down[2], up[2];
    if (::pipe(down) != 0 || ::pipe(up) != 0) return {};
    pid_t child = -1;
    if (with_clients) {
        child = ::fork();
        if (child == 0) {
            ::close(down[1]);
            ::close(up[0]);
            Clients(down[0], up[1]);
        }
    }
    ::close(down[0]);
    ::close(up[1]);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    auto config = zqd::config::DefaultConfig();
    config.live.listen = "127.0.0.1:0";
    config.live.per_address = kClients;  // every client is on loopback
    std::mutex m;
    std::vector<std::int64_t> entered;
    std::uint64_t first = UINT64_MAX;
    zqd::stream::LiveService live({}, {});
    live.SetObserver([&](const zqd::stream::RingRecordPtr& r) {
        const std::int64_t now = WallNs();
        std::lock_guard lock(m);
        if (first == UINT64_MAX) first = r->sequence;
        entered.resize(static_cast<std::size_t>(r->sequence - first + 1), now);
        entered[static_cast<std::size_t>(r->sequence - first)] = now;
    });
    RunResult result;
    if (!live.Start(config.live, config.records.station, config.records.pack.record_length, dir, "bench").ok()) return result;
    if (with_clients) {
        const std::uint16_t port = live.Snapshot().port;
        WriteAll(down[1], &port, sizeof port);
        char ready = 0;
        if (!ReadAll(up[0], &ready, 1)) {
            std::fprintf(stderr, "fan-out: the clients could not all connect\n");
            ::waitpid(child, nullptr, 0);
            return result;
        }
    }
    zqd::DllCard card;
    zqd::acq::Session session(card, {true, std::chrono::milliseconds(20), true});
    zqd::archive::ArchiveRun run(session);
    session.Initial();
    const double cpu0 = CpuSeconds();
    if (!run.Start(config.Run(), dir, {}, kDataSeconds * 1'000'000'000LL, live.Feed()).ok())
        return result;
    while (run.Snapshot().station.archived_ns < kDataSeconds * 1'000'000'000LL && session.Running())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    run.Stop();
    const auto st = run.Snapshot();
    result.blocks = st.station.blocks;
    result.lossless = st.Lossless();
    {
        std::lock_guard lock(m);
        result.records = entered.size();
    }
    if (with_clients) {
        const std::uint64_t count = result.records;
        WriteAll(down[1], &count, sizeof count);
        WriteAll(down[1], &first, sizeof first);
        WriteAll(down[1], &count, sizeof count);
        WriteAll(down[1], entered.data(), entered.size() * sizeof(std::int64_t));
        ReadAll(up[0], &result.clients, sizeof result.clients);
        ::waitpid(child, nullptr, 0);
    }
    result.cpu_s = CpuSeconds() - cpu0;
    live.Stop();
    ::close(down[1]);
    ::close(up[0]);
    std::filesystem::remove_all(dir);
    return result;
}

void BM_SeedLinkFanOut100(benchmark::State& state) {
    std::signal(SIGPIPE, SIG_IGN);
    ::setenv("ADCARD_SIM_SPEED", "50", 1);
    ::setenv("ADCARD_SIM_START", "2008-05-12T10:00:00", 1);
    const auto dir = std::filesystem::temp_directory_path() / "zqd-bench-seedlink";
    ::setenv("ZQD4830_ACQUISITION_LOCK", (std::filesystem::temp_directory_path() / "zqd-bench-seedlink.lock").c_str(), 1);
    RunResult alone, served;
    for (auto _ : state) {
        alone = Run(false, dir);
        served = Run(true, dir);
    }
    const double hours = static_cast<double>(kDataSeconds) / 3600.0;
    const double server_s = std::max(0.0, served.cpu_s - alone.cpu_s);
    state.counters["blocks"] = static_cast<double>(served.blocks);
    state.counters["records"] = static_cast<double>(served.records);
    state.counters["archive_lossless"] = served.lossless && alone.lossless ? 1 : 0;
    state.counters["every_client_every_record"] =
        served.clients.min_packets == served.records && served.clients.max_packets == served.records ? 1 : 0;
    state.counters["cpu_alone_s"] = alone.cpu_s;
    state.counters["cpu_served_s"] = served.cpu_s;
    state.counters["server_cpu_s_per_hour"] = server_s / hours;
    state.counters["server_cpu_ms_per_client_hour"] = server_s / hours / kClients * 1000;
    state.counters["server_core_percent_realtime"] = server_s / hours / 3600.0 * 100;
    state.counters["latency_p50_ms"] = served.clients.p50_ms;
    state.counters["latency_p99_ms"] = served.clients.p99_ms;
    state.counters["latency_max_ms"] = served.clients.max_ms;
    std::printf("fan-out: %d clients, %llu records at %gx real time; server %.2f s CPU per hour of data "
                "(%.1f ms per client-hour, %.3f %% of a core in real time); latency p50 %.2f ms, p99 %.2f ms\n",
                kClients, static_cast<unsigned long long>(served.records), kSpeed, server_s / hours,
                server_s / hours / kClients * 1000, server_s / hours / 3600.0 * 100, served.clients.p50_ms,
                served.clients.p99_ms);
}
BENCHMARK(BM_SeedLinkFanOut100)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
