#include "ui/helicorder_paint.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/utc.h"

namespace zqd::ui {

namespace {
constexpr int kTitleLine = 18;
}

QRect HelicorderPlotRect(const QRect& rect, bool titled) {
    constexpr int kLabel = 64, kBottom = 22;
    const int top = 22 + (titled ? kTitleLine : 0);
    return QRect(rect.left() + kLabel, rect.top() + top, std::max(rect.width() - kLabel - 10, 1),
                 std::max(rect.height() - top - kBottom, 1));
}

void PaintHelicorder(QPainter& p, const QRect& rect, const view::WaveformModel& m, int channel,
                     const view::HelicorderLayout& l, const HelicorderStyle& style) {
    constexpr int kLabel = 64;
    const QColor background(252, 252, 250), text(40, 40, 40), grid(225, 228, 232), clipped(220, 40, 40);
    p.fillRect(rect, background);
    if (l.rows <= 0) return;
    const bool titled = !style.title.empty();
    const QRect plot = HelicorderPlotRect(rect, titled);
    const int minutes_y = rect.top() + 2 + (titled ? kTitleLine : 0);
    const double spacing = static_cast<double>(plot.height()) / l.rows;
    // Counts per pixel: the median row's range fills half a row spacing, so
    // that quiet rows stay apart and what stands out is seen.
    const double per_pixel = view::HelicorderScale(m, channel, l) / (spacing / 4);
    const double reach = style.clip_rows * spacing;
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
    // Minute ticks along the top and bottom, a grid line at each.
    const int minutes = static_cast<int>(l.row_ns / (60 * utc::kNsPerSecond));
    const int every = minutes <= 15 ? 1 : minutes <= 30 ? 5 : 10;
    for (int mnt = 0; mnt <= minutes; mnt += every) {
        const double x = plot.left() + plot.width() * static_cast<double>(mnt) / minutes;
        p.setPen(grid);
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(text);
        p.drawLine(QPointF(x, plot.top() - 4), QPointF(x, plot.top()));
        p.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 4));
        if (mnt % (every * (minutes > 30 ? 1 : minutes > 15 ? 1 : 5)) == 0 || mnt == minutes) {
            p.drawText(QRectF(x - 20, minutes_y, 40, 14), Qt::AlignHCenter, QString::number(mnt));
            p.drawText(QRectF(x - 20, plot.bottom() + 6, 40, 14), Qt::AlignHCenter, QString::number(mnt));
        }
    }
    p.drawText(QRect(rect.left() + 2, minutes_y, kLabel, 14), Qt::AlignLeft, "UTC");
    p.drawText(QRect(rect.left() + 2, plot.bottom() + 6, kLabel, 14), Qt::AlignLeft, "分钟");
    if (titled) {
        QFont bold = font;
        bold.setBold(true);
        p.setFont(bold);
        p.drawText(QRect(rect.left() + 2, rect.top() + 2, rect.width() - 4, 15), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromStdString(style.title));
        p.setFont(font);
    }
    // The traces are set pixel by pixel into an image of their own, laid
    // over the rest at once: a day of short rows is some 180 000 columns,
    // too many to draw one by one as lines.
    QImage traces(rect.size(), QImage::Format_ARGB32_Premultiplied);
    traces.fill(Qt::transparent);
    uchar* const bits = traces.bits();
    const auto per_line = static_cast<std::ptrdiff_t>(traces.bytesPerLine());
    const int x_at = plot.left() - rect.left(), last_y = traces.height() - 1;
    auto pixel = [&](int x, int y) -> QRgb& { return reinterpret_cast<QRgb*>(bits + per_line * y)[x]; };
    const QRgb mark = clipped.rgba();
    // Rows too close for every label: every second, fourth … row labelled.
    int label_every = 1;
    while (label_every * spacing < 13 && label_every < l.rows) label_every *= 2;
    for (int r = 0; r < l.rows; ++r) {
        const double centre = plot.top() + (r + 0.5) * spacing - rect.top();
        const std::int64_t t0 = l.RowStart(r), t1 = std::min(t0 + l.row_ns, l.end_ns);
        const int width = std::min(static_cast<int>(std::lround(plot.width() * static_cast<double>(t1 - t0) / static_cast<double>(l.row_ns))),
                                   traces.width() - x_at);
        p.setPen(text);
        const std::string hhmm = utc::Iso(t0).substr(11, 5);
        if (r % label_every == 0)
            p.drawText(QRectF(rect.left() + 2, centre + rect.top() - 7, kLabel - 8, 14), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromStdString(hhmm));
        if (width <= 0) continue;
        const auto env = m.Envelope(channel, t0, t1, width);
        // The row's own level: the middle of its envelope's extremes.
        view::MinMax all;
        for (const auto& e : env)
            if (!e.Empty()) {
                all.Add(e.min);
                all.Add(e.max);
            }
        if (all.Empty()) continue;  // a gap: nothing drawn
        const double level = (static_cast<double>(all.min) + all.max) / 2;
        const QRgb colour = style.colours[static_cast<std::size_t>(r) % style.colours.size()].rgba();
        for (int x = 0; x < width; ++x) {
            const view::MinMax& e = env[static_cast<std::size_t>(x)];
            if (e.Empty()) continue;
            const double top = centre - (e.max - level) / per_pixel, bottom = centre - (e.min - level) / per_pixel;
            const int a = std::clamp(static_cast<int>(std::floor(std::max(top, centre - reach))), 0, last_y);
            const int b = std::clamp(static_cast<int>(std::floor(std::min(bottom, centre + reach))), a, last_y);
            for (int y = a; y <= b; ++y) pixel(x_at + x, y) = colour;
            if (top < centre - reach) pixel(x_at + x, a) = mark;  // clipped: marked at the reach
            if (bottom > centre + reach) pixel(x_at + x, b) = mark;
        }
    }
    p.drawImage(rect.topLeft(), traces);
}

}  // namespace zqd::ui
