// The controls' identifiers in the native windows (GetDlgItem): the windows
// set them, and the test that drives the windows under wine finds the
// controls by them.
#pragma once

namespace zqd::win32ui {

// FrmMain ("ZQD4830_GPS")
enum MainId {
    kMainTxtResult = 101,
    kMainLabel4,
    kMainLblBlock,
    kMainLabel5,
    kMainLblptr,
    kMainCmdStart,
    kMainCmdExit,
    kMainCmdOpen,
    kMainCmdFind,
    kMainTxtDispChnNo,
    kMainFrame1,
    kMainTxtFormT0,  // 0 to 2
    kMainTxtToT0 = kMainTxtFormT0 + 3,  // 0 to 2
    kMainPicDraw = kMainTxtToT0 + 3,
    kMainCmdOutput,
    kMainTimerAD,
};

// FrmMultiBuf ("多缓冲区采集方式")
enum MonitorId {
    kMonLabel1 = 201,  // 0 to 12
    kMonLblAD0 = kMonLabel1 + 13,  // 0 to 3
    kMonLabel4 = kMonLblAD0 + 4,
    kMonLblBlock,
    kMonLabel5,
    kMonLblptr,
    kMonLblDI,
    kMonFrame2,
    kMonLblBit,
    kMonLblDI0,
    kMonLblDI1,
    kMonFrame1,
    kMonTxtswChn,
    kMonTxtSWO0,
    kMonCmdSWO,
    kMonCmdStart,
    kMonCmdStop,
    kMonCmdExit,
    kMonTimerAD,
};

// 连续记录
enum ArchiveId {
    kArcLblFolder = 301,
    kArcTxtFolder,
    kArcCmdBrowse,
    kArcLblNetwork,
    kArcTxtNetwork,
    kArcLblStation,
    kArcTxtStation,
    kArcLblLocation,
    kArcTxtLocation,
    kArcChkSeedLink,
    kArcTxtSeedLink,
    kArcCmdStart,
    kArcCmdStop,
    kArcCmdStationXml,
    kArcLblStatus,
    kArcTxtLog,
    kArcTimerStatus,
};

}  // namespace zqd::win32ui
