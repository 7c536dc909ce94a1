#include "recording/frm_main.h"

#include <ctime>

#include "analysis/csv_export.h"
#include "common/numtext.h"
#include "common/platform.h"
#include "recording/acquisition.h"
#include "recording/record_file.h"

namespace zqd {

FrmMain::FrmMain(DllDef& dll, Card& card, std::filesystem::path appDir)
    : RecordFilePath(appDir / kRecordFileName),
      ExportFilePath(appDir / kExportFileName),
      dll_(dll),
      card_(card) {}

void FrmMain::AppendLog(const std::string& line) { Set(TxtResult, TxtResult.Text + line + "\r\n"); }

void FrmMain::StopForCardError(const CardError& e) {
    TimerAD.Enabled = false;
    Set(CmdStart, "开始");
    AppendLog(e.what());
}

void FrmMain::Form_Load() {
    try {
        card_.Initial(320, 5, 0, 0);  // a failure here shows at the next start
    } catch (const CardError& e) {
        AppendLog(e.what());
    }
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
    StopCard(card_);
    TimerAD.Enabled = false;
    Unloaded = true;
}

void FrmMain::CmdStart_Click() {
    if (CmdStart.Text != "开始") {
        if (const auto error = StopCard(card_); !error.empty()) AppendLog(error);
        TimerAD.Enabled = false;
        Set(CmdStart, "开始");
        return;
    }

    RecvBlocks = 0;
    dll_.BlockIdx = 0;
    RecordBlocks = 0;
    const auto started = StartAcquisition(dll_, card_, [this] {
        BlockTime.assign(static_cast<std::size_t>(dll_.BlockNum) + 1, GpsTime{});
    });
    if (started.kind == StartOutcome::kCardRefused) {
        Set(lblBlock, started.text);
        return;
    }
    if (started.kind != StartOutcome::kStarted) {
        AppendLog(started.text);
        return;
    }
    TimerAD.Enabled = true;
    Set(TxtResult, "开始采集");
    Set(CmdStart, "停止");
}

void FrmMain::TimerAD_Timer() {
    std::int32_t reported = 0;
    try {
        reported = card_.QueryBuf();
    } catch (const CardError& e) {
        StopForCardError(e);
        return;
    }
    const int n = static_cast<std::int16_t>(reported & 0xFFFF);
    if (n <= 0) return;  // none ready; a negative count is not a buffer count

    for (int pass = 0; pass < n; ++pass) {
        // The monitor window or a record load may have changed the shared
        // settings or buffers since this recording started: never copy
        // outside them.
        std::string why;
        const auto blockSize = BlockSamples(dll_.ChnNum, dll_.ChnPoints, why);
        const auto last = blockSize ? RecordLastIndex(*blockSize, dll_.BlockNum, why) : std::nullopt;
        const std::int64_t N = blockSize.value_or(0);
        if (!last || dll_.BlockNum <= 0 || dll_.AdBuf.size() < static_cast<std::size_t>(N) + 2 ||
            dll_.BlockData.size() < static_cast<std::size_t>(*last) + 1 || dll_.BlockIdx < 0 ||
            dll_.BlockIdx + N > *last) {
            StopCard(card_);
            TimerAD.Enabled = false;
            Set(CmdStart, "开始");
            AppendLog("采集已停止：当前采集设置（通道数 " + std::to_string(dll_.ChnNum) + "，每通道点数 " +
                      std::to_string(dll_.ChnPoints) + "，块数 " + std::to_string(dll_.BlockNum) +
                      "）与缓冲区不相符，可能已被另一窗口或打开的记录改变" +
                      (why.empty() ? std::string() : "（" + why + "）") + "。");
            return;
        }

        try {
            card_.ADResult(dll_.AdBuf.data());  // whatever AdBuf then holds is taken
        } catch (const CardError& e) {
            StopForCardError(e);
            return;
        }
        const std::int16_t* in = dll_.AdBuf.data() + 1;
        std::int32_t* out = dll_.BlockData.data() + dll_.BlockIdx;
        for (std::int64_t i = 0; i < N; ++i) out[i] = static_cast<std::uint16_t>(in[i]);

        dll_.BlockIdx += static_cast<std::int32_t>(N);
        if (dll_.BlockIdx >= *last) dll_.BlockIdx = 0;
        RecordBlocks = AddCount16(RecordBlocks, 1);
        if (RecordBlocks == dll_.BlockNum) {
            RecordBlocks = 0;
            CmdStart_Click();
            SaveRecord();
        }
    }
    RecvBlocks = AddCount16(RecvBlocks, n);
    Set(lblBlock, LabelNumber(RecvBlocks));
    Set(lblptr, LabelNumber(dll_.BlockIdx));
}

namespace {

std::filesystem::path FallbackRecordPath() {
    const std::time_t now = std::time(nullptr);
    char stamp[32] = "record";
    if (const std::tm* t = std::localtime(&now)) std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", t);
    const auto dir = platform::UserDataDir();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    auto path = dir / ("T1-" + std::string(stamp) + ".DAT");
    for (int k = 1; std::filesystem::exists(path, ec); ++k)
        path = dir / ("T1-" + std::string(stamp) + "-" + std::to_string(k) + ".DAT");
    return path;
}

}  // namespace

void FrmMain::SaveRecord() {
    Set(TxtResult, "存盘...");
    ++Saves;
    const auto& path = RecordFilePath;
    std::string why;
    const auto n = BlockSamples(dll_.ChnNum, dll_.ChnPoints, why);
    const auto last = n ? RecordLastIndex(*n, dll_.BlockNum, why) : std::nullopt;
    if (!last || dll_.BlockData.size() < static_cast<std::size_t>(*last) + 1) {
        LastSaveOk = false;
        Set(TxtResult, "存盘失败：" + platform::PathText(path) + "：记录与当前设置不符" + why + "\r\n");
        return;
    }
    const std::size_t count = static_cast<std::size_t>(*last) + 1;
    const auto saved = SaveRecordFile(path, dll_.BlockNum, dll_.ChnPoints, dll_.BlockData.data(), count);
    LastSaveOk = saved.ok;
    if (saved.ok) {
        Set(TxtResult, "保存完毕！");
        return;
    }
    std::string text = "存盘失败：" + platform::PathText(path) + "：" + saved.error + "\r\n";
    const auto fallback = FallbackRecordPath();
    const auto copy = SaveRecordFile(fallback, dll_.BlockNum, dll_.ChnPoints, dll_.BlockData.data(), count);
    if (copy.ok)
        text += "记录已另存为 " + platform::PathText(fallback) + "\r\n";
    else
        text += "另存为 " + platform::PathText(fallback) + " 也失败：" + copy.error +
                "\r\n记录仍在内存中，请先腾出磁盘空间，不要开始新的采集。\r\n";
    Set(TxtResult, text);
}

}  // namespace zqd
