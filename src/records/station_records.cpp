#include "records/station_records.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "common/utc.h"
#include "formats/mseed/mseed_scan.h"
#include "timeline/timeline.h"

namespace zqd::records {

StationRecords::StationRecords(RecordsConfig config, acq::TimingConfig timing, std::shared_ptr<RecordHub> hub,
                               Report report)
    : config_(std::move(config)), timing_(timing), hub_(std::move(hub)), report_(std::move(report)) {
    status_.timing = timing_;
    status_.resampled = timing_.resample;
}

StationRecords::~StationRecords() { Finish(); }

void StationRecords::Say(StationNote note) {
    if (report_) report_(note);
}

void StationRecords::AddChannel(int offset, const std::string& code, const mseed::PackOptions& pack) {
    StreamCodes c = config_.station;
    c.channel = code;
    if (offset < 0 && config_.clock_location) c.location = *config_.clock_location;
    auto codes = std::make_shared<const StreamCodes>(std::move(c));
    const double rate = offset < 0 ? 1.0 : static_cast<double>(card_.SampleFrq);
    auto emit = [this, codes, rate](const char* bytes, int length, std::int64_t start_ns) {
        auto r = std::make_shared<Record>();
        r->codes = codes;
        r->bytes.assign(bytes, static_cast<std::size_t>(length));
        r->samples = mseed::HeaderSamples(bytes);
        r->start_ns = start_ns;
        r->end_ns = timeline::SampleTime(start_ns, static_cast<double>(r->samples > 0 ? r->samples - 1 : 0), rate);
        r->day = utc::FloorDiv(start_ns, utc::kNsPerDay);
        {
            std::lock_guard lock(mutex_);
            ++status_.records;
            status_.samples += r->samples;
        }
        hub_->Publish(RecordPtr(std::move(r)));
    };
    channels_.push_back({offset, codes, std::make_unique<mseed::ChannelPacker>(*codes, rate, pack, emit)});
}

void StationRecords::Setup(const acq::AcqConfig& card) {
    Finish();
    finished_ = false;
    channels_.clear();
    card_ = card;
    mseed::PackOptions pack = config_.pack;
    pack.tolerance_ns = timeline::ToleranceNs(timing_.time_tolerance, card.SampleFrq);
    const mseed::PackOptions clock_pack = pack;
#ifdef ZQD_HAVE_RESAMPLE
    resampler_.reset();
    if (timing_.resample) pack.quality = 'Q';  // the samples are the resampler's
#endif
    for (const auto& [offset, code] : config_.channels)
        if (offset < card.ChnNum) AddChannel(offset, code, pack);
    clock_first_ = channels_.size();
    if (config_.clock_channels)
        for (const char* code : {"LCE", "LCQ", "LCR"}) AddChannel(-1, code, clock_pack);
    for (const auto& code : config_.gps_channels) AddChannel(-1, code, clock_pack);
    lce_ = lcq_ = lcr_ = nullptr;
    const auto& gps_codes = GpsChannelCodes();
    gps_.assign(gps_codes.size(), nullptr);
    last_gps_second_ = INT64_MIN;
    for (std::size_t i = clock_first_; i < channels_.size(); ++i) {
        const std::string& code = channels_[i].codes->channel;
        mseed::ChannelPacker* made = channels_[i].packer.get();
        if (code == "LCE") lce_ = made;
        if (code == "LCQ") lcq_ = made;
        if (code == "LCR") lcr_ = made;
        for (std::size_t g = 0; g < gps_codes.size(); ++g)
            if (code == gps_codes[g]) gps_[g] = made;
    }
#ifdef ZQD_HAVE_RESAMPLE
    if (timing_.resample && clock_first_ > 0)
        resampler_ = std::make_unique<signal::GridResampler>(static_cast<int>(clock_first_), static_cast<double>(card.SampleFrq));
#endif
}

void StationRecords::OnEvent(const acq::Event& event) {
    using Kind = acq::Event::Kind;
    if (event.kind != Kind::kStarted) {
        std::lock_guard lock(mutex_);
        if (limit_ns_ >= 0 && status_.archived_ns >= limit_ns_ && event.kind != Kind::kStopped &&
            event.kind != Kind::kCardError)
            return;  // after the asked-for duration: nothing recorded, nothing lost
    }
    switch (event.kind) {
    case Kind::kStarted: Setup(event.config); break;
    case Kind::kStopped: Finish(); break;
    case Kind::kCardError: {
        StationNote note{StationNote::Kind::kCardError};
        note.status = event.status;
        Say(std::move(note));
        Finish();
        break;
    }
    default: Count(event); break;
    }
}

void StationRecords::OnPulseBack(const acq::Event& event) {
    StationNote note{StationNote::Kind::kPulseBack, event.value};
    note.extra = event.extra;
    {
        std::lock_guard lock(mutex_);
        TimingRecord& r = status_.timing_record;
        const std::int64_t gone =
            r.in_outage ? std::max<std::int64_t>(0, event.value - r.outage_from_ns - utc::kNsPerSecond) : 0;
        ++r.outages;
        r.outage_ns += gone;
        r.longest_outage_ns = std::max(r.longest_outage_ns, gone);
        if (std::llabs(event.extra) > std::llabs(r.worst_step_ns)) r.worst_step_ns = event.extra;
        r.in_outage = false;
        note.count = static_cast<std::uint64_t>(gone / utc::kNsPerSecond);
    }
    Say(std::move(note));
}

void StationRecords::Count(const acq::Event& event) {
    using Kind = acq::Event::Kind;
    using Note = StationNote::Kind;
    auto count = [this](std::uint64_t StationStatus::*field, std::uint64_t n) {
        std::lock_guard lock(mutex_);
        status_.*field += n;
    };
    switch (event.kind) {
    case Kind::kReadFailed:
        count(&StationStatus::read_failures, 1);
        Say({Note::kReadFailed, event.value});
        break;
    case Kind::kOverflow:
        count(&StationStatus::overflowed_blocks, static_cast<std::uint64_t>(event.value));
        Say({Note::kOverflow, event.value, event.sequence});
        break;
    case Kind::kGap:
    case Kind::kTimeBackwards:
        count(&StationStatus::time_gaps, 1);
        Say({event.kind == Kind::kGap ? Note::kGap : Note::kBackwards, event.value, event.sequence});
        break;
    case Kind::kDropped:
        count(&StationStatus::dropped_blocks, static_cast<std::uint64_t>(event.value));
        Say({Note::kDropped, event.value});
        break;
    case Kind::kTimeTear:
        if (timing_.resample) break;  // the resampled series does not tear
        count(&StationStatus::tears, 1);
        Say({Note::kTimeTear, event.value, event.sequence});
        break;
    case Kind::kBadMessage: count(&StationStatus::bad_messages, static_cast<std::uint64_t>(event.value)); break;
    case Kind::kPulseLost: {
        {
            std::lock_guard lock(mutex_);
            status_.timing_record.in_outage = true;
            status_.timing_record.outage_from_ns = event.value;
        }
        Say({Note::kPulseLost, event.value});
        break;
    }
    case Kind::kPulseBack: OnPulseBack(event); break;
    case Kind::kPulseDisagrees: Say({Note::kPulseDisagrees, event.value, event.sequence}); break;
    case Kind::kRateOff: Say({Note::kRateOff, event.value}); break;
    case Kind::kNoPulseFound: {
        {
            std::lock_guard lock(mutex_);
            status_.timing_record.no_pulse = true;
        }
        StationNote note{Note::kNoPulseFound, event.value};
        note.extra = event.extra;
        note.setting = std::llround(timing_.pulse_width_ms * 1000);
        Say(std::move(note));
        break;
    }
    case Kind::kPulseTooNarrow: {
        StationNote note{Note::kPulseTooNarrow, event.value};
        note.setting = card_.SampleFrq > 0 ? 3000000 / card_.SampleFrq : 0;
        Say(std::move(note));
        break;
    }
    case Kind::kMessageAtEdge: Say({Note::kMessageAtEdge, event.value, event.sequence}); break;
    case Kind::kMessageLate: {
        StationNote note{Note::kMessageLate, event.value, event.sequence};
        note.setting = timing_.max_message_delay_ms;
        Say(std::move(note));
        break;
    }
    case Kind::kLabelsSure: Say({Note::kLabelsSure, event.value}); break;
    case Kind::kNoGpsTime: Say({Note::kNoGpsTime, event.value}); break;
    case Kind::kPollSooner: Say({Note::kPollSooner, event.value}); break;
    case Kind::kStarted:
    case Kind::kStopped:
    case Kind::kCardError:
    case Kind::kPolled:
    case Kind::kPollEnd: break;
    }
}

void StationRecords::OnBlock(const acq::BlockPtr& block) {
    const acq::Block& b = *block;
    if (channels_.empty() || b.ChnNum != card_.ChnNum || b.ChnPoints != card_.ChnPoints) return;
    {
        std::lock_guard lock(mutex_);
        if (limit_ns_ >= 0 && status_.archived_ns >= limit_ns_) return;  // the asked-for duration is in
    }
    const bool own = b.time_status == acq::TimeStatus::kOwn;
    std::int64_t t = b.time_ns;
    if (b.time_status == acq::TimeStatus::kNone) t = b.host_ns - b.DurationNs();  // read at the block's end
    if (own != last_own_ && have_gps_) Say({own ? StationNote::Kind::kGpsBack : StationNote::Kind::kGpsLost});
    have_gps_ = have_gps_ || own;
    last_own_ = own;
    const mseed::Timing timing{b.clock.quality, own};
    last_timing_ = timing;
    AddData(b, t, timing);
    AddClock(b, timing);
    AddGps(b, timing);
    Noted(b, t, own);
    // Flushed by the data's own clock: with the same data the same records
    // come out, on any machine and at any speed of a simulated card.
    since_flush_ns_ += b.DurationNs();
    if (since_flush_ns_ >= config_.flush_seconds * utc::kNsPerSecond) Flush(false);
}

void StationRecords::Noted(const acq::Block& b, std::int64_t t, bool own) {
    std::lock_guard lock(mutex_);
    ++status_.blocks;
    status_.messages += b.messages.size();
    if (!b.messages.empty()) status_.last_message = b.messages.back();
    if (own) status_.last_gps_ns = t;
    status_.gps = own;
    status_.quality = b.clock.quality;
    status_.last_time_ns = t;
    status_.archived_ns += b.DurationNs();
    status_.clock = b.clock;
    status_.clock.seconds.clear();
    status_.clock.phase_errors.clear();
    status_.nominal_rate = b.SampleFrq;
    TimingRecord& r = status_.timing_record;
    r.worst_bound_ns = std::max(r.worst_bound_ns, b.clock.bound_ns);
    if (b.clock.doubts != 0) ++r.doubted_blocks;
    r.doubts |= b.clock.doubts;
    if (b.time_status == acq::TimeStatus::kNone) ++r.host_blocks;
}

void StationRecords::AddData(const acq::Block& b, std::int64_t t, const mseed::Timing& timing) {
    scratch_.resize(static_cast<std::size_t>(b.ChnPoints));
#ifdef ZQD_HAVE_RESAMPLE
    if (resampler_) {
        const std::size_t channels = clock_first_;
        frames_.resize(static_cast<std::size_t>(b.ChnPoints) * channels);
        for (std::int64_t j = 0; j < b.ChnPoints; ++j)
            for (std::size_t i = 0; i < channels; ++i)
                frames_[static_cast<std::size_t>(j) * channels + i] =
                    static_cast<float>(static_cast<std::uint16_t>(b.At(j, channels_[i].offset)));
        resampler_->Add(frames_.data(), static_cast<std::size_t>(b.ChnPoints), t, b.clock.rate,
                        [&](const signal::GridResampler::Output& o) { Resampled(o, timing); });
        return;
    }
#endif
    if (timing_.resample) return;  // a build without the resampler refuses such a configuration
    const int stride = b.ChnNum;
    for (std::size_t i = 0; i < clock_first_; ++i) {
        const std::int16_t* w = b.Scans() + channels_[i].offset;
        for (std::int64_t j = 0; j < b.ChnPoints; ++j, w += stride)
            scratch_[static_cast<std::size_t>(j)] = static_cast<std::uint16_t>(*w);
        channels_[i].packer->Add(t, scratch_.data(), scratch_.size(), timing, b.clock.rate);
    }
}

void StationRecords::EndResampling() {
#ifdef ZQD_HAVE_RESAMPLE
    if (resampler_)
        resampler_->Finish([&](const signal::GridResampler::Output& o) { Resampled(o, last_timing_); });
#endif
}

#ifdef ZQD_HAVE_RESAMPLE
void StationRecords::Resampled(const signal::GridResampler::Output& o, const mseed::Timing& timing) {
    const std::size_t channels = clock_first_;
    scratch_.resize(o.count);
    for (std::size_t i = 0; i < channels; ++i) {
        for (std::size_t j = 0; j < o.count; ++j)
            scratch_[j] = static_cast<std::int32_t>(std::lround(o.frames[j * channels + i]));
        channels_[i].packer->Add(o.t_ns, scratch_.data(), o.count, timing, o.rate);
    }
}
#endif

void StationRecords::AddClock(const acq::Block& b, const mseed::Timing& timing) {
    if (lce_)
        for (const auto& [second, error] : b.clock.phase_errors) {
            const auto us = static_cast<std::int32_t>(
                std::clamp<std::int64_t>(std::llround(static_cast<double>(error) / 1000), INT32_MIN, INT32_MAX));
            lce_->Add(second, &us, 1, timing);
        }
    for (const acq::ClockSample& s : b.clock.seconds) {
        auto add = [&](mseed::ChannelPacker* p, std::int64_t v) {
            if (!p) return;
            const auto sample = static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
            p->Add(s.second_ns, &sample, 1, timing);
        };
        add(lcq_, s.quality);
        if (s.rate_ppb != acq::ClockSample::kNoValue) add(lcr_, s.rate_ppb);
    }
}

void StationRecords::AddGps(const acq::Block& b, const mseed::Timing& timing) {
    for (const gps::HaData& m : b.messages) {
        // A sample at the whole second the message names; a second given
        // twice (a receiver's repeat) is not written again.
        const std::int64_t second = utc::FloorDiv(m.time_ns, utc::kNsPerSecond) * utc::kNsPerSecond;
        if (second <= last_gps_second_) continue;
        last_gps_second_ = second;
        const bool fix = m.HasPosition();
        const std::int64_t values[] = {
            m.tracked,
            m.FixState(),
            std::llround(m.position.latitude_mas / 3.6),
            std::llround(m.position.longitude_mas / 3.6),
            m.position.height_msl_cm,
            m.dop_tenths,
            m.temperature_half_c * 5,
        };
        // Without a fix the position and its geometry mean nothing: a gap.
        const bool needs_fix[] = {false, false, true, true, true, true, false};
        for (std::size_t g = 0; g < gps_.size() && g < std::size(values); ++g) {
            if (!gps_[g] || (needs_fix[g] && !fix)) continue;
            const auto sample = static_cast<std::int32_t>(values[g]);
            gps_[g]->Add(second, &sample, 1, timing);
        }
    }
}

void StationRecords::Flush(bool everything) {
    // The health channels, a sample a second, would fill a record in tens of
    // minutes: an operator watching the clock live needs them within a
    // minute, and a record of a few samples at every flush would be ten times
    // the records. So they are packed when full, or at the flush after which
    // the next would leave their oldest sample more than a minute unsent, or
    // at the stop: a record a minute, by the data's own clock, to the disk
    // and the ring alike.
    const auto health_due = [this](const mseed::ChannelPacker& p) {
        return static_cast<double>(p.Held()) / p.SampleRate() + config_.flush_seconds > kHealthLatencySeconds;
    };
    for (auto& c : channels_) c.packer->Pack(everything || c.offset >= 0 || health_due(*c.packer));
    since_flush_ns_ = 0;
    hub_->Publish(Mark::kFlush);
}

void StationRecords::Finish() {
    if (finished_) return;
    finished_ = true;
    EndResampling();
    Flush(true);
    hub_->Publish(Mark::kEnd);
}

StationStatus StationRecords::Snapshot() const {
    std::lock_guard lock(mutex_);
    return status_;
}

}  // namespace zqd::records
