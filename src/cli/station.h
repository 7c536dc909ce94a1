// The station settings that `acquire` and `convert` share: a configuration
// file and the SEED codes given on the command line over it.
#pragma once

#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

#include "app/messages.h"
#include "config/station_config.h"
#include "cli/command.h"
#include "platform/text.h"

namespace zqd::cli {

struct StationOptions {
    std::string config, network, station, location;

    void Add(CLI::App& c, const char* config_help) {
        AddConfig(c, config_help);
        AddCodes(c);
    }
    void AddConfig(CLI::App& c, const char* help) { c.add_option("--config", config, help); }
    void AddCodes(CLI::App& c) {
        c.add_option("--network", network, "SEED network code");
        c.add_option("--station", station, "SEED station code");
        c.add_option("--location", location, "SEED location code (-- for none)");
    }

    // Reads the file over `into`'s settings, then the codes: kDone, or the
    // exit status after the message ("配置有误：..."): kRefused for a file
    // that is not right, `bad_codes` for codes that are not.
    int Load(config::StationConfig& into, int bad_codes) const {
        if (!config.empty()) {
            if (const auto s = config::LoadConfig(platform::PathFromUtf8(config), into); !s.ok()) {
                std::cerr << "配置有误：" << app::Text(s) << "\n";
                return kRefused;
            }
        }
        StreamCodes& codes = into.records.station;
        if (!network.empty()) codes.network = network;
        if (!station.empty()) codes.station = station;
        if (!location.empty()) codes.location = location == "--" ? "" : location;
        if (const auto s = config::Validate(into, "命令行"); !s.ok()) {
            std::cerr << "配置有误：" << app::Text(s) << "\n";
            return bad_codes;
        }
        return kDone;
    }
};

}  // namespace zqd::cli
