#include "app/frm_multibuf.h"

#include <algorithm>

#include "app/messages.h"
#include "common/numtext.h"
#include "formats/t1dat/t1dat.h"

namespace zqd {

namespace {
// Buffers the window holds for its next tick: 400 s of the monitor's ten a second.
constexpr std::size_t kMailboxBlocks = 4096;
}  // namespace

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
      mailbox_(std::make_shared<acq::Mailbox>(kMailboxBlocks)) {
    mailbox_runner_ = session_.AddSink(mailbox_, kMailboxBlocks);
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
    if (const Status s = session_.Initial(); !s.ok()) Set(lblBlock, app::Text(s));
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
        if (const auto last = t1dat::RecordLastIndex(config.ChnNum, config.ChnPoints, blockNum); !last) return last.status();
        Ring.assign(static_cast<std::size_t>(blockNum), nullptr);  // the ring anew, empty
        return Status::Ok();
    });
    if (!started.ok()) {
        // The timer keeps the state it had (a running window goes on polling).
        mailbox_->Listen(wasListening);
        Set(lblBlock, app::StartRefusedText(started));
        return;
    }
    if (const std::string notice = app::CardNotice(session_.Identity()); !notice.empty())
        Set(Caption, "多缓冲区采集方式 — " + notice);
    caption_ = Caption.Text;
    Drops = 0;
    TimerAD.Enabled = true;
}

void FrmMultiBuf::cmdStop_Click() {
    if (const Status s = session_.Stop(); !s.ok()) Set(lblBlock, app::Text(s));
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

bool FrmMultiBuf::TakeBlock(const acq::BlockPtr& block) {
    const std::int64_t N = block->Samples();
    const std::int64_t ring = N * dll_.BlockNum;
    if (block->ChnNum < 1 || block->ChnNum > kMaxChannels || block->ChnPoints < 1 || block->ChnPoints > kMaxPoints ||
        dll_.BlockNum < 1 || dll_.BlockIdx < 0 || dll_.BlockIdx + N > ring || dll_.BlockIdx % N != 0) {
        Halt("采集已停止：数据块（通道数 " + std::to_string(block->ChnNum) + "，每通道点数 " +
             std::to_string(block->ChnPoints) + "）与监视窗口的缓冲区不相符，采集设置可能已被另一窗口改变");
        return false;
    }
    const auto slot = static_cast<std::size_t>(dll_.BlockIdx / N);
    if (Ring.size() != static_cast<std::size_t>(dll_.BlockNum)) Ring.assign(static_cast<std::size_t>(dll_.BlockNum), nullptr);
    Ring[slot] = block;
    dll_.BlockIdx += static_cast<std::int32_t>(N);
    if (dll_.BlockIdx >= ring) dll_.BlockIdx = 0;
    last_ = block;
    return true;
}

void FrmMultiBuf::TimerAD_Timer() {
    session_.Pump();
    // Whole polls only, so that the count and the ring position agree.
    const auto items = mailbox_->Take();
    bool polled = false;
    int n = 0;
    for (const auto& item : items) {
        if (const auto* event = std::get_if<acq::Event>(&item)) {
            if (event->kind == acq::Event::Kind::kPolled) {
                polled = true;
                n += static_cast<int>(event->value);
            } else if (event->kind == acq::Event::Kind::kCardError) {
                Halt(app::Text(event->status));
                return;
            } else if (event->kind == acq::Event::Kind::kDropped) {
                Drops += static_cast<std::uint64_t>(event->value);
                Set(Caption, caption_ + "（窗口来不及处理，已丢失 " + std::to_string(Drops) + " 块）");
            }
            // A failed read is passed over: counted in n, nothing stored.
            continue;
        }
        if (!TakeBlock(std::get<acq::BlockPtr>(item))) return;
    }
    if (!polled || n == 0) return;
    RecvBlocks = AddCount16(RecvBlocks, n);
    Set(lblBlock, LabelNumber(RecvBlocks));
    Set(lblptr, LabelNumber(dll_.BlockIdx));
    if (n < 0) return;
    ShowReadouts();
}

// The read-outs of the last good buffer (all zero before the first), and the digital inputs.
void FrmMultiBuf::ShowReadouts() {
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

    if (const Status s = session_.DigitalIn(DiValue); !s.ok()) {
        Halt(app::Text(s));
        return;
    }
    const std::int16_t d0 = DiValue[0], d1 = DiValue[1];
    Set(lblDI, Hex16(d0) + "  " + Hex16(d1));
    Set(lblDI_0, Hex16(d0) + "   " + BitsText(d0));
    Set(lblBit, "         " + BitHeaderText());
    Set(lblDI_1, Hex16(d1) + "   " + BitsText(d1));
}

void FrmMultiBuf::cmdSWO_Click() {
    auto refuse = [this](Status why) {
        LastOutput = std::move(why);
        Set(lblBlock, app::Text(LastOutput));
    };
    const auto group = RoundToInt16(LeadingNumber(txtswChn.Text));
    if (!group) return refuse(Status::Fail(Status::Code::kQueryRefused, Status::Why::kOutputGroupRange).About(txtswChn.Text));
    if (*group < 0) return refuse(Status::Fail(Status::Code::kQueryRefused, Status::Why::kOutputGroupNegative).Value(*group));
    const std::int16_t g = *group > 1 ? std::int16_t{1} : *group;
    const double value = LeadingNumber("&H" + txtSWO_0.Text);
    if (value > 4294967295.0)
        return refuse(Status::Fail(Status::Code::kQueryRefused, Status::Why::kOutputValueWide).About(txtSWO_0.Text));
    DoValue = static_cast<std::int16_t>(static_cast<std::uint32_t>(value) & 255u);
    LastOutput = session_.DigitalOut(g, DoValue);
    if (!LastOutput.ok()) Set(lblBlock, app::Text(LastOutput));
}

}  // namespace zqd
