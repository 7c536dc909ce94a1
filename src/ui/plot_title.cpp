#include "ui/plot_title.h"

#include <QPainter>

#include <cmath>

#include "common/utc.h"

namespace zqd::ui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// "2008-05-12 10:00:00.500", and the end without the date when it is the same day.
std::string Span(std::int64_t begin_ns, std::int64_t end_ns) {
    auto text = [](std::int64_t ns) {
        std::string t = utc::Iso(ns);  // 2008-05-12T10:00:00.500000000Z
        t[10] = ' ';
        const auto dot = t.find('.');
        if (dot != std::string::npos) t = t.substr(0, dot + 4);  // to the millisecond
        if (t.size() >= 4 && t.substr(t.size() - 4) == ".000") t.resize(t.size() - 4);
        while (!t.empty() && t.back() == 'Z') t.pop_back();
        return t;
    };
    const std::string a = text(begin_ns), b = text(end_ns);
    const std::string end = a.substr(0, 10) == b.substr(0, 10) ? b.substr(11) : b;
    return a + " – " + end + " UTC";
}

// A round length of time near a tenth of `seconds`: 1, 2 or 5 times a power of ten.
double RoundSpan(double seconds) {
    const double want = seconds / 10;
    const double p = std::pow(10.0, std::floor(std::log10(want)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= want) return m * p;
    return 10 * p;
}

std::string SecondsText(double s) {
    char b[32];
    if (s >= 3600) std::snprintf(b, sizeof b, "%g h", s / 3600);
    else if (s >= 60) std::snprintf(b, sizeof b, "%g min", s / 60);
    else if (s >= 1) std::snprintf(b, sizeof b, "%g s", s);
    else std::snprintf(b, sizeof b, "%g ms", s * 1000);
    return b;
}

}  // namespace

std::string ChannelsLine(const std::vector<std::string>& channels) {
    if (channels.empty()) return {};
    const auto prefix = [](const std::string& n) { return n.substr(0, n.rfind('.') + 1); };
    const std::string first = prefix(channels.front());
    bool same = !first.empty();
    for (const auto& c : channels) same = same && prefix(c) == first;
    std::string out;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (i) out += ", ";
        out += same && i ? channels[i].substr(first.size()) : channels[i];
    }
    return out;
}

QImage Titled(const QImage& body, const PlotTitle& t) {
    QImage out(body.width(), body.height() + kPlotTitleHeight, QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter p(&out);
    p.drawImage(0, kPlotTitleHeight, body);
    QFont bold = p.font();
    bold.setBold(true);
    p.setFont(bold);
    p.setPen(Qt::black);
    const QRect line1(8, 3, out.width() - 16, 18), line2(8, 22, out.width() - 16, 18);
    std::string head = ChannelsLine(t.channels);
    if (!t.what.empty()) head += "  " + t.what;
    p.drawText(line1, Qt::AlignLeft | Qt::AlignVCenter, p.fontMetrics().elidedText(Q(head), Qt::ElideRight, line1.width()));
    p.setFont(QFont(bold.family(), bold.pointSize()));
    std::string info = Span(t.begin_ns, t.end_ns);
    if (!t.filter.empty()) info += "；滤波 " + t.filter;
    if (!t.unit.empty()) info += "；单位 " + t.unit;
    int bar_room = 0;
    if (t.pixels_per_second > 0 && t.end_ns > t.begin_ns) {
        // The bar at the right of the second line, its length a round time.
        const double seconds = RoundSpan(static_cast<double>(t.end_ns - t.begin_ns) / 1e9);
        const int length = static_cast<int>(std::lround(seconds * t.pixels_per_second));
        const QString label = Q(SecondsText(seconds));
        bar_room = length + p.fontMetrics().horizontalAdvance(label) + 24;
        if (length >= 4 && bar_room < out.width() / 2) {
            const int right = out.width() - 10, y = line2.center().y();
            p.setPen(QPen(Qt::black, 2));
            p.drawLine(right - length, y, right, y);
            p.drawLine(right - length, y - 4, right - length, y + 4);
            p.drawLine(right, y - 4, right, y + 4);
            p.setPen(Qt::black);
            p.drawText(QRect(right - bar_room, line2.top(), bar_room - length - 6, line2.height()),
                       Qt::AlignRight | Qt::AlignVCenter, label);
        } else {
            bar_room = 0;
        }
    }
    const QRect info_rect(line2.left(), line2.top(), line2.width() - bar_room, line2.height());
    p.drawText(info_rect, Qt::AlignLeft | Qt::AlignVCenter, p.fontMetrics().elidedText(Q(info), Qt::ElideRight, info_rect.width()));
    p.setPen(QColor(200, 200, 200));
    p.drawLine(0, kPlotTitleHeight - 1, out.width(), kPlotTitleHeight - 1);
    return out;
}

}  // namespace zqd::ui
