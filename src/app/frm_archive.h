// 连续记录, the continuous-archive window, without any toolkit: the archive
// folder and station codes, start and stop, the status line and a log of
// events. Its settings are kept in its configuration file.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "acquisition/session.h"
#include "app/form.h"
#include "archive/archive_run.h"
#include "config/station_config.h"
#include "stream/live_service.h"

namespace zqd {

class FrmArchive : public Form {
public:
    // `configFile`: where the settings are read from and kept.
    FrmArchive(acq::Session& session, std::filesystem::path configFile);
    ~FrmArchive();
    FrmArchive(const FrmArchive&) = delete;
    FrmArchive& operator=(const FrmArchive&) = delete;

    Control lblFolder{"lblFolder", "存档文件夹："};
    Control TxtFolder{"TxtFolder", ""};
    Control CmdBrowse{"CmdBrowse", "选择..."};
    Control lblNetwork{"lblNetwork", "台网："};
    Control TxtNetwork{"TxtNetwork", "XX"};
    Control lblStation{"lblStation", "台站："};
    Control TxtStation{"TxtStation", "ZQD01"};
    Control lblLocation{"lblLocation", "位置："};
    Control TxtLocation{"TxtLocation", "00"};
    Control ChkSeedLink{"ChkSeedLink", "提供 SeedLink 实时数据，地址："};
    Control TxtSeedLink{"TxtSeedLink", "18000"};
    Control CmdStart{"CmdStart", "开始"};
    Control CmdStop{"CmdStop", "停止", false};
    Control CmdStationXml{"CmdStationXml", "写台站元数据（StationXML）..."};
    Control CmdHelicorder{"CmdHelicorder", "日记录图..."};
    Control lblStatus{"lblStatus", "未开始"};
    Control TxtLog{"TxtLog", ""};
    Timer TimerStatus{1000, false};

    Status LastStart;

    void Form_Load();
    void CmdStart_Click();
    void CmdStop_Click();
    void TimerStatus_Timer();
    void Form_Unload();
    // A folder picked with the folder chooser.
    void FolderChosen(const std::string& folder);
    // Where CmdStationXml's file chooser starts: NET.STA.xml in the archive folder.
    std::string StationXmlSuggested() const;
    // The station's StationXML written to the file picked for CmdStationXml:
    // the codes as the window has them, the rest from the settings, the
    // start date and (without configured coordinates) the position from the
    // archive folder. What came of it is logged.
    Status StationXmlChosen(const std::string& file);

    // What came of choosing the live waveforms' filter (reading or
    // designing it), said in the log; `note` what the view says of it.
    void LiveFilterChosen(const Status& s, const std::string& note);
    // What CmdHelicorder opens in the viewer, following its newest data: the archive folder.
    std::string HelicorderFolder() const { return TxtFolder.Text; }

    const config::StationConfig& Config() const { return config_; }

private:
    void Log(const std::string& line);
    std::string StatusText() const;  // the archive's status line, and what is served live
    void TakeEvents();
    Status SaveSettings();
    config::StationConfig Entered() const;  // the settings with the codes as entered

    acq::Session& session_;
    std::filesystem::path config_file_;
    config::StationConfig config_;
    archive::ArchiveRun run_;
    std::unique_ptr<stream::LiveService> live_;
    std::mutex events_mutex_;
    std::vector<std::string> events_;  // from the sink's thread, shown at the next tick
};

}  // namespace zqd
