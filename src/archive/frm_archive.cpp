#include "archive/frm_archive.h"

#include <cstdio>

#include "common/platform.h"
#include "common/safe_file.h"
#include "common/utc.h"

namespace zqd::archive {

namespace {

std::string Megabytes(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

std::string Quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string StatusLine(const ArchiveStatus& s) {
    std::string line = "块 " + std::to_string(s.blocks) + " | 间断 " + std::to_string(s.gaps) + " | GPS " +
                       (s.gps ? "正常" : s.last_gps_ns ? "中断" : "未收到") +
                       (s.last_time_ns ? " " + utc::Iso(s.last_time_ns) : std::string()) + " | 时间质量 " +
                       std::to_string(s.quality) + " | 文件 " + std::to_string(s.files) + " | " +
                       Megabytes(static_cast<std::int64_t>(s.bytes)) + " | 剩余 " +
                       (s.free_bytes >= 0 ? Megabytes(s.free_bytes) : std::string("未知"));
    if (!s.writing) line += " | 写入失败：" + s.last_error;
    return line;
}

Status SaveConfig(const std::filesystem::path& path, const ArchiveConfig& c) {
    std::string text = "# ZQD4830_GPS 连续记录的设置\n\n[station]\nnetwork = " + Quoted(c.station.network) +
                       "\nstation = " + Quoted(c.station.station) + "\nlocation = " + Quoted(c.station.location) +
                       "\n\n[acquisition]\nchannels = " + std::to_string(c.acquisition.ChnNum) +
                       "\npoints_per_channel = " + std::to_string(c.acquisition.ChnPoints) +
                       "\nscan_rate = " + std::to_string(c.acquisition.SampleFrq) +
                       "\nbuffers = " + std::to_string(c.acquisition.BufNum) + "\n\n[archive]\n";
    if (!c.folder.empty()) text += "folder = " + Quoted(platform::PathText(c.folder)) + "\n";
    text += "record_length = " + std::to_string(c.pack.record_length) + "\nencoding = " +
            Quoted(c.pack.encoding == 10 ? "steim1" : c.pack.encoding == 3 ? "int32" : "steim2") +
            "\nflush_interval = " + std::to_string(c.flush_seconds) +
            "\nmemory_limit_mb = " + std::to_string(c.memory_limit_bytes >> 20) + "\n\n[channels]\n";
    for (int offset = 0; offset < c.acquisition.ChnNum; ++offset) {
        const auto it = c.channels.find(offset);
        text += std::to_string(offset) + " = " + (it == c.channels.end() ? std::string("false") : Quoted(it->second)) + "\n";
    }
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    SafeFileWriter w(path);
    if (w.Open() && w.Write(text.data(), text.size()) && w.Commit()) return Status::Ok();
    return Status::Fail(Status::Code::kWriteFailed, platform::PathText(path) + "：" + w.Error());
}

FrmArchive::FrmArchive(acq::Session& session, std::filesystem::path configFile)
    : session_(session), config_file_(std::move(configFile)), config_(DefaultConfig()) {}

FrmArchive::~FrmArchive() {
    if (runner_) session_.RemoveSink(runner_);
}

void FrmArchive::Log(const std::string& line) { Set(TxtLog, TxtLog.Text + line + "\r\n"); }

void FrmArchive::Form_Load() {
    std::string why;
    if (platform::KindOf(config_file_, why) == platform::FileKind::kRegular) {
        ArchiveConfig loaded = DefaultConfig();
        if (const Status s = LoadConfig(config_file_, loaded); s.ok())
            config_ = loaded;
        else
            Log("设置文件有误，使用默认设置：" + s.detail);
    }
    if (!config_.folder.empty()) Set(TxtFolder, platform::PathText(config_.folder));
    Set(TxtNetwork, config_.station.network);
    Set(TxtStation, config_.station.station);
    Set(TxtLocation, config_.station.location);
    if (const Status s = session_.Initial(); !s.ok()) Log(s.detail);
}

void FrmArchive::FolderChosen(const std::string& folder) { Set(TxtFolder, folder); }

Status FrmArchive::SaveSettings() {
    config_.folder = platform::PathFromUtf8(TxtFolder.Text);
    return SaveConfig(config_file_, config_);
}

void FrmArchive::CmdStart_Click() {
    if (TxtFolder.Text.empty()) {
        LastStart = Status::Fail(Status::Code::kFileRefused, "no folder");
        Log("请先选择存档文件夹。");
        return;
    }
    ArchiveConfig c = config_;
    c.station.network = TxtNetwork.Text;
    c.station.station = TxtStation.Text;
    c.station.location = TxtLocation.Text;
    if (const Status s = Validate(c, "设置"); !s.ok()) {
        LastStart = s;
        Log(s.detail);
        return;
    }
    const auto root = platform::PathFromUtf8(TxtFolder.Text);
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    std::string why;
    if (platform::KindOf(root, why) != platform::FileKind::kDirectory) {
        LastStart = Status::Fail(Status::Code::kFileRefused, TxtFolder.Text);
        Log("无法使用存档文件夹 " + TxtFolder.Text + (ec ? "：" + ec.message() : std::string()));
        return;
    }
    config_ = c;
    if (const Status s = SaveSettings(); !s.ok()) Log("设置未能保存：" + s.detail);
    sink_ = std::make_shared<ArchiveSink>(config_, root, [this](const std::string& line) {
        std::lock_guard lock(events_mutex_);
        events_.push_back(line);
    });
    runner_ = session_.AddSink(sink_, 1200);
    LastStart = session_.Start(config_.acquisition);
    if (!LastStart.ok()) {
        session_.RemoveSink(runner_);
        runner_.reset();
        sink_.reset();
        if (LastStart.code == Status::Code::kCardRefused)
            Log("Error=" + std::to_string(LastStart.value));
        else if (LastStart.code == Status::Code::kBusy)
            Log("无法开始：这台机器上的板卡正由 " + LastStart.detail + " 采集，同一时间只能有一个采集。");
        else
            Log(LastStart.detail);
        return;
    }
    Log("开始存档到 " + TxtFolder.Text + "：" + std::to_string(config_.channels.size()) + " 个通道，" +
        config_.station.network + "." + config_.station.station + "." + config_.station.location);
    if (const std::string notice = acq::CardNotice(session_.Identity()); !notice.empty()) Log(notice);
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
    if (sink_) Set(lblStatus, StatusLine(sink_->Snapshot()));
    if (TimerStatus.Enabled && !session_.Running()) {
        Log("采集已停止。");
        CmdStop_Click();
    }
}

void FrmArchive::CmdStop_Click() {
    session_.Stop();
    TimerStatus.Enabled = false;
    if (runner_) {
        session_.RemoveSink(runner_);
        runner_.reset();  // what is queued is archived, then everything is written and synced
    }
    TakeEvents();
    if (sink_) {
        Set(lblStatus, StatusLine(sink_->Snapshot()));
        Log("已停止：" + lblStatus.Text);
        sink_.reset();
    }
    CmdStart.Enabled = true;
    CmdStop.Enabled = false;
}

void FrmArchive::Form_Unload() {
    if (!CmdStart.Enabled) CmdStop_Click();
    Unloaded = true;
}

}  // namespace zqd::archive
