// The output formats of conversion and of the viewer's export, behind one
// registry: each writer takes segments (stretches of evenly spaced samples
// of one or more channels on one time base) and writes them its own way:
//
//   mseed  one miniSEED file per channel and segment
//   sds    every segment appended into an SDS archive
//   sac    one SAC file per channel and segment
//   csv    one CSV table per segment, every channel a column
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/status.h"
#include "formats/mseed/mseed_packer.h"
#include "formats/stream_codes.h"

namespace zqd::convert {

struct Segment {
    // Pieces of the segment, in order: samples [first, first + count) of
    // every channel, sample j at origin_ns + (j - first + origin_index) x
    // 1e9 / rate, with the piece's timing. A record's blocks, or a stretch.
    struct Piece {
        std::uint64_t first = 0, count = 0;
        std::int64_t origin_ns = 0;
        std::uint64_t origin_index = 0;
        mseed::Timing timing;
        std::int64_t TimeOf(std::uint64_t j, double rate) const;
    };

    double rate = 0;
    std::vector<StreamCodes> channels;
    std::vector<Piece> pieces;
    // The segment's own name, for formats that write all its channels into
    // one file ("NET.STA.2008.133.100000").
    std::string name;
    // Samples [from, from + n) of channel c into `out`.
    std::function<void(std::size_t c, std::uint64_t from, std::size_t n, std::int32_t* out)> read;

    std::uint64_t Samples() const { return pieces.empty() ? 0 : pieces.back().first + pieces.back().count; }
    std::int64_t StartNs() const { return pieces.empty() ? 0 : pieces.front().TimeOf(0, rate); }
};

struct WriteOptions {
    std::filesystem::path out;
    mseed::PackOptions pack;
    bool volts = false;  // CSV values in volts
};

class Writer {
public:
    virtual ~Writer() = default;
    // Writes one segment (kWriteFailed, kBusy with kOutputFailed naming the file).
    virtual Status Write(const Segment& segment) = 0;
    // What is to be done after the last segment.
    virtual Status Finish() { return Status::Ok(); }
    // Files written (or, for an archive, day files opened).
    virtual std::uint64_t Files() const = 0;
};

struct Format {
    const char* name;
    const char* help;
    bool archive;  // writes into a layout of folders rather than files
    std::unique_ptr<Writer> (*make)(const WriteOptions& options);
};

// Every format, in the order they are offered.
const std::vector<Format>& Formats();
// The writer of `name`, or none for a name that is not a format's.
std::unique_ptr<Writer> MakeWriter(std::string_view name, const WriteOptions& options);
// "mseed, sds, sac or csv"-style list of the names, joined by `separator`.
std::vector<std::string> FormatNames(bool with_archives = true);

}  // namespace zqd::convert
