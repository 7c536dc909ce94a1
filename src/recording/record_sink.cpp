#include "recording/record_sink.h"

#include <ctime>

#include "common/platform.h"
#include "recording/dll_def.h"
#include "recording/record_file.h"

namespace zqd {

std::filesystem::path FallbackRecordPath() {
    const std::time_t now = std::time(nullptr);
    char stamp[32] = "record";
    if (const std::tm* t = std::localtime(&now)) std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", t);
    const auto dir = platform::UserDataDir();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    auto path = dir / ("T1-" + std::string(stamp) + ".DAT");
    for (int k = 1; std::filesystem::exists(path, ec); ++k)
        path = dir / ("T1-" + std::string(stamp) + "-" + std::to_string(k) + ".DAT");
    return path;
}

void RecordSink::Arm(std::int16_t blockNum, std::filesystem::path path) {
    std::lock_guard lock(mutex_);
    armed_ = true;
    armed_blocks_ = blockNum;
    armed_path_ = std::move(path);
    report_.reset();
}

void RecordSink::Disarm() {
    std::lock_guard lock(mutex_);
    armed_ = false;
}

std::optional<SaveReport> RecordSink::TakeReport() {
    std::lock_guard lock(mutex_);
    auto r = std::move(report_);
    report_.reset();
    return r;
}

void RecordSink::SetNotify(std::function<void()> notify) {
    std::lock_guard lock(notify_mutex_);
    notify_ = std::move(notify);
}

void RecordSink::Finish(SaveReport report) {
    {
        std::lock_guard lock(mutex_);
        report_ = std::move(report);
    }
    std::lock_guard lock(notify_mutex_);
    if (notify_) notify_();
}

void RecordSink::OnEvent(const acq::Event& event) {
    using Kind = acq::Event::Kind;
    if (event.kind == Kind::kStarted) {
        std::lock_guard lock(mutex_);
        gathering_ = armed_;
        armed_ = false;
        blockNum_ = armed_blocks_;
        path_ = armed_path_;
        blocks_.clear();
        return;
    }
    if (event.kind == Kind::kStopped || event.kind == Kind::kCardError) {
        // A record stopped before it was complete is not saved.
        gathering_ = false;
        blocks_.clear();
        return;
    }
    if (event.kind == Kind::kDropped && gathering_) {
        // Blocks of this record were lost on the way: it cannot be saved whole.
        gathering_ = false;
        blocks_.clear();
        SaveReport r;
        r.path = path_;
        r.status = Status::Fail(Status::Code::kLostBlocks, {}, event.value);
        Finish(std::move(r));
    }
}

void RecordSink::OnBlock(const acq::BlockPtr& block) {
    if (!gathering_) return;
    if (!blocks_.empty() && block->Samples() != blocks_.front()->Samples()) {
        gathering_ = false;  // the acquisition's block size changed under the record
        blocks_.clear();
        return;
    }
    blocks_.push_back(block);
    if (static_cast<std::int64_t>(blocks_.size()) < blockNum_) return;
    gathering_ = false;

    SaveReport report;
    report.path = path_;
    std::string why;
    const auto n = BlockSamples(block->ChnNum, block->ChnPoints, why);
    const auto last = n ? RecordLastIndex(*n, blockNum_, why) : std::nullopt;
    if (!last) {
        report.status = Status::Fail(Status::Code::kWriteFailed, why);
    } else {
        const std::size_t count = static_cast<std::size_t>(*last) + 1;
        report.status = SaveRecordBlocks(path_, blockNum_, block->ChnPoints, blocks_, count, fail_after_bytes);
        if (!report.status.ok()) {
            report.fallback = FallbackRecordPath();
            report.fallback_status = SaveRecordBlocks(*report.fallback, blockNum_, block->ChnPoints, blocks_, count);
        }
    }
    blocks_.clear();
    Finish(std::move(report));
}

}  // namespace zqd
