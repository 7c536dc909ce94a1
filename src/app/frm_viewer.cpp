#include "app/frm_viewer.h"

#include <cctype>

#include "app/archive_texts.h"
#include "app/messages.h"
#include "common/numtext.h"
#include "platform/text.h"
#include "view/export_span.h"

namespace zqd {

Status FrmViewer::Open(const std::filesystem::path& path, std::optional<std::int64_t> from,
                       std::optional<std::int64_t> to) {
    view::Opened opened;
    const std::vector<std::pair<int, std::string>> rows(config_.channels.begin(), config_.channels.end());
    const Status s = view::OpenForView(path, config_.acquisition.ChnNum, rows, from, to, opened);
    if (!s.ok()) {
        StatusText = app::Text(s);  // the view keeps what it showed
        return s;
    }
    opened_ = std::move(opened);
    StatusText = app::OpenedText(opened_);
    for (const auto& n : app::OpenedNotes(opened_)) StatusText += "；" + n;
    Title = "波形浏览 — " + platform::PathText(path);
    return s;
}

Status FrmViewer::ExportVisible(const std::vector<int>& rows, std::int64_t t0, std::int64_t t1, const std::string& format,
                                const std::filesystem::path& folder) {
    if (!opened_.model) return Status::Fail(Status::Code::kQueryRefused);
    int files = 0;
    const Status s = view::ExportSpan(*opened_.model, rows, t0, t1, format, config_.station, config_.pack, folder, files);
    StatusText = s.ok() ? "已导出 " + std::to_string(files) + " 个文件到 " + platform::PathText(folder) : app::Text(s);
    return s;
}

void FrmViewer::PictureSaved(const Status& saved, const std::filesystem::path& file) {
    StatusText = saved.ok() ? "图片已存为 " + platform::PathText(file) : app::Text(saved);
}

Result<std::vector<bool>> SelectRows(const view::WaveformModel& m, const std::string& list) {
    std::vector<bool> shown(static_cast<std::size_t>(m.ChannelCount()), list.empty());
    if (list.empty()) return shown;
    for (const std::string& part : SplitText(list, ',')) {
        bool found = false;
        for (int c = 0; c < m.ChannelCount(); ++c) {
            const std::string& name = m.At(c).name;
            const std::size_t dot = name.rfind('.');
            if (name == part || (dot != std::string::npos && name.substr(dot + 1) == part)) {
                shown[static_cast<std::size_t>(c)] = true;
                found = true;
            }
        }
        if (found) continue;
        const auto rows = ParseChannelList(part, m.ChannelCount());
        if (!rows) {
            if (std::isdigit(static_cast<unsigned char>(part.empty() ? 'x' : part[0]))) return rows.status();
            return Status::Fail(Status::Code::kQueryRefused, Status::Why::kNoSuchChannel).About(part);
        }
        for (int c : *rows) shown[static_cast<std::size_t>(c)] = true;
    }
    return shown;
}

}  // namespace zqd
