#include "archive/view_files.h"

#include <libmseed.h>

#include <cstdio>

#include "archive/convert.h"
#include "archive/mseed_reader.h"
#include "archive/sac_writer.h"
#include "common/numtext.h"
#include "common/platform.h"
#include "common/safe_file.h"

namespace zqd::archive {

namespace {

bool LooksLikeMseed(const std::filesystem::path& path) {
    std::FILE* f = platform::OpenFile(path, "rb");
    if (!f) return false;
    char head[512] = {};
    const std::size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return got >= 48 && ms_detect(head, static_cast<int>(got)) >= 0;
}

// A row's stream codes: NET.STA.LOC.CHA as it is named, else the
// configuration's station with the row's name as the channel.
StreamCodes CodesOf(const std::string& name, const ArchiveConfig& config) {
    StreamCodes c = config.station;
    const auto parts = SplitText(name, '.');
    if (parts.size() == 4) return {parts[0], parts[1], parts[2], parts[3]};
    c.channel = name;
    return c;
}

}  // namespace

std::filesystem::path DefaultSummaryCache() { return platform::UserCacheDir() / "summaries"; }

Status OpenForView(const std::filesystem::path& path, const ArchiveConfig& config, std::optional<std::int64_t> from,
                   std::optional<std::int64_t> to, Opened& opened, const std::filesystem::path& cache) {
    const std::string name = platform::PathText(path);
    std::string why;
    std::error_code ec;
    auto refuse = [&](const std::string& reason) {
        return Status::Fail(Status::Code::kFileRefused, "无法打开 " + name + "：" + reason);
    };
    if (std::filesystem::is_directory(path, ec)) {
        const auto files = SdsDayFiles(path, from, to);
        if (files.empty()) return refuse(from || to ? "这段时间里没有 SDS 日文件" : "不是 SDS 数据文件夹（没有日文件）");
        MseedLoad report;
        auto m = LoadMseedModel(files, cache, report, why);
        if (!m) return refuse(why);
        opened.model = std::make_shared<view::WaveformModel>(std::move(*m));
        opened.what = name + "：SDS，" + std::to_string(files.size()) + " 个日文件，" +
                      std::to_string(opened.model->ChannelCount()) + " 个通道";
        opened.notes = report.skipped;
        opened.files_indexed = report.files_indexed;
        opened.files_cached = report.files_cached;
        return Status::Ok();
    }
    if (!ReadableFile(path, why)) return refuse(why);
    if (LooksLikeMseed(path)) {
        MseedLoad report;
        auto m = LoadMseedModel({path}, cache, report, why);
        if (!m) return refuse(why);
        opened.model = std::make_shared<view::WaveformModel>(std::move(*m));
        opened.what = name + "：miniSEED，" + std::to_string(report.records) + " 个记录，" +
                      std::to_string(opened.model->ChannelCount()) + " 个通道";
        opened.notes = report.skipped;
        opened.files_indexed = report.files_indexed;
        opened.files_cached = report.files_cached;
        return Status::Ok();
    }
    std::vector<std::pair<int, std::string>> rows(config.channels.begin(), config.channels.end());
    auto m = view::LoadRecordModel(path, config.acquisition.ChnNum, rows, why);
    if (!m) return refuse(why);
    opened.model = std::make_shared<view::WaveformModel>(std::move(*m));
    opened.what = name + "：记录文件，" + std::to_string(opened.model->ChannelCount()) + " 个通道";
    if (!opened.model->Carried().empty()) opened.notes.push_back("有的块没有自己的 GPS 时间，按相邻块推算（时间条上标为橙色）");
    return Status::Ok();
}

Status ExportSpan(const view::WaveformModel& model, const std::vector<int>& rows, std::int64_t t0, std::int64_t t1,
                  const std::string& format, const ArchiveConfig& config, const std::filesystem::path& folder,
                  int& files) {
    files = 0;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    for (int c : rows) {
        const StreamCodes codes = CodesOf(model.At(c).name, config);
        for (const view::Stretch& s : model.At(c).stretches) {
            const std::uint64_t a = s.IndexAtOrAfter(t0), b = s.IndexAtOrAfter(t1);
            if (a >= b) continue;
            std::vector<std::int32_t> values(static_cast<std::size_t>(b - a));
            s.source->Read(a, values.size(), values.data());
            const std::int64_t start = s.TimeOf(static_cast<double>(a));
            const std::string base = codes.network + "." + codes.station + "." + codes.location + "." + codes.channel + "." + Stamp(start);
            std::string bytes;
            std::filesystem::path out;
            if (format == "sac") {
                SacTrace trace{codes, start, s.rate, {}};
                trace.samples.assign(values.begin(), values.end());
                bytes = SacBytes(trace);
                out = folder / (base + ".SAC");
            } else if (format == "csv") {
                bytes = "time," + codes.channel + "\n";
                for (std::size_t i = 0; i < values.size(); ++i)
                    bytes += IsoMicro(s.TimeOf(static_cast<double>(a + i))) + "," + std::to_string(values[i]) + "\n";
                out = folder / (base + ".csv");
            } else {
                ChannelPacker packer(codes, s.rate, config.pack, [&](const char* r, int len, std::int64_t) {
                    bytes.append(r, static_cast<std::size_t>(len));
                });
                const bool carried = std::any_of(model.Carried().begin(), model.Carried().end(), [&](const view::TimeSpan& span) {
                    return span.begin_ns < s.TimeOf(static_cast<double>(b)) && span.end_ns > start;
                });
                packer.Add(start, values.data(), values.size(), Timing{carried ? 50 : 100, !carried});
                packer.Pack(true);
                out = folder / (base + ".mseed");
            }
            if (const Status st = WriteWhole(out, bytes); !st.ok())
                return Status::Fail(Status::Code::kWriteFailed, "无法写入 " + platform::PathText(out) + "：" + st.detail);
            ++files;
        }
    }
    return Status::Ok();
}

}  // namespace zqd::archive
