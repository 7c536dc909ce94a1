#include "formats/mseed/mseed_packer.h"
#include "formats/mseed/mseed_scan.h"

#include <libmseed.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstring>

#include "common/utc.h"
#include "timeline/timeline.h"

namespace zqd::mseed {

namespace {

struct Sink {
    const ChannelPacker* packer;
    ChannelPacker::Emit* emit;
    std::uint64_t* records;
    std::int64_t next_index;  // sample index in the series of the record's first sample
    std::int64_t (*time_of)(const ChannelPacker*, std::int64_t);
};

void Put16(char* at, int v) {
    at[0] = static_cast<char>((v >> 8) & 0xFF);
    at[1] = static_cast<char>(v & 0xFF);
}

// Writes `ns` as the record's start: the fixed header's BTIME (bytes 20-29,
// big-endian, in 0.0001 s) and the microseconds of blockette 1001. libmseed
// times every record of one packing from the first at the nominal rate; a
// card whose clock is measured gives each record its own.
void SetStart(char* record, int length, std::int64_t ns) {
    std::int64_t whole = utc::FloorDiv(ns, 1000);
    if (ns - whole * 1000 >= 500) ++whole;  // to the nearest microsecond, safe at the ends of time
    const auto us = static_cast<hptime_t>(whole);
    const hptime_t tenth = utc::FloorDiv(us, 100) * 100;
    BTime bt{};
    ms_hptime2btime(tenth, &bt);
    Put16(record + 20, bt.year);
    Put16(record + 22, bt.day);
    record[24] = static_cast<char>(bt.hour);
    record[25] = static_cast<char>(bt.min);
    record[26] = static_cast<char>(bt.sec);
    record[27] = 0;
    Put16(record + 28, bt.fract);
    const auto* h = reinterpret_cast<const unsigned char*>(record);
    int at = (h[46] << 8) | h[47];
    for (int hops = 0; at >= 48 && at + 6 <= length && hops < 8; ++hops) {
        const int type = (h[at] << 8) | h[at + 1];
        if (type == 1001) {
            record[at + 5] = static_cast<char>(us - tenth);
            return;
        }
        at = (h[at + 2] << 8) | h[at + 3];
    }
}

void Handler(char* record, int length, void* data) {
    auto* sink = static_cast<Sink*>(data);
    // The record's sample count, from its fixed header (bytes 30-31, big-endian).
    const auto* h = reinterpret_cast<const unsigned char*>(record);
    const std::int64_t samples = (h[30] << 8) | h[31];
    const std::int64_t start_ns = sink->time_of(sink->packer, sink->next_index);
    SetStart(record, length, start_ns);
    sink->next_index += samples;
    ++*sink->records;
    (*sink->emit)(record, length, start_ns);
}

void CopyCode(char* out, const std::string& code) {
    std::memset(out, 0, 11);
    std::strncpy(out, code.c_str(), 10);
}

}  // namespace

ChannelPacker::ChannelPacker(StreamCodes codes, double sample_rate, PackOptions options, Emit emit)
    : codes_(std::move(codes)), rate_(sample_rate), options_(options), emit_(std::move(emit)) {
    QuietLibmseed();
    MSRecord* msr = msr_init(nullptr);
    CopyCode(msr->network, codes_.network);
    CopyCode(msr->station, codes_.station);
    CopyCode(msr->location, codes_.location);
    CopyCode(msr->channel, codes_.channel);
    msr->dataquality = options_.quality;
    msr->samprate = rate_;
    msr->reclen = options_.record_length;
    msr->encoding = static_cast<std::int8_t>(options_.encoding);
    msr->byteorder = 1;
    msr->sampletype = 'i';
    msr->fsdh = static_cast<struct fsdh_s*>(std::calloc(1, sizeof(struct fsdh_s)));
    blkt_1001_s b1001{};
    msr_addblockette(msr, reinterpret_cast<char*>(&b1001), sizeof b1001, 1001, 0);
    msr_ = msr;
}

ChannelPacker::~ChannelPacker() {
    Pack(true);
    MSRecord* msr = static_cast<MSRecord*>(msr_);
    msr->datasamples = nullptr;
    msr_free(&msr);
}

std::int64_t ChannelPacker::NominalTime(std::int64_t index) const {
    return timeline::SampleTime(series_origin_ns_, static_cast<double>(index), rate_);
}

std::int64_t ChannelPacker::SampleTime(std::int64_t index) const {
    const Mark* m = nullptr;
    for (const Mark& k : marks_) {
        if (k.index > index) break;
        m = &k;
    }
    if (!m) return NominalTime(index);
    return timeline::SampleTime(m->t_ns, static_cast<double>(index - m->index), m->rate);
}

bool ChannelPacker::Continues(std::int64_t t_ns) const {
    if (!in_series_) return false;
    const std::int64_t expected = NominalTime(series_packed_ + static_cast<std::int64_t>(Held()));
    return timeline::Within(expected, t_ns, Tolerance());
}

void ChannelPacker::Add(std::int64_t t_ns, const std::int32_t* samples, std::size_t n, Timing timing, double true_rate) {
    const double period = 1e9 / rate_;
    const double mark_rate = true_rate > 0 ? true_rate : rate_;
    bool marked = false;
    while (n > 0) {
        if (in_series_ && (!Continues(t_ns) || !(timing == timing_))) {
            Pack(true);
            if (!Continues(t_ns)) in_series_ = false;
        }
        if (!in_series_) {
            in_series_ = true;
            series_origin_ns_ = t_ns;
            series_packed_ = 0;
            marks_.clear();
        }
        if (!marked) {
            // These samples' own time: records that begin among them start there.
            marked = true;
            const std::int64_t at = series_packed_ + static_cast<std::int64_t>(Held());
            std::size_t keep = 0;  // the marks before the last one at or before what is packed go
            while (keep + 1 < marks_.size() && marks_[keep + 1].index <= series_packed_) ++keep;
            marks_.erase(marks_.begin(), marks_.begin() + static_cast<std::ptrdiff_t>(keep));
            marks_.push_back({at, t_ns, mark_rate});
        }
        timing_ = timing;
        // Samples before the next midnight UTC go into this day's records.
        const std::int64_t index = series_packed_ + static_cast<std::int64_t>(Held());
        const std::int64_t first = SampleTime(index);
        const std::int64_t day = utc::FloorDiv(first, utc::kNsPerDay);
        const std::int64_t midnight = day >= std::numeric_limits<std::int64_t>::max() / utc::kNsPerDay
                                          ? std::numeric_limits<std::int64_t>::max()  // no midnight within 64-bit time
                                          : (day + 1) * utc::kNsPerDay;
        auto today = static_cast<std::size_t>(std::ceil(static_cast<double>(midnight - first) / period - 1e-6));
        if (today == 0) today = 1;
        const std::size_t take = std::min(n, today);
        if (held_begin_ > 0 && held_begin_ >= held_.size() / 2) {  // move the rest down now and then, not at every record
            held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(held_begin_));
            held_begin_ = 0;
        }
        held_.insert(held_.end(), samples, samples + take);
        samples += take;
        n -= take;
        t_ns = SampleTime(index + static_cast<std::int64_t>(take));
        if (take == today) Pack(true);  // the day is complete: no record crosses midnight
    }
    Pack(false);
}

