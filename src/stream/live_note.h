// What live data have to say, as values, as it happens: the server
// listening, a client refused or gone (with what it did), the push to a data
// centre connected or ended. app/ words them.
#pragma once

#include <cstdint>
#include <string>

namespace zqd::stream {

struct LiveNote {
    enum class Kind {
        kListening,      // the SeedLink server listens at `who`
        kRefused,        // a client `who` was refused: `refusal`, `value` the limit
        kClientEnded,    // a client `who` went: `end`; what it asked and was sent below
        kPushConnected,  // the push to `who` is connected; `text` the server's ID
        kPushEnded,      // the push to `who` ended: `end` (`text` the system's or the server's words,
                         //   `value` a record's sequence); again in `again_ms`
    };
    enum class Refusal { kNotAllowed, kTooManyClients, kTooManyFromAddress };
    enum class End {
        kNone,
        // A client's connection.
        kHandshakeIdle,     // no command for `value` s while handshaking
        kHandshakeLong,     // the handshake took longer than `value` s
        kClientClosed,
        kReadFailed,        // `text`
        kBye,
        kWebSocketClosed,   // the client closed its WebSocket
        kDoesNotRead,       // its answers piled up unread
        kHttpHeadTooLong,   // an HTTP request head longer than `value` bytes
        kWebSocketFault,    // `value` a FrameFault
        kAnswered,          // an HTTP request answered
        kTransferEnded,     // a time window or a dial-up transfer sent whole, END said
        kWriteFailed,       // `text`
        kWriteStalled,      // its socket took nothing for `value` s
        kServerStopped,
        // The push's connection.
        kStopped,
        kNotHostPort,       // the server is not given as host:port
        kCannotResolve,     // `text`
        kConnectFailed,     // `text`
        kIdFailed,          // `text`: the exchange of IDs failed
        kNotDataLink,       // `text`: the server's answer is not DataLink's
        kNoAnswer,          // no answer within `value` s
        kSendFailed,        // `text`
        kNoAcknowledgement, // `text`
        kRecordRefused,     // record `value` refused: `text` the server's words
    };
    Kind kind = Kind::kListening;
    std::string who;  // an address, or the push's server
    Refusal refusal = Refusal::kNotAllowed;
    End end = End::kNone;
    std::string text;
    std::int64_t value = 0;
    std::int64_t again_ms = 0;
    // A client's connection as it ended.
    std::string via;  // "" SeedLink, "WebSocket", or "HTTP <target>"
    std::string user_agent, asked;
    std::uint64_t packets = 0, bytes = 0, missed = 0;
};

}  // namespace zqd::stream
