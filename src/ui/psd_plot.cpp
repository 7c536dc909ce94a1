#include "ui/psd_plot.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <limits>
#include <numbers>

#include "app/archive_texts.h"
#include "app/frm_viewer.h"
#include "common/numtext.h"
#include "archive/station_metadata.h"
#include "platform/safe_file.h"
#include "platform/text.h"
#include "signal/noise_models.h"
#include "signal/response.h"
#include "ui/plot.h"
#include "ui/plot_title.h"

namespace zqd::ui {

namespace {

// Probability to colour: white for none, then blue, cyan, yellow, red.
QColor Heat(double p) {
    if (p <= 0) return Qt::white;
    const double t = std::clamp(std::sqrt(p / 0.3), 0.0, 1.0);
    const QColor stops[] = {QColor(220, 230, 255), QColor(40, 80, 220), QColor(0, 200, 200), QColor(250, 230, 0),
                            QColor(220, 20, 20)};
    const double at = t * 4;
    const int i = std::min(3, static_cast<int>(at));
    const double f = at - i;
    const auto mix = [&](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * f)); };
    return QColor(mix(stops[i].red(), stops[i + 1].red()), mix(stops[i].green(), stops[i + 1].green()),
                  mix(stops[i].blue(), stops[i + 1].blue()));
}

QImage Draw(const signal::Ppsd& ppsd, bool models, int width, int height, const std::string& db_label) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    const QRect plot(72, 10, width - 72 - 70, height - 10 - 46);  // the colours' scale at the right
    const double lp0 = std::log10(ppsd.periods.front() / std::pow(2.0, 1.0 / 16));
    const double lp1 = std::log10(ppsd.periods.back() * std::pow(2.0, 1.0 / 16));
    const auto x_of = [&](double period) { return plot.left() + (std::log10(period) - lp0) / (lp1 - lp0) * plot.width(); };
    // The levels drawn: those the segments reached and the models' span
    // (about -190 to -90 dB), 10 dB more each way, in whole 20 dB.
    double seen_low = models ? -190 : std::numeric_limits<double>::infinity();
    double seen_high = models ? -90 : -std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < ppsd.periods.size(); ++i)
        for (int b = 0; b < ppsd.Bins(); ++b)
            if (ppsd.At(i, b) > 0) {
                seen_low = std::min(seen_low, ppsd.low_db + b);
                seen_high = std::max(seen_high, ppsd.low_db + b + 1);
            }
    if (!(seen_low < seen_high)) seen_low = ppsd.low_db, seen_high = ppsd.high_db;
    const double low_db = std::max(ppsd.low_db, std::floor((seen_low - 10) / 20) * 20);
    const double high_db = std::min(ppsd.high_db, std::ceil((seen_high + 10) / 20) * 20);
    const auto y_of = [&](double db) { return plot.top() + (high_db - db) / (high_db - low_db) * plot.height(); };
    for (std::size_t i = 0; i < ppsd.periods.size(); ++i) {
        const double total = ppsd.Total(i);
        if (total <= 0) continue;
        const double xa = x_of(ppsd.periods[i] / std::pow(2.0, 1.0 / 16)), xb = x_of(ppsd.periods[i] * std::pow(2.0, 1.0 / 16));
        for (int b = 0; b < ppsd.Bins(); ++b) {
            const std::uint32_t n = ppsd.At(i, b);
            if (n == 0) continue;
            const double ya = y_of(ppsd.low_db + b + 1), yb = y_of(ppsd.low_db + b);
            p.fillRect(QRectF(xa, ya, xb - xa + 0.5, yb - ya + 0.5), Heat(n / total));
        }
    }
    // Decades of period, every 20 dB.
    p.setPen(QColor(150, 150, 150));
    for (int e = static_cast<int>(std::floor(lp0)); e <= static_cast<int>(std::ceil(lp1)); ++e) {
        const double x = x_of(std::pow(10.0, e));
        if (x < plot.left() || x > plot.right()) continue;
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(Qt::black);
        p.drawText(QRectF(x - 40, plot.bottom() + 4, 80, 16), Qt::AlignHCenter | Qt::AlignTop,
                   QString::fromStdString(FixedText(std::pow(10.0, e), e < 0 ? -e : 0)));
        p.setPen(QColor(150, 150, 150));
    }
    for (int db = static_cast<int>(std::ceil(low_db / 20)) * 20; db <= high_db; db += 20) {
        const double y = y_of(db);
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(Qt::black);
        p.drawText(QRectF(0, y - 8, plot.left() - 6, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(db));
        p.setPen(QColor(150, 150, 150));
    }
    if (models) {
        for (auto* model : {&signal::NewLowNoiseModel, &signal::NewHighNoiseModel}) {
            QPolygonF line;
            for (double period = std::pow(10.0, lp0); period <= std::pow(10.0, lp1); period *= 1.02)
                if (const double v = model(period); std::isfinite(v)) line << QPointF(x_of(period), y_of(v));
            p.setPen(QPen(QColor(60, 60, 60), 2));
            p.drawPolyline(line);
        }
        p.setPen(Qt::black);
        p.drawText(QRect(plot.right() - 404, plot.top() + 4, 400, 16), Qt::AlignRight,
                   QString::fromUtf8("Peterson (1993) 新低噪声模型 NLNM、新高噪声模型 NHNM"));
    }
    // The colours' scale, right of the plot: the share of the segments at a level, 0 to 30 % and beyond.
    const QRect scale(plot.right() + 24, plot.top() + 36, 12, std::min(200, plot.height() / 2));
    for (int y = 0; y < scale.height(); ++y)
        p.fillRect(QRect(scale.left(), scale.bottom() - y, scale.width(), 1), Heat(0.3 * (y + 0.5) / scale.height()));
    p.setPen(Qt::black);
    p.drawRect(scale.adjusted(0, 0, -1, -1));
    p.drawText(QRect(plot.right() + 4, scale.top() - 34, 64, 14), Qt::AlignHCenter, QString::fromUtf8("概率"));
    p.drawText(QRect(plot.right() + 4, scale.top() - 18, 64, 14), Qt::AlignHCenter, QString::fromUtf8("≥30%"));
    p.drawText(QRect(plot.right() + 4, scale.bottom() + 3, 64, 14), Qt::AlignHCenter, "0");
    p.setPen(Qt::black);
    p.drawRect(plot);
    p.drawText(QRect(plot.left(), plot.bottom() + 22, plot.width(), 18), Qt::AlignHCenter, QString::fromUtf8("周期（秒）"));
    p.save();
    p.translate(14, plot.center().y());
    p.rotate(-90);
    p.drawText(QRect(-plot.height() / 2, -10, plot.height(), 18), Qt::AlignHCenter, QString::fromStdString(db_label));
    p.restore();
    return image;
}

}  // namespace

