#include "ui/pic_draw.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <vector>

namespace zqd::ui {

void RenderTrace(QImage& image, const PicDrawModel& model, const QColor& background) {
    image.fill(background);
    const auto& ys = model.Trace;
    if (ys.size() < 2 || image.width() < 1 || image.height() < 1) return;
    const double w = image.width(), h = image.height();
    const double xspan = model.Right - model.Left, yspan = model.Bottom - model.Top;
    if (xspan == 0 || yspan == 0) return;
    auto px = [&](double x) { return (x - model.Left) / xspan * w; };
    auto py = [&](double y) { return (y - model.Top) / yspan * h; };

    const QColor color(static_cast<int>(model.Color & 0xFF), static_cast<int>((model.Color >> 8) & 0xFF),
                       static_cast<int>((model.Color >> 16) & 0xFF));
    QPainter painter(&image);
    painter.setPen(QPen(color, 0));
    const std::size_t n = ys.size();

    if (n <= static_cast<std::size_t>(2 * image.width())) {
        QPolygonF line;
        line.reserve(static_cast<int>(n));
        for (std::size_t j = 0; j < n; ++j) line.append(QPointF(px(static_cast<double>(j)), py(ys[j])));
        painter.drawPolyline(line);
        return;
    }

    // Min/max decimation: every pixel column gets one vertical stroke from
    // the lowest to the highest sample in it, joined to the next column.
    struct Column {
        std::int32_t lo, hi, first, last;
        bool used = false;
    };
    std::vector<Column> cols(static_cast<std::size_t>(image.width()));
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
    QPolygonF strokes;
    strokes.reserve(static_cast<int>(cols.size() * 4));
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        if (!c.used) continue;
        const double x = static_cast<double>(i) + 0.5;
        strokes.append(QPointF(x, py(c.first)));
        strokes.append(QPointF(x, py(c.lo)));
        strokes.append(QPointF(x, py(c.hi)));
        strokes.append(QPointF(x, py(c.last)));
    }
    painter.drawPolyline(strokes);
}

PicDraw::PicDraw(const PicDrawModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PicDraw::Render() {
    if (width() < 1 || height() < 1) return;
    if (image_.size() != size()) image_ = QImage(size(), QImage::Format_RGB32);
    // Background: the menu-text system colour.
    RenderTrace(image_, model_, palette().color(QPalette::WindowText));
    generation_ = model_.Generation;
}

void PicDraw::Sync() {
    if (generation_ != model_.Generation) {
        Render();
        update();
    }
}

void PicDraw::resizeEvent(QResizeEvent*) { Render(); }

void PicDraw::paintEvent(QPaintEvent*) {
    if (image_.size() != size()) Render();
    QPainter painter(this);
    painter.drawImage(0, 0, image_);
}

}  // namespace zqd::ui
