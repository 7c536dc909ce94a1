#include "ui/plot.h"

#include <QGuiApplication>
#include <QBuffer>
#include <QImage>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "app/archive_texts.h"
#include "app/frm_viewer.h"
#include "common/utc.h"
#include "platform/safe_file.h"
#include "platform/text.h"
#include "archive/station_metadata.h"
#include "ui/helicorder_paint.h"
#include "ui/plot_title.h"
#include "ui/waveform_widget.h"
#include "view/filtered_model.h"
#ifdef ZQD_HAVE_SPECTROGRAM
#include "ui/spectrogram_paint.h"
#include "signal/spectrogram.h"
#endif

namespace zqd::ui {

std::unique_ptr<QGuiApplication> HeadlessApplication() {
    std::unique_ptr<QGuiApplication> app;
    if (!QGuiApplication::instance()) {
        if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#ifndef _WIN32
        // A headless run (cron, ssh, CI) has no session directory: one of our
        // own, private, rather than the toolkit's warning on every picture.
        if (!std::getenv("XDG_RUNTIME_DIR")) {
            const auto dir = std::filesystem::temp_directory_path() / ("zqd4830-runtime-" + std::to_string(::getuid()));
            std::error_code ec;
            std::filesystem::create_directory(dir, ec);
            std::filesystem::permissions(dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace, ec);
            if (!ec) qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(dir.string()));
        }
#endif
        static int argc = 1;
        static char name[] = "zqd4830-cli";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    return app;
}

const char* PictureFormat(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".png") return "PNG";
    if (ext == ".jpg" || ext == ".jpeg") return "JPG";
    if (ext == ".bmp") return "BMP";
    return nullptr;
}

Status SavePicture(const QImage& image, const std::filesystem::path& path) {
    const char* format = PictureFormat(path);
    if (!format) return Status::Fail(Status::Code::kFileRefused, Status::Why::kPictureFormat).About(platform::PathText(path));
    // Encoded in memory, then written as every output is (temporary file, then rename).
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, format, std::string_view(format) == "JPG" ? 92 : -1))
        return Status::Fail(Status::Code::kWriteFailed, Status::Why::kPictureEncodeFailed).About(platform::PathText(path));
    if (Status s = WriteWhole(path, png.toStdString()); !s.ok())
        return Status::Fail(Status::Code::kWriteFailed, Status::Why::kPictureWriteFailed)
            .About(platform::PathText(path))
            .Because(std::move(s));
    return Status::Ok();
}

