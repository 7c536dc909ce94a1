// 波形浏览, the waveform viewer, without any toolkit: what it opens, exports
// and says in its status line. The widget draws the model it holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_config.h"
#include "common/result.h"
#include "view/sources/open.h"
#include "view/waveform_model.h"

namespace zqd {

class FrmViewer {
public:
    explicit FrmViewer(archive::ArchiveConfig config) : config_(std::move(config)) {}

    // Opens a record file, a miniSEED file or an SDS folder (only the days
    // that touch [from, to) when given). A refusal keeps what was shown.
    Status Open(const std::filesystem::path& path, std::optional<std::int64_t> from = {},
                std::optional<std::int64_t> to = {});
    // Channels `rows` over [t0, t1) into `folder` in `format` (mseed, sac, csv).
    Status ExportVisible(const std::vector<int>& rows, std::int64_t t0, std::int64_t t1, const std::string& format,
                         const std::filesystem::path& folder);
    // The outcome of saving the picture `file`.
    void PictureSaved(const Status& saved, const std::filesystem::path& file);

    std::shared_ptr<view::WaveformModel> Model() const { return opened_.model; }
    const view::Opened& Opened() const { return opened_; }
    const archive::ArchiveConfig& Config() const { return config_; }
    // The status line: what is open, or the last thing done, or why not.
    std::string StatusText = "打开 T1.DAT、miniSEED 文件或 SDS 文件夹（也可拖放到这里）";
    std::string Title = "波形浏览";

private:
    archive::ArchiveConfig config_;
    view::Opened opened_;
};

// The rows a list names: channel codes (the whole name or its last part) or
// row numbers and ranges ("GY0,GY3", "0,2-5"); all for an empty list.
// kQueryRefused with kNoSuchChannel or the list's own reason.
Result<std::vector<bool>> SelectRows(const view::WaveformModel& model, const std::string& list);

}  // namespace zqd
