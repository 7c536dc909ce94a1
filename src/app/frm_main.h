// FrmMain, the main window, without any toolkit: its controls as data, its
// window-level state and its handlers. The recording handlers are in
// frm_main.cpp, the analysis handlers (open, find, output) in cmd_*.cpp.
// The card is reached only through the acquisition session; the record is
// gathered and saved by a sink of the session, on its own thread.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "acquisition/mailbox.h"
#include "acquisition/record_sink.h"
#include "acquisition/session.h"
#include "app/dll_def.h"
#include "app/form.h"
#include "app/pic_draw_model.h"
#include "common/status.h"
#include "formats/t1dat/t1dat.h"
#include "gps/block_time.h"

namespace zqd {

class FrmMain : public Form {
public:
    FrmMain(DllDef& dll, acq::Session& session, std::filesystem::path appDir);
    ~FrmMain();
    FrmMain(const FrmMain&) = delete;
    FrmMain& operator=(const FrmMain&) = delete;

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
    std::vector<gps::GpsTime> BlockTime;  // indices 0 to BlockNum
    std::int16_t GpsYear = 0, GpsMonth = 0, GpsDay = 0, GpsHour = 0, GpsMinute = 0, GpsSecond = 0;
    std::int32_t GpsNS = 0;
    std::vector<std::int32_t> DispData;
    std::int32_t DispPoints = 0;
    std::int32_t StartNS = 0;
    // The record the analysis reads: the one opened last, or the empty one a
    // start leaves.
    t1dat::Recording Record;

    // The files the window reads and writes: T1.DAT and T2.csv in its folder.
    std::filesystem::path RecordFilePath;
    std::filesystem::path ExportFilePath;

    // How the handlers ended, for callers that decide by them.
    Status LastStart, LastOpen, LastQuery, LastExport;
    // Whether the last query found a block at its start and at its end time
    // (otherwise block 0 stood in).
    bool QueryStartFound = false, QueryEndFound = false;
    // Records saved since the window was created, and how the last one went.
    int Saves = 0;
    Status LastSave;
    bool SavePending() const { return awaiting_save_; }
    // Events of the running or last acquisition, as counted by this window.
    std::uint64_t ReadFailures = 0, Gaps = 0, Drops = 0;
    // Blocks the window's own mailbox let go (also counted in Drops).
    std::uint64_t MailboxDrops() const { return mailbox_->Dropped(); }

    bool Recording() const { return CmdStart.Text != "开始"; }

    void Form_Load();
    // A line of its own in the log, for what the program tells besides its handlers.
    void Note(const std::string& line) { AppendLine(line); }
    void CmdExit_Click();
    void CmdStart_Click();
    void TimerAD_Timer();
    void CmdOpen_Click();
    void CmdFind_Click();
    void CmdOutput_Click();

    // Shows the outcome of a save once the record sink has finished it.
    // True when something changed. The sink's notifier (SetSaveNotify) says
    // when to call it; a timer tick calls it too.
    bool CheckSave();
    // Called on the record sink's thread when a save has finished.
    void SetSaveNotify(std::function<void()> notify) { record_->SetNotify(std::move(notify)); }
    // Test hook: the record's writes fail after this many bytes (the fallbacks' too when given).
    void FailSaveAfter(std::int64_t bytes, std::int64_t fallbackBytes = -1) {
        record_->fail_after_bytes = bytes;
        record_->fallback_fail_after_bytes = fallbackBytes;
    }
    // The outcome of the last save, whole.
    std::optional<SaveReport> LastSaveReport;

private:
    void AppendLog(const std::string& line);   // the old text, then line and CR LF
    void AppendLine(const std::string& line);  // the same, on a line of its own
    void StopForCardError(const Status& why);
    void TakeEvent(const acq::Event& event, bool& reported);
    void TakeBlock(const acq::Block& block);
    void StopForSettings(const acq::Block& block);
    void ShowStart(const Status& s);

    DllDef& dll_;
    acq::Session& session_;
    std::shared_ptr<acq::Mailbox> mailbox_;
    std::shared_ptr<RecordSink> record_;
    std::shared_ptr<acq::SinkRunner> mailbox_runner_, record_runner_;
    bool awaiting_save_ = false;
};

// A record opened for analysis, as 打开文件 lists it: the record, each
// block's time by the listing's rule (all zero where none), the last block
// that had one, and the listing's text.
struct ListedRecord {
    t1dat::Recording record;
    std::vector<gps::GpsTime> times;  // indices 0 to BlockNum
    std::optional<gps::GpsTime> last;
    std::string listing;  // one line a block, then "完毕", CR LF after each
};
Result<ListedRecord> ListRecord(const std::filesystem::path& path, std::int16_t chnNum);

// The export file's bytes written to `path` (never over the record file
// `recordPath`): kSameAsRecord, or kExportFailed with the writer's reason.
Status WriteExport(const std::filesystem::path& path, const std::filesystem::path& recordPath, const std::string& bytes);

// The text a save's report is shown as.
std::string SaveReportText(const SaveReport& report);

// "2008-5-12 3:4:5:0": Year-Month-Day Hour:Minute:Second:NS in plain
// decimal, a line of 打开文件's listing.
std::string BlockTimeLine(const gps::GpsTime& t);

}  // namespace zqd
