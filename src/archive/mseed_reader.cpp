#include "archive/mseed_reader.h"

#include <libmseed.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

#include "common/platform.h"
#include "common/utc.h"

namespace zqd::archive {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The open files the records are read back from.
struct FileSet {
    std::vector<std::unique_ptr<std::FILE, FileCloser>> files;
};

struct Piece {
    std::uint32_t file = 0;
    std::uint64_t offset = 0;
    std::int32_t reclen = 0;
    std::uint64_t first = 0;  // index in the stretch of its first sample
    std::uint32_t count = 0;
};

void CopySamples(const MSRecord* msr, std::int32_t* out, std::int64_t from, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
        const std::int64_t j = from + i;
        switch (msr->sampletype) {
            case 'i': out[i] = static_cast<const std::int32_t*>(msr->datasamples)[j]; break;
            case 'f': out[i] = static_cast<std::int32_t>(std::lround(static_cast<const float*>(msr->datasamples)[j])); break;
            case 'd': out[i] = static_cast<std::int32_t>(std::llround(static_cast<const double*>(msr->datasamples)[j])); break;
            default: out[i] = 0;
        }
    }
}

// One stretch's samples, decoded from its records on demand; the record
// decoded last is kept, as reads come in neighbouring pieces. One thread.
class MseedSource final : public view::SampleSource {
public:
    explicit MseedSource(std::shared_ptr<FileSet> files) : files_(std::move(files)) {}
    ~MseedSource() override {
        if (msr_) msr_free(&msr_);
    }
    std::vector<Piece> pieces;

    void Read(std::uint64_t first, std::size_t n, std::int32_t* out) const override {
        auto it = std::upper_bound(pieces.begin(), pieces.end(), first,
                                   [](std::uint64_t f, const Piece& p) { return f < p.first; });
        std::size_t done = 0;
        if (it != pieces.begin()) --it;
        for (; done < n && it != pieces.end(); ++it) {
            const std::uint64_t at = first + done;
            if (at < it->first || at >= it->first + it->count) break;
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, it->first + it->count - at));
            if (!Decode(*it)) break;
            CopySamples(msr_, out + done, static_cast<std::int64_t>(at - it->first), static_cast<std::int64_t>(take));
            done += take;
        }
        std::fill(out + done, out + n, 0);  // unreadable now: the file changed under us
    }

private:
    bool Decode(const Piece& p) const {
        if (decoded_ == &p) return true;
        decoded_ = nullptr;
        buffer_.resize(static_cast<std::size_t>(p.reclen));
        std::FILE* f = files_->files[p.file].get();
        if (!f || !platform::SeekTo(f, p.offset) || std::fread(buffer_.data(), 1, buffer_.size(), f) != buffer_.size())
            return false;
        if (msr_parse(buffer_.data(), p.reclen, &msr_, p.reclen, 1, 0) != MS_NOERROR ||
            msr_->numsamples < static_cast<std::int64_t>(p.count))
            return false;
        decoded_ = &p;
        return true;
    }
    std::shared_ptr<FileSet> files_;
    mutable std::vector<char> buffer_;
    mutable MSRecord* msr_ = nullptr;
    mutable const Piece* decoded_ = nullptr;
};

std::string Trim(const char* s) {
    std::string t(s);
    while (!t.empty() && t.back() == ' ') t.pop_back();
    return t;
}

}  // namespace

