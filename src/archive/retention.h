// Keeping an archive within its disk for months unattended: whole days of
// the archive's own streams are removed, oldest first, when they are older
// than `keep_days`, and while the disk's free space is below its floor.
// Never the day being written or a later one, and never a file that is not
// one of this archive's day files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "common/status.h"

namespace zqd::archive {

struct RetentionConfig {
    int keep_days = 0;                           // 0: keep every day (as far as the disk allows)
    std::uint64_t min_free_bytes = 2048ULL << 20;  // 0: no floor
};

// One day removed: its day files, their bytes, and why.
struct RemovedDay {
    std::int64_t day_ns = 0;  // the day's start, ns since 1970 UTC
    std::vector<std::filesystem::path> files;
    std::uint64_t bytes = 0;
    bool for_space = false;  // to free the disk (else for its age)
    Status status;           // a file that could not be removed
};

class Retention {
public:
    // `streams`: the archive's own, as "NET.STA.LOC.CHA".
    Retention(std::filesystem::path root, std::set<std::string> streams, RetentionConfig config)
        : root_(std::move(root)), streams_(std::move(streams)), config_(config) {}

    // Removes the days it must while `today_ns` (the day of the newest data)
    // is being written: those older than keep_days, then, oldest first, as
    // long as the disk's free space less `to_write` bytes is below its floor,
    // or `need_room` (a write was refused for want of room). Each day as it
    // goes to `removed`.
    void Enforce(std::int64_t today_ns, bool need_room, std::uint64_t to_write,
                 const std::function<void(const RemovedDay&)>& removed);

    // One more of the archive's own streams, "NET.STA.LOC.CHA".
    void AddStream(const std::string& stream) { streams_.insert(stream); }
    // Whether free space less `to_write` bytes is below the floor now.
    bool BelowFloor(std::uint64_t to_write = 0) const;
    const RetentionConfig& Config() const { return config_; }

private:
    std::filesystem::path root_;
    std::set<std::string> streams_;
    RetentionConfig config_;
};

}  // namespace zqd::archive
