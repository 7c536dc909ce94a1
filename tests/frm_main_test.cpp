#include "app/frm_main.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "acquisition/session.h"
#include "app/frm_multibuf.h"
#include "scripted_card.h"
#include "test_support.h"

namespace zqd {
namespace {

using test::ScriptedCard;
using test::TempDir;

constexpr int N = 36000;

struct MainFixture : ::testing::Test {
    DllDef dll;
    ScriptedCard card;
    acq::Session session{card, {false, std::chrono::milliseconds(1000)}};
    TempDir dir;
    FrmMain form{dll, session, dir.path()};

    void SetUp() override { form.Form_Load(); }

    void Start() {
        form.CmdStart_Click();
        ASSERT_TRUE(form.TimerAD.Enabled);
        card.calls.clear();
    }
    // One tick whose QueryBuf reports `n`; buffer k is filled with k+1 in every sample.
    void Tick(std::int32_t n) {
        card.queryResults.push_back(n);
        form.TimerAD_Timer();
    }
};

TEST_F(MainFixture, LoadInitialisesTheCardAndTheSettings) {
    EXPECT_EQ(card.calls, std::vector<std::string>{"Initial(320, 5, 0, 0)"});
    EXPECT_EQ(dll.BlockNum, 20);
    EXPECT_EQ(dll.BlockIdx, 0);
    EXPECT_EQ(dll.BufNum, 10);
    EXPECT_EQ(dll.ChnPoints, 2000);
    EXPECT_EQ(dll.StartChn, 0);
    EXPECT_EQ(dll.ChnNum, 18);
    EXPECT_EQ(dll.SampleFrq, 2000);
    EXPECT_EQ(dll.StartParam6, 0);
    EXPECT_EQ(dll.StartParam7, 1);
    EXPECT_TRUE(form.Record.BlockData.empty());
    EXPECT_EQ(form.lblBlock.Text, "0");
    EXPECT_EQ(form.lblptr.Text, "0");
    EXPECT_EQ(form.TxtResult.Text, "");
    EXPECT_FALSE(form.CmdFind.Enabled);
    EXPECT_TRUE(form.CmdOutput.Enabled);
    EXPECT_EQ(form.CmdStart.Text, "开始");
    EXPECT_FALSE(form.TimerAD.Enabled);
    EXPECT_EQ(form.TimerAD.Interval, 1000);
}

TEST_F(MainFixture, StartCallsTheCardInOrderAndCreatesTheBuffers) {
    form.Record.BlockData.assign(5, 9);
    form.BlockTime.assign(3, gps::GpsTime{1, 1, 1, 1, 1, 1, 1});
    card.calls.clear();
    form.CmdStart_Click();
    EXPECT_EQ(card.calls, (std::vector<std::string>{"StopIntr()", "Initial(320, 5, 0, 0)",
                                                      "StartIntr(10, 2000, 0, 18, 2000, 0, 1)"}));
    EXPECT_EQ(form.Record.BlockData, std::vector<std::int32_t>(720001, 0));
    EXPECT_EQ(form.BlockTime, std::vector<gps::GpsTime>(21));
    EXPECT_TRUE(form.TimerAD.Enabled);
    EXPECT_EQ(form.TxtResult.Text, "开始采集");
    EXPECT_EQ(form.CmdStart.Text, "停止");
}

TEST_F(MainFixture, InitialFailureShowsTheCodeAndTouchesNothingElse) {
    Start();
    Tick(1);
    form.CmdStart_Click();  // stop, with one block gathered
    form.Record.BlockData[0] = 1234;
    card.initialResult = 0;
    card.lastError = 7;
    card.calls.clear();
    form.CmdStart_Click();
    EXPECT_EQ(form.lblBlock.Text, "Error=7");
    EXPECT_EQ(form.lblptr.Text, " 36000");
    EXPECT_EQ(form.TxtResult.Text, "开始采集");
    EXPECT_EQ(form.CmdStart.Text, "开始");
    EXPECT_FALSE(form.TimerAD.Enabled);
    EXPECT_EQ(form.RecvBlocks, 0);
    EXPECT_EQ(form.RecordBlocks, 0);
    EXPECT_EQ(dll.BlockIdx, 0);
    EXPECT_EQ(form.Record.BlockData[0], 1234);
    EXPECT_EQ(card.Count("StartIntr"), 0);
}

TEST_F(MainFixture, StartIntrFailureLeavesNewZeroedBuffers) {
    form.Record.BlockData.assign(10, 5);
    form.BlockTime.assign(21, gps::GpsTime{2008, 5, 12, 3, 4, 5, 0});
    card.startResult = 0;
    card.lastError = -5;
    form.CmdStart_Click();
    EXPECT_EQ(form.lblBlock.Text, "Error=-5");
    EXPECT_EQ(form.CmdStart.Text, "开始");
    EXPECT_FALSE(form.TimerAD.Enabled);
    EXPECT_EQ(form.Record.BlockData, std::vector<std::int32_t>(720001, 0));
    EXPECT_EQ(form.BlockTime, std::vector<gps::GpsTime>(21));
}

TEST_F(MainFixture, StopKeepsEverythingAndExitStopsTheCard) {
    Start();
    Tick(2);
    form.CmdStart_Click();
    EXPECT_EQ(card.calls.back(), "StopIntr()");
    EXPECT_FALSE(form.TimerAD.Enabled);
    EXPECT_EQ(form.CmdStart.Text, "开始");
    EXPECT_EQ(form.RecvBlocks, 2);
    EXPECT_EQ(form.RecordBlocks, 2);
    EXPECT_EQ(dll.BlockIdx, 2 * N);
    EXPECT_FALSE(std::filesystem::exists(form.RecordFilePath));

    form.CmdStart_Click();  // a new record begins at block 0
    EXPECT_EQ(dll.BlockIdx, 0);
    card.calls.clear();
    form.CmdExit_Click();
    EXPECT_EQ(card.calls, std::vector<std::string>{"StopIntr()"});
    EXPECT_TRUE(form.Unloaded);
    EXPECT_FALSE(std::filesystem::exists(form.RecordFilePath));
}

TEST_F(MainFixture, TickWithoutBuffersChangesNothing) {
    Start();
    form.lblBlock.Text = "Error=3";
    Tick(0);
    Tick(0xFFFE);   // -2 in the low 16 bits: not a buffer count
    Tick(-1);
    EXPECT_EQ(card.Count("ADResult"), 0);
    EXPECT_EQ(form.lblBlock.Text, "Error=3");
    EXPECT_EQ(form.lblptr.Text, "0");
    EXPECT_EQ(form.RecvBlocks, 0);
    EXPECT_EQ(dll.BlockIdx, 0);
}

TEST_F(MainFixture, SamplesAreStoredAsUnsigned16BitValues) {
    Start();
    card.fill = [](int, std::int16_t* w) {
        w[0] = 111;  // not a sample
        w[1] = static_cast<std::int16_t>(0x8000);
        w[2] = static_cast<std::int16_t>(0xFFFF);
        w[3] = 4096;
        w[N + 1] = 222;  // not a sample
    };
    Tick(0x10001);  // only the low 16 bits count: one buffer
    EXPECT_EQ(form.lblBlock.Text, " 1");
    EXPECT_EQ(form.lblptr.Text, " 36000");
    Tick(19);
    const std::string bytes = test::ReadFile(form.RecordFilePath);
    ASSERT_EQ(bytes.size(), 92160384u);
    auto value = [&](std::size_t i) {
        std::uint32_t v = 0;
        for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<unsigned char>(bytes[(2 + i) * 128 + b]);
        return v;
    };
    EXPECT_EQ(value(0), 32768u);
    EXPECT_EQ(value(1), 65535u);
    EXPECT_EQ(value(2), 4096u);
    EXPECT_EQ(value(3), 0u);
    EXPECT_EQ(value(N), 32768u);
    EXPECT_EQ(value(20 * N), 0u);
}

TEST_F(MainFixture, TwentiethBlockStopsAndSavesTheRecord) {
    Start();
    card.fill = [](int k, std::int16_t* w) {
        for (int i = 1; i <= N; ++i) w[i] = static_cast<std::int16_t>(k + 1);
    };
    std::vector<std::string> texts;
    form.Changed = [&](const Control& c) {
        if (c.Name == "TxtResult") texts.push_back(c.Text);
    };
    for (int i = 0; i < 19; ++i) Tick(1);
    EXPECT_EQ(form.lblBlock.Text, " 19");
    EXPECT_EQ(form.lblptr.Text, " 684000");
    Tick(1);
    EXPECT_EQ(dll.BlockIdx, 0);
    EXPECT_EQ(form.RecordBlocks, 0);
    EXPECT_EQ(form.lblBlock.Text, " 20");
    EXPECT_EQ(form.lblptr.Text, " 0");
    EXPECT_EQ(form.CmdStart.Text, "开始");
    EXPECT_FALSE(form.TimerAD.Enabled);
    EXPECT_EQ(card.calls.back(), "StopIntr()");
    EXPECT_EQ(texts, (std::vector<std::string>{"存盘...", "保存完毕！"}));
    const std::string bytes = test::ReadFile(form.RecordFilePath);
    ASSERT_EQ(bytes.size(), 92160384u);
    EXPECT_EQ(bytes[(2 + 684000) * 128], 20);
    EXPECT_EQ(bytes[(2 + 719999) * 128], 20);
    EXPECT_EQ(bytes[(2 + 720000) * 128], 0);
    EXPECT_TRUE(form.LastSave.ok());
    EXPECT_EQ(form.Saves, 1);
}

TEST_F(MainFixture, AFailedReadIsReportedAndNeverStored) {
    Start();
    card.fill = [](int k, std::int16_t* w) {
        for (int i = 1; i <= N; ++i) w[i] = static_cast<std::int16_t>(k + 1);
    };
    card.adResults = {1, 0, 1};
    Tick(3);
    EXPECT_EQ(form.RecvBlocks, 2);
    EXPECT_EQ(form.RecordBlocks, 2);
    EXPECT_EQ(dll.BlockIdx, 2 * N);
    EXPECT_EQ(form.lblBlock.Text, " 2");
    EXPECT_EQ(form.lblptr.Text, " 72000");
    EXPECT_EQ(form.TxtResult.Text, "开始采集\r\n读数失败：ADResult=0\r\n");
    EXPECT_EQ(form.ReadFailures, 1u);
    for (int i = 0; i < 18; ++i) Tick(1);
    ASSERT_EQ(form.Saves, 1);
    // The record holds 20 good reads: buffers 1, 3, 4, ..., 21; never the failed 2 again.
    const std::string bytes = test::ReadFile(form.RecordFilePath);
    ASSERT_EQ(bytes.size(), 92160384u);
    EXPECT_EQ(bytes[(2 + 0 * N) * 128], 1);
    EXPECT_EQ(bytes[(2 + 1 * N) * 128], 3);
    EXPECT_EQ(bytes[(2 + 19 * N) * 128], 21);
}

TEST_F(MainFixture, BuffersAfterTheSaveStartTheNextRecord) {
    Start();
    card.fill = [](int k, std::int16_t* w) {
        for (int i = 1; i <= N; ++i) w[i] = static_cast<std::int16_t>(k + 1);
    };
    for (int i = 0; i < 19; ++i) Tick(1);
    Tick(3);
    EXPECT_EQ(form.RecordBlocks, 2);
    EXPECT_EQ(dll.BlockIdx, 2 * N);
    EXPECT_EQ(form.RecvBlocks, 22);
    EXPECT_EQ(form.lblBlock.Text, " 22");
    EXPECT_EQ(form.lblptr.Text, " 72000");
    EXPECT_EQ(card.Count("ADResult"), 22);
    // The file holds the complete record: block 0 was 1 when it was saved.
    const std::string bytes = test::ReadFile(form.RecordFilePath);
    EXPECT_EQ(bytes[256], 1);
    EXPECT_EQ(bytes[(2 + 19 * N) * 128], 20);
}

TEST_F(MainFixture, AFailedSaveIsReportedAndTheRecordKept) {
    TempDir data;
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    form.RecordFilePath = dir / "no-such-folder" / "T1.DAT";
    Start();
    card.fill = [](int, std::int16_t* w) { w[1] = 77; };
    for (int i = 0; i < 20; ++i) Tick(1);
    unsetenv("XDG_DATA_HOME");
    EXPECT_FALSE(form.LastSave.ok());
    const std::string& log = form.TxtResult.Text;
    EXPECT_EQ(log.rfind("存盘失败：" + form.RecordFilePath.string(), 0), 0u) << log;
    EXPECT_NE(log.find("记录已另存为 "), std::string::npos) << log;
    EXPECT_EQ(log.find("保存完毕"), std::string::npos);

    std::vector<std::filesystem::path> copies;
    for (const auto& e : std::filesystem::recursive_directory_iterator(data.path()))
        if (e.is_regular_file() && e.path().filename().string()[0] != '.') copies.push_back(e.path());
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_NE(log.find(copies[0].string()), std::string::npos);
    const std::string bytes = test::ReadFile(copies[0]);
    EXPECT_EQ(bytes.size(), 92160384u);
    EXPECT_EQ(bytes[256], 77);
}

TEST_F(MainFixture, WhenEveryPlaceRefusesTheRecordTheLossIsSaidPlainly) {
    TempDir data, temp;
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    setenv("TMPDIR", temp.path().c_str(), 1);
    form.FailSaveAfter(0, 0);
    Start();
    for (int i = 0; i < 20; ++i) Tick(1);
    unsetenv("XDG_DATA_HOME");
    unsetenv("TMPDIR");
    ASSERT_TRUE(form.LastSaveReport);
    EXPECT_FALSE(form.LastSaveReport->Kept());
    EXPECT_EQ(form.LastSaveReport->fallbacks.size(), 2u);
    const std::string& log = form.TxtResult.Text;
    EXPECT_NE(log.find("记录已丢失"), std::string::npos) << log;
    EXPECT_NE(log.find(data.path().string()), std::string::npos) << log;
    EXPECT_NE(log.find(temp.path().string()), std::string::npos) << log;
    for (const auto* d : {&data, &temp})
        for (const auto& e : std::filesystem::recursive_directory_iterator(d->path()))
            EXPECT_TRUE(!e.is_regular_file() || e.path().filename().string()[0] == '.') << e.path();
}

TEST_F(MainFixture, MissingExportLeavesTheWindowIdleWithAMessage) {
    card.missing = "StartIntr";
    form.CmdStart_Click();
    EXPECT_NE(form.TxtResult.Text.find("StartIntr"), std::string::npos);
    EXPECT_EQ(form.CmdStart.Text, "开始");
    EXPECT_FALSE(form.TimerAD.Enabled);

    card.missing = "QueryBuf";
    form.CmdStart_Click();
    ASSERT_TRUE(form.TimerAD.Enabled);
    form.TimerAD_Timer();
    EXPECT_FALSE(form.TimerAD.Enabled);
    EXPECT_EQ(form.CmdStart.Text, "开始");
    EXPECT_NE(form.TxtResult.Text.find("QueryBuf"), std::string::npos);
}

TEST(CardNotice, EveryStartNamesTheLibraryAndSaysWhenItIsSimulated) {
    struct LibraryCard final : ScriptedCard {
        std::string LibraryPath() const override { return "/opt/card/libadcard.so"; }
        bool Simulated() const override { return true; }
    } card;
    DllDef dll;
    acq::Session session{card, {false, std::chrono::milliseconds(1000)}};
    TempDir dir;
    FrmMain form{dll, session, dir.path()};
    form.Form_Load();
    form.CmdStart_Click();
    EXPECT_EQ(form.TxtResult.Text,
              "开始采集\r\n板卡函数库：/opt/card/libadcard.so（模拟板卡：数据是模拟的，不是真实采集）\r\n");
    form.CmdStart_Click();
    FrmMultiBuf monitor(dll, session);
    monitor.Form_Load();
    EXPECT_EQ(monitor.Caption.Text, "多缓冲区采集方式");
    monitor.cmdStart_Click();
    EXPECT_EQ(monitor.Caption.Text,
              "多缓冲区采集方式 — 板卡函数库：/opt/card/libadcard.so（模拟板卡：数据是模拟的，不是真实采集）");
}

TEST_F(MainFixture, StartAfterTheMonitorUsesItsSettings) {
    FrmMultiBuf monitor(dll, session);
    monitor.Form_Load();
    monitor.cmdStart_Click();
    monitor.cmdStop_Click();
    card.calls.clear();
    form.CmdStart_Click();
    EXPECT_EQ(card.calls.back(), "StartIntr(10, 1000, 0, 4, 10000, 0, 1)");
    EXPECT_EQ(form.Record.BlockData.size(), 80001u);
}

TEST_F(MainFixture, SettingsChangedByTheOtherWindowStopTheRecording) {
    Start();
    Tick(1);
    FrmMultiBuf monitor(dll, session);
    monitor.Form_Load();
    monitor.cmdStart_Click();  // the card now delivers blocks of N = 4000
    Tick(1);
    EXPECT_FALSE(form.TimerAD.Enabled);
    EXPECT_EQ(form.CmdStart.Text, "开始");
    EXPECT_NE(form.TxtResult.Text.find("采集已停止"), std::string::npos);
    EXPECT_EQ(form.Saves, 0);
}

}  // namespace
}  // namespace zqd
