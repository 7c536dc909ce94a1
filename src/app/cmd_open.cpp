// FrmMain's 打开文件 button: load T1.DAT and list the GPS time of every block.
#include "app/frm_main.h"
#include "app/messages.h"
#include "formats/t1dat/t1dat_reader.h"

namespace zqd {

void FrmMain::CmdOpen_Click() {
    if (Recording()) {
        // The record being gathered has its own sizes; the file may change under it.
        LastOpen = Status::Fail(Status::Code::kBusy, Status::Why::kRecording);
        AppendLog(app::Text(LastOpen));
        return;
    }
    auto listed = ListRecord(RecordFilePath, dll_.ChnNum);
    if (!listed) {
        LastOpen = listed.status();
        AppendLog(app::Text(LastOpen));
        return;
    }
    Set(TxtResult, "处理中...");
    dll_.BlockNum = listed->record.BlockNum;
    dll_.ChnPoints = listed->record.ChnPoints;
    Record = std::move(listed->record);
    BlockTime = std::move(listed->times);
    if (const auto& t = listed->last) {
        GpsYear = t->Year;
        GpsMonth = t->Month;
        GpsDay = t->Day;
        GpsHour = t->Hour;
        GpsMinute = t->Minute;
        GpsSecond = t->Second;
        GpsNS = t->NS;
    }
    Set(TxtResult, listed->listing);
    CmdFind.Enabled = true;
    LastOpen = Status::Ok();
}

Result<ListedRecord> ListRecord(const std::filesystem::path& path, std::int16_t chnNum) {
    auto rec = t1dat::ReadRecordFile(path, chnNum);
    if (!rec) return rec.status();
    ListedRecord r;
    r.record = std::move(*rec);
    const t1dat::Recording& record = r.record;
    r.times.assign(static_cast<std::size_t>(record.BlockNum) + 1, gps::GpsTime{});
    const std::size_t n = static_cast<std::size_t>(record.ChnNum) * static_cast<std::size_t>(record.ChnPoints);
    for (std::size_t k = 0; k < static_cast<std::size_t>(record.BlockNum); ++k) {
        if (const auto t = gps::DecodeBlockTime(record.BlockData.data() + k * n, record.ChnNum, record.ChnPoints)) {
            r.times[k] = *t;
            r.last = *t;
        }
        r.listing += BlockTimeLine(r.times[k]) + "\r\n";
    }
    r.listing += "完毕\r\n";
    return r;
}

}  // namespace zqd
