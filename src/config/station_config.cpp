#include "config/station_config.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <map>
#include <set>
#include <sstream>

#include "config/sensor_config.h"
#include "config/toml_read.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_file.h"
#include "platform/text.h"

namespace zqd::config {

using Why = Status::Why;

acq::TimingConfig RecordingTiming() {
    acq::TimingConfig t;
    t.first_time_wait_s = 10;
    return t;
}

std::filesystem::path DefaultConfigFile() { return platform::UserConfigDir() / "archive.toml"; }

StationConfig DefaultConfig() {
    StationConfig c;
    c.records.channels = records::DefaultChannels(c.card.ChnNum, c.card.SampleFrq);
    return c;
}

namespace {

Status ValidateCodes(const StreamCodes& s, const std::string& where) {
    if (s.network.empty() || s.network.size() > 2 || !CodeChars(s.network))
        return Bad(where, Why::kBadNetwork).Said(s.network);
    if (s.station.empty() || s.station.size() > 5 || !CodeChars(s.station))
        return Bad(where, Why::kBadStation).Said(s.station);
    if ((s.location.size() != 0 && s.location.size() != 2) || !CodeChars(s.location))
        return Bad(where, Why::kBadLocation).Said(s.location);
    return Status::Ok();
}

Status ValidateChannels(const StationConfig& c, const std::string& where) {
    const records::RecordsConfig& r = c.records;
    if (r.channels.empty()) return Bad(where, Why::kNoChannels);
    std::set<std::string> seen;
    for (const auto& [offset, code] : r.channels) {
        if (offset < 0 || offset >= c.card.ChnNum) return Bad(where, Why::kOffsetBeyondCard).Values(offset, c.card.ChnNum);
        if (code.size() != 3 || !CodeChars(code)) return Bad(where, Why::kBadChannelCode).Said(code);
        if (!seen.insert(code).second) return Bad(where, Why::kChannelCodeTwice).Said(code);
        const bool clock = r.clock_channels && (code == "LCE" || code == "LCQ" || code == "LCR");
        if (clock || std::find(r.gps_channels.begin(), r.gps_channels.end(), code) != r.gps_channels.end())
            return Bad(where, Why::kCodeIsHealthChannel).Said(code);
    }
    return Status::Ok();
}

}  // namespace

Status Validate(const StationConfig& c, const std::string& where) {
    if (Status s = ValidateCodes(c.records.station, where); !s.ok()) return s;
    const auto& a = c.card;
    if (a.ChnNum < 1 || a.ChnNum > 64) return Bad(where, Why::kBadChnNum).Value(a.ChnNum);
    if (a.ChnPoints < 1 || a.SampleFrq < 1 || a.BufNum < 1) return Bad(where, Why::kBadCardSettings);
    if (c.records.pack.record_length != 512 && c.records.pack.record_length != 4096)
        return Bad(where, Why::kBadRecordLength).Value(c.records.pack.record_length);
    if (c.records.flush_seconds < 1 || c.records.flush_seconds > 3600) return Bad(where, Why::kBadFlush);
#ifndef ZQD_HAVE_RESAMPLE
    if (c.timing.resample) return Bad(where, Why::kNoResampling);
#endif
    return ValidateChannels(c, where);
}

namespace {

// Only the tables and keys the configuration has, each a table.
Status CheckKeys(const toml::table& root, const std::string& file) {
    static const std::map<std::string, std::set<std::string>> kKeys = {
        {"station", {"network", "station", "location", "latitude", "longitude", "elevation", "site"}},
        {"acquisition", {"channels", "points_per_channel", "scan_rate", "buffers", "input_range", "bits", "zero_code"}},
        {"archive", {"folder", "record_length", "encoding", "flush_interval", "memory_limit_mb"}},
        {"retention", {"keep_days", "min_free_mb"}},
        {"timing", {"pps_channel", "date_from", "polarity", "threshold", "message_refers_to", "max_message_delay_ms",
                    "pulse_width_ms", "first_time_wait_s", "time_tolerance", "resample", "rate_alarm_ppm",
                    "quality_fall_per_hour", "clock_channels", "location", "gps_channels"}},
        {"sensor", {"sensitivity", "unit", "frequency", "description"}},
        {"seedlink", {"listen", "ring_mb", "clients", "per_address", "handshake_seconds", "idle_seconds",
                      "write_timeout_s", "allow", "deny", "description"}},
        {"datalink", {"server"}},
        {"channels", {}},
        {"sensors", {}},
    };
    for (const auto& [key, node] : root) {
        const std::string k(key.str());
        const auto known = kKeys.find(k);
        if (known == kKeys.end()) return Bad(file, Why::kConfigUnknownTable, &node).Said(k);
        if (!node.is_table()) return Bad(file, Why::kConfigNotTable, &node).Said(k);
        if (k == "channels" || k == "sensors") continue;  // checked as they are read
        for (const auto& [sub, value] : *node.as_table())
            if (!known->second.count(std::string(sub.str())))
                return Bad(file, Why::kConfigUnknownKey, &value).And(k).Said(std::string(sub.str()));
    }
    return Status::Ok();
}

// [station]'s codes, [acquisition] and [archive], each checked where it stands.
Status ReadSettings(const toml::table& root, const std::string& file, StationConfig& c) {
    auto int_of = [&](const char* table, const char* key, long long lo, long long hi, auto& out) -> Status {
        return IntegerAt(root, file, std::string(table) + "." + key, key, lo, hi, out);
    };
    if (const toml::node* n = root.at_path("archive.record_length").node(); n && n->is_integer()) {
        const long long v = n->as_integer()->get();
        if (v != 512 && v != 4096)
            return Bad(file, Why::kBadRecordLength, n).Value(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
    }
    StreamCodes& codes = c.records.station;
    std::string folder;
    long long memory_mb = static_cast<long long>(c.archive.memory_limit_bytes >> 20);
    long long free_mb = static_cast<long long>(c.archive.retention.min_free_bytes >> 20);
    for (Status s : {TextAt(root, file, "station.network", "network", codes.network),
                     TextAt(root, file, "station.station", "station", codes.station),
                     TextAt(root, file, "station.location", "location", codes.location),
                     int_of("acquisition", "channels", 1, 64, c.card.ChnNum),
                     int_of("acquisition", "points_per_channel", 1, 1000000, c.card.ChnPoints),
                     int_of("acquisition", "scan_rate", 1, 1000000, c.card.SampleFrq),
                     int_of("acquisition", "buffers", 1, 1000, c.card.BufNum),
                     int_of("archive", "record_length", 512, 4096, c.records.pack.record_length),
                     int_of("archive", "flush_interval", 1, 3600, c.records.flush_seconds),
                     TextAt(root, file, "archive.folder", "folder", folder),
                     int_of("archive", "memory_limit_mb", 1, 4096, memory_mb),
                     int_of("retention", "keep_days", 0, 36500, c.archive.retention.keep_days),
                     int_of("retention", "min_free_mb", 0, 1LL << 30, free_mb)})
        if (!s.ok()) return s;
    if (!folder.empty()) c.folder = platform::PathFromUtf8(folder);
    c.archive.memory_limit_bytes = static_cast<std::size_t>(memory_mb) << 20;
    c.archive.retention.min_free_bytes = static_cast<std::uint64_t>(free_mb) << 20;
    int encoding = -1;
    if (Status s = ChoiceAt(root, file, "archive.encoding", "encoding", {"steim2", "steim1", "int32"}, encoding); !s.ok())
        return s;
    if (encoding >= 0) c.records.pack.encoding = encoding == 0 ? 11 : encoding == 1 ? 10 : 3;
    // The station codes, each at its own line.
    for (const char* key : {"network", "station", "location"}) {
        const toml::node* n = root.at_path(std::string("station.") + key).node();
        if (!n) continue;
        if (Status s = ValidateCodes(codes, file); !s.ok()) {
            s.line = static_cast<std::int64_t>(n->source().begin.line);
            return s;
        }
    }
    return Status::Ok();
}

// [timing] pps_channel and threshold: a number, or a word.
Status ReadPulse(const toml::table& t, const std::string& file, StationConfig& c) {
    acq::TimingConfig& m = c.timing;
    if (const toml::node* n = t.get("pps_channel")) {
        if (n->is_string() && n->as_string()->get() == "none") {
            m.pps_channel = acq::TimingConfig::kNoPulse;
        } else if (n->is_integer() && n->as_integer()->get() >= 0 && n->as_integer()->get() < c.card.ChnNum) {
            m.pps_channel = static_cast<int>(n->as_integer()->get());
        } else {
            return Bad(file, Why::kConfigChoice, n).Said("pps_channel").And("0.." + std::to_string(c.card.ChnNum - 1) + " | \"none\"");
        }
    }
    if (const toml::node* n = t.get("threshold")) {
        if (n->is_number()) {
            m.threshold = n->is_integer() ? static_cast<double>(n->as_integer()->get()) : n->as_floating_point()->get();
        } else if (!(n->is_string() && n->as_string()->get() == "auto")) {
            return Bad(file, Why::kConfigChoice, n).Said("threshold").And("codes | \"auto\"");
        }
    }
    return Status::Ok();
}

// [timing]: the pulse, what dates the data, and the clock's channels.
Status ReadTiming(const toml::table& root, const std::string& file, StationConfig& c) {
    const toml::table* table = root["timing"].as_table();
    if (!table) return Status::Ok();
    if (Status s = ReadPulse(*table, file, c); !s.ok()) return s;
    acq::TimingConfig& m = c.timing;
    auto number = [&](const char* key, double lo, double hi, double& out) {
        return NumberAt(root, file, std::string("timing.") + key, key, lo, hi, out);
    };
    int date_from = -1, polarity = -1, refers = -1;
    double delay = m.max_message_delay_ms;
    for (Status s : {ChoiceAt(root, file, "timing.date_from", "date_from", {"pulse", "message"}, date_from),
                     ChoiceAt(root, file, "timing.polarity", "polarity", {"positive", "negative"}, polarity),
                     ChoiceAt(root, file, "timing.message_refers_to", "message_refers_to", {"previous", "next"}, refers),
                     number("max_message_delay_ms", 0, 999, delay), number("pulse_width_ms", 0.001, 900, m.pulse_width_ms),
                     number("first_time_wait_s", 0, 600, m.first_time_wait_s),
                     number("time_tolerance", 0.01, 1000, m.time_tolerance), number("rate_alarm_ppm", 0, 1e6, m.rate_alarm_ppm),
                     number("quality_fall_per_hour", 0, 100, m.quality_fall_per_hour),
                     FlagAt(root, file, "timing.resample", "resample", m.resample),
                     FlagAt(root, file, "timing.clock_channels", "clock_channels", c.records.clock_channels)})
        if (!s.ok()) return s;
    if (date_from >= 0) m.date_from = date_from == 0 ? acq::TimingConfig::DateFrom::kPulse : acq::TimingConfig::DateFrom::kMessage;
    if (polarity >= 0) m.pulse_negative = polarity == 1;
    if (refers >= 0) m.message_refers_to_next = refers == 1;
    m.max_message_delay_ms = static_cast<int>(delay);
    if (const toml::node* n = table->get("location")) {
        if (!n->is_string()) return Bad(file, Why::kConfigNotText, n).Said("location");
        const std::string loc = n->as_string()->get();
        if ((!loc.empty() && loc.size() != 2) || !CodeChars(loc)) return Bad(file, Why::kBadLocation, n).Said(loc);
        c.records.clock_location = loc;
    }
    return Status::Ok();
}

// A list of texts at `path` into `out`.
Status ListAt(const toml::table& root, const std::string& file, const char* path, std::vector<std::string>& out) {
    const toml::node* n = root.at_path(path).node();
    if (!n) return Status::Ok();
    if (!n->is_array()) return Bad(file, Why::kConfigNotText, n).Said(path);
    out.clear();
    for (const auto& item : *n->as_array()) {
        if (!item.is_string()) return Bad(file, Why::kConfigNotText, &item).Said(path);
        out.push_back(item.as_string()->get());
    }
    return Status::Ok();
}

// [seedlink] and [datalink]: where live data go. The addresses are checked
// when the server starts.
Status ReadLive(const toml::table& root, const std::string& file, stream::LiveConfig& live) {
    if (const toml::node* n = root.at_path("seedlink.listen").node(); n && n->is_integer())
        live.listen = std::to_string(n->as_integer()->get());
    else if (Status s = TextAt(root, file, "seedlink.listen", "seedlink.listen", live.listen); !s.ok())
        return s;
    auto integer = [&](const char* path, long long lo, long long hi, auto& out) -> Status {
        return IntegerAt(root, file, path, path, lo, hi, out);
    };
    for (Status s : {integer("seedlink.ring_mb", 1, 65536, live.ring_mb), integer("seedlink.clients", 1, 10000, live.clients),
                     integer("seedlink.per_address", 1, 10000, live.per_address),
                     integer("seedlink.handshake_seconds", 1, 86400, live.handshake_seconds),
                     integer("seedlink.idle_seconds", 1, 86400, live.idle_seconds),
                     integer("seedlink.write_timeout_s", 1, 86400, live.write_timeout_s),
                     ListAt(root, file, "seedlink.allow", live.allow), ListAt(root, file, "seedlink.deny", live.deny),
                     TextAt(root, file, "seedlink.description", "seedlink.description", live.description),
                     TextAt(root, file, "datalink.server", "datalink.server", live.datalink)})
        if (!s.ok()) return s;
    return Status::Ok();
}

// [station]'s coordinates and site, [acquisition] input_range, bits and zero_code, the sensors.
Status ReadStationMeta(const toml::table& root, const std::string& file, archive::StationMeta& m) {
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
    for (Status s : {IntegerAt(root, file, "acquisition.bits", "bits", 8, 24, m.bits),
                     IntegerAt(root, file, "acquisition.zero_code", "zero_code", 0, (1LL << 24) - 1, m.zero_code)})
        if (!s.ok()) return s;
    if (m.zero_code >= (1 << m.bits))
        return Bad(file, Why::kConfigZeroCode, root.at_path("acquisition.zero_code").node())
            .Values(m.zero_code, (1LL << m.bits) - 1);
    return ReadSensors(root, file, m);
}

// [timing] gps_channels: some of GpsChannelCodes, each once.
Status ReadGpsChannels(const toml::table& root, const std::string& file, records::RecordsConfig& r) {
    const toml::node* n = root.at_path("timing.gps_channels").node();
    if (!n) return Status::Ok();
    const std::string allowed = "\"GNS\" | \"GST\" | \"GLA\" | \"GLO\" | \"GEL\" | \"GDP\" | \"GTP\"";
    if (!n->is_array()) return Bad(file, Why::kConfigChoice, n).Said("gps_channels").And(allowed);
    std::vector<std::string> codes;
    std::set<std::string> seen;
    const auto& all = records::GpsChannelCodes();
    for (const auto& item : *n->as_array()) {
        const std::string code = item.is_string() ? item.as_string()->get() : std::string();
        if (std::find(all.begin(), all.end(), code) == all.end() || !seen.insert(code).second)
            return Bad(file, Why::kConfigChoice, &item).Said("gps_channels").And(allowed);
        codes.push_back(code);
    }
    r.gps_channels = std::move(codes);
    return Status::Ok();
}

// [channels]: card offset = SEED code or false, over the defaults of the
// card's settings; a code used twice is refused at its line.
Status ReadChannels(const toml::table& root, const std::string& file, StationConfig& c) {
    std::map<int, std::string> channels = records::DefaultChannels(c.card.ChnNum, c.card.SampleFrq);
    const toml::table* map = root["channels"].as_table();
    if (!map) {
        c.records.channels = std::move(channels);
        return Status::Ok();
    }
    std::map<std::string, int> lines;  // code -> the line that set it
    for (const auto& [key, value] : *map) {
        if (value.is_table()) continue;  // a channel's orientation and sensor, read with the sensors
        const std::string k(key.str());
        char* end = nullptr;
        const long offset = std::strtol(k.c_str(), &end, 10);
        if (k.empty() || *end != '\0' || offset < 0 || offset > 1000) return Bad(file, Why::kConfigBadOffset, &value).Said(k);
        if (offset >= c.card.ChnNum) return Bad(file, Why::kConfigOffsetBeyond, &value).Said(k).Value(c.card.ChnNum);
        if (value.is_boolean() && !value.as_boolean()->get()) {
            channels.erase(static_cast<int>(offset));
        } else if (value.is_string()) {
            const std::string code = value.as_string()->get();
            if (code.size() != 3 || !CodeChars(code)) return Bad(file, Why::kBadChannelCode, &value).Said(code);
            if (const auto other = lines.find(code); other != lines.end())
                return Bad(file, Why::kConfigCodeReused, &value).Said(code).Value(other->second);
            lines[code] = static_cast<int>(value.source().begin.line);
            channels[static_cast<int>(offset)] = code;
        } else {
            return Bad(file, Why::kConfigBadChannel, &value).Said(k);
        }
    }
    // A code given here may still be another channel's default.
    for (const auto& [code, line] : lines) {
        int uses = 0;
        for (const auto& [offset, other] : channels) uses += other == code;
        if (uses > 1) return Bad(file, Why::kConfigCodeDefault).At(line).Said(code);
    }
    c.records.channels = std::move(channels);
    return Status::Ok();
}

// A file that is not TOML: said with the line and column, and the line.
Status SyntaxError(const std::string& file, const std::string& text, const toml::parse_error& error) {
    const auto& at = error.source().begin;
    std::size_t from = 0;
    for (std::size_t line = 1; line < at.line && from != std::string::npos; ++line) {
        from = text.find('\n', from);
        if (from != std::string::npos) ++from;
    }
    std::string line_text;
    if (from != std::string::npos) line_text = text.substr(from, text.find('\n', from) - from);
    if (!line_text.empty() && line_text.back() == '\r') line_text.pop_back();
    return Bad(file, Why::kConfigSyntax)
        .At(static_cast<std::int64_t>(at.line))
        .Value(static_cast<std::int64_t>(at.column))
        .Said(line_text);
}

}  // namespace

Status LoadConfig(const std::filesystem::path& path, StationConfig& c) {
    const std::string file = platform::PathText(path);
    if (const auto kind = platform::KindOf(path); kind != platform::FileKind::kRegular)
        return Bad(file, kind == platform::FileKind::kMissing ? Why::kConfigMissing : Why::kConfigNotRegular);
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    auto parsed = toml::parse(text, file);
    if (!parsed) return SyntaxError(file, text, parsed.error());
    const toml::table& root = parsed.table();
    for (Status s : {CheckKeys(root, file), ReadSettings(root, file, c), ReadTiming(root, file, c),
                     ReadLive(root, file, c.live), ReadStationMeta(root, file, c.meta),
                     ReadGpsChannels(root, file, c.records), ReadChannels(root, file, c),
                     ReadChannelSetups(root, file, c.records.channels, c.meta)})
        if (!s.ok()) return s;
    return Validate(c, file);
}

namespace {

toml::array Strings(const std::vector<std::string>& items) {
    toml::array a;
    for (const auto& s : items) a.push_back(s);
    return a;
}

toml::table TimingTable(const StationConfig& c) {
    const acq::TimingConfig& t = c.timing;
    toml::table timing;
    if (t.PulseWired()) timing.insert("pps_channel", t.pps_channel);
    else timing.insert("pps_channel", "none");
    timing.insert("date_from", t.date_from == acq::TimingConfig::DateFrom::kPulse ? "pulse" : "message");
    timing.insert("polarity", t.pulse_negative ? "negative" : "positive");
    if (t.threshold) timing.insert("threshold", *t.threshold);
    else timing.insert("threshold", "auto");
    timing.insert("message_refers_to", t.message_refers_to_next ? "next" : "previous");
    timing.insert("max_message_delay_ms", t.max_message_delay_ms);
    timing.insert("pulse_width_ms", t.pulse_width_ms);
    timing.insert("first_time_wait_s", t.first_time_wait_s);
    timing.insert("time_tolerance", t.time_tolerance);
    timing.insert("resample", t.resample);
    timing.insert("rate_alarm_ppm", t.rate_alarm_ppm);
    timing.insert("quality_fall_per_hour", t.quality_fall_per_hour);
    timing.insert("clock_channels", c.records.clock_channels);
    if (c.records.clock_location) timing.insert("location", *c.records.clock_location);
    timing.insert("gps_channels", Strings(c.records.gps_channels));
    return timing;
}

toml::table StationTable(const StationConfig& c) {
    const archive::StationMeta& m = c.meta;
    toml::table station{{"network", c.records.station.network},
                        {"station", c.records.station.station},
                        {"location", c.records.station.location}};
    if (m.latitude) station.insert("latitude", *m.latitude);
    if (m.longitude) station.insert("longitude", *m.longitude);
    if (m.elevation) station.insert("elevation", *m.elevation);
    if (!m.site.empty()) station.insert("site", m.site);
    return station;
}

toml::table Document(const StationConfig& c) {
    toml::table root;
    root.insert("station", StationTable(c));
    root.insert("acquisition", toml::table{{"channels", c.card.ChnNum},
                                           {"points_per_channel", c.card.ChnPoints},
                                           {"scan_rate", c.card.SampleFrq},
                                           {"buffers", c.card.BufNum},
                                           {"input_range", c.meta.input_range_volts},
                                           {"bits", c.meta.bits},
                                           {"zero_code", c.meta.zero_code}});
    const int enc = c.records.pack.encoding;
    toml::table archive{{"record_length", c.records.pack.record_length},
                        {"encoding", enc == 10 ? "steim1" : enc == 3 ? "int32" : "steim2"},
                        {"flush_interval", c.records.flush_seconds},
                        {"memory_limit_mb", static_cast<std::int64_t>(c.archive.memory_limit_bytes >> 20)}};
    if (!c.folder.empty()) archive.insert("folder", platform::PathText(c.folder));
    root.insert("archive", std::move(archive));
    root.insert("retention", toml::table{{"keep_days", c.archive.retention.keep_days},
                                         {"min_free_mb", static_cast<std::int64_t>(c.archive.retention.min_free_bytes >> 20)}});
    root.insert("timing", TimingTable(c));
    const stream::LiveConfig& l = c.live;
    root.insert("seedlink", toml::table{{"listen", l.listen},
                                        {"ring_mb", static_cast<std::int64_t>(l.ring_mb)},
                                        {"clients", l.clients},
                                        {"per_address", l.per_address},
                                        {"handshake_seconds", l.handshake_seconds},
                                        {"idle_seconds", l.idle_seconds},
                                        {"write_timeout_s", l.write_timeout_s},
                                        {"allow", Strings(l.allow)},
                                        {"deny", Strings(l.deny)},
                                        {"description", l.description}});
    root.insert("datalink", toml::table{{"server", l.datalink}});
    toml::table channels;
    for (int offset = 0; offset < c.card.ChnNum; ++offset) {
        const auto it = c.records.channels.find(offset);
        if (it == c.records.channels.end()) channels.insert(std::to_string(offset), false);
        else channels.insert(std::to_string(offset), it->second);
    }
    WriteSensors(c.meta, root, channels);
    root.insert("channels", std::move(channels));
    return root;
}

}  // namespace

Status SaveConfig(const std::filesystem::path& path, const StationConfig& c) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << "# ZQD4830_GPS\n\n" << toml::toml_formatter{Document(c)} << "\n";
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    if (Status s = WriteWhole(path, out.str()); !s.ok())
        return Status::Fail(s.code, Status::Why::kConfigWriteFailed).About(platform::PathText(path)).Because(std::move(s));
    return Status::Ok();
}

}  // namespace zqd::config
