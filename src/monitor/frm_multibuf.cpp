#include "monitor/frm_multibuf.h"

#include <algorithm>

#include "common/numtext.h"
#include "recording/frm_main.h"

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

FrmMultiBuf::FrmMultiBuf(DllDef& dll, acq::Session& session)
    : ChnSamples(static_cast<std::size_t>(kMaxChannels) * kMaxPoints, 0.0f),
      dll_(dll),
      session_(session),
      mailbox_(std::make_shared<acq::Mailbox>()) {
    mailbox_runner_ = session_.AddSink(mailbox_, 4096);
}

FrmMultiBuf::~FrmMultiBuf() { session_.RemoveSink(mailbox_runner_); }

void FrmMultiBuf::Halt(const std::string& why) {
    session_.Stop();
    TimerAD.Enabled = false;
    mailbox_->Listen(false);
    Set(lblBlock, why);
}

void FrmMultiBuf::Form_Load() {
    dll_.BlockNum = 20;
    dll_.BlockIdx = 0;
    RecvBlocks = 0;
    // A failure here shows at the next start.
    if (const Status s = session_.Initial(); !s.ok()) Set(lblBlock, s.detail);
}

void FrmMultiBuf::cmdStart_Click() {
    dll_.BufNum = 10;
    dll_.ChnPoints = 1000;
    dll_.StartChn = 0;
    dll_.ChnNum = 4;
    dll_.SampleFrq = 10000;
    dll_.StartParam6 = 0;
    dll_.StartParam7 = 1;
    const acq::AcqConfig config = dll_.Config();
    const std::int16_t blockNum = dll_.BlockNum;
    const bool wasListening = TimerAD.Enabled;
    mailbox_->Listen(true);
    const Status started = session_.Start(config, [&] {
        std::string why;
        const auto n = BlockSamples(config.ChnNum, config.ChnPoints, why);
        const auto last = n ? RecordLastIndex(*n, blockNum, why) : std::nullopt;
        if (!last) return Status::Fail(Status::Code::kNoBuffers, why);
        Ring.assign(static_cast<std::size_t>(blockNum), nullptr);  // the ring anew, empty
        return Status::Ok();
    });
    if (!started.ok()) {
        // The timer keeps the state it had (a running window goes on polling).
        mailbox_->Listen(wasListening);
        if (started.code == Status::Code::kCardRefused)
            Set(lblBlock, "Error=" + std::to_string(started.value));
        else if (started.code == Status::Code::kBusy)
            Set(lblBlock, BusyText(started));
        else
            Set(lblBlock, started.code == Status::Code::kNoBuffers ? "无法开始采集：" + started.detail : started.detail);
        return;
    }
    if (const std::string notice = acq::CardNotice(session_.Identity()); !notice.empty())
        Set(Caption, "多缓冲区采集方式 — " + notice);
    TimerAD.Enabled = true;
}

void FrmMultiBuf::cmdStop_Click() {
    if (const Status s = session_.Stop(); !s.ok()) Set(lblBlock, s.detail);
    TimerAD.Enabled = false;
    mailbox_->Listen(false);
}

void FrmMultiBuf::cmdExit_Click() {
    session_.Stop();
    Form_Unload();
}

void FrmMultiBuf::Form_Unload() {
    session_.Stop();
    TimerAD.Enabled = false;
    mailbox_->Listen(false);
    Unloaded = true;
}

