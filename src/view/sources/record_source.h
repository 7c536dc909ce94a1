// A record file (T1.DAT) as a waveform model.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/result.h"
#include "view/waveform_model.h"

namespace zqd::view {

// Each block dated by its own valid message, or by its neighbour's plus
// whole blocks (marked as carried). `channels`: card offset and name of
// each row. kFileRefused for a bad file (the reader's status), one without
// blocks (kEmptyRecord) or without any time (kNoTime).
Result<WaveformModel> LoadRecordModel(const std::filesystem::path& path, int chnNum,
                                      const std::vector<std::pair<int, std::string>>& channels);

}  // namespace zqd::view
