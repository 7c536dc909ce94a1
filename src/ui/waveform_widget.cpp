#include "ui/waveform_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <optional>

#include "formats/csv/t2csv.h"

namespace zqd::ui {

namespace {

constexpr int kLabelWidth = kWaveformLabelWidth;
constexpr int kTopHeight = 18;    // the cursor's time
constexpr int kAxisHeight = 34;   // ticks, their labels and the date
constexpr int kStripHeight = 6;   // the timing strip

const QColor kBackground(252, 252, 250), kTrace(20, 60, 150), kGrid(225, 228, 232), kText(40, 40, 40),
    kCarried(230, 140, 20), kTimed(120, 180, 120), kCursor(200, 30, 30), kSelect(80, 120, 220, 60);

QString AmplitudeText(std::int32_t code, bool volts) {
    return volts ? QString::number(csv::CodeToVolts(code), 'f', 3) + " V" : QString::number(code);
}

struct Layout {
    QRect plot, axis, strip, top;
    std::vector<int> rows;
    std::vector<double> edges;  // row i from edges[i] to edges[i + 1]
    QRect Row(std::size_t i) const {
        const int y0 = static_cast<int>(std::lround(edges[i]));
        const int y1 = static_cast<int>(std::lround(edges[i + 1]));
        return QRect(plot.left(), y0, plot.width(), y1 - y0);
    }
};

Layout LayoutOf(const QRect& r, const view::WaveformView& v) {
    Layout l;
    l.top = QRect(r.left(), r.top(), r.width(), kTopHeight);
    l.plot = QRect(r.left() + kLabelWidth, r.top() + kTopHeight, std::max(r.width() - kLabelWidth - 8, 1),
                   std::max(r.height() - kTopHeight - kAxisHeight - kStripHeight, 1));
    l.strip = QRect(l.plot.left(), l.plot.bottom() + 1, l.plot.width(), kStripHeight);
    l.axis = QRect(l.plot.left(), l.strip.bottom() + 1, l.plot.width(), kAxisHeight);
    l.rows = v.ShownRows();
    double total = 0;
    for (int r : l.rows) total += v.Weight(r);
    l.edges.push_back(l.plot.top());
    for (int r : l.rows) l.edges.push_back(l.edges.back() + static_cast<double>(l.plot.height()) * v.Weight(r) / total);
    return l;
}

void PaintRow(QPainter& p, const QRect& row, const view::WaveformModel& m, const view::WaveformView& v, int c) {
    const view::MinMax scale = v.RowScale(m, c);
    const double lo = scale.min, hi = scale.max;
    const double top = row.top() + 3, height = std::max(row.height() - 6, 1);
    auto y_of = [&](double value) { return top + (hi - value) / (hi - lo) * height; };
    const int width = row.width();
    const double x0 = row.left();
    p.setPen(QPen(kTrace, 1));
    // Fine enough to draw every sample: lines between them, and the samples
    // as dots once they are a few pixels apart.
    if (const auto runs = m.SamplesIn(c, v.Begin(), v.End(), static_cast<std::size_t>(width))) {
        std::optional<std::pair<std::int64_t, QPointF>> last;  // the previous run's last sample
        for (const auto& run : *runs) {
            QVector<QPointF> points;
            points.reserve(static_cast<int>(run.values.size()) + 1);
            // Runs that follow each other without a missing sample (files
            // split at midnight) are one line; anything more is a gap.
            if (last && std::llabs(run.start_ns - last->first - static_cast<std::int64_t>(1e9 / run.rate)) <=
                            static_cast<std::int64_t>(0.5e9 / run.rate))
                points.push_back(last->second);
            for (std::size_t i = 0; i < run.values.size(); ++i) {
                const auto t = run.start_ns + static_cast<std::int64_t>(std::llround(static_cast<double>(i) * 1e9 / run.rate));
                points.push_back(QPointF(x0 + v.XOf(t, width), y_of(run.values[i])));
            }
            p.drawPolyline(points.constData(), points.size());
            if (!run.values.empty())
                last = {{run.start_ns + static_cast<std::int64_t>(std::llround(static_cast<double>(run.values.size() - 1) * 1e9 / run.rate)),
                         points.back()}};
            const double spacing = 1e9 / run.rate * width / static_cast<double>(v.Span());
            if (spacing >= 4)
                for (const QPointF& pt : points) p.drawRect(QRectF(pt.x() - 1.5, pt.y() - 1.5, 3, 3));
        }
        return;
    }
    // Coarser: each pixel column's smallest to largest value, joined to the
    // column before when that one has data too; empty columns stay empty.
    const auto env = m.Envelope(c, v.Begin(), v.End(), width);
    // Whole pixels, so that a flat column still shows as one, set into an
    // image of the row's own and laid over it at once: a painter's rectangles
    // of a pixel's width cost a span each row of pixels, some 30 000 of them
    // a redraw of a window of rows.
    QImage trace(row.size(), QImage::Format_ARGB32_Premultiplied);
    trace.fill(Qt::transparent);
    const QRgb colour = kTrace.rgba();
    const int last_y = trace.height() - 1;
    uchar* const bits = trace.bits();
    const auto per_line = static_cast<std::ptrdiff_t>(trace.bytesPerLine());
    for (int x = 0; x < width; ++x) {
        const view::MinMax& e = env[static_cast<std::size_t>(x)];
        if (e.Empty()) continue;
        double a = e.min, b = e.max;
        if (x > 0 && !env[static_cast<std::size_t>(x - 1)].Empty()) {
            a = std::min<double>(a, env[static_cast<std::size_t>(x - 1)].max);
            b = std::max<double>(b, env[static_cast<std::size_t>(x - 1)].min);
        }
        const int top_y = std::clamp(static_cast<int>(std::floor(y_of(b))) - row.top(), 0, last_y + 1);
        const int bottom_y = std::clamp(static_cast<int>(std::floor(y_of(a))) + 1 - row.top(), 0, last_y + 1);
        for (int y = top_y; y < bottom_y; ++y) reinterpret_cast<QRgb*>(bits + per_line * y)[x] = colour;
    }
    p.drawImage(row.topLeft(), trace);
}

}  // namespace

void PaintWaveforms(QPainter& p, const QRect& rect, const view::WaveformModel& m, const view::WaveformView& v) {
    const Layout l = LayoutOf(rect, v);
    p.fillRect(rect, kBackground);
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
    const auto ticks = view::TimeTicks(v.Begin(), v.End(), l.plot.width());
    // Grid lines at the ticks.
    p.setPen(kGrid);
    for (const auto& t : ticks) {
        const double x = l.plot.left() + v.XOf(t.t_ns, l.plot.width());
        p.drawLine(QPointF(x, l.plot.top()), QPointF(x, l.plot.bottom()));
    }
    // The rows: name, scale, trace.
    for (std::size_t i = 0; i < l.rows.size(); ++i) {
        const int c = l.rows[i];
        const QRect row = l.Row(i);
        p.setPen(kGrid);
        p.drawLine(QPoint(rect.left(), row.bottom()), QPoint(rect.right(), row.bottom()));
        p.setClipRect(row);
        PaintRow(p, row, m, v, c);
        p.setClipping(false);
        const view::MinMax scale = v.RowScale(m, c);
        const QRect label(rect.left() + 4, row.top(), kLabelWidth - 10, row.height());
        if (v.mark_current_row && c == v.current_row) p.fillRect(QRect(rect.left(), row.top(), 4, row.height()), kCursor);
        p.setPen(kText);
        // The whole NET.STA.LOC.CHA: two locations' LCE are two rows.
        const QString name = QString::fromStdString(m.At(c).name);
        p.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, p.fontMetrics().elidedText(name, Qt::ElideMiddle, label.width()));
        // The value under the cursor beside it, in the row, never under the labels.
        if (v.cursor)
            if (const auto value = m.ValueAt(c, *v.cursor)) {
                const QString text = AmplitudeText(value->second, v.volts);
                const double x = l.plot.left() + v.XOf(*v.cursor, l.plot.width());
                const int w = p.fontMetrics().horizontalAdvance(text) + 6, h = p.fontMetrics().height();
                // Right of the cursor, or left of it near the right edge.
                const int left = x + 4 + w <= l.plot.right() ? static_cast<int>(x) + 4 : static_cast<int>(x) - 4 - w;
                const QRect box(std::max(left, l.plot.left()), row.top() + 2, w, h);
                p.fillRect(box, QColor(255, 255, 255, 220));
                p.drawText(box, Qt::AlignCenter, text);
            }
        if (row.height() >= 36) {
            p.setPen(QColor(120, 120, 120));
            p.drawText(label, Qt::AlignRight | Qt::AlignTop, AmplitudeText(scale.max, v.volts));
            p.drawText(label, Qt::AlignRight | Qt::AlignBottom, AmplitudeText(scale.min, v.volts));
        }
    }
    // The timing strip: where there is data, and where its time was only carried.
    p.fillRect(l.strip, QColor(235, 235, 235));
    for (const auto& e : m.Covered(v.Begin(), v.End())) {  // gaps stay grey
        const double a = std::max(0.0, v.XOf(e.begin_ns, l.plot.width())), b = std::min<double>(l.plot.width(), v.XOf(e.end_ns, l.plot.width()));
        if (b > a) p.fillRect(QRectF(l.strip.left() + a, l.strip.top() + 2, std::max(b - a, 1.0), l.strip.height() - 4), kTimed);
    }
    for (const auto& s : m.Carried()) {
        const double a = std::max(0.0, v.XOf(s.begin_ns, l.plot.width()));
        const double b = std::min<double>(l.plot.width(), v.XOf(s.end_ns, l.plot.width()));
        if (b > a) p.fillRect(QRectF(l.strip.left() + a, l.strip.top(), std::max(b - a, 1.0), l.strip.height()), kCarried);
    }
    // The time axis: ticks and labels, and the full date at its left end.
    p.setPen(kText);
    p.drawLine(l.axis.topLeft(), l.axis.topRight());
    for (const auto& t : ticks) {
        const double x = l.axis.left() + v.XOf(t.t_ns, l.axis.width());
        p.drawLine(QPointF(x, l.axis.top()), QPointF(x, l.axis.top() + 4));
        // Centred on its tick, but kept whole inside the picture at its ends.
        const QString label = QString::fromStdString(t.label);
        const double w = p.fontMetrics().horizontalAdvance(label) + 2;
        const double left = std::clamp(x - w / 2, static_cast<double>(rect.left()), rect.right() - w);
        p.drawText(QRectF(left, l.axis.top() + 4, w, 14), Qt::AlignHCenter | Qt::AlignTop, label);
    }
    p.drawText(QRect(rect.left() + 4, l.axis.top() + 18, rect.width() - 8, 14), Qt::AlignLeft | Qt::AlignTop,
               QString::fromStdString(view::DateText(v.Begin()) + " UTC"));
    // The cursor and its time.
    if (v.cursor) {
        const double x = l.plot.left() + v.XOf(*v.cursor, l.plot.width());
        p.setPen(QPen(kCursor, 1, Qt::DashLine));
        p.drawLine(QPointF(x, l.plot.top()), QPointF(x, l.plot.bottom()));
        p.setPen(kText);
        p.drawText(l.top.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromStdString(view::CursorTimeText(*v.cursor)));
    }
    QString state = QString::fromStdString(v.note.empty() ? v.note : v.note + "  ");
    if (v.fixed_scale) state += "固定幅度  ";
    if (v.volts) state += "伏特  ";
    if (v.paused) state += "已暂停";
    p.drawText(l.top.adjusted(4, 0, -8, 0), Qt::AlignRight | Qt::AlignVCenter, state);
}

