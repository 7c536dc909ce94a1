#include "ui/noise_widget.h"

#include <QKeyEvent>
#include <QPainter>

#ifdef ZQD_HAVE_SPECTROGRAM
#include "ui/psd_plot.h"
#endif

namespace zqd::ui {

NoiseWidget::NoiseWidget(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(200);
}

void NoiseWidget::SetNoise(std::shared_ptr<const Noise> noise) {
    noise_ = std::move(noise);
    said_.clear();
    update();
}

void NoiseWidget::Say(std::string text) {
    noise_.reset();
    said_ = std::move(text);
    update();
}

void NoiseWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
#ifdef ZQD_HAVE_SPECTROGRAM
    if (noise_) {
        p.drawImage(0, 0, NoisePicture(*noise_, width(), height()));
        return;
    }
#endif
    p.fillRect(rect(), QColor(252, 252, 250));
    p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, QString::fromStdString(said_));
}

void NoiseWidget::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape || e->key() == Qt::Key_N) {
        emit WavesAsked();
        return;
    }
    QWidget::keyPressEvent(e);
}

}  // namespace zqd::ui
