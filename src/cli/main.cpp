// zqd4830-cli: the main window's recording and analysis and the monitor's
// read-outs, headless, over the same handlers as the windows.
//
//   record  [--dir DIR] [--tick-ms MS]
//   decode  [--chn-num N] [FILE]
//   export  --from H:M:S --to H:M:S [--channel TEXT] [--chn-num N] [--out PATH] [FILE]
//   monitor [--ticks N] [--tick-ms MS]
//   output  --group TEXT --value TEXT
//
// Exit status: 0 done; 2 the card, the file or the query refused (the
// message is printed); 1 the command line itself was wrong.
#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <mutex>
#include <cstdio>
#include <iostream>
#include <optional>
#include <thread>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "acquisition/session.h"
#ifdef ZQD_HAVE_ARCHIVE
#include "archive/archive_sink.h"
#include "archive/convert.h"
#include "archive/frm_archive.h"
#endif
#include "common/utc.h"
#ifdef ZQD_WITH_PLOT
#include "ui/plot.h"
#endif
#include "card/card.h"
#include "common/numtext.h"
#include "common/platform.h"
#include "version.h"
#include "monitor/frm_multibuf.h"
#include "recording/dll_def.h"
#include "recording/frm_main.h"

namespace {

constexpr int kRefused = 2;

// A text as printed: CR LF line ends become LF, ending with one line feed.
std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out.push_back(c);
    if (out.empty() || out.back() != '\n') out.push_back('\n');
    return out;
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Prints what a log adds: only the new part when the text grew, else all of it.
struct LogPrinter {
    std::string shown;
    void operator()(const std::string& text) {
        if (!shown.empty() && text.size() > shown.size() && text.compare(0, shown.size(), shown) == 0) {
            std::string added = text.substr(shown.size());
            if (added.rfind("\r\n", 0) == 0) added.erase(0, 2);
            std::cout << Printable(added) << std::flush;
        } else {
            std::cout << Printable(text) << std::flush;
        }
        shown = text;
    }
};

int Record(const std::string& dir, int tickMs) {
    zqd::DllDef dll;
    zqd::DllCard card;
    zqd::acq::Session session(card, {true, std::chrono::milliseconds(tickMs), true});
    zqd::FrmMain form(dll, session, dir.empty() ? zqd::platform::DataFolder() : zqd::platform::PathFromUtf8(dir));
    LogPrinter log;
    form.Changed = [&log](const zqd::Control& c) {
        if (c.Name == "TxtResult")
            log(c.Text);
        else if (c.Name == "lblBlock" || c.Name == "lblptr")
            std::cout << Printable(c.Text) << std::flush;
    };
    form.Form_Load();
    if (dir.empty() && zqd::platform::DataFolder() != zqd::platform::ExecutableDir())
        std::cerr << "注意：程序所在文件夹不可写，T1.DAT 写在 " << zqd::platform::PathText(zqd::platform::DataFolder())
                  << "\n";
    form.CmdStart_Click();
    if (!form.LastStart.ok()) {
        // The card refused ("Error=" on lblBlock) or the library is missing (in the log).
        if (form.LastStart.code == zqd::Status::Code::kCardRefused) std::cerr << Printable(form.lblBlock.Text);
        if (form.LastStart.code == zqd::Status::Code::kBusy) std::cerr << Printable(zqd::BusyText(form.LastStart));
        return kRefused;
    }

    auto lastData = std::chrono::steady_clock::now();
    std::int16_t blocks = form.RecvBlocks;
    while (form.TimerAD.Enabled || form.SavePending()) {
        Sleep(tickMs);
        if (form.TimerAD.Enabled) form.TimerAD_Timer();
        form.CheckSave();
        if (form.RecvBlocks != blocks || !form.TimerAD.Enabled) {
            blocks = form.RecvBlocks;
            lastData = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastData > std::chrono::seconds(30)) {
            form.CmdStart_Click();
            std::cerr << "板卡 30 秒内没有送来数据，采集已停止。\n";
            return kRefused;
        }
    }
    const auto stats = session.Stats();
    if (stats.read_failures + stats.gaps + stats.backwards + stats.messages.Bad() + form.Drops > 0)
        std::cout << "读数失败 " << stats.read_failures << " 次，时间间断 " << stats.gaps + stats.backwards
                  << " 处，GPS 报文校验失败 " << stats.messages.Bad() << " 条，丢失 " << form.Drops << " 项\n"
                  << std::flush;
    return form.Saves > 0 && form.LastSave.ok() ? 0 : kRefused;
}

int Plot(const std::string& from, const std::string& to, const std::string& channels, const std::string& size,
         const std::string& configFile, bool volts, const std::string& out, const std::string& input) {
#ifdef ZQD_WITH_PLOT
    zqd::ui::PlotRequest r;
    r.input = zqd::platform::PathFromUtf8(input);
    r.out = zqd::platform::PathFromUtf8(out);
    r.channels = channels;
    r.volts = volts;
    char x = 0, extra = 0;
    if (std::sscanf(size.c_str(), "%d%c%d%c", &r.width, &x, &r.height, &extra) != 3 || (x != 'x' && x != 'X') ||
        r.width < 200 || r.height < 120 || r.width > 16384 || r.height > 16384) {
        std::cerr << "--size 要写成 宽x高，如 1600x900（200x120 到 16384x16384）\n";
        return 1;
    }
    for (const auto& [text, into, name] : {std::tuple{&from, &r.from, "--from"}, std::tuple{&to, &r.to, "--to"}}) {
        std::int64_t ns = 0;
        if (text->empty()) continue;
        if (!zqd::utc::ParseIso(*text, ns)) {
            std::cerr << name << " 要写成 YYYY-MM-DDTHH:MM:SS[.fffffffff]\n";
            return 1;
        }
        *into = ns;
    }
    if (r.from && r.to && *r.to <= *r.from) {
        std::cerr << "--to 要晚于 --from\n";
        return 1;
    }
    if (!configFile.empty()) {
        if (const auto s = zqd::archive::LoadConfig(zqd::platform::PathFromUtf8(configFile), r.config); !s.ok()) {
            std::cerr << "配置有误：" << s.detail << "\n";
            return kRefused;
        }
    }
    std::string said;
    const zqd::Status s = zqd::ui::Plot(r, said);
    if (!s.ok()) {
        std::cerr << s.detail << "\n";
        return kRefused;
    }
    std::cout << said << "\n";
    return 0;
#else
    (void)from, (void)to, (void)channels, (void)size, (void)configFile, (void)volts, (void)out, (void)input;
    std::cerr << "这个版本的命令行不能画图（没有图形库）\n";
    return 1;
#endif
}

#ifdef ZQD_HAVE_ARCHIVE
std::atomic<bool> g_stop{false};
extern "C" void OnStopSignal(int) { g_stop = true; }

using zqd::archive::StatusLine;

int Convert(const std::string& format, const std::string& out, int chnNum, const std::string& channels,
            const std::string& configFile, const std::string& network, const std::string& station,
            const std::string& location, const std::string& assumeStart, bool volts,
            const std::vector<std::string>& files) {
    zqd::archive::ConvertOptions o;
    o.format = format;
    o.out = out.empty() ? std::filesystem::path(".") : zqd::platform::PathFromUtf8(out);
    o.chn_num = chnNum;
    o.volts = volts;
    o.config.acquisition.ChnNum = static_cast<std::int16_t>(chnNum);
    o.config.channels = zqd::archive::DefaultChannels(chnNum, 2000);
    if (!configFile.empty()) {
        if (const auto s = zqd::archive::LoadConfig(zqd::platform::PathFromUtf8(configFile), o.config); !s.ok()) {
            std::cerr << "配置有误：" << s.detail << "\n";
            return kRefused;
        }
    }
    if (!network.empty()) o.config.station.network = network;
    if (!station.empty()) o.config.station.station = station;
    if (!location.empty()) o.config.station.location = location == "--" ? "" : location;
    if (const auto s = zqd::archive::Validate(o.config, "命令行"); !s.ok()) {
        std::cerr << "配置有误：" << s.detail << "\n";
        return 1;
    }
    if (!channels.empty()) {
        std::string why;
        const auto list = zqd::archive::ParseChannelList(channels, chnNum, why);
        if (!list) {
            std::cerr << why << "\n";
            return 1;
        }
        o.channels = *list;
    }
    if (!assumeStart.empty()) {
        std::int64_t ns = 0;
        if (!zqd::utc::ParseIso(assumeStart, ns)) {
            std::cerr << "--assume-start 要写成 YYYY-MM-DDTHH:MM:SS[.fffffffff]\n";
            return 1;
        }
        o.assume_start_ns = ns;
    }
    zqd::archive::ConvertSummary sum;
    auto say = [](const std::string& line) { std::cout << line << "\n" << std::flush; };
    for (const auto& f : files) zqd::archive::ConvertRecord(zqd::platform::PathFromUtf8(f), o, sum, say);
    std::cout << "共 " << sum.files << " 个文件转换，" << sum.refused << " 个拒绝；" << sum.channels << " 个通道，"
              << sum.segments << " 段，" << sum.samples << " 个样本，写出 " << sum.outputs << " 个文件";
    if (sum.inferred_blocks > 0)
        std::cout << "；" << sum.inferred_blocks << " 块的时间由邻块推算"
                  << (format == "sac" || format == "csv" ? "（" + format + " 没有时间质量字段，未标出）"
                                                         : "（miniSEED 时间质量降为 50）");
    std::cout << "\n";
    return sum.refused > 0 ? kRefused : 0;
}

int Acquire(const std::string& archive, const std::string& configFile, double duration, const std::string& network,
            const std::string& station, const std::string& location, int pollMs) {
    auto config = zqd::archive::DefaultConfig();
    if (!configFile.empty()) {
        if (const auto s = zqd::archive::LoadConfig(zqd::platform::PathFromUtf8(configFile), config); !s.ok()) {
            std::cerr << "配置有误：" << s.detail << "\n";
            return kRefused;
        }
    }
    if (!network.empty()) config.station.network = network;
    if (!station.empty()) config.station.station = station;
    if (!location.empty()) config.station.location = location == "--" ? "" : location;
    if (const auto s = zqd::archive::Validate(config, "命令行"); !s.ok()) {
        std::cerr << "配置有误：" << s.detail << "\n";
        return kRefused;
    }
    const auto root = zqd::platform::PathFromUtf8(archive);
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    std::string why;
    if (zqd::platform::KindOf(root, why) != zqd::platform::FileKind::kDirectory) {
        std::cerr << "无法使用存档文件夹 " << archive << (ec ? "：" + ec.message() : std::string()) << "\n";
        return kRefused;
    }

    std::mutex out;
    auto say = [&out](const std::string& line) {
        std::lock_guard lock(out);
        std::cout << line << "\n" << std::flush;
    };
    zqd::DllCard card;
    zqd::acq::Session session(card, {true, std::chrono::milliseconds(pollMs), true});
    std::atomic<int> events{0};
    auto sink = std::make_shared<zqd::archive::ArchiveSink>(config, root, [&](const std::string& line) {
        say(line);
        ++events;
    });
    if (duration > 0) sink->Limit(static_cast<std::int64_t>(duration * 1e9));
    auto runner = session.AddSink(sink, 1200);
    session.Initial();
    const auto started = session.Start(config.acquisition);
    if (!started.ok()) {
        session.RemoveSink(runner);
        if (started.code == zqd::Status::Code::kCardRefused)
            std::cerr << "Error=" << started.value << "\n";
        else if (started.code == zqd::Status::Code::kBusy)
            std::cerr << zqd::BusyText(started) << "\n";
        else
            std::cerr << started.detail << "\n";
        return kRefused;
    }
    say("ZQD4830_GPS " + std::string(zqd::kVersion) + "：开始存档到 " + archive + "：" +
        std::to_string(config.channels.size()) + " 个通道，" + config.station.network + "." + config.station.station +
        "." + config.station.location + "；" + zqd::acq::CardNotice(session.Identity()));
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    const std::int64_t limit_ns = duration > 0 ? static_cast<std::int64_t>(duration * 1e9) : -1;
    std::int64_t next_minute = 60 * zqd::utc::kNsPerSecond;
    int seen_events = 0;
    bool card_failed = false;
    while (!g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto st = sink->Snapshot();
        if (st.archived_ns >= next_minute || events != seen_events) {
            seen_events = events;
            while (next_minute <= st.archived_ns) next_minute += 60 * zqd::utc::kNsPerSecond;
            say(StatusLine(st));
        }
        if (limit_ns >= 0 && st.archived_ns >= limit_ns) break;
        if (!session.Running()) {
            card_failed = true;
            break;
        }
    }
    session.Stop();
    session.RemoveSink(runner);
    runner.reset();  // delivers what is queued, then the sink writes and syncs everything
    say(StatusLine(sink->Snapshot()));
    const auto st = sink->Snapshot();
    const auto stats = session.Stats();
    say("结束：读数失败 " + std::to_string(stats.read_failures) + " 次，时间间断 " +
        std::to_string(stats.gaps + stats.backwards) + " 处，丢失 " + std::to_string(st.dropped_blocks) + " 块");
    if (card_failed) return kRefused;
    return st.writing ? 0 : kRefused;
}
#endif

// A main window for analysis only: no card call is made.
struct Analysis {
    zqd::DllDef dll;
    zqd::DllCard card;
    zqd::acq::Session session{card, {false, std::chrono::milliseconds(1000)}};
    zqd::FrmMain form;

