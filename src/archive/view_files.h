// What the waveform viewer opens and exports: a record file (T1.DAT), a
// miniSEED file or an SDS archive folder as a model; the visible span of
// chosen channels written out through the converter's writers.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_config.h"
#include "common/status.h"
#include "view/waveform_model.h"

namespace zqd::archive {

struct Opened {
    std::shared_ptr<view::WaveformModel> model;
    std::string what;    // "T1.DAT：20 块，17 个通道" for the status line
    std::vector<std::string> notes;  // files passed over, blocks without time
    int files_indexed = 0, files_cached = 0;  // miniSEED files read through, or from the cache
};

// Where the summaries of miniSEED files are kept: the user's cache folder.
std::filesystem::path DefaultSummaryCache();

// A folder is read as an SDS archive, a file as miniSEED when it starts
// with a miniSEED record, else as a record file of `config`'s card settings.
// Only the days of an archive that touch [from, to) when given. The
// summaries of miniSEED files are kept in `cache` (empty: not kept).
// kFileRefused with the reason.
Status OpenForView(const std::filesystem::path& path, const ArchiveConfig& config, std::optional<std::int64_t> from,
                   std::optional<std::int64_t> to, Opened& opened,
                   const std::filesystem::path& cache = DefaultSummaryCache());

// Channels `rows` of `model` over [t0, t1) into `folder`: one file per
// channel and stretch, as convert names them. `format`: mseed, sac or csv.
// The number of files written, or the failure.
Status ExportSpan(const view::WaveformModel& model, const std::vector<int>& rows, std::int64_t t0, std::int64_t t1,
                  const std::string& format, const ArchiveConfig& config, const std::filesystem::path& folder,
                  int& files);

}  // namespace zqd::archive
