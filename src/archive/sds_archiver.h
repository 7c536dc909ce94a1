// The station's records onto the disk, as a subscriber of the records: an
// SDS archive of day files, torn tails of an earlier run repaired first,
// records of a stream and day that follow each other written in one go and
// synced at every flush, old days removed as retention asks.
//
// A disk that refuses holds records in memory up to a limit (beyond it the
// oldest go, counted and said); what it still refuses at the end is counted
// and said. Nothing here holds up any other consumer of the records.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "archive/retention.h"
#include "common/status.h"
#include "formats/sds/sds_writer.h"
#include "records/record.h"

namespace zqd::archive {

// The archive's own settings.
struct ArchiveSettings {
    std::size_t memory_limit_bytes = 64u << 20;  // records held while the disk refuses
    RetentionConfig retention;
};

struct DiskStatus {
    std::uint64_t files = 0, bytes = 0, records = 0;  // written
    std::int64_t free_bytes = -1;
    bool writing = true;                  // false while the disk refuses
    std::uint64_t unwritten_records = 0;  // made and written nowhere: the disk refused too long,
    std::uint64_t unwritten_samples = 0;  //   or still refused at the end, or could not keep up
    std::uint64_t removed_days = 0, removed_bytes = 0;  // old days removed to keep within the disk
    Status last_error;
};

// What the disk has to say, as it happens.
struct DiskNote {
    enum class Kind {
        kRepaired,        // `path`: its torn tail of `value` bytes was cut, `count` whole records kept
        kRepairFailed,    // `path` could not be cut: `status`
        kNewDayFile,      // `path` was begun (it did not exist)
        kWriteFailing,    // the disk refuses (`status`); records wait in memory up to `value` MiB
        kWriteRecovered,  // the disk takes records again
        kMemoryFull,      // `value` records (`count` samples) were let go, each a gap
        kUnwrittenAtStop, // at the stop the disk still refused: `value` records (`count` samples) written nowhere
        kBehind,          // the disk could not keep up: `value` records (`count` samples) never reached it
        kDayRemoved,      // the day beginning at `value` ns: `count` day files (`bytes`) removed, `paths`;
                          // for space (`for_space`) or its age; `status` a file that could not be removed
    };
    DiskNote(Kind k, std::int64_t v = 0) : kind(k), value(v) {}  // NOLINT
    Kind kind;
    std::int64_t value = 0;
    std::uint64_t count = 0;
    std::filesystem::path path;
    Status status;
    std::vector<std::filesystem::path> paths;
    std::uint64_t bytes = 0;
    bool for_space = false;
};

class SdsArchiver final : public records::RecordSubscriber {
public:
    using Report = std::function<void(const DiskNote& note)>;

    // Repairs the torn tails of the archive's day files first (records of
    // `record_length` bytes).
    SdsArchiver(std::filesystem::path root, ArchiveSettings settings, int record_length, Report report = {});

    void OnRecord(const records::RecordPtr& record) override;
    void OnMark(records::Mark mark) override;
    void OnLost(std::uint64_t records, std::uint64_t samples) override;

    DiskStatus Snapshot() const;

private:
    struct Pending {
        std::shared_ptr<const StreamCodes> codes;
        std::int64_t day = 0, start_ns = 0;
        std::vector<char> bytes;
        std::uint64_t samples = 0;
    };
    void Say(DiskNote note);
    // Records the disk will not have (`why`): counted, then said.
    void Unwritten(DiskNote::Kind why, std::uint64_t records, std::uint64_t samples);
    void WritePending();
    // One write refused: whether old days made room for it.
    bool MadeRoom(const Pending& p);
    // Removes the old days retention asks for, with room for what waits to
    // be written (`need_room`: a write was refused); whether any went.
    bool Retain(bool need_room);
    void DropOverLimit();
    void Finish();  // what the disk still refuses is written nowhere

    std::filesystem::path root_;
    ArchiveSettings settings_;
    int record_length_;
    Report report_;
    sds::SdsWriter writer_;
    std::unique_ptr<Retention> retention_;
    std::deque<Pending> pending_;
    std::size_t pending_bytes_ = 0;
    std::int64_t newest_ns_ = 0;             // the newest record's start: the day being written
    std::int64_t retained_day_ = INT64_MIN;  // the data's day when old days were last looked at
    mutable std::mutex mutex_;  // guards status_
    DiskStatus status_;
};

}  // namespace zqd::archive
