// The windows on real (offscreen) widgets: layout, clicks, edits, timers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QTest>

#include "formats/t1dat/t1dat_writer.h"
#include "scripted_card.h"
#include "test_support.h"
#include "ui/main_window.h"
#include "ui/monitor_window.h"
#include "ui/twips.h"
#include "ui/waveform_widget.h"
#ifdef ZQD_HAVE_ARCHIVE
#include "common/utc.h"
#include "formats/mseed/mseed_packer.h"
#include "formats/sds/sds_writer.h"
#include "ui/helicorder_paint.h"
#include "ui/plot.h"
#include "ui/plot_title.h"
#include "ui/viewer_window.h"
#endif
#ifdef ZQD_HAVE_SPECTROGRAM
#include "ui/spectrogram_paint.h"
#endif
#include <cmath>

namespace zqd {
namespace {

using test::ReadFile;
using test::TempDir;

int RedPixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += image.pixelColor(x, y) == QColor(255, 0, 0);
    return n;
}

TEST(MainWindow, OpensWithTheCaptionsAndLayout) {
    DllDef dll;
    test::ScriptedCard card;
    TempDir dir;
    acq::Session session(card, {false, std::chrono::milliseconds(1000)});
    FrmMain form(dll, session, dir.path());
    form.Form_Load();
    ui::MainWindow w(form);
    EXPECT_EQ(w.windowTitle(), "ZQD4830_GPS");
    const double ppt = ui::PixelsPerTwip(&w);
    EXPECT_EQ(w.width(), qRound(10260 * ppt));
    EXPECT_EQ(w.CmdStart->text(), "开始");
    EXPECT_EQ(w.CmdOpen->text(), "打开文件");
    EXPECT_FALSE(w.CmdFind->isEnabled());
    EXPECT_EQ(w.lblBlock->text(), "0");
    EXPECT_EQ(w.TxtFormT[2]->text(), "43");
    EXPECT_EQ(w.TxtToT[2]->text(), "45");
    EXPECT_EQ(w.TxtDispChnNo->text(), "1");
    EXPECT_EQ(w.CmdStart->geometry(), QRect(qRound(4440 * ppt), qRound(960 * ppt), qRound(1215 * ppt), qRound(375 * ppt)));
    EXPECT_EQ(w.CmdStart->nextInFocusChain(), w.CmdExit);

    w.CmdStart->click();
    EXPECT_EQ(w.CmdStart->text(), "停止");
    EXPECT_TRUE(w.TimerAD->isActive());
    EXPECT_EQ(w.TimerAD->interval(), 1000);
    EXPECT_EQ(w.TxtResult->toPlainText(), "开始采集");
    w.CmdStart->click();
    EXPECT_FALSE(w.TimerAD->isActive());
}

TEST(MainWindow, OpenFindAndExportOnTheWidgets) {
    DllDef dll;
    test::ScriptedCard card;
    TempDir dir;
    acq::Session session(card, {false, std::chrono::milliseconds(1000)});
    FrmMain form(dll, session, dir.path());
    form.Form_Load();
    const auto record = test::SimRecord("2008-05-12T17:38:40.300000000", 20);
    ASSERT_TRUE(t1dat::SaveRecordFile(dir / "T1.DAT", 20, 2000, record.data(), record.size()).ok());

    ui::MainWindow w(form);
    w.show();
    w.CmdOpen->click();
    const QString log = w.TxtResult->toPlainText();
    EXPECT_TRUE(log.startsWith("2008-5-12 17:38:40:300000000\n2008-5-12 17:38:41:300000000\n")) << log.toStdString();
    EXPECT_TRUE(log.endsWith("2008-5-12 17:38:59:300000000\n完毕\n")) << log.toStdString();
    EXPECT_TRUE(w.CmdFind->isEnabled());

    w.TxtDispChnNo->clear();
    QTest::keyClicks(w.TxtDispChnNo, "0");
    w.CmdFind->click();
    EXPECT_EQ(form.DispPoints, 6000);
    EXPECT_EQ(form.DispData[0], sim::kPulseCode);
    EXPECT_GT(RedPixels(w.PicDrawWidget->Image()), 50);

    w.TxtFormT[2]->clear();
    QTest::keyClicks(w.TxtFormT[2], "43 s");
    w.CmdOutput->click();
    const std::string csv = ReadFile(dir / "T2.csv");
    EXPECT_EQ(csv.rfind("\xCA\xB1\xBC\xE4" "17-38-43 s  NS:0\r\n-4.3896\r\n", 0), 0u);
    EXPECT_TRUE(w.TxtResult->toPlainText().endsWith("文件导出完毕!\n"));

    // The trace survives a resize of the surface.
    w.PicDrawWidget->resize(400, 300);
    EXPECT_GT(RedPixels(w.PicDrawWidget->Image()), 50);

    w.CmdExit->click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(card.calls.back(), "StopIntr()");
}

TEST(PicDraw, DecimatedAndPolylineTracesAreDrawnInTheirColour) {
    PicDrawModel model;
    model.Top = 65735;
    model.Bottom = -200;
    for (int n : {100, 40000}) {
        model.Trace.resize(static_cast<std::size_t>(n));
        for (int j = 0; j < n; ++j) model.Trace[static_cast<std::size_t>(j)] = (j / 50) % 2 ? 60000 : 1000;
        model.Right = n;
        QImage image(265, 241, QImage::Format_RGB32);
        ui::RenderTrace(image, model, Qt::black);
        EXPECT_GT(RedPixels(image), 241) << n;
        EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::black));
    }
}

