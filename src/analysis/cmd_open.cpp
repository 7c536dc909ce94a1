// FrmMain's 打开文件 button: load T1.DAT and list the GPS time of every block.
#include "analysis/record_loader.h"
#include "recording/frm_main.h"
#include "recording/record_file.h"

namespace zqd {

void FrmMain::CmdOpen_Click() {
    if (Recording()) {
        // The tick would keep writing into a record of other sizes.
        AppendLog("正在采集，不能打开记录文件；请先按“停止”结束采集。");
        return;
    }
    std::string error;
    auto rec = ReadRecordFile(RecordFilePath, dll_.ChnNum, error);
    if (!rec) {
        AppendLog(error);
        return;
    }
    Set(TxtResult, "处理中...");

    dll_.BlockNum = rec->BlockNum;
    dll_.ChnPoints = rec->ChnPoints;
    dll_.BlockData.swap(rec->BlockData);
    rec->BlockData = {};
    BlockTime.assign(static_cast<std::size_t>(dll_.BlockNum) + 1, GpsTime{});

    const std::size_t n = static_cast<std::size_t>(dll_.ChnNum) * static_cast<std::size_t>(dll_.ChnPoints);
    std::string text;
    for (std::size_t k = 0; k < static_cast<std::size_t>(dll_.BlockNum); ++k) {
        if (const auto t = DecodeBlockTime(dll_.BlockData.data() + k * n, dll_.ChnNum, dll_.ChnPoints)) {
            BlockTime[k] = *t;
            GpsYear = t->Year;
            GpsMonth = t->Month;
            GpsDay = t->Day;
            GpsHour = t->Hour;
            GpsMinute = t->Minute;
            GpsSecond = t->Second;
            GpsNS = t->NS;
        }
        text += BlockTimeLine(BlockTime[k]) + "\r\n";
    }
    text += "完毕\r\n";
    Set(TxtResult, text);
    CmdFind.Enabled = true;
}

}  // namespace zqd
