#include "stream/websocket.h"

#include <array>

namespace zqd::stream {

namespace {
std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
}  // namespace

std::string Sha1(std::string_view data) {
    std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string m(data);
    const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
    m.push_back(static_cast<char>(0x80));
    while (m.size() % 64 != 56) m.push_back('\0');
    for (int i = 7; i >= 0; --i) m.push_back(static_cast<char>(bits >> (8 * i)));
    for (std::size_t block = 0; block < m.size(); block += 64) {
        std::array<std::uint32_t, 80> w{};
        for (int i = 0; i < 16; ++i) {
            const auto* p = reinterpret_cast<const unsigned char*>(m.data() + block + 4 * static_cast<std::size_t>(i));
            w[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
                                             static_cast<std::uint32_t>(p[2]) << 8 | p[3];
        }
        for (std::size_t i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (std::size_t i = 0; i < 80; ++i) {
            std::uint32_t f, k;
            if (i < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const std::uint32_t t = Rotl(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = Rotl(b, 30);
            b = a;
            a = t;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    std::string out;
    for (auto v : h)
        for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>(v >> (8 * i)));
    return out;
}

std::string Base64(std::string_view data) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << 16 |
                                static_cast<std::uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8 |
                                static_cast<unsigned char>(data[i + 2]);
        for (int s = 18; s >= 0; s -= 6) out.push_back(kDigits[(v >> s) & 63]);
    }
    if (const std::size_t rest = data.size() - i; rest > 0) {
        std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << 16;
        if (rest == 2) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8;
        out.push_back(kDigits[(v >> 18) & 63]);
        out.push_back(kDigits[(v >> 12) & 63]);
        out.push_back(rest == 2 ? kDigits[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::string AcceptKey(std::string_view key) {
    return Base64(Sha1(std::string(key) + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"));
}

std::string FrameHeader(WsOpcode opcode, std::uint64_t length) {
    std::string h;
    h.push_back(static_cast<char>(0x80 | static_cast<std::uint8_t>(opcode)));
    if (length < 126) {
        h.push_back(static_cast<char>(length));
    } else if (length <= 0xFFFF) {
        h.push_back(static_cast<char>(126));
        h.push_back(static_cast<char>(length >> 8));
        h.push_back(static_cast<char>(length));
    } else {
        h.push_back(static_cast<char>(127));
        for (int i = 7; i >= 0; --i) h.push_back(static_cast<char>(length >> (8 * i)));
    }
    return h;
}

FrameParser::Result FrameParser::Feed(std::string_view& data, WsOpcode& opcode, std::string& message) {
    while (!data.empty()) {
        if (!in_frame_) {
            // The header: 2 bytes, then 0, 2 or 8 of length, then 4 of mask.
            head_.push_back(data.front());
            data.remove_prefix(1);
            if (head_.size() < 2) continue;
            const auto b0 = static_cast<unsigned char>(head_[0]), b1 = static_cast<unsigned char>(head_[1]);
            const std::size_t extra = (b1 & 0x7F) == 126 ? 2 : (b1 & 0x7F) == 127 ? 8 : 0;
            if ((b0 & 0x70) != 0) return fault_ = FrameFault::kReservedBits, Result::kBad;
            if ((b1 & 0x80) == 0) return fault_ = FrameFault::kUnmasked, Result::kBad;
            if (head_.size() < 2 + extra + 4) continue;
            std::uint64_t length = b1 & 0x7F;
            if (extra > 0) {
                length = 0;
                for (std::size_t i = 0; i < extra; ++i) length = length << 8 | static_cast<unsigned char>(head_[2 + i]);
            }
            for (std::size_t i = 0; i < 4; ++i) mask_[i] = static_cast<unsigned char>(head_[2 + extra + i]);
            frame_op_ = static_cast<WsOpcode>(b0 & 0x0F);
            final_ = (b0 & 0x80) != 0;
            const bool control = (b0 & 0x08) != 0;
            if (control && (!final_ || length > 125)) return fault_ = FrameFault::kBadControl, Result::kBad;
            if (!control && frame_op_ != WsOpcode::kContinuation && frame_op_ != WsOpcode::kText &&
                frame_op_ != WsOpcode::kBinary)
                return fault_ = FrameFault::kUnknownOpcode, Result::kBad;
            if (!control && frame_op_ == WsOpcode::kContinuation && !fragmented_)
                return fault_ = FrameFault::kNothingToContinue, Result::kBad;
            if (!control && frame_op_ != WsOpcode::kContinuation && fragmented_)
                return fault_ = FrameFault::kNewInsideFragmented, Result::kBad;
            if (length > max_ || (!control && message_.size() + length > max_))
                return fault_ = FrameFault::kTooLong, Result::kBad;
            head_.clear();
            in_frame_ = true;
            left_ = length;
            masked_ = 0;
            payload_.clear();
        }
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left_, data.size()));
        for (std::size_t i = 0; i < take; ++i)
            payload_.push_back(static_cast<char>(static_cast<unsigned char>(data[i]) ^ mask_[(masked_ + i) % 4]));
        masked_ += take;
        left_ -= take;
        data.remove_prefix(take);
        if (left_ > 0) return Result::kNeedMore;
        in_frame_ = false;
        if ((static_cast<std::uint8_t>(frame_op_) & 0x08) != 0) {
            opcode = frame_op_;
            message = std::move(payload_);
            payload_.clear();
            return Result::kMessage;
        }
        if (frame_op_ != WsOpcode::kContinuation) message_op_ = frame_op_;
        message_ += payload_;
        if (!final_) {
            fragmented_ = true;
            continue;
        }
        fragmented_ = false;
        opcode = message_op_;
        message = std::move(message_);
        message_.clear();
        return Result::kMessage;
    }
    return Result::kNeedMore;
}

}  // namespace zqd::stream