namespace {

// What a count of the channel is: in volts as asked, or "count", and with
// a sensor configured for it, the ground motion a count stands for.
std::string UnitText(const config::StationConfig& c, const std::string& name, bool volts) {
    if (volts) return "V";
    const std::string code = name.substr(name.rfind('.') + 1);
    const archive::StationMeta& m = c.meta;
    const archive::SensorConfig* sensor = archive::SensorOfChannel(m, code);
    const bool data = std::find(c.records.channels.begin(), c.records.channels.end(),
                                std::pair<const int, std::string>(c.timing.pps_channel, code)) == c.records.channels.end();
    if (!sensor || !data) return "count";
    const archive::SensorStage st = archive::StageOf(*sensor);
    const double per_count = 1 / (st.gain * archive::CardCountsPerVolt(m));
    char b[96];
    std::snprintf(b, sizeof b, "count（1 count = %.3g %s，%g Hz 处）", per_count, sensor->unit.c_str(), st.frequency);
    return b;
}

// The first row shown, its waveform over its spectrogram (two fifths and
// three fifths of the picture). The spectrogram is of the longest run of
// samples without a gap in the span.
Status WithSpectrogram(const view::WaveformModel& m, view::WaveformView v, const PlotRequest& r, QImage& image,
                       std::string& said) {
#ifdef ZQD_HAVE_SPECTROGRAM
    const auto rows = v.ShownRows();
    const int c = rows.empty() ? 0 : rows.front();
    for (int other = 0; other < m.ChannelCount(); ++other) v.SetHidden(other, other != c);
    constexpr std::size_t kMostSamples = 50'000'000;
    const auto runs = m.SamplesIn(c, v.Begin(), v.End(), kMostSamples);
    const view::SampleRun* longest = nullptr;
    if (runs)
        for (const auto& run : *runs)
            if (!longest || run.values.size() > longest->values.size()) longest = &run;
    signal::Spectrogram s;
    const std::size_t have = longest ? longest->values.size() : 0;
    if (Status st = signal::ComputeSpectrogram(longest ? longest->values.data() : nullptr, have, longest ? longest->rate : 0,
                                             longest ? longest->start_ns : 0, r.spectrogram, s);
        !st.ok())
        return st;
    image = QImage(QSize(r.width, r.height), QImage::Format_RGB32);
    QPainter p(&image);
    const int top = r.height * 2 / 5;
    PaintWaveforms(p, QRect(0, 0, r.width, top), m, v);
    const std::string& name = m.At(c).name;
    PaintSpectrogram(p, QRect(0, top, r.width, r.height - top), kWaveformLabelWidth, s, v.Begin(), v.End(),
                     SpectrogramTitle(name, s, r.spectrogram_scale), r.spectrogram_scale);
    said = "，" + m.At(c).name + " 的频谱图（窗长 " + std::to_string(r.spectrogram) + "，汉宁窗，重叠 50%）";
    return Status::Ok();
#else
    (void)m, (void)v, (void)r, (void)image, (void)said;
    return Status::Fail(Status::Code::kQueryRefused, Status::Why::kBadSpectrogram).Values(r.spectrogram, 0);
#endif
}

}  // namespace

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
    std::vector<int> order;
    const auto shown = SelectRows(m, r.channels, &order);
    if (!shown) {
        Status refused = shown.status();
        refused.code = Status::Code::kFileRefused;  // the channels asked for are not in the input
        return refused;
    }
    for (int c = 0; c < m.ChannelCount(); ++c) v.SetHidden(c, !(*shown)[static_cast<std::size_t>(c)]);
    v.SetOrder(order);  // as the list names them

    // Drawing text needs the toolkit's application object; without a display
    // it draws offscreen.
    const auto app = HeadlessApplication();
    // A filter draws a filtered copy of the span, with the same rows.
    view::WaveformModel filtered;
    const bool filtering = r.filter.kind != signal::FilterSpec::Kind::kNone;
    std::vector<int> unfiltered;
    if (filtering)
        if (Status s = view::FilterModel(m, *shown, v.Begin(), v.End(), r.filter, filtered, view::kMostFilteredSamples,
                                         &unfiltered);
            !s.ok())
            return s;
    const view::WaveformModel& drawn = filtering ? filtered : m;
    QImage image;
    std::string spectrum;
    // The picture below its title band, the whole the size asked for.
    PlotRequest body = r;
    body.height = r.height - kPlotTitleHeight;
    PlotTitle title;
    for (int c : v.ShownRows()) title.channels.push_back(m.At(c).name);
    title.begin_ns = v.Begin();
    title.end_ns = v.End();
    if (filtering) title.filter = signal::FilterText(r.filter) + "（零相位）";
    title.unit = title.channels.empty() ? std::string() : UnitText(r.config, title.channels.front(), r.volts);
    title.pixels_per_second = (r.width - kWaveformLabelWidth - 8) / (static_cast<double>(v.End() - v.Begin()) / 1e9);
    if (r.helicorder_minutes > 0) {
        const auto rows = v.ShownRows();
        const int c = rows.empty() ? 0 : rows.front();
        const std::int64_t start = r.from.value_or(view::DefaultHelicorderStart(drawn, r.helicorder_hours));
        const view::HelicorderLayout layout = view::MakeHelicorder(start, r.helicorder_hours, r.helicorder_minutes);
        image = QImage(QSize(body.width, body.height), QImage::Format_RGB32);
        QPainter painter(&image);
        HelicorderStyle style;
        style.clip_rows = r.clip_rows;
        if (!r.helicorder_colours.empty()) style.colours.clear();
        for (const std::string& name : r.helicorder_colours) {
            const QColor colour(QString::fromStdString(name));
            if (!colour.isValid()) return Status::Fail(Status::Code::kQueryRefused, Status::Why::kBadColour).About(name);
            style.colours.push_back(colour);
        }
        PaintHelicorder(painter, image.rect(), drawn, c, layout, style);
        title.channels = {m.At(c).name};
        title.begin_ns = layout.start_ns;
        title.end_ns = layout.start_ns + static_cast<std::int64_t>(r.helicorder_hours) * 3600 * utc::kNsPerSecond;
        title.what = "日记录图，每行 " + std::to_string(r.helicorder_minutes) + " 分钟";
        title.pixels_per_second = 0;  // each row has its own minutes
        spectrum = "，" + drawn.At(c).name + " 的日记录图（" + utc::Iso(start).substr(0, 16) + " 起 " +
                   std::to_string(r.helicorder_hours) + " 小时，每行 " + std::to_string(r.helicorder_minutes) + " 分钟）";
    } else if (r.spectrogram > 0) {
        if (Status s = WithSpectrogram(drawn, v, body, image, spectrum); !s.ok()) return s;
        const auto rows = v.ShownRows();
        if (!rows.empty()) title.channels = {m.At(rows.front()).name};
        title.what = "波形与频谱图（窗长 " + std::to_string(r.spectrogram) + "）";
    } else {
        image = RenderWaveforms(drawn, v, QSize(body.width, body.height));
    }
    image = Titled(image, title);
    if (Status s = SavePicture(image, r.out); !s.ok()) return s;
    said = app::OpenedText(opened) + "；" + utc::Iso(v.Begin()) + " 到 " + utc::Iso(v.End()) + "，" +
           std::to_string(v.ShownRows().size()) + " 行" +
           (filtering ? "，滤波 " + signal::FilterText(r.filter) + "（零相位）" : std::string()) + spectrum + "，写出 " +
           platform::PathText(r.out);
    if (!unfiltered.empty()) said += "\n" + UnfilteredNote(m, unfiltered);
    for (const auto& n : app::OpenedNotes(opened)) said += "\n" + n;
    return Status::Ok();
}

}  // namespace zqd::ui
