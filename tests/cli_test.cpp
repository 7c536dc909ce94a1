// End to end through the command-line tool and the simulated card library.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "formats/t1dat/t1dat_reader.h"
#include "formats/t1dat/record_times.h"
#include "gps/block_time.h"
#include "formats/t1dat/t1dat_writer.h"
#include "test_support.h"

namespace zqd {
namespace {

using test::ReadFile;
using test::TempDir;

struct CliRun {
    int status = -1;
    std::string out;
};

// Runs the tool with the given environment and arguments; stderr goes to `err`.
CliRun Cli(const std::string& env, const std::string& args, const std::filesystem::path& err) {
    // Each run its own acquisition lock: runs in parallel tests must not
    // meet at the machine's.
    const std::string cmd = "ZQD4830_ACQUISITION_LOCK=" + err.string() + ".acquisition.lock " + env +
                            " " ZQD_BIN_DIR "/zqd4830-cli " + args + " 2>" + err.string();
    CliRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

// Twenty-five times real time: a record in under a second, with 400 ms of
// slack before the card's ten buffers overrun on a busy machine.
const std::string kFast = "ADCARD_SIM_SPEED=25 ADCARD_SIM_START=2008-05-12T17:38:40.300000000";

std::int32_t Value(const std::string& bytes, std::size_t record) {
    std::uint32_t v = 0;
    for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<unsigned char>(bytes[(record - 1) * 128 + static_cast<std::size_t>(b)]);
    return static_cast<std::int32_t>(v);
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        record_ = Cli(kFast, "record --tick-ms 20 --dir " + dir_->path().string(), *dir_ / "record.err");
    }
    static void TearDownTestSuite() { delete dir_; }
    static TempDir* dir_;
    static CliRun record_;
};
TempDir* EndToEnd::dir_ = nullptr;
CliRun EndToEnd::record_;

TEST_F(EndToEnd, RecordWritesACompleteT1Dat) {
    ASSERT_EQ(record_.status, 0) << record_.out << ReadFile(*dir_ / "record.err");
    // The labels of the tick that completed the record follow "存盘..."; the
    // save's outcome comes when the write, on its own thread, has finished.
    // (A fast disk may finish the save within that tick.)
    const auto saving = record_.out.find("存盘...\n");
    ASSERT_NE(saving, std::string::npos) << record_.out;
    const std::string after = record_.out.substr(saving + std::string("存盘...\n").size());
    EXPECT_TRUE(after.rfind(" 2", 0) == 0 || after.rfind("保存完毕！\n 2", 0) == 0) << record_.out;
    EXPECT_NE(after.find("保存完毕！\n"), std::string::npos) << record_.out;

    // The folder holds the record and nothing of the writer's (no lock, no temporary).
    for (const auto& e : std::filesystem::directory_iterator(dir_->path()))
        EXPECT_TRUE(e.path().filename().string()[0] != '.') << e.path();
    const std::string bytes = ReadFile(*dir_ / "T1.DAT");
    ASSERT_EQ(bytes.size(), 92160384u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\x14\x00", 2));
    EXPECT_EQ(Value(bytes, 2), 2000);
    EXPECT_EQ(Value(bytes, 720003), 0);
    const std::string zeros(128, '\0');
    std::size_t badPadding = 0, badSample = 0;
    for (std::size_t r = 1; r <= 720003; ++r) {
        const std::size_t width = r == 1 ? 2 : 4;
        if (bytes.compare((r - 1) * 128 + width, 128 - width, zeros, 0, 128 - width) != 0) badPadding = r;
        if (r >= 3 && (Value(bytes, r) < 0 || Value(bytes, r) > 65535)) badSample = r;
    }
    EXPECT_EQ(badPadding, 0u) << "a record whose padding is not zero";
    EXPECT_EQ(badSample, 0u) << "a sample outside 0..65535";
    std::vector<std::int32_t> data(720001);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = Value(bytes, 3 + i);
    for (int k = 0; k < 20; ++k) {
        const auto t = gps::DecodeBlockTime(data.data() + k * 36000, 18, 2000);
        ASSERT_TRUE(t) << "block " << k;
        EXPECT_EQ(t->Hour * 3600 + t->Minute * 60 + t->Second, 17 * 3600 + 38 * 60 + 40 + k);
        EXPECT_EQ(t->NS, 300000000);
    }
}

TEST_F(EndToEnd, DecodeListsTwentyConsecutiveSeconds) {
    const CliRun r = Cli("", "decode " + (*dir_ / "T1.DAT").string(), *dir_ / "decode.err");
    ASSERT_EQ(r.status, 0);
    std::string expected;
    for (int k = 0; k < 20; ++k) expected += "2008-5-12 17:38:" + std::to_string(40 + k) + ":300000000\r\n";
    EXPECT_EQ(r.out, expected + "完毕\r\n");
}

TEST_F(EndToEnd, ExportedSeriesStartsOnThePulseOfTheWholeSecond) {
    const auto csv = *dir_ / "T2.csv";
    const CliRun r = Cli("", "export --from 17:38:43 --to 17:38:45 --channel 0 --out " + csv.string() + " " +
                              (*dir_ / "T1.DAT").string(),
                      *dir_ / "export.err");
    ASSERT_EQ(r.status, 0) << ReadFile(*dir_ / "export.err");
    const std::string text = ReadFile(csv);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6001);
    // Header, then the 1PPS pulse (code 4000) from the very first sample.
    const std::string pulse = "-4.3896\r\n";
    EXPECT_EQ(text.rfind("\xCA\xB1\xBC\xE4" "17-38-43  NS:0\r\n" + pulse + pulse + pulse + pulse, 0), 0u) << text.substr(0, 80);
    // Each of the three seconds starts with its pulse: lines 2, 2002, 4002.
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; (nl = text.find("\r\n", at)) != std::string::npos; at = nl + 2)
        lines.push_back(text.substr(at, nl - at));
    EXPECT_EQ(lines[2001] + "\r\n", pulse);
    EXPECT_EQ(lines[4001] + "\r\n", pulse);
    EXPECT_NE(lines[2000] + "\r\n", pulse);
}

TEST_F(EndToEnd, RefusedInputsExitWithTwoAndWriteNothing) {
    const auto csv = *dir_ / "none.csv";
    CliRun r = Cli("", "export --from 17:38:43 --to 17:38:45 --channel 99999 --out " + csv.string() + " " +
                        (*dir_ / "T1.DAT").string(),
                *dir_ / "e1.err");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(ReadFile(*dir_ / "e1.err").find("通道号 99999"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(csv));

    r = Cli("", "decode " + (*dir_ / "missing.DAT").string(), *dir_ / "e2.err");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(ReadFile(*dir_ / "e2.err").find("文件不存在"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(*dir_ / "missing.DAT"));

    r = Cli("", "export --from 17:38 --to 17:38:45", *dir_ / "e3.err");
    EXPECT_EQ(r.status, 1);
}

TEST_F(EndToEnd, SpecialFilesAndTheInputItselfAreRefusedAsOutputs) {
    TempDir scratch;
    const auto record = *dir_ / "T1.DAT";
    const std::string before = ReadFile(record);
    ASSERT_EQ(mkfifo((scratch / "fifo").c_str(), 0644), 0);
    std::filesystem::create_directory(scratch / "folder");
    std::filesystem::create_symlink(record, scratch / "record-link");
    std::vector<std::pair<std::filesystem::path, std::string>> outs = {
        {scratch / "fifo", "FIFO"}, {scratch / "folder", "文件夹"}, {record, "就是记录文件"},
        {scratch / "record-link", "就是记录文件"}};
    if (geteuid() == 0 && mknod((scratch / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        outs.push_back({scratch / "null", "字符设备"});
    for (const auto& [out, why] : outs) {
        const CliRun r = Cli("", "export --from 17:38:43 --to 17:38:45 --out " + out.string() + " " + record.string(),
                             scratch / "err");
        EXPECT_EQ(r.status, 2) << out;
        EXPECT_NE(ReadFile(scratch / "err").find(why), std::string::npos) << out << ": " << ReadFile(scratch / "err");
    }
    EXPECT_EQ(std::filesystem::status(scratch / "fifo").type(), std::filesystem::file_type::fifo);
    EXPECT_TRUE(ReadFile(record) == before);
    if (std::filesystem::exists(scratch / "null")) {
        EXPECT_EQ(std::filesystem::status(scratch / "null").type(), std::filesystem::file_type::character);
    }

    // As the record to read, each is refused with its own reason.
    const CliRun r = Cli("", "decode " + (scratch / "folder").string(), scratch / "err");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(ReadFile(scratch / "err").find("是文件夹"), std::string::npos) << ReadFile(scratch / "err");
}

TEST_F(EndToEnd, ExportHintsWhereTheWindowsRulesStoodIn) {
    const auto out = *dir_ / "hint.csv";
    const CliRun r = Cli("", "export --from 1:2:3 --to 17:38:45 --channel abc --out " + out.string() + " " +
                                 (*dir_ / "T1.DAT").string(),
                         *dir_ / "hint.err");
    EXPECT_EQ(r.status, 0);
    const std::string err = ReadFile(*dir_ / "hint.err");
    EXPECT_NE(err.find("1:2:3"), std::string::npos) << err;
    EXPECT_EQ(err.find("17:38:45"), std::string::npos) << err;
    EXPECT_NE(err.find("abc"), std::string::npos) << err;
}

TEST(Cli, AnInstalledProgramInAReadOnlyFolderKeepsItsFilesInTheUsersDataFolder) {
    if (geteuid() != 0 || std::system("command -v setpriv >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs root and setpriv to run as another user";
    TempDir dir;
    const auto app = dir / "lib";
    const auto home = dir / "home";
    std::filesystem::create_directories(app);
    std::filesystem::create_directories(home);
    for (const char* f : {"zqd4830-cli", "libadcard.so"})
        std::filesystem::copy_file(std::filesystem::path(ZQD_BIN_DIR) / f, app / f);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);  // reachable by nobody
    std::filesystem::permissions(app, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                          std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                          std::filesystem::perms::others_exec);
    ASSERT_EQ(chown(home.c_str(), 65534, 65534), 0);
    const std::string cmd = "cd " + dir.path().string() + " && HOME=" + home.string() + " ZQD4830_ACQUISITION_LOCK=" + (home / "acq.lock").string() +
                            " ADCARD_SIM_SPEED=25 ADCARD_SIM_START=2008-05-12T17:38:40.3 "
                            "setpriv --reuid=65534 --regid=65534 --clear-groups " +
                            (app / "zqd4830-cli").string() + " record --tick-ms 20 >" + (dir / "out").string() +
                            " 2>" + (dir / "err").string();
    const int st = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0) << ReadFile(dir / "out") << ReadFile(dir / "err");
    EXPECT_FALSE(std::filesystem::exists(app / "T1.DAT"));
    EXPECT_EQ(std::filesystem::file_size(home / ".local/share/ZQD4830_GPS/T1.DAT"), 92160384u);
    EXPECT_NE(ReadFile(dir / "err").find(".local/share/ZQD4830_GPS"), std::string::npos) << ReadFile(dir / "err");
    EXPECT_EQ(ReadFile(dir / "out").find("存盘失败"), std::string::npos);
}

// The machine's one acquisition: whatever runtime folder each has, and
// (where the test may switch users) as another user, a second acquisition is
// refused and told who holds the card.
TEST(Cli, ASecondAcquisitionIsRefusedByTheLockMachineWide) {
    TempDir dir;
    const bool as_other_user = geteuid() == 0 && std::system("command -v setpriv >/dev/null 2>&1") == 0;
    std::filesystem::path bin = ZQD_BIN_DIR;
    std::string other = "";
    if (as_other_user) {  // programs another user can reach
        bin = dir / "lib";
        std::filesystem::create_directories(bin);
        for (const char* f : {"zqd4830-cli", "libadcard.so"})
            std::filesystem::copy_file(std::filesystem::path(ZQD_BIN_DIR) / f, bin / f);
        std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
        other = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    const std::string run = "env -u ZQD4830_ACQUISITION_LOCK ADCARD_SIM_SPEED=2 ";
    // The monitor acquires for about two seconds; a record started meanwhile is refused.
    const std::string cmd = run + "XDG_RUNTIME_DIR=" + (dir / "a").string() + " " + (bin / "zqd4830-cli").string() +
                            " monitor --ticks 20 --tick-ms 100 >/dev/null 2>&1 & sleep 0.7; " + run +
                            "XDG_RUNTIME_DIR=" + (dir / "b").string() + " " + other + (bin / "zqd4830-cli").string() +
                            " record --dir " + dir.path().string() + " >" + (dir / "out").string() + " 2>" +
                            (dir / "err").string() + "; echo $? >" + (dir / "status").string() + "; wait";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(ReadFile(dir / "status"), "2\n") << ReadFile(dir / "err");
    EXPECT_NE(ReadFile(dir / "err").find("zqd4830-cli"), std::string::npos) << ReadFile(dir / "err");
    EXPECT_NE(ReadFile(dir / "err").find("同一时间只能有一个采集"), std::string::npos) << ReadFile(dir / "err");
    EXPECT_EQ(ReadFile(dir / "out").find("同一时间只能有一个采集"), std::string::npos) << "said twice";
    EXPECT_FALSE(std::filesystem::exists(dir / "T1.DAT"));
    if (!as_other_user) GTEST_SKIP() << "checked for one user only: switching users needs root and setpriv";
}

TEST(Cli, WhichCardIsSaidAndAMistypedLibraryIsNeverReplaced) {
    TempDir dir;
    CliRun r = Cli("ADCARD_LIBRARY=/nonexistent/libadcard.so", "record --dir " + dir.path().string(), dir / "err");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE((r.out + ReadFile(dir / "err")).find("/nonexistent/libadcard.so"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("开始采集"), std::string::npos) << "fell back to another library";
    EXPECT_FALSE(std::filesystem::exists(dir / "T1.DAT"));

    r = Cli("ADCARD_SIM_SPEED=25", "record --tick-ms 20 --dir " + dir.path().string(), dir / "err");
    ASSERT_EQ(r.status, 0) << ReadFile(dir / "err");
    EXPECT_NE(r.out.find("开始采集\n板卡函数库：" ZQD_BIN_DIR "/libadcard.so（模拟板卡"), std::string::npos) << r.out;
    r = Cli("", "output --group 0 --value 1", dir / "err");
    EXPECT_NE(ReadFile(dir / "err").find("模拟板卡"), std::string::npos);
}

TEST(Cli, VersionAndHelpWithoutADisplay) {
    TempDir dir;
    CliRun r = Cli("", "--version", dir / "err");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("zqd4830-cli 1.", 0), 0u) << r.out;
    EXPECT_EQ(Cli("", "", dir / "err").status, 1);
    const std::string gui = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " ZQD_BIN_DIR "/zqd4830-gps ";
    if (!std::filesystem::exists(ZQD_BIN_DIR "/zqd4830-gps")) GTEST_SKIP() << "the window program is not built";
    for (const char* arg : {"--help", "--version"}) {
        const std::string cmd = gui + arg + " >" + (dir / "out").string() + " 2>&1";
        const int st = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << arg << ": " << ReadFile(dir / "out");
    }
    EXPECT_NE(ReadFile(dir / "out").find("zqd4830-gps 1."), std::string::npos);
    const int st = std::system((gui + "--bogus >" + (dir / "out").string() + " 2>&1").c_str());
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 1);
    EXPECT_NE(ReadFile(dir / "out").find("Usage: zqd4830-gps"), std::string::npos);
}

TEST(Cli, CardErrorsExitWithTwo) {
    TempDir dir;
    CliRun r = Cli("ADCARD_SIM_FAIL_INITIAL=7", "record --dir " + dir.path().string(), dir / "err");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "Error=7\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "T1.DAT"));

    r = Cli("ADCARD_SIM_FAIL_START=-4", "monitor --ticks 2", dir / "err");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(ReadFile(dir / "err"), "Error=-4\n");
}

TEST(Cli, MonitorPrintsTheReadOutsOfEveryChangingTick) {
    TempDir dir;
    const CliRun r = Cli("ADCARD_SIM_SPEED=5", "monitor --ticks 5 --tick-ms 100", dir / "err");
    ASSERT_EQ(r.status, 0) << ReadFile(dir / "err");
    ASSERT_FALSE(r.out.empty());
    const std::string first = r.out.substr(0, r.out.find('\n'));
    EXPECT_EQ(std::count(first.begin(), first.end(), '\t'), 9) << first;
    EXPECT_NE(first.find("\t            7   6   5   4   3   2   1   0\t"), std::string::npos) << first;

    EXPECT_EQ(Cli("", "output --group 0 --value A5", dir / "err").status, 0);
    EXPECT_EQ(Cli("", "output --group -1 --value A5", dir / "err").status, 2);
    EXPECT_NE(ReadFile(dir / "err").find("未输出"), std::string::npos);
}

}  // namespace
}  // namespace zqd

namespace zqd {
namespace {

TEST(Cli, PlotWritesThePictureWithoutADisplayAndRefusesWhatItCannotDraw) {
    TempDir dir;
    const auto data = test::SimRecord("2008-05-12T10:00:00.000000000", 2);
    ASSERT_TRUE(t1dat::SaveRecordFile(dir / "T1.DAT", 2, 2000, data.data(), data.size()).ok());
    const std::string in = (dir / "T1.DAT").string(), out = (dir / "p.png").string();
    CliRun r = Cli("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_RUNTIME_DIR", "plot --size 640x360 --out " + out + " " + in, dir / "err");
    if (r.status == 1 && ReadFile(dir / "err").find("不能画图") != std::string::npos) GTEST_SKIP() << "built without the windows";
    ASSERT_EQ(r.status, 0) << ReadFile(dir / "err");
    EXPECT_EQ(ReadFile(dir / "p.png").substr(1, 3), "PNG");
    EXPECT_NE(r.out.find("17 行"), std::string::npos) << r.out;
    // Headless, without a session directory: no warning of the toolkit's.
    EXPECT_EQ(ReadFile(dir / "err").find("XDG_RUNTIME_DIR"), std::string::npos) << ReadFile(dir / "err");
    // The format the name asks for, or a usage error before anything is read.
    ASSERT_EQ(Cli("", "plot --size 640x360 --out " + (dir / "p.JPG").string() + " " + in, dir / "err").status, 0);
    EXPECT_EQ(ReadFile(dir / "p.JPG").substr(0, 3), "\xFF\xD8\xFF");  // JPEG's start of image
    EXPECT_EQ(Cli("", "plot --out " + (dir / "p.gif").string() + " " + (dir / "none.DAT").string(), dir / "err").status, 1);
    EXPECT_NE(ReadFile(dir / "err").find("--out " + (dir / "p.gif").string() + " 的扩展名应为 .png、.jpg（.jpeg）或 .bmp"),
              std::string::npos) << ReadFile(dir / "err");
    EXPECT_FALSE(std::filesystem::exists(dir / "p.gif"));
    // Filtered: said; a filter that is no filter is a usage error, one beyond Nyquist refused.
    r = Cli("", "plot --filter bp:1:10 --channels GY0 --out " + out + " " + in, dir / "err");
    EXPECT_EQ(r.status, 0) << ReadFile(dir / "err");
    EXPECT_NE(r.out.find("滤波 bp:1:10:4（零相位）"), std::string::npos) << r.out;
    EXPECT_EQ(Cli("", "plot --filter bp:10 --out " + out + " " + in, dir / "err").status, 1);
    EXPECT_NE(ReadFile(dir / "err").find("--filter bp:10 要写成"), std::string::npos) << ReadFile(dir / "err");
    EXPECT_EQ(Cli("", "plot --filter lp:5000 --out " + out + " " + in, dir / "err").status, 2);
    EXPECT_NE(ReadFile(dir / "err").find("奈奎斯特"), std::string::npos) << ReadFile(dir / "err");
    // The first channel shown over its spectrogram; a frame that is no power of two is refused.
    r = Cli("", "plot --spectrogram --window 512 --max-hz 50 --channels GY3 --out " + out + " " + in, dir / "err");
    EXPECT_EQ(r.status, 0) << ReadFile(dir / "err");
    EXPECT_NE(r.out.find("GY3 的频谱图（窗长 512，汉宁窗，重叠 50%）"), std::string::npos) << r.out;
    EXPECT_EQ(Cli("", "plot --spectrogram --window 500 --out " + out + " " + (dir / "none.DAT").string(), dir / "err").status, 1);
    EXPECT_NE(ReadFile(dir / "err").find("--window 500 应为 16 到 65536 之间的 2 的幂"), std::string::npos) << ReadFile(dir / "err");
    // On a log axis with the colours fixed; a range upside down refused before reading.
    r = Cli("", "plot --spectrogram --log-hz --min-hz 1 --max-hz 100 --db -20:80 --channels GY3 --out " + out + " " + in, dir / "err");
    EXPECT_EQ(r.status, 0) << ReadFile(dir / "err");
    EXPECT_EQ(Cli("", "plot --spectrogram --db 80:-20 --out " + out + " " + (dir / "none.DAT").string(), dir / "err").status, 1);
    EXPECT_NE(ReadFile(dir / "err").find("--db 80:-20 要写成 低:高"), std::string::npos) << ReadFile(dir / "err");
    EXPECT_EQ(Cli("", "plot --spectrogram --min-hz 60 --max-hz 50 --out " + out + " " + in, dir / "err").status, 1);
    // A helicorder of the record's half-day, rows of a quarter of an hour; only 15, 30 or 60.
    r = Cli("", "plot --helicorder --hours 12 --channels GY0 --out " + out + " " + in, dir / "err");
    EXPECT_EQ(r.status, 0) << ReadFile(dir / "err");
    EXPECT_NE(r.out.find("GY0 的日记录图（2008-05-12T00:00 起 12 小时，每行 15 分钟）"), std::string::npos) << r.out;
    EXPECT_EQ(Cli("", "plot --helicorder --row-minutes 20 --out " + out + " " + in, dir / "err").status, 1);
    EXPECT_EQ(Cli("", "plot --helicorder --colours '#123456,red' --out " + out + " " + in, dir / "err").status, 0);
    EXPECT_EQ(Cli("", "plot --helicorder --colours navy,nocolour --out " + out + " " + in, dir / "err").status, 1);
    EXPECT_NE(ReadFile(dir / "err").find("颜色“nocolour”不认得"), std::string::npos);
    // A channel that is not there, and a missing input: 2. Bad options: 1.
    EXPECT_EQ(Cli("", "plot --channels GYZ --out " + out + " " + in, dir / "err").status, 2);
    EXPECT_NE(ReadFile(dir / "err").find("GYZ"), std::string::npos);
    EXPECT_EQ(Cli("", "plot --out " + out + " " + (dir / "none.DAT").string(), dir / "err").status, 2);
    EXPECT_EQ(Cli("", "plot --size 10x10 --out " + out + " " + in, dir / "err").status, 1);
    EXPECT_EQ(Cli("", "plot --from 2008-05-12T10:00:01 --to 2008-05-12T10:00:00 --out " + out + " " + in, dir / "err").status, 1);
    // A well-formed date beyond 64-bit time is said to be so, not malformed.
    EXPECT_EQ(Cli("", "plot --to 2300-01-01T00:00:00 --out " + out + " " + in, dir / "err").status, 1);
    EXPECT_NE(ReadFile(dir / "err").find("超出本程序能表示的时间"), std::string::npos) << ReadFile(dir / "err");
    // Garbage named .mseed: said to be no miniSEED, not refused as a record file.
    test::WriteFile(dir / "junk.mseed", std::string(4096, 'z'));
    EXPECT_EQ(Cli("", "plot --out " + out + " " + (dir / "junk.mseed").string(), dir / "err").status, 2);
    EXPECT_NE(ReadFile(dir / "err").find("名为 miniSEED 文件，但开头不是 miniSEED 记录"), std::string::npos) << ReadFile(dir / "err");
    // A miniSEED file with damage in it: said in our words only, nothing of libmseed's own.
    ASSERT_EQ(Cli("", "convert --format mseed --channels 2 --out " + (dir / "m").string() + " " + in, dir / "err").status, 0);
    std::filesystem::path mseed;
    for (const auto& e : std::filesystem::directory_iterator(dir / "m")) mseed = e.path();
    std::string bytes = ReadFile(mseed);
    for (std::size_t at = 600; at < 1400 && at < bytes.size(); ++at) bytes[at] = static_cast<char>(at * 7);
    test::WriteFile(mseed, bytes + std::string(300, 'x'));
    r = Cli("", "plot --out " + out + " " + mseed.string(), dir / "err");
    EXPECT_EQ(r.status, 0) << ReadFile(dir / "err");
    for (const char* english : {"msr_", "Cannot", "rror", "arning", "record"})
        EXPECT_EQ((r.out + ReadFile(dir / "err")).find(english), std::string::npos) << r.out << ReadFile(dir / "err");
    // A backwards channel range is named as such.
    EXPECT_EQ(Cli("", "convert --format sac --channels 5-2 --out " + (dir / "c").string() + " " + in, dir / "err").status, 1);
    EXPECT_NE(ReadFile(dir / "err").find("起点大于终点"), std::string::npos) << ReadFile(dir / "err");
}

}  // namespace
}  // namespace zqd