QImage RenderWaveforms(const view::WaveformModel& model, const view::WaveformView& v, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    PaintWaveforms(p, image.rect(), model, v);
    return image;
}

WaveformWidget::WaveformWidget(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(320, 160);
    view_.mark_current_row = true;
}

void WaveformWidget::SetModel(std::shared_ptr<const view::WaveformModel> model, bool fit) {
    model_ = std::move(model);
    drawn_.reset();
    view_.SetRowCount(model_ ? model_->ChannelCount() : 0);
    if (fit && model_) view_.Fit(*model_);
    Changed();
}

void WaveformWidget::SetDrawn(std::shared_ptr<const view::WaveformModel> drawn) {
    if (drawn == drawn_) return;
    drawn_ = std::move(drawn);
    update();
}

void WaveformWidget::DataChanged() {
    if (!model_) return;
    view_.SetRowCount(model_->ChannelCount());
    view_.Follow(*model_);
    update();
}

void WaveformWidget::FitAll() {
    if (model_) view_.Fit(*model_);
    Changed();
}

void WaveformWidget::TogglePause() {
    view_.paused = !view_.paused;
    if (model_) view_.Follow(*model_);
    Changed();
}

void WaveformWidget::ToggleFixedScale() {
    if (view_.fixed_scale)
        view_.fixed_scale = false;
    else if (model_)
        view_.FixScale(*model_);
    Changed();
}

