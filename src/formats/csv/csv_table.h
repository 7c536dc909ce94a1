// Samples as a CSV table: a header "time,NAME,..." and one row a sample, its
// time to the microsecond (UTC) and each channel's value: codes as integers,
// or volts (the export's scaling) with six decimals. LF line ends.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zqd::csv {

struct Table {
    std::vector<std::string> names;
    std::uint64_t rows = 0;
    std::function<std::int64_t(std::uint64_t row)> time_of;
    // The values of row `row`, one a channel, into `out`.
    std::function<void(std::uint64_t row, std::int32_t* out)> values_of;
    bool volts = false;
};

std::string TableBytes(const Table& table);

}  // namespace zqd::csv
