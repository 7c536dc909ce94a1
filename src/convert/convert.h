// Batch conversion of record files (T1.DAT) to miniSEED, an SDS archive, SAC
// or CSV: every selected channel, each block at its time, segments where the
// times do not continue.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "records/records_config.h"
#include "common/status.h"

namespace zqd::convert {

struct ConvertOptions {
    std::string format = "mseed";  // a writer's name (writers.h)
    std::filesystem::path out = ".";
    int chn_num = 18;
    std::vector<int> channels;     // card offsets; empty: those of `records`
    records::RecordsConfig records = Defaults();  // the codes, the channels, the packing
    std::optional<std::int64_t> assume_start_ns;  // for records without any time
    bool volts = false;            // CSV in volts (the export's scaling) instead of codes

    // The codes and every channel of the main window's card.
    static records::RecordsConfig Defaults() {
        records::RecordsConfig r;
        r.channels = records::DefaultChannels(18, 2000);
        return r;
    }
};

struct ConvertSummary {
    int files = 0, refused = 0;
    std::uint64_t channels = 0, segments = 0, samples = 0, outputs = 0;
    std::uint64_t inferred_blocks = 0;  // blocks whose time came from a neighbour
};

// What conversion has to say about one record file, as it goes.
struct ConvertNote {
    enum class Kind {
        kRefused,   // the file was refused: `status`
        kAssumed,   // no block has a GPS time: dated from `time_ns` on
        kInferred,  // block `block` has no valid GPS time of its own: `from`'s, giving `time_ns`
        kDone,      // `block` blocks, `channels` channels, `segments` segments, `outputs` files written
    };
    ConvertNote(Kind k, std::filesystem::path f) : kind(k), file(std::move(f)) {}
    Kind kind;
    std::filesystem::path file;
    Status status;
    std::int64_t time_ns = 0;
    int block = 0, from = 0;
    std::uint64_t channels = 0, segments = 0, outputs = 0;
};

// Converts one record file; `say` hears each note. A refused file is
// kFileRefused (kConvertRefused with the reason as its cause).
Status ConvertRecord(const std::filesystem::path& file, const ConvertOptions& options, ConvertSummary& summary,
                     const std::function<void(const ConvertNote&)>& say);

}  // namespace zqd::convert