    Analysis(const std::string& file, int chnNum)
        : form(dll, session, zqd::platform::DataFolder()) {
        dll.ChnNum = static_cast<std::int16_t>(chnNum);
        if (!file.empty()) form.RecordFilePath = zqd::platform::PathFromUtf8(file);
    }

    bool Open() {
        form.CmdOpen_Click();
        if (form.LastOpen.ok()) return true;
        std::cerr << Printable(form.TxtResult.Text);
        return false;
    }
};

int Decode(const std::string& file, int chnNum) {
    Analysis a(file, chnNum);
    if (!a.Open()) return kRefused;
    std::cout << a.form.TxtResult.Text << std::flush;
    return 0;
}

std::optional<std::array<std::string, 3>> SplitTime(const std::string& text) {
    std::array<std::string, 3> parts;
    std::size_t at = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t colon = text.find(':', at);
        if ((i < 2) == (colon == std::string::npos)) return std::nullopt;
        parts[i] = text.substr(at, i < 2 ? colon - at : std::string::npos);
        at = colon + 1;
    }
    return parts;
}

int Export(const std::string& from, const std::string& to, const std::string& channel, int chnNum,
           const std::string& out, const std::string& file) {
    const auto f = SplitTime(from), t = SplitTime(to);
    if (!f || !t) {
        std::cerr << "时间要写成 时:分:秒，例如 17:38:43\n";
        return 1;
    }
    Analysis a(file, chnNum);
    if (!out.empty()) a.form.ExportFilePath = zqd::platform::PathFromUtf8(out);
    if (!a.Open()) return kRefused;
    for (std::size_t i = 0; i < 3; ++i) {
        a.form.TxtFormT[i].Text = (*f)[i];
        a.form.TxtToT[i].Text = (*t)[i];
    }
    a.form.TxtDispChnNo.Text = channel;
    a.form.CmdFind_Click();
    if (!a.form.LastQuery.ok()) {
        std::cerr << Printable(a.form.LastQuery.detail);
        return kRefused;
    }
    // The window's rules stand; the command line only points out where they
    // took something other than what was asked for.
    if (!a.form.QueryStartFound)
        std::cerr << "注意：没有一块的时间是 " << from << "，按规则从第 0 块开始。\n";
    if (!a.form.QueryEndFound)
        std::cerr << "注意：没有一块的时间是 " << to << "，按规则以第 0 块为结束块。\n";
    if (!zqd::BeginsWithNumber(channel))
        std::cerr << "注意：通道“" << channel << "”不是数字，按规则当作 " << a.form.TxtDispChnNo.Text << "。\n";
    const std::size_t before = a.form.TxtResult.Text.size();
    a.form.CmdOutput_Click();
    if (!a.form.LastExport.ok()) {
        std::cerr << Printable(a.form.TxtResult.Text.substr(before));
        return kRefused;
    }
    return 0;
}

