// FrmMain's 导出 button: write the last query's series to T2.csv.
#include "analysis/csv_export.h"
#include "common/platform.h"
#include "common/safe_file.h"
#include "recording/frm_main.h"

namespace zqd {

void FrmMain::CmdOutput_Click() {
    const std::string bytes = ExportFileBytes({TxtFormT[0].Text, TxtFormT[1].Text, TxtFormT[2].Text},
                                              StartNS, DispData);
    const auto& path = ExportFilePath;
    if (platform::SameFile(path, RecordFilePath)) {
        LastExport = Status::Fail(Status::Code::kWriteFailed, "same file as the record");
        AppendLog("导出失败：" + platform::PathText(path) + " 就是记录文件 " + platform::PathText(RecordFilePath) +
                  "，未写入。");
        return;
    }
    SafeFileWriter writer(path);
    if (writer.Open() && writer.Write(bytes.data(), bytes.size()) && writer.Commit()) {
        LastExport = Status::Ok();
        AppendLog("文件导出完毕!");
        return;
    }
    LastExport = Status::Fail(Status::Code::kWriteFailed, writer.Error());
    AppendLog("导出失败：" + platform::PathText(path) + "：" + writer.Error());
}

}  // namespace zqd
