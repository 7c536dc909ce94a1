// One run of continuous recording, as the archive window and `acquire`
// start it: the archive folder made, the archive's sink added to the
// session, the acquisition started; stopped, everything queued is archived,
// written and synced.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "acquisition/session.h"
#include "archive/archive_sink.h"

namespace zqd::archive {

class ArchiveRun {
public:
    explicit ArchiveRun(acq::Session& session) : session_(session) {}
    ~ArchiveRun() { Stop(); }
    ArchiveRun(const ArchiveRun&) = delete;
    ArchiveRun& operator=(const ArchiveRun&) = delete;

    // Makes `root` if need be: kFileRefused (kArchiveFolderUnusable) when it
    // cannot be used as the archive's folder.
    static Status PrepareFolder(const std::filesystem::path& root);

    // Makes `root` if need be and starts acquiring into it, archiving no more
    // than `limit_ns` of data when that is not negative. kFileRefused
    // (kArchiveFolderUnusable) for a folder that cannot be used, else the
    // session's refusal; nothing runs then.
    // `tap` (when given) receives every record as the disk takes it.
    Status Start(const ArchiveConfig& config, const std::filesystem::path& root, ArchiveSink::Report report,
                 std::int64_t limit_ns = -1, ArchiveSink::RecordTap tap = {});
    // Stops acquiring (StopIntr) and lets the sink archive, write and sync
    // what it holds. Nothing when not running.
    void Stop();
    bool Running() const { return runner_ != nullptr; }
    // The archive's state: of the run, and after it of the last run.
    ArchiveStatus Snapshot() const { return sink_ ? sink_->Snapshot() : last_; }

private:
    acq::Session& session_;
    std::shared_ptr<ArchiveSink> sink_;
    std::shared_ptr<acq::SinkRunner> runner_;
    ArchiveStatus last_;
};

}  // namespace zqd::archive