void WaveformWidget::ToggleVolts() {
    view_.volts = !view_.volts;
    Changed();
}

void WaveformWidget::Changed() {
    update();
    emit ViewChanged();
}

int WaveformWidget::PlotLeft() const { return kLabelWidth; }
int WaveformWidget::PlotWidth() const { return std::max(width() - kLabelWidth - 8, 1); }

int WaveformWidget::RowAt(int y) const {
    const Layout l = LayoutOf(rect(), view_);
    if (l.rows.empty() || y < l.plot.top() || y > l.plot.bottom()) return -1;
    for (std::size_t i = 0; i < l.rows.size(); ++i)
        if (y < l.edges[i + 1]) return l.rows[i];
    return l.rows.back();
}

void WaveformWidget::Zoom(double factor) {
    // About the cursor when there is one, else about the middle.
    view_.Zoom(factor, view_.cursor ? *view_.cursor : view_.Begin() + view_.Span() / 2);
    view_.paused = true;  // a zoomed live view stays where it is
    Changed();
}

void WaveformWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!model_ || !model_->Extent()) {
        p.fillRect(rect(), kBackground);
        p.drawText(rect(), Qt::AlignCenter, "没有数据");
        return;
    }
    PaintWaveforms(p, rect(), drawn_ ? *drawn_ : *model_, view_);
    if (selecting_) {
        const int a = std::min(press_.x(), select_to_), b = std::max(press_.x(), select_to_);
        p.fillRect(QRect(a, kTopHeight, b - a, height() - kTopHeight - kAxisHeight - kStripHeight), kSelect);
    }
}

