// The station's records, made once from the acquisition's blocks: every
// configured card channel packed into miniSEED with the blocks' GPS times and
// timing quality (resampled onto the GPS grid if asked), and beside the data,
// unless switched off, the clock's health one sample a second (LCE the phase
// error at each pulse in us, LCQ the quality in percent, LCR the measured
// rate's offset from nominal in ppm x 1000) and the receiver's own health
// from each message (GpsChannelCodes): satellites, fix, position, geometry
// and temperature, a sample a second while messages arrive and a gap when
// they do not. Before any GPS time the computer's clock dates the samples,
// at quality 0.
//
// Each record goes to the hub as it is made, short ones at every flush (the
// data's own clock decides: the same data give the same records on any
// machine at any speed); what the acquisition had to say is counted here and
// said through `Report`.
#pragma once

#include <climits>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "acquisition/sink.h"
#include "formats/mseed/mseed_packer.h"
#include "records/record_hub.h"
#include "records/records_config.h"
#ifdef ZQD_HAVE_RESAMPLE
#include "signal/resampler.h"
#endif

namespace zqd::records {

// What the clock went through in a run, for its closing summary.
struct TimingRecord {
    std::uint64_t outages = 0;          // times the pulse went
    std::int64_t outage_ns = 0;         // how long it was gone, in all
    std::int64_t longest_outage_ns = 0;
    std::int64_t worst_step_ns = 0;     // the largest step to the pulse's time when it came back (signed)
    std::int64_t worst_bound_ns = 0;    // how far off the free-running time may have been, at worst
    std::uint64_t doubted_blocks = 0;   // blocks whose second was in doubt (LabelDoubt)
    int doubts = 0;                     // the LabelDoubt bits seen
    bool no_pulse = false;              // the pulse's channel gave none
    std::uint64_t host_blocks = 0;      // blocks dated from the computer's clock
    bool in_outage = false;
    std::int64_t outage_from_ns = 0;    // the last edge before the current outage
};

struct StationStatus {
    std::uint64_t blocks = 0;  // made into records
    // What was lost before the records, each kind counted once, where it was lost:
    std::uint64_t read_failures = 0;      // blocks the card did not deliver (ADResult not 1)
    std::uint64_t overflowed_blocks = 0;  // blocks the card's full buffers overwrote
    std::uint64_t time_gaps = 0;          // GPS time jumps (forward or back) that nothing above explains
    std::uint64_t dropped_blocks = 0;     // blocks that never reached the records (their queue was full)
    std::uint64_t tears = 0;              // series begun again where the card's clock drifted off
    acq::BlockClock clock;                // of the last block, without its seconds
    std::int32_t nominal_rate = 0;        // the card's scans a second
    bool gps = false;                     // the last block had its own GPS time
    std::int64_t last_gps_ns = 0;         // the last block time from a GPS message
    std::int64_t last_time_ns = 0;        // the last block's time
    int quality = 0;
    std::int64_t archived_ns = 0;         // duration of the data made into records
    bool resampled = false;               // the data go onto the GPS grid of the nominal rate
    std::uint64_t messages = 0;           // the receiver's messages that passed their checks
    std::uint64_t bad_messages = 0;       // and those that failed them
    std::optional<gps::HaData> last_message;  // the latest good one
    std::uint64_t records = 0, samples = 0;   // made
    acq::TimingConfig timing;             // the rules in use
    TimingRecord timing_record;
};

// What the acquisition and the clock have to say, as it happens.
struct StationNote {
    enum class Kind {
        kReadFailed,      // ADResult returned `value`: a block is missing
        kGap,             // read `sequence` came `value` ns late
        kBackwards,       // read `sequence` came `value` ns (negative) early
        kDropped,         // `value` blocks never reached the records (a full queue)
        kCardError,       // the card failed: `status`
        kGpsBack,         // blocks carry their own GPS time again
        kGpsLost,         // blocks carry the time forward
        kOverflow,        // the card's full buffers were overwritten: `value` blocks lost before read `sequence`
        kPulseLost,       // no 1PPS edge after the second `value` (ns)
        kPulseBack,       // the 1PPS edge of the second `value` (ns) dates the data again, after `count` s
                          // without; the free-running time had put it `extra` ns late
        kPulseDisagrees,  // the message names a second `value` ns off the pulses' count
        kTimeTear,        // read `sequence` begins a new series, `value` ns off the old one
        kRateOff,         // the card's rate is `value` / 1000 ppm off nominal
        kNoPulseFound,    // channel `value` carries no pulse: `extra` an Event::PulseRefusal; `setting` the width (us)
        kPulseTooNarrow,  // the pulse's width (`value` us) is under three sample periods (`setting` us)
        kMessageAtEdge,   // a message began `value` ns from a pulse: its second is in doubt
        kMessageLate,     // a message began `value` ns after its pulse; `setting` max_message_delay_ms
        kLabelsSure,      // the doubt `value` (acq::LabelDoubt) is resolved
        kNoGpsTime,       // no GPS time in the first `value` ns: the computer's clock dates the data, quality 0
        kPollSooner,      // the card's buffers were all filled at a poll: polling every `value` ms now
    };
    StationNote(Kind k, std::int64_t v = 0, std::uint64_t seq = 0) : kind(k), value(v), sequence(seq) {}  // NOLINT
    Kind kind;
    std::int64_t value = 0;
    std::uint64_t sequence = 0;
    std::uint64_t count = 0;
    std::int64_t extra = 0;
    std::int64_t setting = 0;  // the value of the setting the note names
    Status status;
};

class StationRecords final : public acq::Sink {
public:
    using Report = std::function<void(const StationNote& note)>;

