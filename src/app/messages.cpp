#include "app/messages.h"

#include <cstdint>
#include <vector>

#include "common/utc.h"

namespace zqd::app {

using Why = Status::Why;

namespace {

// Puts the status's values into a message: {d} detail, {o} other, {t} text,
// {v} {w} {x} the values, {c} the cause's message, {k} the file kind `value`.
std::string Fill(const char* pattern, const Status& s) {
    std::string out;
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '{' && p[1] && p[2] == '}') {
            switch (p[1]) {
            case 'd': out += s.detail; break;
            case 'o': out += s.other; break;
            case 't': out += s.text; break;
            case 'v': out += std::to_string(s.value); break;
            case 'w': out += std::to_string(s.value2); break;
            case 'x': out += std::to_string(s.value3); break;
            case 'c': out += s.cause ? Text(*s.cause) : std::string(); break;
            case 'k': out += KindText(static_cast<platform::FileKind>(s.value)); break;
            default: out.append(p, 3); break;
            }
            p += 2;
            continue;
        }
        out.push_back(*p);
    }
    return out;
}

// At most a short excerpt of what was given, cut at a character's boundary.
std::string Excerpt(const std::string& given) {
    constexpr std::size_t kMost = 40;
    if (given.size() <= kMost) return given;
    std::size_t cut = kMost;
    while (cut > 0 && (static_cast<unsigned char>(given[cut]) & 0xC0) == 0x80) --cut;
    return given.substr(0, cut) + "…（共 " + std::to_string(given.size()) + " 字节）";
}

// "a | b | c" as the user reads choices: "a、b 或 c".
std::string ChoiceList(const std::string& choices) {
    std::vector<std::string> parts;
    for (std::size_t at = 0;;) {
        const auto bar = choices.find(" | ", at);
        parts.push_back(choices.substr(at, bar == std::string::npos ? std::string::npos : bar - at));
        if (bar == std::string::npos) break;
        at = bar + 3;
    }
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i)
        out += (i == 0 ? "" : i + 1 == parts.size() ? " 或 " : "、") + parts[i];
    return out;
}

// Settings: where they came from (a file, and its line), then what is wrong,
// with what was given cut short.
std::string Setting(const char* pattern, const Status& given) {
    Status s = given;
    s.text = Excerpt(s.text);
    if (s.why == Why::kConfigChoice) s.other = ChoiceList(s.other);
    if (s.why == Why::kConfigNumberOutOfRange) {  // "given|lowest|highest"
        const auto a = s.other.find('|'), b = a == std::string::npos ? a : s.other.find('|', a + 1);
        if (b != std::string::npos)
            s.other = s.other.substr(0, a) + " 超出 " + s.other.substr(a + 1, b - a - 1) + " 到 " + s.other.substr(b + 1);
    }
    std::string where = s.detail;
    if (s.line > 0) where += (where.empty() ? "第 " : " 第 ") + std::to_string(s.line) + " 行";
    // Given by nobody in particular (a setting of the window, an option): no empty "：" before it.
    return where.empty() ? Fill(pattern, s) : where + "：" + Fill(pattern, s);
}

std::string Query(const char* pattern, const Status& s) { return "查询未执行：" + Fill(pattern, s) + "。"; }

// How a reason's message is made: a plain fill, a setting's (where it
// stands first), a query's, or a text of its own.
enum class Form { kPlain, kSetting, kQuery, kOwn };
struct Message {
    Form form;
    const char* pattern;
};

