#include "ui/plot.h"

#include <QGuiApplication>
#include <QBuffer>
#include <QImage>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "archive/convert.h"
#include "archive/view_files.h"
#include "common/numtext.h"
#include "common/platform.h"
#include "common/utc.h"
#include "ui/waveform_widget.h"

namespace zqd::ui {

namespace {

// The rows a list names: channel codes (the whole name or its last part) or
// row numbers and ranges.
bool SelectRows(const view::WaveformModel& m, const std::string& list, std::vector<bool>& shown, std::string& why) {
    shown.assign(static_cast<std::size_t>(m.ChannelCount()), list.empty());
    if (list.empty()) return true;
    for (const std::string& part : SplitText(list, ',')) {
        bool found = false;
        for (int c = 0; c < m.ChannelCount(); ++c) {
            const std::string& name = m.At(c).name;
            const std::size_t dot = name.rfind('.');
            if (name == part || (dot != std::string::npos && name.substr(dot + 1) == part)) {
                shown[static_cast<std::size_t>(c)] = true;
                found = true;
            }
        }
        if (found) continue;
        std::string not_rows;
        const auto rows = archive::ParseChannelList(part, m.ChannelCount(), not_rows);
        if (!rows) {
            why = std::isdigit(static_cast<unsigned char>(part.empty() ? 'x' : part[0])) ? not_rows : "没有名为“" + part + "”的通道";
            return false;
        }
        for (int c : *rows) shown[static_cast<std::size_t>(c)] = true;
    }
    return true;
}

}  // namespace

Status SavePng(const QImage& image, const std::filesystem::path& path) {
    // Encoded in memory, then written as every output is (temporary file, then rename).
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return Status::Fail(Status::Code::kWriteFailed, "无法生成图片 " + platform::PathText(path));
    if (const Status s = archive::WriteWhole(path, png.toStdString()); !s.ok())
        return Status::Fail(Status::Code::kWriteFailed, "无法写入图片 " + platform::PathText(path) + "：" + s.detail);
    return Status::Ok();
}

Status Plot(const PlotRequest& r, std::string& said) {
    archive::Opened opened;
    if (Status s = archive::OpenForView(r.input, r.config, r.from, r.to, opened); !s.ok()) return s;
    const view::WaveformModel& m = *opened.model;
    view::WaveformView v;
    v.Fit(m);
    const auto extent = m.Extent();
    v.SetSpan(r.from.value_or(extent->begin_ns), r.to.value_or(extent->end_ns));
    v.volts = r.volts;
    std::vector<bool> shown;
    std::string why;
    if (!SelectRows(m, r.channels, shown, why)) return Status::Fail(Status::Code::kFileRefused, why);
    for (int c = 0; c < m.ChannelCount(); ++c) v.SetHidden(c, !shown[static_cast<std::size_t>(c)]);

    // Drawing text needs the toolkit's application object; without a display
    // it draws offscreen.
    std::unique_ptr<QGuiApplication> app;
    if (!QGuiApplication::instance()) {
        if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "zqd4830-cli";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    const QImage image = RenderWaveforms(m, v, QSize(r.width, r.height));
    if (Status s = SavePng(image, r.out); !s.ok()) return s;
    said = opened.what + "；" + utc::Iso(v.Begin()) + " 到 " + utc::Iso(v.End()) + "，" +
           std::to_string(v.ShownRows().size()) + " 行，写出 " + platform::PathText(r.out);
    for (const auto& n : opened.notes) said += "\n" + n;
    return Status::Ok();
}

}  // namespace zqd::ui