int Monitor(int ticks, int tickMs) {
    zqd::DllDef dll;
    zqd::DllCard card;
    zqd::acq::Session session(card, {true, std::chrono::milliseconds(tickMs), true});
    zqd::FrmMultiBuf form(dll, session);
    form.Form_Load();
    form.cmdStart_Click();
    if (!form.TimerAD.Enabled) {
        std::cerr << Printable(form.lblBlock.Text);
        return kRefused;
    }
    if (const auto notice = zqd::acq::CardNotice(session.Identity()); !notice.empty()) std::cerr << notice << "\n";
    auto line = [&form] {
        std::string s = form.lblBlock.Text + "\t" + form.lblptr.Text;
        for (const auto& l : form.lblAD) s += "\t" + l.Text;
        return s + "\t" + form.lblDI.Text + "\t" + form.lblDI_0.Text + "\t" + form.lblBit.Text + "\t" +
               form.lblDI_1.Text;
    };
    std::string shown = line();
    for (int i = 0; i < ticks; ++i) {
        Sleep(tickMs);
        form.TimerAD_Timer();
        if (!form.TimerAD.Enabled) {  // the tick stopped the acquisition
            std::cerr << Printable(form.lblBlock.Text);
            return kRefused;
        }
        const std::string now = line();
        if (now != shown) std::cout << now << "\n" << std::flush;
        shown = now;
    }
    form.cmdStop_Click();
    return 0;
}

