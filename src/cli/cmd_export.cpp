// export --from H:M:S --to H:M:S [--channel TEXT] [--chn-num N] [--out PATH] [FILE]:
// the main window's 查询 and 导出 on a record: one channel of the blocks
// between the times, written as T2.csv. No card is touched.
#include <array>
#include <iostream>
#include <optional>

#include "app/frm_main.h"
#include "app/messages.h"
#include "app/query.h"
#include "cli/command.h"
#include "cli/record_file.h"
#include "common/numtext.h"
#include "formats/csv/t2csv.h"

namespace zqd::cli {

namespace {

std::optional<std::array<std::string, 3>> SplitTime(const std::string& text) {
    std::array<std::string, 3> parts;
    std::size_t at = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t colon = text.find(':', at);
        if ((i < 2) == (colon == std::string::npos)) return std::nullopt;
        parts[i] = text.substr(at, i < 2 ? colon - at : std::string::npos);
        at = colon + 1;
    }
    return parts;
}

class Export final : public Command {
public:
    CLI::App* Add(CLI::App& app) override {
        auto* c = app.add_subcommand("export", "Query a time range of one channel and write T2.csv");
        c->add_option("--from", from_, "Start time H:M:S, as typed into the start boxes")->required();
        c->add_option("--to", to_, "End time H:M:S, as typed into the end boxes")->required();
        c->add_option("--channel", channel_, "Channel offset text (default 1)");
        c->add_option("--chn-num", chn_num_, "Channels per scan of the record")->check(CLI::Range(1, 32767));
        c->add_option("--out", out_, "Export file (default: T2.csv in the program's folder)");
        c->add_option("FILE", file_, "Record file (default: T1.DAT in the program's folder)");
        return c;
    }

    int Run() override {
        const auto f = SplitTime(from_), t = SplitTime(to_);
        if (!f || !t) {
            std::cerr << "时间要写成 时:分:秒，例如 17:38:43\n";
            return kUsage;
        }
        const auto record = RecordFile(file_);
        auto listed = ListRecord(record, static_cast<std::int16_t>(chn_num_));
        if (!listed) {
            std::cerr << Printable(app::Text(listed.status()));
            return kRefused;
        }
        QueryInput in{*f, *t, channel_, &listed->times, &listed->record.BlockData, listed->record.BlockNum,
                      listed->record.ChnPoints, listed->record.ChnNum};
        const auto found = RunQuery(in);
        if (!found) {
            std::cerr << Printable(app::Text(found.status()));
            return kRefused;
        }
        // The window's rules stand; the command line only points out where they
        // took something other than what was asked for.
        if (!found->startFound) std::cerr << "注意：没有一块的时间是 " << from_ << "，按规则从第 0 块开始。\n";
        if (!found->endFound) std::cerr << "注意：没有一块的时间是 " << to_ << "，按规则以第 0 块为结束块。\n";
        if (!BeginsWithNumber(channel_))
            std::cerr << "注意：通道“" << channel_ << "”不是数字，按规则当作 " << found->channelText << "。\n";
        const std::string bytes = csv::ExportFileBytes(*f, found->StartNS, found->DispData);
        if (const Status s = WriteExport(ExportFile(out_), record, bytes); !s.ok()) {
            std::cerr << Printable(app::Text(s));
            return kRefused;
        }
        return kDone;
    }

private:
    std::string from_, to_, channel_ = "1", out_, file_;
    int chn_num_ = 18;
};

}  // namespace

std::unique_ptr<Command> MakeExport() { return std::make_unique<Export>(); }

}  // namespace zqd::cli
