// The station's sensors and its channels' orientation: [sensors.NAME]
// tables (by poles and zeros, or a moving-coil geophone's constants), the
// older single [sensor], and a [channels.CODE] table for each channel that
// says more than its card offset.
#pragma once

#include <string>

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "archive/station_metadata.h"
#include "common/status.h"

namespace zqd::config {

// [sensor] and [sensors]: into `m`, each refused at its line.
Status ReadSensors(const toml::table& root, const std::string& file, archive::StationMeta& m);
// The [channels.CODE] tables, for the codes `channels` maps to; their sensors among `m.sensors`.
Status ReadChannelSetups(const toml::table& root, const std::string& file, const std::map<int, std::string>& channels,
                         archive::StationMeta& m);
// Both back into the document: [sensor], [sensors.NAME], and [channels.CODE] into `channels`.
void WriteSensors(const archive::StationMeta& m, toml::table& root, toml::table& channels);

}  // namespace zqd::config
