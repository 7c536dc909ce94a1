// The headless plot: the waveform view of a file or archive folder drawn into
// a PNG without a display, for reports and scripts. Plot takes no toolkit
// types, so that the command line can call it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/station_config.h"
#include "common/status.h"
#include "signal/filter.h"
#include "signal/spectrogram.h"

class QImage;
class QGuiApplication;

namespace zqd::ui {

struct PlotRequest {
    std::filesystem::path input;  // T1.DAT, a miniSEED file or an SDS folder
    std::filesystem::path out;    // the PNG
    std::optional<std::int64_t> from, to;
    std::string channels;         // "GY0,GY3" or rows "0,2-5"; empty: all
    int width = 1600, height = 900;
    bool volts = false;
    signal::FilterSpec filter;      // zero-phase, over the span drawn
    int spectrogram = 0;          // frame length: the first channel shown, over its spectrogram
    signal::SpectrogramScale spectrogram_scale;  // its frequencies, axis and colours' range
    // A helicorder of the first channel shown instead: rows of this many
    // minutes (0: none) over `helicorder_hours` from `from` (default: the last
    // whole day, or half-day, of the data), traces clipped at `clip_rows`.
    int helicorder_minutes = 0;
    int helicorder_hours = 24;
    double clip_rows = 2;
    std::vector<std::string> helicorder_colours;  // names or #RRGGBB, in turn; empty: the usual
    config::StationConfig config = config::DefaultConfig();
};

// The toolkit's application object that drawing text needs, made (offscreen
// without a display) unless there is one already; kept while drawing.
std::unique_ptr<QGuiApplication> HeadlessApplication();

// The picture format a file's name asks for: "PNG" (.png), "JPG" (.jpg,
// .jpeg) or "BMP" (.bmp), in any case; nullptr for any other name.
const char* PictureFormat(const std::filesystem::path& path);
// `image` in the format its name asks for, written crash-safe like every
// other output; kFileRefused (kPictureFormat) for a name of no such format.
Status SavePicture(const QImage& image, const std::filesystem::path& path);

// Writes the PNG; what was drawn in `said` (one line). kFileRefused for the
// input or a channel list that names no row, kWriteFailed for the picture.
Status Plot(const PlotRequest& request, std::string& said);

}  // namespace zqd::ui
