// FDSN StationXML 1.2: what a station says of itself (where it is, its
// channels, their sample rates and responses), as a document of plain values
// and the XML text for it. Units as the FDSN recommends them ("count", "V",
// "m/s").
#pragma once

#include <complex>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zqd::stationxml {

struct Units {
    std::string name;
    std::string description;  // may be empty
};

// One stage of a channel's response: an analog stage given by poles and
// zeros (none: flat), or a digital one by coefficients (none: an A/D
// converter), with a decimation block when it makes samples.
struct Stage {
    enum class Kind { kPolesZeros, kCoefficients };
    Kind kind = Kind::kCoefficients;
    std::string description;
    Units input, output;
    double gain = 1;
    double frequency = 0;                       // where the gain holds, Hz
    // Poles and zeros (rad/s) and the factor that normalises them at `frequency`.
    double normalization_factor = 1;
    std::vector<std::complex<double>> zeros, poles;
    std::optional<double> input_sample_rate;    // a decimation block (factor 1) at this rate
};

struct Response {
    double sensitivity = 1;  // overall, output per input unit
    double frequency = 0;
    Units input, output;
    std::vector<Stage> stages;  // in signal order, numbered from 1
};

struct Channel {
    std::string code, location;
    std::int64_t start_ns = 0;
    double latitude = 0, longitude = 0, elevation = 0, depth = 0;
    std::optional<double> azimuth, dip;  // degrees: clockwise from north; down from the horizontal
    double sample_rate = 0;
    std::vector<std::string> types;  // "CONTINUOUS", "GEOPHYSICAL", "HEALTH"
    std::vector<std::string> comments;
    std::string sensor, datalogger;  // equipment descriptions; empty: none
    std::optional<Response> response;
};

struct Station {
    std::string code;
    std::int64_t start_ns = 0;
    double latitude = 0, longitude = 0, elevation = 0;
    std::string site;
    std::vector<std::string> comments;
    std::vector<Channel> channels;
};

struct Network {
    std::string code, description;
    std::int64_t start_ns = 0;
    std::vector<Station> stations;
};

struct Document {
    std::string source, module, module_uri;
    std::int64_t created_ns = 0;
    std::vector<Network> networks;
};

// The document as FDSN StationXML 1.2 text, UTF-8.
std::string ToXml(const Document& doc);

// Text as XML character data or an attribute's value: & < > " escaped, and
// characters XML 1.0 does not allow (controls, malformed UTF-8) left out.
// The SeedLink INFO documents use it too.
std::string Escape(const std::string& text);

}  // namespace zqd::stationxml
