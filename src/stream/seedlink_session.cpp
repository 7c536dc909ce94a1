#include "stream/seedlink_session.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>

#include "common/utc.h"
#include "formats/mseed/mseed_packer.h"
#include "stream/info_text.h"
#include "stream/patterns.h"
#include "stream/ring_feed.h"

namespace zqd::stream {

namespace {

std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
        if (j > i) words.emplace_back(line.substr(i, j - i));
        i = j;
    }
    return words;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

template <typename T>
bool Number(std::string_view s, T& v, int base = 10) {
    if (s.empty()) return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    return ec == std::errc() && end == s.data() + s.size();
}

// "2026,12,8,5,0,0" (six or seven numbers, the seventh nanoseconds): 3.1's time.
std::optional<std::int64_t> CommaTime(std::string_view s) {
    std::vector<std::int64_t> parts;
    while (true) {
        const auto comma = s.find(',');
        std::int64_t v = 0;
        if (!Number(s.substr(0, comma), v) || v < 0) return std::nullopt;
        parts.push_back(v);
        if (comma == std::string_view::npos) break;
        s.remove_prefix(comma + 1);
        if (parts.size() > 7) return std::nullopt;
    }
    if (parts.size() < 6 || parts.size() > 7) return std::nullopt;
    if (parts[0] < 1678 || parts[0] > 2261 || parts[1] < 1 || parts[1] > 12 || parts[2] < 1 || parts[2] > 31 ||
        parts[3] > 23 || parts[4] > 59 || parts[5] > 60 || (parts.size() == 7 && parts[6] >= utc::kNsPerSecond))
        return std::nullopt;
    utc::Civil c;
    c.year = parts[0];
    c.month = static_cast<unsigned>(parts[1]);
    c.day = static_cast<unsigned>(parts[2]);
    c.hour = static_cast<unsigned>(parts[3]);
    c.minute = static_cast<unsigned>(parts[4]);
    c.second = static_cast<unsigned>(parts[5]);
    c.ns = parts.size() == 7 ? parts[6] : 0;
    return utc::ToNs(c);
}

// "2026-12-08T05:00:00.5Z": 4.0's time (the Z may be left off).
std::optional<std::int64_t> IsoTime(std::string s) {
    if (!s.empty() && (s.back() == 'Z' || s.back() == 'z')) s.pop_back();
    std::int64_t ns = 0;
    if (s.size() < 19 || s[10] != 'T' || !utc::ParseIso(s, ns)) return std::nullopt;
    return ns;
}

void Put32(std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}
void Put64(std::string& s, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

}  // namespace

std::string ServerIdentity::Software() const { return "ZQD4830_GPS " + version; }

std::string SeedLinkSession::HelloLine(const ServerIdentity& identity, bool v4) {
    return std::string(v4 ? "SeedLink v4.0 (" : "SeedLink v3.1 (") + identity.Software() +
           ") :: SLPROTO:3.1 SLPROTO:4.0 CAP EXTREPLY NSWILDCARD BATCH WS:13";
}

SeedLinkSession::SeedLinkSession(const ServerIdentity& identity, RecordRing& ring, Connections connections)
    : identity_(identity), ring_(ring), connections_(std::move(connections)) {}

void SeedLinkSession::Reply(std::vector<Piece>& out, bool modifier, std::string_view code, std::string_view text) {
    if (batch_ && modifier && !v4_) return;  // batch handshaking: no answers to modifiers
    Piece p;
    if (code.empty()) {
        p.bytes = "OK\r\n";
    } else if (v4_) {
        p.bytes = "ERROR " + std::string(code) + " " + std::string(text) + "\r\n";
    } else if (extreply_) {
        p.bytes = "ERROR\r" + std::string(code) + " " + std::string(text) + "\r\n";
    } else {
        p.bytes = "ERROR\r\n";
    }
    out.push_back(std::move(p));
}

void SeedLinkSession::Command(std::string_view line, std::vector<Piece>& out) {
    const auto words = Words(line);
    if (words.empty()) return;
    const std::string verb = Upper(words[0]);
    const std::vector<std::string> args(words.begin() + 1, words.end());

    if (verb == "BYE") {
        phase_ = Phase::kClose;
        return;
    }
    if (phase_ == Phase::kDone || phase_ == Phase::kClose) return;  // after END only BYE counts
    if (verb == "INFO") {
        Info(args.empty() ? std::string_view{} : std::string_view(args[0]),
             args.size() > 1 ? std::string_view(args[1]) : std::string_view{},
             args.size() > 2 ? std::string_view(args[2]) : std::string_view{}, out);
        return;
    }
    if (phase_ != Phase::kHandshake) return;  // in transfer only INFO and BYE

    if (verb == "HELLO") {
        out.push_back({false, HelloLine(identity_, v4_) + "\r\n" + identity_.description + "\r\n", nullptr});
        return;
    }
    if (verb == "SLPROTO") {
        if (args.size() != 1) return Reply(out, true, "ARGUMENTS", "SLPROTO takes one version");
        if (args[0] == "4.0") {
            v4_ = true;
        } else if (args[0] != "3.1" && args[0] != "3.0") {
            return Reply(out, true, "UNSUPPORTED", "protocol version " + args[0] + " is not supported");
        } else if (proto_chosen_ && v4_) {
            return Reply(out, true, "UNEXPECTED", "the protocol is chosen already");
        }
        proto_chosen_ = true;
        return Reply(out, true);
    }
    if (verb == "USERAGENT") {
        user_agent_.clear();
        for (const auto& a : args) user_agent_ += (user_agent_.empty() ? "" : " ") + a;
        return Reply(out, true);
    }
    if (verb == "AUTH") return Reply(out, true, "UNSUPPORTED", "authentication is not offered by this server");
    if (!v4_ && (verb == "CAPABILITIES" || verb == "ENABLE")) {
        for (const auto& a : args)
            if (Upper(a) == "EXTREPLY") extreply_ = true;
        return Reply(out, true);
    }
    if (!v4_ && verb == "BATCH") {
        out.push_back({false, "OK\r\n", nullptr});
        batch_ = true;
        return;
    }
    if (!v4_ && verb == "CAT") {
        char line2[96];
        std::snprintf(line2, sizeof line2, "%-2s %-5s ", identity_.network.c_str(), identity_.station.c_str());
        out.push_back({false, line2 + identity_.description + "\r\nEND", nullptr});
        return;
    }
    if (verb == "STATION") {
        Station(args, out);
        return;
    }
    if (verb == "SELECT") {
        Select(args, out);
        return;
    }
    if (verb == "DATA" || verb == "FETCH" || (!v4_ && verb == "TIME")) {
        Data(verb, args, out);
        return;
    }
    if (verb == "END" || (v4_ && verb == "ENDFETCH")) {
        if (!multi_ && !v4_ && !mine_) mine_ = Request{};  // everything, live
        StartTransfer(verb == "ENDFETCH" || dialup_);
        return;
    }
    Reply(out, false, "UNSUPPORTED", "command " + verb + " is not supported");
}

bool SeedLinkSession::Station(const std::vector<std::string>& args, std::vector<Piece>& out) {
    multi_ = true;
    current_mine_ = false;
    current_ignored_ = true;
    bool matches = false;
    if (v4_) {
        if (args.size() != 1) {
            Reply(out, true, "ARGUMENTS", "STATION takes one station pattern");
            return false;
        }
        matches = Glob(args[0], StationId());
    } else {
        if (args.empty() || args.size() > 2) {
            Reply(out, true, "ARGUMENTS", "STATION takes a station and a network");
            return false;
        }
        matches = Glob(args[0], identity_.station) && (args.size() < 2 || Glob(args[1], identity_.network));
    }
    asked_ += (asked_.empty() ? "" : " ") + std::string("STATION");
    for (const auto& a : args) asked_ += " " + a;
    if (!matches) {
        Reply(out, true, "ARGUMENTS", "no station " + args[0] + " here (this server has " + StationId() + ")");
        return false;
    }
    current_ignored_ = false;
    if (mine_) return (Reply(out, true), true);  // asked for already: this one adds nothing
    mine_ = Request{};
    current_mine_ = true;
    Reply(out, true);
    return true;
}

bool SeedLinkSession::Select(const std::vector<std::string>& args, std::vector<Piece>& out) {
    if (multi_ && current_ignored_) return (Reply(out, true, "UNEXPECTED", "no station for this SELECT"), false);
    if (v4_ && !multi_) return (Reply(out, true, "UNEXPECTED", "STATION must come before SELECT"), false);
    if (args.empty()) {
        if (v4_) return (Reply(out, true, "ARGUMENTS", "empty SELECT is not allowed in v4"), false);
        if (!multi_ && !mine_) mine_ = Request{};
        if (mine_ && (current_mine_ || !multi_)) mine_->selectors.clear();
        return (Reply(out, true), true);
    }
    std::vector<Selector> parsed;
    for (const auto& a : args) {
        Selector s;
        std::string text = a;
        if (!text.empty() && text.front() == '!') {
            s.negate = true;
            text.erase(0, 1);
        }
        if (v4_) {
            const auto colon = text.find(':');
            if (colon != std::string::npos) {
                if (s.negate) return (Reply(out, true, "ARGUMENTS", "a filter cannot go with '!'"), false);
                const std::string filter = Upper(text.substr(colon + 1));
                if (filter != "NATIVE" && filter != "2")
                    return (Reply(out, true, "UNSUPPORTED", "filter " + filter + " is not offered"), false);
                text.erase(colon);
            }
            const auto dot = text.find('.');
            s.stream = text.substr(0, dot);
            s.type = dot == std::string::npos ? "*" : text.substr(dot + 1) + "*";
            if (s.stream.empty()) s.stream = "*";
        } else {
            const auto dot = text.find('.');
            std::string part = text.substr(0, dot);
            s.type = dot == std::string::npos ? "?" : text.substr(dot + 1);
            if (s.type.size() != 1) return (Reply(out, true, "ARGUMENTS", "selector " + a + " is not LLCCC.T"), false);
            const auto colon = part.find(':');
            std::string loc = "??", chan = part;
            if (colon != std::string::npos) {
                loc = part.substr(0, colon);
                chan = part.substr(colon + 1);
            } else if (part.size() == 5) {
                loc = part.substr(0, 2);
                chan = part.substr(2);
            } else if (part.size() > 3) {
                return (Reply(out, true, "ARGUMENTS", "selector " + a + " is not LLCCC.T"), false);
            }
            if (chan.empty()) chan = "???";
            if (loc.size() != 2 || chan.size() != 3)
                return (Reply(out, true, "ARGUMENTS", "selector " + a + " is not LLCCC.T"), false);
            std::replace(loc.begin(), loc.end(), '-', ' ');
            s.stream = loc + chan;
        }
        parsed.push_back(std::move(s));
    }
    if (!multi_ && !mine_) mine_ = Request{};
    if (mine_ && (current_mine_ || !multi_)) {
        if (mine_->selectors.size() + parsed.size() > 64)
            return (Reply(out, true, "LIMIT", "no more than 64 selectors"), false);
        for (auto& s : parsed) mine_->selectors.push_back(std::move(s));
    }
    asked_ += " SELECT";
    for (const auto& a : args) asked_ += " " + a;
    Reply(out, true);
    return true;
}

bool SeedLinkSession::Data(const std::string& verb, const std::vector<std::string>& args, std::vector<Piece>& out) {
    if (multi_ && current_ignored_) return (Reply(out, true, "UNEXPECTED", "no station for this " + verb), false);
    if (v4_ && !multi_) return (Reply(out, true, "UNEXPECTED", "STATION must come before DATA"), false);
    Request r;
    const auto bad = [&](const std::string& why) { return (Reply(out, true, "ARGUMENTS", why), false); };
    if (v4_) {
        if (args.size() > 3) return bad("DATA takes a sequence number, a start and an end");
        if (!args.empty()) {
            if (Upper(args[0]) == "ALL") {
                r.from = Request::From::kAll;
            } else if (args[0] == "-1") {
                r.from = Request::From::kNext;
            } else if (Number(args[0], r.seq)) {
                r.from = Request::From::kSeq;
            } else {
                return bad("sequence number " + args[0] + " is not a decimal number or ALL");
            }
        }
        if (args.size() > 1 && !(r.start = IsoTime(args[1]))) return bad("start time " + args[1] + " is not YYYY-MM-DDThh:mm:ss[.f]Z");
        if (args.size() > 2 && !(r.end = IsoTime(args[2]))) return bad("end time " + args[2] + " is not YYYY-MM-DDThh:mm:ss[.f]Z");
    } else if (verb == "TIME") {
        if (args.empty() || args.size() > 2) return bad("TIME takes a start and an end");
        if (!(r.start = CommaTime(args[0]))) return bad("time " + args[0] + " is not YYYY,MM,DD,hh,mm,ss");
        if (args.size() > 1 && !(r.end = CommaTime(args[1]))) return bad("time " + args[1] + " is not YYYY,MM,DD,hh,mm,ss");
        r.from = Request::From::kAll;
    } else {
        if (args.size() > 3) return bad(verb + " takes a sequence number and a time");
        if (!args.empty() && args[0] != "-1") {
            if (args[0].size() > 16 || !Number(args[0], r.seq, 16))
                return bad("sequence number " + args[0] + " is not hexadecimal");
            r.from = Request::From::kSeq;
            r.seq24 = args[0].size() <= 6;
        }
        if (args.size() > 1 && !(r.newer_than = CommaTime(args[1]))) return bad("time " + args[1] + " is not YYYY,MM,DD,hh,mm,ss");
        if (args.size() > 2 && !(r.end = CommaTime(args[2]))) return bad("time " + args[2] + " is not YYYY,MM,DD,hh,mm,ss");
        if (r.from != Request::From::kSeq && r.newer_than) {
            r.start = r.newer_than;
            r.newer_than.reset();
            r.from = Request::From::kAll;
        }
    }
    if (r.start && r.end && *r.end <= *r.start) return bad("the end time is not after the start time");
    asked_ += " " + verb;
    for (const auto& a : args) asked_ += " " + a;
    if (verb == "FETCH") dialup_ = true;
    if (!multi_) {
        if (!mine_) mine_ = Request{};
    }
    if (mine_ && (current_mine_ || !multi_)) {
        r.selectors = std::move(mine_->selectors);
        mine_ = std::move(r);
    }
    if (!multi_ && !v4_) {
        StartTransfer(dialup_);  // uni-station: the transfer starts at once, unanswered
        return true;
    }
    Reply(out, true);
    return true;
}

void SeedLinkSession::StartTransfer(bool dialup) {
    dialup_ = dialup;
    phase_ = Phase::kTransfer;
    if (asked_.empty()) asked_ = "everything";
    asked_ += dialup ? " (dial-up)" : " (real time)";
}

void SeedLinkSession::Start() {
    started_ = true;
    const std::uint64_t next = ring_.NextSequence();
    const auto newest = ring_.Newest();
    Request& r = *mine_;
    switch (r.from) {
    case Request::From::kNext:
        cursor_ = next;
        break;
    case Request::From::kAll:
        cursor_ = ring_.Oldest().value_or(next);
        break;
    case Request::From::kSeq:
        cursor_ = r.seq;
        if (r.seq24 && newest) {
            // The held number with these 24 low bits, counting back from the next.
            const std::uint64_t back = (next - r.seq) & 0xFFFFFF;
            cursor_ = back > next ? 0 : next - back;
        }
        if (cursor_ > next) cursor_ = next;  // a number from the future: the next packet
        if (r.newer_than && !ring_.Skipped(cursor_)) {
            // The number stands if the packet it names is newer than the
            // time; otherwise the time does. A number the last run reserved
            // and never used (a client's next after a restart) stands too:
            // the record after it is this run's first, whatever the time of
            // the client's last record (a 1-sample/s channel's is minutes old).
            const auto held = ring_.Read(cursor_);
            if (!held || held->start_ns <= *r.newer_than) {
                r.start = r.newer_than;
                cursor_ = ring_.Oldest().value_or(next);
            }
        }
        break;
    }
    // A time window's first record is looked for by halves, not one by one.
    constexpr std::int64_t kLate = 20 * 60 * utc::kNsPerSecond;  // the clock's channels come up to 10 min late
    if (r.start) cursor_ = std::max(cursor_, ring_.FirstEndingAfter(*r.start, kLate));
}

bool SeedLinkSession::Selected(const RingRecord& record) const {
    const auto& selectors = mine_->selectors;
    if (selectors.empty()) return true;
    std::string stream, type;
    if (v4_) {
        stream = StreamId(record.stream);
        type = "2D";
    } else {
        std::string loc = LocationOf(record.stream);
        loc.resize(2, ' ');
        stream = loc + ChannelOf(record.stream);
        type = "D";
    }
    bool any_positive = false, positive = false;
    for (const auto& s : selectors) {
        const bool match = Glob(s.stream, stream) && Glob(s.type, type);
        if (s.negate && match) return false;
        if (!s.negate) {
            any_positive = true;
            positive = positive || match;
        }
    }
    return !any_positive || positive;
}

std::string SeedLinkSession::PacketHeader(const RingRecord& record) const {
    std::string h;
    if (v4_) {
        const std::string id = StationId();
        h.reserve(17 + id.size());
        h = "SE2D";
        Put32(h, static_cast<std::uint32_t>(record.bytes.size()));
        Put64(h, record.sequence);
        h.push_back(static_cast<char>(id.size()));
        h += id;
    } else {
        char b[9];
        std::snprintf(b, sizeof b, "SL%06X", static_cast<unsigned>(record.sequence & 0xFFFFFF));
        h.assign(b, 8);
    }
    return h;
}

SeedLinkSession::Step SeedLinkSession::Next(std::vector<Piece>& out, int budget) {
    if (phase_ != Phase::kTransfer) return Step::kWait;
    const auto end_transfer = [&] {
        out.push_back({true, "END", nullptr});
        phase_ = Phase::kDone;
        return Step::kWait;
    };
    if (!mine_) return dialup_ ? end_transfer() : Step::kWait;
    if (!started_) Start();
    const Request& r = *mine_;
    for (int looked = 0; looked < budget; ++looked) {
        const auto oldest = ring_.Oldest();
        if (oldest && cursor_ < *oldest) {
            // The ring has dropped what this client had not taken yet.
            const std::uint64_t lost = *oldest - cursor_;
            missed_ += lost;
            const std::string text = "the ring's oldest record passed this client: " + std::to_string(lost) +
                                     " records dropped, continuing from " + std::to_string(*oldest);
            cursor_ = *oldest;
            if (v4_) {
                out.push_back({true, InfoPacket('E', ErrorJson(identity_, "LIMIT", text)), nullptr});
            } else {
                const auto next = ring_.Read(cursor_);  // once: the ring may drop it meanwhile
                auto records = mseed::PackText({identity_.network, identity_.station, "", "LOG"}, text,
                                               next ? next->start_ns : 0);
                if (!records.empty()) {
                    char b[9];
                    std::snprintf(b, sizeof b, "SL%06X", static_cast<unsigned>((cursor_ - 1) & 0xFFFFFF));
                    out.push_back({true, std::string(b, 8) + records.front(), nullptr});
                }
            }
            return Step::kSent;
        }
        const auto at = ring_.AtOrAfter(cursor_);
        if (!at) {
            // Caught up: dial-up ends here, and so does a window whose end the data have passed.
            if (dialup_) return end_transfer();
            if (r.end) {
                const auto newest = ring_.Newest();
                const auto last = newest ? ring_.Read(*newest) : nullptr;
                if (last && last->start_ns >= *r.end) return end_transfer();
            }
            return Step::kWait;
        }
        cursor_ = *at + 1;
        const auto record = ring_.Read(*at);
        if (!record) continue;  // damaged in the ring: not served
        if (r.start && record->end_ns <= *r.start) continue;
        if (r.end && record->start_ns >= *r.end) continue;
        if (!Selected(*record)) continue;
        out.push_back({true, PacketHeader(*record), record});
        return Step::kSent;
    }
    return Step::kMore;
}

void SeedLinkSession::Info(std::string_view item, std::string_view station, std::string_view stream,
                           std::vector<Piece>& out) {
    asked_ += " INFO " + std::string(item);
    if (v4_)
        InfoJson(Upper(std::string(item)), station, stream, out);
    else
        InfoXml(Upper(std::string(item)), out);
}

void SeedLinkSession::InfoJson(std::string item, std::string_view station, std::string_view stream,
                               std::vector<Piece>& out) {
    InfoQuery q{item, std::string(station), std::string(stream)};
    const auto [ok, json] = JsonInfo(identity_, ring_, q, connections_ ? connections_() : std::vector<ConnectionSummary>{});
    out.push_back({true, InfoPacket(ok ? 'I' : 'E', json), nullptr});
}

void SeedLinkSession::InfoXml(std::string item, std::vector<Piece>& out) {
    const auto [ok, xml] = XmlInfo(identity_, ring_, item, connections_ ? connections_() : std::vector<ConnectionSummary>{});
    const auto records = mseed::PackText({"SL", "INFO", "", ok ? "INF" : "ERR"}, xml, utc::NowNs());
    for (std::size_t i = 0; i < records.size(); ++i)
        out.push_back({true, (i + 1 < records.size() ? "SLINFO *" : "SLINFO  ") + records[i], nullptr});
}

}  // namespace zqd::stream
