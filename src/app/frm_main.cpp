#include "app/frm_main.h"

#include "app/messages.h"
#include "common/numtext.h"
#include "formats/csv/t2csv.h"
#include "platform/text.h"

namespace zqd {

namespace {
// Blocks the window holds for its next tick: some 17 minutes of one-second
// blocks, far more than a record; beyond that a stalled window drops them.
constexpr std::size_t kMailboxBlocks = 1024;
}  // namespace

FrmMain::FrmMain(DllDef& dll, acq::Session& session, std::filesystem::path appDir)
    : RecordFilePath(appDir / t1dat::kFileName),
      ExportFilePath(appDir / csv::kExportFileName),
      dll_(dll),
      session_(session),
      mailbox_(std::make_shared<acq::Mailbox>(kMailboxBlocks)),
      record_(std::make_shared<RecordSink>()) {
    // The record's queue holds several records' worth of blocks, so that a
    // slow disk never costs a block.
    record_runner_ = session_.AddSink(record_, 256);
    mailbox_runner_ = session_.AddSink(mailbox_, kMailboxBlocks);
}

FrmMain::~FrmMain() {
    // A save under way still finishes: the runner delivers what it holds.
    record_->SetNotify({});
    session_.RemoveSink(mailbox_runner_);
    session_.RemoveSink(record_runner_);
}

void FrmMain::AppendLog(const std::string& line) { Set(TxtResult, TxtResult.Text + line + "\r\n"); }

void FrmMain::AppendLine(const std::string& line) {
    const std::string& t = TxtResult.Text;
    const bool fresh = t.empty() || (t.size() >= 2 && t.compare(t.size() - 2, 2, "\r\n") == 0);
    Set(TxtResult, t + (fresh ? "" : "\r\n") + line + "\r\n");
}

void FrmMain::StopForCardError(const Status& why) {
    TimerAD.Enabled = false;
    mailbox_->Listen(false);
    record_->Disarm();
    Set(CmdStart, "开始");
    AppendLine(app::Text(why));
}

void FrmMain::Form_Load() {
    if (const Status s = session_.Initial(); !s.ok()) AppendLine(app::Text(s));  // else shows at the next start
    RecvBlocks = 0;
    RecordBlocks = 0;
    dll_.BlockIdx = 0;
    dll_.BlockNum = 20;
    dll_.BufNum = 10;
    dll_.ChnPoints = 2000;
    dll_.StartChn = 0;
    dll_.ChnNum = 18;
    dll_.SampleFrq = 2000;
    dll_.StartParam6 = 0;
    dll_.StartParam7 = 1;
}

void FrmMain::CmdExit_Click() {
    session_.Stop();
    TimerAD.Enabled = false;
    mailbox_->Listen(false);
    Unloaded = true;
}

void FrmMain::ShowStart(const Status& s) {
    LastStart = s;
    if (s.code == Status::Code::kCardRefused)
        Set(lblBlock, app::StartRefusedText(s));
    else
        AppendLine(app::StartRefusedText(s));
}

void FrmMain::CmdStart_Click() {
    if (CmdStart.Text != "开始") {
        mailbox_->Listen(false);
        record_->Disarm();
        if (const Status s = session_.Stop(); !s.ok()) AppendLine(app::Text(s));
        TimerAD.Enabled = false;
        Set(CmdStart, "开始");
        return;
    }

    RecvBlocks = 0;
    dll_.BlockIdx = 0;
    RecordBlocks = 0;
    ReadFailures = Gaps = Drops = 0;
    const acq::AcqConfig config = dll_.Config();
    const std::int16_t blockNum = dll_.BlockNum;
    mailbox_->Take();
    mailbox_->Listen(true);
    record_->Arm(blockNum, RecordFilePath);
    // Runs on the card thread between Initial and StartIntr, while this
    // thread waits: the empty record replaces the one opened for analysis.
    const Status started = session_.Start(config, [&] {
        const auto last = t1dat::RecordLastIndex(config.ChnNum, config.ChnPoints, blockNum);
        if (!last) return last.status();
        try {
            t1dat::Recording empty;
            empty.BlockNum = blockNum;
            empty.ChnPoints = config.ChnPoints;
            empty.ChnNum = config.ChnNum;
            empty.BlockData.assign(static_cast<std::size_t>(*last) + 1, 0);
            std::vector<gps::GpsTime> times(static_cast<std::size_t>(blockNum) + 1);
            Record = std::move(empty);
            BlockTime = std::move(times);
        } catch (const std::exception&) {  // bad_alloc, or length_error on a 32-bit build
            return Status::Fail(Status::Code::kNoBuffers, Status::Why::kNoMemoryForBuffers).Value(*last + 1);
        }
        return Status::Ok();
    });
    if (!started.ok()) {
        mailbox_->Listen(false);
        record_->Disarm();
        ShowStart(started);
        return;
    }
    LastStart = started;
    TimerAD.Enabled = true;
    Set(TxtResult, "开始采集");
    if (const std::string notice = app::CardNotice(session_.Identity()); !notice.empty()) AppendLine(notice);
    Set(CmdStart, "停止");
}

void FrmMain::StopForSettings(const acq::Block& block) {
    session_.Stop();
    TimerAD.Enabled = false;
    mailbox_->Listen(false);
    record_->Disarm();
    Set(CmdStart, "开始");
    AppendLine("采集已停止：收到的数据块（通道数 " + std::to_string(block.ChnNum) + "，每通道点数 " +
               std::to_string(block.ChnPoints) + "）与正在收集的记录不相符，采集设置可能已被另一窗口改变。");
}

void FrmMain::TakeEvent(const acq::Event& event, bool& reported) {
    using Kind = acq::Event::Kind;
    switch (event.kind) {
    case Kind::kPolled:
        if (event.value > 0) reported = true;
        break;
    case Kind::kReadFailed:
        ++ReadFailures;
        AppendLine("读数失败：ADResult=" + std::to_string(event.value));
        break;
    case Kind::kGap:
        ++Gaps;
        AppendLine("时间间断：第 " + std::to_string(event.sequence + 1) + " 次读数比上一块晚 " +
                   std::to_string(event.value) + " 纳秒");
        break;
    case Kind::kTimeBackwards:
        ++Gaps;
        AppendLine("时间倒退：第 " + std::to_string(event.sequence + 1) + " 次读数比上一块早 " +
                   std::to_string(-event.value) + " 纳秒");
        break;
    case Kind::kOverflow:
        AppendLine("板卡缓冲区溢出：第 " + std::to_string(event.sequence + 1) + " 次读数之前丢失 " +
                   std::to_string(event.value) + " 块");
        break;
    case Kind::kDropped:
        Drops += static_cast<std::uint64_t>(event.value);
        AppendLine("窗口来不及处理，丢失 " + std::to_string(event.value) + " 项数据");
        break;
    default:
        break;
    }
}

// A block of the record being gathered: counted, placed, and at the record's
// last block the recording stops and the save is awaited.
void FrmMain::TakeBlock(const acq::Block& block) {
    const std::int64_t n = block.Samples();
    const std::int64_t last = n * Record.BlockNum;
    dll_.BlockIdx = static_cast<std::int32_t>(dll_.BlockIdx + n >= last ? 0 : dll_.BlockIdx + n);
    RecvBlocks = AddCount16(RecvBlocks, 1);
    RecordBlocks = AddCount16(RecordBlocks, 1);
    if (RecordBlocks == Record.BlockNum) {
        RecordBlocks = 0;
        if (Recording()) CmdStart_Click();  // stops the card and the timer
        Set(TxtResult, "存盘...");
        awaiting_save_ = true;
        CheckSave();
    }
}

void FrmMain::TimerAD_Timer() {
    session_.Pump();
    // Whole polls only: a poll's blocks come with its count.
    const auto items = mailbox_->Take();
    bool reported = false;
    const std::int64_t recordWords = static_cast<std::int64_t>(Record.ChnNum) * Record.ChnPoints;
    for (const auto& item : items) {
        if (const auto* event = std::get_if<acq::Event>(&item)) {
            if (event->kind == acq::Event::Kind::kCardError) {
                StopForCardError(event->status);
                return;
            }
            TakeEvent(*event, reported);
            continue;
        }
        const acq::Block& block = *std::get<acq::BlockPtr>(item);
        if (block.Samples() != recordWords) {
            StopForSettings(block);
            return;
        }
        reported = true;
        TakeBlock(block);
    }
    if (!reported) return;
    Set(lblBlock, LabelNumber(RecvBlocks));
    Set(lblptr, LabelNumber(dll_.BlockIdx));
}

std::string BlockTimeLine(const gps::GpsTime& t) {
    return std::to_string(t.Year) + "-" + std::to_string(t.Month) + "-" + std::to_string(t.Day) + " " +
           std::to_string(t.Hour) + ":" + std::to_string(t.Minute) + ":" + std::to_string(t.Second) +
           ":" + std::to_string(t.NS);
}

std::string SaveReportText(const SaveReport& r) {
    const std::string path = platform::PathText(r.path);
    if (r.status.ok()) return "保存完毕！";
    if (r.status.code == Status::Code::kLostBlocks)
        return "存盘失败：记录在途中丢失了 " + std::to_string(r.status.value) + " 块数据，不完整的记录未保存\r\n";
    std::string text = "存盘失败：" + path + "：" + app::Text(r.status) + "\r\n";
    for (const auto& a : r.fallbacks) {
        if (a.status.ok())
            text += "记录已另存为 " + platform::PathText(a.path) + "\r\n";
        else
            text += "另存为 " + platform::PathText(a.path) + " 也失败：" + app::Text(a.status) + "\r\n";
    }
    if (!r.Kept()) text += "记录已丢失：没有一处能写下它。\r\n";
    return text;
}

bool FrmMain::CheckSave() {
    if (!awaiting_save_) return false;
    auto report = record_->TakeReport();
    if (!report) return false;
    awaiting_save_ = false;
    ++Saves;
    LastSave = report->status;
    Set(TxtResult, SaveReportText(*report));
    LastSaveReport = std::move(report);
    return true;
}

}  // namespace zqd
