// plot [--from T] [--to T] [--channels LIST] [--size WxH] [--config FILE]
// [--volts] [--filter F] --out PNG INPUT: the waveform viewer's drawing of a
// record, a miniSEED file or an SDS folder, into a PNG, without a display;
// with a Butterworth filter (bp:1:10, hp:0.5, lp:20, demean), zero-phase;
// with --spectrogram [--window N] [--min-hz --max-hz] [--log-hz] [--db LO:HI],
// the first channel over its spectrogram.
#include <cstdio>
#include <iostream>
#include <tuple>

#include "cli/command.h"
#include "common/utc.h"
#ifdef ZQD_WITH_PLOT
#include "app/frm_viewer.h"
#include "app/messages.h"
#include "config/station_config.h"
#include "platform/text.h"
#include "ui/plot.h"
#include "cli/picture_options.h"
#endif

namespace zqd::cli {

namespace {

class Plot final : public Command {
public:
    CLI::App* Add(CLI::App& app) override {
        auto* c = app.add_subcommand("plot", "Draw the waveforms of a record, a miniSEED file or an SDS folder into a PNG");
        c->add_option("--from", from_, "Start of the span, UTC: YYYY-MM-DDTHH:MM:SS[.fffffffff] (default: the data's)");
        c->add_option("--to", to_, "End of the span, UTC (default: the data's)");
        c->add_option("--channels", channels_, "Channels by code (GY0,GY3) or rows (0,2-5); default: all");
        c->add_option("--size", size_, "Picture size WxH in pixels (default 1600x900)");
        c->add_option("--config", config_, "Configuration file (TOML) with the channel names of records");
        c->add_flag("--volts", volts_, "Amplitudes in volts, as the export scales them");
        c->add_option("--filter", filter_,
                      "Butterworth filter, zero-phase: bp:LOW:HIGH, hp:CORNER, lp:CORNER (Hz, then :ORDER 2-8, default 4), "
                      "or demean");
        c->add_flag("--spectrogram", spectrogram_, "Under the first channel shown, its spectrogram (Hann, 50 % overlap)");
        c->add_option("--window", window_, "Spectrogram frame length in samples, a power of two (default 1024)")
            ->check(CLI::Range(16, 65536));
        c->add_option("--max-hz", max_hz_, "Highest frequency of the spectrogram shown (default: the Nyquist frequency)")
            ->check(CLI::Range(0.001, 1e6));
        c->add_option("--min-hz", min_hz_, "Lowest frequency of the spectrogram shown (default 0, or its first bin on a log axis)")
            ->check(CLI::Range(0.0, 1e6));
        c->add_flag("--log-hz", log_hz_, "The spectrogram's frequencies on a logarithmic axis");
        c->add_option("--db", db_, "The spectrogram's colours from LOW to HIGH dB rel. 1 count^2/Hz, as LOW:HIGH, "
                                   "kept the same from picture to picture (default: each picture's own range)");
        c->add_flag("--helicorder", helicorder_, "A helicorder (drum plot) of the first channel shown");
        c->add_option("--row-minutes", row_minutes_, "Helicorder rows of 15, 30 or 60 minutes (default 15)")
            ->check(CLI::IsMember({15, 30, 60}));
        c->add_option("--hours", hours_, "Helicorder span: 12 or 24 hours (default 24), from --from or the last whole one")
            ->check(CLI::IsMember({12, 24}));
        c->add_option("--clip", clip_, "Helicorder traces clipped at this many row spacings (default 2)")
            ->check(CLI::Range(0.5, 50.0));
        c->add_option("--colours", colours_, "Helicorder rows' colours in turn: names or #RRGGBB (default navy, dark red, black, green)")
            ->delimiter(',');
        c->add_option("--out", out_, "The PNG to write")->required();
        c->add_option("INPUT", input_, "T1.DAT, miniSEED file or SDS folder")->required();
        return c;
    }

#ifdef ZQD_WITH_PLOT
    int Run() override {
        ui::PlotRequest r;
        r.input = platform::PathFromUtf8(input_);
        r.out = platform::PathFromUtf8(out_);
        r.channels = channels_;
        r.volts = volts_;
        if (spectrogram_) r.spectrogram = window_;
        r.spectrogram_scale.low_hz = min_hz_;
        r.spectrogram_scale.high_hz = max_hz_;
        r.spectrogram_scale.log = log_hz_;
        if (helicorder_) r.helicorder_minutes = row_minutes_;
        r.helicorder_hours = hours_;
        r.clip_rows = clip_;
        r.helicorder_colours = colours_;
        if (!filter_.empty()) {
            const auto f = signal::ParseFilter(filter_);
            if (!f) {
                std::cerr << "--filter " << filter_
                          << " 要写成 bp:低:高、hp:拐角、lp:拐角（赫兹，可再加 :阶数，2 到 8，默认 4），或 demean，如 bp:1:10\n";
                return kUsage;
            }
            r.filter = *f;
        }
        // What can be refused without reading the data is refused first.
        if (!PictureName(out_)) return kUsage;
        if (spectrogram_ && (window_ < 16 || window_ > 65536 || (window_ & (window_ - 1)) != 0)) {
            std::cerr << "--window " << window_ << " 应为 16 到 65536 之间的 2 的幂\n";
            return kUsage;
        }
        if (max_hz_ > 0 && min_hz_ >= max_hz_) {
            std::cerr << "--min-hz 要低于 --max-hz\n";
            return kUsage;
        }
        if (!db_.empty()) {
            const auto range = RangeFromText(db_, false);
            if (!range) {
                std::cerr << "--db " << db_ << " 要写成 低:高（dB，低 < 高），如 -20:80\n";
                return kUsage;
            }
            r.spectrogram_scale.fixed_db = true;
            std::tie(r.spectrogram_scale.low_db, r.spectrogram_scale.high_db) = *range;
        }
        if (!ParseSize(size_, 200, 120, "1600x900", r.width, r.height) || !ParseSpan(from_, to_, r.from, r.to)) return kUsage;
        if (r.from && r.to && *r.to <= *r.from) {
            std::cerr << "--to 要晚于 --from\n";
            return kUsage;
        }
        if (!config_.empty()) {
            if (const auto s = config::LoadConfig(platform::PathFromUtf8(config_), r.config); !s.ok()) {
                std::cerr << "配置有误：" << app::Text(s) << "\n";
                return kRefused;
            }
        }
        std::string said;
        if (const Status s = ui::Plot(r, said); !s.ok()) {
            std::cerr << app::Text(s) << "\n";
            return s.why == Status::Why::kBadColour ? kUsage : kRefused;  // a wrong --colours
        }
        std::cout << said << "\n";
        return kDone;
    }
#else
    int Run() override {
        std::cerr << "这个版本的命令行不能画图（没有图形库）\n";
        return kUsage;
    }
#endif

private:
    std::string from_, to_, channels_, size_ = "1600x900", out_, input_, config_, filter_;
    bool volts_ = false, spectrogram_ = false, log_hz_ = false;
    int window_ = 1024;
    double max_hz_ = 0, min_hz_ = 0, clip_ = 2;
    std::string db_;
    bool helicorder_ = false;
    int row_minutes_ = 15, hours_ = 24;
    std::vector<std::string> colours_;
};

}  // namespace

std::unique_ptr<Command> MakePlot() { return std::make_unique<Plot>(); }

}  // namespace zqd::cli
