#include "formats/csv/csv_table.h"

#include <cstdio>

#include "common/utc.h"
#include "formats/csv/t2csv.h"

namespace zqd::csv {

std::string TableBytes(const Table& t) {
    std::string text = "time";
    for (const auto& name : t.names) text += "," + name;
    text += "\n";
    std::vector<std::int32_t> values(t.names.size());
    char value[32];
    for (std::uint64_t r = 0; r < t.rows; ++r) {
        text += utc::IsoMicro(t.time_of(r));
        t.values_of(r, values.data());
        for (const std::int32_t v : values) {
            if (t.volts)
                std::snprintf(value, sizeof value, ",%.6f", CodeToVolts(v));
            else
                std::snprintf(value, sizeof value, ",%d", v);
            text += value;
        }
        text += "\n";
    }
    return text;
}

}  // namespace zqd::csv