// The waveform view as a person sees it: traces in their rows, nothing over
// a gap, the carried stretch marked on the timing strip.
class Samples final : public view::SampleSource {
public:
    explicit Samples(std::vector<std::int32_t> v) : v_(std::move(v)) {}
    void Read(std::uint64_t first, std::size_t n, std::int32_t* out) const override {
        std::copy_n(v_.begin() + static_cast<std::ptrdiff_t>(first), n, out);
    }

private:
    std::vector<std::int32_t> v_;
};

bool IsTrace(const QColor& c) { return c == QColor(20, 60, 150); }
bool IsCarried(const QColor& c) { return c == QColor(230, 140, 20); }

TEST(WaveformWidget, GapsStayEmptyAndCarriedTimeIsMarkedInThePicture) {
    constexpr std::int64_t t0 = 1210636800LL * 1000000000, s = 1000000000;
    view::WaveformModel m;
    for (const char* name : {"GY0", "GY1"}) {
        const int c = m.AddChannel(name);
        // Seconds 0-4 and 6-10: a sine; second 5 missing.
        for (int part = 0; part < 2; ++part) {
            std::vector<std::int32_t> v(10000);
            for (std::size_t j = 0; j < v.size(); ++j) v[j] = static_cast<std::int32_t>(2048 + 1000 * std::sin(static_cast<double>(j) * 0.01 * (c + 1)));
            view::Stretch& st = m.AddStretch(c, t0 + part * 6 * s, 2000, std::make_shared<Samples>(v));
            st.summary.Append(v.data(), v.size());
            st.count = v.size();
        }
    }
    m.MarkCarried(t0 + 7 * s, t0 + 8 * s);
    constexpr int kL = ui::kWaveformLabelWidth;  // the labels' column
    view::WaveformView v;
    v.Fit(m);
    const QImage image = ui::RenderWaveforms(m, v, QSize(kL + 1000, 400));
    // The plot spans x = kL .. kL + 992 for 11 s: 90.2 px a second.
    const double px = 992.0 / 11;
    auto column_has = [&](int x, auto is) {
        for (int y = 0; y < image.height(); ++y)
            if (is(image.pixelColor(x, y))) return true;
        return false;
    };
    for (double sec : {0.5, 2.5, 4.5, 6.5, 9.5}) EXPECT_TRUE(column_has(kL + static_cast<int>(sec * px), IsTrace)) << sec;
    for (double sec : {5.1, 5.5, 5.9}) EXPECT_FALSE(column_has(kL + static_cast<int>(sec * px), IsTrace)) << sec;
    EXPECT_TRUE(column_has(kL + static_cast<int>(7.5 * px), IsCarried));
    EXPECT_FALSE(column_has(kL + static_cast<int>(6.5 * px), IsCarried));
    EXPECT_FALSE(column_has(kL + static_cast<int>(8.5 * px), IsCarried));
    // Zoomed in to 100 samples across the gap's start: lines end at the gap.
    v.SetSpan(t0 + 5 * s - 25000000, t0 + 5 * s + 25000000);
    const QImage fine = ui::RenderWaveforms(m, v, QSize(kL + 1000, 400));
    int traced_after = 0;
    for (int x = kL + 560; x < kL + 992; ++x)
        for (int y = 0; y < fine.height(); ++y) traced_after += IsTrace(fine.pixelColor(x, y));
    EXPECT_EQ(traced_after, 0);
    // A hidden row is not drawn: the other gets the height.
    v.Fit(m);
    v.SetHidden(1, true);
    const QImage one = ui::RenderWaveforms(m, v, QSize(kL + 1000, 400));
    int lowest = 0;
    for (int y = 0; y < one.height(); ++y)
        if (IsTrace(one.pixelColor(kL + 45, y))) lowest = y;
    EXPECT_GT(lowest, 200);
}

