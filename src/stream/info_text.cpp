#include "stream/info_text.h"

#include <cstdio>

#include "common/utc.h"
#include "formats/stationxml/stationxml.h"
#include "stream/patterns.h"
#include "stream/ring_feed.h"

namespace zqd::stream {

namespace {

std::string XmlText(const std::string& s) { return stationxml::Escape(s); }

// 3.1's times as today's servers write them (ringserver's INFO in XML
// carries its JSON's times): ISO 8601 in UTC to the microsecond,
// "2026-12-08T05:00:00.000000Z". The old "2026/12/08 05:00:00.0000" of
// SeisComP's server is read by fewer clients.
std::string XmlTime(std::int64_t ns) { return utc::IsoMicro(ns); }

std::string Hex6(std::uint64_t seq) {
    char b[8];
    std::snprintf(b, sizeof b, "%06X", static_cast<unsigned>(seq & 0xFFFFFF));
    return b;
}

std::string Head(const ServerIdentity& identity) {
    return "\"software\":" + JsonText(identity.Software()) + ",\"organization\":" + JsonText(identity.description);
}

}  // namespace

std::string JsonText(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\u%04x", u);
            out += b;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string ErrorJson(const ServerIdentity& identity, const std::string& code, const std::string& message) {
    return "{" + Head(identity) + ",\"error\":{\"code\":" + JsonText(code) + ",\"message\":" + JsonText(message) + "}}";
}

std::string InfoPacket(char subformat, const std::string& json) {
    std::string p = "SEJ";
    p += subformat;
    const auto n = static_cast<std::uint32_t>(json.size());
    for (int i = 0; i < 4; ++i) p.push_back(static_cast<char>(n >> (8 * i)));
    p.append(8, '\0');  // sequence number: none
    p.push_back('\0');  // no station
    return p + json;
}

std::pair<bool, std::string> JsonInfo(const ServerIdentity& identity, RecordRing& ring, const InfoQuery& q,
                                      const std::vector<ConnectionSummary>& connections) {
    const std::string station_id = identity.network + "_" + identity.station;
    std::string body;
    if (q.item == "ID") {
        // When the server started and the protocols it speaks, beside who it is.
        body = ",\"started\":" + JsonText(utc::IsoMicro(identity.started_ns)) + ",\"protocol\":[\"3.1\",\"4.0\"]";
    } else if (q.item == "FORMATS") {
        body = ",\"format\":{\"2\":{\"mimetype\":\"application/vnd.fdsn.mseed\",\"subformat\":{\"D\":\"data/generic\"}},"
               "\"J\":{\"mimetype\":\"application/json\",\"subformat\":{\"I\":\"SeedLink info\",\"E\":\"SeedLink error\"}}},"
               "\"filter\":{\"native\":\"the records as the station packed them\"}";
    } else if (q.item == "CAPABILITIES") {
        body = ",\"capability\":[\"SLPROTO:3.1\",\"SLPROTO:4.0\",\"TIME\",\"SEQWILDCARD\",\"CAP\",\"EXTREPLY\","
               "\"NSWILDCARD\",\"BATCH\",\"WS:13\"]";
    } else if (q.item == "STATIONS" || q.item == "STREAMS") {
        body = ",\"station\":[";
        if (q.station.empty() || Glob(q.station, station_id)) {
            const std::uint64_t next = ring.NextSequence();
            body += "{\"id\":" + JsonText(station_id) + ",\"description\":" + JsonText(identity.description) +
                    ",\"start_seq\":" + std::to_string(ring.Oldest().value_or(next)) +
                    ",\"end_seq\":" + std::to_string(next) + ",\"backfill\":-1";
            if (q.item == "STREAMS") {
                std::string pattern = q.stream, format = "*";
                if (const auto dot = pattern.find('.'); dot != std::string::npos) {
                    format = pattern.substr(dot + 1) + "*";
                    pattern.erase(dot);
                }
                body += ",\"stream\":[";
                bool first = true;
                for (const auto& [wire, span] : ring.Streams()) {
                    const std::string id = StreamId(wire);
                    if ((!pattern.empty() && !Glob(pattern, id)) || !Glob(format, "2D")) continue;
                    body += std::string(first ? "" : ",") + "{\"id\":" + JsonText(id) +
                            ",\"format\":\"2\",\"subformat\":\"D\",\"origin\":\"native\",\"start_time\":" +
                            JsonText(utc::IsoMicro(span.start_ns)) + ",\"end_time\":" + JsonText(utc::IsoMicro(span.end_ns)) + "}";
                    first = false;
                }
                body += "]";
            }
            body += "}";
        }
        body += "]";
    } else if (q.item == "CONNECTIONS") {
        body = ",\"connections\":{\"client\":[";
        bool first = true;
        for (const auto& c : connections) {
            body += std::string(first ? "" : ",") + "{\"address\":" + JsonText(c.address) +
                    ",\"useragent\":" + JsonText(c.user_agent) + ",\"since\":" + JsonText(utc::IsoMicro(c.since_ns)) +
                    ",\"protocol\":" + JsonText(c.v4 ? "4.0" : "3.1") + ",\"asked\":" + JsonText(c.asked) +
                    ",\"transfer\":" + (c.transfer ? "true" : "false") + ",\"current_seq\":" + std::to_string(c.cursor) +
                    ",\"packets\":" + std::to_string(c.packets) + ",\"bytes\":" + std::to_string(c.bytes) + "}";
            first = false;
        }
        body += "]}";
    } else {
        return {false, ErrorJson(identity, q.item.empty() ? "ARGUMENTS" : "UNSUPPORTED",
                                 q.item.empty() ? "INFO needs an item" : "INFO " + q.item + " is not offered")};
    }
    return {true, "{" + Head(identity) + body + "}"};
}

std::pair<bool, std::string> XmlInfo(const ServerIdentity& identity, RecordRing& ring, const std::string& item,
                                     const std::vector<ConnectionSummary>& connections) {
    std::string xml = "<?xml version=\"1.0\"?>\n<seedlink software=\"" + XmlText(SeedLinkSession::HelloLine(identity)) +
                      "\" organization=\"" + XmlText(identity.description) + "\" started=\"" +
                      XmlTime(identity.started_ns) + "\"";
    const bool all = item == "ALL";
    if (item == "ID") return {true, xml + "/>\n"};
    xml += ">\n";
    if (item == "CAPABILITIES" || all) {
        for (const char* cap : {"dialup", "multistation", "window-extraction", "info:id", "info:capabilities",
                                "info:stations", "info:streams", "info:connections", "info:all"})
            xml += std::string("<capability name=\"") + cap + "\"/>\n";
    }
    if (item == "STATIONS" || item == "STREAMS" || item == "CONNECTIONS" || all) {
        const std::uint64_t next = ring.NextSequence();
        xml += "<station name=\"" + XmlText(identity.station) + "\" network=\"" + XmlText(identity.network) +
               "\" description=\"" + XmlText(identity.description) + "\" begin_seq=\"" +
               Hex6(ring.Oldest().value_or(next)) + "\" end_seq=\"" + Hex6(next) + "\" stream_check=\"enabled\"";
        if (item == "STATIONS") {
            xml += "/>\n";
        } else {
            xml += ">\n";
            if (item == "STREAMS" || all) {
                for (const auto& [wire, span] : ring.Streams())
                    xml += "<stream location=\"" + XmlText(LocationOf(wire)) + "\" seedname=\"" + XmlText(ChannelOf(wire)) +
                           "\" type=\"D\" begin_time=\"" + XmlTime(span.start_ns) + "\" end_time=\"" +
                           XmlTime(span.end_ns) + "\" begin_recno=\"0\" end_recno=\"0\" gap_check=\"disabled\" gap_treshold=\"0\"/>\n";
            }
            if (item == "CONNECTIONS" || all) {
                for (const auto& c : connections)
                    xml += "<connection host=\"" + XmlText(c.address) + "\" ctime=\"" + XmlTime(c.since_ns) +
                           "\" current_seq=\"" + Hex6(c.cursor) + "\" txcount=\"" + std::to_string(c.packets) +
                           "\" totBytes=\"" + std::to_string(c.bytes) + "\" realtime=\"" +
                           (c.transfer ? "yes" : "no") + "\" useragent=\"" + XmlText(c.user_agent) + "\"/>\n";
            }
            xml += "</station>\n";
        }
        return {true, xml + "</seedlink>\n"};
    }
    if (item == "CAPABILITIES") return {true, xml + "</seedlink>\n"};
    return {false, xml + "<error>INFO " + XmlText(item) + " is not offered</error>\n</seedlink>\n"};
}

}  // namespace zqd::stream
