#include "formats/sds/sds_layout.h"

#include <algorithm>
#include <cstdio>

#include "common/numtext.h"
#include "common/utc.h"
#include "platform/text.h"

namespace zqd::sds {

std::filesystem::path DayFile(const std::filesystem::path& root, const StreamCodes& c, std::int64_t t_ns) {
    const utc::Civil day = utc::FromNs(t_ns);
    const std::int64_t doy = utc::DaysFromCivil(day.year, day.month, day.day) - utc::DaysFromCivil(day.year, 1, 1) + 1;
    char tail[40];
    std::snprintf(tail, sizeof tail, ".D.%04lld.%03lld", static_cast<long long>(day.year), static_cast<long long>(doy));
    return root / std::to_string(day.year) / c.network / c.station / (c.channel + ".D") /
           (c.network + "." + c.station + "." + c.location + "." + c.channel + tail);
}

std::optional<DayFileName> ParseDayFileName(const std::string& name) {
    const auto parts = SplitText(name, '.');  // NET.STA.LOC.CHA.TYPE.YEAR.DOY
    int year = 0, doy = 0;
    char extra = 0;
    if (parts.size() != 7 || std::sscanf(parts[5].c_str(), "%d%c", &year, &extra) != 1 ||
        std::sscanf(parts[6].c_str(), "%d%c", &doy, &extra) != 1 || year < 1 || year > 9999 || doy < 1 || doy > 366)
        return std::nullopt;
    DayFileName d;
    d.codes = {parts[0], parts[1], parts[2], parts[3]};
    d.type = parts[4];
    d.year = year;
    d.doy = doy;
    d.day_ns = (utc::DaysFromCivil(year, 1, 1) + doy - 1) * utc::kNsPerDay;
    return d;
}

std::vector<std::filesystem::path> DayFiles(const std::filesystem::path& root, std::optional<std::int64_t> from,
                                            std::optional<std::int64_t> to, std::vector<std::filesystem::path>* passed) {
    std::vector<std::pair<std::string, std::filesystem::path>> found;  // YEAR.DOY + name, path
    std::error_code ec;
    // ROOT/YEAR/NET/STA/CHAN.D/file: nothing deeper is looked into, which also
    // bounds a loop of links.
    constexpr int kDeepest = 4;
    const auto options = std::filesystem::directory_options::follow_directory_symlink |
                         std::filesystem::directory_options::skip_permission_denied;
    for (std::filesystem::recursive_directory_iterator it(root, options, ec), end; !ec && it != end; it.increment(ec)) {
        if (it.depth() >= kDeepest && it->is_directory(ec)) it.disable_recursion_pending();
        const std::string name = platform::PathText(it->path().filename());
        const auto d = ParseDayFileName(name);
        if (!d) continue;
        if ((from && d->day_ns + utc::kNsPerDay <= *from) || (to && d->day_ns >= *to)) continue;
        if (!it->is_regular_file(ec)) {
            if (passed && !it->is_directory(ec)) passed->push_back(it->path());
            continue;
        }
        char key[32];
        std::snprintf(key, sizeof key, "%06d.%03d.", d->year, d->doy);
        found.push_back({key + name, it->path()});
    }
    std::sort(found.begin(), found.end());
    std::vector<std::filesystem::path> files;
    for (auto& f : found) files.push_back(std::move(f.second));
    return files;
}

}  // namespace zqd::sds