std::optional<view::WaveformModel> LoadMseedModel(const std::vector<std::filesystem::path>& files,
                                                  std::optional<std::int64_t> from, std::optional<std::int64_t> to,
                                                  MseedLoad& report, std::string& why) {
    view::WaveformModel model;
    auto set = std::make_shared<FileSet>();
    std::map<std::string, int> channel_of;
    std::vector<std::shared_ptr<MseedSource>> current;  // each channel's last stretch's source
    MSRecord* msr = nullptr;
    std::vector<char> buffer;
    std::vector<std::int32_t> values;
    for (const auto& path : files) {
        const std::string name = platform::PathText(path);
        std::unique_ptr<std::FILE, FileCloser> file(platform::OpenFile(path, "rb"));
        if (!file) {
            report.skipped.push_back(name + "：" + platform::LastErrorText());
            continue;
        }
        const auto file_index = static_cast<std::uint32_t>(set->files.size());
        // Records are read in pieces of a few MiB; a record is parsed once it is whole.
        constexpr std::size_t kPiece = 4 << 20;
        buffer.resize(kPiece);
        std::uint64_t base = 0;  // file offset of buffer[0]
        std::size_t have = 0, at = 0;
        bool eof = false, bad = false, more = false;
        while (true) {
            if ((have - at < 8192 || more) && !eof) {  // keep a record's length ahead, or what parsing asked for
                if (at == 0 && have == buffer.size()) buffer.resize(buffer.size() * 2);
                std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(at), buffer.begin() + static_cast<std::ptrdiff_t>(have), buffer.begin());
                base += at;
                have -= at;
                at = 0;
                const std::size_t got = std::fread(buffer.data() + have, 1, buffer.size() - have, file.get());
                have += got;
                eof = got == 0 || std::feof(file.get());
                more = false;
            }
            if (at >= have) break;
            const int left = static_cast<int>(std::min<std::size_t>(have - at, 1 << 30));
            const int rc = msr_parse(buffer.data() + at, left, &msr, -1, 1, 0);
            if (rc != MS_NOERROR) {
                if (rc > 0 && !eof) {  // more bytes needed: read on
                    more = true;
                    continue;
                }
                if (rc > 0 || left < 48) break;  // a short tail
                // Not a record here: step on by the smallest record length.
                ++report.bad_records;
                bad = true;
                at += std::min<std::size_t>(256, have - at);
                continue;
            }
            const std::size_t reclen = static_cast<std::size_t>(msr->reclen);
            const std::uint64_t offset = base + at;
            at += reclen;
            if (msr->numsamples <= 0 || msr->samprate <= 0) continue;  // not a data record
            ++report.records;
            const std::int64_t start = static_cast<std::int64_t>(msr->starttime) * 1000;  // µs to ns
            const std::int64_t end = start + static_cast<std::int64_t>(std::llround(static_cast<double>(msr->numsamples) * 1e9 / msr->samprate));
            if ((from && end <= *from) || (to && start >= *to)) continue;
            const std::string code = Trim(msr->network) + "." + Trim(msr->station) + "." + Trim(msr->location) + "." + Trim(msr->channel);
            auto [it, added] = channel_of.emplace(code, model.ChannelCount());
            if (added) {
                model.AddChannel(code);
                current.emplace_back();
            }
            const int c = it->second;
            const auto& stretches = model.At(c).stretches;
            const double period_ns = 1e9 / msr->samprate;
            const bool joins = current[static_cast<std::size_t>(c)] && !stretches.empty() &&
                               stretches.back().rate == msr->samprate &&
                               std::llabs(stretches.back().EndNs() - start) <= static_cast<std::int64_t>(period_ns / 2);
            if (!joins) {
                current[static_cast<std::size_t>(c)] = std::make_shared<MseedSource>(set);
                model.AddStretch(c, start, msr->samprate, current[static_cast<std::size_t>(c)]);
            }
            view::Stretch& s = model.Back(c);
            values.resize(static_cast<std::size_t>(msr->numsamples));
            CopySamples(msr, values.data(), 0, msr->numsamples);
            current[static_cast<std::size_t>(c)]->pieces.push_back(
                Piece{file_index, offset, msr->reclen, s.count, static_cast<std::uint32_t>(msr->numsamples)});
            s.summary.Append(values.data(), values.size());
            s.count += values.size();
            if (msr->Blkt1001 && msr->Blkt1001->timing_qual < 100) model.MarkCarried(start, end);
        }
        if (bad) report.skipped.push_back(name + "：有无法解读的数据，已跳过");
        set->files.push_back(std::move(file));
    }
    if (msr) msr_free(&msr);
    if (model.ChannelCount() == 0) {
        why = files.empty() ? "没有 miniSEED 文件" : "文件中没有 miniSEED 数据记录";
        if (!report.skipped.empty()) why += "（" + report.skipped.front() + "）";
        return std::nullopt;
    }
    return model;
}

std::vector<std::filesystem::path> SdsDayFiles(const std::filesystem::path& folder, std::optional<std::int64_t> from,
                                               std::optional<std::int64_t> to) {
    std::vector<std::pair<std::string, std::filesystem::path>> found;  // YEAR.DOY + name, path
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        const std::string name = platform::PathText(it->path().filename());
        // NET.STA.LOC.CHA.TYPE.YEAR.DOY
        std::vector<std::string> parts;
        for (std::size_t a = 0;;) {
            const std::size_t dot = name.find('.', a);
            parts.push_back(name.substr(a, dot == std::string::npos ? std::string::npos : dot - a));
            if (dot == std::string::npos) break;
            a = dot + 1;
        }
        int year = 0, doy = 0;
        char extra = 0;
        if (parts.size() != 7 || std::sscanf(parts[5].c_str(), "%d%c", &year, &extra) != 1 ||
            std::sscanf(parts[6].c_str(), "%d%c", &doy, &extra) != 1 || doy < 1 || doy > 366)
            continue;
        const std::int64_t day0 = (utc::DaysFromCivil(year, 1, 1) + doy - 1) * utc::kNsPerDay;
        if ((from && day0 + utc::kNsPerDay <= *from) || (to && day0 >= *to)) continue;
        char key[32];
        std::snprintf(key, sizeof key, "%06d.%03d.", year, doy);
        found.push_back({key + name, it->path()});
    }
    std::sort(found.begin(), found.end());
    std::vector<std::filesystem::path> files;
    for (auto& f : found) files.push_back(std::move(f.second));
    return files;
}

}  // namespace zqd::archive