void WaveformWidget::wheelEvent(QWheelEvent* e) {
    const double steps = e->angleDelta().y() / 120.0;
    if (steps == 0) return;
    if (e->modifiers() & Qt::ControlModifier) {  // the row under the mouse, taller or shorter
        const int row = RowAt(static_cast<int>(e->position().y()));
        if (row >= 0) view_.Resize(row, std::pow(1.25, steps));
        Changed();
        e->accept();
        return;
    }
    const double x = e->position().x() - PlotLeft();
    view_.ZoomAtX(std::pow(0.8, steps), x, PlotWidth());
    view_.paused = true;
    Changed();
    e->accept();
}

void WaveformWidget::mousePressEvent(QMouseEvent* e) {
    press_ = e->pos();
    last_x_ = e->pos().x();
    select_to_ = e->pos().x();
    // Left: pan. Right, or left with Shift: a span to zoom to.
    selecting_ = e->button() == Qt::RightButton || (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ShiftModifier));
    dragging_ = !selecting_ && e->button() == Qt::LeftButton;
    if (e->button() == Qt::LeftButton && e->pos().x() < PlotLeft()) {  // a click on a row's name makes it current
        if (const int row = RowAt(e->pos().y()); row >= 0) view_.current_row = row;
        dragging_ = false;
        Changed();
    }
}

