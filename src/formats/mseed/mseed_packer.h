// One channel's samples packed into miniSEED 2 records with libmseed:
// Steim-2 (or another integer encoding), big-endian, with blockette 1001 for
// the timing quality and the clock-locked flag of the fixed header. Samples
// that continue the series within half a sample period go into the same
// records (the continuity rule of timeline/); anything else starts a new
// series. No record spans midnight UTC, and none holds so many samples that
// their times, given at the nominal rate from its start, drift past the
// tolerance from the measured rate's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "formats/stream_codes.h"

namespace zqd::mseed {

struct PackOptions {
    int record_length = 512;  // 512 or 4096
    int encoding = 11;        // DE_STEIM2; 10 Steim-1, 3 32-bit integers
    // A series continues while the samples' times stay within this many ns
    // of its extrapolation at the nominal rate; 0: half a sample period.
    std::int64_t tolerance_ns = 0;
    char quality = 'D';  // the data quality code: 'Q' for samples a process has changed (resampled)
};

// How well the samples' time is known: 0 to 100, and whether the clock was
// locked to GPS.
struct Timing {
    int quality = 0;
    bool locked = false;
    bool operator==(const Timing&) const = default;
};

class ChannelPacker {
public:
    // Receives each record as it is made: its bytes and its first sample's time.
    using Emit = std::function<void(const char* record, int length, std::int64_t start_ns)>;

    ChannelPacker(StreamCodes codes, double sample_rate, PackOptions options, Emit emit);
    ~ChannelPacker();
    ChannelPacker(const ChannelPacker&) = delete;
    ChannelPacker& operator=(const ChannelPacker&) = delete;

    // Appends `n` samples, the first at `t_ns` (ns since 1970 UTC), taken
    // at `true_rate` samples a second (0: the nominal rate). What is held and
    // not continued by them, or has other timing, is packed first. A record's
    // start is the measured time of its first sample; the series it belongs
    // to is extrapolated at the nominal rate.
    void Add(std::int64_t t_ns, const std::int32_t* samples, std::size_t n, Timing timing, double true_rate = 0);
    // Packs every full record held; with `all` also the last, short one.
    void Pack(bool all);

    std::size_t Held() const { return held_.size() - held_begin_; }
    // Where the held series would continue, and whether there is one.
    bool Continues(std::int64_t t_ns) const;
    const StreamCodes& Codes() const { return codes_; }
    double SampleRate() const { return rate_; }
    std::uint64_t Records() const { return records_; }

    // Time of sample `index` of the current series, from the latest time
    // given at or before it.
    std::int64_t SampleTime(std::int64_t index) const;
    // The series' extrapolation at the nominal rate.
    std::int64_t NominalTime(std::int64_t index) const;

private:
    std::int64_t Tolerance() const;  // ns: the options', or half a sample period
    // The most samples a record may hold before the times its samples are
    // given (its start, then the nominal rate) drift past the tolerance from
    // the measured ones; 0: no limit.
    std::size_t RecordCap() const;
    // Packs records from the first `count` held samples (the last, short one
    // too with `flush`): how many samples went.
    std::int64_t PackSome(std::size_t count, bool flush);

    StreamCodes codes_;
    double rate_;
    PackOptions options_;
    Emit emit_;
    std::vector<std::int32_t> held_;  // from held_begin_ on: not yet packed
    std::size_t held_begin_ = 0;
    bool in_series_ = false;
    std::int64_t series_origin_ns_ = 0;
    std::int64_t series_packed_ = 0;  // samples of the series already packed out
    struct Mark {
        std::int64_t index;  // in the series
        std::int64_t t_ns;
        double rate;
    };
    std::vector<Mark> marks_;  // the times given, the first at or before series_packed_
    Timing timing_;
    std::uint64_t records_ = 0;
    void* msr_ = nullptr;  // the libmseed record template
};

}  // namespace zqd::mseed

namespace zqd::mseed {

// `text` as ASCII log records (sample rate 0) of `record_length` bytes,
// starting at `t_ns`: for messages that travel as miniSEED.
std::vector<std::string> PackText(const StreamCodes& codes, const std::string& text, std::int64_t t_ns,
                                  int record_length = 512);

}  // namespace zqd::mseed
