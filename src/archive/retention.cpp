#include "archive/retention.h"

#include <map>

#include "common/utc.h"
#include "formats/sds/sds_layout.h"
#include "platform/files.h"
#include "platform/text.h"

namespace zqd::archive {

bool Retention::BelowFloor(std::uint64_t to_write) const {
    if (config_.min_free_bytes == 0) return false;
    const std::int64_t free = platform::FreeBytes(root_);
    return free >= 0 && static_cast<std::uint64_t>(free) < config_.min_free_bytes + to_write;
}

void Retention::Enforce(std::int64_t today_ns, bool need_room, std::uint64_t to_write,
                        const std::function<void(const RemovedDay&)>& removed) {
    const std::int64_t today = utc::FloorDiv(today_ns, utc::kNsPerDay) * utc::kNsPerDay;
    const bool too_old_possible = config_.keep_days > 0;
    if (!too_old_possible && !need_room && !BelowFloor(to_write)) return;
    // The archive's own day files before today, by day, oldest first.
    std::map<std::int64_t, std::vector<std::filesystem::path>> days;
    for (auto& path : sds::DayFiles(root_, std::nullopt, today)) {
        const auto name = sds::ParseDayFileName(platform::PathText(path.filename()));
        if (!name || name->type != "D" || !streams_.count(name->codes.Name()) || name->day_ns >= today) continue;
        // Only what lies where the layout puts this stream's day: never a file elsewhere of that name.
        if (path.parent_path().filename() != platform::PathFromUtf8(name->codes.channel + ".D")) continue;
        days[name->day_ns].push_back(std::move(path));
    }
    const std::int64_t oldest_kept = today - static_cast<std::int64_t>(config_.keep_days - 1) * utc::kNsPerDay;
    bool room_wanted = need_room;
    for (auto& [day, files] : days) {
        const bool too_old = too_old_possible && day < oldest_kept;
        const bool for_space = !too_old && (room_wanted || BelowFloor(to_write));
        if (!too_old && !for_space) break;  // the rest are younger, and there is room
        RemovedDay r;
        r.day_ns = day;
        r.for_space = for_space;
        for (const auto& f : files) {
            std::error_code ec;
            const auto size = std::filesystem::file_size(f, ec);
            if (std::filesystem::remove(f, ec)) {
                r.files.push_back(f);
                r.bytes += ec ? 0 : size;
            } else if (ec && r.status.ok()) {
                r.status = Status::Fail(Status::Code::kWriteFailed, Status::Why::kDayFileRemoveFailed)
                               .About(platform::PathText(f))
                               .Said(ec.message());
            }
            // Folders the day leaves empty go too (up to the archive's root).
            for (auto dir = f.parent_path(); dir != root_ && dir.has_parent_path() && dir.parent_path() != dir;
                 dir = dir.parent_path()) {
                std::error_code e2;
                if (std::filesystem::is_symlink(dir, e2) || !std::filesystem::is_empty(dir, e2) || e2 ||
                    !std::filesystem::remove(dir, e2))
                    break;
            }
        }
        room_wanted = false;  // one day freed for the refused write; the floor decides the rest
        removed(r);
    }
}

}  // namespace zqd::archive
