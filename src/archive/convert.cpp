#include "archive/convert.h"

#include <cmath>
#include <cstdio>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "analysis/csv_export.h"
#include "analysis/record_loader.h"
#include "archive/mseed_packer.h"
#include "archive/sac_writer.h"
#include "archive/sds_writer.h"
#include "common/numtext.h"
#include "common/platform.h"
#include "common/safe_file.h"
#include "common/utc.h"

namespace zqd::archive {

Status WriteWhole(const std::filesystem::path& path, const std::string& bytes, bool in_batch) {
    SafeFileWriter w(path);
    w.in_batch = in_batch;
    if (w.Open() && w.Write(bytes.data(), bytes.size()) && w.Commit()) return Status::Ok();
    return Status::Fail(Status::Code::kWriteFailed, w.Error());
}

namespace {

enum class Timed { kOwn, kInferred, kAssumed };

}  // namespace

std::string Stamp(std::int64_t ns) {
    const utc::Civil c = utc::FromNs(ns);
    const std::int64_t doy = utc::DaysFromCivil(c.year, c.month, c.day) - utc::DaysFromCivil(c.year, 1, 1) + 1;
    char text[40];
    std::snprintf(text, sizeof text, "%04lld.%03lld.%02u%02u%02u", static_cast<long long>(c.year),
                  static_cast<long long>(doy), c.hour, c.minute, c.second);
    return text;
}

std::string IsoMicro(std::int64_t ns) {
    const utc::Civil c = utc::FromNs(ns);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02u.%06lldZ", static_cast<long long>(c.year), c.month,
                  c.day, c.hour, c.minute, c.second, static_cast<long long>(c.ns / 1000));
    return text;
}

std::optional<std::vector<int>> ParseChannelList(const std::string& text, int chnNum, std::string& why) {
    std::vector<int> out;
    for (const std::string& part : SplitText(text, ',')) {
        int lo = 0, hi = 0;
        char extra = 0;
        if (std::sscanf(part.c_str(), "%d-%d%c", &lo, &hi, &extra) == 2) {
        } else if (std::sscanf(part.c_str(), "%d%c", &lo, &extra) == 1) {
            hi = lo;
        } else {
            why = "通道列表“" + text + "”中的“" + part + "”不是通道偏移或范围（如 0,2-5）";
            return std::nullopt;
        }
        if (lo < 0 || hi >= chnNum || lo > hi) {
            why = "通道“" + part + "”超出 0 到 " + std::to_string(chnNum - 1);
            return std::nullopt;
        }
        for (int c = lo; c <= hi; ++c) out.push_back(c);
    }
    return out;
}

