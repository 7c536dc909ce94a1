// psd --archive DIR --channel CHA [--from T] [--to T] [--segment S]
// [--config FILE] [--out PNG] [--csv FILE]: the station's noise, a channel's
// probability density of power spectral densities over the span (hour-long
// segments overlapping by half, McNamara and Buland 2004), drawn with
// Peterson's noise models when the channel's sensor is configured.
#include <cstdio>
#include <iostream>
#include <tuple>

#include "cli/command.h"
#include "common/utc.h"
#if defined(ZQD_WITH_PLOT) && defined(ZQD_HAVE_SPECTROGRAM)
#include "app/archive_texts.h"
#include "app/messages.h"
#include "config/station_config.h"
#include "platform/text.h"
#include "ui/plot.h"
#include "ui/psd_plot.h"
#include "cli/picture_options.h"
#endif

namespace zqd::cli {

namespace {

class Psd final : public Command {
public:
    CLI::App* Add(CLI::App& app) override {
        auto* c = app.add_subcommand("psd", "A channel's noise: its PPSD over the span, with Peterson's noise models");
        c->add_option("--archive", archive_, "The SDS archive folder")->required();
        c->add_option("--channel", channel_, "The channel: its code (GY0) or its whole name (XX.ZQD01.00.GY0)")->required();
        c->add_option("--from", from_, "Start of the span, UTC: YYYY-MM-DDTHH:MM:SS[.fffffffff] (default: the data's)");
        c->add_option("--to", to_, "End of the span, UTC (default: the data's)");
        c->add_option("--segment", segment_, "Seconds a segment (default 3600; shorter for short records)")
            ->check(CLI::Range(10.0, 86400.0));
        c->add_option("--config", config_, "Configuration file (TOML): the channel's sensor, for the response");
        c->add_option("--size", size_, "Picture size WxH in pixels (default 1200x800)");
        c->add_option("--out", out_, "The picture: .png, .jpg or .bmp");
        c->add_option("--csv", csv_, "The numbers: per period the 10th, 50th and 90th percentiles, the mode, the models");
        return c;
    }

#if defined(ZQD_WITH_PLOT) && defined(ZQD_HAVE_SPECTROGRAM)
    int Run() override {
        ui::PsdRequest r;
        r.archive = platform::PathFromUtf8(archive_);
        r.channel = channel_;
        r.segment_seconds = segment_;
        if (out_.empty() && csv_.empty()) {
            std::cerr << "请用 --out 或 --csv 指定要写出的图片或数据\n";
            return kUsage;
        }
        if (!out_.empty()) {
            r.out = platform::PathFromUtf8(out_);
            if (!PictureName(out_)) return kUsage;
        }
        if (!csv_.empty()) r.csv = platform::PathFromUtf8(csv_);
        if (!ParseSize(size_, 300, 200, "1200x800", r.width, r.height) || !ParseSpan(from_, to_, r.from, r.to)) return kUsage;
        if (!config_.empty()) {
            if (const auto s = config::LoadConfig(platform::PathFromUtf8(config_), r.config); !s.ok()) {
                std::cerr << "配置有误：" << app::Text(s) << "\n";
                return kRefused;
            }
        }
        std::string said;
        if (const Status s = ui::PlotPsd(r, said); !s.ok()) {
            std::cerr << app::Text(s) << "\n";
            return kRefused;
        }
        std::cout << said << "\n";
        return kDone;
    }
#else
    int Run() override {
        std::cerr << "这个版本的命令行不能计算噪声谱（没有图形库或 FFTW）\n";
        return kUsage;
    }
#endif

private:
    std::string archive_, channel_, from_, to_, config_, out_, csv_, size_ = "1200x800";
    double segment_ = 3600;
};

}  // namespace

std::unique_ptr<Command> MakePsd() { return std::make_unique<Psd>(); }

}  // namespace zqd::cli
