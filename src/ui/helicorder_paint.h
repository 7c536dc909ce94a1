// The helicorder drawn: one channel's rows, the oldest at the top, in
// alternating colours, each labelled with its start (HH:MM) at the left,
// minute ticks at the top and bottom; a common amplitude scale, traces
// clipped at a multiple of the row spacing (the clipping marked in red);
// gaps empty.
#pragma once

#include <QColor>
#include <QPainter>

#include <string>
#include <vector>

#include "view/helicorder.h"

namespace zqd::ui {

struct HelicorderStyle {
    std::vector<QColor> colours{QColor(20, 60, 150), QColor(170, 30, 30), QColor(30, 30, 30), QColor(20, 120, 60)};
    double clip_rows = 2;  // traces reach at most this many row spacings from their row's centre line
    std::string title;     // a line of its own above the minutes: the channel, the date, the filter
};

// Where the rows lie within `rect` (the rest holds the labels, the ticks and
// the title's line when there is one).
QRect HelicorderPlotRect(const QRect& rect, bool titled = false);

void PaintHelicorder(QPainter& p, const QRect& rect, const view::WaveformModel& m, int channel,
                     const view::HelicorderLayout& l, const HelicorderStyle& style = {});

}  // namespace zqd::ui
