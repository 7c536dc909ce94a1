// The SeedLink server: SeedLink 3.1 and 4.0 over TCP, the same over
// WebSocket, and GET /id and /streams, all on one port, served from the
// ring on a thread of its own (Asio).
//
// Every client is independent: each has at most one write on its way and
// takes its next packet from the ring only when that write is done, so a
// slow or stalled client falls behind in the ring and never holds up the
// archive or another client, and what waits for it is bounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "common/result.h"
#include "common/status.h"
#include "stream/live_note.h"
#include "stream/patterns.h"
#include "stream/record_ring.h"
#include "stream/seedlink_session.h"

namespace zqd::stream {

struct ServerLimits {
    int clients = 100;            // at once
    int per_address = 10;         // at once from one address
    int handshake_seconds = 60;   // from connecting to the transfer
    int idle_seconds = 30;        // between commands while handshaking
    int write_timeout_seconds = 10;  // a write the client's socket does not take within this: the client dropped
    int stop_seconds = 5;         // at a stop, for the clients to be sent what the ring holds
    std::size_t line_bytes = 255; // a command line, its terminator included
    std::size_t pending_bytes = 1u << 20;  // answers waiting for a client that does not read
    int send_buffer_bytes = 256 << 10;     // the system's buffer per client (SO_SNDBUF): what a stalled client pins
    AccessList access;
};

class SeedLinkServer {
public:
    using Log = std::function<void(const LiveNote& note)>;

    SeedLinkServer(ServerIdentity identity, RecordRing& ring, ServerLimits limits, Log log);
    ~SeedLinkServer();
    SeedLinkServer(const SeedLinkServer&) = delete;
    SeedLinkServer& operator=(const SeedLinkServer&) = delete;

    // Listens and serves on a thread of its own. kFileRefused
    // (kListenFailed) with the address and the system's reason.
    Status Start(const ListenAddress& where);
    // Stops taking connections, sends each client in transfer what the ring
    // holds for it (for at most `stop_seconds`), then closes every
    // connection and stops. Nothing when not running.
    void Stop();

    std::uint16_t Port() const { return port_.load(); }
    int Clients() const { return clients_.load(); }
    // Called for each record the ring takes: wakes the clients waiting.
    void Notify();

    struct Impl;  // Asio's side, in the source file only

private:
    std::unique_ptr<Impl> impl_;
    std::atomic<std::uint16_t> port_{0};
    std::atomic<int> clients_{0};
};

}  // namespace zqd::stream
