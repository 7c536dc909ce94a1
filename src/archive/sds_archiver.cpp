#include "archive/sds_archiver.h"

#include "common/utc.h"
#include "formats/sds/sds_repair.h"
#include "platform/files.h"

namespace zqd::archive {

namespace {
// Records are written once this many bytes wait, and at every flush.
constexpr std::size_t kWriteBytes = 64u << 10;
}  // namespace

SdsArchiver::SdsArchiver(std::filesystem::path root, ArchiveSettings settings, int record_length, Report report)
    : root_(std::move(root)), settings_(settings), record_length_(record_length), report_(std::move(report)),
      writer_(root_), retention_(std::make_unique<Retention>(root_, std::set<std::string>{}, settings_.retention)) {
    for (auto& r : sds::RepairTails(root_, record_length_)) {
        DiskNote note{r.status.ok() ? DiskNote::Kind::kRepaired : DiskNote::Kind::kRepairFailed};
        note.value = static_cast<std::int64_t>(r.cut_bytes);
        note.count = r.kept_records;
        note.path = std::move(r.path);
        note.status = std::move(r.status);
        Say(std::move(note));
    }
}

void SdsArchiver::Say(DiskNote note) {
    if (report_) report_(note);
}

void SdsArchiver::OnRecord(const records::RecordPtr& r) {
    // Records of the same stream and day that follow each other are written in one go.
    if (pending_.empty() || pending_.back().codes != r->codes || pending_.back().day != r->day) {
        retention_->AddStream(r->codes->Name());
        pending_.push_back({r->codes, r->day, r->start_ns, {}, 0});
    }
    Pending& p = pending_.back();
    p.bytes.insert(p.bytes.end(), r->bytes.begin(), r->bytes.end());
    p.samples += r->samples;
    pending_bytes_ += r->bytes.size();
    newest_ns_ = std::max(newest_ns_, r->start_ns);
    if (pending_bytes_ >= kWriteBytes) WritePending();
}

void SdsArchiver::OnMark(records::Mark mark) {
    WritePending();
    const Status synced = writer_.Sync();
    {
        std::lock_guard lock(mutex_);
        status_.free_bytes = platform::FreeBytes(root_);
        if (!synced.ok()) {
            status_.writing = false;
            status_.last_error = synced;
        }
    }
    if (mark == records::Mark::kEnd) Finish();
}

void SdsArchiver::OnLost(std::uint64_t records, std::uint64_t samples) { Unwritten(DiskNote::Kind::kBehind, records, samples); }

void SdsArchiver::Unwritten(DiskNote::Kind why, std::uint64_t records, std::uint64_t samples) {
    {
        std::lock_guard lock(mutex_);
        status_.unwritten_records += records;
        status_.unwritten_samples += samples;
    }
    DiskNote note{why, static_cast<std::int64_t>(records)};
    note.count = samples;
    Say(std::move(note));
}

bool SdsArchiver::Retain(bool need_room) {
    if (newest_ns_ == 0) return false;
    const std::int64_t day = utc::FloorDiv(newest_ns_, utc::kNsPerDay);
    // Ages change with the day; space is looked at every time.
    if (!need_room && day == retained_day_ && !retention_->BelowFloor(pending_bytes_)) return false;
    retained_day_ = day;
    bool any = false;
    retention_->Enforce(newest_ns_, need_room, pending_bytes_, [&](const RemovedDay& r) {
        any = any || !r.files.empty();
        {
            std::lock_guard lock(mutex_);
            ++status_.removed_days;
            status_.removed_bytes += r.bytes;
        }
        DiskNote note{DiskNote::Kind::kDayRemoved, r.day_ns};
        note.count = r.files.size();
        note.bytes = r.bytes;
        note.paths = r.files;
        note.for_space = r.for_space;
        note.status = r.status;
        Say(std::move(note));
    });
    if (any) writer_.CloseAll();  // no file of a removed day stays open
    return any;
}

bool SdsArchiver::MadeRoom(const Pending& p) {
    // A disk that refuses: old days make room, if there are any.
    const std::int64_t free = platform::FreeBytes(root_);
    const bool full = free >= 0 && static_cast<std::uint64_t>(free) < p.bytes.size() + (1u << 20);
    return full && Retain(true);
}

void SdsArchiver::WritePending() {
    Status failure;
    std::uint64_t written = 0;
    bool made_room = false;
    if (!pending_.empty()) Retain(false);  // room first, so that the disk keeps its floor after the write
    while (!pending_.empty()) {
        Pending& p = pending_.front();
        std::filesystem::path created;
        const Status s = writer_.Append(*p.codes, p.start_ns, p.bytes.data(), static_cast<int>(p.bytes.size()), &created);
        if (!s.ok()) {
            if (!made_room && MadeRoom(p)) {
                made_room = true;
                continue;
            }
            failure = s;
            break;
        }
        if (!created.empty()) {
            DiskNote note{DiskNote::Kind::kNewDayFile};
            note.path = created;
            Say(std::move(note));
        }
        pending_bytes_ -= p.bytes.size();
        written += p.bytes.size() / static_cast<std::size_t>(record_length_);
        pending_.pop_front();
    }
    DropOverLimit();
    bool was_writing = true;
    {
        std::lock_guard lock(mutex_);
        was_writing = status_.writing;
        status_.records += written;
        status_.bytes = writer_.BytesWritten();
        status_.files = writer_.FilesOpened();
        status_.writing = failure.ok();
        if (!failure.ok()) status_.last_error = failure;
    }
    if (!failure.ok() && was_writing) {
        DiskNote note{DiskNote::Kind::kWriteFailing, static_cast<std::int64_t>(settings_.memory_limit_bytes >> 20)};
        note.status = failure;
        Say(std::move(note));
    }
    if (failure.ok() && !was_writing) Say({DiskNote::Kind::kWriteRecovered});
}

void SdsArchiver::DropOverLimit() {
    // While the disk refuses, records wait in memory up to the limit; beyond
    // it the oldest go, every record and sample counted.
    std::uint64_t dropped = 0, samples = 0;
    while (pending_bytes_ > settings_.memory_limit_bytes && !pending_.empty()) {
        pending_bytes_ -= pending_.front().bytes.size();
        dropped += pending_.front().bytes.size() / static_cast<std::size_t>(record_length_);
        samples += pending_.front().samples;
        pending_.pop_front();
    }
    if (dropped > 0) Unwritten(DiskNote::Kind::kMemoryFull, dropped, samples);
}

void SdsArchiver::Finish() {
    if (pending_.empty()) return;
    std::uint64_t records = 0, samples = 0;
    for (const Pending& p : pending_) {
        records += p.bytes.size() / static_cast<std::size_t>(record_length_);
        samples += p.samples;
    }
    pending_.clear();
    pending_bytes_ = 0;
    {
        std::lock_guard lock(mutex_);
        status_.unwritten_records += records;
        status_.unwritten_samples += samples;
    }
    DiskNote note{DiskNote::Kind::kUnwrittenAtStop, static_cast<std::int64_t>(records)};
    note.count = samples;
    Say(std::move(note));
}

DiskStatus SdsArchiver::Snapshot() const {
    std::lock_guard lock(mutex_);
    return status_;
}

}  // namespace zqd::archive