TEST(WaveformWidget, EveryOperationWorksFromTheKeyboard) {
    constexpr std::int64_t t0 = 1210636800LL * 1000000000, s = 1000000000;
    auto m = std::make_shared<view::WaveformModel>();
    for (const char* name : {"GY0", "GY1", "GY2"}) {
        const int c = m->AddChannel(name);
        std::vector<std::int32_t> v(20000);
        for (std::size_t j = 0; j < v.size(); ++j) v[j] = static_cast<std::int32_t>(j % 500) * (c + 1);
        view::Stretch& st = m->AddStretch(c, t0, 2000, std::make_shared<Samples>(v));
        st.summary.Append(v.data(), v.size());
        st.count = v.size();
    }
    ui::WaveformWidget w;
    w.resize(800, 400);
    w.SetModel(m);
    w.show();
    auto& v = w.View();
    EXPECT_EQ(v.Begin(), t0);
    EXPECT_EQ(v.End(), t0 + 10 * s);
    QTest::keyClick(&w, Qt::Key_Plus);
    EXPECT_EQ(v.Span(), 5 * s);
    QTest::keyClick(&w, Qt::Key_Right);
    EXPECT_EQ(v.Begin(), t0 + 3 * s);
    QTest::keyClick(&w, Qt::Key_Down);
    EXPECT_EQ(v.Span(), 10 * s);
    QTest::keyClick(&w, Qt::Key_F);
    EXPECT_EQ(v.Begin(), t0);
    // The cursor moves by pixels and reads out.
    QTest::keyClick(&w, Qt::Key_Period);
    ASSERT_TRUE(v.cursor.has_value());
    const std::int64_t c1 = *v.cursor;
    QTest::keyClick(&w, Qt::Key_Period, Qt::ShiftModifier);
    // Ten pixels of a 10 s span over the plot's width.
    const double px_ns = 10.0 * s / (w.width() - 104);
    EXPECT_NEAR(static_cast<double>(*v.cursor - c1), 10 * px_ns, px_ns);
    // Rows: choose, hide, show all, resize.
    QTest::keyClick(&w, Qt::Key_BracketRight);
    EXPECT_EQ(v.current_row, 1);
    QTest::keyClick(&w, Qt::Key_H);
    EXPECT_TRUE(v.Hidden(1));
    EXPECT_EQ(v.current_row, 2);
    QTest::keyClick(&w, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(v.Weight(2), 1.25);
    QTest::keyClick(&w, Qt::Key_A);
    EXPECT_EQ(v.ShownRows().size(), 3u);
    // Scale and units, and pausing.
    QTest::keyClick(&w, Qt::Key_S);
    EXPECT_TRUE(v.fixed_scale);
    QTest::keyClick(&w, Qt::Key_V);
    EXPECT_TRUE(v.volts);
    const bool paused = v.paused;  // zooming paused it (a live view stops following)
    QTest::keyClick(&w, Qt::Key_Space);
    EXPECT_NE(v.paused, paused);
    // The picture still draws with all of that.
    EXPECT_FALSE(w.grab().toImage().isNull());
}

#ifdef ZQD_HAVE_ARCHIVE
TEST(Plot, AKnownSineIsDrawnInItsRowAndSpan) {
    TempDir dir;
    const auto data = test::SimRecord("2008-05-12T10:00:00.000000000", 3);
    ASSERT_TRUE(t1dat::SaveRecordFile(dir / "T1.DAT", 3, 2000, data.data(), data.size()).ok());
    ui::PlotRequest r;
    r.input = dir / "T1.DAT";
    r.out = dir / "p.png";
    r.channels = "GY0,GY5";
    constexpr int kLabels = ui::kWaveformLabelWidth;
    r.width = kLabels + 992 + 8;
    r.height = 400;
    r.from = 1210586400LL * 1000000000 + 500000000;  // 10:00:00.5 to 10:00:02.5
    r.to = *r.from + 2000000000;
    std::string said;
    ASSERT_TRUE(ui::Plot(r, said).ok()) << said;
    EXPECT_NE(said.find("2 行"), std::string::npos);
    QImage image(QString::fromStdString((dir / "p.png").string()));
    ASSERT_EQ(image.size(), QSize(r.width, 400));
    // Below the title band, two rows between y = 18 and the axis 40 above the
    // foot: GY0's sine in the upper one, at every column of the span.
    const int top = ui::kPlotTitleHeight + 18;
    const int middle = top + (400 - top - 40) / 2;
    int upper = 0, lower = 0, columns = 0;
    for (int x = kLabels; x < kLabels + 992; ++x) {
        bool any = false;
        for (int y = top; y < 400 - 40; ++y)
            if (IsTrace(image.pixelColor(x, y))) {
                (y < middle ? upper : lower)++;
                any = true;
            }
        columns += any;
    }
    EXPECT_GT(upper, 992);
    EXPECT_GT(lower, 992);
    EXPECT_GE(columns, 990);
    // The title band says what the picture is: its text there, and the
    // channels named whole unless they share network, station and location.
    int ink = 0;
    for (int y = 0; y < ui::kPlotTitleHeight - 2; ++y)
        for (int x = 0; x < image.width(); ++x) ink += image.pixelColor(x, y).lightness() < 128;
    EXPECT_GT(ink, 300);
    EXPECT_EQ(ui::ChannelsLine({"XX.ZQD01.00.GY0", "XX.ZQD01.00.GY5"}), "XX.ZQD01.00.GY0, GY5");
    EXPECT_EQ(ui::ChannelsLine({"XX.ZQD01.00.LCE", "XX.ZQD01.10.LCE"}), "XX.ZQD01.00.LCE, XX.ZQD01.10.LCE");
    r.channels = "GYZ";
    EXPECT_EQ(ui::Plot(r, said).code, Status::Code::kFileRefused);
}

#ifdef ZQD_HAVE_SPECTROGRAM
// A 4 Hz sine drawn at its height on a linear and a logarithmic axis; with
// the colours' range fixed, a sine 40 dB weaker is drawn darker, where each
// picture's own range would draw both alike.
TEST(SpectrogramPaint, ASineIsAtItsHeightOnEitherAxisAndAFixedRangeComparesPictures) {
    constexpr double kRate = 200;
    const auto spectrogram = [&](double amplitude) {
        std::vector<std::int32_t> x(static_cast<std::size_t>(kRate) * 60);
        for (std::size_t k = 0; k < x.size(); ++k)
            x[k] = 2048 + static_cast<std::int32_t>(std::lround(amplitude * std::sin(2 * M_PI * 4 * static_cast<double>(k) / kRate) +
                                                               static_cast<double>(k * 7919 % 13) - 6));
        signal::Spectrogram s;
        EXPECT_TRUE(signal::ComputeSpectrogram(x.data(), x.size(), kRate, 0, 1024, s).ok());
        return s;
    };
    const auto loud = spectrogram(1000), quiet = spectrogram(10);
    const auto draw = [&](const signal::Spectrogram& s, const signal::SpectrogramScale& scale) {
        QImage image(600, 300, QImage::Format_RGB32);
        QPainter p(&image);
        ui::PaintSpectrogram(p, image.rect(), 124, s, 0, 60 * utc::kNsPerSecond, "GY0", scale);
        return image;
    };
    const int top = 18, height = 300 - 18 - 8;  // the plot under the title's line
    // The brightest pixel of the plot's middle column: its row and colour.
    const auto brightest = [&](const QImage& image) {
        int best = 0, at = 0;
        for (int y = top; y < top + height; ++y)
            if (const QColor c = image.pixelColor(362, y); c.red() + c.green() > best) best = c.red() + c.green(), at = y;
        return std::pair{at, image.pixelColor(362, at)};
    };
    signal::SpectrogramScale linear;
    EXPECT_NEAR(brightest(draw(loud, linear)).first, top + height * (1 - 4.0 / 100), 4);
    signal::SpectrogramScale log;
    log.low_hz = 0.5;
    log.high_hz = 50;
    log.log = true;
    EXPECT_NEAR(brightest(draw(loud, log)).first, top + height * (1 - std::log(4 / 0.5) / std::log(100.0)), 4);
    EXPECT_EQ(brightest(draw(quiet, linear)).second, brightest(draw(loud, linear)).second);
    signal::SpectrogramScale fixed;
    fixed.fixed_db = true;
    fixed.low_db = -20;
    fixed.high_db = 90;
    EXPECT_EQ(ui::ColourRange(quiet, fixed), std::make_pair(-20.0, 90.0));
    const QColor strong = brightest(draw(loud, fixed)).second, weak = brightest(draw(quiet, fixed)).second;
    EXPECT_GT(strong.red() + strong.green(), weak.red() + weak.green() + 100) << strong.name().toStdString() << " " << weak.name().toStdString();
}
#endif

TEST(ViewerWindow, OpensARecordKeepsItOverABadFileSavesAPictureAndExports) {
    TempDir dir;
    const auto data = test::SimRecord("2008-05-12T10:00:00.000000000", 2);
    ASSERT_TRUE(t1dat::SaveRecordFile(dir / "T1.DAT", 2, 2000, data.data(), data.size()).ok());
    test::WriteFile(dir / "bad.DAT", "not a record");
    ui::ViewerWindow w(config::DefaultConfig());
    ASSERT_TRUE(w.Open(QString::fromStdString((dir / "T1.DAT").string())));
    ASSERT_NE(w.Waves()->Model(), nullptr);
    EXPECT_EQ(w.Waves()->Model()->ChannelCount(), 17);
    // A file that cannot be read: its reason shown, the record still there.
    EXPECT_FALSE(w.Open(QString::fromStdString((dir / "bad.DAT").string())));
    EXPECT_TRUE(w.StatusText().contains("bad.DAT"));
    EXPECT_EQ(w.Waves()->Model()->ChannelCount(), 17);
    ASSERT_TRUE(w.SavePicture(QString::fromStdString((dir / "v.png").string())));
    EXPECT_EQ(ReadFile(dir / "v.png").substr(1, 3), "PNG");
    EXPECT_FALSE(w.SavePicture(QString::fromStdString((dir / "none" / "v.png").string())));
    w.Waves()->View().SetHidden(0, true);
    ASSERT_TRUE(w.ExportVisible("sac", QString::fromStdString((dir / "sac").string())));
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir / "sac")) ++files;
    EXPECT_EQ(files, 16);  // the shown channels, and nothing else (no lock file)
}

