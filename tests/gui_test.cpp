// The windows on real (offscreen) widgets: layout, clicks, edits, timers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
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
#include "ui/plot.h"
#include "ui/plot_title.h"
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
