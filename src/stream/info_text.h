// What the server says about itself: INFO as XML (3.1, carried in miniSEED
// log records) and as JSON (4.0, in a "J" packet), and the HTTP answers.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "stream/record_ring.h"
#include "stream/seedlink_session.h"

namespace zqd::stream {

struct InfoQuery {
    std::string item;            // ID, FORMATS, CAPABILITIES, STATIONS, STREAMS, CONNECTIONS (upper case)
    std::string station, stream; // patterns; empty: all
};

// 4.0's INFO document, and whether it is an answer (else an error document).
std::pair<bool, std::string> JsonInfo(const ServerIdentity& identity, RecordRing& ring, const InfoQuery& query,
                                      const std::vector<ConnectionSummary>& connections);
std::string ErrorJson(const ServerIdentity& identity, const std::string& code, const std::string& message);
// A 4.0 packet of format J: subformat I (info) or E (error).
std::string InfoPacket(char subformat, const std::string& json);

// 3.1's INFO document for ID, CAPABILITIES, STATIONS, STREAMS, CONNECTIONS
// or ALL; for anything else an error document (sent on channel ERR).
std::pair<bool, std::string> XmlInfo(const ServerIdentity& identity, RecordRing& ring, const std::string& item,
                                     const std::vector<ConnectionSummary>& connections);

std::string JsonText(const std::string& s);  // quoted and escaped

}  // namespace zqd::stream