void WaveformWidget::mouseMoveEvent(QMouseEvent* e) {
    const int x = e->pos().x();
    if (x >= PlotLeft()) view_.cursor = view_.TimeAtX(x - PlotLeft(), PlotWidth());
    if (dragging_) {
        view_.PanPixels(x - last_x_, PlotWidth());
        view_.paused = true;
        last_x_ = x;
    }
    if (selecting_) select_to_ = x;
    Changed();
}

void WaveformWidget::mouseReleaseEvent(QMouseEvent* e) {
    if (selecting_ && std::abs(e->pos().x() - press_.x()) > 3) {
        view_.SetSpan(view_.TimeAtX(press_.x() - PlotLeft(), PlotWidth()), view_.TimeAtX(e->pos().x() - PlotLeft(), PlotWidth()));
        view_.paused = true;
    }
    selecting_ = dragging_ = false;
    Changed();
}

void WaveformWidget::leaveEvent(QEvent*) {
    view_.cursor.reset();
    Changed();
}

void WaveformWidget::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (e->modifiers() & Qt::ControlModifier) {  // the current row, taller or shorter
                view_.Resize(view_.current_row, e->key() == Qt::Key_Up ? 1.25 : 0.8);
                Changed();
            } else if (e->key() == Qt::Key_Up) {
                ZoomIn();
            } else {
                ZoomOut();
            }
            break;
        case Qt::Key_Plus: case Qt::Key_Equal: ZoomIn(); break;
        case Qt::Key_Minus: ZoomOut(); break;
        case Qt::Key_Left: view_.Pan(-0.1); view_.paused = true; Changed(); break;
        case Qt::Key_Right: view_.Pan(0.1); view_.paused = true; Changed(); break;
        case Qt::Key_PageUp: view_.Pan(-1); view_.paused = true; Changed(); break;
        case Qt::Key_PageDown: view_.Pan(1); view_.paused = true; Changed(); break;
        case Qt::Key_Home: case Qt::Key_F: FitAll(); break;
        case Qt::Key_Space: case Qt::Key_P: TogglePause(); break;
        case Qt::Key_S: ToggleFixedScale(); break;
        case Qt::Key_V: ToggleVolts(); break;
        case Qt::Key_A:  // all rows shown again
            for (int r = 0; model_ && r < model_->ChannelCount(); ++r) view_.SetHidden(r, false);
            Changed();
            break;
        case Qt::Key_H:  // hides the current row
            view_.SetHidden(view_.current_row, true);
            view_.StepRow(1);
            Changed();
            break;
        case Qt::Key_D: case Qt::Key_Escape: emit HelicorderAsked(e->key() == Qt::Key_Escape); break;
        case Qt::Key_N: emit NoiseAsked(); break;
        case Qt::Key_BracketLeft: view_.StepRow(-1); Changed(); break;
        case Qt::Key_BracketRight: view_.StepRow(1); Changed(); break;
        case Qt::Key_Comma: case Qt::Key_Period: {  // the cursor, a pixel (Shift: ten) at a time
            const double px = (e->key() == Qt::Key_Comma ? -1 : 1) * ((e->modifiers() & Qt::ShiftModifier) ? 10 : 1);
            const double x = view_.cursor ? view_.XOf(*view_.cursor, PlotWidth()) : PlotWidth() / 2.0;
            view_.cursor = view_.TimeAtX(std::clamp(x + px, 0.0, static_cast<double>(PlotWidth())), PlotWidth());
            Changed();
            break;
        }
        default: QWidget::keyPressEvent(e);
    }
}

}  // namespace zqd::ui
