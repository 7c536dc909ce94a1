// The settings the station's metadata and state-of-health channels need.
#include <algorithm>
#include <set>

#include "archive/archive_config.h"
#include "archive/config_support.h"

namespace zqd::archive {

using Why = Status::Why;

const std::vector<std::string>& GpsChannelCodes() {
    static const std::vector<std::string> codes = {"GNS", "GST", "GLA", "GLO", "GEL", "GDP", "GTP"};
    return codes;
}

Status ReadStationMeta(const toml::table& root, const std::string& file, ArchiveConfig& c) {
    StationMeta& m = c.meta;
    auto coordinate = [&](const char* path, const char* said, double lo, double hi, std::optional<double>& out) {
        double v = 0;
        if (!root.at_path(path).node()) return Status::Ok();
        Status s = NumberAt(root, file, path, said, lo, hi, v);
        if (s.ok()) out = v;
        return s;
    };
    for (Status s : {coordinate("station.latitude", "latitude", -90, 90, m.latitude),
                     coordinate("station.longitude", "longitude", -180, 180, m.longitude),
                     coordinate("station.elevation", "elevation", -12000, 9000, m.elevation),
                     TextAt(root, file, "station.site", "site", m.site),
                     NumberAt(root, file, "acquisition.input_range", "input_range", 0.001, 1000, m.input_range_volts)})
        if (!s.ok()) return s;
    if (root["sensor"].as_table()) {
        SensorConfig sensor;
        const toml::node* given = root.at_path("sensor.sensitivity").node();
        if (!given) return Bad(file, Why::kConfigSensorNeedsSensitivity, root["sensor"].node());
        for (Status s : {NumberAt(root, file, "sensor.sensitivity", "sensitivity", 1e-12, 1e12, sensor.sensitivity),
                         TextAt(root, file, "sensor.unit", "unit", sensor.unit),
                         NumberAt(root, file, "sensor.frequency", "frequency", 1e-6, 1e6, sensor.frequency),
                         TextAt(root, file, "sensor.description", "description", sensor.description)})
            if (!s.ok()) return s;
        if (sensor.unit.empty() || sensor.unit.size() > 20)
            return Bad(file, Why::kConfigChoice, root.at_path("sensor.unit").node()).Said("unit").And("\"m/s\"、\"m/s**2\"、\"m\" 等单位");
        m.sensor = sensor;
    }
    if (const toml::node* n = root.at_path("timing.gps_channels").node()) {
        const std::string allowed = "[\"GNS\", \"GST\", \"GLA\", \"GLO\", \"GEL\", \"GDP\", \"GTP\"] 中的代码";
        if (!n->is_array()) return Bad(file, Why::kConfigChoice, n).Said("gps_channels").And(allowed);
        std::vector<std::string> codes;
        std::set<std::string> seen;
        for (const auto& item : *n->as_array()) {
            const auto& all = GpsChannelCodes();
            const std::string code = item.is_string() ? item.as_string()->get() : std::string();
            if (std::find(all.begin(), all.end(), code) == all.end() || !seen.insert(code).second)
                return Bad(file, Why::kConfigChoice, &item).Said("gps_channels").And(allowed);
            codes.push_back(code);
        }
        c.gps_channels = std::move(codes);
    }
    return Status::Ok();
}

StationMetaText WriteStationMeta(const ArchiveConfig& c) {
    const StationMeta& m = c.meta;
    StationMetaText t;
    if (m.latitude) t.station += "latitude = " + NumberText(*m.latitude) + "\n";
    if (m.longitude) t.station += "longitude = " + NumberText(*m.longitude) + "\n";
    if (m.elevation) t.station += "elevation = " + NumberText(*m.elevation) + "\n";
    if (!m.site.empty()) t.station += "site = " + Quoted(m.site) + "\n";
    t.acquisition = "input_range = " + NumberText(m.input_range_volts) + "\n";
    t.timing = "gps_channels = [";
    for (std::size_t i = 0; i < c.gps_channels.size(); ++i) t.timing += (i ? ", " : "") + Quoted(c.gps_channels[i]);
    t.timing += "]\n";
    if (m.sensor)
        t.sensor = "\n[sensor]\nsensitivity = " + NumberText(m.sensor->sensitivity) + "\nunit = " + Quoted(m.sensor->unit) +
                   "\nfrequency = " + NumberText(m.sensor->frequency) + "\ndescription = " + Quoted(m.sensor->description) +
                   "\n";
    return t;
}

}  // namespace zqd::archive
