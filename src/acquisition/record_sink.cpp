#include "acquisition/record_sink.h"

#include <ctime>

#include "formats/t1dat/t1dat.h"
#include "formats/t1dat/t1dat_writer.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace zqd {

Result<std::filesystem::path> ClaimFallbackPath(const std::filesystem::path& dir) {
    const std::time_t now = std::time(nullptr);
    char stamp[32] = "record";
    if (const std::tm* t = std::localtime(&now)) std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", t);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (int k = 0; k < 1000; ++k) {
        const auto path =
            dir / ("T1-" + std::string(stamp) + (k == 0 ? std::string() : "-" + std::to_string(k)) + ".DAT");
        auto made = platform::CreateNewFile(path);
        if (made) {
            std::fclose(*made);
            return path;
        }
        if (platform::KindOf(path) == platform::FileKind::kMissing)  // not a name clash
            return Status::Fail(Status::Code::kWriteFailed, Status::Why::kCannotCreateIn)
                .About(platform::PathText(dir))
                .Because(made.status());
    }
    return Status::Fail(Status::Code::kWriteFailed, Status::Why::kTooManyNames).About(platform::PathText(dir));
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
        r.status = Status::Fail(Status::Code::kLostBlocks).Value(event.value);
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
    const auto last = t1dat::RecordLastIndex(block->ChnNum, block->ChnPoints, blockNum_);
    if (!last) {
        report.status = last.status();
        report.status.code = Status::Code::kWriteFailed;
    } else {
        const std::size_t count = static_cast<std::size_t>(*last) + 1;
        std::vector<std::span<const std::int16_t>> words;
        for (const auto& b : blocks_) words.emplace_back(b->Scans(), static_cast<std::size_t>(b->Samples()));
        report.status = t1dat::SaveRecordWords(path_, blockNum_, block->ChnPoints, words, count, fail_after_bytes);
        const std::filesystem::path places[] = {platform::UserDataDir(), platform::TempDir() / "ZQD4830_GPS"};
        for (const auto& dir : places) {
            if (report.Kept()) break;
            SaveAttempt attempt;
            if (auto claimed = ClaimFallbackPath(dir)) {
                attempt.path = *claimed;
                attempt.status = t1dat::SaveRecordWords(*claimed, blockNum_, block->ChnPoints, words, count,
                                                        fallback_fail_after_bytes);
                if (!attempt.status.ok()) {
                    std::error_code ec;
                    std::filesystem::remove(*claimed, ec);
                }
            } else {
                attempt.path = dir;
                attempt.status = claimed.status();
            }
            report.fallbacks.push_back(std::move(attempt));
        }
    }
    blocks_.clear();
    Finish(std::move(report));
}

}  // namespace zqd