QImage NoisePicture(const Noise& n, int width, int height) {
    PlotTitle title;
    title.channels = {n.name};
    title.begin_ns = n.first_ns;
    title.end_ns = n.last_ns;
    title.what = "PPSD（McNamara 与 Buland 2004），" + std::to_string(n.ppsd.segments) + " 段，每段 " +
                 FixedText(n.segment_seconds, 0) + " 秒";
    title.unit = n.acceleration ? "加速度，已去仪器响应" : "count（无传感器响应）";
    return Titled(Draw(n.ppsd, n.acceleration, width, std::max(height - kPlotTitleHeight, 120), NoiseDbLabel(n)), title);
}

Status PlotPsd(const PsdRequest& r, std::string& said) {
    FrmViewer viewer(r.config);
    if (Status s = viewer.Open(r.archive, r.from, r.to); !s.ok()) return s;
    const view::WaveformModel& m = *viewer.Opened().model;
    std::vector<int> order;
    const auto rows = SelectRows(m, r.channel, &order);
    if (!rows || order.empty()) {
        Status refused = rows ? Status::Fail(Status::Code::kFileRefused, Status::Why::kNoSuchChannel).About(r.channel) : rows.status();
        refused.code = Status::Code::kFileRefused;
        return refused;
    }
    const auto noise = MakeNoise(m, order.front(), r.from, r.to, r.config, r.segment_seconds);
    if (!noise) return noise.status();
    said = NoiseSaid(*noise);
    if (!r.csv.empty()) {
        if (Status s = WriteWhole(r.csv, NoiseCsv(*noise)); !s.ok()) return s;
        said += "\n写出 " + platform::PathText(r.csv);
    }
    if (!r.out.empty()) {
        const auto app = HeadlessApplication();
        if (Status s = SavePicture(NoisePicture(*noise, r.width, r.height), r.out); !s.ok()) return s;
        said += "\n写出 " + platform::PathText(r.out);
    }
    return Status::Ok();
}

}  // namespace zqd::ui
