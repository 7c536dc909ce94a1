// The station's metadata: its channels as the configuration makes them (the
// card's, the clock's and the receiver's), their responses, and where the
// station is, from the configuration or from the receiver's positions in the
// archive; as FDSN StationXML.
#pragma once

#include <complex>
#include <cstdint>
#include <map>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/block.h"
#include "acquisition/timing.h"
#include "records/records_config.h"
#include "common/status.h"
#include "formats/stationxml/stationxml.h"

namespace zqd::archive {

// A sensor ahead of the card: volts out per unit of ground motion, its
// response's shape by poles and zeros (rad/s; none: flat), or a moving-coil
// geophone's natural frequency and damping, from which they are made.
struct SensorConfig {
    double sensitivity = 0;   // V per `unit` at `frequency`; a geophone's: its generator constant
    std::string unit = "m/s";
    double frequency = 1;     // Hz: where the sensitivity holds and the poles and zeros are normalised
    std::string description;
    std::vector<std::complex<double>> zeros, poles;
    std::optional<double> natural_frequency, damping;  // a geophone (Hz; a fraction of critical)
    bool operator==(const SensorConfig&) const = default;
};

// The response of a sensor as its stage says it: poles, zeros and the
// factor normalising them at `frequency`, and the gain there (V per unit).
struct SensorStage {
    std::vector<std::complex<double>> zeros, poles;
    double a0 = 1, frequency = 1, gain = 0;
};
SensorStage StageOf(const SensorConfig& s);

// What a channel's metadata add to its code: its orientation and its sensor.
struct ChannelSetup {
    std::optional<double> azimuth, dip;  // degrees; absent: by the component code (Z, N, E), or none
    std::string sensor;                  // a name in StationMeta::sensors; empty: the default sensor
    bool operator==(const ChannelSetup&) const = default;
};

// The sensor of the data channel `code`: the one its [channels.CODE] names,
// or the default one; nullptr with none.
struct StationMeta;
const SensorConfig* SensorOfChannel(const StationMeta& m, const std::string& code);

// A channel's orientation by its component code, the code's last letter:
// Z up (0, -90), N north (0, 0), E east (90, 0); none for other codes.
std::optional<std::pair<double, double>> OrientationOf(const std::string& code);

// What the station's metadata say beyond the codes.
struct StationMeta {
    std::optional<double> latitude, longitude, elevation;  // degrees, degrees, metres
    std::string site;
    double input_range_volts = 5;  // the card's full scale: its codes over +-this
    int bits = 12;                 // the card's converter: 2^bits codes over the range
    int zero_code = 2048;          // the code of 0 V (offset binary); the archive keeps the codes as they are
    std::optional<SensorConfig> sensor;          // every data channel's that names none
    std::map<std::string, SensorConfig> sensors;  // by name
    std::map<std::string, ChannelSetup> channels;  // by SEED channel code
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
