#include "convert/writers.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "common/utc.h"
#include "formats/csv/csv_table.h"
#include "formats/sac/sac_writer.h"
#include "formats/sds/sds_writer.h"
#include "platform/safe_file.h"
#include "platform/text.h"
#include "timeline/timeline.h"

namespace zqd::convert {

using Code = Status::Code;
using Why = Status::Why;

std::int64_t Segment::Piece::TimeOf(std::uint64_t j, double rate) const {
    return timeline::SampleTime(origin_ns, static_cast<double>(j - first + origin_index), rate);
}

namespace {

Status OutputFailed(const std::filesystem::path& path, Status why) {
    const Code code = why.code == Code::kBusy ? Code::kBusy : Code::kWriteFailed;
    Status s = Status::Fail(code, Why::kOutputFailed).About(platform::PathText(path)).Because(std::move(why));
    return s;
}

// "NET.STA.LOC.CHA.2008.133.100000", a channel's file in a segment.
std::string ChannelBase(const StreamCodes& c, std::int64_t start_ns) { return c.Name() + "." + utc::Stamp(start_ns); }

// Channel c of a segment through the packer, piece by piece.
void Pack(const Segment& seg, std::size_t c, const mseed::PackOptions& pack, const mseed::ChannelPacker::Emit& emit) {
    mseed::ChannelPacker packer(seg.channels[c], seg.rate, pack, emit);
    std::vector<std::int32_t> samples;
    for (const auto& p : seg.pieces) {
        samples.resize(static_cast<std::size_t>(p.count));
        seg.read(c, p.first, samples.size(), samples.data());
        packer.Add(p.TimeOf(p.first, seg.rate), samples.data(), samples.size(), p.timing);
    }
}

// A file per channel, written in one folder batch by two threads, so that
// one waits on the disk while the other packs.
class PerChannelWriter : public Writer {
public:
    explicit PerChannelWriter(WriteOptions o) : o_(std::move(o)) {}
    Status Write(const Segment& seg) override {
        std::error_code ec;
        std::filesystem::create_directories(o_.out, ec);
        FolderBatch batch(o_.out);
        if (Status s = batch.Begin(); !s.ok()) return s;
        std::atomic<std::size_t> next{0};
        std::mutex failed_mutex;
        Status failed;
        auto work = [&] {
            for (std::size_t c; (c = next++) < seg.channels.size();) {
                const auto path = o_.out / (ChannelBase(seg.channels[c], seg.StartNs()) + Extension());
                if (Status s = WriteWhole(path, Bytes(seg, c), true); !s.ok()) {
                    const std::lock_guard lock(failed_mutex);
                    if (failed.ok()) failed = OutputFailed(path, std::move(s));
                    return;
                }
            }
        };
        std::thread helper(work);
        work();
        helper.join();
        if (!failed.ok()) return failed;
        if (Status s = batch.Finish(); !s.ok()) return s;
        files_ += seg.channels.size();
        return Status::Ok();
    }
    std::uint64_t Files() const override { return files_; }

protected:
    virtual const char* Extension() const = 0;
    virtual std::string Bytes(const Segment& seg, std::size_t c) const = 0;
    WriteOptions o_;

private:
    std::uint64_t files_ = 0;
};

class MseedWriter final : public PerChannelWriter {
public:
    using PerChannelWriter::PerChannelWriter;

private:
    const char* Extension() const override { return ".mseed"; }
    std::string Bytes(const Segment& seg, std::size_t c) const override {
        std::string bytes;
        Pack(seg, c, o_.pack, [&](const char* r, int len, std::int64_t) { bytes.append(r, static_cast<std::size_t>(len)); });
        return bytes;
    }
};

class SacWriter final : public PerChannelWriter {
public:
    using PerChannelWriter::PerChannelWriter;

private:
    const char* Extension() const override { return ".SAC"; }
    std::string Bytes(const Segment& seg, std::size_t c) const override {
        sac::SacTrace trace{seg.channels[c], seg.StartNs(), seg.rate, {}};
        std::vector<std::int32_t> column(static_cast<std::size_t>(seg.Samples()));
        seg.read(c, 0, column.size(), column.data());
        trace.samples.assign(column.begin(), column.end());
        return sac::SacBytes(trace);
    }
};

class CsvWriter final : public Writer {
public:
    explicit CsvWriter(WriteOptions o) : o_(std::move(o)) {}
    Status Write(const Segment& seg) override {
        csv::Table table;
        for (const auto& c : seg.channels) table.names.push_back(c.channel);
        table.rows = seg.Samples();
        table.volts = o_.volts;
        std::size_t piece = 0;
        table.time_of = [&](std::uint64_t row) {
            while (row >= seg.pieces[piece].first + seg.pieces[piece].count) ++piece;
            return seg.pieces[piece].TimeOf(row, seg.rate);
        };
        std::vector<std::vector<std::int32_t>> columns(seg.channels.size(), std::vector<std::int32_t>(table.rows));
        for (std::size_t c = 0; c < columns.size(); ++c) seg.read(c, 0, columns[c].size(), columns[c].data());
        table.values_of = [&](std::uint64_t row, std::int32_t* out) {
            for (std::size_t c = 0; c < columns.size(); ++c) out[c] = columns[c][static_cast<std::size_t>(row)];
        };
        std::error_code ec;
        std::filesystem::create_directories(o_.out, ec);
        const auto path = o_.out / (seg.name + ".csv");
        if (Status s = WriteWhole(path, csv::TableBytes(table)); !s.ok()) return OutputFailed(path, std::move(s));
        ++files_;
        return Status::Ok();
    }
    std::uint64_t Files() const override { return files_; }

private:
    WriteOptions o_;
    std::uint64_t files_ = 0;
};

// One archive, appended in order; synced at the end.
class SdsArchiveWriter final : public Writer {
public:
    explicit SdsArchiveWriter(WriteOptions o) : o_(std::move(o)), sds_(o_.out) {}
    Status Write(const Segment& seg) override {
        for (std::size_t c = 0; c < seg.channels.size(); ++c) {
            Status appended;
            Pack(seg, c, o_.pack, [&](const char* r, int len, std::int64_t start) {
                if (appended.ok()) appended = sds_.Append(seg.channels[c], start, r, len);
            });
            if (!appended.ok()) return appended;
        }
        return Status::Ok();
    }
    Status Finish() override { return sds_.Sync(); }
    std::uint64_t Files() const override { return sds_.FilesOpened(); }

private:
    WriteOptions o_;
    sds::SdsWriter sds_;
};

template <typename W>
std::unique_ptr<Writer> Make(const WriteOptions& o) {
    return std::make_unique<W>(o);
}

}  // namespace

const std::vector<Format>& Formats() {
    static const std::vector<Format> formats = {
        {"mseed", "one miniSEED file per channel and segment", false, Make<MseedWriter>},
        {"sds", "an SDS archive (YEAR/NET/STA/CHA.D/...)", true, Make<SdsArchiveWriter>},
        {"sac", "one SAC file per channel and segment", false, Make<SacWriter>},
        {"csv", "one CSV table per segment", false, Make<CsvWriter>},
    };
    return formats;
}

std::unique_ptr<Writer> MakeWriter(std::string_view name, const WriteOptions& options) {
    for (const auto& f : Formats())
        if (name == f.name) return f.make(options);
    return nullptr;
}

std::vector<std::string> FormatNames(bool with_archives) {
    std::vector<std::string> names;
    for (const auto& f : Formats())
        if (with_archives || !f.archive) names.emplace_back(f.name);
    return names;
}

}  // namespace zqd::convert
