// The little of RFC 6455 a SeedLink server needs: the opening handshake's
// accept key, a frame's header for what the server sends, and a parser for
// the client's frames (masked, bounded in size).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zqd::stream {

// SHA-1 of `data` (20 bytes): for the handshake's key only.
std::string Sha1(std::string_view data);
std::string Base64(std::string_view data);
// Sec-WebSocket-Accept for a client's Sec-WebSocket-Key.
std::string AcceptKey(std::string_view key);

enum class WsOpcode : std::uint8_t { kContinuation = 0, kText = 1, kBinary = 2, kClose = 8, kPing = 9, kPong = 10 };

// The header of one unmasked, final frame of `length` bytes.
std::string FrameHeader(WsOpcode opcode, std::uint64_t length);

// Why a client's frame broke the protocol.
enum class FrameFault {
    kNone,
    kReservedBits,         // reserved bits set
    kUnmasked,             // a client's frame must be masked
    kBadControl,           // a control frame fragmented or over 125 bytes
    kUnknownOpcode,
    kNothingToContinue,    // a continuation with nothing to continue
    kNewInsideFragmented,  // a new message inside a fragmented one
    kTooLong,              // a message longer than the limit
};

// Takes the client's bytes as they come and gives whole messages.
class FrameParser {
public:
    explicit FrameParser(std::size_t max_message) : max_(max_message) {}
    enum class Result { kNeedMore, kMessage, kBad };
    // Consumes bytes from `data` (advancing it); on kMessage, `opcode` and
    // `message` hold a whole message (fragments joined; control frames
    // given as they come). kBad: a frame that breaks the protocol or the
    // size limit; the connection should close.
    Result Feed(std::string_view& data, WsOpcode& opcode, std::string& message);
    FrameFault Fault() const { return fault_; }

private:
    std::size_t max_;
    std::string head_;       // a frame's header as it arrives
    std::uint64_t left_ = 0; // payload bytes of the current frame still to come
    bool in_frame_ = false, final_ = false;
    WsOpcode frame_op_ = WsOpcode::kText, message_op_ = WsOpcode::kText;
    unsigned char mask_[4] = {};
    std::uint64_t masked_ = 0;  // payload bytes unmasked so far
    std::string payload_, message_;
    bool fragmented_ = false;
    FrameFault fault_ = FrameFault::kNone;
};

}  // namespace zqd::stream
