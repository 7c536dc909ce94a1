#include "recording/record_file.h"

#include <cstring>
#include <vector>

#include "common/safe_file.h"

namespace zqd {

namespace {

void PutLE(unsigned char* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

SaveOutcome SaveRecordFile(const std::filesystem::path& path, std::int16_t blockNum,
                           std::int32_t chnPoints, const std::int32_t* samples, std::size_t count,
                           std::int64_t fail_after_bytes) {
    SaveOutcome out;
    SafeFileWriter writer(path);
    writer.fail_after_bytes = fail_after_bytes;
    if (!writer.Open()) {
        out.error = writer.Error();
        return out;
    }

    // 8192 records (1 MiB) per write; padding bytes stay zero.
    constexpr std::size_t kChunkRecords = 8192;
    std::vector<unsigned char> chunk(kChunkRecords * kRecordBytes, 0);
    PutLE(&chunk[0], static_cast<std::uint16_t>(blockNum), 2);
    PutLE(&chunk[kRecordBytes], static_cast<std::uint32_t>(chnPoints), 4);
    std::size_t used = 2;  // records in the chunk
    std::size_t i = 0;
    bool ok = true;
    while (ok) {
        for (; used < kChunkRecords && i < count; ++used, ++i)
            PutLE(&chunk[used * kRecordBytes], static_cast<std::uint32_t>(samples[i]), 4);
        ok = writer.Write(chunk.data(), used * kRecordBytes);
        if (i == count) break;
        // Only the value bytes were ever written, so clearing them restores zero padding.
        for (std::size_t r = 0; r < used; ++r) std::memset(&chunk[r * kRecordBytes], 0, 4);
        used = 0;
    }
    ok = ok && writer.CopyTargetTail(writer.Written()) && writer.Commit();
    if (!ok) {
        out.error = writer.Error();
        return out;
    }
    out.ok = true;
    return out;
}

}  // namespace zqd
