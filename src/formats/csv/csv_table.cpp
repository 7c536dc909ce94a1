#include "formats/csv/csv_table.h"

#include <charconv>

#include "common/utc.h"
#include "formats/csv/t2csv.h"

namespace zqd::csv {

std::string TableBytes(const Table& t) {
    std::string text = "time";
    for (const auto& name : t.names) text += "," + name;
    text += "\n";
    std::vector<std::int32_t> values(t.names.size());
    char value[32];
    value[0] = ',';
    for (std::uint64_t r = 0; r < t.rows; ++r) {
        text += utc::IsoMicro(t.time_of(r));
        t.values_of(r, values.data());
        for (const std::int32_t v : values) {
            // Numbers as the C locale writes them, whatever the user's: a
            // comma is the column's separator.
            const auto end = t.volts ? std::to_chars(value + 1, value + sizeof value, CodeToVolts(v), std::chars_format::fixed, 6)
                                     : std::to_chars(value + 1, value + sizeof value, v);
            text.append(value, end.ptr);
        }
        text += "\n";
    }
    return text;
}

}  // namespace zqd::csv
