#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "formats/csv/t2csv.h"
#include "app/query.h"
#include "formats/t1dat/t1dat_reader.h"
#include "formats/t1dat/record_times.h"
#include "gps/block_time.h"
#include "app/frm_main.h"
#include "formats/t1dat/t1dat_writer.h"
#include "scripted_card.h"
#include "test_support.h"

namespace zqd {
namespace {

using test::ReadFile;
using test::TempDir;

std::vector<std::int32_t> Ha(int month, int day, int year, int h, int m, int s, std::uint32_t ns) {
    return {64, 64, 72, 97, month, day, year >> 8, year & 0xFF, h, m, s,
            static_cast<std::int32_t>(ns >> 24), static_cast<std::int32_t>((ns >> 16) & 0xFF),
            static_cast<std::int32_t>((ns >> 8) & 0xFF), static_cast<std::int32_t>(ns & 0xFF)};
}

// A record of 2-channel blocks: offset 0 holds the block's scan number,
// offset 1 the given GPS values and 4096 after them.
std::vector<std::int32_t> Blocks(int chnPoints, const std::vector<std::vector<std::int32_t>>& gps) {
    std::vector<std::int32_t> data;
    for (std::size_t k = 0; k < gps.size(); ++k)
        for (int s = 0; s < chnPoints; ++s) {
            data.push_back(static_cast<std::int32_t>(k * 1000) + s);
            data.push_back(static_cast<std::size_t>(s) < gps[k].size() ? gps[k][static_cast<std::size_t>(s)] : 4096);
        }
    data.push_back(0);
    return data;
}

struct AnalysisFixture : ::testing::Test {
    DllDef dll;
    test::ScriptedCard card;
    acq::Session session{card, {false, std::chrono::milliseconds(1000)}};
    TempDir dir;
    FrmMain form{dll, session, dir.path()};

    void SetUp() override { form.Form_Load(); }

