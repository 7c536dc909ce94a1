// The viewer's windows on real (offscreen) widgets: its spectrogram drawn,
// records and archives opened, the helicorder, the filters, the spectrogram's
// controls and the 噪声 view; and its screenshots for the documentation.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "test_support.h"
#ifdef ZQD_HAVE_ARCHIVE
#include "common/utc.h"
#include "formats/mseed/mseed_packer.h"
#include "formats/sds/sds_writer.h"
#include "formats/t1dat/t1dat_writer.h"
#include "ui/viewer_window.h"
#endif
#ifdef ZQD_HAVE_SPECTROGRAM
#include "ui/spectrogram_paint.h"
#endif

namespace zqd {
namespace {

using test::ReadFile;
using test::TempDir;

#ifdef ZQD_HAVE_ARCHIVE
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
}  // namespace
}  // namespace zqd
