#include "stream/record_ring.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace zqd::stream {

namespace {

constexpr char kMagic[8] = {'Z', 'Q', 'D', 'R', 'I', 'N', 'G', '1'};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint64_t kHeaderBytes = 4096;
constexpr std::uint64_t kHeadBytes = 64;
constexpr std::uint64_t kSlotBytes = kHeadBytes + RecordRing::kRecordBytes;
constexpr std::size_t kStreamBytes = 24;

void Put64(unsigned char* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint64_t Get64(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

Status Failed(Status::Why why, const std::filesystem::path& path) {
    return Status::Fail(Status::Code::kWriteFailed, why).About(platform::PathText(path)).Said(std::strerror(errno));
}

}  // namespace

// A slot's head: sequence + 1 (0: empty), start, end, the stream's name, the
// record's length, and the checksum of all of it and the record.
struct RecordRing::Head {
    std::uint64_t sequence_plus_one = 0;
    std::int64_t start_ns = 0, end_ns = 0;
    char stream[kStreamBytes] = {};
    std::uint64_t length = 0;
    std::uint64_t sum = 0;

    void To(unsigned char* p) const {
        std::memset(p, 0, kHeadBytes);
        Put64(p, sequence_plus_one);
        Put64(p + 8, static_cast<std::uint64_t>(start_ns));
        Put64(p + 16, static_cast<std::uint64_t>(end_ns));
        std::memcpy(p + 24, stream, kStreamBytes);
        Put64(p + 48, length);
        Put64(p + 56, sum);
    }
    void From(const unsigned char* p) {
        sequence_plus_one = Get64(p);
        start_ns = static_cast<std::int64_t>(Get64(p + 8));
        end_ns = static_cast<std::int64_t>(Get64(p + 16));
        std::memcpy(stream, p + 24, kStreamBytes);
        length = Get64(p + 48);
        sum = Get64(p + 56);
    }
};

namespace {
// The checksum of a slot: its head (with the sum as 0) and its record.
std::uint64_t SlotSum(const unsigned char* slot) {
    unsigned char head[kHeadBytes];
    std::memcpy(head, slot, kHeadBytes);
    std::memset(head + 56, 0, 8);
    XXH64_state_t st;
    XXH64_reset(&st, 0);
    XXH64_update(&st, head, kHeadBytes);
    XXH64_update(&st, slot + kHeadBytes, RecordRing::kRecordBytes);
    return XXH64_digest(&st);
}
}  // namespace

RecordRing::~RecordRing() {
    if (file_) std::fclose(file_);
}

Status RecordRing::WriteHeader() {
    unsigned char h[kHeaderBytes] = {};
    std::memcpy(h, kMagic, 8);
    Put64(h + 8, kVersion);
    Put64(h + 16, kSlotBytes);
    Put64(h + 24, slots_);
    Put64(h + 32, reserved_);
    Put64(h + 40, XXH64(h, 40, 0));
    if (!platform::SeekTo(file_, 0) || std::fwrite(h, 1, kHeaderBytes, file_) != kHeaderBytes ||
        std::fflush(file_) != 0)
        return Failed(Status::Why::kRingWriteFailed, path_);
    return platform::SyncData(file_);
}

Status RecordRing::Reserve() {
    const std::uint64_t bytes = kHeaderBytes + slots_ * kSlotBytes;
    if (platform::ReserveSpace(file_, bytes)) return Status::Ok();
    return Status::Fail(Status::Code::kWriteFailed, Status::Why::kRingNoRoom)
        .About(platform::PathText(path_))
        .Value(static_cast<std::int64_t>((bytes + (1u << 20) - 1) >> 20));
}

Status RecordRing::Create(std::uint64_t reserved) {
    if (file_) std::fclose(file_);
    file_ = platform::OpenFile(path_, "w+b");
    if (!file_) return Failed(Status::Why::kRingOpenFailed, path_);
    reserved_ = reserved;
    next_ = reserved;
    oldest_ = reserved;
    any_ = false;
    if (Status s = WriteHeader(); !s.ok()) return s;
    // The slots read as empty until written: the file is extended, not
    // filled, and its room taken on the disk, so that live data go on when
    // the disk fills.
    std::vector<unsigned char> zero(kSlotBytes, 0);
    if (!platform::SeekTo(file_, kHeaderBytes + (slots_ - 1) * kSlotBytes) ||
        std::fwrite(zero.data(), 1, zero.size(), file_) != zero.size() || std::fflush(file_) != 0)
        return Failed(Status::Why::kRingWriteFailed, path_);
    return Reserve();
}

bool RecordRing::ScanSlots(std::uint64_t old_slots, std::uint64_t below, std::uint64_t& newest,
                           std::vector<std::uint64_t>& held) {
    if (!platform::SeekTo(file_, kHeaderBytes)) return false;
    bool found = false;
    std::vector<unsigned char> slot(kSlotBytes);
    for (std::uint64_t i = 0; i < old_slots; ++i) {
        if (std::fread(slot.data(), 1, kSlotBytes, file_) != kSlotBytes) break;
        Head head;
        head.From(slot.data());
        if (head.sequence_plus_one == 0 || head.sum != SlotSum(slot.data())) continue;
        const std::uint64_t seq = head.sequence_plus_one - 1;
        if (seq % old_slots != i || seq >= below) continue;
        if (!found || seq > newest) newest = seq;
        found = true;
        held.push_back(seq);
        const std::string name(head.stream, strnlen(head.stream, kStreamBytes));
        auto [it, fresh] = spans_.try_emplace(name, Span{head.start_ns, head.end_ns});
        if (!fresh) {
            it->second.start_ns = std::min(it->second.start_ns, head.start_ns);
            it->second.end_ns = std::max(it->second.end_ns, head.end_ns);
        }
    }
    return found;
}

Result<RecordRing::Opened> RecordRing::Open(const std::filesystem::path& path, std::uint64_t bytes) {
    std::lock_guard lock(mutex_);
    path_ = path;
    holes_.clear();
    newest_ = 0;
    slots_ = std::max<std::uint64_t>(16, bytes / kSlotBytes);
    Opened opened;
    if (file_) std::fclose(file_);
    file_ = platform::KindOf(path) == platform::FileKind::kRegular ? platform::OpenFile(path, "r+b") : nullptr;
    if (!file_) {
        opened.created = platform::KindOf(path) == platform::FileKind::kMissing;
        opened.rebuilt = !opened.created;
        spans_.clear();
        recent_.fill(nullptr);
        if (Status s = Create(0); !s.ok()) return s;
        opened.next = next_;
        return opened;
    }
    unsigned char h[kHeaderBytes] = {};
    const bool read = std::fread(h, 1, kHeaderBytes, file_) == kHeaderBytes;
    const bool ours = read && std::memcmp(h, kMagic, 8) == 0 && Get64(h + 8) == kVersion && Get64(h + 16) == kSlotBytes;
    const bool whole = ours && Get64(h + 40) == XXH64(h, 40, 0);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    const std::uint64_t old_slots =
        whole ? Get64(h + 24) : (!ec && size > kHeaderBytes ? (size - kHeaderBytes) / kSlotBytes : 0);
    std::uint64_t reserved = whole ? Get64(h + 32) : 0;
    // The records there: every slot whose check holds (of our layout).
    std::uint64_t newest = 0;
    spans_.clear();
    recent_.fill(nullptr);
    std::vector<std::uint64_t> held;
    const bool found = ours && old_slots > 0 && ScanSlots(old_slots, whole ? reserved : UINT64_MAX, newest, held);
    if (found) reserved = std::max(reserved, newest + 1);
    if (!whole || old_slots != slots_) {
        // Another layout, a damaged header or another size: made new, its
        // records not trusted, its numbers not used again.
        opened.rebuilt = true;
        spans_.clear();
        if (Status s = Create(reserved); !s.ok()) return s;
        reserved_ = reserved + kReserve;
        if (Status s = WriteHeader(); !s.ok()) return s;
        opened.next = next_;
        return opened;
    }
    if (Status s = Reserve(); !s.ok()) return s;
    // After the reservation, never a number that may have gone out before.
    next_ = reserved;
    if (found) {
        any_ = true;
        // What the last lap of the slots holds, through the numbers every
        // earlier restart skipped: a slot the skipped numbers never reached
        // keeps a record of an older lap, which is not served.
        std::sort(held.begin(), held.end());
        const std::uint64_t lap = newest + 1 >= slots_ ? newest + 1 - slots_ : 0;
        held.erase(held.begin(), std::lower_bound(held.begin(), held.end(), lap));
        oldest_ = held.front();
        for (std::size_t i = 1; i < held.size(); ++i)
            if (held[i] > held[i - 1] + 1) holes_.emplace_back(held[i - 1] + 1, held[i]);
        holes_.emplace_back(newest + 1, next_);  // reserved by the last run and never recorded
        newest_ = newest;
        opened.kept = held.size();
    } else {
        oldest_ = next_;
    }
    reserved_ = reserved + kReserve;
    if (Status s = WriteHeader(); !s.ok()) return s;
    opened.next = next_;
    return opened;
}

Result<std::uint64_t> RecordRing::Append(const std::string& stream, std::int64_t start_ns, std::int64_t end_ns,
                                         const char* record, std::size_t length) {
    RingRecordPtr added;
    Listener listener;
    {
        std::lock_guard lock(mutex_);
        if (!file_)
            return Status::Fail(Status::Code::kWriteFailed, Status::Why::kRingWriteFailed).About(platform::PathText(path_));
        if (next_ >= reserved_) {
            reserved_ = next_ + kReserve;
            if (Status s = WriteHeader(); !s.ok()) return s;
        }
        const std::uint64_t seq = next_;
        // The record this one overwrites: its stream's oldest held now
        // starts where it ended.
        if (any_ && seq >= slots_ && seq - slots_ >= oldest_) {
            Head gone;
            if (HeadLocked(seq - slots_, gone)) {
                const auto it = spans_.find(std::string(gone.stream, strnlen(gone.stream, kStreamBytes)));
                if (it != spans_.end() && it->second.start_ns <= gone.start_ns) it->second.start_ns = gone.end_ns;
            }
        }
        std::vector<unsigned char> slot(kSlotBytes, 0);
        Head head;
        head.sequence_plus_one = seq + 1;
        head.start_ns = start_ns;
        head.end_ns = end_ns;
        std::memcpy(head.stream, stream.data(), std::min(stream.size(), kStreamBytes - 1));
        head.length = std::min<std::uint64_t>(length, kRecordBytes);
        head.To(slot.data());
        std::memcpy(slot.data() + kHeadBytes, record, static_cast<std::size_t>(head.length));
        head.sum = SlotSum(slot.data());
        head.To(slot.data());
        if (!platform::SeekTo(file_, kHeaderBytes + (seq % slots_) * kSlotBytes) ||
            std::fwrite(slot.data(), 1, kSlotBytes, file_) != kSlotBytes || std::fflush(file_) != 0)
            return Failed(Status::Why::kRingWriteFailed, path_);
        next_ = seq + 1;
        if (!any_) oldest_ = seq;
        any_ = true;
        newest_ = seq;
        if (next_ - oldest_ > slots_) oldest_ = next_ - slots_;
        while (!holes_.empty() && holes_.front().second <= oldest_) holes_.erase(holes_.begin());
        auto r = std::make_shared<RingRecord>();
        r->sequence = seq;
        r->start_ns = start_ns;
        r->end_ns = end_ns;
        r->stream.assign(head.stream, strnlen(head.stream, kStreamBytes));
        r->bytes.assign(record, record + head.length);
        auto [it, fresh] = spans_.try_emplace(r->stream, Span{start_ns, end_ns});
        if (!fresh) it->second.end_ns = std::max(it->second.end_ns, end_ns);
        recent_[seq % kRecent] = r;
        added = std::move(r);
        listener = listener_;
    }
    if (listener) listener(added);
    return added->sequence;
}

void RecordRing::SetListener(Listener listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

std::map<std::string, RecordRing::Span> RecordRing::Streams() const {
    std::lock_guard lock(mutex_);
    return spans_;
}

bool RecordRing::HeadLocked(std::uint64_t seq, Head& head) {
    unsigned char raw[kHeadBytes];
    if (!file_ || !platform::SeekTo(file_, kHeaderBytes + (seq % slots_) * kSlotBytes) ||
        std::fread(raw, 1, kHeadBytes, file_) != kHeadBytes)
        return false;
    head.From(raw);
    return head.sequence_plus_one == seq + 1;
}

std::uint64_t RecordRing::FirstEndingAfter(std::int64_t t_ns, std::int64_t late_ns) {
    std::lock_guard lock(mutex_);
    if (!any_) return next_;
    // The records' end times, less the lateness allowed, never fall behind
    // an earlier record's: the first whose end may pass `t_ns` by halves,
    // reading heads only.
    const std::int64_t from = t_ns < INT64_MIN + late_ns ? INT64_MIN : t_ns - late_ns;
    std::uint64_t lo = oldest_, hi = newest_ + 1;
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        Head head;
        // The numbers a restart skipped, and a damaged slot, count as ending
        // late: the search then starts early, never late.
        const bool known = !HoleAt(mid) && HeadLocked(mid, head);
        if (known && head.end_ns <= from)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

RingRecordPtr RecordRing::Read(std::uint64_t seq) {
    std::lock_guard lock(mutex_);
    if (!any_ || seq < oldest_ || seq > newest_) return nullptr;
    if (const auto& r = recent_[seq % kRecent]; r && r->sequence == seq) return r;
    return ReadLocked(seq);
}

RingRecordPtr RecordRing::ReadLocked(std::uint64_t seq) {
    if (!file_) return nullptr;
    std::vector<unsigned char> slot(kSlotBytes);
    if (!platform::SeekTo(file_, kHeaderBytes + (seq % slots_) * kSlotBytes) ||
        std::fread(slot.data(), 1, kSlotBytes, file_) != kSlotBytes)
        return nullptr;
    Head head;
    head.From(slot.data());
    if (head.sequence_plus_one != seq + 1 || head.sum != SlotSum(slot.data()) || head.length > kRecordBytes) return nullptr;
    auto r = std::make_shared<RingRecord>();
    r->sequence = seq;
    r->start_ns = head.start_ns;
    r->end_ns = head.end_ns;
    r->stream.assign(head.stream, strnlen(head.stream, kStreamBytes));
    r->bytes.assign(slot.begin() + kHeadBytes, slot.begin() + static_cast<std::ptrdiff_t>(kHeadBytes + head.length));
    return r;
}

std::optional<std::uint64_t> RecordRing::Oldest() const {
    std::lock_guard lock(mutex_);
    if (!any_) return std::nullopt;
    const auto* hole = HoleAt(oldest_);
    return hole ? hole->second : oldest_;
}

std::uint64_t RecordRing::NextSequence() const {
    std::lock_guard lock(mutex_);
    return next_;
}

std::optional<std::uint64_t> RecordRing::Newest() const {
    std::lock_guard lock(mutex_);
    if (!any_) return std::nullopt;
    return newest_;
}

bool RecordRing::Skipped(std::uint64_t seq) const {
    std::lock_guard lock(mutex_);
    return HoleAt(seq) != nullptr;
}

const std::pair<std::uint64_t, std::uint64_t>* RecordRing::HoleAt(std::uint64_t seq) const {
    auto it = std::upper_bound(holes_.begin(), holes_.end(), seq,
                               [](std::uint64_t s, const auto& hole) { return s < hole.first; });
    if (it == holes_.begin()) return nullptr;
    --it;
    return seq < it->second ? &*it : nullptr;
}

std::optional<std::uint64_t> RecordRing::AtOrAfter(std::uint64_t seq) const {
    std::lock_guard lock(mutex_);
    if (!any_) return std::nullopt;
    std::uint64_t s = std::max(seq, oldest_);
    if (const auto* hole = HoleAt(s)) s = hole->second;
    if (s > newest_) return std::nullopt;
    return s;
}

}  // namespace zqd::stream
