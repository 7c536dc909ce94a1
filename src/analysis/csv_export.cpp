#include "analysis/csv_export.h"

#include "common/numtext.h"
#include "common/platform.h"

namespace zqd {

std::string ExportValueText(std::int32_t code) {
    // The difference is exact in 64 bits even for codes far outside 0..65535.
    const double v = static_cast<double>(static_cast<std::int64_t>(code) - 32767) / 65535 * 10;
    return FormatFixed(static_cast<float>(v), 4);
}

std::string ExportFileBytes(const std::array<std::string, 3>& startTexts, std::int32_t startNS,
                            const std::vector<std::int32_t>& dispData) {
    const std::string header = "时间" + startTexts[0] + "-" + startTexts[1] + "-" + startTexts[2] +
                               "  NS:" + std::to_string(startNS);
    std::string out = platform::Utf8ToGbk(header) + "\r\n";
    out.reserve(out.size() + dispData.size() * 9);
    for (const std::int32_t code : dispData) {
        out += ExportValueText(code);
        out += "\r\n";
    }
    return out;
}

}  // namespace zqd
