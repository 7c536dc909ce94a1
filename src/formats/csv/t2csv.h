// The export file T2.csv: GBK text, CR LF after every line. Line 1:
// "时间" + hour + "-" + minute + "-" + second (the start boxes as typed) +
// "  NS:" + StartNS; then one "####.0000" value per sample,
// (code - 32767) / 65535 x 10 in single precision.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zqd::csv {

// The export file of the main window, in the program's folder.
inline constexpr const char* kExportFileName = "T2.csv";

// The whole file's bytes. Box texts are UTF-8 and are converted to GBK.
std::string ExportFileBytes(const std::array<std::string, 3>& startTexts, std::int32_t startNS,
                            const std::vector<std::int32_t>& dispData);

// A code in volts, as the export scales it: (code - 32767) / 65535 x 10.
inline double CodeToVolts(std::int32_t code) {
    // The difference is exact in 64 bits even for codes far outside 0..65535.
    return static_cast<double>(static_cast<std::int64_t>(code) - 32767) / 65535 * 10;
}

// One value line's text without its CR LF: 0 -> "-4.9999", 32767 -> ".0000".
std::string ExportValueText(std::int32_t code);

}  // namespace zqd::csv
