// The server's side of one connection (internal to the server's source):
// the listening socket's state shared by all (SeedLinkServer::Impl) and
// each client's Connection, which reads its commands, HTTP and WebSocket
// alike, and writes its answers and packets one write at a time.
#pragma once

#include "stream/seedlink_server.h"

#include <asio.hpp>

#include <chrono>
#include <charconv>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "common/utc.h"
#include "stream/info_text.h"
#include "stream/websocket.h"

namespace zqd::stream {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return std::string(s);
}

constexpr std::size_t kHttpHeadBytes = 8192;
// After refusing a request whose head is too long: what more of it is read
// and let go, and for how long, so that closing does not reset the
// connection under the answer (a close with unread bytes sends RST, and the
// client may lose the answer with it).
constexpr std::size_t kLingerBytes = 1u << 20;
constexpr auto kLinger = std::chrono::seconds(2);
constexpr int kPacketsPerWrite = 32;

}  // namespace

class Connection;

struct SeedLinkServer::Impl {
    ServerIdentity identity;
    RecordRing& ring;
    ServerLimits limits;
    Log log;
    std::atomic<int>& clients;
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor{io};
    std::thread thread;
    std::set<std::shared_ptr<Connection>> connections;  // on the server's thread only
    std::map<std::string, int> per_address;
    std::atomic<bool> notify_pending{false};
    bool stopping = false;
    asio::steady_timer stop_timer{io};

    Impl(ServerIdentity id, RecordRing& r, ServerLimits l, Log lg, std::atomic<int>& c)
        : identity(std::move(id)), ring(r), limits(std::move(l)), log(std::move(lg)), clients(c) {}
    void Accept();
    void Closed(const std::shared_ptr<Connection>& c);
    std::vector<ConnectionSummary> Summaries() const;
    void Say(const LiveNote& note) {
        if (log) log(note);
    }
};

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(SeedLinkServer::Impl& server, asio::ip::tcp::socket socket, std::string address)
        : server_(server), socket_(std::move(socket)), timer_(server.io), write_timer_(server.io), address_(std::move(address)),
          since_(utc::NowNs()), frames_(server.limits.line_bytes) {}

    void Begin() {
        session_ = std::make_unique<SeedLinkSession>(server_.identity, server_.ring, [this] { return server_.Summaries(); });
        handshake_deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(server_.limits.handshake_seconds);
        Arm();
        Read();
    }

    void Wake() {
        if (!waiting_) return;
        waiting_ = false;
        Pump();
    }

    // At a stop: a client in transfer is sent what the ring holds for it and
    // closed once it has it (Pump); any other is closed now.
    void Finish() {
        if (closed_) return;
        if (!session_ || session_->CurrentPhase() != SeedLinkSession::Phase::kTransfer)
            return Close(LiveNote::End::kServerStopped);
        waiting_ = false;
        Pump();
    }

    void Close(LiveNote::End why, std::string text = {}, std::int64_t value = 0) {
        if (closed_) return;
        closed_ = true;
        why_ = why;
        why_text_ = std::move(text);
        why_value_ = value;
        asio::error_code ignored;
        timer_.cancel();
        write_timer_.cancel();
        socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        server_.Closed(shared_from_this());
    }

    ConnectionSummary Summary() const {
        ConnectionSummary s;
        s.address = address_;
        s.user_agent = session_ ? session_->UserAgent() : std::string();
        s.asked = session_ ? session_->Asked() : std::string();
        s.since_ns = since_;
        s.cursor = session_ ? session_->Cursor() : 0;
        s.packets = packets_;
        s.bytes = bytes_;
        s.transfer = session_ && session_->CurrentPhase() == SeedLinkSession::Phase::kTransfer;
        s.v4 = session_ && session_->V4();
        return s;
    }
    const std::string& Address() const { return address_; }
    LiveNote Ended() const {
        LiveNote n;
        n.kind = LiveNote::Kind::kClientEnded;
        n.who = address_;
        n.end = why_;
        n.text = why_text_;
        n.value = why_value_;
        if (mode_ == Mode::kWebSocket) n.via = "WebSocket";
        if (mode_ == Mode::kHttp) n.via = "HTTP " + http_target_;
        if (session_) {
            n.user_agent = session_->UserAgent();
            n.asked = session_->Asked();
            n.missed = session_->Missed();
        }
        n.packets = packets_;
        n.bytes = bytes_;
        return n;
    }

