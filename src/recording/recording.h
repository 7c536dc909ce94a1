// A record as the analysis reads it: opened from a file, or the empty record
// a start leaves. The acquisition never writes into it.
#pragma once

#include <cstdint>
#include <vector>

namespace zqd {

// The files of the main window, in the program's folder.
inline constexpr const char* kExportFileName = "T2.csv";

// Date and time of one block as the GPS receiver sent it; all zero = none found.
struct GpsTime {
    std::int16_t Year = 0;
    std::int16_t Month = 0;
    std::int16_t Day = 0;
    std::int16_t Hour = 0;
    std::int16_t Minute = 0;
    std::int16_t Second = 0;
    std::int32_t NS = 0;

    bool operator==(const GpsTime&) const = default;
};

struct Recording {
    std::int16_t BlockNum = 0;
    std::int32_t ChnPoints = 0;
    std::int16_t ChnNum = 0;
    std::vector<std::int32_t> BlockData;  // indices 0 to ChnNum x ChnPoints x BlockNum
};

}  // namespace zqd
