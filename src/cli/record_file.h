// The record and export files the analysis commands read and write: those
// given, else the main window's own in its data folder.
#pragma once

#include <filesystem>
#include <string>

#include "formats/csv/t2csv.h"
#include "formats/t1dat/t1dat.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace zqd::cli {

inline std::filesystem::path RecordFile(const std::string& given) {
    return given.empty() ? platform::DataFolder() / t1dat::kFileName : platform::PathFromUtf8(given);
}

inline std::filesystem::path ExportFile(const std::string& given) {
    return given.empty() ? platform::DataFolder() / csv::kExportFileName : platform::PathFromUtf8(given);
}

}  // namespace zqd::cli
