#include "archive/archive_config.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <locale>
#include <sstream>
#include <set>

#include "archive/config_support.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_file.h"
#include "platform/text.h"

namespace zqd::archive {

using Why = Status::Why;

char BandCode(double rate) {
    if (rate >= 1000) return 'G';
    if (rate >= 250) return 'D';
    if (rate >= 80) return 'E';
    if (rate >= 10) return 'S';
    if (rate > 1) return 'M';
    return 'L';
}

std::map<int, std::string> DefaultChannels(int chnNum, double rate) {
    static const char kOrientation[] = "0123456789ABCDEFGHIJKLMNOQRSTUVWXYZ";  // no P: that is the pulse
    std::map<int, std::string> map;
    const std::string prefix{BandCode(rate), 'Y'};
    for (int offset = 0; offset < chnNum; ++offset) {
        if (offset == 1) continue;  // the GPS receiver's bytes: timing, not signal
        if (offset == 0) {
            map[0] = prefix + "P";
            continue;
        }
        const int k = offset - 2;
        if (k < static_cast<int>(sizeof kOrientation) - 1) map[offset] = prefix + kOrientation[k];
    }
    return map;
}

std::filesystem::path DefaultConfigFile() { return platform::UserConfigDir() / "archive.toml"; }

ArchiveConfig DefaultConfig() {
    ArchiveConfig c;
    c.channels = DefaultChannels(c.acquisition.ChnNum, c.acquisition.SampleFrq);
    return c;
}

Status Validate(const ArchiveConfig& c, const std::string& where) {
    const auto& s = c.station;
    if (s.network.empty() || s.network.size() > 2 || !CodeChars(s.network))
        return Bad(where, Why::kBadNetwork).Said(Excerpt(s.network));
    if (s.station.empty() || s.station.size() > 5 || !CodeChars(s.station))
        return Bad(where, Why::kBadStation).Said(Excerpt(s.station));
    if ((s.location.size() != 0 && s.location.size() != 2) || !CodeChars(s.location))
        return Bad(where, Why::kBadLocation).Said(Excerpt(s.location));
    const auto& a = c.acquisition;
    if (a.ChnNum < 1 || a.ChnNum > 64) return Bad(where, Why::kBadChnNum).Value(a.ChnNum);
    if (a.ChnPoints < 1 || a.SampleFrq < 1 || a.BufNum < 1)
        return Bad(where, Why::kBadCardSettings);
    if (c.pack.record_length != 512 && c.pack.record_length != 4096)
        return Bad(where, Why::kBadRecordLength).Value(c.pack.record_length);
    if (c.flush_seconds < 1 || c.flush_seconds > 3600) return Bad(where, Why::kBadFlush);
    if (c.channels.empty()) return Bad(where, Why::kNoChannels);
#ifndef ZQD_HAVE_RESAMPLE
    if (c.timing.resample) return Bad(where, Why::kNoResampling);
#endif
    std::set<std::string> seen;
    for (const auto& [offset, code] : c.channels) {
        if (offset < 0 || offset >= a.ChnNum)
            return Bad(where, Why::kOffsetBeyondCard).Values(offset, a.ChnNum);
        if (code.size() != 3 || !CodeChars(code))
            return Bad(where, Why::kBadChannelCode).Said(Excerpt(code));
        if (!seen.insert(code).second) return Bad(where, Why::kChannelCodeTwice).Said(code);
        const bool clock = c.clock_channels && (code == "LCE" || code == "LCQ" || code == "LCR");
        if (clock || std::find(c.gps_channels.begin(), c.gps_channels.end(), code) != c.gps_channels.end())
            return Bad(where, Why::kCodeIsHealthChannel).Said(code);
    }
    return Status::Ok();
}

namespace {

// Only the tables and keys the configuration has, each a table.
Status CheckKeys(const toml::table& root, const std::string& file) {
    static const std::map<std::string, std::set<std::string>> kKeys = {
        {"station", {"network", "station", "location", "latitude", "longitude", "elevation", "site"}},
        {"acquisition", {"channels", "points_per_channel", "scan_rate", "buffers", "input_range"}},
        {"archive", {"folder", "record_length", "encoding", "flush_interval", "memory_limit_mb"}},
        {"retention", {"keep_days", "min_free_mb"}},
        {"timing", {"pps_channel", "date_from", "polarity", "threshold", "message_refers_to", "max_message_delay_ms",
                    "pulse_width_ms", "first_time_wait_s", "time_tolerance", "resample", "rate_alarm_ppm", "quality_fall_per_hour", "clock_channels",
                    "location", "gps_channels"}},
        {"sensor", {"sensitivity", "unit", "frequency", "description"}},
        {"seedlink", {"listen", "ring_mb", "clients", "per_address", "handshake_seconds", "idle_seconds", "allow",
                      "deny", "description"}},
        {"datalink", {"server"}},
        {"channels", {}},
    };
    for (const auto& [key, node] : root) {
        const std::string k(key.str());
        const auto known = kKeys.find(k);
        if (known == kKeys.end()) return Bad(file, Why::kConfigUnknownTable, &node).Said(Excerpt(k));
        if (!node.is_table()) return Bad(file, Why::kConfigNotTable, &node).Said(Excerpt(k));
        if (k == "channels") continue;
        for (const auto& [sub, value] : *node.as_table())
            if (!known->second.count(std::string(sub.str())))
                return Bad(file, Why::kConfigUnknownKey, &value).And(k).Said(Excerpt(std::string(sub.str())));
    }
    return Status::Ok();
}

// The settings of [station], [acquisition] and [archive], each checked
// where it stands.
Status ReadSettings(const toml::table& root, const std::string& file, ArchiveConfig& c) {
    auto text_of = [&](const char* table, const char* key, std::string& out) -> Status {
        const toml::node* n = root.at_path(std::string(table) + "." + key).node();
        if (!n) return Status::Ok();
        if (!n->is_string()) return Bad(file, Why::kConfigNotText, n).Said(key);
        out = n->as_string()->get();
        return Status::Ok();
    };
    auto int_of = [&](const char* table, const char* key, long long lo, long long hi, auto& out) -> Status {
        return IntegerAt(root, file, std::string(table) + "." + key, key, lo, hi, out);
    };
    if (const toml::node* n = root.at_path("archive.record_length").node(); n && n->is_integer()) {
        const long long v = n->as_integer()->get();
        if (v != 512 && v != 4096)
            return Bad(file, Why::kBadRecordLength, n).Value(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
    }
    for (Status s : {text_of("station", "network", c.station.network), text_of("station", "station", c.station.station),
                     text_of("station", "location", c.station.location),
                     int_of("acquisition", "channels", 1, 64, c.acquisition.ChnNum),
                     int_of("acquisition", "points_per_channel", 1, 1000000, c.acquisition.ChnPoints),
                     int_of("acquisition", "scan_rate", 1, 1000000, c.acquisition.SampleFrq),
                     int_of("acquisition", "buffers", 1, 1000, c.acquisition.BufNum),
                     int_of("archive", "record_length", 512, 4096, c.pack.record_length),
                     int_of("archive", "flush_interval", 1, 3600, c.flush_seconds)})
        if (!s.ok()) return s;
    std::string folder;
    if (Status s = text_of("archive", "folder", folder); !s.ok()) return s;
    if (!folder.empty()) c.folder = platform::PathFromUtf8(folder);
    long long memory_mb = static_cast<long long>(c.memory_limit_bytes >> 20);
    if (Status s = int_of("archive", "memory_limit_mb", 1, 4096, memory_mb); !s.ok()) return s;
    c.memory_limit_bytes = static_cast<std::size_t>(memory_mb) << 20;
    long long free_mb = static_cast<long long>(c.retention.min_free_bytes >> 20);
    if (Status s = int_of("retention", "keep_days", 0, 36500, c.retention.keep_days); !s.ok()) return s;
    if (Status s = int_of("retention", "min_free_mb", 0, 1LL << 30, free_mb); !s.ok()) return s;
    c.retention.min_free_bytes = static_cast<std::uint64_t>(free_mb) << 20;
    if (const toml::node* n = root.at_path("archive.encoding").node()) {
        static const std::map<std::string, int> kEncodings = {{"steim2", 11}, {"steim1", 10}, {"int32", 3}};
        const auto e = n->is_string() ? kEncodings.find(n->as_string()->get()) : kEncodings.end();
        if (e == kEncodings.end()) return Bad(file, Why::kConfigEncoding, n);
        c.pack.encoding = e->second;
    }
    // The station codes, each at its own line.
    for (const char* key : {"network", "station", "location"}) {
        const toml::node* n = root.at_path(std::string("station.") + key).node();
        if (!n) continue;
        ArchiveConfig probe = DefaultConfig();
        probe.station = c.station;
        if (Status s = Validate(probe, file); !s.ok()) {
            s.line = static_cast<std::int64_t>(n->source().begin.line);
            return s;
        }
    }
    return Status::Ok();
}

// [timing]: the pulse, what dates the data, and the clock's channels.
Status ReadTiming(const toml::table& t, const std::string& file, ArchiveConfig& c) {
    acq::TimingConfig& m = c.timing;
    auto choice = [&](const char* key, std::initializer_list<const char*> words, const char* said,
                      auto&& apply) -> Status {
        const toml::node* n = t.get(key);
        if (!n) return Status::Ok();
        if (n->is_string()) {
            int k = 0;
            for (const char* w : words) {
                if (n->as_string()->get() == w) {
                    apply(k);
                    return Status::Ok();
                }
                ++k;
            }
        }
        return Bad(file, Why::kConfigChoice, n).Said(key).And(said);
    };
    auto number = [&](const char* key, double lo, double hi, double& out) {
        return NumberAt(t, file, key, key, lo, hi, out);
    };
    auto flag = [&](const char* key, bool& out) -> Status {
        const toml::node* n = t.get(key);
        if (!n) return Status::Ok();
        if (!n->is_boolean()) return Bad(file, Why::kConfigChoice, n).Said(key).And("true 或 false");
        out = n->as_boolean()->get();
        return Status::Ok();
    };
    if (const toml::node* n = t.get("pps_channel")) {
        if (n->is_string() && n->as_string()->get() == "none") {
            m.pps_channel = acq::TimingConfig::kNoPulse;
        } else if (n->is_integer() && n->as_integer()->get() >= 0 && n->as_integer()->get() < c.acquisition.ChnNum) {
            m.pps_channel = static_cast<int>(n->as_integer()->get());
        } else {
            return Bad(file, Why::kConfigChoice, n).Said("pps_channel").And("板卡的通道偏移（0 到 " +
                                                                            std::to_string(c.acquisition.ChnNum - 1) + "）或 \"none\"");
        }
    }
    if (const toml::node* n = t.get("threshold")) {
        if (n->is_number()) {
            m.threshold = n->is_integer() ? static_cast<double>(n->as_integer()->get()) : n->as_floating_point()->get();
        } else if (!(n->is_string() && n->as_string()->get() == "auto")) {
            return Bad(file, Why::kConfigChoice, n).Said("threshold").And("码值或 \"auto\"");
        }
    }
    double delay = m.max_message_delay_ms;
    for (Status s :
         {choice("date_from", {"pulse", "message"}, "\"pulse\" 或 \"message\"",
                 [&](int k) { m.date_from = k == 0 ? acq::TimingConfig::DateFrom::kPulse : acq::TimingConfig::DateFrom::kMessage; }),
          choice("polarity", {"positive", "negative"}, "\"positive\" 或 \"negative\"",
                 [&](int k) { m.pulse_negative = k == 1; }),
          choice("message_refers_to", {"previous", "next"}, "\"previous\" 或 \"next\"",
                 [&](int k) { m.message_refers_to_next = k == 1; }),
          number("max_message_delay_ms", 0, 999, delay), number("pulse_width_ms", 0.001, 900, m.pulse_width_ms),
          number("first_time_wait_s", 0, 600, m.first_time_wait_s), number("time_tolerance", 0.01, 1000, m.time_tolerance),
          number("rate_alarm_ppm", 0, 1e6, m.rate_alarm_ppm), number("quality_fall_per_hour", 0, 100, m.quality_fall_per_hour),
          flag("resample", m.resample), flag("clock_channels", c.clock_channels)})
        if (!s.ok()) return s;
    m.max_message_delay_ms = static_cast<int>(delay);
    if (const toml::node* n = t.get("location")) {
        if (!n->is_string()) return Bad(file, Why::kConfigNotText, n).Said("location");
        const std::string loc = n->as_string()->get();
        if ((!loc.empty() && loc.size() != 2) || !CodeChars(loc)) return Bad(file, Why::kBadLocation, n).Said(Excerpt(loc));
        c.clock_location = loc;
    }
    return Status::Ok();
}

// [seedlink] and [datalink]: where live data go. The addresses are checked
// when the server starts.
Status ReadLive(const toml::table& root, const std::string& file, LiveConfig& live) {
    auto text = [&](const char* path, std::string& out) -> Status {
        const toml::node* n = root.at_path(path).node();
        if (!n) return Status::Ok();
        if (n->is_integer() && std::string(path) == "seedlink.listen") {
            out = std::to_string(n->as_integer()->get());
            return Status::Ok();
        }
        if (!n->is_string()) return Bad(file, Why::kConfigNotText, n).Said(path);
        out = n->as_string()->get();
        return Status::Ok();
    };
    auto integer = [&](const char* path, long long lo, long long hi, auto& out) -> Status {
        return IntegerAt(root, file, path, path, lo, hi, out);
    };
    auto list = [&](const char* path, std::vector<std::string>& out) -> Status {
        const toml::node* n = root.at_path(path).node();
        if (!n) return Status::Ok();
        if (!n->is_array()) return Bad(file, Why::kConfigNotText, n).Said(path);
        out.clear();
        for (const auto& item : *n->as_array()) {
            if (!item.is_string()) return Bad(file, Why::kConfigNotText, &item).Said(path);
            out.push_back(item.as_string()->get());
        }
        return Status::Ok();
    };
    for (Status s : {text("seedlink.listen", live.listen), integer("seedlink.ring_mb", 1, 65536, live.ring_mb),
                     integer("seedlink.clients", 1, 10000, live.clients),
                     integer("seedlink.per_address", 1, 10000, live.per_address),
                     integer("seedlink.handshake_seconds", 1, 86400, live.handshake_seconds),
                     integer("seedlink.idle_seconds", 1, 86400, live.idle_seconds), list("seedlink.allow", live.allow),
                     list("seedlink.deny", live.deny), text("seedlink.description", live.description),
                     text("datalink.server", live.datalink)})
        if (!s.ok()) return s;
    return Status::Ok();
}

std::string LiveText(const LiveConfig& live) {
    auto array = [](const std::vector<std::string>& items) {
        std::string s = "[";
        for (std::size_t i = 0; i < items.size(); ++i) s += (i ? ", " : "") + Quoted(items[i]);
        return s + "]";
    };
    return "\n[seedlink]\nlisten = " + Quoted(live.listen) + "\nring_mb = " + std::to_string(live.ring_mb) +
           "\nclients = " + std::to_string(live.clients) + "\nper_address = " + std::to_string(live.per_address) +
           "\nhandshake_seconds = " + std::to_string(live.handshake_seconds) +
           "\nidle_seconds = " + std::to_string(live.idle_seconds) + "\nallow = " + array(live.allow) +
           "\ndeny = " + array(live.deny) + "\ndescription = " + Quoted(live.description) +
           "\n\n[datalink]\nserver = " + Quoted(live.datalink) + "\n";
}

// [channels]: card offset = SEED code or false, over the defaults of the
// card's settings; a code used twice is refused at its line.
Status ReadChannels(const toml::table& map, const std::string& file, ArchiveConfig& c) {
    std::map<int, std::string> channels = DefaultChannels(c.acquisition.ChnNum, c.acquisition.SampleFrq);
    std::map<std::string, int> lines;  // code -> the line that set it
    for (const auto& [key, value] : map) {
        const std::string k(key.str());
        char* end = nullptr;
        const long offset = std::strtol(k.c_str(), &end, 10);
        if (k.empty() || *end != '\0' || offset < 0 || offset > 1000)
            return Bad(file, Why::kConfigBadOffset, &value).Said(Excerpt(k));
        if (offset >= c.acquisition.ChnNum)
            return Bad(file, Why::kConfigOffsetBeyond, &value).Said(k).Value(c.acquisition.ChnNum);
        if (value.is_boolean() && !value.as_boolean()->get()) {
            channels.erase(static_cast<int>(offset));
        } else if (value.is_string()) {
            const std::string code = value.as_string()->get();
            if (code.size() != 3 || !CodeChars(code)) return Bad(file, Why::kBadChannelCode, &value).Said(Excerpt(code));
            if (const auto other = lines.find(code); other != lines.end())
                return Bad(file, Why::kConfigCodeReused, &value).Said(code).Value(other->second);
            lines[code] = static_cast<int>(value.source().begin.line);
            channels[static_cast<int>(offset)] = code;
        } else {
            return Bad(file, Why::kConfigBadChannel, &value).Said(Excerpt(k));
        }
    }
    // A code given here may still be another channel's default.
    for (const auto& [code, line] : lines) {
        int uses = 0;
        for (const auto& [offset, other] : channels) uses += other == code;
        if (uses > 1) return Bad(file, Why::kConfigCodeDefault).At(line).Said(code);
    }
    c.channels = std::move(channels);
    return Status::Ok();
}

}  // namespace

Status LoadConfig(const std::filesystem::path& path, ArchiveConfig& c) {
    const std::string file = platform::PathText(path);
    if (const auto kind = platform::KindOf(path); kind != platform::FileKind::kRegular)
        return Bad(file, kind == platform::FileKind::kMissing ? Why::kConfigMissing : Why::kConfigNotRegular);
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    auto parsed = toml::parse(text, file);
    if (!parsed) {
        // Said in our words: the line and column, and an excerpt of the line.
        const auto& at = parsed.error().source().begin;
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
            .Said(Excerpt(line_text));
    }
    const toml::table& root = parsed.table();
    if (Status s = CheckKeys(root, file); !s.ok()) return s;
    if (Status s = ReadSettings(root, file, c); !s.ok()) return s;
    if (const toml::table* timing = root["timing"].as_table()) {
        if (Status s = ReadTiming(*timing, file, c); !s.ok()) return s;
    }
    if (Status s = ReadLive(root, file, c.live); !s.ok()) return s;
    if (Status s = ReadStationMeta(root, file, c); !s.ok()) return s;
    if (const toml::table* map = root["channels"].as_table()) {
        if (Status s = ReadChannels(*map, file, c); !s.ok()) return s;
    } else {
        c.channels = DefaultChannels(c.acquisition.ChnNum, c.acquisition.SampleFrq);
    }
    return Validate(c, file);
}

Status SaveConfig(const std::filesystem::path& path, const ArchiveConfig& c) {
    const StationMetaText meta = WriteStationMeta(c);
    std::string text = "# ZQD4830_GPS 连续记录的设置\n\n[station]\nnetwork = " + Quoted(c.station.network) +
                       "\nstation = " + Quoted(c.station.station) + "\nlocation = " + Quoted(c.station.location) +
                       "\n" + meta.station + "\n[acquisition]\nchannels = " + std::to_string(c.acquisition.ChnNum) +
                       "\npoints_per_channel = " + std::to_string(c.acquisition.ChnPoints) +
                       "\nscan_rate = " + std::to_string(c.acquisition.SampleFrq) +
                       "\nbuffers = " + std::to_string(c.acquisition.BufNum) + "\n" + meta.acquisition +
                       "\n[archive]\n";
    if (!c.folder.empty()) text += "folder = " + Quoted(platform::PathText(c.folder)) + "\n";
    text += "record_length = " + std::to_string(c.pack.record_length) + "\nencoding = " +
            Quoted(c.pack.encoding == 10 ? "steim1" : c.pack.encoding == 3 ? "int32" : "steim2") +
            "\nflush_interval = " + std::to_string(c.flush_seconds) +
            "\nmemory_limit_mb = " + std::to_string(c.memory_limit_bytes >> 20) +
            "\n\n[retention]\nkeep_days = " + std::to_string(c.retention.keep_days) +
            "\nmin_free_mb = " + std::to_string(c.retention.min_free_bytes >> 20) + "\n\n[timing]\n";
    const acq::TimingConfig& t = c.timing;
    text += "pps_channel = " + (t.PulseWired() ? std::to_string(t.pps_channel) : Quoted("none")) +
            "\ndate_from = " + Quoted(t.date_from == acq::TimingConfig::DateFrom::kPulse ? "pulse" : "message") +
            "\npolarity = " + Quoted(t.pulse_negative ? "negative" : "positive") +
            "\nthreshold = " + (t.threshold ? NumberText(*t.threshold) : Quoted("auto")) +
            "\nmessage_refers_to = " + Quoted(t.message_refers_to_next ? "next" : "previous") +
            "\nmax_message_delay_ms = " + std::to_string(t.max_message_delay_ms) +
            "\npulse_width_ms = " + NumberText(t.pulse_width_ms) +
            "\nfirst_time_wait_s = " + NumberText(t.first_time_wait_s) +
            "\ntime_tolerance = " + NumberText(t.time_tolerance) + "\nresample = " + (t.resample ? "true" : "false") +
            "\nrate_alarm_ppm = " + NumberText(t.rate_alarm_ppm) +
            "\nquality_fall_per_hour = " + NumberText(t.quality_fall_per_hour) +
            "\nclock_channels = " + (c.clock_channels ? "true" : "false") + "\n" + meta.timing;
    if (c.clock_location) text += "location = " + Quoted(*c.clock_location) + "\n";
    text += LiveText(c.live) + meta.sensor + "\n[channels]\n";
    for (int offset = 0; offset < c.acquisition.ChnNum; ++offset) {
        const auto it = c.channels.find(offset);
        text += std::to_string(offset) + " = " + (it == c.channels.end() ? std::string("false") : Quoted(it->second)) + "\n";
    }
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    if (Status s = WriteWhole(path, text); !s.ok())
        return Status::Fail(s.code, Status::Why::kConfigWriteFailed).About(platform::PathText(path)).Because(std::move(s));
    return Status::Ok();
}

}  // namespace zqd::archive
