// The windows on real (offscreen) widgets: layout, clicks, edits, timers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QTest>

#include "recording/record_file.h"
#include "scripted_card.h"
#include "test_support.h"
#include "ui/main_window.h"
#include "ui/monitor_window.h"
#include "ui/twips.h"

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
    ASSERT_TRUE(SaveRecordFile(dir / "T1.DAT", 20, 2000, record.data(), record.size()).ok());

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