int Output(const std::string& group, const std::string& value) {
    zqd::DllDef dll;
    zqd::DllCard card;
    zqd::acq::Session session(card, {false, std::chrono::milliseconds(100)});
    zqd::FrmMultiBuf form(dll, session);
    form.Form_Load();
    form.txtswChn.Text = group;
    form.txtSWO_0.Text = value;
    form.cmdSWO_Click();
    if (!card.LibraryPath().empty())
        std::cerr << zqd::acq::CardNotice({card.LibraryPath(), card.Simulated()}) << "\n";
    if (!form.LastOutput.ok()) {
        std::cerr << Printable(form.lblBlock.Text);
        return kRefused;
    }
    return 0;
}

}  // namespace

// Arguments arrive as UTF-8 on every platform.
int Main(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    const int argc = static_cast<int>(argv.size());
    CLI::App app{"ZQD4830_GPS without windows: record, decode and export T1.DAT, monitor the card"};
    app.require_subcommand(0, 1);
    app.set_version_flag("--version", std::string("zqd4830-cli ") + zqd::kVersion);

    std::string dir;
    int tickMs = 1000;
    auto* record = app.add_subcommand("record", "Record one complete record into DIR/T1.DAT");
    record->add_option("--dir", dir, "Folder of T1.DAT (default: the program's folder, or the user's data folder where that cannot be written)");
    record->add_option("--tick-ms", tickMs, "Timer period in ms")->check(CLI::Range(1, 600000));

    int chnNum = 18;
    std::string file;
    auto* decode = app.add_subcommand("decode", "List the GPS time of every block of a record");
    decode->add_option("--chn-num", chnNum, "Channels per scan of the record")->check(CLI::Range(1, 32767));
    decode->add_option("FILE", file, "Record file (default: T1.DAT in the program's folder)");

    std::string from, to, channel = "1", out;
    auto* exp = app.add_subcommand("export", "Query a time range of one channel and write T2.csv");
    exp->add_option("--from", from, "Start time H:M:S, as typed into the start boxes")->required();
    exp->add_option("--to", to, "End time H:M:S, as typed into the end boxes")->required();
    exp->add_option("--channel", channel, "Channel offset text (default 1)");
    exp->add_option("--chn-num", chnNum, "Channels per scan of the record")->check(CLI::Range(1, 32767));
    exp->add_option("--out", out, "Export file (default: T2.csv in the program's folder)");
    exp->add_option("FILE", file, "Record file (default: T1.DAT in the program's folder)");

    int ticks = 50, monitorTickMs = 100;
    auto* mon = app.add_subcommand("monitor", "Start the monitor's acquisition and print its read-outs");
    mon->add_option("--ticks", ticks, "Timer ticks to run")->check(CLI::Range(0, 100000000));
    mon->add_option("--tick-ms", monitorTickMs, "Timer period in ms")->check(CLI::Range(1, 600000));

    std::string group, value;
    auto* output = app.add_subcommand("output", "Write a byte to a digital output group");
    output->add_option("--group", group, "Output group text (0 or 1)")->required();
    output->add_option("--value", value, "Output value text, hexadecimal")->required();

    std::string plotFrom, plotTo, plotChannels, plotSize = "1600x900", plotOut, plotInput, plotConfig;
    bool plotVolts = false;
    auto* plot = app.add_subcommand("plot", "Draw the waveforms of a record, a miniSEED file or an SDS folder into a PNG");
    plot->add_option("--from", plotFrom, "Start of the span, UTC: YYYY-MM-DDTHH:MM:SS[.fffffffff] (default: the data's)");
    plot->add_option("--to", plotTo, "End of the span, UTC (default: the data's)");
    plot->add_option("--channels", plotChannels, "Channels by code (GY0,GY3) or rows (0,2-5); default: all");
    plot->add_option("--size", plotSize, "Picture size WxH in pixels (default 1600x900)");
    plot->add_option("--config", plotConfig, "Configuration file (TOML) with the channel names of records");
    plot->add_flag("--volts", plotVolts, "Amplitudes in volts, as the export scales them");
    plot->add_option("--out", plotOut, "The PNG to write")->required();
    plot->add_option("INPUT", plotInput, "T1.DAT, miniSEED file or SDS folder")->required();

#ifdef ZQD_HAVE_ARCHIVE
    std::string archiveDir, configFile, network, station, location;
    double duration = 0;
    int pollMs = 200;
    auto* acq = app.add_subcommand("acquire", "Record continuously into a miniSEED SDS archive");
    acq->add_option("--archive", archiveDir, "Archive folder (SDS layout)")->required();
    acq->add_option("--config", configFile, "Configuration file (TOML)");
    acq->add_option("--duration", duration, "Seconds of acquired data to archive, then stop (default: until Ctrl+C)")
        ->check(CLI::Range(0.0, 1e9));
    acq->add_option("--network", network, "SEED network code");
    acq->add_option("--station", station, "SEED station code");
    acq->add_option("--location", location, "SEED location code (-- for none)");
    acq->add_option("--poll-ms", pollMs, "Period of the card's polling in ms")->check(CLI::Range(1, 10000));

    std::string convFormat, convOut, convChannels, convConfig, convNet, convSta, convLoc, assumeStart;
    int convChnNum = 18;
    bool volts = false;
    std::vector<std::string> convFiles;
    auto* conv = app.add_subcommand("convert", "Convert record files to miniSEED, an SDS archive, SAC or CSV");
    conv->add_option("--format", convFormat, "mseed, sds, sac or csv")
        ->required()
        ->check(CLI::IsMember({"mseed", "sds", "sac", "csv"}));
    conv->add_option("--out", convOut, "Output folder (default: the current folder)");
    conv->add_option("--chn-num", convChnNum, "Channels per scan of the records")->check(CLI::Range(1, 64));
    conv->add_option("--channels", convChannels, "Card offsets to convert, e.g. 0,2-5 (default: all but the GPS slot)");
    conv->add_option("--config", convConfig, "Configuration file (TOML) with the codes and channel map");
    conv->add_option("--network", convNet, "SEED network code");
    conv->add_option("--station", convSta, "SEED station code");
    conv->add_option("--location", convLoc, "SEED location code (-- for none)");
    conv->add_option("--assume-start", assumeStart, "Time of the first block of records without any GPS time");
    conv->add_flag("--volts", volts, "CSV values in volts, as the export scales them");
    conv->add_option("FILE", convFiles, "Record files")->required();
#endif
    try {
        app.parse(argc, argv.data());
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 1;
    }
    if (app.get_subcommands().empty()) {
        std::cerr << app.help() << "A subcommand is required\n";
        return 1;
    }
    if (*record) return Record(dir, tickMs);
    if (*decode) return Decode(file, chnNum);
    if (*exp) return Export(from, to, channel, chnNum, out, file);
    if (*mon) return Monitor(ticks, monitorTickMs);
    if (*plot) return Plot(plotFrom, plotTo, plotChannels, plotSize, plotConfig, plotVolts, plotOut, plotInput);
#ifdef ZQD_HAVE_ARCHIVE
    if (*acq) return Acquire(archiveDir, configFile, duration, network, station, location, pollMs);
    if (*conv)
        return Convert(convFormat, convOut, convChnNum, convChannels, convConfig, convNet, convSta, convLoc,
                       assumeStart, volts, convFiles);
#endif
    return Output(group, value);
}

#ifdef _WIN32
int wmain(int argc, wchar_t** wargv) {
    SetConsoleOutputCP(CP_UTF8);
    // The same bytes as on every other platform: no LF to CR LF translation.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(zqd::platform::PathText(std::filesystem::path(wargv[i])));
    return Main(std::move(args));
}
#else
int main(int argc, char** argv) { return Main(std::vector<std::string>(argv, argv + argc)); }
#endif