TEST(ViewerWindow, HelicorderRowsOpenTheirWaveformsAndFiltersAreMadeInTheBackground) {
    TempDir dir;
    // Four minutes of one channel in an SDS folder: 1 Hz and 30 Hz together.
    const StreamCodes codes{"XX", "ZQD01", "00", "GY0"};
    const std::int64_t t0 = utc::ToNs({2026, 12, 7, 10, 0, 0, 0});
    auto write = [&](std::int64_t from, int seconds) {
        sds::SdsWriter sds(dir / "sds");
        std::vector<std::int32_t> x(static_cast<std::size_t>(seconds) * 200);
        for (std::size_t j = 0; j < x.size(); ++j) {
            const double t = static_cast<double>(j) / 200 + static_cast<double>(from - t0) / 1e9;
            x[j] = static_cast<std::int32_t>(std::lround(1000 * std::sin(2 * M_PI * t) + 300 * std::sin(2 * M_PI * 30 * t)));
        }
        mseed::ChannelPacker p(codes, 200, {}, [&](const char* r, int n, std::int64_t t) { ASSERT_TRUE(sds.Append(codes, t, r, n).ok()); });
        p.Add(from, x.data(), x.size(), mseed::Timing{100, true});
        p.Pack(true);
        ASSERT_TRUE(sds.Sync().ok());
    };
    write(t0, 240);
    ui::ViewerWindow w(config::DefaultConfig());
    w.show();
    ASSERT_TRUE(w.Open(QString::fromStdString((dir / "sds").string())));
    // D: the helicorder of the current row, its day.
    QTest::keyClick(w.Waves(), Qt::Key_D);
    ASSERT_TRUE(w.ShowingHelicorder());
    EXPECT_TRUE(w.Helicorder()->isVisible());
    EXPECT_FALSE(w.Waves()->isVisible());
    EXPECT_EQ(w.Helicorder()->Layout().start_ns, utc::ToNs({2026, 12, 7, 0, 0, 0, 0}));
    // Its title on a line of its own: the channel, the day, the rows.
    EXPECT_EQ(w.Helicorder()->Title(), "XX.ZQD01.00.GY0，2026-12-07 00:00 UTC 起 24 小时，每行 15 分钟");
    // A click on the 10:00 row: its fifteen minutes as waveforms; Esc goes back.
    const QRect plot = w.Helicorder()->PlotRect();
    EXPECT_GE(plot.top(), 36);  // the minutes' labels between the title and the rows
    const int y = plot.top() + static_cast<int>(plot.height() * 40.5 / 96);
    const auto span = w.Helicorder()->RowSpanAt(y);
    ASSERT_TRUE(span);
    EXPECT_EQ(span->begin_ns, t0);
    QTest::mouseClick(w.Helicorder(), Qt::LeftButton, {}, QPoint(plot.left() + 10, y));
    EXPECT_FALSE(w.ShowingHelicorder());
    EXPECT_EQ(w.Waves()->View().Begin(), t0);
    EXPECT_EQ(w.Waves()->View().End(), t0 + 15 * 60 * utc::kNsPerSecond);
    QTest::keyClick(w.Waves(), Qt::Key_Escape);
    EXPECT_TRUE(w.ShowingHelicorder());
    QTest::keyClick(w.Helicorder(), Qt::Key_D);
    EXPECT_FALSE(w.ShowingHelicorder());
    QTest::keyClick(w.Waves(), Qt::Key_Escape);  // not from the helicorder: stays
    EXPECT_FALSE(w.ShowingHelicorder());

    // A filter: the unfiltered drawing until the filtered span is made, then that.
    w.Waves()->View().SetSpan(t0 + 60 * utc::kNsPerSecond, t0 + 120 * utc::kNsPerSecond);
    EXPECT_FALSE(w.ChooseFilter("bp:1:2:x"));
    EXPECT_TRUE(w.StatusText().contains("bp:1:2:x"));
    ASSERT_TRUE(w.ChooseFilter("hp:10"));
    EXPECT_EQ(w.Waves()->Drawn(), w.Waves()->Model());
    w.FinishBackgroundWork();
    const view::WaveformModel* drawn = w.Waves()->Drawn();
    ASSERT_NE(drawn, w.Waves()->Model());
    EXPECT_EQ(w.Waves()->View().note, "零相位滤波 hp:10:4");
    // The 1 Hz wave is gone and the 30 Hz one stays: about ±300 counts.
    const view::MinMax r = drawn->RangeIn(0, w.Waves()->View().Begin(), w.Waves()->View().End());
    EXPECT_NEAR(r.max, 300, 15);
    EXPECT_NEAR(r.min, -300, 15);
    // A small pan stays within what was made; a jump makes a new span.
    w.Waves()->View().Pan(0.1);
    emit w.Waves()->ViewChanged();
    EXPECT_EQ(w.Waves()->Drawn(), drawn);
    w.Waves()->View().Pan(-1.5);
    emit w.Waves()->ViewChanged();
    EXPECT_EQ(w.Waves()->Drawn(), w.Waves()->Model());
    w.FinishBackgroundWork();
    EXPECT_NE(w.Waves()->Drawn(), w.Waves()->Model());
    // The spectrogram of the current row under the waveforms, its
    // frequencies, axis and colours chosen; a range it cannot read refused.
    w.ShowSpectrogram(true);
#ifdef ZQD_HAVE_SPECTROGRAM
    EXPECT_EQ(w.Spectrogram()->Said(), "");
    EXPECT_FALSE(w.ChooseSpectrogram("20:1", false, "dB 自动"));
    EXPECT_TRUE(w.StatusText().contains("20:1"));
    ASSERT_TRUE(w.ChooseSpectrogram("1:50", true, "固定当前"));
    const std::string& title = w.Spectrogram()->Title();
    EXPECT_NE(title.find("XX.ZQD01.00.GY0 频谱图"), std::string::npos) << title;
    EXPECT_NE(title.find("1–50 Hz，对数频率；色标固定"), std::string::npos) << title;
    const auto kept = w.Spectrogram()->DrawnDb();
    EXPECT_LT(kept.first, kept.second);
    w.Waves()->View().Pan(0.5);  // another span: the colours' range stays
    emit w.Waves()->ViewChanged();
    EXPECT_EQ(w.Spectrogram()->DrawnDb(), kept);
    ASSERT_TRUE(w.ChooseSpectrogram("全部频率", false, "-20:80"));
    EXPECT_EQ(w.Spectrogram()->DrawnDb(), std::make_pair(-20.0, 80.0));
    EXPECT_EQ(w.findChildren<QComboBox*>().size(), 4);  // the filter and the spectrogram's three
    for (QComboBox* box : w.findChildren<QComboBox*>()) {
        if (box->findText("dB 自动") >= 0) {
            EXPECT_EQ(box->currentText(), "-20:80");
        }
    }

    // N: the current row's noise over the span shown, made in the
    // background; in counts without a sensor. Esc goes back.
    QTest::keyClick(w.Waves(), Qt::Key_N);
    ASSERT_TRUE(w.ShowingNoise());
    EXPECT_TRUE(w.NoiseView()->isVisible());
    EXPECT_FALSE(w.Spectrogram()->isVisible());
    w.FinishBackgroundWork();
    ASSERT_NE(w.NoiseView()->Shown(), nullptr) << w.NoiseView()->Said();
    EXPECT_EQ(w.NoiseView()->Shown()->name, "XX.ZQD01.00.GY0");
    EXPECT_GT(w.NoiseView()->Shown()->ppsd.segments, 3u);
    EXPECT_TRUE(w.StatusText().contains("counts")) << w.StatusText().toStdString();
    QTest::keyClick(w.NoiseView(), Qt::Key_Escape);
    EXPECT_FALSE(w.ShowingNoise());
    EXPECT_TRUE(w.Waves()->isVisible());
#endif
    ASSERT_TRUE(w.ChooseFilter("不滤波"));
    EXPECT_EQ(w.Waves()->Drawn(), w.Waves()->Model());

    // Following the newest data: what is written next is read again, the last row grows.
    w.FollowNewest();
    const std::int64_t before = w.Helicorder()->Model()->Extent()->end_ns;
    write(t0 + 240 * utc::kNsPerSecond, 60);
    w.ReadAgain();
    w.FinishBackgroundWork();
    EXPECT_EQ(w.Helicorder()->Model()->Extent()->end_ns, before + 60 * utc::kNsPerSecond);
    EXPECT_TRUE(w.ShowingHelicorder());
}
#endif

