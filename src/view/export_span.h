// The visible span of chosen channels written out through conversion's
// writers: one file per channel and stretch, named as conversion names them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/status.h"
#include "formats/mseed/mseed_packer.h"
#include "formats/stream_codes.h"
#include "view/waveform_model.h"

namespace zqd::view {

// A row's stream codes: NET.STA.LOC.CHA as it is named, else `station` with
// the row's name as the channel.
StreamCodes CodesOf(const std::string& name, const StreamCodes& station);

// Channels `rows` of `model` over [t0, t1) into `folder` in `format` (mseed,
// sac or csv); `files` counts what was written.
Status ExportSpan(const WaveformModel& model, const std::vector<int>& rows, std::int64_t t0, std::int64_t t1,
                  const std::string& format, const StreamCodes& station, const mseed::PackOptions& pack,
                  const std::filesystem::path& folder, int& files);

}  // namespace zqd::view