private:
    enum class Mode { kUnknown, kSeedLink, kHttp, kWebSocket };

    void Arm() {
        if (closed_ || !session_ || session_->CurrentPhase() != SeedLinkSession::Phase::kHandshake) {
            timer_.cancel();
            return;
        }
        const auto idle = std::chrono::steady_clock::now() + std::chrono::seconds(server_.limits.idle_seconds);
        const bool by_idle = idle < handshake_deadline_;
        timer_.expires_at(by_idle ? idle : handshake_deadline_);
        timer_.async_wait([self = shared_from_this(), by_idle](const asio::error_code& ec) {
            if (ec || self->closed_) return;
            if (self->session_->CurrentPhase() != SeedLinkSession::Phase::kHandshake) return;
            if (self->mode_ == Mode::kHttp) return;
            if (by_idle)
                self->Close(LiveNote::End::kHandshakeIdle, {}, self->server_.limits.idle_seconds);
            else
                self->Close(LiveNote::End::kHandshakeLong, {}, self->server_.limits.handshake_seconds);
        });
    }

    void Read() {
        socket_.async_read_some(asio::buffer(in_), [self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
            if (self->closed_) return;
            if (ec == asio::error::eof)
                return self->linger_ ? self->Close(self->close_reason_, {}, self->close_value_)
                                     : self->Close(LiveNote::End::kClientClosed);
            if (ec) return self->Close(LiveNote::End::kReadFailed, ec.message());
            self->Take(std::string_view(self->in_.data(), n));
            if (!self->closed_) self->Read();
        });
    }

    void Take(std::string_view data) {
        if (discarding_) {
            discarded_ += data.size();
            if (discarded_ > kLingerBytes) Close(close_reason_, {}, close_value_);
            return;
        }
        if (mode_ == Mode::kWebSocket) return TakeFrames(data);
        if (mode_ == Mode::kHttp) return TakeHttp(data);
        for (std::size_t i = 0; i < data.size() && !closed_; ++i) {
            const char c = data[i];
            if (c == '\r' || c == '\n') {
                if (overlong_) {
                    overlong_ = false;
                    line_.clear();
                    continue;
                }
                if (line_.empty()) continue;
                std::string line;
                line.swap(line_);
                if (mode_ == Mode::kUnknown) {
                    if (HttpVerb(line.substr(0, line.find(' ')))) {
                        mode_ = Mode::kHttp;
                        http_request_ = line;
                        http_head_ = line.size();
                        const std::size_t next = c == '\r' && i + 1 < data.size() && data[i + 1] == '\n' ? i + 2 : i + 1;
                        return TakeHttp(data.substr(next));
                    }
                    mode_ = Mode::kSeedLink;
                }
                Command(line);
            } else if (overlong_) {
                // the rest of a line that was too long: dropped
            } else if (line_.size() + 2 >= server_.limits.line_bytes) {
                if (mode_ == Mode::kUnknown && HttpVerb(line_.substr(0, line_.find(' '))) && line_.find(' ') != std::string::npos) {
                    http_request_ = line_;
                    return RefuseHttp("414 URI Too Long", "a request line longer than " +
                                                              std::to_string(server_.limits.line_bytes) + " characters",
                                      server_.limits.line_bytes);
                }
                overlong_ = true;
                Answer({false, "ERROR ARGUMENTS command line longer than " + std::to_string(server_.limits.line_bytes) +
                                   " characters\r\n", nullptr});
            } else {
                line_.push_back(c);
            }
        }
    }

    void Command(const std::string& line) {
        std::vector<Piece> out;
        session_->Command(line, out);
        for (auto& p : out) Answer(std::move(p));
        if (session_->CurrentPhase() == SeedLinkSession::Phase::kClose) {
            closing_after_write_ = true;
            if (!writing_ && queue_.empty()) return Close(LiveNote::End::kBye);
        }
        Arm();
        Pump();
    }

    void Answer(Piece p) {
        queued_ += p.Size();
        queue_.push_back(std::move(p));
        if (queued_ > server_.limits.pending_bytes) return Close(LiveNote::End::kDoesNotRead);
        Pump();
    }

    // HTTP: the request's head, then either the WebSocket upgrade or a
    // small JSON answer.
    void TakeHttp(std::string_view data) {
        for (std::size_t i = 0; i < data.size(); ++i) {
            const char c = data[i];
            if (++http_head_ > kHttpHeadBytes)
                return RefuseHttp("431 Request Header Fields Too Large",
                                  "a request head longer than " + std::to_string(kHttpHeadBytes) + " bytes", kHttpHeadBytes);
            if (c == '\n') {
                const std::string line = Trim(line_);
                line_.clear();
                if (line.empty()) return Respond(data.substr(i + 1));
                const auto colon = line.find(':');
                if (colon != std::string::npos) headers_[Lower(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1));
            } else if (c != '\r') {
                line_.push_back(c);
            }
        }
    }

    void Respond(std::string_view rest) {
        const auto sp1 = http_request_.find(' ');
        const auto sp2 = http_request_.find(' ', sp1 + 1);
        http_target_ = sp1 == std::string::npos ? "/" : http_request_.substr(sp1 + 1, sp2 - sp1 - 1);
        const bool get = http_request_.rfind("GET ", 0) == 0;
        if (get && Lower(headers_["upgrade"]) == "websocket" && headers_["sec-websocket-key"].empty())
            return SendHttp("400 Bad Request",
                            ErrorJson(server_.identity, "ARGUMENTS", "a WebSocket upgrade needs Sec-WebSocket-Key"));
        if (get && Lower(headers_["upgrade"]) == "websocket") {
            std::string protocol;
            const std::string offered = headers_["sec-websocket-protocol"];
            for (const char* p : {"SeedLink4.0", "SeedLink3.1"})
                if (offered.find(p) != std::string::npos && protocol.empty()) protocol = p;
            std::string reply = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                "Sec-WebSocket-Accept: " + AcceptKey(headers_["sec-websocket-key"]) + "\r\n";
            if (!protocol.empty()) reply += "Sec-WebSocket-Protocol: " + protocol + "\r\n";
            mode_ = Mode::kWebSocket;
            Raw(reply + "\r\n");
            if (!rest.empty()) TakeFrames(rest);
            return;
        }
        const auto send = [&](const std::string& status, const std::string& body) { SendHttp(status, body); };
        std::vector<ConnectionSummary> none;
        if (get && (http_target_ == "/id" || http_target_ == "/"))
            return send("200 OK", JsonInfo(server_.identity, server_.ring, {"ID", "", ""}, none).second);
        if (get && http_target_ == "/streams")
            return send("200 OK", JsonInfo(server_.identity, server_.ring, {"STREAMS", "", ""}, none).second);
        send("404 Not Found", ErrorJson(server_.identity, "UNSUPPORTED", "nothing at " + http_target_ + "; try /id or /streams"));
    }

    static bool HttpVerb(const std::string& verb) {
        for (const char* http : {"GET", "HEAD", "POST", "PUT", "DELETE", "OPTIONS", "TRACE", "CONNECT"})
            if (verb == http) return true;
        return false;
    }

    // A request too long to take: HTTP's refusal, what more of it comes read
    // and let go, then the connection closed.
    void RefuseHttp(const std::string& status, const std::string& why, std::size_t limit) {
        const auto sp1 = http_request_.find(' ');
        const auto sp2 = http_request_.find(' ', sp1 + 1);
        http_target_ = http_request_.substr(sp1 + 1, std::min<std::size_t>(sp2 - sp1 - 1, 40));
        line_.clear();
        discarding_ = true;
        close_reason_ = LiveNote::End::kHttpHeadTooLong;
        close_value_ = static_cast<std::int64_t>(limit);
        SendHttp(status, ErrorJson(server_.identity, "ARGUMENTS", why));
    }

    // The answer sent: no more to send, what the client still sends read
    // until it closes, for a moment at most.
    void Linger() {
        if (linger_) return;
        linger_ = true;
        asio::error_code ignored;
        socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
        timer_.expires_after(kLinger);
        timer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (!ec && !self->closed_) self->Close(self->close_reason_, {}, self->close_value_);
        });
    }

    void Raw(std::string bytes) { Answer({false, std::move(bytes), nullptr, true}); }

    // A JSON answer, then the connection closed.
    void SendHttp(const std::string& status, const std::string& body) {
        mode_ = Mode::kHttp;
        closing_after_write_ = true;
        Raw("HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nAccess-Control-Allow-Origin: *\r\nConnection: close\r\n\r\n" + body);
    }

    void TakeFrames(std::string_view data) {
        while (!data.empty() && !closed_) {
            WsOpcode op{};
            std::string message;
            const auto r = frames_.Feed(data, op, message);
            if (r == FrameParser::Result::kNeedMore) return;
            if (r == FrameParser::Result::kBad)
                return Close(LiveNote::End::kWebSocketFault, {}, static_cast<std::int64_t>(frames_.Fault()));
            if (op == WsOpcode::kClose) {
                Answer({true, FrameHeader(WsOpcode::kClose, 0), nullptr, true});
                closing_after_write_ = true;
                close_reason_ = LiveNote::End::kWebSocketClosed;
                return;
            }
            if (op == WsOpcode::kPing) {
                Answer({true, FrameHeader(WsOpcode::kPong, message.size()) + message, nullptr, true});
                continue;
            }
            if (op == WsOpcode::kPong) continue;
            // A command per message; its terminator is optional.
            std::size_t start = 0;
            for (std::size_t i = 0; i <= message.size(); ++i) {
                if (i == message.size() || message[i] == '\r' || message[i] == '\n') {
                    if (i > start) Command(message.substr(start, i - start));
                    start = i + 1;
                }
            }
        }
    }