    StationRecords(RecordsConfig config, acq::TimingConfig timing, std::shared_ptr<RecordHub> hub, Report report = {});
    ~StationRecords() override;  // Finish()

    void OnBlock(const acq::BlockPtr& block) override;
    void OnEvent(const acq::Event& event) override;

    // Packs what is held into records, short ones too (the health channels
    // only when `everything`, or when the next flush would find their oldest
    // sample more than a minute old), then a flush mark.
    void Flush(bool everything = true);
    static constexpr std::int64_t kHealthLatencySeconds = 60;
    // Packs everything, then the end mark. Not while blocks arrive.
    void Finish();
    // Makes records of no more than this much data (ns); blocks after it are let go.
    void Limit(std::int64_t ns) {
        std::lock_guard lock(mutex_);
        limit_ns_ = ns;
    }
    StationStatus Snapshot() const;
    const RecordsConfig& Config() const { return config_; }

private:
    struct Channel {
        int offset;  // the card's, or -1 for the clock's and the receiver's
        std::shared_ptr<const StreamCodes> codes;
        std::unique_ptr<mseed::ChannelPacker> packer;
    };
    void Say(StationNote note);
    void Setup(const acq::AcqConfig& card);
    void AddChannel(int offset, const std::string& code, const mseed::PackOptions& pack);
    // The kinds of event that are counted and said.
    void Count(const acq::Event& event);
    void OnPulseBack(const acq::Event& event);
    // The data's channels, the clock's for the seconds the block holds, the
    // receiver's health from the messages that ended in it.
    void AddData(const acq::Block& b, std::int64_t t, const mseed::Timing& timing);
    void AddClock(const acq::Block& b, const mseed::Timing& timing);
    void AddGps(const acq::Block& b, const mseed::Timing& timing);
    void Noted(const acq::Block& b, std::int64_t t, bool own);
    // What the resampler still holds goes out (at a stop).
    void EndResampling();

    RecordsConfig config_;
    acq::TimingConfig timing_;
    std::shared_ptr<RecordHub> hub_;
    Report report_;
    std::vector<Channel> channels_;  // the data's, then the clock's and the receiver's
    std::size_t clock_first_ = 0;    // where the data's end
    mseed::ChannelPacker* lce_ = nullptr;
    mseed::ChannelPacker* lcq_ = nullptr;
    mseed::ChannelPacker* lcr_ = nullptr;
    std::vector<mseed::ChannelPacker*> gps_;  // by GpsChannelCodes(), null where switched off
    std::int64_t last_gps_second_ = INT64_MIN;
#ifdef ZQD_HAVE_RESAMPLE
    std::unique_ptr<signal::GridResampler> resampler_;  // when the data go onto the GPS grid
    std::vector<float> frames_;
    void Resampled(const signal::GridResampler::Output& o, const mseed::Timing& timing);
#endif
    mseed::Timing last_timing_;
    std::vector<std::int32_t> scratch_;
    std::int64_t since_flush_ns_ = 0;  // data made into records since the last flush
    std::int64_t limit_ns_ = -1;
    bool have_gps_ = false;
    bool last_own_ = false;
    bool finished_ = true;
    acq::AcqConfig card_;
    mutable std::mutex mutex_;  // guards status_ and limit_ns_
    StationStatus status_;
};

}  // namespace zqd::records
