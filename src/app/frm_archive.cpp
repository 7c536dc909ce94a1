#include "app/frm_archive.h"

#include "view/sources/open.h"

#include "app/archive_texts.h"
#include "app/messages.h"
#include "archive/station_metadata.h"
#include "common/utc.h"
#include "platform/files.h"
#include "platform/text.h"
#include "version.h"

namespace zqd {

using namespace archive;
using config::StationConfig;

FrmArchive::FrmArchive(acq::Session& session, std::filesystem::path configFile)
    : session_(session), config_file_(std::move(configFile)), config_(config::DefaultConfig()), run_(session) {}

FrmArchive::~FrmArchive() = default;

void FrmArchive::Log(const std::string& line) { Set(TxtLog, TxtLog.Text + line + "\r\n"); }

void FrmArchive::LiveFilterChosen(const Status& s, const std::string& note) {
    Log(s.ok() ? "实时波形：" + (note.empty() ? std::string("不滤波") : note) : app::Text(s));
}

void FrmArchive::Form_Load() {
    if (platform::KindOf(config_file_) == platform::FileKind::kRegular) {
        StationConfig loaded = config::DefaultConfig();
        if (const Status s = config::LoadConfig(config_file_, loaded); s.ok())
            config_ = loaded;
        else
            Log("设置文件有误，使用默认设置：" + app::Text(s));
    }
    if (!config_.folder.empty()) Set(TxtFolder, platform::PathText(config_.folder));
    Set(TxtNetwork, config_.records.station.network);
    Set(TxtStation, config_.records.station.station);
    Set(TxtLocation, config_.records.station.location);
    ChkSeedLink.Checked = !config_.live.listen.empty();
    Set(ChkSeedLink, ChkSeedLink.Text);
    if (!config_.live.listen.empty()) Set(TxtSeedLink, config_.live.listen);
    if (const Status s = session_.Initial(); !s.ok()) Log(app::Text(s));
}

std::string FrmArchive::StatusText() const {
    std::string line = app::StatusLine(run_.Snapshot());
    if (live_)
        if (const auto served = app::LiveText(live_->Snapshot()); !served.empty()) line += " | " + served;
    return line;
}

void FrmArchive::FolderChosen(const std::string& folder) { Set(TxtFolder, folder); }

Status FrmArchive::SaveSettings() {
    config_.folder = platform::PathFromUtf8(TxtFolder.Text);
    return config::SaveConfig(config_file_, config_);
}

StationConfig FrmArchive::Entered() const {
    StationConfig c = config_;
    c.records.station.network = TxtNetwork.Text;
    c.records.station.station = TxtStation.Text;
    c.records.station.location = TxtLocation.Text;
    c.live.listen = ChkSeedLink.Checked ? TxtSeedLink.Text : std::string();
    return c;
}

std::string FrmArchive::StationXmlSuggested() const {
    const std::string name = TxtNetwork.Text + "." + TxtStation.Text + ".xml";
    return TxtFolder.Text.empty() ? name : platform::PathText(platform::PathFromUtf8(TxtFolder.Text) / name);
}

Status FrmArchive::StationXmlChosen(const std::string& file) {
    const StationConfig c = Entered();
    Status s = config::Validate(c, "设置");
    if (s.ok()) {
        std::optional<std::filesystem::path> archive;
        if (!TxtFolder.Text.empty() && platform::KindOf(platform::PathFromUtf8(TxtFolder.Text)) == platform::FileKind::kDirectory)
            archive = platform::PathFromUtf8(TxtFolder.Text);
        s = WriteStationXml(c.Description(), archive, platform::PathFromUtf8(file), "ZQD4830_GPS " + std::string(kVersion), utc::NowNs());
    }
    Log(s.ok() ? "台站元数据已写入 " + file : "台站元数据未能写出：" + app::Text(s));
    return s;
}

void FrmArchive::CmdStart_Click() {
    if (TxtFolder.Text.empty()) {
        LastStart = Status::Fail(Status::Code::kFileRefused, Status::Why::kNoArchiveFolder);
        Log(app::Text(LastStart));
        return;
    }
    StationConfig c = Entered();
    if (const Status s = config::Validate(c, "设置"); !s.ok()) {
        LastStart = s;
        Log(app::Text(s));
        return;
    }
    const auto root = platform::PathFromUtf8(TxtFolder.Text);
    if (Status s = ArchiveRun::PrepareFolder(root); !s.ok()) {
        LastStart = std::move(s);
        Log(app::Text(LastStart));
        return;
    }
    config_ = c;
    if (const Status s = SaveSettings(); !s.ok()) Log("设置未能保存：" + app::Text(s));
    // Live data first, so that the run's first record is served.
    const auto from_other_thread = [this](const std::string& line) {
        std::lock_guard lock(events_mutex_);
        events_.push_back(line);
    };
    live_ = std::make_unique<stream::LiveService>(
        [from_other_thread](const stream::LiveNote& n) { from_other_thread(app::LiveNoteText(n)); },
        [from_other_thread](const Status& s) { from_other_thread(app::Text(s)); });
    if (const Status s = live_->Start(config_.live, config_.records.station, config_.records.pack.record_length, root, kVersion);
        !s.ok()) {
        LastStart = s;
        live_.reset();
        Log(app::Text(s));
        return;
    }
    if (const auto text = app::RingOpenedText(live_->Opened(), stream::LiveService::RingPath(root)); !text.empty()) Log(text);
    Reports reports;
    reports.station = [this](const records::StationNote& note) {
        std::lock_guard lock(events_mutex_);
        events_.push_back(app::NoteText(note));
    };
    reports.disk = [this](const DiskNote& note) {
        if (note.kind == DiskNote::Kind::kDayRemoved) view::ForgetSummaries(note.paths);
        std::lock_guard lock(events_mutex_);
        events_.push_back(app::NoteText(note));
    };
    LastStart = run_.Start(config_.Run(), root, std::move(reports), -1, live_->Feed());
    if (!LastStart.ok()) {
        live_.reset();
        Log(app::StartRefusedText(LastStart));
        return;
    }
    const StreamCodes& codes = config_.records.station;
    Log("开始存档到 " + TxtFolder.Text + "：" + std::to_string(config_.records.channels.size()) + " 个通道，" +
        codes.network + "." + codes.station + "." + codes.location);
    if (const std::string notice = app::CardNotice(session_.Identity()); !notice.empty()) Log(notice);
    if (const auto text = app::LiveText(live_->Snapshot()); !text.empty()) Log("实时数据：" + text);
    CmdStart.Enabled = false;
    CmdStop.Enabled = true;
    TimerStatus.Enabled = true;
    TakeEvents();
}

void FrmArchive::TakeEvents() {
    std::vector<std::string> lines;
    {
        std::lock_guard lock(events_mutex_);
        lines.swap(events_);
    }
    for (const auto& l : lines) Log(l);
}

void FrmArchive::TimerStatus_Timer() {
    session_.Pump();
    TakeEvents();
    if (run_.Running()) Set(lblStatus, StatusText());
    if (TimerStatus.Enabled && !session_.Running()) {
        Log("采集已停止。");
        CmdStop_Click();
    }
}

void FrmArchive::CmdStop_Click() {
    const bool ran = run_.Running();
    if (ran)
        run_.Stop();  // what is queued is archived, then everything is written and synced
    else
        session_.Stop();
    if (live_) live_->Stop();  // after the run: its last records are served too
    TimerStatus.Enabled = false;
    TakeEvents();
    if (ran) {
        Set(lblStatus, StatusText());
        Log("已停止：" + lblStatus.Text);
    }
    CmdStart.Enabled = true;
    CmdStop.Enabled = false;
}

void FrmArchive::Form_Unload() {
    if (!CmdStart.Enabled) CmdStop_Click();
    Unloaded = true;
}

}  // namespace zqd
