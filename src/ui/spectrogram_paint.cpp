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

void PaintSpectrogram(QPainter& p, const QRect& rect, int label_width, const signal::Spectrogram& s, std::int64_t t0,
                      std::int64_t t1, const std::string& title, double top_hz) {
    const QColor background(252, 252, 250), text(40, 40, 40);
    p.fillRect(rect, background);
    const QRect plot(rect.left() + label_width, rect.top() + 14, std::max(rect.width() - label_width - 8, 1),
                     std::max(rect.height() - 20, 1));
    if (s.Frames() == 0 || t1 <= t0) return;
    // The colour scale: from the 2nd to the 99.8th percentile of the powers.
    std::vector<float> sorted(s.db);
    const auto at = [&](double q) {
        auto it = sorted.begin() + static_cast<std::ptrdiff_t>(q * static_cast<double>(sorted.size() - 1));
        std::nth_element(sorted.begin(), it, sorted.end());
        return static_cast<double>(*it);
    };
    const double lo = at(0.02), hi = std::max(at(0.998), lo + 1);
    // Each pixel: the frame whose span holds its time, the bin of its frequency.
    QImage image(plot.size(), QImage::Format_RGB32);
    const double nyquist = top_hz > 0 && top_hz < s.rate / 2 ? top_hz : s.rate / 2;  // the top of the picture
    for (int x = 0; x < plot.width(); ++x) {
        const double t = static_cast<double>(t0) + (x + 0.5) * static_cast<double>(t1 - t0) / plot.width();
        const double fi = std::round((t - static_cast<double>(s.first_ns)) / static_cast<double>(s.step_ns));
        const bool inside = fi >= 0 && fi < static_cast<double>(s.Frames());
        for (int y = 0; y < plot.height(); ++y) {
            QRgb c = qRgb(252, 252, 250);
            if (inside) {
                const double hz = (plot.height() - y - 0.5) * nyquist / plot.height();
                const int bin = std::clamp(static_cast<int>(std::lround(hz * s.frame / s.rate)), 0, s.bins - 1);
                c = ColourOf((s.At(static_cast<std::size_t>(fi), bin) - lo) / (hi - lo));
            }
            image.setPixel(x, y, c);
        }
    }
    p.drawImage(plot.topLeft(), image);
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);
    p.setPen(text);
    p.drawText(QRect(rect.left() + 4, plot.top(), label_width - 8, 16), Qt::AlignLeft | Qt::AlignTop,
               QString::fromStdString(title));
    // Frequencies, at the right of the label column.
    const double step = NiceStep(nyquist, std::max(2, plot.height() / 40));
    for (double hz = 0; hz <= nyquist + 1e-9; hz += step) {
        const int y = plot.bottom() - static_cast<int>(std::lround(hz / nyquist * plot.height()));
        p.drawLine(plot.left() - 4, y, plot.left() - 1, y);
        p.drawText(QRect(plot.left() - 50, y - 7, 44, 14), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(hz, 'g', 4) + " Hz");
    }
    // The colour bar, below the title: the scale in dB.
    const QRect bar(rect.left() + 6, plot.top() + 22, 10, std::max(plot.height() - 30, 10));
    for (int y = 0; y < bar.height(); ++y)
        p.fillRect(QRect(bar.left(), bar.top() + y, bar.width(), 1), QColor(ColourOf(1.0 - static_cast<double>(y) / bar.height())));
    p.drawRect(bar.adjusted(0, 0, -1, -1));
    p.drawText(QRect(bar.right() + 3, bar.top() - 2, 40, 14), Qt::AlignLeft | Qt::AlignTop, QString::number(std::lround(hi)) + " dB");
    p.drawText(QRect(bar.right() + 3, bar.bottom() - 12, 40, 14), Qt::AlignLeft | Qt::AlignBottom, QString::number(std::lround(lo)) + " dB");
}

}  // namespace zqd::ui
