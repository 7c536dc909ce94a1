#include "ui/pic_draw.h"

#include <QPainter>
#include <QPolygonF>

namespace zqd::ui {

void RenderTrace(QImage& image, const PicDrawModel& model, const QColor& background) {
    image.fill(background);
    const auto line = TraceLine(model, image.width(), image.height());
    if (line.empty()) return;
    const QColor color(static_cast<int>(model.Color & 0xFF), static_cast<int>((model.Color >> 8) & 0xFF),
                       static_cast<int>((model.Color >> 16) & 0xFF));
    QPainter painter(&image);
    painter.setPen(QPen(color, 0));
    QPolygonF polyline;
    polyline.reserve(static_cast<int>(line.size()));
    for (const TracePoint& p : line) polyline.append(QPointF(p.x, p.y));
    painter.drawPolyline(polyline);
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
