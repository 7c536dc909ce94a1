#include "ui/spectrogram_paint.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <vector>

namespace zqd::ui {

namespace {

// Dark blue through teal and green to yellow: perceptually even enough, and
// readable in grey.
QRgb ColourOf(double u) {
    static const double stops[][3] = {{48, 18, 59}, {33, 102, 172}, {32, 164, 134}, {160, 208, 60}, {250, 231, 35}};
    u = std::clamp(u, 0.0, 1.0) * 4;
    const int i = std::min(3, static_cast<int>(u));
    const double f = u - i;
    auto mix = [&](int k) { return static_cast<int>(std::lround(stops[i][k] + (stops[i + 1][k] - stops[i][k]) * f)); };
    return qRgb(mix(0), mix(1), mix(2));
}

double NiceStep(double span, int most) {
    const double raw = span / std::max(1, most);
    const double p = std::pow(10, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= raw) return m * p;
    return 10 * p;
}

}  // namespace

std::pair<double, double> ColourRange(const signal::Spectrogram& s, const signal::SpectrogramScale& scale) {
    if (scale.fixed_db && scale.high_db > scale.low_db) return {scale.low_db, scale.high_db};
    if (s.db.empty()) return {0, 0};
    // From the 2nd to the 99.8th percentile of the powers.
    std::vector<float> sorted(s.db);
    const auto at = [&](double q) {
        auto it = sorted.begin() + static_cast<std::ptrdiff_t>(q * static_cast<double>(sorted.size() - 1));
        std::nth_element(sorted.begin(), it, sorted.end());
        return static_cast<double>(*it);
    };
    const double lo = at(0.02);
    return {lo, std::max(at(0.998), lo + 1)};
}

std::pair<double, double> PaintSpectrogram(QPainter& p, const QRect& rect, int label_width, const signal::Spectrogram& s,
                                           std::int64_t t0, std::int64_t t1, const std::string& title,
                                           const signal::SpectrogramScale& scale) {
    const QColor background(252, 252, 250), text(40, 40, 40);
    constexpr int kTitleLine = 18;
    p.fillRect(rect, background);
    const QRect plot(rect.left() + label_width, rect.top() + kTitleLine, std::max(rect.width() - label_width - 8, 1),
                     std::max(rect.height() - kTitleLine - 8, 1));
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
    p.setPen(text);
    p.drawText(QRect(rect.left() + 4, rect.top() + 1, rect.width() - 8, kTitleLine - 2), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromStdString(title));
    if (s.Frames() == 0 || t1 <= t0) return {0, 0};
    const auto [lo, hi] = ColourRange(s, scale);
    // Each pixel row's bin, then each pixel: the frame whose span holds its
    // time, the power of its row's bin.
    std::vector<int> bin_of(static_cast<std::size_t>(plot.height()));
    for (int y = 0; y < plot.height(); ++y) {
        const double hz = scale.HzAt(s, (plot.height() - y - 0.5) / plot.height());
        bin_of[static_cast<std::size_t>(y)] = std::clamp(static_cast<int>(std::lround(hz * s.frame / s.rate)), 0, s.bins - 1);
    }
    QImage image(plot.size(), QImage::Format_RGB32);
    for (int x = 0; x < plot.width(); ++x) {
        const double t = static_cast<double>(t0) + (x + 0.5) * static_cast<double>(t1 - t0) / plot.width();
        const double fi = std::round((t - static_cast<double>(s.first_ns)) / static_cast<double>(s.step_ns));
        const bool inside = fi >= 0 && fi < static_cast<double>(s.Frames());
        for (int y = 0; y < plot.height(); ++y)
            image.setPixel(x, y, inside ? ColourOf((s.At(static_cast<std::size_t>(fi), bin_of[static_cast<std::size_t>(y)]) - lo) / (hi - lo))
                                        : background.rgb());
    }
    p.drawImage(plot.topLeft(), image);
    // Frequencies, at the right of the label column: 1, 2, 5 of each decade
    // on a log axis (only the decades when they crowd), even steps otherwise.
    const auto [bottom_hz, top_hz] = scale.Range(s);
    std::vector<double> ticks;
    if (scale.log) {
        for (const double m : {1.0, 2.0, 5.0}) {
            for (double d = std::pow(10, std::floor(std::log10(bottom_hz))); d <= top_hz * 1.000001; d *= 10)
                if (m * d >= bottom_hz * 0.999999 && m * d <= top_hz * 1.000001) ticks.push_back(m * d);
            if (m == 1.0 && plot.height() < 60 * static_cast<int>(std::max<std::size_t>(ticks.size(), 1))) break;
        }
    } else {
        const double step = NiceStep(top_hz - bottom_hz, std::max(2, plot.height() / 40));
        for (double hz = std::ceil(bottom_hz / step - 1e-9) * step; hz <= top_hz + 1e-9; hz += step) ticks.push_back(hz);
    }
    for (const double hz : ticks) {
        const int y = plot.bottom() - static_cast<int>(std::lround(scale.At(s, hz) * plot.height()));
        p.drawLine(plot.left() - 4, y, plot.left() - 1, y);
        p.drawText(QRect(plot.left() - 56, y - 7, 50, 14), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(hz, 'g', 4) + " Hz");
    }
    // The colour bar: its range at its ends, its reference along it.
    const QRect bar(rect.left() + 6, plot.top() + 14, 10, std::max(plot.height() - 28, 10));
    for (int y = 0; y < bar.height(); ++y)
        p.fillRect(QRect(bar.left(), bar.top() + y, bar.width(), 1), QColor(ColourOf(1.0 - static_cast<double>(y) / bar.height())));
    p.drawRect(bar.adjusted(0, 0, -1, -1));
    p.drawText(QRect(rect.left() + 2, bar.top() - 14, 60, 13), Qt::AlignLeft | Qt::AlignBottom,
               QString::number(std::lround(hi)) + " dB");
    p.drawText(QRect(rect.left() + 2, bar.bottom() + 1, 60, 13), Qt::AlignLeft | Qt::AlignTop,
               QString::number(std::lround(lo)) + " dB");
    p.save();
    p.translate(bar.right() + 4, bar.center().y());
    p.rotate(-90);
    p.drawText(QRect(-bar.height() / 2, 0, bar.height(), 13), Qt::AlignHCenter | Qt::AlignTop,
               QString::fromUtf8(kSpectrogramDbReference));
    p.restore();
    return {lo, hi};
}

}  // namespace zqd::ui
