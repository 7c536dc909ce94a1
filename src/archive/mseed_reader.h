// miniSEED files and SDS archive folders as a waveform model. Each file is
// read once to index its records and build the channels' summaries; the
// samples stay in the files and are decoded again, record by record, only
// for the spans drawn at fine zoom. Records whose blockette 1001 gives a
// timing quality below 100 mark their time as carried.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "view/waveform_model.h"

namespace zqd::archive {

struct MseedLoad {
    std::uint64_t records = 0, bad_records = 0;
    std::vector<std::string> skipped;  // files that could not be read, with why
};

// The miniSEED files `files`, in this order (a channel's records in time
// order across them). Channels are named NET.STA.LOC.CHA. Optionally only
// records that overlap [from, to).
std::optional<view::WaveformModel> LoadMseedModel(const std::vector<std::filesystem::path>& files,
                                                  std::optional<std::int64_t> from, std::optional<std::int64_t> to,
                                                  MseedLoad& report, std::string& why);

// The day files of an SDS archive under `folder`
// (YEAR/NET/STA/CHA.D/NET.STA.LOC.CHA.D.YEAR.DOY), in time order, only the
// days that touch [from, to) when given.
std::vector<std::filesystem::path> SdsDayFiles(const std::filesystem::path& folder, std::optional<std::int64_t> from,
                                               std::optional<std::int64_t> to);

}  // namespace zqd::archive
