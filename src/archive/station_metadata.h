// The station's metadata: its channels as the configuration makes them (the
// card's, the clock's and the receiver's), their responses, and where the
// station is, from the configuration or from the receiver's positions in the
// archive; as FDSN StationXML.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "acquisition/block.h"
#include "acquisition/timing.h"
#include "records/records_config.h"
#include "common/status.h"
#include "formats/stationxml/stationxml.h"

namespace zqd::archive {

// The sensor ahead of the card: volts out per unit of ground motion.
struct SensorConfig {
    double sensitivity = 0;   // V per `unit`
    std::string unit = "m/s";
    double frequency = 1;     // Hz, where the sensitivity holds
    std::string description;
};

// What the station's metadata say beyond the codes.
struct StationMeta {
    std::optional<double> latitude, longitude, elevation;  // degrees, degrees, metres
    std::string site;
    double input_range_volts = 5;  // the card's full scale: 65536 counts over +-this
    std::optional<SensorConfig> sensor;
};

// The settings the station's description is made from.
struct StationDescription {
    records::RecordsConfig records;  // the codes and the channels
    acq::AcqConfig card;
    acq::TimingConfig timing;
    StationMeta meta;
};

// What an archive says of the station.
struct ArchiveFacts {
    std::optional<std::int64_t> first_data_ns;  // its earliest record
    std::size_t positions = 0;                  // the receiver's positions the medians are of
    std::optional<double> latitude, longitude, elevation;  // their medians: degrees, degrees, metres
    std::int64_t positions_from_ns = 0, positions_to_ns = 0;
};

// Reads the station's streams in `root`: the first record of its earliest
// day, and the receiver's positions (GLA, GLO, GEL) of its latest month.
ArchiveFacts ReadArchiveFacts(const StationDescription& c, const std::filesystem::path& root);

// Counts per volt of the card: 65536 over its full range (+-input_range).
double CardCountsPerVolt(const StationMeta& m);

// The station as a StationXML document, written at `now_ns` by `module`.
// kFileRefused (kNoCoordinates) when neither the configuration nor the
// archive says where the station is.
Status DescribeStation(const StationDescription& c, const ArchiveFacts& facts, std::int64_t now_ns,
                       const std::string& module, stationxml::Document& doc);

// Describes and writes `out` whole (the safe writer); what the document took
// its coordinates from is said in the document.
Status WriteStationXml(const StationDescription& c, const std::optional<std::filesystem::path>& archive,
                       const std::filesystem::path& out, const std::string& module, std::int64_t now_ns);

}  // namespace zqd::archive
