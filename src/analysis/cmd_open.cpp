// FrmMain's 打开文件 button: load T1.DAT and list the GPS time of every block.
#include "analysis/record_loader.h"
#include "recording/frm_main.h"
#include "recording/record_file.h"

namespace zqd {

void FrmMain::CmdOpen_Click() {
    if (Recording()) {
        // The record being gathered has its own sizes; the file may change under it.
        LastOpen = Status::Fail(Status::Code::kBusy, "recording");
        AppendLog("正在采集，不能打开记录文件；请先按“停止”结束采集。");
        return;
    }
    std::string error;
    auto rec = ReadRecordFile(RecordFilePath, dll_.ChnNum, error);
    if (!rec) {
        LastOpen = Status::Fail(Status::Code::kFileRefused, error);
        AppendLog(error);
        return;
    }
    Set(TxtResult, "处理中...");

    dll_.BlockNum = rec->BlockNum;
    dll_.ChnPoints = rec->ChnPoints;
    Record = std::move(*rec);
    BlockTime.assign(static_cast<std::size_t>(Record.BlockNum) + 1, GpsTime{});

    const std::size_t n = static_cast<std::size_t>(Record.ChnNum) * static_cast<std::size_t>(Record.ChnPoints);
    std::string text;
    for (std::size_t k = 0; k < static_cast<std::size_t>(Record.BlockNum); ++k) {
        if (const auto t = DecodeBlockTime(Record.BlockData.data() + k * n, Record.ChnNum, Record.ChnPoints)) {
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
    LastOpen = Status::Ok();
}

}  // namespace zqd
