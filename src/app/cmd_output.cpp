// FrmMain's 导出 button: write the last query's series to T2.csv.
#include "app/frm_main.h"
#include "app/messages.h"
#include "formats/csv/t2csv.h"
#include "platform/files.h"
#include "platform/safe_file.h"
#include "platform/text.h"

namespace zqd {

void FrmMain::CmdOutput_Click() {
    const std::string bytes = csv::ExportFileBytes({TxtFormT[0].Text, TxtFormT[1].Text, TxtFormT[2].Text},
                                              StartNS, DispData);
    LastExport = WriteExport(ExportFilePath, RecordFilePath, bytes);
    AppendLog(LastExport.ok() ? std::string("文件导出完毕!") : app::Text(LastExport));
}

Status WriteExport(const std::filesystem::path& path, const std::filesystem::path& recordPath, const std::string& bytes) {
    if (platform::SameFile(path, recordPath))
        return Status::Fail(Status::Code::kWriteFailed, Status::Why::kSameAsRecord)
            .About(platform::PathText(path))
            .And(platform::PathText(recordPath));
    if (Status s = WriteWhole(path, bytes); !s.ok())
        return Status::Fail(s.code, Status::Why::kExportFailed).About(platform::PathText(path)).Because(std::move(s));
    return Status::Ok();
}

}  // namespace zqd
