// convert --format mseed|sds|sac|csv [--out DIR] [--chn-num N] [--channels LIST]
// [--config FILE] [--network N] [--station S] [--location L] [--assume-start T]
// [--volts] FILE...: record files to miniSEED, an SDS archive, SAC or CSV.
#include <iostream>

#include "app/archive_texts.h"
#include "app/messages.h"
#include "cli/command.h"
#include "cli/station.h"
#include "common/numtext.h"
#include "common/utc.h"
#include "convert/convert.h"
#include "convert/writers.h"
#include "platform/text.h"

namespace zqd::cli {

namespace {

class Convert final : public Command {
public:
    CLI::App* Add(CLI::App& app) override {
        auto* c = app.add_subcommand("convert", "Convert record files to miniSEED, an SDS archive, SAC or CSV");
        c->add_option("--format", format_, "mseed, sds, sac or csv")->required()->check(CLI::IsMember(convert::FormatNames()));
        c->add_option("--out", out_, "Output folder (default: the current folder)");
        c->add_option("--chn-num", chn_num_, "Channels per scan of the records")->check(CLI::Range(1, 64));
        c->add_option("--channels", channels_, "Card offsets to convert, e.g. 0,2-5 (default: all but the GPS slot)");
        station_.Add(*c, "Configuration file (TOML) with the codes and channel map");
        c->add_option("--assume-start", assume_start_, "Time of the first block of records without any GPS time");
        c->add_flag("--volts", volts_, "CSV values in volts, as the export scales them");
        c->add_option("FILE", files_, "Record files")->required();
        return c;
    }

    int Run() override {
        convert::ConvertOptions o;
        o.format = format_;
        o.out = out_.empty() ? std::filesystem::path(".") : platform::PathFromUtf8(out_);
        o.chn_num = chn_num_;
        o.volts = volts_;
        config::StationConfig station = config::DefaultConfig();
        station.card.ChnNum = static_cast<std::int16_t>(chn_num_);
        station.records.channels = records::DefaultChannels(chn_num_, 2000);
        if (const int refused = station_.Load(station, kUsage); refused != kDone) return refused;
        o.records = station.records;
        if (!channels_.empty()) {
            const auto list = ParseChannelList(channels_, chn_num_);
            if (!list) {
                std::cerr << app::Text(list.status()) << "\n";
                return kUsage;
            }
            o.channels = *list;
        }
        if (!assume_start_.empty()) {
            std::int64_t ns = 0;
            bool beyond = false;
            if (!utc::ParseIso(assume_start_, ns, &beyond)) {
                std::cerr << app::TimeOptionText("--assume-start", assume_start_, beyond) << "\n";
                return kUsage;
            }
            o.assume_start_ns = ns;
        }
        convert::ConvertSummary sum;
        auto say = [](const convert::ConvertNote& note) { std::cout << app::NoteText(note) << "\n" << std::flush; };
        for (const auto& f : files_) convert::ConvertRecord(platform::PathFromUtf8(f), o, sum, say);
        std::cout << "共 " << sum.files << " 个文件转换，" << sum.refused << " 个拒绝；" << sum.channels << " 个通道，"
                  << sum.segments << " 段，" << sum.samples << " 个样本，写出 " << sum.outputs << " 个文件";
        if (sum.inferred_blocks > 0)
            std::cout << "；" << sum.inferred_blocks << " 块的时间由邻块推算"
                      << (format_ == "sac" || format_ == "csv" ? "（" + format_ + " 没有时间质量字段，未标出）"
                                                               : "（miniSEED 时间质量降为 50）");
        std::cout << "\n";
        return sum.refused > 0 ? kRefused : kDone;
    }

private:
    std::string format_, out_, channels_, assume_start_;
    int chn_num_ = 18;
    bool volts_ = false;
    StationOptions station_;
    std::vector<std::string> files_;
};

}  // namespace

std::unique_ptr<Command> MakeConvert() { return std::make_unique<Convert>(); }

}  // namespace zqd::cli