// Each reason's message: a pattern of one of the three forms, or a text of
// its own (Own). Every reason is named here, so that one without a message
// is a compiler's warning.
Message MessageOf(Why why) {
    switch (why) {
    case Why::kRingOpenFailed: return {Form::kPlain, "无法打开实时数据的环形缓存 {d}：{t}"};
    case Why::kRingWriteFailed: return {Form::kPlain, "无法写入实时数据的环形缓存 {d}：{t}"};
    case Why::kListenFailed: return {Form::kPlain, "无法在 {d} 上提供实时数据：{t}"};
    case Why::kBadListen: return {Form::kPlain, "实时数据的地址 {d} 不是 [地址:]端口（如 18000 或 127.0.0.1:18000）"};
    case Why::kBadAddressList: return {Form::kPlain, "{d} 不是地址或网段（CIDR，如 10.0.0.0/8）"};
    case Why::kNoNetworkCode: return {Form::kPlain, "本程序构建时没有网络部分（Asio），不能提供实时数据"};
    case Why::kLiveNeeds512: return {Form::kPlain, "实时数据以 512 字节的记录传送，而存档的记录长度是 {v} 字节（record_length）"};
    case Why::kRingBehind: return {Form::kPlain, "实时数据的环形缓存来不及接收，{v} 个记录没有送到"};
    case Why::kRingNoRoom: return {Form::kPlain, "实时数据的环形缓存 {d} 需要 {v} MB 磁盘空间，磁盘上没有这么多（可减小 ring_mb）"};
    case Why::kSystem: return {Form::kPlain, "{t}"};
    case Why::kMissing: return {Form::kPlain, "文件不存在"};
    case Why::kIsFolder: return {Form::kPlain, "是文件夹，不是文件"};
    case Why::kUnreachable: return {Form::kPlain, "无法访问（{t}）"};
    case Why::kNotAFile: return {Form::kPlain, "不是普通文件"};
    case Why::kNotRegular: return {Form::kPlain, "不是普通文件，是{k}"};
    case Why::kWroteNothing: return {Form::kPlain, "写入 0 字节"};
    case Why::kNotOpen: return {Form::kPlain, "文件未打开"};
    case Why::kCannotMap: return {Form::kPlain, "无法映射这个文件"};
    case Why::kNameTaken: return {Form::kPlain, "{t}"};
    case Why::kCutBackFailed: return {Form::kPlain, "{c}（也无法截回原长）"};
    case Why::kLockNotRegular: return {Form::kPlain, "锁文件 {d} 不是普通文件"};
    case Why::kLockHeld: return {Form::kPlain, "另一写入者在 {v} 秒内没有释放"};
    case Why::kLockFileUnusable: return {Form::kPlain, "无法打开锁文件 {d}：{t}"};
    case Why::kHeldByText: return {Form::kPlain, "{d}"};
    case Why::kOtherProcess: return {Form::kPlain, "另一进程"};
    case Why::kOtherProgram: return {Form::kPlain, "另一个 ZQD4830_GPS 程序"};
    case Why::kTargetIsFolder: return {Form::kPlain, "{d} 是文件夹，不能写成文件"};
    case Why::kNamedMseedIsNot: return {Form::kPlain, "{d} 名为 miniSEED 文件，但开头不是 miniSEED 记录（文件已损坏或不是 miniSEED）"};
    case Why::kTargetFolderMissing: return {Form::kPlain, "无法写入 {d}：文件夹 {o} 不存在"};
    case Why::kTargetUnreachable: return {Form::kPlain, "无法访问 {d}：{t}"};
    case Why::kTargetNotRegular: return {Form::kPlain, "{d} 不是普通文件，是{k}，未写入"};
    case Why::kCannotResolveLink: return {Form::kPlain, "无法解析链接 {d}：{t}"};
    case Why::kNoWritePermission: return {Form::kPlain, "没有写入 {d} 的权限：{c}"};
    case Why::kTargetBusy: return {Form::kPlain, "{d} 正被另一程序写入（{c}）"};
    case Why::kCannotLock: return {Form::kPlain, "无法锁定 {d}（锁文件 {o}：{c}）"};
    case Why::kCannotCreateTemp: return {Form::kPlain, "无法创建临时文件 {d}：{c}"};
    case Why::kWriteError: return {Form::kPlain, "写入失败：{t}"};
    case Why::kReadOriginalFailed: return {Form::kPlain, "无法读取原文件：{t}"};
    case Why::kReadOriginalError: return {Form::kPlain, "读取原文件失败：{t}"};
    case Why::kSyncFailed: return {Form::kPlain, "写入磁盘失败：{c}"};
    case Why::kCloseFailed: return {Form::kPlain, "关闭文件失败：{t}"};
    case Why::kPermissionsFailed: return {Form::kPlain, "无法设置文件权限：{c}"};
    case Why::kReplaceFailed: return {Form::kPlain, "无法替换原文件：{c}"};
    case Why::kFolderBusy: return {Form::kPlain, "文件夹 {d} 正被另一程序写入（{c}）"};
    case Why::kFolderLockFailed: return {Form::kPlain, "无法锁定文件夹 {d}：{c}"};
    case Why::kFolderSyncFailed: return {Form::kPlain, "无法把文件夹 {d} 写入磁盘：{t}"};
    case Why::kCannotCreateIn: return {Form::kPlain, "无法在 {d} 创建文件：{c}"};
    case Why::kTooManyNames: return {Form::kPlain, "{d} 中同名文件太多"};
    case Why::kLibraryMissing: return {Form::kPlain, "无法加载板卡函数库 {d}（调用 {o} 时）:{t}"};
    case Why::kRecordRefused: return {Form::kPlain, "无法打开记录文件 {d}：{c}，原有数据未改变。"};
    case Why::kNegativeSizes: return {Form::kPlain, "通道数 {v} 或每通道点数 {w} 为负"};
    case Why::kBlockTooLarge: return {Form::kPlain, "通道数 × 每通道点数 = {v}，超出 32 位范围"};
    case Why::kNegativeBlocks: return {Form::kPlain, "块数 {v} 为负"};
    case Why::kRecordTooLarge: return {Form::kPlain, "每块点数 × 块数 = {v}，超出 32 位范围"};
    case Why::kFileSizeUnknown: return {Form::kPlain, "无法读取文件大小（{t}）"};
    case Why::kHeaderShort: return {Form::kPlain, "文件只有 {v} 字节，不足以容纳文件头"};
    case Why::kHeaderReadFailed: return {Form::kPlain, "读取文件头失败"};
    case Why::kHeaderBlocksNegative: return {Form::kPlain, "文件头中的块数 {v} 为负"};
    case Why::kHeaderPointsNegative: return {Form::kPlain, "文件头中的每通道点数 {v} 为负"};
    case Why::kRecordShort: return {Form::kPlain, "文件头说明有 {v} 个样本记录，需要 {w} 字节，文件只有 {x} 字节"};
    case Why::kOutOfMemory: return {Form::kPlain, "内存不足，无法容纳 {v} 个样本"};
    case Why::kTooManySamples: return {Form::kPlain, "本程序无法容纳 {v} 个样本"};
    case Why::kSamplesReadFailed: return {Form::kPlain, "读取样本记录失败"};
    case Why::kEmptyRecord: return {Form::kPlain, "记录中没有数据块"};
    case Why::kNoTime: return {Form::kPlain, "没有一块有 GPS 时间"};
    case Why::kNoTimeAssume: return {Form::kPlain, "没有一块有 GPS 时间（可用 --assume-start 指定第一块的时间）"};
    case Why::kBadChannelList: return {Form::kPlain, "通道列表“{d}”中的“{t}”不是通道偏移或范围（如 0,2-5）"};
    case Why::kChannelBeyond: return {Form::kPlain, "通道“{d}”超出 0 到 {v}"};
    case Why::kChannelRangeBackwards: return {Form::kPlain, "通道范围“{d}”的起点大于终点（应写成如 2-5）"};
    case Why::kUnknownFormat: return {Form::kPlain, "未知的格式“{d}”"};
    case Why::kNoSuchChannel: return {Form::kPlain, "没有名为“{d}”的通道"};
    case Why::kDayFileOpenFailed: return {Form::kPlain, "无法打开 {d}：{c}"};
    case Why::kDayFileWriteFailed: return {Form::kPlain, "写入 {d} 失败：{c}"};
    case Why::kDayFileSyncFailed: return {Form::kPlain, "写入磁盘 {d} 失败：{c}"};
    case Why::kDayFileRemoveFailed: return {Form::kPlain, "无法删除 {d}：{t}"};
    case Why::kOutputFailed: return {Form::kPlain, "无法写入 {d}：{c}"};
    case Why::kConvertRefused: return {Form::kPlain, "{c}"};
    case Why::kMseedNotRecord: return {Form::kPlain, "这是 miniSEED 文件，不是记录文件（T1.DAT），无需转换；可用 plot 或波形浏览查看"};
    case Why::kViewRefused: return {Form::kPlain, "无法打开 {d}：{c}"};
    case Why::kPassedUnreadable: return {Form::kPlain, "{d}：{c}"};
    case Why::kPassedUndecodable: return {Form::kPlain, "{d}：有无法解读的数据，已跳过"};
    case Why::kPassedBadTime: return {Form::kPlain, "{d}：{v} 个记录的时间与前后记录都不相接（记录头可能损坏），已跳过这些记录"};
    case Why::kPassedTail: return {Form::kPlain, "{d}：末尾 {v} 字节不是完整的记录（正在写入，或被截断），未读"};
    case Why::kPassedNoRecords: return {Form::kPlain, "{d}：没有 miniSEED 数据记录"};
    case Why::kPassedOverlap: return {Form::kPlain, "{d}：{o} 与前面的数据重叠，已跳过这一段"};
    case Why::kCarriedBlocks: return {Form::kPlain, "有的块没有自己的 GPS 时间，按相邻块推算（时间条上标为橙色）"};
    case Why::kPictureEncodeFailed: return {Form::kPlain, "无法生成图片 {d}"};
    case Why::kNoWholeSegment:
        return {Form::kSetting, "在所选时段内没有一段 {v} 秒不间断的数据，无法计算噪声谱；请放宽 --from/--to，或用 --segment 缩短每段"};
    case Why::kPictureFormat: return {Form::kSetting, "图片 {d} 的扩展名应为 .png、.jpg（.jpeg）或 .bmp"};
    case Why::kPictureWriteFailed: return {Form::kPlain, "无法写入图片 {d}：{c}"};
    case Why::kNoArchiveFolder: return {Form::kPlain, "请先选择存档文件夹。"};
    case Why::kConfigWriteFailed: return {Form::kPlain, "{d}：{c}"};
    case Why::kNoMemoryForBuffers: return {Form::kPlain, "内存不足，无法创建 {v} 个样本的缓冲区"};
    case Why::kRecording: return {Form::kPlain, "正在采集，不能打开记录文件；请先按“停止”结束采集。"};
    case Why::kExportFailed: return {Form::kPlain, "导出失败：{d}：{c}"};
    case Why::kSameAsRecord: return {Form::kPlain, "导出失败：{d} 就是记录文件 {o}，未写入。"};
    case Why::kOutputGroupRange: return {Form::kPlain, "通道组“{d}”超出 -32768 到 32767，未输出"};
    case Why::kOutputGroupNegative: return {Form::kPlain, "通道组不能为负（{v}），未输出"};
    case Why::kOutputValueWide: return {Form::kPlain, "输出值“{d}”超过 32 位，未输出"};
    case Why::kConfigMissing: return {Form::kSetting, "文件不存在"};
    case Why::kConfigNotRegular: return {Form::kSetting, "不是普通文件"};
    case Why::kConfigSyntax: return {Form::kSetting, "不是有效的 TOML（第 {v} 列附近）：{t}"};
    case Why::kConfigUnknownTable: return {Form::kSetting, "未知的设置“{t}”"};
    case Why::kConfigNotTable: return {Form::kSetting, "“{t}”应为一个表 [{t}]"};
    case Why::kConfigUnknownKey: return {Form::kSetting, "[{o}] 中未知的设置“{t}”"};
    case Why::kConfigNotText: return {Form::kSetting, "{t} 应为文字"};
    case Why::kConfigNotInteger: return {Form::kSetting, "{t} 应为整数"};
    case Why::kConfigOutOfRange: return {Form::kSetting, "{t} = {v} 超出 {w} 到 {x}"};
    case Why::kConfigNumberOutOfRange: return {Form::kSetting, "{t} = {o}"};
    case Why::kConfigChoice: return {Form::kSetting, "{t} 应为 {o}"};
    case Why::kNoResampling: return {Form::kSetting, "resample = true：本程序构建时没有 libsamplerate，不能重采样"};
    case Why::kConfigNotNumber: return {Form::kSetting, "{t} 应为数"};
    case Why::kBadFilter: return {Form::kSetting, "滤波器 {d} 不适用：拐角频率须大于 0 且低于奈奎斯特频率（{t} Hz），带通的下拐角须低于上拐角，阶数 2 到 8"};
    case Why::kBadColour: return {Form::kSetting, "颜色“{d}”不认得：用颜色名（如 navy、darkred）或 #RRGGBB"};
    case Why::kFilterUnreadable:
        return {Form::kSetting, "滤波“{d}”看不懂：要写成 bp:低:高、hp:拐角、lp:拐角（赫兹，可再加 :阶数，2 到 8，默认 4），或 demean，如 bp:1:10"};
    case Why::kHzRangeUnreadable:
        return {Form::kSetting, "频率范围“{d}”看不懂：要写成 低:高（赫兹，0 ≤ 低 < 高），如 0.5:20；或“全部频率”"};
    case Why::kDbRangeUnreadable:
        return {Form::kSetting, "色标范围“{d}”看不懂：要写成 低:高（dB，低 < 高），如 -20:80；或“dB 自动”“固定当前”"};
    case Why::kFilteredSpanTooLong: return {Form::kSetting, "要滤波的时段有 {v} 个样本，超过 {w} 个；请缩短时段或少选几个通道"};
    case Why::kBadSpectrogram: return {Form::kSetting, "频谱图的窗长 {v} 不适用：须为 16 到 65536 之间的 2 的幂，且不超过时段内的 {w} 个样本"};
    case Why::kNoCoordinates:
        return {Form::kSetting, "不知道台站的位置：设置中没有 [station] latitude 和 longitude，存档中也没有 GPS 位置（GLA、GLO）；"
               "请在设置中给出坐标，或用 --archive 指向已记录了 GPS 状态通道的存档"};
    case Why::kConfigSensorForm:
        return {Form::kSetting, "传感器 [sensors.{t}] 须给出零极点（poles、zeros、gain，可加 normalization_frequency），"
               "或动圈检波器的 natural_frequency、damping 和 generator_constant，二者取一"};
    case Why::kConfigBadRoots:
        return {Form::kSetting, "{t} 应为 [实部, 虚部] 的数组（弧度/秒），极点的实部须小于 0，且归一化频率上不能有零点或极点"};
    case Why::kConfigBadName: return {Form::kSetting, "传感器名“{t}”只能用字母、数字、_ 和 -"};
    case Why::kConfigNoSuchChannel: return {Form::kSetting, "没有代码为“{t}”的通道；[channels.{t}] 只能写已有的通道"};
    case Why::kConfigNoSuchSensor: return {Form::kSetting, "没有名为“{t}”的传感器；请在 [sensors.{t}] 中给出它"};
    case Why::kConfigZeroCode: return {Form::kSetting, "zero_code = {v} 超出了 bits 所允许的 0 到 {w}"};
    case Why::kConfigSensorNeedsSensitivity: return {Form::kSetting, "[sensor] 须给出 sensitivity（传感器每单位输入输出的伏数，如 28.8）"};
    case Why::kCodeIsHealthChannel: return {Form::kSetting, "通道代码“{t}”已用作时钟或 GPS 状态通道；请换一个代码，或在 [timing] 中关掉那个状态通道"};
    case Why::kConfigEncoding: return {Form::kSetting, "encoding 应为 \"steim2\"、\"steim1\" 或 \"int32\""};
    case Why::kConfigBadOffset: return {Form::kSetting, "通道偏移“{t}”应为 0 起的整数"};
    case Why::kConfigBadChannel: return {Form::kSetting, "通道 {t} 应为通道代码（如 \"GY0\"）或 false"};
    case Why::kConfigCodeReused: return {Form::kSetting, "通道代码“{t}”已在第 {v} 行用过"};
    case Why::kConfigCodeDefault: return {Form::kSetting, "通道代码“{t}”与另一通道的默认代码相同；请也给那个通道指定代码或 false"};
    case Why::kBadNetwork: return {Form::kSetting, "台网代码“{t}”应为 1 到 2 个大写字母或数字"};
    case Why::kBadStation: return {Form::kSetting, "台站代码“{t}”应为 1 到 5 个大写字母或数字"};
    case Why::kBadLocation: return {Form::kSetting, "位置代码“{t}”应为空或 2 个大写字母或数字"};
    case Why::kBadChannelCode: return {Form::kSetting, "通道代码“{t}”应为 3 个大写字母或数字"};
    case Why::kChannelCodeTwice: return {Form::kSetting, "通道代码“{t}”用了不止一次"};
    case Why::kBadChnNum: return {Form::kSetting, "通道数 {v} 应在 1 到 64 之间"};
    case Why::kBadCardSettings: return {Form::kSetting, "每通道点数、采样率和缓冲区数都应大于 0"};
    case Why::kBadRecordLength: return {Form::kSetting, "记录长度 {v} 应为 512 或 4096"};
    case Why::kBadFlush: return {Form::kSetting, "刷新间隔应在 1 到 3600 秒之间"};
    case Why::kNoChannels: return {Form::kSetting, "没有要存档的通道"};
    case Why::kOffsetBeyondCard: return {Form::kSetting, "通道偏移 {v} 超出板卡的 {w} 个通道"};
    case Why::kQueryStartRange: return {Form::kQuery, "开始时间 {d} 超出范围"};
    case Why::kQueryEndRange: return {Form::kQuery, "结束时间 {d} 超出范围"};
    case Why::kQueryTimesStale: return {Form::kQuery, "块时间表与当前块数 {v} 不符，请重新打开记录文件"};
    case Why::kQueryChnNum: return {Form::kQuery, "通道数 {v} 无效"};
    case Why::kQueryChnPoints: return {Form::kQuery, "每通道点数 {v} 无效"};
    case Why::kQueryPointsWide: return {Form::kQuery, "数据点数 {v} 超出 32 位范围"};
    case Why::kQueryChannelRange: return {Form::kQuery, "通道号 {d} 超出 -32768 到 32767"};
    case Why::kQueryShiftWide: return {Form::kQuery, "开始块的纳秒数 {v} 需要的移位超出 16 位范围"};
    case Why::kQueryReadWide: return {Form::kQuery, "读取位置超出 32 位范围"};
    case Why::kQueryBeyondRecord: return {Form::kQuery, "通道 {d} 的数据位置 {v} 到 {w} 超出记录（0 到 {x}）"};
    case Why::kQueryOutOfMemory: return {Form::kQuery, "内存不足"};
    case Why::kQueryTooLarge: return {Form::kQuery, "数据点数超出本程序能容纳的范围"};
    case Why::kNone:
    case Why::kReadOnly:
    case Why::kHeldBy:
    case Why::kExportMissing:
    case Why::kNotAddressable:
    case Why::kConfigOffsetBeyond:
    case Why::kNoDayFilesInSpan:
    case Why::kNoDayFiles:
    case Why::kNoMseedFiles:
    case Why::kNoMseedRecords:
    case Why::kArchiveFolderUnusable:
        return {Form::kOwn, nullptr};
    }
    return {Form::kOwn, nullptr};
}



}  // namespace

