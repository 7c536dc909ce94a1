// The helicorder's face in the viewer: one channel's day folded into rows,
// drawn from the model's summaries (or from a filtered copy when one is
// ready). Keys: PageUp/PageDown the period before or after, End the newest
// (following it as the data grow), M the row length, T 12 or 24 hours,
// [ and ] the channel, D or Esc back to the waveforms. A click on a row
// asks for the waveforms of that row's span.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>

#include "view/helicorder.h"

namespace zqd::ui {

class HelicorderWidget : public QWidget {
    Q_OBJECT
public:
    explicit HelicorderWidget(QWidget* parent = nullptr);
    void SetModel(std::shared_ptr<const view::WaveformModel> model);
    // What is drawn instead of the model (a filtered copy of the span); null: the model.
    void SetDrawn(std::shared_ptr<const view::WaveformModel> drawn);
    const view::WaveformModel* Model() const { return model_.get(); }
    const view::WaveformModel* Drawn() const { return drawn_ ? drawn_.get() : model_.get(); }
    const std::string& Title() const { return title_; }
    view::HelicorderView& View() { return view_; }
    view::HelicorderLayout Layout() const;
    void SetTitle(std::string title);
    // Where the rows are drawn, in widget pixels.
    QRect PlotRect() const;
    // The row at `y` in widget pixels, as the span to show; empty outside the rows.
    std::optional<view::TimeSpan> RowSpanAt(int y) const;

signals:
    void ViewChanged();
    void RowChosen(qint64 t0, qint64 t1);
    void WavesAsked();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void Changed();

    std::shared_ptr<const view::WaveformModel> model_, drawn_;
    view::HelicorderView view_;
    std::string title_;
};

}  // namespace zqd::ui
