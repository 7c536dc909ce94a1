#include "analysis/query.h"

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

QueryResult Refuse(std::string why) {
    QueryResult r;
    r.error = "查询未执行：" + why + "。";
    return r;
}

}  // namespace

QueryResult RunQuery(const QueryInput& in) {
    const auto start = SecondOfDay(in.from);
    if (!start) return Refuse("开始时间 " + in.from[0] + ":" + in.from[1] + ":" + in.from[2] + " 超出范围");
    const auto end = SecondOfDay(in.to);
    if (!end) return Refuse("结束时间 " + in.to[0] + ":" + in.to[1] + ":" + in.to[2] + " 超出范围");

    const auto& times = *in.blockTime;
    const auto& data = *in.blockData;
    if (in.BlockNum < 0 || times.size() < static_cast<std::size_t>(in.BlockNum) + 1)
        return Refuse("块时间表与当前块数 " + std::to_string(in.BlockNum) + " 不符，请重新打开记录文件");
    if (in.ChnNum <= 0) return Refuse("通道数 " + std::to_string(in.ChnNum) + " 无效");
    if (in.ChnPoints < 0) return Refuse("每通道点数 " + std::to_string(in.ChnPoints) + " 无效");

    QueryResult r;
    for (std::int32_t i = 0; i < in.BlockNum; ++i) {
        const GpsTime& t = times[static_cast<std::size_t>(i)];
        const std::int32_t sec = t.Hour * 3600 + t.Minute * 60 + t.Second;
        if (sec == *start) {
            r.startBlock = i;
            r.startFound = true;
        }
        if (sec == *end) {
            r.endBlock = i;
            r.endFound = true;
        }
    }

    const std::int64_t points =
        (static_cast<std::int64_t>(std::abs(r.startBlock - r.endBlock)) + 1) * in.ChnPoints;
    if (points > INT32_MAX) return Refuse("数据点数 " + std::to_string(points) + " 超出 32 位范围");
    r.DispPoints = static_cast<std::int32_t>(points);

    r.channelText = NumberText(LeadingNumber(in.channel));
    const auto c = RoundToInt16(LeadingNumber(r.channelText));
    if (!c) return Refuse("通道号 " + r.channelText + " 超出 -32768 到 32767");

    // Shift to the whole GPS second: D whole sample periods P, the rest in StartNS.
    // The reduction ends with StartNS in [-P/2, P/2), so an NS that is an odd
    // multiple of P/2 rounds the shift up and a negative NS shifts the other way.
    r.StartNS = times[static_cast<std::size_t>(r.startBlock)].NS;
    int d = 0;
    if (r.startBlock != 0 && in.ChnPoints > 0) {
        const double p = 1e9 / in.ChnPoints;
        while (r.StartNS >= p / 2 || r.StartNS < -p / 2) {
            const bool down = r.StartNS >= p / 2;
            const auto next = RoundToInt32(r.StartNS + (down ? -p : p));
            d += down ? 1 : -1;
            if (!next || d > 32767 || d < -32768 || std::abs(in.ChnNum * d) > 32767)
                return Refuse("开始块的纳秒数 " + std::to_string(times[static_cast<std::size_t>(r.startBlock)].NS) +
                              " 需要的移位超出 16 位范围");
            r.StartNS = *next;
        }
    }
    r.shift = static_cast<std::int16_t>(d);

    const std::int64_t step = in.ChnNum;
    const std::int64_t shiftValues = step * d;
    const std::int64_t first = static_cast<std::int64_t>(r.startBlock) * in.ChnPoints * step - shiftValues;
    const std::int64_t last = (static_cast<std::int64_t>(r.endBlock) + 1) * in.ChnPoints * step - 1 - shiftValues;
    if (first < INT32_MIN || first > INT32_MAX || last < INT32_MIN || last > INT32_MAX)
        return Refuse("读取位置超出 32 位范围");

    // Every read is checked before the series is made, so a refused query
    // allocates nothing either.
    const bool copies = r.endBlock >= r.startBlock && r.DispPoints > 0;
    const std::int64_t lo = first + *c;
    const std::int64_t hi = first + (static_cast<std::int64_t>(r.DispPoints) - 1) * step + *c;
    if (copies && (lo < 0 || hi >= static_cast<std::int64_t>(data.size())))
        return Refuse("通道 " + r.channelText + " 的数据位置 " + std::to_string(lo) + " 到 " +
                      std::to_string(hi) + " 超出记录（0 到 " + std::to_string(data.size() - 1) + "）");
    try {
        r.DispData.assign(static_cast<std::size_t>(r.DispPoints), 0);
    } catch (const std::bad_alloc&) {
        return Refuse("内存不足");
    } catch (const std::length_error&) {
        return Refuse("数据点数超出本程序能容纳的范围");
    }
    if (copies) {
        const std::int32_t* src = data.data() + lo;
        for (std::int32_t j = 0; j < r.DispPoints; ++j) r.DispData[static_cast<std::size_t>(j)] = src[j * step];
    }
    r.ok = true;
    return r;
}

}  // namespace zqd
