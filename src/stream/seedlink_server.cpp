#include "stream/seedlink_server.h"

#include "stream/seedlink_connection.h"

namespace zqd::stream {

void SeedLinkServer::Impl::Accept() {
    acceptor.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
        if (stopping) return;
        if (!ec) {
            asio::error_code e;
            const auto remote = socket.remote_endpoint(e);
            std::string address = e ? std::string("?") : remote.address().to_string();
            auto bytes = ParseAddress(remote.address().is_v6() && remote.address().to_v6().is_v4_mapped()
                                          ? asio::ip::make_address_v4(asio::ip::v4_mapped, remote.address().to_v6()).to_string() : address);
            LiveNote refused;
            refused.kind = LiveNote::Kind::kRefused;
            bool refuse = true;
            if (!bytes || !limits.access.Admits(*bytes)) {
                refused.refusal = LiveNote::Refusal::kNotAllowed;
            } else if (static_cast<int>(connections.size()) >= limits.clients) {
                refused.refusal = LiveNote::Refusal::kTooManyClients;
                refused.value = limits.clients;
            } else if (per_address[address] >= limits.per_address) {
                refused.refusal = LiveNote::Refusal::kTooManyFromAddress;
                refused.value = limits.per_address;
            } else {
                refuse = false;
            }
            const std::string who = address + ":" + std::to_string(e ? 0 : remote.port());
            if (refuse) {
                refused.who = who;
                Say(refused);
                socket.close(e);
            } else {
                socket.set_option(asio::ip::tcp::no_delay(true), e);
                socket.set_option(asio::socket_base::send_buffer_size(limits.send_buffer_bytes), e);
                auto c = std::make_shared<Connection>(*this, std::move(socket), who);
                connections.insert(c);
                ++per_address[address];
                clients.store(static_cast<int>(connections.size()));
                c->Begin();
            }
        }
        Accept();
    });
}

void SeedLinkServer::Impl::Closed(const std::shared_ptr<Connection>& c) {
    if (connections.erase(c) == 0) return;
    const std::string address = c->Address().substr(0, c->Address().rfind(':'));
    if (--per_address[address] <= 0) per_address.erase(address);
    clients.store(static_cast<int>(connections.size()));
    Say(c->Ended());
    if (stopping && connections.empty()) stop_timer.cancel();
}

std::vector<ConnectionSummary> SeedLinkServer::Impl::Summaries() const {
    std::vector<ConnectionSummary> all;
    for (const auto& c : connections) all.push_back(c->Summary());
    return all;
}

SeedLinkServer::SeedLinkServer(ServerIdentity identity, RecordRing& ring, ServerLimits limits, Log log)
    : impl_(std::make_unique<Impl>(std::move(identity), ring, std::move(limits), std::move(log), clients_)) {}

SeedLinkServer::~SeedLinkServer() { Stop(); }

Status SeedLinkServer::Start(const ListenAddress& where) {
    Impl& s = *impl_;
    if (s.thread.joinable()) return Status::Ok();
    asio::error_code ec;
    const auto address = asio::ip::make_address(where.host, ec);
    const asio::ip::tcp::endpoint endpoint(address, where.port);
    const std::string name = where.host + ":" + std::to_string(where.port);
    const auto failed = [&](const asio::error_code& e) {
        asio::error_code ignored;
        s.acceptor.close(ignored);
        return Status::Fail(Status::Code::kFileRefused, Status::Why::kListenFailed).About(name).Said(e.message());
    };
    if (ec) return failed(ec);
    s.acceptor.open(endpoint.protocol(), ec);
    if (ec) return failed(ec);
#ifndef _WIN32
    s.acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
#endif
    s.acceptor.bind(endpoint, ec);
    if (ec) return failed(ec);
    s.acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) return failed(ec);
    port_.store(s.acceptor.local_endpoint(ec).port());
    if (s.identity.started_ns == 0) s.identity.started_ns = utc::NowNs();
    s.stopping = false;
    s.io.restart();
    s.Accept();
    s.thread = std::thread([&s] { s.io.run(); });
    LiveNote listening;
    listening.kind = LiveNote::Kind::kListening;
    listening.who = name;
    s.Say(listening);
    return Status::Ok();
}

void SeedLinkServer::Stop() {
    Impl& s = *impl_;
    if (!s.thread.joinable()) return;
    asio::post(s.io, [&s] {
        s.stopping = true;
        asio::error_code ignored;
        s.acceptor.close(ignored);
        auto all = s.connections;
        for (const auto& c : all) c->Finish();
        if (s.connections.empty()) return;
        // Those that do not take the rest in time are closed without it.
        s.stop_timer.expires_after(std::chrono::seconds(s.limits.stop_seconds));
        s.stop_timer.async_wait([&s](const asio::error_code& ec) {
            if (ec) return;
            auto left = s.connections;
            for (const auto& c : left) c->Close(LiveNote::End::kServerStopped);
        });
    });
    s.thread.join();
    s.io.stop();
    s.connections.clear();
    clients_.store(0);
}

void SeedLinkServer::Notify() {
    Impl& s = *impl_;
    if (s.notify_pending.exchange(true)) return;
    asio::post(s.io, [&s] {
        s.notify_pending.store(false);
        auto all = s.connections;
        for (const auto& c : all) c->Wake();
    });
}

}  // namespace zqd::stream