    void Save(std::int16_t blockNum, std::int32_t chnPoints, const std::vector<std::int32_t>& data) {
        ASSERT_TRUE(t1dat::SaveRecordFile(form.RecordFilePath, blockNum, chnPoints, data.data(), data.size()).ok());
    }
};

// ---- loading and decoding ----

TEST_F(AnalysisFixture, LoadListsEveryBlockTimeAndEnablesTheQuery) {
    dll.ChnNum = 2;
    Save(3, 20,
         Blocks(20, {Ha(5, 12, 2008, 3, 4, 5, 0), Ha(5, 12, 2008, 3, 4, 6, 1000), {4096, 64, 64, 72, 97}}));
    form.CmdOpen_Click();
    EXPECT_EQ(form.TxtResult.Text, "2008-5-12 3:4:5:0\r\n2008-5-12 3:4:6:1000\r\n0-0-0 0:0:0:0\r\n完毕\r\n");
    EXPECT_TRUE(form.CmdFind.Enabled);
    EXPECT_EQ(dll.BlockNum, 3);
    EXPECT_EQ(dll.ChnPoints, 20);
    EXPECT_EQ(form.Record.BlockData.size(), 121u);
    EXPECT_EQ(form.BlockTime.size(), 4u);
    EXPECT_EQ(form.BlockTime[1], (gps::GpsTime{2008, 5, 12, 3, 4, 6, 1000}));
    EXPECT_EQ(form.GpsSecond, 6);  // the last decoded message
}

TEST_F(AnalysisFixture, EmptyRecordListsOnlyTheEnd) {
    Save(0, 2000, {0});
    form.CmdOpen_Click();
    EXPECT_EQ(form.TxtResult.Text, "完毕\r\n");
    EXPECT_TRUE(form.CmdFind.Enabled);
    EXPECT_EQ(form.Record.BlockData, std::vector<std::int32_t>{0});
}

TEST(Decode, OnlyABlocksOwnCompleteMessageGivesItATime) {
    auto decode = [](std::vector<std::int32_t> gps) {
        const auto data = Blocks(20, {gps});
        return gps::DecodeBlockTime(data.data(), 2, 20);
    };
    const auto good = Ha(5, 12, 2008, 3, 4, 5, 1000);
    EXPECT_TRUE(decode(good));

    // 4096 is skipped; 0 is a byte.
    auto spaced = good;
    spaced.insert(spaced.begin() + 2, 4096);
    spaced.insert(spaced.begin(), 4096);
    EXPECT_EQ(decode(spaced), (gps::GpsTime{2008, 5, 12, 3, 4, 5, 1000}));
    EXPECT_EQ(decode(Ha(5, 12, 2008, 0, 0, 0, 0)), (gps::GpsTime{2008, 5, 12, 0, 0, 0, 0}));

    // Year high byte first, NS bytes high first.
    EXPECT_EQ(decode(Ha(1, 1, 2008, 0, 0, 0, 1000))->Year, 2008);
    EXPECT_EQ(decode(Ha(1, 1, 2008, 0, 0, 0, 1000))->NS, 1000);

    // Whole values: 320 is not "@".
    auto wide = good;
    wide[0] = 320;
    EXPECT_FALSE(decode(wide));
    // A block that begins inside a message, or has too few values.
    EXPECT_FALSE(decode({97, 5, 12, 7, 216}));
    EXPECT_FALSE(decode({64, 64, 72, 97, 5, 12, 7, 216, 3, 4, 5, 0, 0, 3}));
    EXPECT_FALSE(decode({}));
    // Fields that do not fit: above 32767, or an NS high byte of 128.
    auto big = good;
    big[8] = 40000;
    EXPECT_FALSE(decode(big));
    auto negative_ns = good;
    negative_ns[11] = 128;
    EXPECT_FALSE(decode(negative_ns));
}

TEST(Decode, AtSignsOutsideTheGpsSlotAreNeverLookedAt) {
    auto data = Blocks(20, {Ha(5, 12, 2008, 3, 4, 5, 0)});
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) data[i] = 64;  // offset 0 all "@"
    EXPECT_TRUE(gps::DecodeBlockTime(data.data(), 2, 20));
    auto none = Blocks(20, {{}});
    for (std::size_t i = 0; i + 1 < none.size(); i += 2) none[i] = 64;
    EXPECT_FALSE(gps::DecodeBlockTime(none.data(), 2, 20));
}

TEST_F(AnalysisFixture, ABlockWithoutItsOwnMessageGetsNoTimeFromTheBlockBefore) {
    dll.ChnNum = 2;
    Save(3, 20, Blocks(20, {Ha(5, 12, 2008, 3, 4, 5, 0), {}, {64, 64, 72, 97, 9, 9}}));
    form.CmdOpen_Click();
    EXPECT_EQ(form.BlockTime[1], gps::GpsTime{});
    EXPECT_EQ(form.BlockTime[2], gps::GpsTime{});
}

TEST_F(AnalysisFixture, RecordLoadedWithAnotherChnNumReadsOnlyWhatThatAnnounces) {
    const auto v = test::SimRecord("2008-05-12T17:38:40", 20);
    Save(20, 2000, v);
    dll.ChnNum = 4;  // as after a monitor start
    form.CmdOpen_Click();
    EXPECT_TRUE(form.CmdFind.Enabled);
    ASSERT_EQ(form.Record.BlockData.size(), 160001u);
    EXPECT_TRUE(std::equal(form.Record.BlockData.begin(), form.Record.BlockData.end(), v.begin()));
}

TEST_F(AnalysisFixture, BadFilesAreRefusedAndTheLoadedRecordKept) {
    dll.ChnNum = 2;
    Save(2, 20, Blocks(20, {Ha(5, 12, 2008, 3, 4, 5, 0), Ha(5, 12, 2008, 3, 4, 6, 0)}));
    form.CmdOpen_Click();
    const auto data = form.Record.BlockData;
    const auto times = form.BlockTime;
    const std::string good = ReadFile(form.RecordFilePath);

    auto header = [](std::int16_t blockNum, std::int32_t chnPoints) {
        std::string h(132, '\0');
        h[0] = static_cast<char>(blockNum & 0xFF);
        h[1] = static_cast<char>((blockNum >> 8) & 0xFF);
        for (int b = 0; b < 4; ++b) h[128 + b] = static_cast<char>((chnPoints >> (8 * b)) & 0xFF);
        return h;
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "文件只有 0 字节"},
        {good.substr(0, good.size() - 128), "文件只有"},
        {header(-1, 20), "块数 -1 为负"},
        {header(2, -20), "每通道点数 -20 为负"},
        {header(32767, 2000000000), "超出 32 位范围"},
    };
    for (const auto& [bytes, why] : cases) {
        test::WriteFile(form.RecordFilePath, bytes);
        const std::string before = form.TxtResult.Text;
        form.CmdOpen_Click();
        const std::string added = form.TxtResult.Text.substr(before.size());
        EXPECT_EQ(form.TxtResult.Text.substr(0, before.size()), before);
        EXPECT_NE(added.find(form.RecordFilePath.string()), std::string::npos) << added;
        EXPECT_NE(added.find(why), std::string::npos) << added;
        EXPECT_EQ(form.Record.BlockData, data);
        EXPECT_EQ(form.BlockTime, times);
        EXPECT_EQ(dll.BlockNum, 2);
        EXPECT_EQ(dll.ChnPoints, 20);
    }
    std::filesystem::remove(form.RecordFilePath);
    form.CmdOpen_Click();
    EXPECT_NE(form.TxtResult.Text.find("文件不存在"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(form.RecordFilePath));  // never created
    EXPECT_TRUE(form.CmdFind.Enabled);
}

TEST_F(AnalysisFixture, AnEmptyRecordWithHugeBlocksIsQueriedWithoutReadingPastIt) {
    Save(0, 100000000, {0});  // no block, but a header that announces huge ones
    form.CmdOpen_Click();
    ASSERT_TRUE(form.CmdFind.Enabled);
    form.CmdFind_Click();
    EXPECT_NE(form.TxtResult.Text.find("超出记录"), std::string::npos) << form.TxtResult.Text;
    EXPECT_EQ(form.DispPoints, 0);
    EXPECT_TRUE(form.DispData.empty());
}

TEST_F(AnalysisFixture, MissingFileBeforeAnyLoadLeavesTheQueryDisabled) {
    form.CmdOpen_Click();
    EXPECT_FALSE(form.CmdFind.Enabled);
    EXPECT_NE(form.TxtResult.Text.find("T1.DAT"), std::string::npos);
}

TEST_F(AnalysisFixture, LoadingWhileRecordingIsRefused) {
    Save(0, 2000, {0});
    form.CmdStart_Click();
    ASSERT_TRUE(form.TimerAD.Enabled);
    form.CmdOpen_Click();
    EXPECT_TRUE(form.TimerAD.Enabled);
    EXPECT_EQ(form.Record.BlockData.size(), 720001u);
    EXPECT_EQ(dll.BlockNum, 20);
    EXPECT_NE(form.TxtResult.Text.find("正在采集"), std::string::npos);
    EXPECT_FALSE(form.CmdFind.Enabled);
}

// ---- query ----

struct QueryFixture : AnalysisFixture {
    // 20 blocks at the main settings; every sample holds its own index.
    void SetUp() override {
        AnalysisFixture::SetUp();
        form.Record.BlockNum = 20;
        form.Record.ChnPoints = 2000;
        form.Record.ChnNum = 18;
        form.Record.BlockData.resize(720001);
        std::iota(form.Record.BlockData.begin(), form.Record.BlockData.end(), 0);
        form.BlockTime.assign(21, gps::GpsTime{});
    }
    void Times(int first, int h, int m, int s, std::int32_t ns = 0) {
        form.BlockTime[static_cast<std::size_t>(first)] = gps::GpsTime{2008, 5, 12, static_cast<std::int16_t>(h),
                                                                   static_cast<std::int16_t>(m),
                                                                   static_cast<std::int16_t>(s), ns};
    }
    void Box(std::array<Control, 3>& boxes, const std::string& h, const std::string& m, const std::string& s) {
        boxes[0].Text = h;
        boxes[1].Text = m;
        boxes[2].Text = s;
    }
};

TEST_F(QueryFixture, ThreeConsecutiveBlocks) {
    for (int k = 0; k < 20; ++k) Times(k, 17, 38, 38 + k);
    form.CmdFind_Click();  // 17:38:43 to 17:38:45 are blocks 5 to 7
    EXPECT_EQ(form.DispPoints, 6000);
    EXPECT_EQ(form.StartNS, 0);
    EXPECT_EQ(form.DispData.front(), 5 * 36000 + 1);
    EXPECT_EQ(form.DispData.back(), 8 * 36000 - 18 + 1);
    EXPECT_EQ(form.PicDraw.Right, 6000);
    EXPECT_EQ(form.PicDraw.Top, 65735);
    EXPECT_EQ(form.PicDraw.Bottom, -200);
    EXPECT_EQ(form.PicDraw.Trace, form.DispData);
    EXPECT_EQ(form.PicDraw.Color, 255u);
    EXPECT_EQ(form.TxtResult.Text, "");  // the query writes nothing to the log
}

TEST_F(QueryFixture, UnmatchedTimesFallBackToBlockZero) {
    Times(0, 1, 2, 3, 123456789);
    form.CmdFind_Click();
    EXPECT_EQ(form.DispPoints, 2000);
    EXPECT_EQ(form.StartNS, 123456789);  // block 0: no shift
    EXPECT_EQ(form.DispData[0], 1);

    Times(4, 17, 38, 45);  // only the end found
    form.CmdFind_Click();
    EXPECT_EQ(form.DispPoints, 5 * 2000);
    EXPECT_EQ(form.DispData[0], 1);
}

TEST_F(QueryFixture, ReversedRangeGivesAnAllZeroSeries) {
    Times(6, 17, 38, 43);  // start found at 6, end not found: 0
    form.CmdFind_Click();
    EXPECT_EQ(form.DispPoints, 7 * 2000);
    EXPECT_EQ(form.DispData, std::vector<std::int32_t>(14000, 0));
}

TEST_F(QueryFixture, DuplicateSecondsTakeTheLaterBlock) {
    Times(2, 17, 38, 43);
    Times(3, 17, 38, 43);
    Times(5, 17, 38, 45);
    Times(6, 17, 38, 45);
    form.CmdFind_Click();
    EXPECT_EQ(form.DispPoints, 4 * 2000);
    EXPECT_EQ(form.DispData[0], 3 * 36000 + 1);
}

TEST_F(QueryFixture, SecondsRoundHalfToEvenAndFractionalMinutesCount) {
    Times(2, 0, 0, 2);
    Times(4, 0, 0, 4);
    Times(9, 17, 38, 30);
    Box(form.TxtFormT, "0", "0", "2.5");
    Box(form.TxtToT, "0", "0", "3.5");
    form.CmdFind_Click();
    EXPECT_EQ(form.DispPoints, 3 * 2000);
    EXPECT_EQ(form.DispData[0], 2 * 36000 + 1);
    Box(form.TxtFormT, "17", "38.5", "0");
    Box(form.TxtToT, "17", "38.5", "");
    form.CmdFind_Click();
    EXPECT_EQ(form.DispData[0], 9 * 36000 + 1);
}

TEST_F(QueryFixture, ChannelBoxIsRewrittenToItsNumber) {
    form.TxtDispChnNo.Text = "3abc";
    form.CmdFind_Click();
    EXPECT_EQ(form.TxtDispChnNo.Text, "3");
    EXPECT_EQ(form.DispData[0], 3);
    form.TxtDispChnNo.Text = "";
    form.CmdFind_Click();
    EXPECT_EQ(form.TxtDispChnNo.Text, "0");
    EXPECT_EQ(form.DispData[1], 18);
    form.TxtDispChnNo.Text = "02";
    form.CmdFind_Click();
    EXPECT_EQ(form.TxtDispChnNo.Text, "2");
    form.TxtDispChnNo.Text = "2.5";
    form.CmdFind_Click();
    EXPECT_EQ(form.TxtDispChnNo.Text, "2.5");
    EXPECT_EQ(form.DispData[0], 2);
    form.TxtDispChnNo.Text = "18";  // not compared with ChnNum: the next scan's offset 0
    form.CmdFind_Click();
    EXPECT_EQ(form.DispData[0], 18);
}

TEST_F(QueryFixture, StartNanosecondsShiftTheSeriesToTheWholeSecond) {
    Times(5, 17, 38, 43, 800000);
    Times(7, 17, 38, 45);
    form.CmdFind_Click();
    EXPECT_EQ(form.StartNS, -200000);
    EXPECT_EQ(form.DispPoints, 6000);
    EXPECT_EQ(form.DispData[0], 5 * 36000 - 2 * 18 + 1);
    EXPECT_EQ(form.DispData[5999], 8 * 36000 - 2 * 18 - 18 + 1);

    Times(5, 17, 38, 43, 100000);
    form.CmdFind_Click();
    EXPECT_EQ(form.StartNS, 100000);
    EXPECT_EQ(form.DispData[0], 5 * 36000 + 1);
}

TEST_F(QueryFixture, PathologicalNanosecondsEndTheReduction) {
    Times(7, 17, 38, 45);
    Times(5, 17, 38, 43, 250000);  // exactly half a period: the shift rounds up
    form.CmdFind_Click();
    EXPECT_EQ(form.StartNS, -250000);
    EXPECT_EQ(form.DispData[0], 5 * 36000 - 18 + 1);
    Times(5, 17, 38, 43, -800000);  // negative: the series starts later
    form.CmdFind_Click();
    EXPECT_EQ(form.StartNS, 200000);
    EXPECT_EQ(form.DispData[0], 5 * 36000 + 2 * 18 + 1);
}

TEST_F(QueryFixture, ZeroTimeMatchesTheLastBlockWithoutATime) {
    for (int k = 0; k < 20; ++k) Times(k, 17, 38, 38 + k);
    form.BlockTime[12] = gps::GpsTime{};
    form.BlockTime[13] = gps::GpsTime{};
    Box(form.TxtFormT, "0", "0", "0");
    Box(form.TxtToT, "0", "0", "0");
    form.CmdFind_Click();
    EXPECT_EQ(form.DispData[0], 13 * 36000 + 1);
}

TEST_F(QueryFixture, QueriesOutsideTheWidthsAreRefusedAndChangeNothing) {
    for (int k = 0; k < 20; ++k) Times(k, 17, 38, 38 + k);
    form.CmdFind_Click();
    const auto data = form.DispData;
    const unsigned generation = form.PicDraw.Generation;
    auto refused = [&](const char* why) {
        form.TxtResult.Text.clear();
        form.CmdFind_Click();
        EXPECT_EQ(form.TxtResult.Text.rfind("查询未执行", 0), 0u) << why;
        EXPECT_NE(form.TxtResult.Text.find(why), std::string::npos) << form.TxtResult.Text;
        EXPECT_EQ(form.DispData, data);
        EXPECT_EQ(form.DispPoints, 6000);
        EXPECT_EQ(form.StartNS, 0);
        EXPECT_EQ(form.PicDraw.Generation, generation);
    };
    form.TxtDispChnNo.Text = "40000";
    refused("通道号 40000");
    form.TxtDispChnNo.Text = "1";
    form.TxtFormT[0].Text = "1e400";
    refused("开始时间");
    form.TxtFormT[0].Text = "1000000";
    refused("开始时间");
    form.TxtFormT[0].Text = "17";
    form.TxtToT[2].Text = "-1e10";
    refused("结束时间");
    Box(form.TxtToT, "17", "38", "57");  // through the last block
    form.TxtDispChnNo.Text = "19";
    refused("超出记录");
    Box(form.TxtFormT, "17", "38", "38");  // from block 0
    form.TxtDispChnNo.Text = "-1";
    refused("超出记录");
    form.TxtDispChnNo.Text = "1";
    Times(5, 17, 38, 43, 910250000);  // 18 x D passes 32767
    Box(form.TxtFormT, "17", "38", "43");
    refused("16 位");
    EXPECT_EQ(form.TxtDispChnNo.Text, "1");
}

// ---- export ----


TEST(Export, ValueLinesFollowThePattern) {
    EXPECT_EQ(csv::ExportValueText(0), "-4.9999");
    EXPECT_EQ(csv::ExportValueText(32766), "-.0002");
    EXPECT_EQ(csv::ExportValueText(32767), ".0000");
    EXPECT_EQ(csv::ExportValueText(32768), ".0002");
    EXPECT_EQ(csv::ExportValueText(40000), "1.1037");
    EXPECT_EQ(csv::ExportValueText(65535), "5.0001");
    EXPECT_EQ(csv::ExportValueText(INT32_MIN), "-327690.0000");  // no overflow in the subtraction
}

const std::string kShiJian = "\xCA\xB1\xBC\xE4";  // "时间" in GBK

TEST_F(AnalysisFixture, ExportBeforeAnyQueryWritesTheHeaderOnly) {
    form.CmdOutput_Click();
    EXPECT_EQ(ReadFile(form.ExportFilePath), kShiJian + "17-38-43  NS:0\r\n");
    EXPECT_EQ(form.TxtResult.Text, "文件导出完毕!\r\n");
}

TEST_F(AnalysisFixture, ExportWritesTheSeriesUnderTheStartBoxesAsTyped) {
    form.DispData = {0, 32766, 32767, 32768, 40000, 65535};
    form.DispPoints = 6;
    form.StartNS = -200000;
    form.TxtFormT[0].Text = "7 h";
    form.TxtFormT[2].Text = " 时";
    form.CmdOutput_Click();
    EXPECT_EQ(ReadFile(form.ExportFilePath),
              kShiJian + "7 h-38- \xCA\xB1  NS:-200000\r\n-4.9999\r\n-.0002\r\n.0000\r\n.0002\r\n1.1037\r\n5.0001\r\n");

    form.DispData = {32767};
    form.CmdOutput_Click();  // a second export replaces the first
    EXPECT_EQ(ReadFile(form.ExportFilePath), kShiJian + "7 h-38- \xCA\xB1  NS:-200000\r\n.0000\r\n");
    EXPECT_EQ(form.TxtResult.Text, "文件导出完毕!\r\n文件导出完毕!\r\n");
    EXPECT_FALSE(std::filesystem::exists(form.ExportFilePath.string() + ".tmp"));
}

TEST_F(QueryFixture, ExportAfterQueriesOfThreeBlocksAndAReversedRange) {
    for (int k = 0; k < 20; ++k) Times(k, 17, 38, 38 + k);
    form.CmdFind_Click();
    form.TxtFormT[2].Text = "44";  // edited after the query: header changes, values do not
    form.CmdOutput_Click();
    std::string csv = ReadFile(form.ExportFilePath);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 6001);
    EXPECT_EQ(csv.rfind(kShiJian + "17-38-44  NS:0\r\n" + csv::ExportValueText(5 * 36000 + 1) + "\r\n", 0), 0u);

