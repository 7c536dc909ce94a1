#include "formats/csv/t2csv.h"

#include "common/numtext.h"
#include "platform/text.h"

namespace zqd::csv {

std::string ExportValueText(std::int32_t code) {
    return FormatFixed(static_cast<float>(CodeToVolts(code)), 4);
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

}  // namespace zqd::csv
