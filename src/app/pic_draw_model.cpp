#include "app/pic_draw_model.h"

#include <algorithm>

namespace zqd {

std::vector<TracePoint> TraceLine(const PicDrawModel& model, int width, int height) {
    std::vector<TracePoint> line;
    const auto& ys = model.Trace;
    const double xspan = model.Right - model.Left, yspan = model.Bottom - model.Top;
    if (ys.size() < 2 || width < 1 || height < 1 || xspan == 0 || yspan == 0) return line;
    const double w = width, h = height;
    auto px = [&](double x) { return (x - model.Left) / xspan * w; };
    auto py = [&](double y) { return (y - model.Top) / yspan * h; };
    const std::size_t n = ys.size();
    if (n <= static_cast<std::size_t>(2 * width)) {
        line.reserve(n);
        for (std::size_t j = 0; j < n; ++j) line.push_back({px(static_cast<double>(j)), py(ys[j])});
        return line;
    }
    struct Column {
        std::int32_t lo = 0, hi = 0, first = 0, last = 0;
        bool used = false;
    };
    std::vector<Column> cols(static_cast<std::size_t>(width));
    for (std::size_t j = 0; j < n; ++j) {
        const double x = px(static_cast<double>(j));
        if (x < 0 || x >= w) continue;
        Column& c = cols[static_cast<std::size_t>(x)];
        const std::int32_t y = ys[j];
        if (!c.used) {
            c = {y, y, y, y, true};
        } else {
            c.lo = std::min(c.lo, y);
            c.hi = std::max(c.hi, y);
            c.last = y;
        }
    }
    line.reserve(cols.size() * 4);
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        if (!c.used) continue;
        const double x = static_cast<double>(i) + 0.5;
        for (std::int32_t y : {c.first, c.lo, c.hi, c.last}) line.push_back({x, py(y)});
    }
    return line;
}

}  // namespace zqd
