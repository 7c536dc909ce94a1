// 波形浏览, the waveform viewer, without any toolkit: what it opens, exports
// and says in its status line. The widget draws the model it holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/station_config.h"
#include "common/result.h"
#include "signal/filter.h"
#include "signal/spectrogram.h"
#include "view/helicorder.h"
#include "view/sources/open.h"
#include "view/waveform_model.h"

namespace zqd {

// A filtered span to be made, on any thread: the rows `shown` of `in` over
// [t0, t1) (with the filter's margin), zero-phase.
struct FilterJob {
    std::shared_ptr<const view::WaveformModel> in;
    std::vector<bool> shown;
    std::int64_t t0 = 0, t1 = 0;
    signal::FilterSpec spec;
    std::int64_t asked0 = 0, asked1 = 0;  // the span shown when it was asked for
};
struct FilterMade {
    FilterJob job;
    Status status;
    std::shared_ptr<view::WaveformModel> model;
    std::vector<int> unfiltered;  // rows whose rate the filter does not suit, shown as they are
};
// "未滤波：LCE、LCQ 等 10 道（采样率太低，不适合此滤波器）"; empty when none.
std::string UnfilteredNote(const view::WaveformModel& m, const std::vector<int>& rows);
FilterMade RunFilterJob(FilterJob job);

class FrmViewer {
public:
    explicit FrmViewer(config::StationConfig config) : config_(std::move(config)) {}

    // Opens a record file, a miniSEED file or an SDS folder (only the days
    // that touch [from, to) when given). A refusal keeps what was shown.
    Status Open(const std::filesystem::path& path, std::optional<std::int64_t> from = {},
                std::optional<std::int64_t> to = {});
    // Channels `rows` over [t0, t1) into `folder` in `format` (mseed, sac, csv).
    Status ExportVisible(const std::vector<int>& rows, std::int64_t t0, std::int64_t t1, const std::string& format,
                         const std::filesystem::path& folder);
    // The outcome of saving the picture `file`.
    void PictureSaved(const Status& saved, const std::filesystem::path& file);

    // What is open read again (a folder or file that grows), as a call to
    // make on any thread; Reopened puts what it read in place. Empty when
    // nothing is open or it is a record file, which does not grow.
    std::function<std::pair<Status, view::Opened>()> ReadAgain() const;
    void Reopened(const Status& s, view::Opened opened);

    // The filter chosen by its text ("bp:1:10", "hp:0.5", "lp:20", "demean";
    // empty or "不滤波": none). A refusal keeps the filter that was.
    Status FilterChosen(const std::string& text);
    const signal::FilterSpec& Filter() const { return filter_; }
    bool Filtering() const { return filter_.kind != signal::FilterSpec::Kind::kNone; }
    // What the view draws for rows `shown` over [t0, t1): the filtered span
    // when one covers it, else nothing (the unfiltered model is drawn).
    std::shared_ptr<const view::WaveformModel> Filtered(const std::vector<bool>& shown, std::int64_t t0,
                                                        std::int64_t t1) const;
    // The span to filter next for such a view, a little wider than it (so
    // that a small pan needs nothing new); empty when the one made covers it
    // or the same was refused.
    std::optional<FilterJob> FilterNeeded(const std::vector<bool>& shown, std::int64_t t0, std::int64_t t1) const;
    void FilterDone(FilterMade made);
    // On the view: "零相位滤波 bp:1:10"; while the span is made, "…计算中".
    std::string FilterNote(bool ready) const;

    // How the spectrogram is drawn: its frequencies ("全部频率" or "LO:HI"
    // in Hz), on a log axis or not, its colours ("dB 自动", "固定当前": the
    // range `drawn_db` last drawn, kept; or "LO:HI" in dB). A refusal keeps
    // the scale that was.
    Status SpectrogramChosen(const std::string& hz, bool log, const std::string& db,
                             std::pair<double, double> drawn_db = {});
    const signal::SpectrogramScale& SpectrogramScale() const { return spectrogram_; }

    std::shared_ptr<view::WaveformModel> Model() const { return opened_.model; }
    const view::Opened& Opened() const { return opened_; }
    const config::StationConfig& Config() const { return config_; }
    // The status line: what is open, or the last thing done, or why not.
    std::string StatusText = "打开 T1.DAT、miniSEED 文件或 SDS 文件夹（也可拖放到这里）";
    std::string Title = "波形浏览";

private:
    config::StationConfig config_;
    view::Opened opened_;
    signal::FilterSpec filter_;
    FilterMade made_;     // the last filtered span, or its refusal
    signal::SpectrogramScale spectrogram_;
};

// Two numbers "LO:HI", LO < HI (and LO ≥ 0 when `non_negative`); empty
// when the text is not that.
std::optional<std::pair<double, double>> RangeFromText(const std::string& text, bool non_negative);
// Above a spectrogram: "XX.ZQD01.00.GY0 频谱图（窗长 1024，汉宁窗，重叠 50%；0.5–20 Hz，对数频率；色标固定）".
std::string SpectrogramTitle(const std::string& name, const signal::Spectrogram& s, const signal::SpectrogramScale& scale);

// A filter by its text ("bp:1:10", "hp:0.5", "lp:20", "demean"; empty or
// "不滤波": none); kQueryRefused (kFilterUnreadable) when it is none of these.
Result<signal::FilterSpec> FilterFromText(const std::string& text);
// On a live view: "因果滤波 bp:1:10"; empty without a filter.
std::string LiveFilterNote(const signal::FilterSpec& spec);

// The helicorder's title: the channel, its rows, the filter.
std::string HelicorderTitle(const view::WaveformModel& m, const view::HelicorderView& h, const std::string& filter_note);

// The rows a list names: channel codes (the whole name or its last part) or
// row numbers and ranges ("GY0,GY3", "0,2-5"), into `order` as they are
// named; for an empty list the data rows (the health channels too when there
// are no others). kQueryRefused with kNoSuchChannel or the list's own reason.
Result<std::vector<bool>> SelectRows(const view::WaveformModel& model, const std::string& list,
                                     std::vector<int>* order = nullptr);
// A row of the station's health (the clock's LCE, LCQ, LCR, the receiver's
// G* channels), by its name's channel code.
bool IsHealthRow(const std::string& name);

}  // namespace zqd