#if defined(ZQD_HAVE_ARCHIVE) && defined(ZQD_HAVE_SPECTROGRAM)
// The viewer as a person sees it, for the documentation: run under Xvfb with
// ZQD_SCREENSHOTS=FOLDER, ZQD_SCREENSHOT_ARCHIVE=an SDS folder of a day with
// an event at 14:23 and ZQD_SCREENSHOT_CONFIG=its settings; skipped without.
TEST(Screenshots, TheViewersSpectrogramHelicorderAndNoise) {
    const char* out = std::getenv("ZQD_SCREENSHOTS");
    const char* archive = std::getenv("ZQD_SCREENSHOT_ARCHIVE");
    if (!out || !archive) {
        GTEST_SKIP() << "ZQD_SCREENSHOTS and ZQD_SCREENSHOT_ARCHIVE not set";
    }
    config::StationConfig config = config::DefaultConfig();
    if (const char* c = std::getenv("ZQD_SCREENSHOT_CONFIG")) {
        ASSERT_TRUE(config::LoadConfig(c, config).ok());
    }
    ui::ViewerWindow w(config);
    w.resize(1400, 900);
    w.show();
    ASSERT_TRUE(w.Open(archive));
    const std::int64_t t0 = utc::ToNs({2026, 12, 7, 14, 22, 30, 0});
    w.Waves()->View().SetSpan(t0, t0 + 240 * utc::kNsPerSecond);
    for (int r = 0; r < w.Waves()->Model()->ChannelCount(); ++r) {
        const bool z = w.Waves()->Model()->At(r).name.ends_with("HHZ");
        w.Waves()->View().SetHidden(r, !z);
        if (z) w.Waves()->View().current_row = r;
    }
    w.ShowSpectrogram(true);
    ASSERT_TRUE(w.ChooseSpectrogram("0.5:50", true, "-10:40"));
    QTest::qWait(200);
    const std::filesystem::path dir(out);
    EXPECT_TRUE(w.grab().save(QString::fromStdString((dir / "viewer-spectrogram.png").string())));
    w.ShowSpectrogram(false);
    w.Waves()->View().SetSpan(utc::ToNs({2026, 12, 7, 0, 0, 0, 0}), utc::ToNs({2026, 12, 8, 0, 0, 0, 0}));
    w.ShowHelicorder(true);
    w.Helicorder()->View().row_minutes = 30;
    w.Helicorder()->View().start = utc::ToNs({2026, 12, 7, 0, 0, 0, 0});
    emit w.Helicorder()->ViewChanged();
    QTest::qWait(200);
    EXPECT_TRUE(w.grab().save(QString::fromStdString((dir / "viewer-helicorder.png").string())));
    w.ShowHelicorder(false);
    w.ShowNoise(true);
    w.FinishBackgroundWork();
    QTest::qWait(200);
    EXPECT_TRUE(w.grab().save(QString::fromStdString((dir / "viewer-noise.png").string())));
}
#endif

