#include "formats/t1dat/t1dat_writer.h"
#include "app/messages.h"
#include "platform/files.h"

#include <gtest/gtest.h>

#include "formats/t1dat/t1dat_reader.h"
#include "formats/t1dat/record_times.h"
#include "gps/block_time.h"
#include "test_support.h"

namespace zqd {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// A record's expected bytes, built independently of the writer.
std::string ExpectedBytes(std::int16_t blockNum, std::int32_t chnPoints, const std::vector<std::int32_t>& v) {
    std::string out((v.size() + 2) * 128, '\0');
    out[0] = static_cast<char>(blockNum & 0xFF);
    out[1] = static_cast<char>((blockNum >> 8) & 0xFF);
    for (int b = 0; b < 4; ++b) out[128 + b] = static_cast<char>((chnPoints >> (8 * b)) & 0xFF);
    for (std::size_t i = 0; i < v.size(); ++i)
        for (int b = 0; b < 4; ++b)
            out[(2 + i) * 128 + static_cast<std::size_t>(b)] = static_cast<char>((v[i] >> (8 * b)) & 0xFF);
    return out;
}

TEST(RecordFile, SmallRecordByteForByte) {
    TempDir dir;
    const std::vector<std::int32_t> v = {0, 1, 255, 256, 65535, 32768, 0x01020304, -2, 0};
    ASSERT_TRUE(t1dat::SaveRecordFile(dir / "T1.DAT", 2, 4, v.data(), v.size()).ok());
    EXPECT_EQ(ReadFile(dir / "T1.DAT"), ExpectedBytes(2, 4, v));
    EXPECT_FALSE(std::filesystem::exists(dir / "T1.DAT.tmp"));
}

TEST(RecordFile, DefaultRecordSizeAndHeader) {
    TempDir dir;
    std::vector<std::int32_t> v(720001, 0);
    for (std::size_t i = 0; i < 720000; ++i) v[i] = static_cast<std::int32_t>(i % 65536);
    ASSERT_TRUE(t1dat::SaveRecordFile(dir / "T1.DAT", 20, 2000, v.data(), v.size()).ok());
    const std::string bytes = ReadFile(dir / "T1.DAT");
    ASSERT_EQ(bytes.size(), 92160384u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\x14\x00", 2));
    EXPECT_EQ(bytes.substr(128, 4), std::string("\xD0\x07\x00\x00", 4));
    EXPECT_EQ(bytes.substr(92160256, 128), std::string(128, '\0'));
    EXPECT_EQ(bytes, ExpectedBytes(20, 2000, v));
}

TEST(RecordFile, ShorterRecordKeepsTheLongerFilesTail) {
    TempDir dir;
    std::string old(100 * 128, '\0');
    for (std::size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>(i * 7);
    WriteFile(dir / "T1.DAT", old);
    const std::vector<std::int32_t> v = {5, 6, 7};
    ASSERT_TRUE(t1dat::SaveRecordFile(dir / "T1.DAT", 1, 1, v.data(), v.size()).ok());
    const std::string bytes = ReadFile(dir / "T1.DAT");
    ASSERT_EQ(bytes.size(), old.size());
    EXPECT_EQ(bytes.substr(0, 5 * 128), ExpectedBytes(1, 1, v));
    EXPECT_EQ(bytes.substr(5 * 128), old.substr(5 * 128));
}

TEST(RecordFile, TheSecondRecordReplacesTheFirst) {
    TempDir dir;
    const std::vector<std::int32_t> a = {1, 2, 3, 4, 5}, b = {9, 8, 7, 6, 5};
    ASSERT_TRUE(t1dat::SaveRecordFile(dir / "T1.DAT", 2, 2, a.data(), a.size()).ok());
    ASSERT_TRUE(t1dat::SaveRecordFile(dir / "T1.DAT", 2, 2, b.data(), b.size()).ok());
    EXPECT_EQ(ReadFile(dir / "T1.DAT"), ExpectedBytes(2, 2, b));
}

TEST(RecordFile, AnInterruptedSaveLeavesTheOldFileWhole) {
    TempDir dir;
    const std::vector<std::int32_t> old = {1, 2, 3};
    ASSERT_TRUE(t1dat::SaveRecordFile(dir / "T1.DAT", 1, 2, old.data(), old.size()).ok());
    const std::string before = ReadFile(dir / "T1.DAT");
    std::vector<std::int32_t> v(20001, 42);
    for (std::int64_t at : {0LL, 1LL, 128LL * 1000, 128LL * 8192, 128LL * 20002}) {
        const auto r = t1dat::SaveRecordFile(dir / "T1.DAT", 10, 500, v.data(), v.size(), at);
        EXPECT_FALSE(r.ok()) << at;
        EXPECT_NE(app::Text(r).find("写入失败"), std::string::npos) << app::Text(r);
        EXPECT_EQ(ReadFile(dir / "T1.DAT"), before) << at;
        EXPECT_FALSE(std::filesystem::exists(dir / "T1.DAT.tmp")) << at;
    }
    // The data reach the disk before the rename: a sync that fails is a failed save.
    platform::faults::FailNext(platform::faults::Op::kSync);
    const auto unsynced = t1dat::SaveRecordFile(dir / "T1.DAT", 10, 500, v.data(), v.size());
    platform::faults::Clear();
    EXPECT_FALSE(unsynced.ok());
    EXPECT_NE(app::Text(unsynced).find("写入磁盘失败"), std::string::npos) << app::Text(unsynced);
    EXPECT_EQ(ReadFile(dir / "T1.DAT"), before);
    // With no old file, a failed save creates none.
    const auto r = t1dat::SaveRecordFile(dir / "NEW.DAT", 10, 500, v.data(), v.size(), 4096);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(std::filesystem::exists(dir / "NEW.DAT"));
}

// The same on every platform: a failed append is cut back to the whole
// records before it, and a cut that fails too is said.
TEST(RecordFile, AFailedAppendIsCutBackAndAFailedCutIsSaid) {
    TempDir dir;
    platform::AppendFile f;
    ASSERT_TRUE(f.Open(dir / "day").ok());
    ASSERT_TRUE(f.Append("0123456789", 10).ok());
    platform::faults::FailNext(platform::faults::Op::kWrite);
    const Status failed = f.Append("abcdef", 6);
    EXPECT_FALSE(failed.ok());
    EXPECT_EQ(f.Size(), 10u);
    EXPECT_EQ(std::filesystem::file_size(dir / "day"), 10u);
    platform::faults::FailNext(platform::faults::Op::kWrite);
    platform::faults::FailNext(platform::faults::Op::kCut);
    const Status uncut = f.Append("abcdef", 6);
    platform::faults::Clear();
    EXPECT_EQ(uncut.why, Status::Why::kCutBackFailed);
    EXPECT_NE(app::Text(uncut).find("也无法截回原长"), std::string::npos) << app::Text(uncut);
    ASSERT_TRUE(f.Append("ABC", 3).ok());
    f.Close();
    EXPECT_EQ(ReadFile(dir / "day"), "0123456789ABC");
}

TEST(RecordFile, ReadBackGivesTheSameRecord) {
    TempDir dir;
    const auto v = test::SimRecord("2008-05-12T17:38:40", 3);
    ASSERT_TRUE(t1dat::SaveRecordFile(dir / "T1.DAT", 3, 2000, v.data(), v.size()).ok());
    const auto rec = t1dat::ReadRecordFile(dir / "T1.DAT", 18);
    ASSERT_TRUE(rec) << app::Text(rec.status());
    EXPECT_EQ(rec->BlockNum, 3);
    EXPECT_EQ(rec->ChnPoints, 2000);
    EXPECT_EQ(rec->BlockData, v);
}

}  // namespace
}  // namespace zqd
