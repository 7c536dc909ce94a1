// The viewer's 噪声 view: the PPSD of the current row over the span the
// waveforms showed, drawn at the widget's size with Peterson's models (when
// a sensor's response is set), or what it says instead (being made, no
// whole segment, no FFTW). Esc or N goes back to the waveforms.
#pragma once

#include <QWidget>

#include <memory>
#include <string>

#include "app/noise.h"

namespace zqd::ui {

class NoiseWidget : public QWidget {
    Q_OBJECT
public:
    explicit NoiseWidget(QWidget* parent = nullptr);
    void SetNoise(std::shared_ptr<const Noise> noise);
    // Shown instead of a PPSD (empty when there is one).
    void Say(std::string text);
    const Noise* Shown() const { return noise_.get(); }
    const std::string& Said() const { return said_; }

signals:
    void WavesAsked();

protected:
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    std::shared_ptr<const Noise> noise_;
    std::string said_;
};

}  // namespace zqd::ui
