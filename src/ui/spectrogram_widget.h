// The spectrogram under the waveforms in the viewer: one channel over the
// span the waveforms show, on the same time axis, made again only when the
// channel, the span or the frame length changes. A span holding more than
// kMostSamples samples is not transformed; the widget says to zoom in.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "signal/spectrogram.h"
#include "view/waveform_model.h"

namespace zqd::ui {

class SpectrogramWidget : public QWidget {
    Q_OBJECT
public:
    static constexpr std::size_t kMostSamples = 4'000'000;

    explicit SpectrogramWidget(QWidget* parent = nullptr);
    // Channel `c` of `m` over [t0, t1), in frames of `frame` samples (0: a
    // length that gives about one frame for every two pixels), drawn as
    // `scale` says.
    void Show(std::shared_ptr<const view::WaveformModel> m, int c, std::int64_t t0, std::int64_t t1, int frame,
              const signal::SpectrogramScale& scale = {});
    // What it says instead of a spectrogram (empty when it draws one).
    const std::string& Said() const { return said_; }
    // Its title, and the colours' range in dB it last drew (to keep fixed).
    const std::string& Title() const { return title_; }
    std::pair<double, double> DrawnDb() const { return drawn_db_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void Titled();  // the title and colours' range for what is shown, then drawn again

    std::shared_ptr<const view::WaveformModel> model_;
    int channel_ = 0, frame_ = 0;
    std::int64_t t0_ = 0, t1_ = 0;
    std::string said_, title_;
    signal::SpectrogramScale scale_;
    std::pair<double, double> drawn_db_{0, 0};
    signal::Spectrogram s_;
};

}  // namespace zqd::ui
