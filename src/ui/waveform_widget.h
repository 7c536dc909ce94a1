// The waveform view's face: paints a WaveformModel through a WaveformView
// (rows, amplitude and time axes, the timing strip, the cursor read-out) and
// turns wheel, drag and keys into zooming and panning. PaintWaveforms draws
// the same picture into any QPainter, for the headless plot.
#pragma once

#include <QImage>
#include <QPainter>
#include <QWidget>

#include <memory>

#include "view/waveform_view.h"

namespace zqd::ui {

// The column of row names and amplitudes at the left of the traces.
inline constexpr int kWaveformLabelWidth = 124;  // room for NET.STA.LOC.CHA

// Draws the view of `model` into `rect`.
void PaintWaveforms(QPainter& p, const QRect& rect, const view::WaveformModel& model, const view::WaveformView& v);
// The same into a new image of `size`.
QImage RenderWaveforms(const view::WaveformModel& model, const view::WaveformView& v, QSize size);

class WaveformWidget : public QWidget {
    Q_OBJECT
public:
    explicit WaveformWidget(QWidget* parent = nullptr);
    // Shows `model` (shared: a live model keeps growing) over all its time.
    void SetModel(std::shared_ptr<const view::WaveformModel> model, bool fit = true);
    const view::WaveformModel* Model() const { return model_.get(); }
    std::shared_ptr<const view::WaveformModel> Shared() const { return model_; }
    // What is drawn instead of the model, with the same rows (a filtered
    // copy of the span); null: the model.
    void SetDrawn(std::shared_ptr<const view::WaveformModel> drawn);
    const view::WaveformModel* Drawn() const { return drawn_ ? drawn_.get() : model_.get(); }
    view::WaveformView& View() { return view_; }
    // Live: after new blocks, follow them unless paused.
    void DataChanged();

    // The keys, for menus and tests: zoom in/out, pan, fit all.
    void ZoomIn() { Zoom(0.5); }
    void ZoomOut() { Zoom(2); }
    void FitAll();
    void TogglePause();
    void ToggleFixedScale();
    void ToggleVolts();

signals:
    void ViewChanged();
    // D, or Esc (`escape`): the helicorder asked for.
    void HelicorderAsked(bool escape);
    // N: the current row's noise asked for.
    void NoiseAsked();

protected:
    void paintEvent(QPaintEvent*) override;
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void leaveEvent(QEvent*) override;

private:
    void Zoom(double factor);
    int PlotLeft() const;
    int PlotWidth() const;
    int RowAt(int y) const;
    void Changed();

    std::shared_ptr<const view::WaveformModel> model_, drawn_;
    view::WaveformView view_;
    bool dragging_ = false, selecting_ = false;
    QPoint press_;
    int last_x_ = 0, select_to_ = 0;
};

}  // namespace zqd::ui
