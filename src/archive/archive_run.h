// One run of continuous recording, as the archive window and `acquire`
// start it: the station's records made from the session's blocks and handed
// to their takers, each on its own queue: live data first (when asked for),
// then the SDS archive on the disk. Stopped, everything made is delivered,
// written and synced.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "acquisition/session.h"
#include "archive/sds_archiver.h"
#include "records/station_records.h"

namespace zqd::archive {

// The state of a run: of its records, and of its disk.
struct ArchiveStatus {
    records::StationStatus station;
    DiskStatus disk;
    // Whether anything at all was lost.
    bool Lossless() const {
        return station.read_failures + station.overflowed_blocks + station.time_gaps + station.dropped_blocks +
                   disk.unwritten_records ==
               0;
    }
};

// What a run has to say.
struct Reports {
    records::StationRecords::Report station;
    SdsArchiver::Report disk;
};

// What a run is made from.
struct RunSettings {
    acq::AcqConfig card;
    acq::TimingConfig timing;
    records::RecordsConfig records;
    ArchiveSettings archive;
};

// The records, their hub and the disk, wired: for a run, and for tests that
// drive a session themselves.
class StationArchive {
public:
    // `live` (when given) takes the records before the disk does.
    StationArchive(const RunSettings& settings, const std::filesystem::path& root, Reports reports, bool threaded,
                   std::shared_ptr<records::RecordSubscriber> live = {});
    ~StationArchive();  // Finish()
    StationArchive(const StationArchive&) = delete;
    StationArchive& operator=(const StationArchive&) = delete;

    // The sink the session hands its blocks to.
    const std::shared_ptr<records::StationRecords>& Records() const { return records_; }
    // Makes the last records and waits until every taker has them.
    void Finish();
    ArchiveStatus Snapshot() const;

private:
    std::shared_ptr<records::RecordHub> hub_;
    std::shared_ptr<SdsArchiver> disk_;
    std::shared_ptr<records::StationRecords> records_;
};

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
    // session's refusal; nothing runs then. `live` (when given) takes every
    // record before the disk does.
    Status Start(const RunSettings& settings, const std::filesystem::path& root, Reports reports,
                 std::int64_t limit_ns = -1, std::shared_ptr<records::RecordSubscriber> live = {});
    // Stops acquiring (StopIntr) and lets the records be made, written and
    // synced. Nothing when not running.
    void Stop();
    bool Running() const { return runner_ != nullptr; }
    // The run's state: of the run, and after it of the last run.
    ArchiveStatus Snapshot() const { return archive_ ? archive_->Snapshot() : last_; }

private:
    acq::Session& session_;
    std::unique_ptr<StationArchive> archive_;
    std::shared_ptr<acq::SinkRunner> runner_;
    ArchiveStatus last_;
};

}  // namespace zqd::archive
