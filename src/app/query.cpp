#include "app/query.h"

#include <cmath>
#include <cstdlib>
#include <optional>

#include "common/numtext.h"

namespace zqd {

namespace {

std::optional<std::int32_t> SecondOfDay(const std::array<std::string, 3>& t) {
    const double h = LeadingNumber(t[0]);
    const double m = LeadingNumber(t[1]);
    const double s = LeadingNumber(t[2]);
    return RoundToInt32(h * 60 * 60 + m * 60 + s);
}

using Why = Status::Why;

Status Refuse(Why why) { return Status::Fail(Status::Code::kQueryRefused, why); }

// The start and end blocks: the last block whose time of day is each time
// (block 0 where none is).
void FindBlocks(const QueryInput& in, std::int32_t start, std::int32_t end, QueryResult& r) {
    const auto& times = *in.blockTime;
    for (std::int32_t i = 0; i < in.BlockNum; ++i) {
        const gps::GpsTime& t = times[static_cast<std::size_t>(i)];
        const std::int32_t sec = t.Hour * 3600 + t.Minute * 60 + t.Second;
        if (sec == start) {
            r.startBlock = i;
            r.startFound = true;
        }
        if (sec == end) {
            r.endBlock = i;
            r.endFound = true;
        }
    }
}

// Shift to the whole GPS second: D whole sample periods P, the rest in StartNS.
// The reduction ends with StartNS in [-P/2, P/2), so an NS that is an odd
// multiple of P/2 rounds the shift up and a negative NS shifts the other way.
Status ShiftToTheSecond(const QueryInput& in, QueryResult& r) {
    const std::int32_t ns = (*in.blockTime)[static_cast<std::size_t>(r.startBlock)].NS;
    r.StartNS = ns;
    int d = 0;
    if (r.startBlock != 0 && in.ChnPoints > 0) {
        const double p = 1e9 / in.ChnPoints;
        while (r.StartNS >= p / 2 || r.StartNS < -p / 2) {
            const bool down = r.StartNS >= p / 2;
            const auto next = RoundToInt32(r.StartNS + (down ? -p : p));
            d += down ? 1 : -1;
            if (!next || d > 32767 || d < -32768 || std::abs(in.ChnNum * d) > 32767)
                return Refuse(Why::kQueryShiftWide).Value(ns);
            r.StartNS = *next;
        }
    }
    r.shift = static_cast<std::int16_t>(d);
    return Status::Ok();
}

// The series: every ChnNum-th value from the shifted start, channel `c`.
// Every read is checked before the series is made, so a refused query
// allocates nothing either.
Status CopySeries(const QueryInput& in, std::int16_t c, QueryResult& r) {
    const auto& data = *in.blockData;
    const std::int64_t step = in.ChnNum;
    const std::int64_t shiftValues = step * r.shift;
    const std::int64_t first = static_cast<std::int64_t>(r.startBlock) * in.ChnPoints * step - shiftValues;
    const std::int64_t last = (static_cast<std::int64_t>(r.endBlock) + 1) * in.ChnPoints * step - 1 - shiftValues;
    if (first < INT32_MIN || first > INT32_MAX || last < INT32_MIN || last > INT32_MAX) return Refuse(Why::kQueryReadWide);
    const bool copies = r.endBlock >= r.startBlock && r.DispPoints > 0;
    const std::int64_t lo = first + c;
    const std::int64_t hi = first + (static_cast<std::int64_t>(r.DispPoints) - 1) * step + c;
    if (copies && (lo < 0 || hi >= static_cast<std::int64_t>(data.size())))
        return Refuse(Why::kQueryBeyondRecord).About(r.channelText).Values(lo, hi, static_cast<std::int64_t>(data.size()) - 1);
    try {
        r.DispData.assign(static_cast<std::size_t>(r.DispPoints), 0);
    } catch (const std::bad_alloc&) {
        return Refuse(Why::kQueryOutOfMemory);
    } catch (const std::length_error&) {
        return Refuse(Why::kQueryTooLarge);
    }
    if (copies) {
        const std::int32_t* src = data.data() + lo;
        for (std::int32_t j = 0; j < r.DispPoints; ++j) r.DispData[static_cast<std::size_t>(j)] = src[j * step];
    }
    return Status::Ok();
}

}  // namespace

Result<QueryResult> RunQuery(const QueryInput& in) {
    const auto start = SecondOfDay(in.from);
    if (!start) return Refuse(Why::kQueryStartRange).About(in.from[0] + ":" + in.from[1] + ":" + in.from[2]);
    const auto end = SecondOfDay(in.to);
    if (!end) return Refuse(Why::kQueryEndRange).About(in.to[0] + ":" + in.to[1] + ":" + in.to[2]);
    if (in.BlockNum < 0 || in.blockTime->size() < static_cast<std::size_t>(in.BlockNum) + 1)
        return Refuse(Why::kQueryTimesStale).Value(in.BlockNum);
    if (in.ChnNum <= 0) return Refuse(Why::kQueryChnNum).Value(in.ChnNum);
    if (in.ChnPoints < 0) return Refuse(Why::kQueryChnPoints).Value(in.ChnPoints);

    QueryResult r;
    FindBlocks(in, *start, *end, r);
    const std::int64_t points = (static_cast<std::int64_t>(std::abs(r.startBlock - r.endBlock)) + 1) * in.ChnPoints;
    if (points > INT32_MAX) return Refuse(Why::kQueryPointsWide).Value(points);
    r.DispPoints = static_cast<std::int32_t>(points);

    r.channelText = NumberText(LeadingNumber(in.channel));
    const auto c = RoundToInt16(LeadingNumber(r.channelText));
    if (!c) return Refuse(Why::kQueryChannelRange).About(r.channelText);
    if (Status s = ShiftToTheSecond(in, r); !s.ok()) return s;
    if (Status s = CopySeries(in, *c, r); !s.ok()) return s;
    return r;
}

}  // namespace zqd
