#include "view/sources/open.h"

#include <cctype>
#include <cstdio>

#include "formats/mseed/mseed_scan.h"
#include "formats/sds/sds_layout.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_file.h"
#include "platform/text.h"
#include "view/sources/mseed_source.h"
#include "view/sources/record_source.h"

namespace zqd::view {

using Code = Status::Code;
using Why = Status::Why;

std::filesystem::path DefaultSummaryCache() { return platform::UserCacheDir() / "summaries"; }

void ForgetSummaries(const std::vector<std::filesystem::path>& files, const CacheOptions& cache) {
    SummaryCache c(cache);
    for (const auto& f : files) {
        std::error_code ec;
        c.Forget(platform::PathText(std::filesystem::absolute(f, ec)));
    }
}

Status OpenForView(const std::filesystem::path& path, int chnNum, const std::vector<std::pair<int, std::string>>& rows,
                   std::optional<std::int64_t> from, std::optional<std::int64_t> to, Opened& opened,
                   const CacheOptions& cache) {
    auto refuse = [&](Status why) {
        return Status::Fail(Code::kFileRefused, Why::kViewRefused).About(platform::PathText(path)).Because(std::move(why));
    };
    opened.path = path;
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        std::vector<std::filesystem::path> passed;
        const auto files = sds::DayFiles(path, from, to, &passed);
        std::vector<Status> not_files;  // named as day files, and no regular files
        for (const auto& p : passed)
            not_files.push_back(Status::Fail(Code::kFileRefused, Why::kPassedUnreadable).About(platform::PathText(p)).Because(ReadableFile(p)));
        if (files.empty()) {
            Status none = Status::Fail(Code::kFileRefused, from || to ? Why::kNoDayFilesInSpan : Why::kNoDayFiles);
            if (!not_files.empty()) none.cause = std::make_shared<const Status>(not_files.front());
            return refuse(std::move(none));
        }
        MseedLoad report;
        auto m = LoadMseedModel(files, cache, report);
        if (!m) return refuse(m.status());
        opened.kind = Opened::Kind::kSds;
        opened.model = std::make_shared<WaveformModel>(std::move(*m));
        opened.day_files = files.size();
        opened.records = report.records;
        opened.notes = std::move(not_files);
        opened.notes.insert(opened.notes.end(), report.skipped.begin(), report.skipped.end());
        opened.files_indexed = report.files_indexed;
        opened.files_cached = report.files_cached;
        opened.files_extended = report.files_extended;
        return Status::Ok();
    }
    if (Status s = ReadableFile(path); !s.ok()) return refuse(std::move(s));
    if (mseed::FileLooksLikeMseed(path)) {
        MseedLoad report;
        auto m = LoadMseedModel({path}, cache, report);
        if (!m) return refuse(m.status());
        opened.kind = Opened::Kind::kMseed;
        opened.model = std::make_shared<WaveformModel>(std::move(*m));
        opened.records = report.records;
        opened.notes = report.skipped;
        opened.files_indexed = report.files_indexed;
        opened.files_cached = report.files_cached;
        opened.files_extended = report.files_extended;
        return Status::Ok();
    }
    // A file named as miniSEED that holds none is said to be so, not
    // refused as a record file it was never meant to be.
    std::string ext = path.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".mseed" || ext == ".miniseed" || ext == ".ms")
        return refuse(Status::Fail(Code::kFileRefused, Why::kNamedMseedIsNot).About(platform::PathText(path)));
    auto m = LoadRecordModel(path, chnNum, rows);
    if (!m) return refuse(m.status());
    opened.kind = Opened::Kind::kRecord;
    opened.model = std::make_shared<WaveformModel>(std::move(*m));
    if (!opened.model->Carried().empty()) opened.notes.push_back(Status::Fail(Code::kOk, Why::kCarriedBlocks));
    return Status::Ok();
}

}  // namespace zqd::view
