// One SeedLink client's side of the conversation, apart from any socket:
// the commands of 3.1 and, after SLPROTO 4.0, of 4.0; what it asked for;
// and, in the transfer phase, the next packet it is due from the ring.
//
// The server serves one station, so of the stations a client asks for only
// the first request that names ours counts (later ones are excluded, as the
// protocol says). Records are handed on as the ring's shared records; a
// packet is a small header and a pointer to the record, never a copy.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "stream/record_ring.h"

namespace zqd::stream {

// Who the server is: the station it serves and how it introduces itself.
struct ServerIdentity {
    std::string network = "XX", station = "ZQD01";
    std::string description = "ZQD4830_GPS station";  // the second line of HELLO
    std::string version;                               // the program's
    std::int64_t started_ns = 0;
    std::string Software() const;  // "ZQD4830_GPS/<version>"
};

// A connection, as INFO CONNECTIONS tells of it.
struct ConnectionSummary {
    std::string address, user_agent, asked;
    std::int64_t since_ns = 0;
    std::uint64_t cursor = 0, packets = 0, bytes = 0;
    bool transfer = false, v4 = false;
};

// What goes back to the client, in order.
struct Piece {
    bool packet = false;   // a packet (a binary message over WebSocket), else a command's answer
    std::string bytes;     // the answer, or the packet's header (or the whole of an INFO packet)
    RingRecordPtr record;  // the record after the header, shared
    bool raw = false;      // sent as it stands, never framed (HTTP's answer, WebSocket's own frames)
    std::size_t Size() const { return bytes.size() + (record ? record->bytes.size() : 0); }
};

class SeedLinkSession {
public:
    enum class Phase { kHandshake, kTransfer, kDone, kClose };
    enum class Step { kSent, kWait, kMore };

    using Connections = std::function<std::vector<ConnectionSummary>()>;
    SeedLinkSession(const ServerIdentity& identity, RecordRing& ring, Connections connections = {});

    // One command line, without its terminator: the answers go to `out`.
    void Command(std::string_view line, std::vector<Piece>& out);

    // In the transfer phase: the next packet due (kSent), nothing until a
    // new record comes (kWait), or more to look through (kMore; `budget`
    // records were looked at). Dial-up and closed time windows end with END.
    Step Next(std::vector<Piece>& out, int budget = 512);

    Phase CurrentPhase() const { return phase_; }
    bool V4() const { return v4_; }
    const std::string& UserAgent() const { return user_agent_; }
    const std::string& Asked() const { return asked_; }
    // The next sequence number this client is due.
    std::uint64_t Cursor() const { return cursor_; }
    // Records the ring dropped before this client had them.
    std::uint64_t Missed() const { return missed_; }

    // HELLO's first line: "SeedLink v3.1" for the clients of 3.1, which may
    // read the version; "v4.0", the highest, once a client has asked for it.
    static std::string HelloLine(const ServerIdentity& identity, bool v4 = false);

private:
    struct Selector {
        bool negate = false;
        std::string stream;  // v3: LLCCC (location "??" when not given); v4: LOC_B_S_SS
        std::string type;    // v3: D, E, C, T, L, O; v4: the format and subformat, "2D"
    };
    struct Request {
        std::vector<Selector> selectors;
        enum class From { kNext, kSeq, kAll } from = From::kNext;
        std::uint64_t seq = 0;
        bool seq24 = false;                  // a 3.1 sequence number: six hex digits
        std::optional<std::int64_t> newer_than;  // 3.1 DATA seq time
        std::optional<std::int64_t> start, end;
    };

    void Reply(std::vector<Piece>& out, bool modifier, std::string_view code = {}, std::string_view text = {});
    void Info(std::string_view item, std::string_view station, std::string_view stream, std::vector<Piece>& out);
    void InfoXml(std::string item, std::vector<Piece>& out);
    void InfoJson(std::string item, std::string_view station, std::string_view stream, std::vector<Piece>& out);
    bool Station(const std::vector<std::string>& args, std::vector<Piece>& out);
    bool Select(const std::vector<std::string>& args, std::vector<Piece>& out);
    bool Data(const std::string& verb, const std::vector<std::string>& args, std::vector<Piece>& out);
    void StartTransfer(bool dialup);
    bool Selected(const RingRecord& record) const;
    void Start();
    std::string PacketHeader(const RingRecord& record) const;
    std::string StationId() const { return identity_.network + "_" + identity_.station; }

    const ServerIdentity& identity_;
    RecordRing& ring_;
    Connections connections_;
    Phase phase_ = Phase::kHandshake;
    bool v4_ = false, proto_chosen_ = false, multi_ = false, batch_ = false, extreply_ = false;
    bool dialup_ = false, started_ = false;
    std::optional<Request> mine_;  // what was asked of our station
    bool current_mine_ = false;    // SELECT and DATA apply to it
    bool current_ignored_ = false; // the last STATION failed: ignore until the next
    std::uint64_t cursor_ = 0, missed_ = 0;
    std::string user_agent_, asked_;
};

}  // namespace zqd::stream