TEST(MonitorWindow, TimerClicksAndClose) {
    DllDef dll;
    test::ScriptedCard card;
    acq::Session session(card, {false, std::chrono::milliseconds(100)});
    FrmMultiBuf form(dll, session);
    form.Form_Load();
    card.di = {165, 3};
    card.queryResults = {1, 1, 1, 1, 1, 1, 1, 1};
    auto w = std::make_unique<ui::MonitorWindow>(form);
    w->show();
    EXPECT_EQ(w->windowTitle(), "多缓冲区采集方式");
    EXPECT_EQ(w->lblAD[0]->text(), "0.000");
    EXPECT_EQ(w->lblAD[0]->palette().color(QPalette::Window), QColor(255, 192, 128));
    EXPECT_EQ(w->lblBlock->text(), "Label2");
    EXPECT_EQ(w->cmdExit->nextInFocusChain(), w->cmdStart);

    w->cmdStart->click();
    EXPECT_TRUE(w->TimerAD->isActive());
    EXPECT_EQ(w->TimerAD->interval(), 100);
    for (int waited = 0; w->lblDI->text() != "A5  3" && waited < 5000; waited += 50) QTest::qWait(50);
    EXPECT_EQ(w->lblDI->text(), "A5  3");
    EXPECT_EQ(w->lblAD[0]->text(), "-5.001");
    w->cmdStop->click();
    EXPECT_FALSE(w->TimerAD->isActive());

    w->txtSWO_0->clear();
    QTest::keyClicks(w->txtSWO_0, "ff");
    w->txtswChn->clear();
    QTest::keyClicks(w->txtswChn, "1");
    w->cmdSWO->click();
    EXPECT_EQ(card.calls.back(), "Zqd_DO(1, 255)");

    card.calls.clear();
    w->close();  // by the frame
    EXPECT_EQ(card.calls, std::vector<std::string>{"StopIntr()"});
    EXPECT_TRUE(form.Unloaded);
}

}  // namespace
}  // namespace zqd

// Qt keeps some allocations to the end of the process on purpose; they are
// not this program's leaks.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