std::string KindText(platform::FileKind kind) {
    switch (kind) {
    case platform::FileKind::kMissing: return "不存在";
    case platform::FileKind::kRegular: return "普通文件";
    case platform::FileKind::kDirectory: return "文件夹";
    case platform::FileKind::kCharDevice: return "字符设备";
    case platform::FileKind::kBlockDevice: return "块设备";
    case platform::FileKind::kFifo: return "FIFO（命名管道）";
    case platform::FileKind::kSocket: return "套接字";
    case platform::FileKind::kOther: return "特殊文件";
    case platform::FileKind::kUnknown: break;
    }
    return "无法判断的文件";
}

namespace {

// The reasons whose messages are texts of their own.
std::string Own(const Status& s) {
    if (s.why == Why::kNone) {
        if (s.code == Status::Code::kCardRefused) return "Error=" + std::to_string(s.value);
        return s.ok() ? std::string() : "失败";
    }
    if (s.why == Why::kReadOnly) return s.text.empty() ? "只读文件" : s.text + "（只读）";
    if (s.why == Why::kHeldBy)
        return "进程 " + std::to_string(s.value) + (s.detail.empty() ? std::string() : "（" + s.detail + "）");
    if (s.why == Why::kExportMissing)
        return "板卡函数库 " + s.detail + " 中找不到函数 " + s.other + (s.text.empty() ? std::string() : ": " + s.text);
    if (s.why == Why::kNotAddressable)
        return "记录有 " + std::to_string(s.value) + " 个样本，需要 " + std::to_string(s.value * 4) +
               " 字节内存，超出本程序（" + std::to_string(s.value2) + " 位）能容纳的 " + std::to_string(s.value3) + " 字节";
    if (s.why == Why::kConfigOffsetBeyond)
        return Setting("通道偏移 {t} 超出板卡的 {v} 个通道（0 到 ", s) + std::to_string(s.value - 1) + "）";
    if (s.why == Why::kArchiveFolderUnusable)
        return "无法使用存档文件夹 " + s.detail + (s.text.empty() ? std::string() : "：" + s.text);
    if (s.why == Why::kNoDayFiles || s.why == Why::kNoDayFilesInSpan)
        return std::string(s.why == Why::kNoDayFiles ? "不是 SDS 数据文件夹（没有日文件）" : "这段时间里没有 SDS 日文件") +
               (s.cause ? "；" + Text(*s.cause) : std::string());
    if (s.why == Why::kNoMseedFiles || s.why == Why::kNoMseedRecords) {
        std::string t = s.why == Why::kNoMseedFiles ? "没有 miniSEED 文件" : "文件中没有 miniSEED 数据记录";
        if (s.cause) t += "（" + Text(*s.cause) + "）";
        return t;
    }
    return "失败（" + std::to_string(static_cast<int>(s.why)) + "）";
}

}  // namespace

