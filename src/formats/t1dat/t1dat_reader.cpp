#include "formats/t1dat/t1dat_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/safe_file.h"
#include "platform/text.h"

namespace zqd::t1dat {

using Code = Status::Code;
using Why = Status::Why;

namespace {

// A little-endian 32-bit value.
std::uint32_t Load32(const unsigned char* at) {
    std::uint32_t v;
    std::memcpy(&v, at, 4);
    if constexpr (std::endian::native == std::endian::big)
        v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
    return v;
}

std::uint32_t GetLE(const unsigned char* at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | at[i];
    return v;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

Status Failed(Why why) { return Status::Fail(Code::kFileRefused, why); }

// The header of a file of `size` bytes: BlockNum and ChnPoints, checked
// against the sizes they make and against the file's length. The samples'
// room is made.
Status ReadHeader(std::FILE* file, std::uint64_t size, Recording& rec) {
    if (size < RecordOffset(2) + 4) return Failed(Why::kHeaderShort).Value(static_cast<std::int64_t>(size));
    std::array<unsigned char, kRecordBytes + 4> head{};
    if (std::fread(head.data(), 1, head.size(), file) != head.size()) return Failed(Why::kHeaderReadFailed);
    rec.BlockNum = static_cast<std::int16_t>(GetLE(&head[0], 2));
    rec.ChnPoints = static_cast<std::int32_t>(GetLE(&head[kRecordBytes], 4));
    if (rec.BlockNum < 0) return Failed(Why::kHeaderBlocksNegative).Value(rec.BlockNum);
    if (rec.ChnPoints < 0) return Failed(Why::kHeaderPointsNegative).Value(rec.ChnPoints);
    const auto last = RecordLastIndex(rec.ChnNum, rec.ChnPoints, rec.BlockNum);
    if (!last) return last.status();
    const std::uint64_t records = static_cast<std::uint64_t>(*last) + 1;
    const std::uint64_t needed = RecordOffset(records + 2) + 4;  // up to the last value
    if (size < needed)
        return Failed(Why::kRecordShort)
            .Values(static_cast<std::int64_t>(records), static_cast<std::int64_t>(needed), static_cast<std::int64_t>(size));
    if (Status fits = SamplesAddressable(records, sizeof(void*) * 8); !fits.ok()) return fits;
    try {
        rec.BlockData.assign(static_cast<std::size_t>(records), 0);
    } catch (const std::bad_alloc&) {
        return Failed(Why::kOutOfMemory).Value(static_cast<std::int64_t>(records));
    } catch (const std::length_error&) {
        return Failed(Why::kTooManySamples).Value(static_cast<std::int64_t>(records));
    }
    return Status::Ok();
}

// Sample records start at record 3. They are read straight into a buffer
// that stays in the processor's cache, 4096 records (512 KiB) at a time: as
// fast as reading the file at all, where a memory map read with a stride
// waits on memory at every record.
constexpr std::size_t kChunkRecords = 4096;

bool ReadRange(std::FILE* f, std::size_t from, std::size_t to, std::int32_t* samples) {
    std::vector<unsigned char> chunk(kChunkRecords * kRecordBytes);
    if (!platform::SeekTo(f, RecordOffset(3 + from))) return false;
    for (std::size_t i = from; i < to;) {
        const std::size_t want = std::min(kChunkRecords, to - i);
        // The last record may end early; its value bytes are all that is needed.
        const std::size_t got = std::fread(chunk.data(), 1, want * kRecordBytes, f);
        const std::size_t whole = got / kRecordBytes + (got % kRecordBytes >= 4 ? 1 : 0);
        if (whole < want) return false;
        for (std::size_t r = 0; r < want; ++r) samples[i + r] = static_cast<std::int32_t>(Load32(&chunk[r * kRecordBytes]));
        i += want;
    }
    return true;
}

// Every sample; a large record as two halves at once, the second through a
// handle of its own.
bool ReadSamples(const std::filesystem::path& path, std::FILE* file, std::vector<std::int32_t>& samples) {
    const std::size_t all = samples.size();
    std::size_t half = all;
    std::unique_ptr<std::FILE, FileCloser> second;
    if (all >= 8 * kChunkRecords) {
        second.reset(platform::OpenFile(path, "rb"));
        if (second) {
            std::setvbuf(second.get(), nullptr, _IONBF, 0);
            half = all / 2;
        }
    }
    bool second_ok = true;
    std::thread helper;
    if (half < all) helper = std::thread([&] { second_ok = ReadRange(second.get(), half, all, samples.data()); });
    const bool first_ok = ReadRange(file, 0, half, samples.data());
    if (helper.joinable()) helper.join();
    return first_ok && second_ok;
}

}  // namespace

Result<Recording> ReadRecordFile(const std::filesystem::path& path, std::int16_t chnNum) {
    auto refuse = [&](Status why) {
        return Status::Fail(Code::kFileRefused, Why::kRecordRefused).About(platform::PathText(path)).Because(std::move(why));
    };
    std::error_code ec;
    if (Status readable = ReadableFile(path); !readable.ok()) return refuse(std::move(readable));
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) return refuse(Failed(Why::kFileSizeUnknown).Said(ec.message()));
    std::unique_ptr<std::FILE, FileCloser> file(platform::OpenFile(path, "rb"));
    if (!file) return refuse(Failed(Why::kSystem).Said(platform::LastErrorText()));
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // large reads go straight to the caller's buffer
    Recording rec;
    rec.ChnNum = chnNum;
    if (Status s = ReadHeader(file.get(), size, rec); !s.ok()) return refuse(std::move(s));
    if (!ReadSamples(path, file.get(), rec.BlockData)) return refuse(Failed(Why::kSamplesReadFailed));
    return rec;
}

}  // namespace zqd::t1dat