void FrmMultiBuf::TimerAD_Timer() {
    session_.Pump();
    const auto items = mailbox_->Take();
    bool polled = false;
    int n = 0;
    for (const auto& item : items) {
        if (const auto* event = std::get_if<acq::Event>(&item)) {
            if (event->kind == acq::Event::Kind::kPolled) {
                polled = true;
                n += static_cast<int>(event->value);
            } else if (event->kind == acq::Event::Kind::kCardError) {
                Halt(event->detail);
                return;
            }
            // A failed read is passed over: counted in n, nothing stored.
            continue;
        }
        const acq::BlockPtr& block = std::get<acq::BlockPtr>(item);
        const std::int64_t N = block->Samples();
        const std::int64_t ring = N * dll_.BlockNum;
        if (block->ChnNum < 1 || block->ChnNum > kMaxChannels || block->ChnPoints < 1 ||
            block->ChnPoints > kMaxPoints || dll_.BlockNum < 1 || dll_.BlockIdx < 0 || dll_.BlockIdx + N > ring ||
            dll_.BlockIdx % N != 0) {
            Halt("采集已停止：数据块（通道数 " + std::to_string(block->ChnNum) + "，每通道点数 " +
                 std::to_string(block->ChnPoints) + "）与监视窗口的缓冲区不相符，采集设置可能已被另一窗口改变");
            return;
        }
        const auto slot = static_cast<std::size_t>(dll_.BlockIdx / N);
        if (Ring.size() != static_cast<std::size_t>(dll_.BlockNum)) Ring.assign(static_cast<std::size_t>(dll_.BlockNum), nullptr);
        Ring[slot] = block;
        dll_.BlockIdx += static_cast<std::int32_t>(N);
        if (dll_.BlockIdx >= ring) dll_.BlockIdx = 0;
        last_ = block;
    }
    // A poll's event and its blocks may reach the window in different ticks.
    const bool blocks = std::any_of(items.begin(), items.end(),
                                    [](const acq::Item& i) { return std::holds_alternative<acq::BlockPtr>(i); });
    if ((!polled || n == 0) && !blocks) return;
    RecvBlocks = AddCount16(RecvBlocks, n);
    Set(lblBlock, LabelNumber(RecvBlocks));
    Set(lblptr, LabelNumber(dll_.BlockIdx));
    if (n < 0) return;

    // The read-outs show the last good buffer (all zero before the first).
    const std::int64_t chn = last_ ? last_->ChnNum : dll_.ChnNum;
    const std::int64_t points = last_ ? last_->ChnPoints : dll_.ChnPoints;
    if (chn < 1 || chn > kMaxChannels || points < 1 || points > kMaxPoints) return;
    for (std::int64_t k = 0; k < chn; ++k) {
        float sum = 0.0f;
        float* samples = &ChnSamples[static_cast<std::size_t>(k * kMaxPoints)];
        for (std::int64_t j = 0; j < points; ++j) {
            samples[j] = last_ ? static_cast<float>(last_->At(j, static_cast<int>(k))) : 0.0f;
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
        session_.Call([this](Card& card) { return card.Zqd_DI(2, DiValue.data()); });
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
        LastOutput = Status::Fail(Status::Code::kQueryRefused, "group");
        Set(lblBlock, "通道组“" + txtswChn.Text + "”超出 -32768 到 32767，未输出");
        return;
    }
    if (*group < 0) {
        LastOutput = Status::Fail(Status::Code::kQueryRefused, "group");
        Set(lblBlock, "通道组不能为负（" + std::to_string(*group) + "），未输出");
        return;
    }
    const std::int16_t g = *group > 1 ? std::int16_t{1} : *group;
    const double value = LeadingNumber("&H" + txtSWO_0.Text);
    if (value > 4294967295.0) {
        LastOutput = Status::Fail(Status::Code::kQueryRefused, "value");
        Set(lblBlock, "输出值“" + txtSWO_0.Text + "”超过 32 位，未输出");
        return;
    }
    DoValue = static_cast<std::int16_t>(static_cast<std::uint32_t>(value) & 255u);
    try {
        session_.Call([&](Card& card) { return card.Zqd_DO(g, DoValue); });
        LastOutput = Status::Ok();
    } catch (const CardError& e) {
        LastOutput = Status::Fail(Status::Code::kNoLibrary, e.what());
        Set(lblBlock, e.what());
    }
}

}  // namespace zqd
