// Continuous recording into an SDS archive, as a sink of the acquisition
// session: every configured card channel packed into miniSEED with the
// blocks' GPS times and timing quality, flushed to disk at a set interval.
//
// The data's timing quality (blockette 1001) is the clock quality the
// dating found for each block; beside the data, unless switched off, the
// clock's health one sample a second: LCE the phase error at each pulse in
// us, LCQ the quality in percent, LCR the measured rate's offset from
// nominal in ppm x 1000. Beside them the receiver's own health from each
// message (GpsChannelCodes): satellites, fix, position, geometry and
// temperature, a sample a second while messages arrive and a gap when they
// do not. Before any GPS time the computer's clock dates the samples, at
// quality 0.
#pragma once

#include <chrono>
#include <climits>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "acquisition/sink.h"
#include "archive/archive_config.h"
#include "formats/mseed/mseed_packer.h"
#include "formats/sds/sds_writer.h"
#ifdef ZQD_HAVE_RESAMPLE
#include "archive/resampler.h"
#endif

namespace zqd::archive {

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

struct ArchiveStatus {
    std::uint64_t blocks = 0;         // archived
    // What was lost, each kind counted once, where it was lost:
    std::uint64_t read_failures = 0;      // blocks the card did not deliver (ADResult not 1)
    std::uint64_t overflowed_blocks = 0;  // blocks the card's full buffers overwrote
    std::uint64_t time_gaps = 0;          // GPS time jumps (forward or back) that nothing above explains
    std::uint64_t dropped_blocks = 0;     // blocks that never reached the archive (its queue was full)
    std::uint64_t unwritten_records = 0;  // packed and written nowhere: the disk refused too long,
    std::uint64_t unwritten_samples = 0;  //   or still refused at the stop
    std::uint64_t removed_days = 0, removed_bytes = 0;  // old days removed to keep within the disk
    std::uint64_t tears = 0;          // series begun again where the card's clock drifted off
    acq::BlockClock clock;            // of the last block, without its seconds
    std::int32_t nominal_rate = 0;    // the card's scans a second
    bool gps = false;                 // the last block had its own GPS time
    std::int64_t last_gps_ns = 0;     // the last block time from a GPS message
    std::int64_t last_time_ns = 0;    // the last block's time
    int quality = 0;
    std::uint64_t files = 0, bytes = 0, records = 0;
    std::int64_t free_bytes = -1;
    std::int64_t archived_ns = 0;     // duration of the data archived
    bool writing = true;              // false while the disk refuses
    bool resampled = false;           // the data go onto the GPS grid of the nominal rate
    std::uint64_t messages = 0;       // the receiver's messages that passed their checks
    std::uint64_t bad_messages = 0;   // and those that failed them
    std::optional<gps::HaData> last_message;  // the latest good one
    acq::TimingConfig timing;          // the rules in use
    TimingRecord timing_record;
    Status last_error;
    // Whether anything at all was lost.
    bool Lossless() const {
        return read_failures + overflowed_blocks + time_gaps + dropped_blocks + unwritten_records == 0;
    }
};

// What the archive has to say, as it happens.
struct ArchiveNote {
    enum class Kind {
        kRepaired,        // `path`: its torn tail of `value` bytes was cut, `count` whole records kept
        kRepairFailed,    // `path` could not be cut: `status`
        kReadFailed,      // ADResult returned `value`: a block is missing
        kGap,             // read `sequence` came `value` ns late
        kBackwards,       // read `sequence` came `value` ns (negative) early
        kDropped,         // `value` blocks never reached the archive (a full queue)
        kCardError,       // the card failed: `status`
        kGpsBack,         // blocks carry their own GPS time again
        kGpsLost,         // blocks carry the time forward
        kNewDayFile,      // `path` was begun (it did not exist)
        kWriteFailing,    // the disk refuses (`status`); records wait in memory up to `value` MiB
        kWriteRecovered,  // the disk takes records again
        kMemoryFull,      // `value` records (`count` samples) were let go, each a gap
        kUnwrittenAtStop, // at the stop the disk still refused: `value` records (`count` samples) written nowhere
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
        kDayRemoved,      // the day beginning at `value` ns: `count` day files (`bytes`) removed, `paths`;
                          // for space (`for_space`) or its age; `status` a file that could not be removed
    };
    ArchiveNote(Kind k, std::int64_t v = 0, std::uint64_t seq = 0) : kind(k), value(v), sequence(seq) {}  // NOLINT
    Kind kind;
    std::int64_t value = 0;
    std::uint64_t sequence = 0;
    std::uint64_t count = 0;
    std::int64_t extra = 0;
    std::int64_t setting = 0;  // the value of the setting the note names
    std::filesystem::path path;
    Status status;
    std::vector<std::filesystem::path> paths;
    std::uint64_t bytes = 0;
    bool for_space = false;
};

class ArchiveSink final : public acq::Sink {
public:
    using Report = std::function<void(const ArchiveNote& note)>;

