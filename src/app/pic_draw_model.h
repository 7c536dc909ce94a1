// What the query leaves on the drawing surface: a user coordinate system and
// one trace, sample j at x = j, joined by straight lines in `Color`
// (0x00BBGGRR). `Generation` changes whenever the surface is cleared.
#pragma once

#include <cstdint>
#include <vector>

namespace zqd {

struct PicDrawModel {
    double Left = 0, Top = 0, Right = 1, Bottom = 1;  // top-left and bottom-right corners
    std::vector<std::int32_t> Trace;
    std::uint32_t Color = 255;
    unsigned Generation = 0;
};

// The trace as the polyline a surface of `width` x `height` pixels draws:
// each sample at its place while there are at most two a pixel column;
// beyond, one stroke a column from its first sample through its lowest and
// highest to its last (at the column's middle), joined to the next. Empty
// when there is nothing to draw.
struct TracePoint {
    double x = 0, y = 0;
};
std::vector<TracePoint> TraceLine(const PicDrawModel& model, int width, int height);

}  // namespace zqd
