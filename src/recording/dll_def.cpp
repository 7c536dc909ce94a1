#include "recording/dll_def.h"

namespace zqd {

std::optional<std::int32_t> BlockSamples(std::int32_t chnNum, std::int32_t chnPoints, std::string& why) {
    if (chnNum < 0 || chnPoints < 0) {
        why = "通道数 " + std::to_string(chnNum) + " 或每通道点数 " + std::to_string(chnPoints) + " 为负";
        return std::nullopt;
    }
    const std::int64_t n = static_cast<std::int64_t>(chnNum) * chnPoints;
    if (n + 1 > INT32_MAX) {
        why = "通道数 × 每通道点数 = " + std::to_string(n) + "，超出 32 位范围";
        return std::nullopt;
    }
    return static_cast<std::int32_t>(n);
}

std::optional<std::int32_t> RecordLastIndex(std::int32_t n, std::int32_t blockNum, std::string& why) {
    if (blockNum < 0) {
        why = "块数 " + std::to_string(blockNum) + " 为负";
        return std::nullopt;
    }
    const std::int64_t last = static_cast<std::int64_t>(n) * blockNum;
    if (last > INT32_MAX) {
        why = "每块点数 × 块数 = " + std::to_string(last) + "，超出 32 位范围";
        return std::nullopt;
    }
    return static_cast<std::int32_t>(last);
}

}  // namespace zqd
