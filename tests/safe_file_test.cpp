// Files stay whole: two writers, planted links, special files, read-only
// targets and the reasons given for each.
#include "platform/safe_file.h"
#include "app/messages.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <thread>

#include "formats/t1dat/t1dat_reader.h"
#include "formats/t1dat/record_times.h"
#include "gps/block_time.h"
#include "test_support.h"

namespace zqd {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

bool WriteWhole(const std::filesystem::path& target, const std::string& bytes, std::string* error = nullptr) {
    SafeFileWriter w(target);
    // Written in pieces, so that another writer has every chance to interleave.
    Status s = w.Open();
    for (std::size_t at = 0; s.ok() && at < bytes.size(); at += 4096) {
        s = w.Write(bytes.data() + at, std::min<std::size_t>(4096, bytes.size() - at));
        if (at % (64 * 4096) == 0) std::this_thread::yield();
    }
    if (s.ok()) s = w.Commit();
    if (error) *error = app::Text(s);
    return s.ok();
}

std::size_t Leftovers(const std::filesystem::path& dir) {
    std::size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".tmp") ++n;
    return n;
}

TEST(SafeFile, TwoWritersAtOnceLeaveOneWholeFileAndBothSucceed) {
    TempDir dir;
    const auto target = dir / "T1.DAT";
    std::mt19937 random(12345);
    for (int round = 0; round < 50; ++round) {
        const std::string a(1 << 20, static_cast<char>('a' + round % 13));
        const std::string b((1 << 20) + 4096 * (round % 5), static_cast<char>('A' + round % 13));
        const int delay = static_cast<int>(random() % 3000);
        bool okA = false, okB = false;
        std::thread first([&] { okA = WriteWhole(target, a); });
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        std::thread second([&] { okB = WriteWhole(target, b); });
        first.join();
        second.join();
        ASSERT_TRUE(okA && okB) << round;
        const std::string now = ReadFile(target);
        // Each write replaced the file whole: the last one stands, never a splice.
        ASSERT_TRUE(now == a || now == b) << "round " << round << ": a spliced file";
    }
    EXPECT_EQ(Leftovers(dir.path()), 0u);
}

