// Matching what clients ask for: station and stream patterns with `*` and
// `?`, and addresses against allow and deny lists of networks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zqd::stream {

// `*` any run of characters, `?` any one; the whole of `text` must match.
// Case-insensitive, as SeedLink's commands are.
bool Glob(std::string_view pattern, std::string_view text);

// An address or a network: "192.168.1.0/24", "10.0.0.7", "::1", "fd00::/8".
struct Network {
    std::array<std::uint8_t, 16> bytes{};  // IPv4 as IPv4-mapped IPv6
    int prefix = 128;
    bool Contains(const std::array<std::uint8_t, 16>& address) const;
};

// Parses a network; nothing for a text that is not one.
std::optional<Network> ParseNetwork(std::string_view text);
// An address's 16 bytes (IPv4 mapped); nothing for a text that is not one.
std::optional<std::array<std::uint8_t, 16>> ParseAddress(std::string_view text);

// "18000", "0.0.0.0:18000", "[::1]:18000": the address and port to listen on.
struct ListenAddress {
    std::string host = "0.0.0.0";
    std::uint16_t port = 18000;
};
std::optional<ListenAddress> ParseListen(const std::string& text);


// Who may connect: an address in `deny` may not; with an `allow` list, only
// an address in it may.
struct AccessList {
    std::vector<Network> allow, deny;
    bool Admits(const std::array<std::uint8_t, 16>& address) const;
};

}  // namespace zqd::stream