std::int64_t ChannelPacker::Tolerance() const {
    return options_.tolerance_ns > 0 ? options_.tolerance_ns : timeline::HalfPeriodNs(rate_);
}

std::size_t ChannelPacker::RecordCap() const {
    // A record's samples are timed from its start at the nominal rate; the
    // card's measured rate takes them off by this much a sample.
    double drift = 0;
    for (const Mark& m : marks_)
        if (m.rate > 0) drift = std::max(drift, std::abs(1e9 / m.rate - 1e9 / rate_));
    if (!(drift > 0)) return 0;
    const double cap = 1 + std::floor(static_cast<double>(Tolerance()) / drift);
    return cap >= 1e9 ? 0 : static_cast<std::size_t>(cap);
}

std::int64_t ChannelPacker::PackSome(std::size_t count, bool flush) {
    MSRecord* msr = static_cast<MSRecord*>(msr_);
    msr->starttime = static_cast<hptime_t>(std::llround(static_cast<double>(SampleTime(series_packed_)) / 1000.0));
    msr->datasamples = held_.data() + held_begin_;
    msr->numsamples = static_cast<std::int64_t>(count);
    msr->samplecnt = msr->numsamples;
    msr->Blkt1001->timing_qual = static_cast<std::uint8_t>(timing_.quality);
    msr->fsdh->io_flags = timing_.locked ? 0x20 : 0x00;
    std::int64_t packed = 0;
    Sink sink{this, &emit_, &records_, series_packed_,
              [](const ChannelPacker* p, std::int64_t index) { return p->SampleTime(index); }};
    msr_pack(msr, Handler, &sink, &packed, flush ? 1 : 0, 0);
    msr->datasamples = nullptr;
    msr->numsamples = 0;
    if (packed <= 0) return 0;
    held_begin_ += static_cast<std::size_t>(packed);
    if (held_begin_ == held_.size()) {
        held_.clear();
        held_begin_ = 0;
    }
    series_packed_ += packed;
    return packed;
}

void ChannelPacker::Pack(bool all) {
    if (Held() == 0) return;
    const std::size_t cap = RecordCap();
    if (cap == 0) {
        PackSome(Held(), all);
        return;
    }
    // No record holds more samples than its times allow: full records as
    // long as they fit within the cap, else one of the cap's length.
    while (Held() > 0) {
        const std::size_t chunk = std::min(Held(), cap);
        if (PackSome(chunk, false) > 0) continue;
        if (Held() < cap && !all) return;
        PackSome(chunk, true);
    }
}

}  // namespace zqd::mseed

namespace zqd::mseed {

namespace {
void TextHandler(char* record, int length, void* data) {
    static_cast<std::vector<std::string>*>(data)->emplace_back(record, static_cast<std::size_t>(length));
}
}  // namespace

std::vector<std::string> PackText(const StreamCodes& codes, const std::string& text, std::int64_t t_ns,
                                  int record_length) {
    QuietLibmseed();
    std::vector<std::string> records;
    MSRecord* msr = msr_init(nullptr);
    CopyCode(msr->network, codes.network);
    CopyCode(msr->station, codes.station);
    CopyCode(msr->location, codes.location);
    CopyCode(msr->channel, codes.channel);
    msr->dataquality = 'D';
    msr->samprate = 0;
    msr->reclen = record_length;
    msr->encoding = DE_ASCII;
    msr->byteorder = 1;
    msr->sampletype = 'a';
    msr->starttime = static_cast<hptime_t>(utc::FloorDiv(t_ns, 1000));
    std::string copy = text.empty() ? std::string(" ") : text;
    msr->datasamples = copy.data();
    msr->numsamples = static_cast<std::int64_t>(copy.size());
    std::int64_t packed = 0;
    msr_pack(msr, TextHandler, &records, &packed, 1, 0);
    msr->datasamples = nullptr;
    msr_free(&msr);
    return records;
}

}  // namespace zqd::mseed