TEST(SafeFile, PlantedLinksAreNeverFollowedAndALinkedTargetIsWrittenThrough) {
    TempDir dir;
    TempDir elsewhere;
    WriteFile(elsewhere / "victim", "precious");
    // At the old fixed temporary name, at the lock file, and at a stale temporary name.
    std::filesystem::create_symlink(elsewhere / "victim", dir / "T2.csv.tmp");
    std::filesystem::create_symlink(elsewhere / "victim", dir / ".T2.csv.1-1-1.tmp");
    ASSERT_TRUE(WriteWhole(dir / "T2.csv", "new"));
    EXPECT_EQ(ReadFile(elsewhere / "victim"), "precious");
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "T2.csv"));
    EXPECT_EQ(ReadFile(dir / "T2.csv"), "new");
    EXPECT_TRUE(std::filesystem::is_symlink(dir / ".T2.csv.1-1-1.tmp"));  // not ours to remove

    // A link planted at the folder's lock in the machine's lock folder.
    TempDir locked;
    const std::filesystem::path lock = platform::FolderLockName(locked.path());
    ASSERT_EQ(lock.parent_path(), platform::LockFolder());
    std::filesystem::create_symlink(elsewhere / "victim", lock);
    std::string error;
    EXPECT_FALSE(WriteWhole(locked / "T2.csv", "x", &error));
    std::filesystem::remove(lock);
    EXPECT_NE(error.find("锁"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(elsewhere / "victim"), "precious");

    // A target that is a link to a regular file: that file is replaced, the link stays.
    WriteFile(elsewhere / "real.csv", "old");
    std::filesystem::create_symlink(elsewhere / "real.csv", dir / "link.csv");
    ASSERT_TRUE(WriteWhole(dir / "link.csv", "through"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.csv"));
    EXPECT_EQ(ReadFile(elsewhere / "real.csv"), "through");
    EXPECT_EQ(Leftovers(elsewhere.path()), 0u);
}

TEST(SafeFile, SpecialFilesAndFoldersAreRefusedUntouchedWithTheirKind) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    std::filesystem::create_directory(dir / "folder");
    // A link to a special file the test made itself (never to its own output,
    // which may well be a regular file).
    std::filesystem::create_symlink(dir / "fifo", dir / "fifo-link");
    std::vector<std::pair<std::string, std::string>> cases = {
        {"fifo", "FIFO"}, {"folder", "文件夹"}, {"fifo-link", "不是普通文件"}};
    if (geteuid() == 0 && mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        cases.push_back({"null", "字符设备"});
    for (const auto& [name, why] : cases) {
        std::string error;
        EXPECT_FALSE(WriteWhole(dir / name, "x", &error)) << name;
        EXPECT_NE(error.find(why), std::string::npos) << name << ": " << error;
        EXPECT_NE(error.find((dir / name).string()), std::string::npos) << error;
    }
    // Into a folder that does not exist: said so, not as a lock that failed.
    std::string error;
    EXPECT_FALSE(WriteWhole(dir / "no-such" / "x.png", "x", &error));
    EXPECT_NE(error.find("文件夹 " + (dir / "no-such").string() + " 不存在"), std::string::npos) << error;
    EXPECT_EQ(error.find("锁"), std::string::npos) << error;
    EXPECT_EQ(std::filesystem::status(dir / "fifo").type(), std::filesystem::file_type::fifo);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
    EXPECT_EQ(Leftovers(dir.path()), 0u);

    // And as record files, each refused with its own reason.
    for (const auto& [name, why] : std::vector<std::pair<std::string, std::string>>{
             {"fifo", "FIFO"}, {"folder", "是文件夹"}, {"missing", "文件不存在"}}) {
        const auto rec = t1dat::ReadRecordFile(dir / name, 18);
        ASSERT_FALSE(rec) << name;
        const std::string error = app::Text(rec.status());
        EXPECT_NE(error.find(why), std::string::npos) << name << ": " << error;
    }
}

TEST(SafeFile, PermissionsAreKeptAndReadOnlyTargetsRefused) {
    TempDir dir;
    WriteFile(dir / "private.csv", "old");
    std::filesystem::permissions(dir / "private.csv", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(WriteWhole(dir / "private.csv", "new"));
    EXPECT_EQ(std::filesystem::status(dir / "private.csv").permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    WriteFile(dir / "T1.DAT", "keep me");
    std::filesystem::permissions(dir / "T1.DAT", std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                                     std::filesystem::perms::others_read);
    std::string error;
    EXPECT_FALSE(WriteWhole(dir / "T1.DAT", "new", &error));  // the superuser too: it is marked read-only
    EXPECT_NE(error.find("权限"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(dir / "T1.DAT"), "keep me");
}

TEST(SafeFile, StaleTemporariesOfDeadWritersAreRemovedUnderTheLock) {
    TempDir dir;
    WriteFile(dir / ".T1.DAT.999-1-1.tmp", "left by a killed save");
    WriteFile(dir / "other.tmp", "not ours");
    ASSERT_TRUE(WriteWhole(dir / "T1.DAT", "whole"));
    EXPECT_FALSE(std::filesystem::exists(dir / ".T1.DAT.999-1-1.tmp"));
    EXPECT_TRUE(std::filesystem::exists(dir / "other.tmp"));
}

TEST(SafeFile, AFolderBatchWritesFromTwoThreadsHoldsOutOtherWritersAndCleansUpOnce) {
    TempDir dir;
    WriteFile(dir / ".A.mseed.999-1-1.tmp", "left by a killed convert");
    WriteFile(dir / ".notes.tmp", "not ours");
    WriteFile(dir / ".x.12-ab-3.tmp", "not ours either");
    FolderBatch batch(dir.path());
    ASSERT_TRUE(batch.Begin().ok());
    EXPECT_FALSE(std::filesystem::exists(dir / ".A.mseed.999-1-1.tmp"));
    EXPECT_TRUE(std::filesystem::exists(dir / ".notes.tmp"));
    EXPECT_TRUE(std::filesystem::exists(dir / ".x.12-ab-3.tmp"));
    // An ordinary writer of the folder waits for the batch.
    std::atomic<bool> outsider_done{false};
    std::thread outsider([&] {
        EXPECT_TRUE(WriteWhole(dir / "later", "after the batch"));
        outsider_done = true;
    });
    auto write = [&](int from) {
        for (int i = from; i < 40; i += 2) {
            SafeFileWriter w(dir / ("f" + std::to_string(i)));
            w.in_batch = true;
            const std::string bytes(1000 + i, static_cast<char>('a' + i % 26));
            Status s = w.Open();
            if (s.ok()) s = w.Write(bytes.data(), bytes.size());
            if (s.ok()) s = w.Commit();
            EXPECT_TRUE(s.ok()) << app::Text(s);
        }
    };
    std::thread other(write, 1);
    write(0);
    other.join();
    EXPECT_FALSE(outsider_done);
    ASSERT_TRUE(batch.Finish().ok());
    outsider.join();
    for (int i = 0; i < 40; ++i) EXPECT_EQ(ReadFile(dir / ("f" + std::to_string(i))), std::string(1000 + i, static_cast<char>('a' + i % 26)));
    EXPECT_EQ(ReadFile(dir / "later"), "after the batch");
    EXPECT_EQ(Leftovers(dir.path()), 2u);  // the two that were not ours
    // Nothing of the writers' lock is left, in the folder or in the machine's lock folder.
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename().string().find("lock"), std::string::npos) << e.path();
    EXPECT_FALSE(std::filesystem::exists(platform::FolderLockName(dir.path())));
}

TEST(SafeFile, RecordsTooLargeForTheBuildAreRefusedBeforeAnything) {
    // A 32-bit program holds at most 1 GiB of samples: 268,435,456 values.
    EXPECT_TRUE(t1dat::SamplesAddressable(268435456, 32).ok());
    const Status refused = t1dat::SamplesAddressable(268435457, 32);
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(app::Text(refused).find("32 位"), std::string::npos) << app::Text(refused);
    EXPECT_TRUE(t1dat::SamplesAddressable(2147483648ULL, 64).ok());
}

}  // namespace
}  // namespace zqd
