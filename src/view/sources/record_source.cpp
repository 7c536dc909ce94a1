#include "view/sources/record_source.h"

#include "formats/t1dat/record_times.h"
#include "formats/t1dat/t1dat_reader.h"
#include "timeline/timeline.h"

namespace zqd::view {

namespace {

// The samples of a loaded record: channel `offset` of its blocks from `first_block` on.
class RecordSource final : public SampleSource {
public:
    RecordSource(std::shared_ptr<const t1dat::Recording> rec, int chnNum, int offset, int first_block)
        : rec_(std::move(rec)), chn_(chnNum), offset_(offset), first_block_(first_block) {}
    void Read(std::uint64_t first, std::size_t n, std::int32_t* out) const override {
        const std::uint64_t points = static_cast<std::uint64_t>(rec_->ChnPoints);
        const std::uint64_t block_words = points * static_cast<std::uint64_t>(chn_);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t s = first + i;
            const std::uint64_t k = static_cast<std::uint64_t>(first_block_) + s / points;
            out[i] = rec_->BlockData[static_cast<std::size_t>(k * block_words + (s % points) * static_cast<std::uint64_t>(chn_) +
                                                             static_cast<std::uint64_t>(offset_))];
        }
    }

private:
    std::shared_ptr<const t1dat::Recording> rec_;
    int chn_, offset_, first_block_;
};

}  // namespace

Result<WaveformModel> LoadRecordModel(const std::filesystem::path& path, int chnNum,
                                      const std::vector<std::pair<int, std::string>>& channels) {
    auto rec = t1dat::ReadRecordFile(path, static_cast<std::int16_t>(chnNum));
    if (!rec) return rec.status();
    if (rec->BlockNum <= 0 || rec->ChnPoints <= 0) return Status::Fail(Status::Code::kFileRefused, Status::Why::kEmptyRecord);
    const t1dat::RecordTimes times = t1dat::BlockTimesOf(*rec, chnNum);
    if (times.timed == 0) return Status::Fail(Status::Code::kFileRefused, Status::Why::kNoTime);
    auto shared = std::make_shared<const t1dat::Recording>(std::move(*rec));
    const double rate = t1dat::RecordRate(*shared);
    WaveformModel m;
    for (const auto& [offset, name] : channels)
        if (offset >= 0 && offset < chnNum) m.AddChannel(name, offset);
    const std::int64_t n = static_cast<std::int64_t>(chnNum) * shared->ChnPoints;
    std::vector<std::int32_t> values(static_cast<std::size_t>(shared->ChnPoints));
    for (int k = 0; k < shared->BlockNum; ++k) {
        const std::int64_t t = times.ns[static_cast<std::size_t>(k)];
        const bool joins = k > 0 && timeline::Continues(times.ns[static_cast<std::size_t>(k - 1)] + t1dat::kBlockNs, t, rate);
        for (int c = 0; c < m.ChannelCount(); ++c) {
            const int offset = m.At(c).offset;
            Stretch* s = joins ? &m.Back(c) : &m.AddStretch(c, t, rate, std::make_shared<RecordSource>(shared, chnNum, offset, k));
            const std::int32_t* from = shared->BlockData.data() + k * n + offset;
            for (std::size_t j = 0; j < values.size(); ++j, from += chnNum) values[j] = *from;
            s->summary.Append(values.data(), values.size());
            s->count += values.size();
        }
        if (!times.Own(k)) m.MarkCarried(t, t + t1dat::kBlockNs);
    }
    return m;
}

}  // namespace zqd::view
