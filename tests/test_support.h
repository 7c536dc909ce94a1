// Helpers shared by the tests: temporary folders, whole files, and records
// made by the simulated card on a clock the test controls.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "card/sim/sim_card.h"

namespace zqd::test {

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("zqd-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A disk of its own, `size` (e.g. "300k") of tmpfs: needs root to mount;
// `mounted` false otherwise.
struct SmallDisk {
    TempDir dir;
    bool mounted = false;
    explicit SmallDisk(const std::string& size)
        : mounted(geteuid() == 0 &&
                  std::system(("mount -t tmpfs -o size=" + size + " tmpfs " + dir.path().string() + " 2>/dev/null").c_str()) == 0) {}
    ~SmallDisk() {
        if (mounted) (void)std::system(("umount " + dir.path().string()).c_str());
    }
    const std::filesystem::path& path() const { return dir.path(); }
    std::filesystem::path operator/(const std::string& name) const { return dir / name; }
};

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (size < 0) return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The samples of `blocks` one-second buffers of the simulated card at the
// main window's settings (18 channels, 2000 points, 2000 scans/s), as the
// recording stores them, followed by the record's final 0.
inline std::vector<std::int32_t> SimRecord(const std::string& start, int blocks, int chnNum = 18,
                                           int chnPoints = 2000, int frq = 2000) {
    sim::SimSettings s;
    s.start_from_clock = false;
    sim::ParseStartTime(start, s.start_ns);
    std::int64_t now = 0;
    sim::SimCard card(s, [&now] { return now; });
    card.Initial(320, 5, 0, 0);
    card.StartIntr(10, chnPoints, 0, static_cast<std::int16_t>(chnNum), frq, 0, 1);
    const std::size_t n = static_cast<std::size_t>(chnNum) * chnPoints;
    std::vector<std::int16_t> buf(n);
    std::vector<std::int32_t> data;
    for (int b = 0; b < blocks; ++b) {
        card.FillSamples(b, buf.data());
        for (auto v : buf) data.push_back(static_cast<std::uint16_t>(v));
    }
    data.push_back(0);
    return data;
}

// Output that is a contract (a file or protocol format) against its golden
// copy in tests/data, byte for byte. With ZQD_WRITE_GOLDEN=1 the copy is
// written instead: check it once with the independent tools, then commit it,
// so that a change of format shows as a diff. A mismatch leaves the output
// beside the build (name + ".actual") for cmp and diff.
inline ::testing::AssertionResult SameAsGolden(const std::string& name, const std::string& bytes) {
    const std::filesystem::path golden = std::filesystem::path(ZQD_GOLDEN_DIR) / name;
    if (const char* w = std::getenv("ZQD_WRITE_GOLDEN"); w && std::string(w) == "1") {
        WriteFile(golden, bytes);
        return ::testing::AssertionSuccess() << "written " << golden;
    }
    if (!std::filesystem::is_regular_file(golden)) return ::testing::AssertionFailure() << golden << " is missing";
    const std::string want = ReadFile(golden);
    if (want == bytes) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < want.size() && at < bytes.size() && want[at] == bytes[at]) ++at;
    const auto actual = std::filesystem::current_path() / (name + ".actual");
    WriteFile(actual, bytes);
    return ::testing::AssertionFailure() << name << ": " << bytes.size() << " bytes against the golden " << want.size()
                                         << ", the first difference at byte " << at << " (the output: " << actual << ")";
}

}  // namespace zqd::test