public:
    // Sends what is queued, then the session's next packets: one write at a time.
    void Pump() {
        if (closed_ || writing_) return;
        if (queue_.empty() && session_ && session_->CurrentPhase() == SeedLinkSession::Phase::kTransfer) {
            std::vector<Piece> out;
            for (int i = 0; i < kPacketsPerWrite; ++i) {
                const auto step = session_->Next(out);
                if (step == SeedLinkSession::Step::kWait) {
                    waiting_ = true;
                    break;
                }
                if (step == SeedLinkSession::Step::kMore && out.empty()) {
                    asio::post(server_.io, [self = shared_from_this()] { self->Pump(); });
                    break;
                }
            }
            for (auto& p : out) {
                queued_ += p.Size();
                queue_.push_back(std::move(p));
            }
        }
        if (queue_.empty()) {
            if (closing_after_write_ && discarding_) Linger();
            else if (closing_after_write_) Close(mode_ == Mode::kHttp ? LiveNote::End::kAnswered : close_reason_);
            else if (server_.stopping && waiting_) Close(LiveNote::End::kServerStopped);  // sent all it asked for
            return;
        }
        buffers_.clear();
        heads_.clear();
        heads_.reserve(queue_.size());
        in_flight_ = queue_.size();
        for (std::size_t i = 0; i < queue_.size(); ++i) {
            const Piece& p = queue_[i];
            if (mode_ == Mode::kWebSocket && !p.raw) {
                // Answers too go as binary messages: browser clients (seisplotjs) take
                // only those, as ringserver sends them.
                heads_.push_back(FrameHeader(WsOpcode::kBinary, p.Size()));
                buffers_.push_back(asio::buffer(heads_.back()));
            }
            buffers_.push_back(asio::buffer(p.bytes));
            if (p.record) buffers_.push_back(asio::buffer(p.record->bytes));
        }
        writing_ = true;
        ++writes_;
        write_began_ = std::chrono::steady_clock::now();
        WatchWrites();
        asio::async_write(socket_, buffers_, [self = shared_from_this()](const asio::error_code& ec, std::size_t n) {
            self->writing_ = false;
            if (self->closed_) return;
            if (ec) return self->Close(LiveNote::End::kWriteFailed, ec.message());
            self->bytes_ += n;
            for (std::size_t i = 0; i < self->in_flight_; ++i) {
                const Piece& p = self->queue_.front();
                if (p.record) ++self->packets_;
                self->queued_ -= p.Size();
                self->queue_.pop_front();
            }
            if (self->session_ && self->session_->CurrentPhase() == SeedLinkSession::Phase::kClose) self->closing_after_write_ = true;
            if (self->session_ && self->session_->CurrentPhase() == SeedLinkSession::Phase::kDone) {
                // A window or a dial-up sent whole: END, then the connection closed, as ringserver does.
                self->closing_after_write_ = true;
                self->close_reason_ = LiveNote::End::kTransferEnded;
            }
            self->Pump();
        });
    }

