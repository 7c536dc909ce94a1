// Reading T1.DAT back and decoding the GPS time of each block from the @@Ha
// messages whose bytes travel in offset 1 of every scan.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "recording/dll_def.h"
#include "recording/recording.h"

namespace zqd {

// Reads a record file with the given ChnNum (the file does not store it). A
// file that is missing, shorter than its header announces, or whose header
// is negative or too large is refused: empty result, `error` names the file
// and the problem. The file is read in large sequential blocks.
std::optional<Recording> ReadRecordFile(const std::filesystem::path& path, std::int16_t chnNum,
                                           std::string& error);

// Whether a record of `samples` 32-bit values can be held by a program whose
// pointers have `pointerBits` bits; otherwise `why` says so.
bool SamplesAddressable(std::uint64_t samples, unsigned pointerBits, std::string& why);

// The GPS time of one block (N = chnNum x chnPoints values from `block`; the
// value just after the block must be readable too, as BlockData always has
// one more). A block has a time only when its first four GPS-slot values
// are 64, 64, 72, 97 ("@@Ha") and it carries at least the 15 values up to
// the last byte of NS, and every field fits its width.
std::optional<GpsTime> DecodeBlockTime(const std::int32_t* block, std::int32_t chnNum,
                                       std::int32_t chnPoints);

// Each block's time of a loaded record, ns since 1970 UTC: its own decoded
// time, or else the nearest block's that has one (the earlier first) plus or
// minus whole seconds, one block being one second of scans. `from[k]` is k
// for a block with its own time, else the block its time came from; -1 for
// all when no block has a time.
struct RecordTimes {
    std::vector<std::int64_t> ns;
    std::vector<int> from;
    int timed = 0;  // blocks with a time of their own
    bool Own(int k) const { return from[static_cast<std::size_t>(k)] == k; }
};
RecordTimes BlockTimesOf(const Recording& rec, std::int32_t chnNum);

// A decoded time as ns since 1970 UTC, if its fields make a time at all.
std::optional<std::int64_t> GpsTimeNs(const GpsTime& t);

// "2008-5-12 3:4:5:0": Year-Month-Day Hour:Minute:Second:NS in plain decimal.
std::string BlockTimeLine(const GpsTime& t);

}  // namespace zqd
