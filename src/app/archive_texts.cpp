#include "app/archive_texts.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/messages.h"
#include "common/utc.h"
#include "platform/text.h"

namespace zqd::app {

namespace {

std::string Megabytes(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

std::string Micro(std::int64_t ns) {
    char text[48];
    std::snprintf(text, sizeof text, "%+.1f 微秒", static_cast<double>(ns) / 1000.0);
    return text;
}

std::string Ppm(double ppm) {
    char text[48];
    std::snprintf(text, sizeof text, "%+.3f ppm", ppm);
    return text;
}

}  // namespace

std::string ClockText(const acq::BlockClock& c, std::int32_t nominal_rate) {
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
    if (c.rate > 0 && nominal_rate > 0) t += "，采样率偏差 " + Ppm((c.rate / nominal_rate - 1) * 1e6);
    t += "，质量 " + std::to_string(c.quality) + "%";
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
        char where[96];
        std::snprintf(where, sizeof where, "，%.5f°%s %.5f°%s，海拔 %.2f m", std::abs(lat), lat < 0 ? "S" : "N",
                      std::abs(lon), lon < 0 ? "W" : "E", m.position.height_msl_cm / 100.0);
        t += where;
    }
    return t;
}

std::string MessagesText(const archive::ArchiveStatus& s) {
    return "GPS 报文 " + std::to_string(s.messages) + " 条，校验失败 " + std::to_string(s.bad_messages) + " 条";
}

std::string NoteText(const archive::ArchiveNote& n) {
    using Kind = archive::ArchiveNote::Kind;
    const std::string path = platform::PathText(n.path);
    switch (n.kind) {
    case Kind::kRepaired:
        return "修复 " + path + "：截去尾部不完整的 " + std::to_string(n.value) + " 字节，保留 " + std::to_string(n.count) +
               " 个完整记录";
    case Kind::kRepairFailed: return "无法修复 " + path + "：" + Text(n.status);
    case Kind::kReadFailed: return "读数失败：ADResult=" + std::to_string(n.value) + "，缺一块数据";
    case Kind::kGap:
    case Kind::kBackwards:
        return std::string(n.kind == Kind::kGap ? "时间间断：晚了 " : "时间倒退：早了 ") +
               std::to_string(std::llabs(n.value) / 1000) + " 微秒（第 " + std::to_string(n.sequence + 1) + " 次读数）";
    case Kind::kDropped: return "存档来不及处理，丢弃 " + std::to_string(n.value) + " 块数据";
    case Kind::kCardError: return Text(n.status);
    case Kind::kGpsBack: return "GPS 时间恢复";
    case Kind::kGpsLost: return "GPS 时间中断：沿用上一块的时间";
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
    case Kind::kPulseLost: return "秒脉冲中断（最后一个在 " + utc::Iso(n.value) + "）：按测得的采样率自由运行";
    case Kind::kPulseBack: return "秒脉冲恢复（" + utc::Iso(n.value) + "）";
    case Kind::kPulseDisagrees:
        return "GPS 报文的秒与秒脉冲的计数不一致，相差 " + Micro(n.value) + "（第 " + std::to_string(n.sequence + 1) +
               " 次读数）；以报文为准";
    case Kind::kTimeTear:
        return "时间撕裂：按标称采样率推算的时间偏离 " + Micro(n.value) + "，从第 " + std::to_string(n.sequence + 1) +
               " 次读数起另起一段";
    case Kind::kRateOff: return "板卡采样率偏离标称值 " + Ppm(static_cast<double>(n.value) / 1000.0);
    case Kind::kOverflow:
        return "板卡缓冲区溢出：第 " + std::to_string(n.sequence + 1) + " 次读数之前丢失 " + std::to_string(n.value) + " 块";
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
    return Losses{s.read_failures, s.overflowed_blocks, s.time_gaps, s.dropped_blocks, s.unwritten_records, s.unwritten_samples};
}

std::string StatusLine(const archive::ArchiveStatus& s) {
    std::string line = "块 " + std::to_string(s.blocks) + " | 损失 " + LossText(LossesOf(s), false) + " | GPS " +
                       (s.gps ? "正常" : s.last_gps_ns ? "中断" : "未收到") +
 (s.last_time_ns ? " " + utc::Iso(s.last_time_ns) : std::string()) + " | " +
                       (s.clock.pulse ? "秒脉冲正常" : "无秒脉冲") +
                       (s.clock.phase_error_ns != acq::ClockSample::kNoValue ? " 相位误差 " + Micro(s.clock.phase_error_ns)
                                                                              : std::string()) +
                       (s.clock.rate > 0 && s.nominal_rate > 0 ? " 采样率 " + Ppm((s.clock.rate / s.nominal_rate - 1) * 1e6)
                                                               : std::string()) +
                       " | 时间质量 " + std::to_string(s.quality) +
                       (s.last_message ? " | " + FixText(*s.last_message) : std::string()) + " | " + MessagesText(s) +
                       " | 文件 " + std::to_string(s.files) + " | " +
                       Megabytes(static_cast<std::int64_t>(s.bytes)) + " | 剩余 " +
                       (s.free_bytes >= 0 ? Megabytes(s.free_bytes) : std::string("未知"));
    if (s.removed_days > 0)
        line += " | 已删旧日 " + std::to_string(s.removed_days) + "（" + Megabytes(static_cast<std::int64_t>(s.removed_bytes)) + "）";
    if (!s.writing) line += " | 写入失败：" + Text(s.last_error);
    return line;
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
        if (!s.push.connected && !s.push.last_error.empty()) text += "（" + s.push.last_error + "）";
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
