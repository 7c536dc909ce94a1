// The user's text for what the archive, conversion and the viewer's opening
// report (built with the archive).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/messages.h"
#include "archive/archive_run.h"
#include "convert/convert.h"
#include "stream/live_service.h"
#include "view/sources/open.h"

namespace zqd::app {

std::string NoteText(const records::StationNote& note);
std::string NoteText(const archive::DiskNote& note);
std::string NoteText(const convert::ConvertNote& note);

// "时钟：秒脉冲定时，秒脉冲正常，相位误差 +0.2 微秒，采样率偏差 +25.003 ppm，质量 100%，报文指其前的秒脉冲".
std::string ClockText(const acq::BlockClock& clock, std::int32_t nominal_rate, const acq::TimingConfig& timing);
// Which second the messages name: "报文指其前的秒脉冲（message_refers_to = "previous"）".
std::string RuleText(const acq::TimingConfig& timing);
// What the clock went through in the run, for its closing line: outages,
// the steps back at their ends, how far off the free-running time may have
// been, the doubted seconds and the blocks dated from the computer's clock.
std::string TimingSummaryText(const records::StationStatus& s);

// What the receiver says of itself: "3D 定位，卫星 7/8，30.52000°N 114.36000°E，海拔 23.50 m".
std::string FixText(const gps::HaData& m);
// The receiver's messages: "GPS 报文 600 条，校验失败 2 条".
std::string MessagesText(const records::StationStatus& s);

// The status line the archive window and the command line show.
std::string StatusLine(const archive::ArchiveStatus& s);
// What live data had to say: a client refused or gone, the push connected or ended.
std::string LiveNoteText(const stream::LiveNote& note);
// Live data: "SeedLink 0.0.0.0:18000，3 个客户端", or empty when nothing is served.
std::string LiveText(const stream::LiveState& s);
// What opening the ring of live data found, when worth saying; else empty.
std::string RingOpenedText(const stream::RecordRing::Opened& o, const std::filesystem::path& path);
// What the archive lost, as LossText counts it.
Losses LossesOf(const archive::ArchiveStatus& s);

// "T1.DAT：记录文件，17 个通道", for the viewer's status line and the plot.
std::string OpenedText(const view::Opened& opened);
// One line a note of the opening.
std::vector<std::string> OpenedNotes(const view::Opened& opened);

}  // namespace zqd::app