Status ConvertRecord(const std::filesystem::path& file, const ConvertOptions& o, ConvertSummary& sum,
                     const std::function<void(const std::string&)>& say) {
    const std::string name = platform::PathText(file);
    auto refuse = [&](const std::string& why) {
        ++sum.refused;
        say("拒绝 " + name + "：" + why);
        return Status::Fail(Status::Code::kFileRefused, why);
    };
    std::string error;
    auto rec = ReadRecordFile(file, static_cast<std::int16_t>(o.chn_num), error);
    if (!rec) return refuse(error);
    const int blocks = rec->BlockNum;
    const std::int64_t points = rec->ChnPoints;
    const std::int64_t n = static_cast<std::int64_t>(o.chn_num) * points;
    if (blocks == 0 || points == 0) return refuse("记录中没有数据块");

    // Each block's time: its own message, else its neighbour's plus or minus whole blocks.
    const RecordTimes times = BlockTimesOf(*rec, o.chn_num);
    std::vector<std::int64_t> t = times.ns;
    std::vector<Timed> how(static_cast<std::size_t>(blocks), Timed::kOwn);
    if (times.timed == 0) {
        if (!o.assume_start_ns) return refuse("没有一块有 GPS 时间（可用 --assume-start 指定第一块的时间）");
        for (int k = 0; k < blocks; ++k) {
            t[static_cast<std::size_t>(k)] = *o.assume_start_ns + k * utc::kNsPerSecond;
            how[static_cast<std::size_t>(k)] = Timed::kAssumed;
        }
        say(name + "：没有 GPS 时间，按指定的开始时间 " + utc::Iso(*o.assume_start_ns) + " 逐块推算");
    } else {
        for (int k = 0; k < blocks; ++k) {
            if (times.Own(k)) continue;
            how[static_cast<std::size_t>(k)] = Timed::kInferred;
            ++sum.inferred_blocks;
            say(name + "：第 " + std::to_string(k) + " 块没有 GPS 时间，按第 " +
                std::to_string(times.from[static_cast<std::size_t>(k)]) + " 块推算为 " +
                utc::Iso(t[static_cast<std::size_t>(k)]));
        }
    }

    // Segments: blocks whose times follow each other by one block length.
    const double rate = static_cast<double>(points);  // one block is one second of scans
    const std::int64_t half = static_cast<std::int64_t>(0.5e9 / rate);
    std::vector<std::pair<int, int>> segments;  // [first, last]
    for (int k = 0; k < blocks; ++k) {
        if (k > 0 && std::llabs(t[static_cast<std::size_t>(k)] - t[static_cast<std::size_t>(k - 1)] - utc::kNsPerSecond) <= half)
            segments.back().second = k;
        else
            segments.push_back({k, k});
    }

    std::vector<std::pair<int, std::string>> chans;  // offset, code
    if (!o.channels.empty()) {
        // A chosen offset without a configured code (the GPS slot) is "?YX".
        for (int c : o.channels) {
            const auto it = o.config.channels.find(c);
            chans.push_back({c, it != o.config.channels.end() ? it->second : std::string{BandCode(rate), 'Y', 'X'}});
        }
    } else {
        for (const auto& [c, code] : o.config.channels)
            if (c < o.chn_num) chans.push_back({c, code});
    }

    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    auto sample = [&](int k, std::int64_t s, int c) { return rec->BlockData[static_cast<std::size_t>(k * n + s * o.chn_num + c)]; };
    auto sample_time = [&](int k, std::int64_t s) {
        return t[static_cast<std::size_t>(k)] + std::llround(static_cast<double>(s) * 1e9 / rate);
    };
    std::uint64_t written = 0;
    SdsWriter sds(o.out);
    for (const auto& [first, last] : segments) {
        const std::int64_t start = t[static_cast<std::size_t>(first)];
        const std::int64_t count = (last - first + 1) * points;
        if (o.format == "csv") {
            std::string text = "time";
            for (const auto& [c, code] : chans) text += "," + code;
            text += "\n";
            char value[32];
            for (int k = first; k <= last; ++k)
                for (std::int64_t s = 0; s < points; ++s) {
                    text += IsoMicro(sample_time(k, s));
                    for (const auto& [c, code] : chans) {
                        const std::int32_t v = sample(k, s, c);
                        if (o.volts)
                            std::snprintf(value, sizeof value, ",%.6f", CodeToVolts(v));
                        else
                            std::snprintf(value, sizeof value, ",%d", v);
                        text += value;
                    }
                    text += "\n";
                }
            const auto path = o.out / (o.config.station.network + "." + o.config.station.station + "." + Stamp(start) + ".csv");
            if (const Status s = WriteWhole(path, text); !s.ok()) return refuse("无法写入 " + platform::PathText(path) + "：" + s.detail);
            ++written;
        }
        // A channel's samples of block k, gathered from the scans.
        auto gather = [&](int k, int c, std::int32_t* to) {
            const std::int32_t* from = rec->BlockData.data() + k * n + c;
            for (std::int64_t s = 0; s < points; ++s, from += o.chn_num) to[s] = *from;
        };
        auto timing_of = [&](int k) {
            const Timed h = how[static_cast<std::size_t>(k)];
            return Timing{h == Timed::kOwn ? 100 : h == Timed::kInferred ? 50 : 0, h == Timed::kOwn};
        };
        auto pack = [&](const StreamCodes& codes, int c, auto&& out) {
            ChannelPacker packer(codes, rate, o.config.pack, out);
            std::vector<std::int32_t> block(static_cast<std::size_t>(points));
            for (int k = first; k <= last; ++k) {
                gather(k, c, block.data());
                packer.Add(t[static_cast<std::size_t>(k)], block.data(), block.size(), timing_of(k));
            }
        };
        auto codes_of = [&](std::size_t ci) {
            StreamCodes codes = o.config.station;
            codes.channel = chans[ci].second;
            return codes;
        };
        if (o.format == "sds") {  // one archive, appended in order
            for (std::size_t ci = 0; ci < chans.size(); ++ci) {
                const StreamCodes codes = codes_of(ci);
                Status appended;
                pack(codes, chans[ci].first, [&](const char* r, int len, std::int64_t rs) {
                    if (appended.ok()) appended = sds.Append(codes, rs, r, len);
                });
                if (!appended.ok()) return refuse(appended.detail);
            }
        } else if (o.format != "csv") {
            // One file per channel, each channel packed and written on its
            // own: two threads share the channels, so that one waits on the
            // disk while the other packs.
            std::atomic<std::size_t> next{0};
            std::mutex failed_mutex;
            std::string failed;
            auto work = [&] {
                for (std::size_t ci; (ci = next++) < chans.size();) {
                    const StreamCodes codes = codes_of(ci);
                    const std::string base = codes.network + "." + codes.station + "." + codes.location + "." +
                                             codes.channel + "." + Stamp(start);
                    std::string bytes;
                    std::filesystem::path path;
                    if (o.format == "sac") {
                        SacTrace trace{codes, start, rate, {}};
                        std::vector<std::int32_t> column(static_cast<std::size_t>(count));
                        for (int k = first; k <= last; ++k) gather(k, chans[ci].first, column.data() + (k - first) * points);
                        trace.samples.assign(column.begin(), column.end());
                        bytes = SacBytes(trace);
                        path = o.out / (base + ".SAC");
                    } else {
                        pack(codes, chans[ci].first, [&](const char* r, int len, std::int64_t) {
                            bytes.append(r, static_cast<std::size_t>(len));
                        });
                        path = o.out / (base + ".mseed");
                    }
                    if (const Status s = WriteWhole(path, bytes, true); !s.ok()) {
                        const std::lock_guard lock(failed_mutex);
                        if (failed.empty()) failed = "无法写入 " + platform::PathText(path) + "：" + s.detail;
                        return;
                    }
                }
            };
            FolderBatch batch(o.out);
            if (!batch.Begin()) return refuse(batch.Error());
            std::thread helper(work);
            work();
            helper.join();
            if (!failed.empty()) return refuse(failed);
            if (!batch.Finish()) return refuse(batch.Error());
            written += chans.size();
        }
    }
    if (o.format == "sds") {
        if (const Status s = sds.Sync(); !s.ok()) return refuse(s.detail);
        written += sds.FilesOpened();
    }
    ++sum.files;
    sum.channels += chans.size();
    sum.segments += segments.size();
    sum.samples += static_cast<std::uint64_t>(blocks) * static_cast<std::uint64_t>(points) * chans.size();
    sum.outputs += written;
    say(name + "：" + std::to_string(blocks) + " 块，" + std::to_string(chans.size()) + " 个通道，" +
        std::to_string(segments.size()) + " 段，写出 " + std::to_string(written) + " 个文件");
    return Status::Ok();
}

}  // namespace zqd::archive
