// FrmMultiBuf, the live monitor window, without any toolkit: its controls as
// data, its window-level state and its handlers. The card is reached only
// through the acquisition session; the window's blocks come through its own
// sink.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <memory>

#include "acquisition/mailbox.h"
#include "acquisition/session.h"
#include "app/dll_def.h"
#include "app/form.h"

namespace zqd {

class FrmMultiBuf : public Form {
public:
    static constexpr int kMaxChannels = 33;   // channels 0..32 of the live tables
    static constexpr int kMaxPoints = 1001;   // points 0..1000 per channel

    FrmMultiBuf(DllDef& dll, acq::Session& session);
    ~FrmMultiBuf();
    FrmMultiBuf(const FrmMultiBuf&) = delete;
    FrmMultiBuf& operator=(const FrmMultiBuf&) = delete;

    // Label1 is a control array with the indices 0-9 and 12.
    std::array<Control, 13> Label1{{{"Label1(0)", "通道1:"},
                                    {"Label1(1)", "通道2:"},
                                    {"Label1(2)", "通道3:"},
                                    {"Label1(3)", "通道4:"},
                                    {"Label1(4)", "位:"},
                                    {"Label1(5)", "开关量输出0(hex)："},
                                    {"Label1(6)", "开关量输入0："},
                                    {"Label1(7)", "开关量输入1："},
                                    {"Label1(8)", "开关量输出值(hex)："},
                                    {"Label1(9)", "通道组（0 或1）："},
                                    {},
                                    {},
                                    {"Label1(12)", "DI:"}}};
    std::array<Control, 4> lblAD{{{"lblAD(0)", "0.000"},
                                  {"lblAD(1)", "0.000"},
                                  {"lblAD(2)", "0.000"},
                                  {"lblAD(3)", "0.000"}}};
    Control Label4{"Label4", "接收数据块数:"};
    Control lblBlock{"lblBlock", "Label2"};
    Control Label5{"Label5", "缓冲区指针:"};
    Control lblptr{"lblptr", "Label3"};
    Control lblDI{"lblDI", "00"};
    Control Frame2{"Frame2", "开关量输入"};
    Control lblBit{"lblBit", "Bit"};
    Control lblDI_0{"lblDI_0", "DI0"};
    Control lblDI_1{"lblDI_1", "DI1"};
    Control Frame1{"Frame1", "开关量"};
    Control txtswChn{"txtswChn", "0"};
    Control txtSWO_0{"txtSWO_0", "00"};
    Control cmdSWO{"cmdSWO", "输出"};
    Control cmdStart{"cmdStart", "开始采集"};
    Control cmdStop{"cmdStop", "停止采集"};
    Control cmdExit{"cmdExit", "退出"};
    Timer TimerAD{100, false};
    // The window's title; while acquiring it also names the card library.
    Control Caption{"Caption", "多缓冲区采集方式"};

    // Window-level state.
    std::int16_t RecvBlocks = 0;
    std::vector<float> ChnSamples;  // channel k, point j at [k * kMaxPoints + j]
    std::array<std::int32_t, kMaxChannels> ChnRaw{};
    std::array<float, kMaxChannels> ChnVolt{};
    std::array<std::int16_t, 2> DiValue{};
    std::int16_t DoValue = 0;
    // The ring of the last BlockNum buffers, slot BlockIdx / N for the next.
    std::vector<acq::BlockPtr> Ring;
    // How the last output request ended, for callers that decide by it.
    Status LastOutput;
    // Blocks the window could not take in time (a stalled window), since the
    // start; said in the title.
    std::uint64_t Drops = 0;

    void Form_Load();
    void cmdStart_Click();
    void cmdStop_Click();
    void cmdExit_Click();
    void Form_Unload();
    void TimerAD_Timer();
    void cmdSWO_Click();

private:
    void Halt(const std::string& why);
    // Puts a block into the ring; false (and halted) when it does not fit.
    bool TakeBlock(const acq::BlockPtr& block);
    void ShowReadouts();

    DllDef& dll_;
    acq::Session& session_;
    std::shared_ptr<acq::Mailbox> mailbox_;
    std::shared_ptr<acq::SinkRunner> mailbox_runner_;
    acq::BlockPtr last_;  // the last good buffer: what the read-outs show
    std::string caption_;  // the title as the start left it
};

// "   7   6   5   4   3   2   1   0" for the header, or the bits 7..0 of x.
std::string BitsText(std::int16_t x);
std::string BitHeaderText();

}  // namespace zqd
