// The station's metadata: its channels as the configuration makes them (the
// card's, the clock's and the receiver's), their responses, and where the
// station is, from the configuration or from the receiver's positions in the
// archive; as FDSN StationXML.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "archive/archive_config.h"
#include "common/status.h"
#include "formats/stationxml/stationxml.h"

namespace zqd::archive {

// What an archive says of the station.
struct ArchiveFacts {
    std::optional<std::int64_t> first_data_ns;  // its earliest record
    std::size_t positions = 0;                  // the receiver's positions the medians are of
    std::optional<double> latitude, longitude, elevation;  // their medians: degrees, degrees, metres
    std::int64_t positions_from_ns = 0, positions_to_ns = 0;
};

// Reads the station's streams in `root`: the first record of its earliest
// day, and the receiver's positions (GLA, GLO, GEL) of its latest month.
ArchiveFacts ReadArchiveFacts(const ArchiveConfig& c, const std::filesystem::path& root);

// Counts per volt of the card: 65536 over its full range (+-input_range).
double CardCountsPerVolt(const StationMeta& m);

// The station as a StationXML document, written at `now_ns` by `module`.
// kFileRefused (kNoCoordinates) when neither the configuration nor the
// archive says where the station is.
Status DescribeStation(const ArchiveConfig& c, const ArchiveFacts& facts, std::int64_t now_ns,
                       const std::string& module, stationxml::Document& doc);

// Describes and writes `out` whole (the safe writer); what the document took
// its coordinates from is said in the document.
Status WriteStationXml(const ArchiveConfig& c, const std::optional<std::filesystem::path>& archive,
                       const std::filesystem::path& out, const std::string& module, std::int64_t now_ns);

}  // namespace zqd::archive
