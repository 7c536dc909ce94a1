#include "archive/archive_run.h"

#include "platform/files.h"
#include "platform/text.h"

namespace zqd::archive {

namespace {
// Blocks the archive's queue holds: twenty minutes of one-second blocks, so
// that a disk that stalls for a while costs no data.
constexpr std::size_t kQueueBlocks = 1200;
}  // namespace

Status ArchiveRun::PrepareFolder(const std::filesystem::path& root) {
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    if (platform::KindOf(root) != platform::FileKind::kDirectory)
        return Status::Fail(Status::Code::kFileRefused, Status::Why::kArchiveFolderUnusable)
            .About(platform::PathText(root))
            .Said(ec ? ec.message() : std::string());
    return Status::Ok();
}

Status ArchiveRun::Start(const ArchiveConfig& config, const std::filesystem::path& root, ArchiveSink::Report report,
                         std::int64_t limit_ns, ArchiveSink::RecordTap tap) {
    Stop();
    if (Status s = PrepareFolder(root); !s.ok()) return s;
    sink_ = std::make_shared<ArchiveSink>(config, root, std::move(report));
    if (limit_ns >= 0) sink_->Limit(limit_ns);
    if (tap) sink_->SetRecordTap(std::move(tap));
    runner_ = session_.AddSink(sink_, kQueueBlocks);
    session_.SetTiming(config.timing);
    const Status started = session_.Start(config.acquisition);
    if (!started.ok()) {
        session_.RemoveSink(runner_);
        runner_.reset();
        sink_.reset();
    }
    return started;
}

void ArchiveRun::Stop() {
    if (!runner_) return;
    session_.Stop();
    session_.RemoveSink(runner_);
    runner_.reset();  // what is queued is archived, then everything is written and synced
    sink_->Finish();  // and what the disk still refuses is counted as lost
    last_ = sink_->Snapshot();
    sink_.reset();
}

}  // namespace zqd::archive
