#include "convert/convert.h"

#include <algorithm>

#include "common/utc.h"
#include "convert/writers.h"
#include "formats/mseed/mseed_scan.h"
#include "formats/t1dat/record_times.h"
#include "formats/t1dat/t1dat_reader.h"
#include "platform/text.h"
#include "timeline/timeline.h"

namespace zqd::convert {

using Code = Status::Code;
using Why = Status::Why;

namespace {

enum class Timed { kOwn, kInferred, kAssumed };

// Every block's time and how it was had; the notes for blocks whose time was not their own.
struct Dating {
    std::vector<std::int64_t> ns;
    std::vector<Timed> how;
};

Result<Dating> DateBlocks(const std::filesystem::path& file, const t1dat::Recording& rec, const ConvertOptions& o,
                          ConvertSummary& sum, const std::function<void(const ConvertNote&)>& say) {
    const int blocks = rec.BlockNum;
    const t1dat::RecordTimes times = t1dat::BlockTimesOf(rec, o.chn_num);
    Dating d{times.ns, std::vector<Timed>(static_cast<std::size_t>(blocks), Timed::kOwn)};
    if (times.timed == 0) {
        if (!o.assume_start_ns) return Status::Fail(Code::kFileRefused, Why::kNoTimeAssume);
        for (int k = 0; k < blocks; ++k) {
            d.ns[static_cast<std::size_t>(k)] = *o.assume_start_ns + k * t1dat::kBlockNs;
            d.how[static_cast<std::size_t>(k)] = Timed::kAssumed;
        }
        ConvertNote note{ConvertNote::Kind::kAssumed, file};
        note.time_ns = *o.assume_start_ns;
        say(note);
        return d;
    }
    for (int k = 0; k < blocks; ++k) {
        if (times.Own(k)) continue;
        d.how[static_cast<std::size_t>(k)] = Timed::kInferred;
        ++sum.inferred_blocks;
        ConvertNote note{ConvertNote::Kind::kInferred, file};
        note.block = k;
        note.from = times.from[static_cast<std::size_t>(k)];
        note.time_ns = d.ns[static_cast<std::size_t>(k)];
        say(note);
    }
    return d;
}

// Segments: blocks whose times follow each other by one block, by the continuity rule.
std::vector<std::pair<int, int>> SegmentsOf(const std::vector<std::int64_t>& t, double rate) {
    std::vector<std::pair<int, int>> segments;  // [first, last]
    for (std::size_t k = 0; k < t.size(); ++k) {
        if (k > 0 && timeline::Continues(t[k - 1] + t1dat::kBlockNs, t[k], rate))
            segments.back().second = static_cast<int>(k);
        else
            segments.push_back({static_cast<int>(k), static_cast<int>(k)});
    }
    return segments;
}

// The channels to write: card offset and SEED code. A chosen offset without
// a configured code (the GPS slot) is "?YX".
std::vector<std::pair<int, std::string>> ChannelsOf(const ConvertOptions& o, double rate) {
    std::vector<std::pair<int, std::string>> chans;
    if (!o.channels.empty()) {
        for (int c : o.channels) {
            const auto it = o.records.channels.find(c);
            chans.push_back({c, it != o.records.channels.end() ? it->second : std::string{records::BandCode(rate), 'Y', 'X'}});
        }
    } else {
        for (const auto& [c, code] : o.records.channels)
            if (c < o.chn_num) chans.push_back({c, code});
    }
    return chans;
}

mseed::Timing TimingOf(Timed how) {
    return mseed::Timing{how == Timed::kOwn ? 100 : how == Timed::kInferred ? 50 : 0, how == Timed::kOwn};
}

}  // namespace

Status ConvertRecord(const std::filesystem::path& file, const ConvertOptions& o, ConvertSummary& sum,
                     const std::function<void(const ConvertNote&)>& say) {
    auto refuse = [&](Status why) {
        ++sum.refused;
        Status s = Status::Fail(Code::kFileRefused, Why::kConvertRefused).About(platform::PathText(file)).Because(std::move(why));
        ConvertNote note{ConvertNote::Kind::kRefused, file};
        note.status = s;
        say(note);
        return s;
    };
    // A miniSEED file is data already: not a record to be read with a record's rules.
    if (mseed::FileLooksLikeMseed(file)) return refuse(Status::Fail(Code::kFileRefused, Why::kMseedNotRecord));
    auto rec = t1dat::ReadRecordFile(file, static_cast<std::int16_t>(o.chn_num));
    if (!rec) return refuse(rec.status());
    if (rec->BlockNum == 0 || rec->ChnPoints == 0) return refuse(Status::Fail(Code::kFileRefused, Why::kEmptyRecord));
    auto dating = DateBlocks(file, *rec, o, sum, say);
    if (!dating) return refuse(dating.status());

    const double rate = t1dat::RecordRate(*rec);
    const auto segments = SegmentsOf(dating->ns, rate);
    const auto chans = ChannelsOf(o, rate);
    const std::int64_t points = rec->ChnPoints;
    const std::int64_t n = static_cast<std::int64_t>(o.chn_num) * points;

    auto writer = MakeWriter(o.format, WriteOptions{o.out, o.records.pack, o.volts});
    if (!writer) return refuse(Status::Fail(Code::kQueryRefused, Why::kUnknownFormat).About(o.format));
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    for (const auto& [first, last] : segments) {
        Segment seg;
        seg.rate = rate;
        for (const auto& [offset, code] : chans) {
            StreamCodes codes = o.records.station;
            codes.channel = code;
            seg.channels.push_back(codes);
        }
        for (int k = first; k <= last; ++k)
            seg.pieces.push_back({static_cast<std::uint64_t>((k - first) * points), static_cast<std::uint64_t>(points),
                                  dating->ns[static_cast<std::size_t>(k)], 0, TimingOf(dating->how[static_cast<std::size_t>(k)])});
        seg.name = o.records.station.network + "." + o.records.station.station + "." + utc::Stamp(seg.StartNs());
        // A channel's samples, gathered from the scans block by block.
        seg.read = [&, first = first](std::size_t c, std::uint64_t from, std::size_t count, std::int32_t* out) {
            const auto per_block = static_cast<std::uint64_t>(points);
            for (std::size_t i = 0; i < count;) {
                const std::uint64_t s = from + i;
                const std::int64_t k = first + static_cast<std::int64_t>(s / per_block);
                const std::uint64_t scan = s % per_block;
                const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(count - i, per_block - scan));
                const std::int32_t* p = rec->BlockData.data() + k * n + static_cast<std::int64_t>(scan) * o.chn_num + chans[c].first;
                for (std::size_t j = 0; j < take; ++j, p += o.chn_num) out[i + j] = *p;
                i += take;
            }
        };
        if (Status s = writer->Write(seg); !s.ok()) return refuse(std::move(s));
    }
    if (Status s = writer->Finish(); !s.ok()) return refuse(std::move(s));

    const int blocks = rec->BlockNum;
    ++sum.files;
    sum.channels += chans.size();
    sum.segments += segments.size();
    sum.samples += static_cast<std::uint64_t>(blocks) * static_cast<std::uint64_t>(points) * chans.size();
    sum.outputs += writer->Files();
    ConvertNote done{ConvertNote::Kind::kDone, file};
    done.block = blocks;
    done.channels = chans.size();
    done.segments = segments.size();
    done.outputs = writer->Files();
    say(done);
    return Status::Ok();
}

}  // namespace zqd::convert
