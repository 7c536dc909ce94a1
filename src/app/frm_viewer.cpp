#include "app/frm_viewer.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <tuple>

#include "app/archive_texts.h"
#include "app/messages.h"
#include "common/numtext.h"
#include "common/utc.h"
#include "platform/text.h"
#include "records/records_config.h"
#include "view/export_span.h"
#include "view/filtered_model.h"

namespace zqd {

Status FrmViewer::Open(const std::filesystem::path& path, std::optional<std::int64_t> from,
                       std::optional<std::int64_t> to) {
    view::Opened opened;
    const std::vector<std::pair<int, std::string>> rows(config_.records.channels.begin(), config_.records.channels.end());
    const Status s = view::OpenForView(path, config_.card.ChnNum, rows, from, to, opened);
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
    const Status s = view::ExportSpan(*opened_.model, rows, t0, t1, format, config_.records.station, config_.records.pack, folder, files);
    StatusText = s.ok() ? "已导出 " + std::to_string(files) + " 个文件到 " + platform::PathText(folder) : app::Text(s);
    return s;
}

std::function<std::pair<Status, view::Opened>()> FrmViewer::ReadAgain() const {
    if (!opened_.model || opened_.kind == view::Opened::Kind::kRecord) return {};
    return [path = opened_.path, chn = config_.card.ChnNum,
            rows = std::vector<std::pair<int, std::string>>(config_.records.channels.begin(), config_.records.channels.end())] {
        std::pair<Status, view::Opened> read;
        read.first = view::OpenForView(path, chn, rows, std::nullopt, std::nullopt, read.second);
        return read;
    };
}

void FrmViewer::Reopened(const Status& s, view::Opened opened) {
    if (!s.ok()) {
        StatusText = app::Text(s);  // the data shown stay
        return;
    }
    opened_ = std::move(opened);
    StatusText = app::OpenedText(opened_);
    made_ = FilterMade{};  // made from the data before
}

Result<signal::FilterSpec> FilterFromText(const std::string& text) {
    std::string t = text;
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.erase(0, 1);
    if (t.empty() || t == "不滤波") return signal::FilterSpec{};
    const auto parsed = signal::ParseFilter(t);
    if (!parsed) return Status::Fail(Status::Code::kQueryRefused, Status::Why::kFilterUnreadable).About(t);
    return *parsed;
}

std::string LiveFilterNote(const signal::FilterSpec& spec) {
    return spec.kind == signal::FilterSpec::Kind::kNone ? std::string() : "因果滤波 " + signal::FilterText(spec);
}

Status FrmViewer::FilterChosen(const std::string& text) {
    const auto spec = FilterFromText(text);
    if (!spec) {
        StatusText = app::Text(spec.status());
        return spec.status();
    }
    filter_ = *spec;
    made_ = FilterMade{};
    StatusText = Filtering() ? FilterNote(false) : "不滤波";
    return Status::Ok();
}

std::optional<std::pair<double, double>> RangeFromText(const std::string& text, bool non_negative) {
    const auto number = [](std::string t, double& out) {
        while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
        while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.erase(0, 1);
        const char* end = t.data() + t.size();
        const auto r = std::from_chars(t.data(), end, out);
        return !t.empty() && r.ec == std::errc() && r.ptr == end && std::isfinite(out);
    };
    const auto colon = text.find(':');
    double lo = 0, hi = 0;
    if (colon == std::string::npos || !number(text.substr(0, colon), lo) || !number(text.substr(colon + 1), hi) ||
        !(lo < hi) || (non_negative && lo < 0))
        return std::nullopt;
    return std::pair{lo, hi};
}

Status FrmViewer::SpectrogramChosen(const std::string& hz, bool log, const std::string& db, std::pair<double, double> drawn_db) {
    signal::SpectrogramScale next;
    next.log = log;
    if (!hz.empty() && hz != "全部频率") {
        const auto r = RangeFromText(hz, true);
        if (!r) {
            const Status refused = Status::Fail(Status::Code::kQueryRefused, Status::Why::kHzRangeUnreadable).About(hz);
            StatusText = app::Text(refused);
            return refused;
        }
        next.low_hz = r->first;
        next.high_hz = r->second;
    }
    if (db == "固定当前" && drawn_db.second > drawn_db.first) {
        next.fixed_db = true;
        std::tie(next.low_db, next.high_db) = drawn_db;
    } else if (!db.empty() && db != "dB 自动" && db != "固定当前") {
        const auto r = RangeFromText(db, false);
        if (!r) {
            const Status refused = Status::Fail(Status::Code::kQueryRefused, Status::Why::kDbRangeUnreadable).About(db);
            StatusText = app::Text(refused);
            return refused;
        }
        next.fixed_db = true;
        std::tie(next.low_db, next.high_db) = *r;
    }
    spectrogram_ = next;
    StatusText = "频谱图：" + std::string(next.high_hz > 0 ? NumberText(next.low_hz) + "–" + NumberText(next.high_hz) + " Hz" : "全部频率") +
                 (log ? "，对数频率" : "，线性频率") +
                 (next.fixed_db ? "，色标固定 " + NumberText(std::round(next.low_db)) + "…" + NumberText(std::round(next.high_db)) + " dB"
                                : "，色标随画面");
    return Status::Ok();
}

std::string SpectrogramTitle(const std::string& name, const signal::Spectrogram& s, const signal::SpectrogramScale& scale) {
    const auto hz = [](double v) {  // four figures: 0.04883, 20, 1000
        char b[32];
        const auto r = std::to_chars(b, b + sizeof b, v, std::chars_format::general, 4);
        return std::string(b, r.ptr);
    };
    std::string t = name + " 频谱图（窗长 " + std::to_string(s.frame) + "，汉宁窗，重叠 50%";
    if (s.rate > 0) {
        const auto [lo, hi] = scale.Range(s);
        t += "；" + hz(lo) + "–" + hz(hi) + " Hz";
    }
    t += scale.log ? "，对数频率" : "";
    t += scale.fixed_db ? "；色标固定）" : "）";
    return t;
}

namespace {

bool Covers(const FilterMade& m, const signal::FilterSpec& spec, const std::vector<bool>& shown, std::int64_t t0,
            std::int64_t t1) {
    if (m.job.spec != spec || m.job.t0 > t0 || m.job.t1 < t1) return false;
    for (std::size_t c = 0; c < shown.size(); ++c)
        if (shown[c] && (c >= m.job.shown.size() || !m.job.shown[c])) return false;
    return true;
}

}  // namespace

std::shared_ptr<const view::WaveformModel> FrmViewer::Filtered(const std::vector<bool>& shown, std::int64_t t0,
                                                               std::int64_t t1) const {
    if (!Filtering() || !made_.model || made_.job.in != opened_.model || !Covers(made_, filter_, shown, t0, t1)) return {};
    return made_.model;
}

std::optional<FilterJob> FrmViewer::FilterNeeded(const std::vector<bool>& shown, std::int64_t t0, std::int64_t t1) const {
    if (!Filtering() || !opened_.model || t1 <= t0) return std::nullopt;
    if (made_.job.in == opened_.model && Covers(made_, filter_, shown, t0, t1) &&
        (made_.status.ok() || (made_.job.asked0 == t0 && made_.job.asked1 == t1)))
        return std::nullopt;  // made, or refused as it stands
    FilterJob job{opened_.model, shown, t0, t1, filter_, t0, t1};
    // A quarter of the span more on each side, where that stays within what
    // may be filtered at once.
    const std::int64_t more = (t1 - t0) / 4;
    std::int64_t wider0 = 0, wider1 = 0;
    if (__builtin_sub_overflow(t0, more, &wider0) || __builtin_add_overflow(t1, more, &wider1)) return job;  // at the ends of time
    std::uint64_t samples = 0;
    for (int c = 0; c < opened_.model->ChannelCount(); ++c)
        if (static_cast<std::size_t>(c) < shown.size() && shown[static_cast<std::size_t>(c)])
            for (const auto& st : opened_.model->At(c).stretches)
                if (st.EndNs() > wider0 && st.start_ns < wider1)
                    samples += st.IndexAtOrAfter(wider1) - st.IndexAtOrAfter(wider0);
    if (samples * 2 <= view::kMostFilteredSamples) {
        job.t0 = wider0;
        job.t1 = wider1;
    }
    return job;
}

FilterMade RunFilterJob(FilterJob job) {
    FilterMade made;
    auto out = std::make_shared<view::WaveformModel>();
    made.status = view::FilterModel(*job.in, job.shown, job.t0, job.t1, job.spec, *out, view::kMostFilteredSamples,
                                    &made.unfiltered);
    if (made.status.ok()) made.model = std::move(out);
    made.job = std::move(job);
    return made;
}

void FrmViewer::FilterDone(FilterMade made) {
    if (made.job.in != opened_.model || made.job.spec != filter_) return;  // chosen before something else was
    if (!made.status.ok()) StatusText = app::Text(made.status);
    else if (!made.unfiltered.empty()) StatusText = UnfilteredNote(*made.job.in, made.unfiltered);
    made_ = std::move(made);
}

std::string FrmViewer::FilterNote(bool ready) const {
    if (!Filtering()) return {};
    std::string note = "零相位滤波 " + signal::FilterText(filter_);
    if (made_.job.spec == filter_ && !made_.status.ok()) return note + "（未能滤波）";
    if (!ready) return note + "（计算中…）";
    if (made_.job.spec == filter_ && made_.model && !made_.unfiltered.empty())
        note += "；" + UnfilteredNote(*made_.job.in, made_.unfiltered);
    return note;
}

std::string UnfilteredNote(const view::WaveformModel& m, const std::vector<int>& rows) {
    if (rows.empty()) return {};
    std::string names;
    const std::size_t named = std::min<std::size_t>(rows.size(), 3);
    for (std::size_t i = 0; i < named; ++i) {
        if (rows[i] < 0 || rows[i] >= m.ChannelCount()) continue;
        const std::string& name = m.At(rows[i]).name;
        if (!names.empty()) names += "、";
        names += name.substr(name.rfind('.') + 1);
    }
    if (rows.size() > named) names += " 等 " + std::to_string(rows.size()) + " 道";
    return "未滤波：" + names + "（采样率太低，不适合此滤波器，按原样显示）";
}

std::string HelicorderTitle(const view::WaveformModel& m, const view::HelicorderView& h, const std::string& filter_note) {
    std::string t = h.channel < m.ChannelCount() ? m.At(h.channel).name : std::string();
    const view::HelicorderLayout l = h.Layout(m);
 std::string when = utc::Iso(l.start_ns).substr(0, 16);
    when[10] = ' ';
    t += "，" + when + " UTC 起 " + std::to_string(h.hours) + " 小时，每行 " +
         std::to_string(h.row_minutes) + " 分钟";
    if (h.follow && !h.start) t += "，跟随最新";
    if (!filter_note.empty()) t += "，" + filter_note;
    return t;
}

void FrmViewer::PictureSaved(const Status& saved, const std::filesystem::path& file) {
    StatusText = saved.ok() ? "图片已存为 " + platform::PathText(file) : app::Text(saved);
}

bool IsHealthRow(const std::string& name) {
    const std::string code = name.substr(name.rfind('.') + 1);
    const auto& gps = records::GpsChannelCodes();
    return code == "LCE" || code == "LCQ" || code == "LCR" || std::find(gps.begin(), gps.end(), code) != gps.end();
}

Result<std::vector<bool>> SelectRows(const view::WaveformModel& m, const std::string& list, std::vector<int>* order) {
    std::vector<bool> shown(static_cast<std::size_t>(m.ChannelCount()), list.empty());
    if (order) order->clear();
    if (list.empty()) {
        bool any_data = false;
        for (int c = 0; c < m.ChannelCount(); ++c) any_data = any_data || !IsHealthRow(m.At(c).name);
        for (int c = 0; c < m.ChannelCount() && any_data; ++c) shown[static_cast<std::size_t>(c)] = !IsHealthRow(m.At(c).name);
        return shown;
    }
    const auto take = [&](int c) {
        shown[static_cast<std::size_t>(c)] = true;
        if (order) order->push_back(c);
    };
    for (const std::string& part : SplitText(list, ',')) {
        bool found = false;
        for (int c = 0; c < m.ChannelCount(); ++c) {
            const std::string& name = m.At(c).name;
            const std::size_t dot = name.rfind('.');
            if (name == part || (dot != std::string::npos && name.substr(dot + 1) == part)) {
                take(c);
                found = true;
            }
        }
        if (found) continue;
        const auto rows = ParseChannelList(part, m.ChannelCount());
        if (!rows) {
            if (std::isdigit(static_cast<unsigned char>(part.empty() ? 'x' : part[0]))) return rows.status();
            return Status::Fail(Status::Code::kQueryRefused, Status::Why::kNoSuchChannel).About(part);
        }
        for (int c : *rows) take(c);
    }
    return shown;
}

}  // namespace zqd
