// The ring of recent miniSEED records that live clients are served from: a
// file of fixed slots beside the archive, each record under its sequence
// number, so that a client that comes back (after its connection broke, the
// server restarted or the computer rebooted) resumes from the record after
// the last one it had, with no gap and no duplicate.
//
// Written through (each record written in place as it is added) rather than
// mapped: a 256 MiB map does not fit beside everything else in a 32-bit
// process's address space, and a client reads a record once. Sequence
// numbers strictly increase and are never used twice, across restarts too:
// the file's header reserves the next block of numbers, durably, before any
// of them is handed out, and a restart begins after the reservation.
//
// Layout (little-endian): a 4096-byte header (magic "ZQDRING1", version,
// slot size, slot count, reserved sequence, xxHash of the rest), then the
// slots, slot = sequence % count: a 64-byte head (sequence + 1, so that 0 is
// an empty slot; start and end ns; the stream's name; the record's length;
// xxHash of head and record) and the record. A header of another layout, or
// that fails its check, makes the ring new: nothing in it is trusted.
#pragma once

#include <cstdint>
#include <cstdio>
#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "common/status.h"

namespace zqd::stream {

struct RingRecord {
    std::uint64_t sequence = 0;
    std::int64_t start_ns = 0, end_ns = 0;
    std::string stream;  // NET_STA_LOC_CHAN
    std::vector<char> bytes;
};
using RingRecordPtr = std::shared_ptr<const RingRecord>;

class RecordRing {
public:
    static constexpr int kRecordBytes = 512;
    static constexpr std::uint64_t kReserve = 4096;  // sequence numbers reserved at a time

    // What opening found.
    struct Opened {
        bool created = false;   // no ring was there
        bool rebuilt = false;   // one was, of another layout or damaged: made new
        std::uint64_t kept = 0; // records kept from before
        std::uint64_t next = 0; // the first sequence number this run hands out
    };

    RecordRing() = default;
    ~RecordRing();
    RecordRing(const RecordRing&) = delete;
    RecordRing& operator=(const RecordRing&) = delete;

    // Opens (or makes) the ring at `path` for `bytes` of records.
    Result<Opened> Open(const std::filesystem::path& path, std::uint64_t bytes);

    // Adds a record (kRecordBytes long); its sequence number. Every method may
    // be called from any thread.
    Result<std::uint64_t> Append(const std::string& stream, std::int64_t start_ns, std::int64_t end_ns,
                                 const char* record, std::size_t length);

    // The record of sequence `seq`, if the ring still holds it (read back and
    // checked).
    RingRecordPtr Read(std::uint64_t seq);

    // The oldest and newest sequence numbers held (empty ring: nothing).
    std::optional<std::uint64_t> Oldest() const;
    std::optional<std::uint64_t> Newest() const;
    // The first held record at or after `seq` (the oldest if `seq` is older).
    std::optional<std::uint64_t> AtOrAfter(std::uint64_t seq) const;
    // Whether `seq` is one of the numbers an earlier run reserved and never
    // recorded (skipped at a restart), or a damaged slot's: the next record
    // held after it follows whatever came before it.
    bool Skipped(std::uint64_t seq) const;
    std::uint64_t Slots() const { return slots_; }
    // The number the next record appended will have.
    std::uint64_t NextSequence() const;

    // The first sequence number held whose record ends after `t_ns`, looked
    // for by halves on the records' end times, which run in order but for
    // streams packed late (by up to `late_ns`). Newest + 1 when none may.
    std::uint64_t FirstEndingAfter(std::int64_t t_ns, std::int64_t late_ns);

    // Each stream the ring holds: the start of its oldest record held and
    // the end of its newest.
    struct Span {
        std::int64_t start_ns = 0, end_ns = 0;
    };
    std::map<std::string, Span> Streams() const;

    // Called with each record appended, on the appending thread, after the
    // record is in the ring. The record given is the one every client is
    // served (shared, never copied per client) while it is recent.
    using Listener = std::function<void(const RingRecordPtr&)>;
    void SetListener(Listener listener);

private:
    struct Head;
    RingRecordPtr ReadLocked(std::uint64_t seq);
    bool HeadLocked(std::uint64_t seq, Head& head);
    Status WriteHeader();
    // Takes the whole file's room on the disk.
    Status Reserve();
    // The old slots' records whose check holds and whose number is below `below`:
    // their spans into spans_, the newest number into `newest`; false when none.
    bool ScanSlots(std::uint64_t old_slots, std::uint64_t below, std::uint64_t& newest,
                   std::vector<std::uint64_t>& found);
    // The skipped numbers `seq` falls among: nullptr when none.
    const std::pair<std::uint64_t, std::uint64_t>* HoleAt(std::uint64_t seq) const;
    Status Create(std::uint64_t reserved);

    std::FILE* file_ = nullptr;
    std::filesystem::path path_;
    std::uint64_t slots_ = 0;
    std::uint64_t next_ = 0;      // next sequence number
    std::uint64_t reserved_ = 0;  // numbers below this may be handed out
    std::uint64_t oldest_ = 0;    // held: oldest_ to newest_, but for the hole
    std::uint64_t newest_ = 0;
    // The numbers held records skip, [from, to), in order: those each
    // restart reserved and never used, and damaged slots.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> holes_;
    bool any_ = false;
    std::map<std::string, Span> spans_;
    // The most recent records, as appended: what live clients are served.
    static constexpr std::size_t kRecent = 4096;
    std::array<RingRecordPtr, kRecent> recent_{};
    Listener listener_;
    mutable std::mutex mutex_;  // the file is read and written from more than one thread
};

}  // namespace zqd::stream
