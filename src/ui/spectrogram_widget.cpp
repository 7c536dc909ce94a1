#include "ui/spectrogram_widget.h"

#include <QPainter>

#include <algorithm>
#include <bit>

#include "app/frm_viewer.h"
#include "app/messages.h"
#include "ui/waveform_widget.h"
#ifdef ZQD_HAVE_SPECTROGRAM
#include "ui/spectrogram_paint.h"
#endif

namespace zqd::ui {

SpectrogramWidget::SpectrogramWidget(QWidget* parent) : QWidget(parent) { setMinimumHeight(120); }

void SpectrogramWidget::Show(std::shared_ptr<const view::WaveformModel> m, int c, std::int64_t t0, std::int64_t t1,
                             int frame, const signal::SpectrogramScale& scale) {
    const bool same_scale = scale == scale_;
    const bool same_frame = frame > 0 || scale.low_hz == scale_.low_hz;
    if (m == model_ && c == channel_ && t0 == t0_ && t1 == t1_ && frame == frame_ && same_frame) {
        scale_ = scale;
        if (!same_scale) Titled();
        return;
    }
    scale_ = scale;
    model_ = std::move(m);
    channel_ = c;
    t0_ = t0;
    t1_ = t1;
    frame_ = frame;
    said_.clear();
    title_.clear();
    s_ = {};
#ifdef ZQD_HAVE_SPECTROGRAM
    if (!model_ || c < 0 || c >= model_->ChannelCount()) {
        said_ = "没有数据";
    } else if (const auto runs = model_->SamplesIn(c, t0, t1, kMostSamples); !runs) {
        said_ = "时段内样本太多，放大到 " + std::to_string(kMostSamples) + " 个样本以内再看频谱图";
    } else {
        // The longest run without a gap.
        const view::SampleRun* longest = nullptr;
        for (const auto& run : *runs)
            if (!longest || run.values.size() > longest->values.size()) longest = &run;
        const std::size_t n = longest ? longest->values.size() : 0;
        int use = frame;
        if (use <= 0 && n >= 64) {
            // About a frame for every two pixels across, but long enough for
            // two bins below the lowest frequency asked for, within the run.
            std::size_t want = std::clamp<std::size_t>(n * 4 / static_cast<std::size_t>(std::max(width(), 200)), 64, 8192);
            if (scale.low_hz > 0 && longest->rate > 0)
                want = std::max(want, static_cast<std::size_t>(std::min(2 * longest->rate / scale.low_hz, 65536.0)));
            use = static_cast<int>(std::min(std::bit_ceil(want), std::bit_floor(std::min<std::size_t>(n, 65536))));
        }
        const Status st = signal::ComputeSpectrogram(longest ? longest->values.data() : nullptr, n,
                                                   longest ? longest->rate : 0, longest ? longest->start_ns : 0, use, s_);
        if (!st.ok()) said_ = app::Text(st);
    }
#else
    said_ = "本程序构建时没有 FFTW3，不能画频谱图";
#endif
    Titled();
}

void SpectrogramWidget::Titled() {
    if (said_.empty() && model_) {
        title_ = SpectrogramTitle(model_->At(channel_).name, s_, scale_);
#ifdef ZQD_HAVE_SPECTROGRAM
        drawn_db_ = ColourRange(s_, scale_);
#endif
    }
    update();
}

void SpectrogramWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
#ifdef ZQD_HAVE_SPECTROGRAM
    if (said_.empty() && model_) {
        PaintSpectrogram(p, rect(), kWaveformLabelWidth, s_, t0_, t1_, title_, scale_);
        return;
    }
#endif
    p.fillRect(rect(), QColor(252, 252, 250));
    p.drawText(rect(), Qt::AlignCenter, QString::fromStdString(said_));
}

}  // namespace zqd::ui
