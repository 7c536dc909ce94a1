#include "monitor/frm_multibuf.h"

#include "common/numtext.h"
#include "recording/acquisition.h"

namespace zqd {

std::string BitsText(std::int16_t x) {
    std::string s;
    for (int b = 7; b >= 0; --b) s += (x >> b) & 1 ? "   1" : "   0";
    return s;
}

std::string BitHeaderText() {
    std::string s;
    for (int b = 7; b >= 0; --b) s += "   " + std::to_string(b);
    return s;
}

FrmMultiBuf::FrmMultiBuf(DllDef& dll, Card& card)
    : ChnSamples(static_cast<std::size_t>(kMaxChannels) * kMaxPoints, 0.0f), dll_(dll), card_(card) {}

void FrmMultiBuf::Halt(const std::string& why) {
    StopCard(card_);
    TimerAD.Enabled = false;
    Set(lblBlock, why);
}

void FrmMultiBuf::Form_Load() {
    dll_.BlockNum = 20;
    dll_.BlockIdx = 0;
    RecvBlocks = 0;
    try {
        card_.Initial(320, 5, 0, 0);  // a failure here shows at the next start
    } catch (const CardError& e) {
        Set(lblBlock, e.what());
    }
}

void FrmMultiBuf::cmdStart_Click() {
    dll_.BufNum = 10;
    dll_.ChnPoints = 1000;
    dll_.StartChn = 0;
    dll_.ChnNum = 4;
    dll_.SampleFrq = 10000;
    dll_.StartParam6 = 0;
    dll_.StartParam7 = 1;
    const auto started = StartAcquisition(dll_, card_);
    if (started.kind != StartOutcome::kStarted) {
        Set(lblBlock, started.text);  // "Error=" and the code, or why the start failed
        return;
    }
    TimerAD.Enabled = true;
}

void FrmMultiBuf::cmdStop_Click() {
    if (const auto error = StopCard(card_); !error.empty()) Set(lblBlock, error);
    TimerAD.Enabled = false;
}

void FrmMultiBuf::cmdExit_Click() {
    StopCard(card_);
    Form_Unload();
}

void FrmMultiBuf::Form_Unload() {
    StopCard(card_);
    TimerAD.Enabled = false;
    Unloaded = true;
}

void FrmMultiBuf::TimerAD_Timer() {
    std::int32_t reported = 0;
    try {
        reported = card_.QueryBuf();
    } catch (const CardError& e) {
        Halt(e.what());
        return;
    }
    const int n = static_cast<std::int16_t>(reported & 0xFFFF);
    if (n == 0) return;

    const std::int64_t chn = dll_.ChnNum;
    const std::int64_t points = dll_.ChnPoints;
    const std::int64_t N = chn * points;
    if (n > 0) {
        // The main window may have changed the shared settings or re-created
        // the buffers under this acquisition: never read or write outside them.
        const std::int64_t ring = N * dll_.BlockNum;
        if (chn < 1 || chn > kMaxChannels || points < 1 || points > kMaxPoints || dll_.BlockNum < 1 ||
            dll_.AdBuf.size() < static_cast<std::size_t>(N + 2) ||
            dll_.BlockData.size() < static_cast<std::size_t>(ring + 1) || dll_.BlockIdx < 0 ||
            dll_.BlockIdx + N > ring) {
            Halt("采集已停止：共享的采集设置或缓冲区已被另一窗口改变（通道数 " + std::to_string(chn) +
                 "，每通道点数 " + std::to_string(points) + "）");
            return;
        }
        for (int pass = 0; pass < n; ++pass) {
            std::int32_t r = 0;
            try {
                r = card_.ADResult(dll_.AdBuf.data());
            } catch (const CardError& e) {
                Halt(e.what());
                return;
            }
            if (r != 1) continue;  // passed over, but still counted below
            std::int32_t* out = dll_.BlockData.data() + dll_.BlockIdx;
            for (std::int64_t j = 0; j < N; ++j) out[j] = dll_.AdBuf[static_cast<std::size_t>(j + 1)];
            dll_.BlockIdx += static_cast<std::int32_t>(N);
            if (dll_.BlockIdx >= ring) dll_.BlockIdx = 0;
        }
    }
    RecvBlocks = AddCount16(RecvBlocks, n);
    Set(lblBlock, LabelNumber(RecvBlocks));
    Set(lblptr, LabelNumber(dll_.BlockIdx));
    if (n < 0) return;

    for (std::int64_t k = 0; k < chn; ++k) {
        float sum = 0.0f;
        float* samples = &ChnSamples[static_cast<std::size_t>(k * kMaxPoints)];
        for (std::int64_t j = 0; j < points; ++j) {
            samples[j] = static_cast<float>(dll_.AdBuf[static_cast<std::size_t>(chn * j + k + 1)]);
            sum += samples[j];
        }
        // The mean of 16-bit samples always fits 32 bits.
        ChnRaw[static_cast<std::size_t>(k)] =
            RoundToInt32(static_cast<double>(sum) / static_cast<double>(points)).value_or(0);
        ChnVolt[static_cast<std::size_t>(k)] =
            static_cast<float>(static_cast<double>(ChnRaw[static_cast<std::size_t>(k)] - 2048) / 4095 * 10);
    }
    for (std::size_t k = 0; k < 4; ++k) Set(lblAD[k], FormatFixed(ChnVolt[k], 3));

    try {
        card_.Zqd_DI(2, DiValue.data());
    } catch (const CardError& e) {
        Halt(e.what());
        return;
    }
    const std::int16_t d0 = DiValue[0], d1 = DiValue[1];
    Set(lblDI, Hex16(d0) + "  " + Hex16(d1));
    Set(lblDI_0, Hex16(d0) + "   " + BitsText(d0));
    Set(lblBit, "         " + BitHeaderText());
    Set(lblDI_1, Hex16(d1) + "   " + BitsText(d1));
}

void FrmMultiBuf::cmdSWO_Click() {
    const auto group = RoundToInt16(LeadingNumber(txtswChn.Text));
    if (!group) {
        Set(lblBlock, "通道组“" + txtswChn.Text + "”超出 -32768 到 32767，未输出");
        return;
    }
    if (*group < 0) {
        Set(lblBlock, "通道组不能为负（" + std::to_string(*group) + "），未输出");
        return;
    }
    const std::int16_t g = *group > 1 ? std::int16_t{1} : *group;
    const double value = LeadingNumber("&H" + txtSWO_0.Text);
    if (value > 4294967295.0) {
        Set(lblBlock, "输出值“" + txtSWO_0.Text + "”超过 32 位，未输出");
        return;
    }
    DoValue = static_cast<std::int16_t>(static_cast<std::uint32_t>(value) & 255u);
    try {
        card_.Zqd_DO(g, DoValue);
    } catch (const CardError& e) {
        Set(lblBlock, e.what());
    }
}

}  // namespace zqd
