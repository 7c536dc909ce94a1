// The waveform model: every channel's samples as stretches of evenly spaced
// samples on the GPS time axis, each stretch with its min/max summaries. The
// samples stay where they are (blocks of the acquisition, a loaded record, a
// miniSEED file) and are read through a SampleSource only for the spans shown
// at fine zoom. Live blocks are appended as they arrive; old stretches can be
// let go from the front.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/block.h"
#include "view/summary_pyramid.h"

namespace zqd::view {

class BlockSource;

// Reads samples of one stretch of one channel.
class SampleSource {
public:
    virtual ~SampleSource() = default;
    // Samples [first, first + n) of the stretch into `out`.
    virtual void Read(std::uint64_t first, std::size_t n, std::int32_t* out) const = 0;
};

// Samples held in memory: a filtered span, a live filtered stretch.
class HeldSamples final : public SampleSource {
public:
    HeldSamples() = default;
    explicit HeldSamples(std::vector<std::int32_t> v) : values(std::move(v)) {}
    void Read(std::uint64_t first, std::size_t n, std::int32_t* out) const override {
        std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(first), n, out);
    }
    std::vector<std::int32_t> values;
};

struct Stretch {
    std::int64_t start_ns = 0;  // time of the first sample, ns since 1970 UTC
    double rate = 0;            // samples a second
    std::uint64_t count = 0;
    SummaryPyramid summary;
    std::shared_ptr<const SampleSource> source;

    std::int64_t TimeOf(double index) const;  // time of (fractional) sample `index`
    std::int64_t EndNs() const { return TimeOf(static_cast<double>(count)); }  // just after the last sample
    // Index of the first sample at or after `t_ns` (0 to count).
    std::uint64_t IndexAtOrAfter(std::int64_t t_ns) const;
};

struct Channel {
    std::string name;  // "GY0", "XX.ZQD01.00.GY0"
    int offset = -1;   // the card channel it is fed from, live
    std::deque<Stretch> stretches;  // in time order, not overlapping
};

// A run of samples drawn one by one: consecutive samples of one stretch.
struct SampleRun {
    std::int64_t start_ns = 0;
    double rate = 0;
    std::vector<std::int32_t> values;
};

// A span of time whose samples carry no GPS time of their own: it was
// carried from a neighbouring block or assumed.
struct TimeSpan {
    std::int64_t begin_ns = 0, end_ns = 0;
};

class WaveformModel {
public:
    int ChannelCount() const { return static_cast<int>(channels_.size()); }
    const Channel& At(int c) const { return channels_[static_cast<std::size_t>(c)]; }
    int AddChannel(std::string name, int offset = -1);
    // Appends a stretch to channel `c`; it must start after the channel's last one.
    Stretch& AddStretch(int c, std::int64_t start_ns, double rate, std::shared_ptr<const SampleSource> source);
    // The last stretch of channel `c`, for a loader to append to.
    Stretch& Back(int c) { return channels_[static_cast<std::size_t>(c)].stretches.back(); }
    void MarkCarried(std::int64_t begin_ns, std::int64_t end_ns);
    void MarkCarried(const std::vector<TimeSpan>& spans);

    // The whole time covered, over all channels; nullopt when empty.
    std::optional<TimeSpan> Extent() const;
    // The spans within [t0, t1) where any channel has samples, in time
    // order, each as long as samples follow each other: a gap in every
    // channel is a gap between two spans.
    std::vector<TimeSpan> Covered(std::int64_t t0, std::int64_t t1) const;
    const std::vector<TimeSpan>& Carried() const { return carried_; }
    std::uint64_t Samples() const;  // all channels
    std::size_t SummaryBytes() const;

    // Min/max per pixel column of channel `c` over [t0, t1): columns with no
    // sample are empty (a gap). When a column holds many samples the bounds
    // of the columns are rounded to the summaries' buckets (a fraction of a
    // column), so that nothing is read; finer, the samples are read.
    std::vector<MinMax> Envelope(int c, std::int64_t t0, std::int64_t t1, int width) const;
    // The samples of channel `c` in [t0, t1], one run per stretch; nullopt
    // when there are more than `limit` (draw the envelope instead).
    std::optional<std::vector<SampleRun>> SamplesIn(int c, std::int64_t t0, std::int64_t t1, std::size_t limit) const;
    // Smallest and largest value of channel `c` over [t0, t1).
    MinMax RangeIn(int c, std::int64_t t0, std::int64_t t1) const;
    // The sample of channel `c` nearest to `t_ns`, if one lies within one
    // sample period of it: its time and value.
    std::optional<std::pair<std::int64_t, std::int32_t>> ValueAt(int c, std::int64_t t_ns) const;

    // Live: appends one block to every channel that has a card offset. A block that
    // continues the last stretch in time joins it; stretches are cut at
    // `stretch_seconds` so that old ones can be let go whole.
    void AppendBlock(const acq::BlockPtr& block, double stretch_seconds = 60);
    // Lets go of the stretches that end before `t_ns`.
    void DropBefore(std::int64_t t_ns);

private:
    std::vector<Channel> channels_;
    std::vector<TimeSpan> carried_;
    std::vector<std::shared_ptr<BlockSource>> live_;  // the source of each channel's last live stretch
};

}  // namespace zqd::view