    ArchiveSink(ArchiveConfig config, std::filesystem::path root, Report report = {});
    ~ArchiveSink() override;  // Finish()

    void OnBlock(const acq::BlockPtr& block) override;
    void OnEvent(const acq::Event& event) override;

    // Packs what is held into records, short ones too, writes and syncs;
    // the clock's channels only when `everything` or ten minutes are held.
    void Flush(bool everything = true);
    static constexpr std::size_t kClockFlushSamples = 600;
    // Flushes for the last time: what the disk still refuses is written
    // nowhere, counted and said (kUnwrittenAtStop). Not while blocks arrive.
    void Finish();
    // Archives no more than this much data (ns); blocks after it are let go.
    void Limit(std::int64_t ns) {
        std::lock_guard lock(mutex_);
        limit_ns_ = ns;
    }
    ArchiveStatus Snapshot() const;
    // Each record once the disk has taken it, in the order written, on the
    // archive's thread: its stream, bytes, and first and last sample's times.
    // What live clients are served is exactly what the archive holds.
    using RecordTap = std::function<void(const StreamCodes& codes, const char* record, int length,
                                         std::int64_t start_ns, std::int64_t end_ns)>;
    void SetRecordTap(RecordTap tap) { tap_ = std::move(tap); }
    const ArchiveConfig& Config() const { return config_; }

private:
    struct Pending {
        std::size_t channel;
        std::int64_t start_ns;
        std::vector<char> bytes;
        std::uint64_t samples = 0;
        std::vector<std::pair<std::int64_t, std::int64_t>> times;  // each record's first and last sample
    };
    void Say(ArchiveNote note);
    void WritePending();
    // Removes the old days retention asks for, with room for what waits to
    // be written (`need_room`: a write was refused); whether any went.
    bool Retain(bool need_room);
    void Setup(const acq::AcqConfig& card);
    // The clock's channels for the seconds the block holds.
    void AddClock(const acq::Block& b, const mseed::Timing& timing);
    // The receiver's health from the messages that ended in the block.
    void AddGps(const acq::Block& b, const mseed::Timing& timing);

    ArchiveConfig config_;
    std::filesystem::path root_;
    Report report_;
    RecordTap tap_;
    sds::SdsWriter writer_;
    std::vector<std::pair<int, std::unique_ptr<mseed::ChannelPacker>>> packers_;  // card offset, packer
    // The clock's channels (LCE, LCQ, LCR), in packers_ after the data's.
    std::size_t clock_first_ = 0;
    mseed::ChannelPacker* lce_ = nullptr;
    mseed::ChannelPacker* lcq_ = nullptr;
    mseed::ChannelPacker* lcr_ = nullptr;
    std::vector<mseed::ChannelPacker*> gps_;  // by GpsChannelCodes(), null where switched off
    std::int64_t last_gps_second_ = INT64_MIN;
#ifdef ZQD_HAVE_RESAMPLE
    std::unique_ptr<GridResampler> resampler_;  // when the data go onto the GPS grid
    std::vector<float> frames_;
    void Resampled(const GridResampler::Output& o, const mseed::Timing& timing);
#endif
    // What the resampler still holds goes out (at a stop).
    void EndResampling();
    mseed::Timing last_timing_;
    std::deque<Pending> pending_;
    std::size_t pending_bytes_ = 0;
    std::vector<std::int32_t> scratch_;
    std::int64_t since_flush_ns_ = 0;  // data archived since the last flush
    std::int64_t limit_ns_ = -1;
    bool have_gps_ = false;
    bool last_own_ = false;
    acq::AcqConfig card_;
    std::unique_ptr<Retention> retention_;
    std::int64_t retained_day_ = INT64_MIN;  // the data's day when old days were last looked at
    mutable std::mutex mutex_;  // guards status_
    ArchiveStatus status_;
};

}  // namespace zqd::archive
