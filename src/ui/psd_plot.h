// The station's noise from an archive: a channel's PPSD over the span,
// as a picture with Peterson's noise models and as numbers (CSV).
#pragma once

#include <QImage>

#include <filesystem>
#include <optional>
#include <string>

#include "app/noise.h"
#include "common/status.h"
#include "config/station_config.h"

namespace zqd::ui {

struct PsdRequest {
    std::filesystem::path archive;
    std::string channel;  // a code (GY0) or a whole name
    std::optional<std::int64_t> from, to;
    std::filesystem::path out;  // the picture; empty: none
    std::filesystem::path csv;  // the numbers; empty: none
    int width = 1200, height = 800;
    double segment_seconds = 3600;
    config::StationConfig config = config::DefaultConfig();
};

// The PPSD made, the files written; what was done in `said`. kFileRefused
// for an archive or channel that is not there, kQueryRefused (kNoWholeSegment)
// when the span holds no segment of data without a gap.
Status PlotPsd(const PsdRequest& request, std::string& said);

// The PPSD as a picture `width` × `height`, the title band included, with
// Peterson's models when the levels are of acceleration.
QImage NoisePicture(const Noise& n, int width, int height);

}  // namespace zqd::ui
