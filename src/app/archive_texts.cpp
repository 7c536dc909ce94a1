#include "app/archive_texts.h"

#include <cmath>
#include <cstdlib>

#include "app/messages.h"
#include "common/numtext.h"
#include "common/utc.h"
#include "platform/text.h"
#include "stream/websocket.h"

namespace zqd::app {

namespace {

std::string Megabytes(std::int64_t bytes) { return FixedText(static_cast<double>(bytes) / 1e6, 1) + " MB"; }

std::string Micro(std::int64_t ns) { return FixedText(static_cast<double>(ns) / 1000.0, 1, true) + " 微秒"; }

std::string Ppm(double ppm) { return FixedText(ppm, 3, true) + " ppm"; }

std::string Milli(std::int64_t ns) { return FixedText(static_cast<double>(ns) / 1e6, 1) + " 毫秒"; }

std::string DoubtsText(int doubts) {
    std::string t;
    auto add = [&](acq::LabelDoubt d, const char* what) {
        if (!(doubts & (1 << static_cast<int>(d)))) return;
        if (!t.empty()) t += "、";
        t += what;
    };
    add(acq::LabelDoubt::kAtEdge, "报文紧挨秒脉冲");
    add(acq::LabelDoubt::kLate, "报文迟于 max_message_delay_ms");
    add(acq::LabelDoubt::kDisagrees, "报文与计数不一致");
    return t;
}

}  // namespace

std::string RuleText(const acq::TimingConfig& timing) {
    if (!timing.PulseWired()) return "不接秒脉冲，按报文定时";
    return timing.message_refers_to_next ? "报文指其后的秒脉冲（message_refers_to = \"next\"）"
                                         : "报文指其前的秒脉冲（message_refers_to = \"previous\"）";
}

std::string ClockText(const acq::BlockClock& c, std::int32_t nominal_rate, const acq::TimingConfig& timing) {
    using Source = acq::ClockSource;
    std::string t = "时钟：";
    switch (c.source) {
    case Source::kNone: t += "尚无 GPS 时间"; break;
    case Source::kPulse: t += "秒脉冲定时"; break;
    case Source::kMessage: t += "按 GPS 报文定时"; break;
    case Source::kFreeRun: t += "自由运行（无秒脉冲、无报文）"; break;
    }
    t += c.pulse ? "，秒脉冲正常" : "，无秒脉冲";
    if (c.phase_error_ns != acq::ClockSample::kNoValue) t += "，相位误差 " + Micro(c.phase_error_ns);
    if (c.bound_ns > 0) t += "，可能偏差 ±" + FixedText(static_cast<double>(c.bound_ns) / 1000.0, 1) + " 微秒";
    if (c.rate > 0 && nominal_rate > 0) t += "，采样率偏差 " + Ppm((c.rate / nominal_rate - 1) * 1e6);
    t += "，质量 " + std::to_string(c.quality) + "%";
    if (c.doubts != 0) t += "，秒的标注存疑（" + DoubtsText(c.doubts) + "）";
    t += "，" + RuleText(timing);
    if (c.message_delay_ns != acq::ClockSample::kNoValue)
        t += std::string(timing.message_refers_to_next ? "，报文在秒脉冲前 " : "，报文在秒脉冲后 ") + Milli(c.message_delay_ns) +
             "开始";
    return t;
}

std::string TimingSummaryText(const records::StationStatus& s) {
    const records::TimingRecord& r = s.timing_record;
    std::vector<std::string> parts;
    if (r.outages > 0)
        parts.push_back("秒脉冲中断 " + std::to_string(r.outages) + " 次，共 " + std::to_string(r.outage_ns / 1000000000) +
                        " 秒（最长 " + std::to_string(r.longest_outage_ns / 1000000000) + " 秒），恢复时时间最大跳变 " +
                        Micro(-r.worst_step_ns));
    if (r.in_outage) parts.push_back("结束时秒脉冲仍中断（自 " + utc::Iso(r.outage_from_ns) + " 起）");
    if (r.worst_bound_ns > 0)
        parts.push_back("自由运行时可能偏差最多 ±" + FixedText(static_cast<double>(r.worst_bound_ns) / 1000.0, 1) + " 微秒");
    if (r.no_pulse) parts.push_back("秒脉冲通道上没有秒脉冲，按报文定时");
    if (r.doubted_blocks > 0)
        parts.push_back(std::to_string(r.doubted_blocks) + " 块的秒存疑（" + DoubtsText(r.doubts) + "）");
    if (r.host_blocks > 0) parts.push_back(std::to_string(r.host_blocks) + " 块按计算机时钟标注（质量 0）");
    std::string t = "定时：";
    if (parts.empty()) t += s.timing.PulseWired() && s.timing.date_from == acq::TimingConfig::DateFrom::kPulse && s.clock.pulse
                                ? "秒脉冲全程正常"
                                : "无异常";
    for (std::size_t i = 0; i < parts.size(); ++i) t += (i ? "；" : "") + parts[i];
    return t;
}

std::string FixText(const gps::HaData& m) {
    static const char* const kFix[] = {"无定位", "2D 定位", "3D 定位"};
    std::string t = m.Fix() == gps::HaFixKind::kPositionHold ? "位置保持（已锁定）"
                    : m.Fix() == gps::HaFixKind::kPropagate  ? "推算（未锁定）"
                                                              : kFix[m.FixState()];
    t += "，卫星 " + std::to_string(m.tracked) + "/" + std::to_string(m.visible);
    if (m.HasPosition()) {
        const double lat = m.position.LatitudeDeg(), lon = m.position.LongitudeDeg();
        t += "，" + FixedText(std::abs(lat), 5) + "°" + (lat < 0 ? "S" : "N") + " " + FixedText(std::abs(lon), 5) + "°" +
             (lon < 0 ? "W" : "E") + "，海拔 " + FixedText(m.position.height_msl_cm / 100.0, 2) + " m";
    }
    return t;
}

std::string MessagesText(const records::StationStatus& s) {
    return "GPS 报文 " + std::to_string(s.messages) + " 条，校验失败 " + std::to_string(s.bad_messages) + " 条";
}

std::string NoteText(const records::StationNote& n) {
    using Kind = records::StationNote::Kind;
    switch (n.kind) {
    case Kind::kReadFailed: return "读数失败：ADResult=" + std::to_string(n.value) + "，缺一块数据";
    case Kind::kGap:
    case Kind::kBackwards:
        return std::string(n.kind == Kind::kGap ? "时间间断：晚了 " : "时间倒退：早了 ") +
               std::to_string(std::llabs(n.value) / 1000) + " 微秒（第 " + std::to_string(n.sequence + 1) + " 次读数）";
    case Kind::kDropped: return "存档来不及处理，丢弃 " + std::to_string(n.value) + " 块数据";
    case Kind::kCardError: return Text(n.status);
    case Kind::kGpsBack: return "GPS 时间恢复";
    case Kind::kGpsLost: return "GPS 时间中断：沿用上一块的时间";
    case Kind::kPulseLost:
        return "秒脉冲中断（最后一个在 " + utc::Iso(n.value) + "）：按测得的采样率自由运行，时间质量随可能的偏差下降";
    case Kind::kPulseBack:
        return "秒脉冲恢复（" + utc::Iso(n.value) + "），中断 " + std::to_string(n.count) + " 秒；自由运行的时间偏了 " +
               Micro(n.extra) + "，在此跳回秒脉冲的时间";
    case Kind::kPulseDisagrees:
        return "GPS 报文的秒与秒脉冲的计数不一致，相差 " + Micro(n.value) + "（第 " + std::to_string(n.sequence + 1) +
               " 次读数）；以报文为准，时间质量不高于 40，直到报文与计数重新一致";
    case Kind::kNoPulseFound: {
        using Why = acq::Event::PulseRefusal;
        const std::string width = FixedText(static_cast<double>(n.setting) / 1000.0, 0);
        std::string why, check;
        switch (static_cast<Why>(n.extra)) {
        case Why::kNoRise: why = "开始 5 秒内没有一次上升沿"; check = "与 polarity"; break;
        case Why::kSilent: why = "开始 5 秒内既没有上升沿也没有 GPS 报文（接收机可能尚未定位）"; check = "与接收机的连线"; break;
        case Why::kNotPulse: why = "它的上升不是从静止电平跳到平稳的脉冲电平，像是信号而不是秒脉冲"; check = "与 polarity"; break;
        case Why::kWrongWidth: why = "脉冲宽度与 pulse_width_ms = " + width + " 不符"; check = "与 pulse_width_ms"; break;
        case Why::kOffSecond: why = "相邻脉冲的间隔不是整秒（超出 rate_alarm_ppm）"; check = "与 rate_alarm_ppm"; break;
        }
        return "通道 " + std::to_string(n.value) + " 上没有找到秒脉冲：" + why + "。请检查 [timing] pps_channel（现为 " +
               std::to_string(n.value) + "）" + check + "；现在按 GPS 报文定时，时间质量不高于 40";
    }
    case Kind::kPulseTooNarrow:
        return "秒脉冲宽度 pulse_width_ms = " + FixedText(static_cast<double>(n.value) / 1000.0, 3) + " 毫秒，不足三个采样周期（" +
               FixedText(static_cast<double>(n.setting) / 1000.0, 3) +
               " 毫秒），无法定位它的上升沿：按 GPS 报文定时；请检查 pulse_width_ms，或提高采样率";
    case Kind::kMessageAtEdge:
        return std::string("GPS 报文在秒脉冲") + (n.value < 0 ? "前 " : "后 ") + Milli(std::llabs(n.value)) +
               "开始，无法确定它指的是哪一秒（第 " + std::to_string(n.sequence + 1) +
               " 次读数）：时间质量不高于 20；请检查 [timing] message_refers_to 与 max_message_delay_ms，以及接收机的报文输出";
    case Kind::kMessageLate:
        return "GPS 报文在秒脉冲后 " + Milli(n.value) + "才开始，超过 max_message_delay_ms = " + std::to_string(n.setting) +
               "（第 " + std::to_string(n.sequence + 1) +
               " 次读数）：所标的秒可能有误，时间质量不高于 40；请把 [timing] max_message_delay_ms 设大些，或检查 message_refers_to";
    case Kind::kLabelsSure:
        switch (static_cast<acq::LabelDoubt>(n.value)) {
        case acq::LabelDoubt::kAtEdge: return "GPS 报文与秒脉冲的对应已能确定";
        case acq::LabelDoubt::kLate: return "GPS 报文的延迟回到 max_message_delay_ms 以内";
        case acq::LabelDoubt::kDisagrees: return "GPS 报文与秒脉冲的计数重新一致";
        }
        return {};
    case Kind::kNoGpsTime:
        return "开始后 " + std::to_string(n.value / 1000000000) +
               " 秒内没有 GPS 时间（既无报文也无秒脉冲）：这些数据按计算机时钟标注，时间质量 0";
    case Kind::kPollSooner:
        return "一次查询时板卡的缓冲区已全部填满：查询周期缩短到 " + std::to_string(n.value) + " 毫秒";
    case Kind::kTimeTear:
        return "时间撕裂：按标称采样率推算的时间偏离 " + Micro(n.value) + "，从第 " + std::to_string(n.sequence + 1) +
               " 次读数起另起一段";
    case Kind::kRateOff: return "板卡采样率偏离标称值 " + Ppm(static_cast<double>(n.value) / 1000.0);
    case Kind::kOverflow:
        return "板卡缓冲区溢出：第 " + std::to_string(n.sequence + 1) + " 次读数之前丢失 " + std::to_string(n.value) + " 块";

    }
    return {};
}

std::string NoteText(const archive::DiskNote& n) {
    using Kind = archive::DiskNote::Kind;
    const std::string path = platform::PathText(n.path);
    switch (n.kind) {
    case Kind::kRepaired:
        return "修复 " + path + "：截去尾部不完整的 " + std::to_string(n.value) + " 字节，保留 " + std::to_string(n.count) +
               " 个完整记录";
    case Kind::kRepairFailed: return "无法修复 " + path + "：" + Text(n.status);
    case Kind::kNewDayFile: return "新的日文件：" + path;
    case Kind::kWriteFailing:
        return "写入失败：" + Text(n.status) + "；数据暂存内存（最多 " + std::to_string(n.value) + " MiB），稍后重试";
    case Kind::kWriteRecovered: return "写入恢复";
    case Kind::kMemoryFull:
        return "内存暂存已满，丢弃 " + std::to_string(n.value) + " 个记录（" + std::to_string(n.count) + " 个样本），未写入磁盘";
    case Kind::kUnwrittenAtStop:
        return "停止时磁盘仍然拒绝写入：" + std::to_string(n.value) + " 个记录（" + std::to_string(n.count) +
               " 个样本）未能写入";
    case Kind::kDayRemoved: {
        const std::string day = utc::Iso(n.value).substr(0, 10);
        std::string t = "删除最旧的一天 " + day + "：" + std::to_string(n.count) + " 个日文件，" +
                        Megabytes(static_cast<std::int64_t>(n.bytes)) + "（" +
                        (n.for_space ? "磁盘剩余空间不足" : "超过保留天数") + "）";
        if (!n.status.ok()) t += "；" + Text(n.status);
        return t;
    }
    case Kind::kBehind:
        return "磁盘来不及写入：" + std::to_string(n.value) + " 个记录（" + std::to_string(n.count) + " 个样本）未能送到磁盘";
    }
    return {};
}

std::string NoteText(const convert::ConvertNote& n) {
    using Kind = convert::ConvertNote::Kind;
    const std::string name = platform::PathText(n.file);
    switch (n.kind) {
    case Kind::kRefused: return "拒绝 " + name + "：" + Text(n.status);
    case Kind::kAssumed: return name + "：没有 GPS 时间，按指定的开始时间 " + utc::Iso(n.time_ns) + " 逐块推算";
    case Kind::kInferred:
        return name + "：第 " + std::to_string(n.block) + " 块没有 GPS 时间，按第 " + std::to_string(n.from) + " 块推算为 " +
               utc::Iso(n.time_ns);
    case Kind::kDone:
        return name + "：" + std::to_string(n.block) + " 块，" + std::to_string(n.channels) + " 个通道，" +
               std::to_string(n.segments) + " 段，写出 " + std::to_string(n.outputs) + " 个文件";
    }
    return {};
}

Losses LossesOf(const archive::ArchiveStatus& s) {
    const records::StationStatus& r = s.station;
    return Losses{r.read_failures, r.overflowed_blocks, r.time_gaps, r.dropped_blocks, s.disk.unwritten_records,
                  s.disk.unwritten_samples};
}

namespace {

// The clock's part of the status line: the pulse, how far off the time may
// be, the phase error, the rate, the quality, which pulse the message names.
std::string ClockPart(const records::StationStatus& s) {
    const acq::BlockClock& c = s.clock;
    std::string t = c.pulse ? "秒脉冲正常" : "无秒脉冲";
    if (c.bound_ns > 0) t += " 可能偏差 ±" + FixedText(static_cast<double>(c.bound_ns) / 1000.0, 1) + " 微秒";
    if (c.phase_error_ns != acq::ClockSample::kNoValue) t += " 相位误差 " + Micro(c.phase_error_ns);
    if (c.rate > 0 && s.nominal_rate > 0) t += " 采样率 " + Ppm((c.rate / s.nominal_rate - 1) * 1e6);
    t += " | 时间质量 " + std::to_string(s.quality);
    if (c.doubts != 0) t += "（秒存疑：" + DoubtsText(c.doubts) + "）";
    return t + " | " + RuleText(s.timing);
}

// The disk's part: files, bytes, free space, what was removed, a refusal.
std::string DiskPart(const archive::DiskStatus& d) {
    std::string t = "文件 " + std::to_string(d.files) + " | " + Megabytes(static_cast<std::int64_t>(d.bytes)) + " | 剩余 " +
                    (d.free_bytes >= 0 ? Megabytes(d.free_bytes) : std::string("未知"));
    if (d.removed_days > 0)
        t += " | 已删旧日 " + std::to_string(d.removed_days) + "（" + Megabytes(static_cast<std::int64_t>(d.removed_bytes)) + "）";
    if (!d.writing) t += " | 写入失败：" + Text(d.last_error);
    return t;
}

}  // namespace

std::string StatusLine(const archive::ArchiveStatus& a) {
    const records::StationStatus& s = a.station;
    std::string line = "块 " + std::to_string(s.blocks) + " | 损失 " + LossText(LossesOf(a), false) + " | GPS " +
                       (s.gps ? "正常" : s.last_gps_ns ? "中断" : "未收到");
    if (s.last_time_ns) line += " " + utc::Iso(s.last_time_ns);
    line += " | " + ClockPart(s);
    if (s.last_message) line += " | " + FixText(*s.last_message);
    return line + " | " + MessagesText(s) + " | " + DiskPart(a.disk);
}

std::string OpenedText(const view::Opened& o) {
    const std::string name = platform::PathText(o.path);
    const std::string channels = std::to_string(o.model ? o.model->ChannelCount() : 0) + " 个通道";
    switch (o.kind) {
    case view::Opened::Kind::kSds: return name + "：SDS，" + std::to_string(o.day_files) + " 个日文件，" + channels;
    case view::Opened::Kind::kMseed: return name + "：miniSEED，" + std::to_string(o.records) + " 个记录，" + channels;
    case view::Opened::Kind::kRecord: break;
    }
    return name + "：记录文件，" + channels;
}

std::vector<std::string> OpenedNotes(const view::Opened& o) {
    std::vector<std::string> lines;
    for (const auto& n : o.notes) lines.push_back(Text(n));
    return lines;
}

namespace {

std::string FaultText(stream::FrameFault f) {
    using F = stream::FrameFault;
    switch (f) {
    case F::kNone: return "";
    case F::kReservedBits: return "保留位不为 0";
    case F::kUnmasked: return "客户端的帧未加掩码";
    case F::kBadControl: return "控制帧被分片或超过 125 字节";
    case F::kUnknownOpcode: return "未知的操作码";
    case F::kNothingToContinue: return "没有可接续的消息却来了接续帧";
    case F::kNewInsideFragmented: return "分片消息中间来了新消息";
    case F::kTooLong: return "消息过长";
    }
    return "";
}

// Why a connection ended, in words.
std::string EndText(const stream::LiveNote& n) {
    using E = stream::LiveNote::End;
    const std::string said = n.text.empty() ? std::string() : "：" + n.text;
    switch (n.end) {
    case E::kNone: return "";
    case E::kHandshakeIdle: return "握手时 " + std::to_string(n.value) + " 秒没有命令";
    case E::kHandshakeLong: return "握手超过 " + std::to_string(n.value) + " 秒";
    case E::kTransferEnded: return "所请求的数据已发完（END）";
    case E::kWriteStalled: return std::to_string(n.value) + " 秒没有收下数据（不读的客户端）";
    case E::kClientClosed: return "客户端关闭了连接";
    case E::kReadFailed: return "读取失败" + said;
    case E::kBye: return "客户端说 BYE";
    case E::kWebSocketClosed: return "客户端关闭了 WebSocket";
    case E::kDoesNotRead: return "客户端不读取回答，积压过多";
    case E::kHttpHeadTooLong: return "HTTP 请求头超过 " + std::to_string(n.value) + " 字节";
    case E::kWebSocketFault: return "WebSocket 帧有误：" + FaultText(static_cast<stream::FrameFault>(n.value));
    case E::kAnswered: return "HTTP 请求已回答";
    case E::kWriteFailed: return "发送失败" + said;
    case E::kServerStopped: return "服务已停止";
    case E::kStopped: return "已停止";
    case E::kNotHostPort: return "服务器地址应为 主机:端口";
    case E::kCannotResolve: return "找不到该主机" + said;
    case E::kConnectFailed: return "连接失败" + said;
    case E::kIdFailed: return "交换 ID 失败" + said;
    case E::kNotDataLink: return "对方不是 DataLink 服务器" + said;
    case E::kNoAnswer: return std::to_string(n.value) + " 秒内没有回答";
    case E::kSendFailed: return "发送记录失败" + said;
    case E::kNoAcknowledgement: return "等待确认失败" + said;
    case E::kRecordRefused: return "服务器拒收第 " + std::to_string(n.value) + " 号记录" + said;
    }
    return "";
}

}  // namespace

std::string LiveNoteText(const stream::LiveNote& n) {
    using K = stream::LiveNote::Kind;
    switch (n.kind) {
    case K::kListening: return "SeedLink 服务在 " + n.who + " 上提供实时数据";
    case K::kRefused: {
        using R = stream::LiveNote::Refusal;
        const std::string why = n.refusal == R::kNotAllowed     ? "不在允许的地址内"
                                : n.refusal == R::kTooManyClients ? "已有 " + std::to_string(n.value) + " 个客户端"
                                                                  : "该地址已有 " + std::to_string(n.value) + " 个客户端";
        return "拒绝 SeedLink 客户端 " + n.who + "：" + why;
    }
    case K::kClientEnded: {
        std::string t = "SeedLink 客户端 " + n.who;
        if (!n.via.empty()) t += "（" + n.via + "）";
        if (!n.user_agent.empty()) t += " [" + n.user_agent + "]";
        if (!n.asked.empty()) t += " 请求 " + n.asked;
        t += "；送出 " + std::to_string(n.packets) + " 个数据包，" + std::to_string(n.bytes) + " 字节";
        if (n.missed > 0) t += "，错过 " + std::to_string(n.missed) + " 个环形缓存已覆盖的记录";
        return t + "；结束：" + EndText(n);
    }
    case K::kPushConnected: return "DataLink " + n.who + " 已连接（" + n.text + "）";
    case K::kPushEnded:
        return "DataLink " + n.who + "：" + EndText(n) + "；" + std::to_string(n.again_ms) + " 毫秒后重试";
    }
    return {};
}

std::string LiveText(const stream::LiveState& s) {
    std::string text;
    if (s.serving) {
        const auto colon = s.listen.rfind(':');
        const std::string host = colon == std::string::npos ? "0.0.0.0" : s.listen.substr(0, colon);
        text = "SeedLink " + host + ":" + std::to_string(s.port) + "，" + std::to_string(s.clients) + " 个客户端";
    }
    if (s.pushing) {
        if (!text.empty()) text += "；";
        text += "DataLink " + s.datalink + (s.push.connected ? " 已连接" : " 未连接") + "，落后 " +
                std::to_string(s.push.behind) + " 个记录";
        if (s.push.skipped > 0) text += "，" + std::to_string(s.push.skipped) + " 个记录未能送出（环形缓存已覆盖）";
        if (!s.push.connected && s.push.ended) text += "（" + EndText(s.push.last_end) + "）";
    }
    return text;
}

std::string RingOpenedText(const stream::RecordRing::Opened& o, const std::filesystem::path& path) {
    if (o.rebuilt)
        return "实时数据的环形缓存 " + platform::PathText(path) + " 已损坏或格式不同，已重建（旧记录不再提供）；序号从 " +
               std::to_string(o.next) + " 起";
    if (o.kept > 0)
        return "实时数据的环形缓存保留了 " + std::to_string(o.kept) + " 个记录，客户端可从中续传；新记录的序号从 " +
               std::to_string(o.next) + " 起";
    return {};
}

}  // namespace zqd::app
