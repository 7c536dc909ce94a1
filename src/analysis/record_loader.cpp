#include "analysis/record_loader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "common/platform.h"
#include "common/safe_file.h"
#include "common/utc.h"
#include "recording/record_file.h"

namespace zqd {

namespace {

// A little-endian 32-bit value.
std::uint32_t Load32(const unsigned char* at) {
    std::uint32_t v;
    std::memcpy(&v, at, 4);
    if constexpr (std::endian::native == std::endian::big)
        v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    return v;
}

std::uint32_t GetLE(const unsigned char* at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | at[i];
    return v;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::optional<Recording> ReadRecordFile(const std::filesystem::path& path, std::int16_t chnNum,
                                           std::string& error) {
    const std::string name = platform::PathText(path);
    auto refuse = [&](const std::string& why) {
        error = "无法打开记录文件 " + name + "：" + why + "，原有数据未改变。";
        return std::nullopt;
    };

    std::error_code ec;
    if (std::string why; !ReadableFile(path, why)) return refuse(why);
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) return refuse("无法读取文件大小（" + ec.message() + "）");
    std::unique_ptr<std::FILE, FileCloser> file(platform::OpenFile(path, "rb"));
    if (!file) return refuse(platform::LastErrorText());
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // large reads go straight to the caller's buffer

    if (size < RecordOffset(2) + 4)
        return refuse("文件只有 " + std::to_string(size) + " 字节，不足以容纳文件头");
    std::array<unsigned char, kRecordBytes + 4> head{};
    if (std::fread(head.data(), 1, head.size(), file.get()) != head.size())
        return refuse("读取文件头失败");

    Recording rec;
    rec.ChnNum = chnNum;
    rec.BlockNum = static_cast<std::int16_t>(GetLE(&head[0], 2));
    rec.ChnPoints = static_cast<std::int32_t>(GetLE(&head[kRecordBytes], 4));
    if (rec.BlockNum < 0) return refuse("文件头中的块数 " + std::to_string(rec.BlockNum) + " 为负");
    if (rec.ChnPoints < 0)
        return refuse("文件头中的每通道点数 " + std::to_string(rec.ChnPoints) + " 为负");
    std::string why;
    const auto n = BlockSamples(chnNum, rec.ChnPoints, why);
    const auto last = n ? RecordLastIndex(*n, rec.BlockNum, why) : std::nullopt;
    if (!last) return refuse(why);

    const std::uint64_t records = static_cast<std::uint64_t>(*last) + 1;
    const std::uint64_t needed = RecordOffset(records + 2) + 4;  // up to the last value
    if (size < needed)
        return refuse("文件头说明有 " + std::to_string(records) + " 个样本记录，需要 " +
                      std::to_string(needed) + " 字节，文件只有 " + std::to_string(size) + " 字节");

    if (!SamplesAddressable(records, sizeof(void*) * 8, why)) return refuse(why);
    try {
        rec.BlockData.assign(static_cast<std::size_t>(records), 0);
    } catch (const std::bad_alloc&) {
        return refuse("内存不足，无法容纳 " + std::to_string(records) + " 个样本");
    } catch (const std::length_error&) {
        return refuse("本程序无法容纳 " + std::to_string(records) + " 个样本");
    }

    // Sample records start at record 3. They are read straight into a buffer
    // that stays in the processor's cache, 4096 records (512 KiB) at a time:
    // as fast as reading the file at all, where a memory map read with a
    // stride waits on memory at every record. A large record is read as two
    // halves at once, the second through a handle of its own.
    constexpr std::size_t kChunkRecords = 4096;
    auto read_range = [&](std::FILE* f, std::size_t from, std::size_t to) {
        std::vector<unsigned char> chunk(kChunkRecords * kRecordBytes);
        if (!platform::SeekTo(f, RecordOffset(3 + from))) return false;
        for (std::size_t i = from; i < to;) {
            const std::size_t want = std::min(kChunkRecords, to - i);
            // The last record may end early; its value bytes are all that is needed.
            const std::size_t got = std::fread(chunk.data(), 1, want * kRecordBytes, f);
            const std::size_t whole = got / kRecordBytes + (got % kRecordBytes >= 4 ? 1 : 0);
            if (whole < want) return false;
            for (std::size_t r = 0; r < want; ++r)
                rec.BlockData[i + r] = static_cast<std::int32_t>(Load32(&chunk[r * kRecordBytes]));
            i += want;
        }
        return true;
    };
    const auto all = static_cast<std::size_t>(records);
    std::size_t half = all;
    std::unique_ptr<std::FILE, FileCloser> second;
    if (all >= 8 * kChunkRecords) {
        second.reset(platform::OpenFile(path, "rb"));
        if (second) {
            std::setvbuf(second.get(), nullptr, _IONBF, 0);
            half = all / 2;
        }
    }
    bool second_ok = true;
    std::thread helper;
    if (half < all) helper = std::thread([&] { second_ok = read_range(second.get(), half, all); });
    const bool first_ok = read_range(file.get(), 0, half);
    if (helper.joinable()) helper.join();
    if (!first_ok || !second_ok) return refuse("读取样本记录失败");
    return rec;
}

std::optional<std::int64_t> GpsTimeNs(const GpsTime& g) {
    if (g.Month < 1 || g.Month > 12 || g.Day < 1 || g.Day > 31 || g.Hour < 0 || g.Hour > 23 || g.Minute < 0 ||
        g.Minute > 59 || g.Second < 0 || g.Second > 60 || g.NS < 0 || g.NS >= 1000000000 || g.Year < 1)
        return std::nullopt;
    utc::Civil c;
    c.year = g.Year;
    c.month = static_cast<unsigned>(g.Month);
    c.day = static_cast<unsigned>(g.Day);
    c.hour = static_cast<unsigned>(g.Hour);
    c.minute = static_cast<unsigned>(g.Minute);
    c.second = static_cast<unsigned>(g.Second);
    c.ns = g.NS;
    return utc::ToNs(c);
}

RecordTimes BlockTimesOf(const Recording& rec, std::int32_t chnNum) {
    const int blocks = rec.BlockNum;
    const std::int64_t n = static_cast<std::int64_t>(chnNum) * rec.ChnPoints;
    RecordTimes r;
    r.ns.assign(static_cast<std::size_t>(std::max(blocks, 0)), 0);
    r.from.assign(r.ns.size(), -1);
    for (int k = 0; k < blocks; ++k) {
        const auto t = DecodeBlockTime(rec.BlockData.data() + k * n, chnNum, rec.ChnPoints);
        if (const auto ns = t ? GpsTimeNs(*t) : std::nullopt) {
            r.ns[static_cast<std::size_t>(k)] = *ns;
            r.from[static_cast<std::size_t>(k)] = k;
            ++r.timed;
        }
    }
    if (r.timed == 0) return r;
    for (int k = 0; k < blocks; ++k) {
        if (r.Own(k)) continue;
        int best = -1;
        for (int d = 1; d < blocks && best < 0; ++d) {
            if (k - d >= 0 && r.Own(k - d)) best = k - d;
            else if (k + d < blocks && r.Own(k + d)) best = k + d;
        }
        r.ns[static_cast<std::size_t>(k)] = r.ns[static_cast<std::size_t>(best)] + (k - best) * utc::kNsPerSecond;
        r.from[static_cast<std::size_t>(k)] = best;
    }
    return r;
}

bool SamplesAddressable(std::uint64_t samples, unsigned pointerBits, std::string& why) {
    // Half the address space at most for the samples of a record: a 32-bit
    // program has 2 to 4 GiB in all, shared with everything else.
    const std::uint64_t limit = pointerBits >= 64 ? (std::uint64_t{1} << 40) : (std::uint64_t{1} << (pointerBits - 2));
    if (samples <= limit / sizeof(std::int32_t)) return true;
    why = "记录有 " + std::to_string(samples) + " 个样本，需要 " + std::to_string(samples * sizeof(std::int32_t)) +
          " 字节内存，超出本程序（" + std::to_string(pointerBits) + " 位）能容纳的 " + std::to_string(limit) + " 字节";
    return false;
}

std::optional<GpsTime> DecodeBlockTime(const std::int32_t* block, std::int32_t chnNum,
                                       std::int32_t chnPoints) {
    if (chnNum <= 0 || chnPoints <= 0) return std::nullopt;
    // Only the first 15 message values matter: header, date, time and NS.
    std::array<std::int64_t, 15> msg{};
    int len = 0;
    const std::int64_t n = static_cast<std::int64_t>(chnNum) * chnPoints;
    for (std::int64_t j = 0; j <= n - 1 && len < 15; j += chnNum) {
        const std::int32_t v = block[j + 1];
        if (v == 4096) continue;  // no byte arrived in this sample
        msg[static_cast<std::size_t>(len++)] = v;
        if (len == 4 && !(msg[0] == 64 && msg[1] == 64 && msg[2] == 72 && msg[3] == 97))
            return std::nullopt;  // the block does not start with its own @@Ha
    }
    if (len < 15) return std::nullopt;

    auto fits16 = [](std::int64_t v) { return v >= -32768 && v <= 32767; };
    const std::int64_t year = msg[6] * 256 + msg[7];
    const std::int64_t ns = ((msg[11] * 256 + msg[12]) * 256 + msg[13]) * 256 + msg[14];
    if (!fits16(msg[4]) || !fits16(msg[5]) || !fits16(year) || !fits16(msg[8]) || !fits16(msg[9]) ||
        !fits16(msg[10]) || ns < INT32_MIN || ns > INT32_MAX)
        return std::nullopt;
    GpsTime t;
    t.Month = static_cast<std::int16_t>(msg[4]);
    t.Day = static_cast<std::int16_t>(msg[5]);
    t.Year = static_cast<std::int16_t>(year);
    t.Hour = static_cast<std::int16_t>(msg[8]);
    t.Minute = static_cast<std::int16_t>(msg[9]);
    t.Second = static_cast<std::int16_t>(msg[10]);
    t.NS = static_cast<std::int32_t>(ns);
    return t;
}

std::string BlockTimeLine(const GpsTime& t) {
    return std::to_string(t.Year) + "-" + std::to_string(t.Month) + "-" + std::to_string(t.Day) + " " +
           std::to_string(t.Hour) + ":" + std::to_string(t.Minute) + ":" + std::to_string(t.Second) +
           ":" + std::to_string(t.NS);
}

}  // namespace zqd
