// The band above a picture written by `plot`: what it shows (the channels,
// NET.STA.LOC.CHA), when (the span in UTC), how (the filter, the unit) and a
// time scale bar, so that a picture read alone says what it is.
#pragma once

#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

namespace zqd::ui {

inline constexpr int kPlotTitleHeight = 44;

struct PlotTitle {
    std::vector<std::string> channels;  // NET.STA.LOC.CHA, in the order drawn
    std::int64_t begin_ns = 0, end_ns = 0;
    std::string what;     // "日记录图，每行 30 分钟" and the like; empty for waveforms
    std::string filter;   // "bp:1:10:4（零相位）"; empty: none
    std::string unit;     // "count", "V", with a sensor the count's worth
    // The time scale bar: seconds across `bar_pixels_per_second`; 0: none.
    double pixels_per_second = 0;
};

// The channels as one line: "XX.ZQD01.00.GY0, GY1, LCE" when they share
// network, station and location, each whole otherwise.
std::string ChannelsLine(const std::vector<std::string>& channels);

// `body` below the title band: a picture kPlotTitleHeight taller.
QImage Titled(const QImage& body, const PlotTitle& title);

}  // namespace zqd::ui
