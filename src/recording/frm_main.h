// FrmMain, the main window, without any toolkit: its controls as data, its
// window-level state and its handlers. Recording handlers live in
// src/recording, the analysis handlers (open, find, output) in src/analysis.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "card/card.h"
#include "common/form.h"
#include "recording/dll_def.h"

namespace zqd {

// What the query leaves on the drawing surface: a user coordinate system and
// one trace, sample j at x = j, joined by straight lines in `Color`
// (0x00BBGGRR). `Generation` changes whenever the surface is cleared.
struct PicDrawModel {
    double Left = 0, Top = 0, Right = 1, Bottom = 1;  // top-left and bottom-right corners
    std::vector<std::int32_t> Trace;
    std::uint32_t Color = 255;
    unsigned Generation = 0;
};

class FrmMain : public Form {
public:
    FrmMain(DllDef& dll, Card& card, std::filesystem::path appDir);

    // Controls, with the captions and texts the window opens with.
    Control TxtResult{"TxtResult", ""};
    Control Label4{"Label4", "接收数据块数:"};
    Control lblBlock{"lblBlock", "0"};
    Control Label5{"Label5", "缓冲区指针:"};
    Control lblptr{"lblptr", "0"};
    Control CmdStart{"CmdStart", "开始"};
    Control CmdExit{"CmdExit", "退出"};
    Control CmdOpen{"CmdOpen", "打开文件"};
    Control CmdFind{"CmdFind", "查询", false};
    Control TxtDispChnNo{"TxtDispChnNo", "1"};
    Control Frame1{"Frame1", "时间"};
    std::array<Control, 3> TxtFormT{{{"TxtFormT(0)", "17"}, {"TxtFormT(1)", "38"}, {"TxtFormT(2)", "43"}}};
    std::array<Control, 3> TxtToT{{{"TxtToT(0)", "17"}, {"TxtToT(1)", "38"}, {"TxtToT(2)", "45"}}};
    Control CmdOutput{"CmdOutput", "导出"};
    Timer TimerAD{1000, false};
    PicDrawModel PicDraw;

    // Window-level state.
    std::int16_t RecvBlocks = 0;
    std::int16_t RecordBlocks = 0;
    std::vector<GpsTime> BlockTime;  // indices 0 to BlockNum
    std::int16_t GpsYear = 0, GpsMonth = 0, GpsDay = 0, GpsHour = 0, GpsMinute = 0, GpsSecond = 0;
    std::int32_t GpsNS = 0;
    std::vector<std::int32_t> DispData;
    std::int32_t DispPoints = 0;
    std::int32_t StartNS = 0;

    // The files the window reads and writes: T1.DAT and T2.csv in its folder.
    std::filesystem::path RecordFilePath;
    std::filesystem::path ExportFilePath;

    // Records saved since the window was created, and whether the last one
    // reached RecordFilePath.
    int Saves = 0;
    bool LastSaveOk = true;

    bool Recording() const { return CmdStart.Text != "开始"; }

    void Form_Load();
    void CmdExit_Click();
    void CmdStart_Click();
    void TimerAD_Timer();
    void CmdOpen_Click();
    void CmdFind_Click();
    void CmdOutput_Click();

private:
    void SaveRecord();
    void AppendLog(const std::string& line);
    void StopForCardError(const CardError& e);

    DllDef& dll_;
    Card& card_;
};

}  // namespace zqd
