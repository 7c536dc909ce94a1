// The main window's record as a sink: it gathers the first BlockNum blocks
// of the acquisition it was armed for and writes them to T1.DAT on its own
// thread, so that the window never waits for the disk. If T1.DAT cannot be
// written, the record goes to a dated file in the user's data folder.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "acquisition/sink.h"
#include "common/result.h"

namespace zqd {

struct SaveAttempt {
    std::filesystem::path path;
    Status status;
};

struct SaveReport {
    std::filesystem::path path;
    Status status;  // of the write to `path`
    // When that failed: the other places tried, in order, up to the first
    // that took the record (the user's data folder, then the system's
    // temporary folder).
    std::vector<SaveAttempt> fallbacks;
    bool Kept() const { return status.ok() || (!fallbacks.empty() && fallbacks.back().status.ok()); }
};

class RecordSink final : public acq::Sink {
public:
    // The next acquisition that starts is recorded: its first `blockNum`
    // good blocks are saved to `path`, with the settings in force.
    void Arm(std::int16_t blockNum, std::filesystem::path path);
    void Disarm();

    // The report of the last save, once it has finished (taken once).
    std::optional<SaveReport> TakeReport();
    // Called on the sink's thread when a report is ready.
    void SetNotify(std::function<void()> notify);

    // Test hooks: writes to the record's own file, and to the fallbacks,
    // fail after this many bytes.
    std::int64_t fail_after_bytes = -1;
    std::int64_t fallback_fail_after_bytes = -1;

    void OnBlock(const acq::BlockPtr& block) override;
    void OnEvent(const acq::Event& event) override;

private:
    void Finish(SaveReport report);

    std::mutex mutex_;
    std::mutex notify_mutex_;  // held while the notifier runs, so that clearing it waits
    std::function<void()> notify_;
    std::optional<SaveReport> report_;
    bool armed_ = false;
    std::int16_t armed_blocks_ = 0;
    std::filesystem::path armed_path_;

    // Sink-thread state of the record being gathered.
    bool gathering_ = false;
    std::int16_t blockNum_ = 0;
    std::filesystem::path path_;
    std::vector<acq::BlockPtr> blocks_;
};

// Where a record goes when its own file cannot be written: a new file in
// `dir`, named from the time, its name claimed by creating it exclusively so
// that no other writer can take it (kCannotCreateIn, kTooManyNames otherwise).
Result<std::filesystem::path> ClaimFallbackPath(const std::filesystem::path& dir);

}  // namespace zqd
