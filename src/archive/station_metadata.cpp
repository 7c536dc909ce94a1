#include "archive/station_metadata.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <vector>

#include "common/numtext.h"
#include "common/utc.h"
#include "formats/mseed/mseed_scan.h"
#include "formats/sds/sds_layout.h"
#include "platform/safe_file.h"
#include "platform/text.h"
#include "signal/response.h"

namespace zqd::archive {

namespace {

using stationxml::Units;

constexpr std::size_t kPositionDays = 31;  // the receiver's positions are read from the latest month

double Median(std::vector<std::int32_t>& v) {
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    if (v.size() % 2 == 1) return *mid;
    const auto below = *std::max_element(v.begin(), mid);
    return (static_cast<double>(below) + *mid) / 2;
}

std::string Degrees(double v) { return FixedText(v, 6); }

// The shortest text that reads back as `v`, whatever the locale.
std::string Short(double v) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

// What a state-of-health channel carries: its comment, and the unit one
// count stands for (as a sensitivity: counts per unit).
struct Health {
    const char* code;
    const char* comment;
    Units input;
    double counts_per_unit;
};

const std::vector<Health>& HealthChannels() {
    static const std::vector<Health> all = {
        {"LCE", "Clock phase error: the data's time of each GPS 1PPS edge minus its true second, in microseconds",
         {"s", "seconds"}, 1e6},
        {"LCQ", "Clock quality in percent: 100 locked to the 1PPS within 5 us, 90 within 100 us, 70 within 200 us, "
                "40 beyond that or from the GPS message alone, falling hourly while free-running",
         {"percent", "clock quality"}, 1},
        {"LCR", "Measured sample-rate offset of the card's crystal from nominal, in parts per billion (ppm x 1000)",
         {"unitless", "rate offset"}, 1e9},
        {"GNS", "GPS satellites tracked", {"count", "satellites"}, 1},
        {"GST", "GPS receiver fix state: 0 none, 1 2D fix or unlocked, 2 3D fix or position hold (locked)",
         {"unitless", "fix state"}, 1},
        {"GLA", "GPS latitude in micro-degrees (WGS-84), while the receiver has a fix", {"deg", "degrees north"}, 1e6},
        {"GLO", "GPS longitude in micro-degrees (WGS-84), while the receiver has a fix", {"deg", "degrees east"}, 1e6},
        {"GEL", "GPS height above mean sea level in centimetres, while the receiver has a fix", {"m", "metres"}, 100},
        {"GDP", "GPS dilution of precision x 10 (PDOP with a 3D fix, HDOP with a 2D fix)", {"unitless", "DOP"}, 10},
        {"GTP", "GPS receiver temperature in tenths of a degree Celsius", {"degC", "degrees Celsius"}, 10},
    };
    return all;
}

}  // namespace

double CardCountsPerVolt(const StationMeta& m) { return std::ldexp(1.0, m.bits) / (2 * m.input_range_volts); }

SensorStage StageOf(const SensorConfig& s) {
    SensorStage st;
    st.frequency = s.frequency;
    if (s.natural_frequency && s.damping) {
        const signal::PolesZeros pz = signal::Geophone(*s.natural_frequency, *s.damping, s.frequency);
        st.zeros = pz.zeros;
        st.poles = pz.poles;
        st.a0 = pz.a0;
        // The generator constant holds far above the natural frequency; the
        // gain is the response's at the normalisation frequency.
        st.gain = s.sensitivity / pz.a0;
        return st;
    }
    st.zeros = s.zeros;
    st.poles = s.poles;
    st.a0 = s.zeros.empty() && s.poles.empty() ? 1 : signal::NormalisationAt(s.zeros, s.poles, s.frequency);
    st.gain = s.sensitivity;
    return st;
}

const SensorConfig* SensorOfChannel(const StationMeta& m, const std::string& code) {
    if (const auto it = m.channels.find(code); it != m.channels.end() && !it->second.sensor.empty()) {
        const auto s = m.sensors.find(it->second.sensor);
        return s == m.sensors.end() ? nullptr : &s->second;
    }
    return m.sensor ? &*m.sensor : nullptr;
}

std::optional<std::pair<double, double>> OrientationOf(const std::string& code) {
    if (code.empty()) return std::nullopt;
    switch (code.back()) {
    case 'Z': return std::pair{0.0, -90.0};
    case 'N': return std::pair{0.0, 0.0};
    case 'E': return std::pair{90.0, 0.0};
    default: return std::nullopt;
    }
}

ArchiveFacts ReadArchiveFacts(const StationDescription& d, const std::filesystem::path& root) {
    ArchiveFacts f;
    const records::RecordsConfig& c = d.records;
    const std::string location = c.clock_location.value_or(c.station.location);
    std::map<std::string, std::vector<std::filesystem::path>> positions;  // channel -> its day files, oldest first
    std::optional<std::int64_t> first_day;
    for (const auto& path : sds::DayFiles(root)) {
        const auto name = sds::ParseDayFileName(platform::PathText(path.filename()));
        if (!name || name->codes.network != c.station.network || name->codes.station != c.station.station) continue;
        // The earliest day's files, each by its first record only.
        if (!first_day || name->day_ns == *first_day) {
            first_day = name->day_ns;
            if (const auto start = mseed::FirstRecordStart(path); start && (!f.first_data_ns || *start < *f.first_data_ns))
                f.first_data_ns = start;
        }
        const auto& ch = name->codes.channel;
        if (name->codes.location == location && (ch == "GLA" || ch == "GLO" || ch == "GEL")) positions[ch].push_back(path);
    }
    std::map<std::string, std::vector<std::int32_t>> values;
    for (auto& [ch, files] : positions) {
        const std::size_t from = files.size() > kPositionDays ? files.size() - kPositionDays : 0;
        for (std::size_t i = from; i < files.size(); ++i) {
            mseed::ScanCounts counts;
            (void)mseed::ScanFile(files[i], [&](const mseed::RecordInfo& r) {
                values[ch].insert(values[ch].end(), r.values, r.values + r.samples);
                if (ch == "GLA") {
                    if (f.positions_from_ns == 0 || r.start_ns < f.positions_from_ns) f.positions_from_ns = r.start_ns;
                    f.positions_to_ns = std::max(f.positions_to_ns, r.start_ns + (r.samples - 1) * utc::kNsPerSecond);
                }
            }, counts);
        }
    }
    if (!values["GLA"].empty() && !values["GLO"].empty()) {
        f.positions = values["GLA"].size();
        f.latitude = Median(values["GLA"]) / 1e6;
        f.longitude = Median(values["GLO"]) / 1e6;
        if (!values["GEL"].empty()) f.elevation = Median(values["GEL"]) / 100;
    }
    return f;
}

namespace {

// Where the station is: configured, or the median of the receiver's positions.
Status Locate(const StationMeta& m, const ArchiveFacts& facts, stationxml::Station& st) {
    if (m.latitude && m.longitude) {
        st.latitude = *m.latitude;
        st.longitude = *m.longitude;
        st.elevation = m.elevation.value_or(facts.elevation.value_or(0));
        st.comments.push_back(std::string("Coordinates from the station's configuration") +
                              (m.elevation ? "" : facts.elevation ? "; elevation: median of the GPS heights in the archive"
                                                                   : "; elevation not configured, given as 0"));
        return Status::Ok();
    }
    if (!facts.latitude || !facts.longitude) return Status::Fail(Status::Code::kFileRefused, Status::Why::kNoCoordinates);
    st.latitude = *facts.latitude;
    st.longitude = *facts.longitude;
    st.elevation = m.elevation.value_or(facts.elevation.value_or(0));
    st.comments.push_back("Coordinates: median of " + std::to_string(facts.positions) +
                          " GPS positions recorded in the archive (GLA, GLO, GEL) from " + utc::Iso(facts.positions_from_ns) +
                          " to " + utc::Iso(facts.positions_to_ns) + ": " + Degrees(st.latitude) + ", " +
                          Degrees(st.longitude));
    return Status::Ok();
}

stationxml::Channel Placed(const stationxml::Station& st, const std::string& code, const std::string& location, double rate) {
    stationxml::Channel ch;
    ch.code = code;
    ch.location = location;
    ch.start_ns = st.start_ns;
    ch.latitude = st.latitude;
    ch.longitude = st.longitude;
    ch.elevation = st.elevation;
    ch.sample_rate = rate;
    return ch;
}

// The response of a card channel: the card's stage, after the sensor's if
// the channel has one and carries ground motion.
stationxml::Response CardResponse(const StationMeta& m, const SensorConfig* sensor, double rate, const std::string& range) {
    const double counts = CardCountsPerVolt(m);
    stationxml::Response r;
    stationxml::Stage adc;
    adc.description = "A/D conversion: " + std::to_string(1LL << m.bits) + " codes over " + range;
    adc.input = {"V", "volts"};
    adc.output = {"count", "digital counts"};
    adc.gain = counts;
    adc.input_sample_rate = rate;
    r.output = {"count", "digital counts"};
    if (sensor) {
        const SensorStage s = StageOf(*sensor);
        stationxml::Stage st;
        st.kind = stationxml::Stage::Kind::kPolesZeros;
        st.description = sensor->natural_frequency
                             ? "Moving-coil geophone: natural frequency " + Short(*sensor->natural_frequency) + " Hz, damping " +
                                   Short(*sensor->damping) + ", generator constant " + Short(sensor->sensitivity) + " V per " +
                                   sensor->unit
                             : s.poles.empty() && s.zeros.empty() ? "Sensor, flat response at its sensitivity"
                                                                  : "Sensor, by its poles and zeros";
        st.input = {sensor->unit, ""};
        st.output = {"V", "volts"};
        st.gain = s.gain;
        st.frequency = s.frequency;
        st.normalization_factor = s.a0;
        st.zeros = s.zeros;
        st.poles = s.poles;
        adc.frequency = s.frequency;
        r.stages = {st, adc};
        // The product of the stages' gains at the normalisation frequency.
        r.sensitivity = s.gain * counts;
        r.frequency = s.frequency;
        r.input = {sensor->unit, ""};
        return r;
    }
    adc.frequency = 1;
    r.stages = {adc};
    r.sensitivity = counts;
    r.frequency = 1;
    r.input = {"V", "volts"};
    return r;
}

void AddCardChannels(const StationDescription& c, stationxml::Station& st) {
    const StationMeta& m = c.meta;
    const double rate = c.card.SampleFrq;
    const std::string range = "+-" + Short(m.input_range_volts) + " V";
    for (const auto& [offset, code] : c.records.channels) {
        stationxml::Channel ch = Placed(st, code, c.records.station.location, rate);
        ch.types = {"CONTINUOUS", "GEOPHYSICAL"};
        ch.datalogger = "ZQD4830 GPS-timed A/D card, " + std::to_string(m.bits) + " bits over " + range;
        const bool pps = c.timing.PulseWired() && offset == c.timing.pps_channel;
        ch.comments.push_back("Card channel " + std::to_string(offset) +
                              (pps ? ": the GPS receiver's 1PPS pulse, which times the data (not a ground motion)" : ""));
        ch.comments.push_back("The samples are the card's codes, offset binary: code " + std::to_string(m.zero_code) +
                              " is 0 V (subtract it before applying the response)");
        const auto found = m.channels.find(code);
        const ChannelSetup* setup = found == m.channels.end() ? nullptr : &found->second;
        const SensorConfig* sensor = pps ? nullptr : SensorOfChannel(m, code);
        if (!pps) {
            const auto by_code = OrientationOf(code);
            ch.azimuth = setup && setup->azimuth ? setup->azimuth : by_code ? std::optional(by_code->first) : std::nullopt;
            ch.dip = setup && setup->dip ? setup->dip : by_code ? std::optional(by_code->second) : std::nullopt;
        }
        ch.response = CardResponse(m, sensor, rate, range);
        if (sensor)
            ch.sensor = sensor->description.empty() ? "Sensor, " + Short(sensor->sensitivity) + " V per " + sensor->unit
                                                    : sensor->description;
        st.channels.push_back(std::move(ch));
    }
}

void AddHealthChannels(const records::RecordsConfig& c, stationxml::Station& st) {
    const std::string location = c.clock_location.value_or(c.station.location);
    for (const Health& h : HealthChannels()) {
        const std::string code = h.code;
        const bool clock = code[0] == 'L';
        const bool wanted = clock ? c.clock_channels
                                  : std::find(c.gps_channels.begin(), c.gps_channels.end(), code) != c.gps_channels.end();
        if (!wanted) continue;
        stationxml::Channel ch = Placed(st, code, location, 1);
        ch.types = {"CONTINUOUS", "HEALTH"};
        ch.comments.push_back(h.comment);
        stationxml::Response r;
        r.sensitivity = h.counts_per_unit;
        r.frequency = 0;
        r.input = h.input;
        r.output = {"count", "digital counts"};
        ch.response = r;
        st.channels.push_back(std::move(ch));
    }
}

}  // namespace

Status DescribeStation(const StationDescription& c, const ArchiveFacts& facts, std::int64_t now_ns,
                       const std::string& module, stationxml::Document& doc) {
    stationxml::Station st;
    st.code = c.records.station.station;
    st.site = c.meta.site;
    st.start_ns = facts.first_data_ns.value_or(now_ns);
    if (Status s = Locate(c.meta, facts, st); !s.ok()) return s;
    st.comments.push_back(facts.first_data_ns ? "Start date: the archive's first record"
                                              : "Start date: when this document was written (no data in the archive)");
    AddCardChannels(c, st);
    AddHealthChannels(c.records, st);
    stationxml::Network net;
    net.code = c.records.station.network;
    net.start_ns = st.start_ns;
    net.stations.push_back(std::move(st));
    doc = {};
    doc.source = "ZQD4830_GPS";
    doc.module = module;
    doc.created_ns = now_ns;
    doc.networks.push_back(std::move(net));
    return Status::Ok();
}

Status WriteStationXml(const StationDescription& c, const std::optional<std::filesystem::path>& archive,
                       const std::filesystem::path& out, const std::string& module, std::int64_t now_ns) {
    const ArchiveFacts facts = archive ? ReadArchiveFacts(c, *archive) : ArchiveFacts{};
    stationxml::Document doc;
    if (Status s = DescribeStation(c, facts, now_ns, module, doc); !s.ok()) return s;
    return WriteWhole(out, stationxml::ToXml(doc));
}

}  // namespace zqd::archive
