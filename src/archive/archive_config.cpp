#include "archive/archive_config.h"

#include <cstdlib>
#include <fstream>
#include <set>

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "common/platform.h"

namespace zqd::archive {

namespace {

bool CodeChars(const std::string& code) {
    for (char c : code)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

std::string Where(const std::string& file, const toml::node* node) {
    if (!node) return file;
    return file + " 第 " + std::to_string(node->source().begin.line) + " 行";
}

Status Bad(const std::string& where, const std::string& what) {
    return Status::Fail(Status::Code::kFileRefused, where + "：" + what);
}

}  // namespace

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

std::filesystem::path DefaultConfigFile() {
#ifdef _WIN32
    return platform::UserDataDir() / "archive.toml";
#else
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return std::filesystem::path(xdg) / "ZQD4830_GPS" / "archive.toml";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".config" / "ZQD4830_GPS" / "archive.toml";
    return platform::UserDataDir() / "archive.toml";
#endif
}

ArchiveConfig DefaultConfig() {
    ArchiveConfig c;
    c.channels = DefaultChannels(c.acquisition.ChnNum, c.acquisition.SampleFrq);
    return c;
}

Status Validate(const ArchiveConfig& c, const std::string& where) {
    const auto& s = c.station;
    if (s.network.empty() || s.network.size() > 2 || !CodeChars(s.network))
        return Bad(where, "台网代码“" + s.network + "”应为 1 到 2 个大写字母或数字");
    if (s.station.empty() || s.station.size() > 5 || !CodeChars(s.station))
        return Bad(where, "台站代码“" + s.station + "”应为 1 到 5 个大写字母或数字");
    if (s.location.size() > 2 || !CodeChars(s.location))
        return Bad(where, "位置代码“" + s.location + "”应为空或 2 个大写字母或数字");
    const auto& a = c.acquisition;
    if (a.ChnNum < 1 || a.ChnNum > 64) return Bad(where, "通道数 " + std::to_string(a.ChnNum) + " 应在 1 到 64 之间");
    if (a.ChnPoints < 1 || a.SampleFrq < 1 || a.BufNum < 1)
        return Bad(where, "每通道点数、采样率和缓冲区数都应大于 0");
    if (c.pack.record_length != 512 && c.pack.record_length != 4096)
        return Bad(where, "记录长度 " + std::to_string(c.pack.record_length) + " 应为 512 或 4096");
    if (c.flush_seconds < 1 || c.flush_seconds > 3600) return Bad(where, "刷新间隔应在 1 到 3600 秒之间");
    if (c.channels.empty()) return Bad(where, "没有要存档的通道");
    std::set<std::string> seen;
    for (const auto& [offset, code] : c.channels) {
        if (offset < 0 || offset >= a.ChnNum)
            return Bad(where, "通道偏移 " + std::to_string(offset) + " 超出板卡的 " + std::to_string(a.ChnNum) + " 个通道");
        if (code.size() != 3 || !CodeChars(code))
            return Bad(where, "通道代码“" + code + "”应为 3 个大写字母或数字");
        if (!seen.insert(code).second) return Bad(where, "通道代码“" + code + "”用了不止一次");
    }
    return Status::Ok();
}

Status LoadConfig(const std::filesystem::path& path, ArchiveConfig& c) {
    const std::string file = platform::PathText(path);
    std::string why;
    if (platform::KindOf(path, why) != platform::FileKind::kRegular)
        return Bad(file, platform::KindOf(path, why) == platform::FileKind::kMissing ? "文件不存在" : "不是普通文件");
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    auto parsed = toml::parse(text, file);
    if (!parsed) {
        const auto& e = parsed.error();
        return Bad(file + " 第 " + std::to_string(e.source().begin.line) + " 行", std::string(e.description()));
    }
    const toml::table& root = parsed.table();
    static const std::map<std::string, std::set<std::string>> kKeys = {
        {"station", {"network", "station", "location"}},
        {"acquisition", {"channels", "points_per_channel", "scan_rate", "buffers"}},
        {"archive", {"folder", "record_length", "encoding", "flush_interval", "memory_limit_mb"}},
        {"channels", {}},
    };
    for (const auto& [key, node] : root) {
        const std::string k(key.str());
        const auto known = kKeys.find(k);
        if (known == kKeys.end()) return Bad(Where(file, &node), "未知的设置“" + k + "”");
        if (!node.is_table()) return Bad(Where(file, &node), "“" + k + "”应为一个表 [" + k + "]");
        if (k == "channels") continue;
        for (const auto& [sub, value] : *node.as_table())
            if (!known->second.count(std::string(sub.str())))
                return Bad(Where(file, &value), "[" + k + "] 中未知的设置“" + std::string(sub.str()) + "”");
    }
    auto text_of = [&](const char* table, const char* key, std::string& out) -> Status {
        const toml::node* n = root.at_path(std::string(table) + "." + key).node();
        if (!n) return Status::Ok();
        if (!n->is_string()) return Bad(Where(file, n), std::string(key) + " 应为文字");
        out = n->as_string()->get();
        return Status::Ok();
    };
    auto int_of = [&](const char* table, const char* key, long long lo, long long hi, auto& out) -> Status {
        const toml::node* n = root.at_path(std::string(table) + "." + key).node();
        if (!n) return Status::Ok();
        if (!n->is_integer()) return Bad(Where(file, n), std::string(key) + " 应为整数");
        const long long v = n->as_integer()->get();
        if (v < lo || v > hi)
            return Bad(Where(file, n), std::string(key) + " = " + std::to_string(v) + " 超出 " + std::to_string(lo) +
                                           " 到 " + std::to_string(hi));
        out = static_cast<std::remove_reference_t<decltype(out)>>(v);
        return Status::Ok();
    };
    for (Status s : {text_of("station", "network", c.station.network), text_of("station", "station", c.station.station),
                     text_of("station", "location", c.station.location),
                     int_of("acquisition", "channels", 1, 64, c.acquisition.ChnNum),
                     int_of("acquisition", "points_per_channel", 1, 1000000, c.acquisition.ChnPoints),
                     int_of("acquisition", "scan_rate", 1, 1000000, c.acquisition.SampleFrq),
                     int_of("acquisition", "buffers", 1, 1000, c.acquisition.BufNum),
                     int_of("archive", "record_length", 256, 8192, c.pack.record_length),
                     int_of("archive", "flush_interval", 1, 3600, c.flush_seconds)})
        if (!s.ok()) return s;
    std::string folder;
    if (Status s = text_of("archive", "folder", folder); !s.ok()) return s;
    if (!folder.empty()) c.folder = platform::PathFromUtf8(folder);
    long long memory_mb = static_cast<long long>(c.memory_limit_bytes >> 20);
    if (Status s = int_of("archive", "memory_limit_mb", 1, 4096, memory_mb); !s.ok()) return s;
    c.memory_limit_bytes = static_cast<std::size_t>(memory_mb) << 20;
    if (const toml::node* n = root.at_path("archive.encoding").node()) {
        static const std::map<std::string, int> kEncodings = {{"steim2", 11}, {"steim1", 10}, {"int32", 3}};
        const auto e = n->is_string() ? kEncodings.find(n->as_string()->get()) : kEncodings.end();
        if (e == kEncodings.end()) return Bad(Where(file, n), "encoding 应为 \"steim2\"、\"steim1\" 或 \"int32\"");
        c.pack.encoding = e->second;
    }
    // The station codes, each at its own line.
    for (const char* key : {"network", "station", "location"}) {
        const toml::node* n = root.at_path(std::string("station.") + key).node();
        if (!n) continue;
        ArchiveConfig probe = DefaultConfig();
        probe.station = c.station;
        if (Status s = Validate(probe, Where(file, n)); !s.ok()) return s;
    }
    if (const toml::table* map = root["channels"].as_table()) {
        std::map<int, std::string> channels = DefaultChannels(c.acquisition.ChnNum, c.acquisition.SampleFrq);
        std::map<std::string, int> lines;  // code -> the line that set it
        for (const auto& [key, value] : *map) {
            const std::string k(key.str());
            char* end = nullptr;
            const long offset = std::strtol(k.c_str(), &end, 10);
            if (k.empty() || *end != '\0' || offset < 0 || offset > 1000)
                return Bad(Where(file, &value), "通道偏移“" + k + "”应为 0 起的整数");
            if (offset >= c.acquisition.ChnNum)
                return Bad(Where(file, &value), "通道偏移 " + k + " 超出板卡的 " + std::to_string(c.acquisition.ChnNum) +
                                                    " 个通道（0 到 " + std::to_string(c.acquisition.ChnNum - 1) + "）");
            if (value.is_boolean() && !value.as_boolean()->get()) {
                channels.erase(static_cast<int>(offset));
            } else if (value.is_string()) {
                const std::string code = value.as_string()->get();
                if (code.size() != 3 || !CodeChars(code))
                    return Bad(Where(file, &value), "通道代码“" + code + "”应为 3 个大写字母或数字");
                if (const auto other = lines.find(code); other != lines.end())
                    return Bad(Where(file, &value),
                               "通道代码“" + code + "”已在第 " + std::to_string(other->second) + " 行用过");
                lines[code] = static_cast<int>(value.source().begin.line);
                channels[static_cast<int>(offset)] = code;
            } else {
                return Bad(Where(file, &value), "通道 " + k + " 应为通道代码（如 \"GY0\"）或 false");
            }
        }
        // A code given here may still be another channel's default.
        for (const auto& [code, line] : lines) {
            int uses = 0;
            for (const auto& [offset, other] : channels) uses += other == code;
            if (uses > 1)
                return Bad(file + " 第 " + std::to_string(line) + " 行",
                           "通道代码“" + code + "”与另一通道的默认代码相同；请也给那个通道指定代码或 false");
        }
        c.channels = std::move(channels);
    } else {
        c.channels = DefaultChannels(c.acquisition.ChnNum, c.acquisition.SampleFrq);
    }
    return Validate(c, file);
}

}  // namespace zqd::archive
