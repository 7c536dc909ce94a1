#include "formats/sds/sds_writer.h"

#include "common/utc.h"
#include "formats/sds/sds_layout.h"
#include "platform/text.h"

namespace zqd::sds {

using Code = Status::Code;
using Why = Status::Why;

Status SdsWriter::Append(const StreamCodes& c, std::int64_t start_ns, const char* records, int length,
                         std::filesystem::path* created) {
    Open& f = files_[c.Name()];
    const std::int64_t day = utc::FloorDiv(start_ns, utc::kNsPerDay);
    if (!f.file.IsOpen() || f.day != day) {
        const auto path = DayFile(root_, c, start_ns);
        f.file.Close();
        f.day = day;
        std::error_code ec;
        std::filesystem::create_directories(path.parent_path(), ec);
        if (Status s = f.file.Open(path); !s.ok())
            return Status::Fail(Code::kWriteFailed, Why::kDayFileOpenFailed).About(platform::PathText(path)).Because(std::move(s));
        f.path = path;
        ++opened_;
        if (created && f.file.Size() == 0) *created = path;
    }
    if (Status s = f.file.Append(records, static_cast<std::size_t>(length)); !s.ok())
        return Status::Fail(Code::kWriteFailed, Why::kDayFileWriteFailed).About(platform::PathText(f.path)).Because(std::move(s));
    bytes_ += static_cast<std::uint64_t>(length);
    return Status::Ok();
}

Status SdsWriter::Sync() {
    for (auto& [key, f] : files_) {
        if (!f.file.IsOpen()) continue;
        if (Status s = f.file.Sync(); !s.ok())
            return Status::Fail(Code::kWriteFailed, Why::kDayFileSyncFailed).About(platform::PathText(f.path)).Because(std::move(s));
    }
    return Status::Ok();
}

}  // namespace zqd::sds