    Box(form.TxtFormT, "17", "38", "45");
    Box(form.TxtToT, "17", "38", "43");
    form.CmdFind_Click();
    form.CmdOutput_Click();
    csv = ReadFile(form.ExportFilePath);
    std::string expected = kShiJian + "17-38-45  NS:0\r\n";
    for (int i = 0; i < 6000; ++i) expected += "-4.9999\r\n";
    EXPECT_EQ(csv, expected);
}

// The whole road, as a user takes it: a record of the simulated card opened,
// a second queried, exported; the T2.csv as its golden copy holds it.
TEST_F(AnalysisFixture, ARecordedSecondExportsAsTheGoldenT2Csv) {
    Save(3, 200, test::SimRecord("2008-05-12T17:38:40.300000000", 3, 18, 200, 200));
    form.CmdOpen_Click();
    ASSERT_EQ(form.TxtResult.Text.substr(0, 23), "2008-5-12 17:38:40:3000") << form.TxtResult.Text;
    form.TxtFormT[2].Text = "41";
    form.TxtToT[2].Text = "41";
    form.TxtDispChnNo.Text = "3";
    form.CmdFind_Click();
    form.CmdOutput_Click();
    EXPECT_TRUE(test::SameAsGolden("T2.csv", ReadFile(form.ExportFilePath)));
}

