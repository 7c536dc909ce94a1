// What the readers of the configuration's tables share: how a setting that
// is not right is said (the file, its line, an excerpt of what was given),
// and how values are written back.
#pragma once

#include <string>

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "common/status.h"

namespace zqd::archive {

// Capitals and digits only, as SEED codes are.
bool CodeChars(const std::string& code);
// A TOML string, quotes and backslashes escaped.
std::string Quoted(const std::string& s);
// A number as TOML writes a float: always with a point.
std::string NumberText(double v);
// At most a short excerpt of what was given, cut at a character's boundary.
std::string Excerpt(const std::string& given);
// A setting that is not right: `where` names the file (or who gave the
// setting), `node` its line.
Status Bad(const std::string& where, Status::Why why, const toml::node* node = nullptr);

// An integer setting at `path` within [lo, hi] into `out` (left as it is when
// absent); `said` names it in the message.
template <typename T>
Status IntegerAt(const toml::table& root, const std::string& file, const std::string& path, const char* said,
                 long long lo, long long hi, T& out) {
    const toml::node* n = root.at_path(path).node();
    if (!n) return Status::Ok();
    if (!n->is_integer()) return Bad(file, Status::Why::kConfigNotInteger, n).Said(said);
    const long long v = n->as_integer()->get();
    if (v < lo || v > hi) return Bad(file, Status::Why::kConfigOutOfRange, n).Said(said).Values(v, lo, hi);
    out = static_cast<T>(v);
    return Status::Ok();
}

// A number setting at `path` within [lo, hi] into `out`; integers are numbers too.
Status NumberAt(const toml::table& root, const std::string& file, const std::string& path, const char* said,
                double lo, double hi, double& out);
// A text setting at `path` into `out`.
Status TextAt(const toml::table& root, const std::string& file, const std::string& path, const char* said,
              std::string& out);

}  // namespace zqd::archive

namespace zqd::archive {

struct ArchiveConfig;

// [station]'s coordinates and site, [acquisition] input_range, [sensor], and
// [timing] gps_channels.
Status ReadStationMeta(const toml::table& root, const std::string& file, ArchiveConfig& c);
// The same, as the configuration file writes them: lines for [station], for
// [acquisition], for [timing], and the [sensor] table (empty without one).
struct StationMetaText {
    std::string station, acquisition, timing, sensor;
};
StationMetaText WriteStationMeta(const ArchiveConfig& c);

}  // namespace zqd::archive
