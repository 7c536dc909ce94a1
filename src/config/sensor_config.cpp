#include "config/sensor_config.h"

#include <set>

#include "config/toml_read.h"

namespace zqd::config {

using Why = Status::Why;

namespace {

bool NameChars(const std::string& name) {
    if (name.empty() || name.size() > 40) return false;
    for (char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-')) return false;
    return true;
}

// An array of [real, imaginary] pairs in rad/s, none in the right half-plane
// when they are poles (a sensor that rings for ever).
Status RootsAt(const toml::table& t, const std::string& file, const char* key, bool poles,
               std::vector<std::complex<double>>& out) {
    const toml::node* n = t.get(key);
    if (!n) return Status::Ok();
    const auto bad = [&](const toml::node* at) { return Bad(file, Why::kConfigBadRoots, at).Said(key); };
    if (!n->is_array()) return bad(n);
    for (const auto& item : *n->as_array()) {
        const toml::array* pair = item.as_array();
        if (!pair || pair->size() != 2 || !(*pair)[0].is_number() || !(*pair)[1].is_number()) return bad(&item);
        const auto number = [](const toml::node& v) {
            return v.is_integer() ? static_cast<double>(v.as_integer()->get()) : v.as_floating_point()->get();
        };
        const std::complex<double> root(number((*pair)[0]), number((*pair)[1]));
        if (!std::isfinite(root.real()) || !std::isfinite(root.imag()) || (poles && root.real() >= 0)) return bad(&item);
        out.push_back(root);
    }
    return Status::Ok();
}

Status ReadSensor(const toml::table& t, const std::string& file, const std::string& name, archive::SensorConfig& s) {
    static const std::set<std::string> kKeys = {"description", "unit", "gain", "normalization_frequency", "poles", "zeros",
                                                "natural_frequency", "damping", "generator_constant"};
    const std::string table = "sensors." + name;
    for (const auto& [key, value] : t)
        if (!kKeys.count(std::string(key.str()))) return Bad(file, Why::kConfigUnknownKey, &value).And(table).Said(std::string(key.str()));
    for (Status st : {TextAt(t, file, "description", "description", s.description), TextAt(t, file, "unit", "unit", s.unit)})
        if (!st.ok()) return st;
    if (s.unit.empty() || s.unit.size() > 20)
        return Bad(file, Why::kConfigChoice, t.get("unit")).Said("unit").And("\"m/s\" | \"m/s**2\" | \"m\"");
    const bool geophone = t.contains("natural_frequency") || t.contains("damping") || t.contains("generator_constant");
    const bool by_roots = t.contains("poles") || t.contains("zeros") || t.contains("gain");
    if (geophone == by_roots || (geophone && !(t.contains("natural_frequency") && t.contains("damping") &&
                                               t.contains("generator_constant"))) ||
        (by_roots && !t.contains("gain")))
        return Bad(file, Why::kConfigSensorForm, &t).Said(name);
    if (geophone) {
        double f0 = 0, h = 0;
        for (Status st : {NumberAt(t, file, "natural_frequency", "natural_frequency", 1e-3, 1e4, f0),
                          NumberAt(t, file, "damping", "damping", 1e-3, 10, h),
                          NumberAt(t, file, "generator_constant", "generator_constant", 1e-9, 1e9, s.sensitivity)})
            if (!st.ok()) return st;
        s.natural_frequency = f0;
        s.damping = h;
        s.frequency = 5 * f0;  // where a geophone damped at 0.7 is flat to within a thousandth
    } else {
        s.frequency = 1;
        for (Status st : {NumberAt(t, file, "gain", "gain", 1e-12, 1e12, s.sensitivity),
                          RootsAt(t, file, "zeros", false, s.zeros), RootsAt(t, file, "poles", true, s.poles)})
            if (!st.ok()) return st;
    }
    if (Status st = NumberAt(t, file, "normalization_frequency", "normalization_frequency", 1e-6, 1e6, s.frequency); !st.ok())
        return st;
    if (archive::StageOf(s).a0 <= 0)  // a pole or zero at the normalisation frequency itself
        return Bad(file, Why::kConfigBadRoots, t.get("normalization_frequency") ? t.get("normalization_frequency") : &t)
            .Said("normalization_frequency");
    return Status::Ok();
}

toml::array RootsArray(const std::vector<std::complex<double>>& roots) {
    toml::array out;
    for (const auto& r : roots) out.push_back(toml::array{r.real(), r.imag()});
    return out;
}

}  // namespace

Status ReadSensors(const toml::table& root, const std::string& file, archive::StationMeta& m) {
    if (const toml::table* one = root["sensor"].as_table()) {
        archive::SensorConfig sensor;
        if (!one->contains("sensitivity")) return Bad(file, Why::kConfigSensorNeedsSensitivity, one);
        for (Status s : {NumberAt(*one, file, "sensitivity", "sensitivity", 1e-12, 1e12, sensor.sensitivity),
                         TextAt(*one, file, "unit", "unit", sensor.unit),
                         NumberAt(*one, file, "frequency", "frequency", 1e-6, 1e6, sensor.frequency),
                         TextAt(*one, file, "description", "description", sensor.description)})
            if (!s.ok()) return s;
        if (sensor.unit.empty() || sensor.unit.size() > 20)
            return Bad(file, Why::kConfigChoice, one->get("unit")).Said("unit").And("\"m/s\" | \"m/s**2\" | \"m\"");
        m.sensor = sensor;
    }
    const toml::table* all = root["sensors"].as_table();
    if (!all) return Status::Ok();
    for (const auto& [key, node] : *all) {
        const std::string name(key.str());
        if (!NameChars(name)) return Bad(file, Why::kConfigBadName, &node).Said(name);
        const toml::table* t = node.as_table();
        if (!t) return Bad(file, Why::kConfigNotTable, &node).Said("sensors." + name);
        archive::SensorConfig s;
        if (Status st = ReadSensor(*t, file, name, s); !st.ok()) return st;
        m.sensors[name] = std::move(s);
    }
    return Status::Ok();
}

Status ReadChannelSetups(const toml::table& root, const std::string& file, const std::map<int, std::string>& channels,
                         archive::StationMeta& m) {
    const toml::table* map = root["channels"].as_table();
    if (!map) return Status::Ok();
    for (const auto& [key, node] : *map) {
        const toml::table* t = node.as_table();
        if (!t) continue;  // an offset's code, read with the channels
        const std::string code(key.str());
        bool known = false;
        for (const auto& [offset, c] : channels) known = known || c == code;
        if (!known) return Bad(file, Why::kConfigNoSuchChannel, &node).Said(code);
        for (const auto& [sub, value] : *t) {
            const std::string k(sub.str());
            if (k != "azimuth" && k != "dip" && k != "sensor")
                return Bad(file, Why::kConfigUnknownKey, &value).And("channels." + code).Said(k);
        }
        archive::ChannelSetup setup;
        double azimuth = 0, dip = 0;
        for (Status s : {NumberAt(*t, file, "azimuth", "azimuth", 0, 360, azimuth), NumberAt(*t, file, "dip", "dip", -90, 90, dip),
                         TextAt(*t, file, "sensor", "sensor", setup.sensor)})
            if (!s.ok()) return s;
        if (t->contains("azimuth")) setup.azimuth = azimuth;
        if (t->contains("dip")) setup.dip = dip;
        if (!setup.sensor.empty() && !m.sensors.count(setup.sensor))
            return Bad(file, Why::kConfigNoSuchSensor, t->get("sensor")).Said(setup.sensor);
        m.channels[code] = std::move(setup);
    }
    return Status::Ok();
}

void WriteSensors(const archive::StationMeta& m, toml::table& root, toml::table& channels) {
    if (const auto& s = m.sensor)
        root.insert("sensor", toml::table{{"sensitivity", s->sensitivity},
                                          {"unit", s->unit},
                                          {"frequency", s->frequency},
                                          {"description", s->description}});
    toml::table sensors;
    for (const auto& [name, s] : m.sensors) {
        toml::table t{{"unit", s.unit}, {"description", s.description}, {"normalization_frequency", s.frequency}};
        if (s.natural_frequency && s.damping) {
            t.insert("natural_frequency", *s.natural_frequency);
            t.insert("damping", *s.damping);
            t.insert("generator_constant", s.sensitivity);
        } else {
            t.insert("gain", s.sensitivity);
            t.insert("zeros", RootsArray(s.zeros));
            t.insert("poles", RootsArray(s.poles));
        }
        sensors.insert(name, std::move(t));
    }
    if (!sensors.empty()) root.insert("sensors", std::move(sensors));
    for (const auto& [code, setup] : m.channels) {
        toml::table t;
        if (setup.azimuth) t.insert("azimuth", *setup.azimuth);
        if (setup.dip) t.insert("dip", *setup.dip);
        if (!setup.sensor.empty()) t.insert("sensor", setup.sensor);
        channels.insert(code, std::move(t));
    }
}

}  // namespace zqd::config