TEST_F(AnalysisFixture, AnExportThatCannotBeWrittenIsReported) {
    form.ExportFilePath = dir / "missing-folder" / "T2.csv";
    form.CmdOutput_Click();
    EXPECT_EQ(form.TxtResult.Text.rfind("导出失败：" + form.ExportFilePath.string(), 0), 0u) << form.TxtResult.Text;
    EXPECT_EQ(form.TxtResult.Text.find("文件导出完毕"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(form.ExportFilePath));
}

}  // namespace
}  // namespace zqd

namespace zqd {
namespace {

// Random record files and box texts: every one is either refused with a
// message or handled, and nothing reads outside its buffers (the sanitizers
// watch the reads).
TEST_F(AnalysisFixture, RandomFilesAndBoxTextsNeverCrash) {
    std::mt19937 rng(4830);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const char* texts[] = {"", "0", "17", "-1", "2.5", "1e9", "&HFF", "abc", "99999", "-40000", "1e400"};
    int loaded = 0;
    for (int round = 0; round < 300; ++round) {
        std::string bytes(static_cast<std::size_t>(pick(0, 6000)), '\0');
        for (auto& b : bytes) b = static_cast<char>(pick(0, 255));
        if (bytes.size() >= 132 && pick(0, 1)) {  // a plausible header now and then
            bytes[0] = static_cast<char>(pick(0, 3));
            bytes[1] = 0;
            bytes[128] = static_cast<char>(pick(0, 3));
            bytes[129] = bytes[130] = bytes[131] = 0;
        }
        test::WriteFile(form.RecordFilePath, bytes);
        dll.ChnNum = static_cast<std::int16_t>(pick(1, 4));
        form.CmdOpen_Click();
        loaded += form.TxtResult.Text.size() >= 8 &&
                  form.TxtResult.Text.compare(form.TxtResult.Text.size() - 8, 8, "完毕\r\n") == 0;
        for (auto& box : form.TxtFormT) box.Text = texts[pick(0, 10)];
        for (auto& box : form.TxtToT) box.Text = texts[pick(0, 10)];
        form.TxtDispChnNo.Text = texts[pick(0, 10)];
        form.CmdFind_Click();
        ASSERT_EQ(form.DispData.size(), static_cast<std::size_t>(form.DispPoints));
        form.CmdOutput_Click();
    }
    EXPECT_GT(loaded, 20);
}

}  // namespace
}  // namespace zqd