private:
    // A client whose socket takes none of a write for the timeout is dropped
    // (it never reads); the others are not held up meanwhile. One timer a
    // connection, armed while writes are going on, not one a write.
    void WatchWrites() {
        if (watching_ || closed_) return;
        watching_ = true;
        const std::uint64_t write = writes_;
        write_timer_.expires_at(write_began_ + std::chrono::seconds(server_.limits.write_timeout_seconds));
        write_timer_.async_wait([self = shared_from_this(), write](const asio::error_code& ec) {
            self->watching_ = false;
            if (ec || self->closed_ || !self->writing_) return;
            if (self->writes_ == write)
                return self->Close(LiveNote::End::kWriteStalled, {}, self->server_.limits.write_timeout_seconds);
            self->WatchWrites();  // the write now going on, from when it began
        });
    }

    SeedLinkServer::Impl& server_;
    asio::ip::tcp::socket socket_;
    asio::steady_timer timer_;
    asio::steady_timer write_timer_;
    std::uint64_t writes_ = 0;  // the writes begun
    std::chrono::steady_clock::time_point write_began_;
    bool watching_ = false;
    std::string address_;
    std::int64_t since_;
    std::chrono::steady_clock::time_point handshake_deadline_;
    std::array<char, 4096> in_{};
    std::string line_;
    bool overlong_ = false;
    Mode mode_ = Mode::kUnknown;
    std::string http_request_, http_target_;
    std::size_t http_head_ = 0;
    std::map<std::string, std::string> headers_;
    FrameParser frames_;
    std::unique_ptr<SeedLinkSession> session_;
    std::deque<Piece> queue_;
    std::size_t queued_ = 0, in_flight_ = 0;
    std::vector<asio::const_buffer> buffers_;
    std::vector<std::string> heads_;
    bool writing_ = false, waiting_ = false, closed_ = false, closing_after_write_ = false;
    bool discarding_ = false, linger_ = false;  // a refused request's rest read and let go
    std::size_t discarded_ = 0;
    std::int64_t close_value_ = 0;
    std::uint64_t packets_ = 0, bytes_ = 0;
    LiveNote::End why_ = LiveNote::End::kNone;
    std::string why_text_;
    std::int64_t why_value_ = 0;
    LiveNote::End close_reason_ = LiveNote::End::kBye;

    friend struct SeedLinkServer::Impl;
};

}  // namespace zqd::stream
