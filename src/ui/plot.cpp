#include "ui/plot.h"

#include <QGuiApplication>
#include <QBuffer>
#include <QImage>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "app/archive_texts.h"
#include "app/frm_viewer.h"
#include "common/utc.h"
#include "platform/safe_file.h"
#include "platform/text.h"
#include "ui/waveform_widget.h"
#include "view/filtered_model.h"

namespace zqd::ui {

Status SavePng(const QImage& image, const std::filesystem::path& path) {
    // Encoded in memory, then written as every output is (temporary file, then rename).
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return Status::Fail(Status::Code::kWriteFailed, Status::Why::kPictureEncodeFailed).About(platform::PathText(path));
    if (Status s = WriteWhole(path, png.toStdString()); !s.ok())
        return Status::Fail(Status::Code::kWriteFailed, Status::Why::kPictureWriteFailed)
            .About(platform::PathText(path))
            .Because(std::move(s));
    return Status::Ok();
}

Status Plot(const PlotRequest& r, std::string& said) {
    FrmViewer viewer(r.config);
    if (Status s = viewer.Open(r.input, r.from, r.to); !s.ok()) return s;
    const view::Opened& opened = viewer.Opened();
    const view::WaveformModel& m = *opened.model;
    view::WaveformView v;
    v.Fit(m);
    const auto extent = m.Extent();
    v.SetSpan(r.from.value_or(extent->begin_ns), r.to.value_or(extent->end_ns));
    v.volts = r.volts;
    const auto shown = SelectRows(m, r.channels);
    if (!shown) {
        Status refused = shown.status();
        refused.code = Status::Code::kFileRefused;  // the channels asked for are not in the input
        return refused;
    }
    for (int c = 0; c < m.ChannelCount(); ++c) v.SetHidden(c, !(*shown)[static_cast<std::size_t>(c)]);

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
    // A filter draws a filtered copy of the span, with the same rows.
    view::WaveformModel filtered;
    const bool filtering = r.filter.kind != view::FilterSpec::Kind::kNone;
    if (filtering)
        if (Status s = view::FilterModel(m, *shown, v.Begin(), v.End(), r.filter, filtered); !s.ok()) return s;
    const QImage image = RenderWaveforms(filtering ? filtered : m, v, QSize(r.width, r.height));
    if (Status s = SavePng(image, r.out); !s.ok()) return s;
    said = app::OpenedText(opened) + "；" + utc::Iso(v.Begin()) + " 到 " + utc::Iso(v.End()) + "，" +
           std::to_string(v.ShownRows().size()) + " 行" +
           (filtering ? "，滤波 " + view::FilterText(r.filter) + "（零相位）" : std::string()) + "，写出 " +
           platform::PathText(r.out);
    for (const auto& n : app::OpenedNotes(opened)) said += "\n" + n;
    return Status::Ok();
}

}  // namespace zqd::ui
