#include "formats/t1dat/t1dat_writer.h"

#include <cstring>
#include <vector>

#include "platform/safe_file.h"

namespace zqd::t1dat {

namespace {

void PutLE(unsigned char* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Streams the records through a 1 MiB buffer; `next(out, max)` puts up to
// `max` sample values into `out` and says how many.
template <typename Next>
Status Save(const std::filesystem::path& path, std::int16_t blockNum, std::int32_t chnPoints, std::size_t count,
            std::int64_t fail_after_bytes, Next next) {
    SafeFileWriter writer(path);
    writer.fail_after_bytes = fail_after_bytes;
    if (Status opened = writer.Open(); !opened.ok()) return opened;

    constexpr std::size_t kChunkRecords = 8192;
    std::vector<unsigned char> chunk(kChunkRecords * kRecordBytes, 0);
    std::vector<std::uint32_t> values(kChunkRecords);
    PutLE(&chunk[0], static_cast<std::uint16_t>(blockNum), 2);
    PutLE(&chunk[kRecordBytes], static_cast<std::uint32_t>(chnPoints), 4);
    std::size_t used = 2;  // records in the chunk
    std::size_t i = 0;
    Status ok;
    while (ok.ok()) {
        const std::size_t want = std::min(kChunkRecords - used, count - i);
        const std::size_t got = next(values.data(), want);
        for (std::size_t k = 0; k < got; ++k) PutLE(&chunk[(used + k) * kRecordBytes], values[k], 4);
        used += got;
        i += got;
        ok = writer.Write(chunk.data(), used * kRecordBytes);
        if (i == count) break;
        // Only the value bytes were ever written, so clearing them restores zero padding.
        for (std::size_t r = 0; r < used; ++r) std::memset(&chunk[r * kRecordBytes], 0, 4);
        used = 0;
    }
    if (ok.ok()) ok = writer.CopyTargetTail(writer.Written());
    if (ok.ok()) ok = writer.Commit();
    return ok;
}

}  // namespace

Status SaveRecordFile(const std::filesystem::path& path, std::int16_t blockNum, std::int32_t chnPoints,
                      const std::int32_t* samples, std::size_t count, std::int64_t fail_after_bytes) {
    std::size_t at = 0;
    return Save(path, blockNum, chnPoints, count, fail_after_bytes, [&](std::uint32_t* out, std::size_t max) {
        for (std::size_t k = 0; k < max; ++k) out[k] = static_cast<std::uint32_t>(samples[at + k]);
        at += max;
        return max;
    });
}

Status SaveRecordWords(const std::filesystem::path& path, std::int16_t blockNum, std::int32_t chnPoints,
                       const std::vector<std::span<const std::int16_t>>& blocks, std::size_t count,
                       std::int64_t fail_after_bytes) {
    std::size_t block = 0;
    std::size_t within = 0;  // samples of `block` already taken
    return Save(path, blockNum, chnPoints, count, fail_after_bytes, [&](std::uint32_t* out, std::size_t max) {
        std::size_t k = 0;
        while (k < max) {
            if (block < blocks.size()) {
                const std::span<const std::int16_t> b = blocks[block];
                const std::size_t n = b.size();
                const std::size_t take = std::min(max - k, n - within);
                const std::int16_t* in = b.data() + within;
                for (std::size_t j = 0; j < take; ++j) out[k + j] = static_cast<std::uint16_t>(in[j]);
                k += take;
                within += take;
                if (within == n) {
                    ++block;
                    within = 0;
                }
            } else {
                out[k++] = 0;
            }
        }
        return max;
    });
}

}  // namespace zqd::t1dat
