#include "app/frm_multibuf.h"

#include <gtest/gtest.h>

#include "acquisition/session.h"
#include "app/frm_main.h"
#include "common/numtext.h"
#include "scripted_card.h"

#include <thread>

namespace zqd {
namespace {

using test::ScriptedCard;

struct MonitorFixture : ::testing::Test {
    DllDef dll;
    ScriptedCard card;
    acq::Session session{card, {false, std::chrono::milliseconds(100)}};
    FrmMultiBuf form{dll, session};

    void SetUp() override { form.Form_Load(); }
    void Start() {
        form.cmdStart_Click();
        ASSERT_TRUE(form.TimerAD.Enabled);
        card.calls.clear();
    }
    void Tick(std::int32_t n) {
        card.queryResults.push_back(n);
        form.TimerAD_Timer();
    }
    // Every buffer: channel k's samples from `f(k, j)`.
    template <typename F>
    void FillWith(F f) {
        card.fill = [f](int, std::int16_t* w) {
            for (int j = 0; j < 1000; ++j)
                for (int k = 0; k < 4; ++k) w[4 * j + k + 1] = static_cast<std::int16_t>(f(k, j));
        };
    }
};

TEST_F(MonitorFixture, LoadShowsTheInitialCaptions) {
    EXPECT_EQ(card.calls, std::vector<std::string>{"Initial(320, 5, 0, 0)"});
    for (const auto& l : form.lblAD) EXPECT_EQ(l.Text, "0.000");
    EXPECT_EQ(form.lblBlock.Text, "Label2");
    EXPECT_EQ(form.lblptr.Text, "Label3");
    EXPECT_EQ(form.lblDI.Text, "00");
    EXPECT_EQ(form.lblBit.Text, "Bit");
    EXPECT_EQ(form.lblDI_0.Text, "DI0");
    EXPECT_EQ(form.lblDI_1.Text, "DI1");
    EXPECT_FALSE(form.TimerAD.Enabled);
    EXPECT_EQ(form.TimerAD.Interval, 100);
    EXPECT_EQ(dll.BlockNum, 20);
    EXPECT_TRUE(form.Ring.empty());
}

TEST_F(MonitorFixture, StartWritesItsSettingsAndCallsTheCardInOrder) {
    card.calls.clear();
    form.cmdStart_Click();
    EXPECT_EQ(card.calls, (std::vector<std::string>{"StopIntr()", "Initial(320, 5, 0, 0)",
                                                      "StartIntr(10, 1000, 0, 4, 10000, 0, 1)"}));
    EXPECT_EQ(form.Ring.size(), 20u);
    EXPECT_TRUE(form.TimerAD.Enabled);
}

TEST_F(MonitorFixture, FailedStartsShowTheErrorAndLeaveTheTimer) {
    card.initialResult = 0;
    card.lastError = 7;
    form.cmdStart_Click();
    EXPECT_EQ(form.lblBlock.Text, "Error=7");
    EXPECT_FALSE(form.TimerAD.Enabled);
    EXPECT_EQ(card.Count("StartIntr"), 0);
    EXPECT_TRUE(form.Ring.empty());

    card.initialResult = 1;
    card.startResult = 0;
    card.lastError = -2;
    form.cmdStart_Click();
    EXPECT_EQ(form.lblBlock.Text, "Error=-2");
    EXPECT_FALSE(form.TimerAD.Enabled);
    EXPECT_EQ(form.Ring.size(), 20u);

    card.startResult = 1;
    form.cmdStart_Click();
    card.startResult = 0;
    form.cmdStart_Click();  // a running window stays running
    EXPECT_TRUE(form.TimerAD.Enabled);
}

TEST_F(MonitorFixture, RingPositionsWrapAndSkippedBuffersAreCounted) {
    Start();
    FillWith([](int k, int j) { return k * 10 + j % 2; });
    Tick(3);
    EXPECT_EQ(dll.BlockIdx, 12000);
    EXPECT_EQ(form.RecvBlocks, 3);
    EXPECT_EQ(form.lblptr.Text, " 12000");
    EXPECT_EQ(form.lblBlock.Text, " 3");
    ASSERT_TRUE(form.Ring[1]);
    EXPECT_EQ(form.Ring[1]->At(999, 3), 31);

    card.adResults = {0};
    Tick(1);
    EXPECT_EQ(form.RecvBlocks, 4);
    EXPECT_EQ(dll.BlockIdx, 12000);

    std::vector<std::int32_t> positions;
    for (int i = 0; i < 20; ++i) {
        Tick(1);
        positions.push_back(dll.BlockIdx);
    }
    EXPECT_EQ(positions[16], 0);  // 76000, then back to 0, never 80000
    EXPECT_EQ(positions[15], 76000);
}

TEST_F(MonitorFixture, NoBufferAndNegativeCounts) {
    Start();
    Tick(0);
    EXPECT_EQ(card.calls, std::vector<std::string>{"QueryBuf()"});
    EXPECT_EQ(form.lblBlock.Text, "Label2");
    EXPECT_EQ(form.lblptr.Text, "Label3");

    Tick(0xFFFE);  // -2
    EXPECT_EQ(form.RecvBlocks, -2);
    EXPECT_EQ(form.lblBlock.Text, "-2");
    EXPECT_EQ(form.lblptr.Text, " 0");
    EXPECT_EQ(form.lblAD[0].Text, "0.000");
    EXPECT_EQ(card.Count("ADResult") + card.Count("Zqd_DI"), 0);
}

TEST_F(MonitorFixture, ChannelMeansRoundHalfToEven) {
    Start();
    FillWith([](int k, int j) {
        if (k == 0) return 2047 + j % 2;  // mean 2047.5 -> 2048
        if (k == 1) return 2048;
        if (k == 2) return 2049 + j % 2;  // mean 2049.5 -> 2050
        return 4095;
    });
    Tick(1);
    EXPECT_EQ(form.ChnRaw[0], 2048);
    EXPECT_EQ(form.ChnRaw[2], 2050);
    EXPECT_EQ(form.lblAD[0].Text, ".000");
    EXPECT_EQ(form.lblAD[1].Text, ".000");
    EXPECT_EQ(form.lblAD[2].Text, ".005");
    EXPECT_EQ(form.lblAD[3].Text, "4.999");
    EXPECT_EQ(form.ChnSamples[1 * FrmMultiBuf::kMaxPoints + 999], 2048.0f);

    FillWith([](int k, int) { return k == 0 ? 0 : k == 1 ? 2049 : -1; });
    Tick(1);
    EXPECT_EQ(form.lblAD[0].Text, "-5.001");
    EXPECT_EQ(form.lblAD[1].Text, ".002");
    EXPECT_EQ(form.lblAD[2].Text, "-5.004");  // samples are taken signed
}

TEST_F(MonitorFixture, DigitalInputsInHexAndBitByBit) {
    Start();
    card.di = {165, 3};
    Tick(1);
    EXPECT_EQ(card.calls.back(), "Zqd_DI(2)");
    EXPECT_EQ(form.lblDI.Text, "A5  3");
    EXPECT_EQ(form.lblDI_0.Text, "A5      1   0   1   0   0   1   0   1");
    EXPECT_EQ(form.lblDI_1.Text, "3      0   0   0   0   0   0   1   1");
    EXPECT_EQ(form.lblBit.Text, "            7   6   5   4   3   2   1   0");
    card.di = {-1, 0};
    Tick(1);
    EXPECT_EQ(form.lblDI.Text, "FFFF  0");
}

TEST_F(MonitorFixture, StopStartAndExit) {
    Start();
    Tick(2);
    form.cmdStop_Click();
    EXPECT_FALSE(form.TimerAD.Enabled);
    form.cmdStart_Click();
    Tick(1);
    EXPECT_EQ(form.RecvBlocks, 3);
    EXPECT_EQ(dll.BlockIdx, 12000);
    card.calls.clear();
    form.cmdExit_Click();
    EXPECT_EQ(card.calls, (std::vector<std::string>{"StopIntr()", "StopIntr()"}));
    EXPECT_TRUE(form.Unloaded);
}

TEST_F(MonitorFixture, CounterRollsOverPast32767) {
    Start();
    form.RecvBlocks = 32766;
    Tick(3);
    EXPECT_EQ(form.RecvBlocks, 1);
    EXPECT_EQ(form.lblBlock.Text, " 1");
}

TEST_F(MonitorFixture, BlocksCarryTheirOwnSizesAndThoseTooLargeStopIt) {
    Start();
    Tick(1);
    // Changing the shared settings does not change the running acquisition.
    dll.ChnPoints = 2000;
    Tick(1);
    EXPECT_TRUE(form.TimerAD.Enabled);
    EXPECT_EQ(form.RecvBlocks, 2);

    // The main window restarts the card with more channels than the tables hold.
    FrmMain main(dll, session, ".");
    main.Form_Load();
    dll.ChnNum = 40;
    main.CmdStart_Click();
    ASSERT_TRUE(main.TimerAD.Enabled);
    Tick(1);
    EXPECT_FALSE(form.TimerAD.Enabled);
    EXPECT_NE(form.lblBlock.Text.find("采集已停止"), std::string::npos);
}

struct OutputCase {
    const char* group;
    const char* value;
    const char* call;
};

TEST_F(MonitorFixture, DigitalOutputGroupAndValue) {
    const OutputCase cases[] = {
        {"0", "00", "Zqd_DO(0, 0)"},     {"1", "ff", "Zqd_DO(1, 255)"}, {"1", "A5", "Zqd_DO(1, 165)"},
        {"5", "1", "Zqd_DO(1, 1)"},      {"1.5", "1", "Zqd_DO(1, 1)"},  {"0.5", "1", "Zqd_DO(0, 1)"},
        {"abc", "1", "Zqd_DO(0, 1)"},    {"0", "1FF", "Zqd_DO(0, 255)"}, {"0", "FFFF", "Zqd_DO(0, 255)"},
        {"0", "123", "Zqd_DO(0, 35)"},   {"0", "", "Zqd_DO(0, 0)"},     {"0", "xyz", "Zqd_DO(0, 0)"},
        {"0", "FFFFFFFF", "Zqd_DO(0, 255)"},
    };
    for (const auto& c : cases) {
        card.calls.clear();
        form.txtswChn.Text = c.group;
        form.txtSWO_0.Text = c.value;
        form.cmdSWO_Click();
        EXPECT_EQ(card.calls, std::vector<std::string>{c.call}) << c.group << " " << c.value;
        EXPECT_EQ(form.lblBlock.Text, "Label2");
        EXPECT_EQ(form.txtSWO_0.Text, c.value);
    }
    EXPECT_EQ(form.DoValue, 255);
}

TEST_F(MonitorFixture, OutputRefusesGroupsAndValuesOutsideTheirWidths) {
    for (const char* group : {"-1", "40000", "1e400"}) {
        card.calls.clear();
        form.txtswChn.Text = group;
        form.txtSWO_0.Text = "1";
        form.cmdSWO_Click();
        EXPECT_TRUE(card.calls.empty()) << group;
        EXPECT_NE(form.lblBlock.Text.find("未输出"), std::string::npos) << group;
    }
    card.calls.clear();
    form.txtswChn.Text = "0";
    form.txtSWO_0.Text = "123456789";
    form.cmdSWO_Click();
    EXPECT_TRUE(card.calls.empty());
    EXPECT_NE(form.lblBlock.Text.find("超过 32 位"), std::string::npos);
}

// The monitor on a session with its own thread: whenever the window's tick
// comes, the buffer count and the ring position it shows are of the same
// whole polls (4,000 samples a buffer, a ring of 20).
TEST(MonitorThreaded, EveryTickShowsTheCountAndThePointerOfWholePolls) {
    struct SlowCard final : ScriptedCard {
        std::int32_t ADResult(std::int16_t* words) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a poll takes a while
            return ScriptedCard::ADResult(words);
        }
    } card;
    card.queryResults = {6, 6, 6};
    DllDef dll;
    acq::Session session(card, {true, std::chrono::milliseconds(1)});
    FrmMultiBuf form(dll, session);
    form.Form_Load();
    form.cmdStart_Click();
    ASSERT_TRUE(form.TimerAD.Enabled);
    int ticks = 0, shown = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (form.RecvBlocks < 18 && std::chrono::steady_clock::now() < until) {
        form.TimerAD_Timer();
        ++ticks;
        if (form.lblBlock.Text != "Label2") {
            ++shown;
            ASSERT_EQ(form.lblptr.Text, LabelNumber(form.RecvBlocks * 4000 % 80000)) << form.lblBlock.Text;
            EXPECT_EQ(form.RecvBlocks % 6, 0) << form.lblBlock.Text;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    EXPECT_EQ(form.RecvBlocks, 18);
    EXPECT_GT(shown, 0);
    form.cmdStop_Click();
}

}  // namespace
}  // namespace zqd