std::string Text(const Status& s) {
    const Message m = MessageOf(s.why);
    switch (m.form) {
    case Form::kPlain: return Fill(m.pattern, s);
    case Form::kSetting: return Setting(m.pattern, s);
    case Form::kQuery: return Query(m.pattern, s);
    case Form::kOwn: break;
    }
    return Own(s);
}

std::string CardNotice(const acq::CardIdentity& card) {
    if (card.path.empty()) return {};
    return "板卡函数库：" + card.path + (card.simulated ? "（模拟板卡：数据是模拟的，不是真实采集）" : "");
}

std::string LossText(const Losses& l, bool all) {
    std::string out;
    auto part = [&](std::uint64_t n, const std::string& text) {
        if (n == 0 && !all) return;
        if (!out.empty()) out += "，";
        out += text;
    };
    part(l.read_failures, "读数失败 " + std::to_string(l.read_failures) + " 块");
    part(l.overflowed_blocks, "板卡缓冲区溢出 " + std::to_string(l.overflowed_blocks) + " 块");
    part(l.time_gaps, "时间间断 " + std::to_string(l.time_gaps) + " 处");
    part(l.dropped_blocks, "来不及处理丢弃 " + std::to_string(l.dropped_blocks) + " 块");
    part(l.unwritten_records, "未写入磁盘 " + std::to_string(l.unwritten_records) + " 个记录（" +
                                  std::to_string(l.unwritten_samples) + " 个样本）");
    return out.empty() ? "无" : out;
}

std::string TimeOptionText(const std::string& option, const std::string& given, bool out_of_range) {
    if (!out_of_range) return option + " 要写成 YYYY-MM-DDTHH:MM:SS[.fffffffff]";
    return option + " " + given.substr(0, 40) + " 超出本程序能表示的时间（" + utc::kFirstTime + " 到 " + utc::kLastTime + "）";
}

std::string BusyText(const Status& s) {
    return "无法开始采集：这台机器上的板卡正由 " + Text(s) + " 采集，同一时间只能有一个采集。";
}

std::string StartRefusedText(const Status& s) {
    if (s.code == Status::Code::kCardRefused) return "Error=" + std::to_string(s.value);
    if (s.code == Status::Code::kBusy) return BusyText(s);
    if (s.code == Status::Code::kNoBuffers) return "无法开始采集：" + Text(s);
    return Text(s);
}

}  // namespace zqd::app
