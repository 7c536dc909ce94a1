#include "archive/archive_run.h"

#include "platform/files.h"
#include "platform/text.h"

namespace zqd::archive {

namespace {
// Blocks the records' queue holds: twenty minutes of one-second blocks, so
// that a stall costs no data.
constexpr std::size_t kQueueBlocks = 1200;
// Records each taker's queue holds: about twenty minutes of a full card's.
constexpr std::size_t kQueueRecords = 65536;
}  // namespace

StationArchive::StationArchive(const RunSettings& settings, const std::filesystem::path& root, Reports reports,
                               bool threaded, std::shared_ptr<records::RecordSubscriber> live)
    : hub_(std::make_shared<records::RecordHub>(threaded)),
      disk_(std::make_shared<SdsArchiver>(root, settings.archive, settings.records.pack.record_length,
                                          std::move(reports.disk))),
      records_(std::make_shared<records::StationRecords>(settings.records, settings.timing, hub_,
                                                         std::move(reports.station))) {
    // Live data first: the ring has each record as it is made, never waiting for the disk.
    if (live) hub_->SubscribeFirst(std::move(live));
    hub_->Subscribe(disk_, kQueueRecords);
}

StationArchive::~StationArchive() { Finish(); }

void StationArchive::Finish() {
    records_->Finish();
    hub_->Drain();
}

ArchiveStatus StationArchive::Snapshot() const { return {records_->Snapshot(), disk_->Snapshot()}; }

Status ArchiveRun::PrepareFolder(const std::filesystem::path& root) {
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    if (platform::KindOf(root) != platform::FileKind::kDirectory)
        return Status::Fail(Status::Code::kFileRefused, Status::Why::kArchiveFolderUnusable)
            .About(platform::PathText(root))
            .Said(ec ? ec.message() : std::string());
    return Status::Ok();
}

Status ArchiveRun::Start(const RunSettings& settings, const std::filesystem::path& root, Reports reports,
                         std::int64_t limit_ns, std::shared_ptr<records::RecordSubscriber> live) {
    Stop();
    if (Status s = PrepareFolder(root); !s.ok()) return s;
    archive_ = std::make_unique<StationArchive>(settings, root, std::move(reports), session_.Threaded(), std::move(live));
    if (limit_ns >= 0) archive_->Records()->Limit(limit_ns);
    runner_ = session_.AddSink(archive_->Records(), kQueueBlocks);
    session_.SetTiming(settings.timing);
    const Status started = session_.Start(settings.card);
    if (!started.ok()) {
        session_.RemoveSink(runner_);
        runner_.reset();
        archive_.reset();
    }
    return started;
}

void ArchiveRun::Stop() {
    if (!runner_) return;
    session_.Stop();
    session_.RemoveSink(runner_);
    runner_.reset();  // what is queued is made into records
    archive_->Finish();  // delivered, written and synced; what the disk still refuses counted as lost
    last_ = archive_->Snapshot();
    archive_.reset();
}

}  // namespace zqd::archive
