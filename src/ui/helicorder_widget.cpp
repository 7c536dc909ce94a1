#include "ui/helicorder_widget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "ui/helicorder_paint.h"

namespace zqd::ui {

HelicorderWidget::HelicorderWidget(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(320, 200);
}

void HelicorderWidget::SetModel(std::shared_ptr<const view::WaveformModel> model) {
    model_ = std::move(model);
    drawn_.reset();
    if (model_) view_.channel = std::clamp(view_.channel, 0, std::max(model_->ChannelCount() - 1, 0));
    update();
}

void HelicorderWidget::SetDrawn(std::shared_ptr<const view::WaveformModel> drawn) {
    drawn_ = std::move(drawn);
    update();
}

void HelicorderWidget::SetTitle(std::string title) {
    title_ = std::move(title);
    update();
}

view::HelicorderLayout HelicorderWidget::Layout() const {
    return model_ ? view_.Layout(*model_) : view::HelicorderLayout{};
}

QRect HelicorderWidget::PlotRect() const { return HelicorderPlotRect(rect(), !title_.empty()); }

std::optional<view::TimeSpan> HelicorderWidget::RowSpanAt(int y) const {
    if (!model_) return std::nullopt;
    const QRect plot = PlotRect();
    return view_.RowSpanAt(*model_, static_cast<double>(y - plot.top()) / plot.height());
}

void HelicorderWidget::Changed() {
    update();
    emit ViewChanged();
}

void HelicorderWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!model_ || !model_->Extent() || view_.channel >= model_->ChannelCount()) {
        p.fillRect(rect(), QColor(252, 252, 250));
        p.drawText(rect(), Qt::AlignCenter, "没有数据");
        return;
    }
    HelicorderStyle style;
    style.title = title_;
    PaintHelicorder(p, rect(), drawn_ ? *drawn_ : *model_, view_.channel, Layout(), style);
}

void HelicorderWidget::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    if (const auto span = RowSpanAt(e->pos().y())) emit RowChosen(span->begin_ns, span->end_ns);
}

void HelicorderWidget::keyPressEvent(QKeyEvent* e) {
    if (!model_) return QWidget::keyPressEvent(e);
    switch (e->key()) {
        case Qt::Key_PageUp: view_.Step(*model_, -1); break;
        case Qt::Key_PageDown: view_.Step(*model_, 1); break;
        case Qt::Key_End:
            view_.start.reset();
            view_.follow = true;
            break;
        case Qt::Key_M: view_.NextRowLength(); break;
        case Qt::Key_T: view_.NextSpan(); break;
        case Qt::Key_BracketLeft: view_.channel = std::max(view_.channel - 1, 0); break;
        case Qt::Key_BracketRight: view_.channel = std::min(view_.channel + 1, model_->ChannelCount() - 1); break;
        case Qt::Key_D: case Qt::Key_Escape: emit WavesAsked(); return;
        default: QWidget::keyPressEvent(e); return;
    }
    Changed();
}

}  // namespace zqd::ui
