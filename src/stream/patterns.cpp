#include "stream/patterns.h"

#include <cctype>
#include <charconv>

namespace zqd::stream {

bool Glob(std::string_view pattern, std::string_view text) {
    // Iterative, with one point to come back to after a `*`: linear in
    // practice and never recursive, whatever a client sends.
    std::size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
    const auto same = [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    };
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && same(pattern[p], text[t])))) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

namespace {

bool ParseV4(std::string_view s, std::array<std::uint8_t, 16>& out) {
    out = {};
    out[10] = out[11] = 0xff;
    for (int i = 0; i < 4; ++i) {
        unsigned v = 0;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (ec != std::errc() || end == s.data() || v > 255 || end - s.data() > 3) return false;
        out[static_cast<std::size_t>(12 + i)] = static_cast<std::uint8_t>(v);
        s.remove_prefix(static_cast<std::size_t>(end - s.data()));
        if (i < 3) {
            if (s.empty() || s.front() != '.') return false;
            s.remove_prefix(1);
        }
    }
    return s.empty();
}

bool ParseV6(std::string_view s, std::array<std::uint8_t, 16>& out) {
    out = {};
    std::vector<std::uint16_t> head, tail;
    bool gap = false;
    if (s.starts_with("::")) {
        gap = true;
        s.remove_prefix(2);
    }
    while (!s.empty()) {
        if (s.find('.') != std::string_view::npos && s.find(':') == std::string_view::npos) {
            std::array<std::uint8_t, 16> v4{};
            if (!ParseV4(s, v4)) return false;
            auto& part = gap ? tail : head;
            part.push_back(static_cast<std::uint16_t>(v4[12] << 8 | v4[13]));
            part.push_back(static_cast<std::uint16_t>(v4[14] << 8 | v4[15]));
            s = {};
            break;
        }
        unsigned v = 0;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
        if (ec != std::errc() || end == s.data() || v > 0xffff || end - s.data() > 4) return false;
        (gap ? tail : head).push_back(static_cast<std::uint16_t>(v));
        s.remove_prefix(static_cast<std::size_t>(end - s.data()));
        if (s.starts_with("::")) {
            if (gap) return false;
            gap = true;
            s.remove_prefix(2);
        } else if (s.starts_with(":")) {
            s.remove_prefix(1);
            if (s.empty()) return false;
        } else if (!s.empty()) {
            return false;
        }
    }
    const std::size_t n = head.size() + tail.size();
    if (n > 8 || (!gap && n != 8) || (gap && n == 8)) return false;
    std::size_t i = 0;
    for (auto v : head) {
        out[i++] = static_cast<std::uint8_t>(v >> 8);
        out[i++] = static_cast<std::uint8_t>(v);
    }
    i = 16 - 2 * tail.size();
    for (auto v : tail) {
        out[i++] = static_cast<std::uint8_t>(v >> 8);
        out[i++] = static_cast<std::uint8_t>(v);
    }
    return true;
}

}  // namespace

std::optional<std::array<std::uint8_t, 16>> ParseAddress(std::string_view text) {
    std::array<std::uint8_t, 16> a{};
    if (text.find(':') == std::string_view::npos ? ParseV4(text, a) : ParseV6(text, a)) return a;
    return std::nullopt;
}

std::optional<Network> ParseNetwork(std::string_view text) {
    Network n;
    const auto slash = text.find('/');
    const auto address = ParseAddress(text.substr(0, slash));
    if (!address) return std::nullopt;
    n.bytes = *address;
    const bool v4 = text.substr(0, slash).find(':') == std::string_view::npos;
    n.prefix = 128;
    if (slash != std::string_view::npos) {
        const auto bits = text.substr(slash + 1);
        int p = 0;
        const auto [end, ec] = std::from_chars(bits.data(), bits.data() + bits.size(), p);
        if (ec != std::errc() || end != bits.data() + bits.size() || p < 0 || p > (v4 ? 32 : 128))
            return std::nullopt;
        n.prefix = v4 ? 96 + p : p;
    }
    return n;
}

bool Network::Contains(const std::array<std::uint8_t, 16>& address) const {
    int bits = prefix;
    for (std::size_t i = 0; i < 16 && bits > 0; ++i, bits -= 8) {
        const std::uint8_t mask = bits >= 8 ? 0xff : static_cast<std::uint8_t>(0xff << (8 - bits));
        if ((address[i] & mask) != (bytes[i] & mask)) return false;
    }
    return true;
}

bool AccessList::Admits(const std::array<std::uint8_t, 16>& address) const {
    for (const auto& n : deny)
        if (n.Contains(address)) return false;
    if (allow.empty()) return true;
    for (const auto& n : allow)
        if (n.Contains(address)) return true;
    return false;
}

std::optional<ListenAddress> ParseListen(const std::string& text) {
    ListenAddress a;
    std::string port = text;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find("]:");
        if (close == std::string::npos) return std::nullopt;
        a.host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        a.host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), v);
    if (ec != std::errc() || end != port.data() + port.size() || port.empty() || v > 65535) return std::nullopt;
    if (!ParseAddress(a.host)) return std::nullopt;
    a.port = static_cast<std::uint16_t>(v);
    return a;
}

}  // namespace zqd::stream
