#include "archive/archive_sink.h"

#include "common/utc.h"

#include <algorithm>
#include <cmath>
#include <set>
#include "formats/mseed/mseed_scan.h"
#include "formats/sds/sds_repair.h"
#include "platform/files.h"
#include "timeline/timeline.h"

namespace zqd::archive {

ArchiveSink::ArchiveSink(ArchiveConfig config, std::filesystem::path root, Report report)
    : config_(std::move(config)), root_(std::move(root)), report_(std::move(report)), writer_(root_) {
    for (auto& r : sds::RepairTails(root_, config_.pack.record_length)) {
        ArchiveNote note{r.status.ok() ? ArchiveNote::Kind::kRepaired : ArchiveNote::Kind::kRepairFailed};
        note.value = static_cast<std::int64_t>(r.cut_bytes);
        note.count = r.kept_records;
        note.path = std::move(r.path);
        note.status = std::move(r.status);
        Say(std::move(note));
    }
}

ArchiveSink::~ArchiveSink() { Finish(); }

void ArchiveSink::Say(ArchiveNote note) {
    if (report_) report_(note);
}

void ArchiveSink::Setup(const acq::AcqConfig& card) {
    Flush();
    packers_.clear();
    card_ = card;
    std::set<std::string> streams;
    mseed::PackOptions pack = config_.pack;
    pack.tolerance_ns = timeline::ToleranceNs(config_.timing.time_tolerance, card.SampleFrq);
    mseed::PackOptions clock_pack = pack;
#ifdef ZQD_HAVE_RESAMPLE
    resampler_.reset();
    if (config_.timing.resample) pack.quality = 'Q';  // the samples are the resampler's
#endif
    std::vector<std::pair<int, std::string>> channels(config_.channels.begin(), config_.channels.end());
    lce_ = lcq_ = lcr_ = nullptr;
    if (config_.clock_channels)
        for (const char* code : {"LCE", "LCQ", "LCR"}) channels.emplace_back(-1, code);
    const auto& gps_codes = GpsChannelCodes();
    gps_.assign(gps_codes.size(), nullptr);
    last_gps_second_ = INT64_MIN;
    for (const auto& code : config_.gps_channels) channels.emplace_back(-1, code);
    for (const auto& [offset, code] : channels) {
        if (offset >= card.ChnNum) continue;
        StreamCodes codes = config_.station;
        codes.channel = code;
        if (offset < 0 && config_.clock_location) codes.location = *config_.clock_location;
        streams.insert(codes.Name());
        const std::size_t index = packers_.size();
        auto emit = [this, index](const char* record, int length, std::int64_t start_ns) {
            // Records of the same channel and day that follow each other are
            // written in one go.
            const std::int64_t day = utc::FloorDiv(start_ns, utc::kNsPerDay);
            if (pending_.empty() || pending_.back().channel != index ||
                utc::FloorDiv(pending_.back().start_ns, utc::kNsPerDay) != day)
                pending_.push_back({index, start_ns, {}, 0, {}});
            pending_.back().bytes.insert(pending_.back().bytes.end(), record, record + length);
            const auto samples = mseed::HeaderSamples(record);
            pending_.back().samples += samples;
            const double rate = packers_[index].second->SampleRate();
            pending_.back().times.emplace_back(
                start_ns, timeline::SampleTime(start_ns, static_cast<double>(samples > 0 ? samples - 1 : 0), rate));
            pending_bytes_ += static_cast<std::size_t>(length);
        };
        packers_.emplace_back(offset, std::make_unique<mseed::ChannelPacker>(
                                          codes, offset < 0 ? 1.0 : static_cast<double>(card.SampleFrq),
                                          offset < 0 ? clock_pack : pack, emit));
        mseed::ChannelPacker* made = packers_.back().second.get();
        if (code == "LCE") lce_ = made;
        if (code == "LCQ") lcq_ = made;
        if (code == "LCR") lcr_ = made;
        for (std::size_t g = 0; g < gps_codes.size(); ++g)
            if (offset < 0 && code == gps_codes[g]) gps_[g] = made;
    }
    clock_first_ = 0;
    while (clock_first_ < packers_.size() && packers_[clock_first_].first >= 0) ++clock_first_;
#ifdef ZQD_HAVE_RESAMPLE
    if (config_.timing.resample && clock_first_ > 0)
        resampler_ = std::make_unique<GridResampler>(static_cast<int>(clock_first_), static_cast<double>(card.SampleFrq));
#endif
    {
        std::lock_guard lock(mutex_);
        status_.resampled = config_.timing.resample;
        status_.timing = config_.timing;
    }
    retention_ = std::make_unique<Retention>(root_, std::move(streams), config_.retention);
}

bool ArchiveSink::Retain(bool need_room) {
    if (!retention_) return false;
    std::int64_t today = 0;
    {
        std::lock_guard lock(mutex_);
        today = status_.last_time_ns;
    }
    if (today == 0) return false;
    const std::int64_t day = utc::FloorDiv(today, utc::kNsPerDay);
    // Ages change with the day; space is looked at every time.
    if (!need_room && day == retained_day_ && !retention_->BelowFloor(pending_bytes_)) return false;
    retained_day_ = day;
    bool any = false;
    retention_->Enforce(today, need_room, pending_bytes_, [&](const RemovedDay& r) {
        any = any || !r.files.empty();
        {
            std::lock_guard lock(mutex_);
            ++status_.removed_days;
            status_.removed_bytes += r.bytes;
        }
        ArchiveNote note{ArchiveNote::Kind::kDayRemoved, r.day_ns};
        note.count = r.files.size();
        note.bytes = r.bytes;
        note.paths = r.files;
        note.for_space = r.for_space;
        note.status = r.status;
        Say(std::move(note));
    });
    if (any) writer_.CloseAll();  // no file of a removed day stays open
    return any;
}

void ArchiveSink::OnEvent(const acq::Event& event) {
    using Kind = acq::Event::Kind;
    if (event.kind != Kind::kStarted) {
        std::lock_guard lock(mutex_);
        if (limit_ns_ >= 0 && status_.archived_ns >= limit_ns_ && event.kind != Kind::kStopped &&
            event.kind != Kind::kCardError)
            return;  // after the asked-for duration: nothing archived, nothing lost
    }
    switch (event.kind) {
    case Kind::kStarted:
        Setup(event.config);
        break;
    case Kind::kStopped:
        EndResampling();
        Flush();
        break;
    case Kind::kReadFailed: {
        std::lock_guard lock(mutex_);
        ++status_.read_failures;
    }
        Say({ArchiveNote::Kind::kReadFailed, event.value});
        break;
    case Kind::kOverflow: {
        std::lock_guard lock(mutex_);
        status_.overflowed_blocks += static_cast<std::uint64_t>(event.value);
    }
        Say({ArchiveNote::Kind::kOverflow, event.value, event.sequence});
        break;
    case Kind::kGap:
    case Kind::kTimeBackwards: {
        std::lock_guard lock(mutex_);
        ++status_.time_gaps;
    }
        Say({event.kind == Kind::kGap ? ArchiveNote::Kind::kGap : ArchiveNote::Kind::kBackwards, event.value,
             event.sequence});
        break;
    case Kind::kDropped: {
        std::lock_guard lock(mutex_);
        status_.dropped_blocks += static_cast<std::uint64_t>(event.value);
    }
        Say({ArchiveNote::Kind::kDropped, event.value});
        break;
    case Kind::kTimeTear:
        if (config_.timing.resample) break;  // the resampled series does not tear
        {
            std::lock_guard lock(mutex_);
            ++status_.tears;
        }
        Say({ArchiveNote::Kind::kTimeTear, event.value, event.sequence});
        break;
    case Kind::kBadMessage: {
        std::lock_guard lock(mutex_);
        status_.bad_messages += static_cast<std::uint64_t>(event.value);
        break;
    }
    case Kind::kPulseLost: {
        {
            std::lock_guard lock(mutex_);
            status_.timing_record.in_outage = true;
            status_.timing_record.outage_from_ns = event.value;
        }
        Say({ArchiveNote::Kind::kPulseLost, event.value});
        break;
    }
    case Kind::kPulseBack: {
        ArchiveNote note{ArchiveNote::Kind::kPulseBack, event.value};
        note.extra = event.extra;
        {
            std::lock_guard lock(mutex_);
            TimingRecord& r = status_.timing_record;
            const std::int64_t gone = r.in_outage ? std::max<std::int64_t>(0, event.value - r.outage_from_ns - utc::kNsPerSecond) : 0;
            ++r.outages;
            r.outage_ns += gone;
            r.longest_outage_ns = std::max(r.longest_outage_ns, gone);
            if (std::llabs(event.extra) > std::llabs(r.worst_step_ns)) r.worst_step_ns = event.extra;
            r.in_outage = false;
            note.count = static_cast<std::uint64_t>(gone / utc::kNsPerSecond);
        }
        Say(std::move(note));
        break;
    }
    case Kind::kPulseDisagrees: Say({ArchiveNote::Kind::kPulseDisagrees, event.value, event.sequence}); break;
    case Kind::kRateOff: Say({ArchiveNote::Kind::kRateOff, event.value}); break;
    case Kind::kNoPulseFound: {
        {
            std::lock_guard lock(mutex_);
            status_.timing_record.no_pulse = true;
        }
        ArchiveNote note{ArchiveNote::Kind::kNoPulseFound, event.value};
        note.extra = event.extra;
        note.setting = std::llround(config_.timing.pulse_width_ms * 1000);
        Say(std::move(note));
        break;
    }
    case Kind::kPulseTooNarrow: {
        ArchiveNote note{ArchiveNote::Kind::kPulseTooNarrow, event.value};
        note.setting = card_.SampleFrq > 0 ? 3000000 / card_.SampleFrq : 0;
        Say(std::move(note));
        break;
    }
    case Kind::kMessageAtEdge: Say({ArchiveNote::Kind::kMessageAtEdge, event.value, event.sequence}); break;
    case Kind::kMessageLate: {
        ArchiveNote note{ArchiveNote::Kind::kMessageLate, event.value, event.sequence};
        note.setting = config_.timing.max_message_delay_ms;
        Say(std::move(note));
        break;
    }
    case Kind::kLabelsSure: Say({ArchiveNote::Kind::kLabelsSure, event.value}); break;
    case Kind::kNoGpsTime: Say({ArchiveNote::Kind::kNoGpsTime, event.value}); break;
    case Kind::kPollSooner: Say({ArchiveNote::Kind::kPollSooner, event.value}); break;
    case Kind::kCardError:
        {
            ArchiveNote note{ArchiveNote::Kind::kCardError};
            note.status = event.status;
            Say(std::move(note));
        }
        EndResampling();
        Flush();
        break;
    default:
        break;
    }
}

void ArchiveSink::OnBlock(const acq::BlockPtr& block) {
    const acq::Block& b = *block;
    if (packers_.empty() || b.ChnNum != card_.ChnNum || b.ChnPoints != card_.ChnPoints) return;
    {
        std::lock_guard lock(mutex_);
        if (limit_ns_ >= 0 && status_.archived_ns >= limit_ns_) return;  // the asked-for duration is in
    }
    const bool own = b.time_status == acq::TimeStatus::kOwn;
    std::int64_t t = b.time_ns;
    if (b.time_status == acq::TimeStatus::kNone) t = b.host_ns - b.DurationNs();  // read at the block's end
    {
        std::lock_guard lock(mutex_);
        if (own) status_.last_gps_ns = t;
    }
    const int quality = b.clock.quality;
    if (own != last_own_ && have_gps_) Say({own ? ArchiveNote::Kind::kGpsBack : ArchiveNote::Kind::kGpsLost});
    have_gps_ = have_gps_ || own;
    last_own_ = own;
    const mseed::Timing timing{quality, own};
    scratch_.resize(static_cast<std::size_t>(b.ChnPoints));
    last_timing_ = timing;
#ifdef ZQD_HAVE_RESAMPLE
    if (resampler_) {
        const std::size_t channels = clock_first_;
        frames_.resize(static_cast<std::size_t>(b.ChnPoints) * channels);
        for (std::int64_t j = 0; j < b.ChnPoints; ++j)
            for (std::size_t i = 0; i < channels; ++i)
                frames_[static_cast<std::size_t>(j) * channels + i] =
                    static_cast<float>(static_cast<std::uint16_t>(b.At(j, packers_[i].first)));
        resampler_->Add(frames_.data(), static_cast<std::size_t>(b.ChnPoints), t, b.clock.rate,
                        [&](const GridResampler::Output& o) { Resampled(o, timing); });
    }
#endif
    for (std::size_t i = 0; i < clock_first_ && i < packers_.size() && !config_.timing.resample; ++i) {
        auto& [offset, packer] = packers_[i];
        for (std::int64_t j = 0; j < b.ChnPoints; ++j)
            scratch_[static_cast<std::size_t>(j)] = static_cast<std::uint16_t>(b.At(j, offset));
        packer->Add(t, scratch_.data(), scratch_.size(), timing, b.clock.rate);
    }
    AddClock(b, timing);
    AddGps(b, timing);
    {
        std::lock_guard lock(mutex_);
        ++status_.blocks;
        status_.messages += b.messages.size();
        if (!b.messages.empty()) status_.last_message = b.messages.back();
        status_.gps = own;
        status_.quality = quality;
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
    WritePending();
    // Flushed by the data's own clock: with the same data the same records
    // come out, on any machine and at any speed of a simulated card.
    since_flush_ns_ += b.DurationNs();
    if (since_flush_ns_ >= config_.flush_seconds * utc::kNsPerSecond) Flush(false);
}

void ArchiveSink::EndResampling() {
#ifdef ZQD_HAVE_RESAMPLE
    if (resampler_)
        resampler_->Finish([&](const GridResampler::Output& o) { Resampled(o, last_timing_); });
#endif
}

#ifdef ZQD_HAVE_RESAMPLE
void ArchiveSink::Resampled(const GridResampler::Output& o, const mseed::Timing& timing) {
    const std::size_t channels = clock_first_;
    scratch_.resize(o.count);
    for (std::size_t i = 0; i < channels; ++i) {
        for (std::size_t j = 0; j < o.count; ++j)
            scratch_[j] = static_cast<std::int32_t>(std::lround(o.frames[j * channels + i]));
        packers_[i].second->Add(o.t_ns, scratch_.data(), o.count, timing, o.rate);
    }
}
#endif

void ArchiveSink::AddClock(const acq::Block& b, const mseed::Timing& timing) {
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

void ArchiveSink::AddGps(const acq::Block& b, const mseed::Timing& timing) {
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

void ArchiveSink::WritePending() {
    Status failure;
    std::uint64_t written = 0;
    bool made_room = false;
    if (!pending_.empty()) Retain(false);  // room first, so that the disk keeps its floor after the write
    while (!pending_.empty()) {
        Pending& p = pending_.front();
        std::filesystem::path created;
        const auto& packer = *packers_[p.channel].second;
        const Status s = writer_.Append(packer.Codes(), p.start_ns, p.bytes.data(), static_cast<int>(p.bytes.size()),
                                        &created);
        if (!s.ok()) {
            // A disk that refuses: old days make room, if there are any, once.
            const std::int64_t free = platform::FreeBytes(root_);
            const bool full = free >= 0 && static_cast<std::uint64_t>(free) < p.bytes.size() + (1u << 20);
            if (!made_room && full && Retain(true)) {
                made_room = true;
                continue;
            }
            failure = s;
            break;
        }
        if (!created.empty()) {
            ArchiveNote note{ArchiveNote::Kind::kNewDayFile};
            note.path = created;
            Say(std::move(note));
        }
        if (tap_) {
            const auto length = static_cast<std::size_t>(config_.pack.record_length);
            for (std::size_t i = 0; i < p.times.size() && (i + 1) * length <= p.bytes.size(); ++i)
                tap_(packer.Codes(), p.bytes.data() + i * length, static_cast<int>(length), p.times[i].first,
                     p.times[i].second);
        }
        pending_bytes_ -= p.bytes.size();
        written += p.bytes.size() / static_cast<std::size_t>(config_.pack.record_length);
        pending_.pop_front();
    }
    // While the disk refuses, records wait in memory up to the limit; beyond
    // it the oldest go, every record and sample counted.
    std::uint64_t dropped = 0, dropped_samples = 0;
    while (pending_bytes_ > config_.memory_limit_bytes && !pending_.empty()) {
        pending_bytes_ -= pending_.front().bytes.size();
        dropped += pending_.front().bytes.size() / static_cast<std::size_t>(config_.pack.record_length);
        dropped_samples += pending_.front().samples;
        pending_.pop_front();
    }
    bool was_writing = true;
    {
        std::lock_guard lock(mutex_);
        was_writing = status_.writing;
        status_.records += written;
        status_.bytes = writer_.BytesWritten();
        status_.files = writer_.FilesOpened();
        status_.unwritten_records += dropped;
        status_.unwritten_samples += dropped_samples;
        status_.writing = failure.ok();
        if (!failure.ok()) status_.last_error = failure;
    }
    if (!failure.ok() && was_writing) {
        ArchiveNote note{ArchiveNote::Kind::kWriteFailing, static_cast<std::int64_t>(config_.memory_limit_bytes >> 20)};
        note.status = failure;
        Say(std::move(note));
    }
    if (failure.ok() && !was_writing) Say({ArchiveNote::Kind::kWriteRecovered});
    if (dropped > 0) {
        ArchiveNote note{ArchiveNote::Kind::kMemoryFull, static_cast<std::int64_t>(dropped)};
        note.count = dropped_samples;
        Say(std::move(note));
    }
}

void ArchiveSink::Finish() {
    EndResampling();
    Flush();
    if (pending_.empty()) return;
    std::uint64_t records = 0, samples = 0;
    for (const Pending& p : pending_) {
        records += p.bytes.size() / static_cast<std::size_t>(config_.pack.record_length);
        samples += p.samples;
    }
    pending_.clear();
    pending_bytes_ = 0;
    {
        std::lock_guard lock(mutex_);
        status_.unwritten_records += records;
        status_.unwritten_samples += samples;
    }
    ArchiveNote note{ArchiveNote::Kind::kUnwrittenAtStop, static_cast<std::int64_t>(records)};
    note.count = samples;
    Say(std::move(note));
}

void ArchiveSink::Flush(bool everything) {
    // The clock's channels, a sample a second, fill a record in minutes: they
    // are written whole when full, or every ten minutes, or at the stop, not
    // as records of a few samples at every flush.
    for (auto& [offset, packer] : packers_)
        packer->Pack(everything || offset >= 0 || packer->Held() >= kClockFlushSamples);
    WritePending();
    const Status synced = writer_.Sync();
    since_flush_ns_ = 0;
    std::lock_guard lock(mutex_);
    status_.free_bytes = platform::FreeBytes(root_);
    if (!synced.ok()) {
        status_.writing = false;
        status_.last_error = synced;
    }
}

ArchiveStatus ArchiveSink::Snapshot() const {
    std::lock_guard lock(mutex_);
    return status_;
}

}  // namespace zqd::archive
