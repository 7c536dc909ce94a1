#include "view/export_span.h"

#include <algorithm>

#include "common/numtext.h"
#include "common/utc.h"
#include "convert/writers.h"

namespace zqd::view {

StreamCodes CodesOf(const std::string& name, const StreamCodes& station) {
    const auto parts = SplitText(name, '.');
    if (parts.size() == 4) return {parts[0], parts[1], parts[2], parts[3]};
    StreamCodes c = station;
    c.channel = name;
    return c;
}

Status ExportSpan(const WaveformModel& model, const std::vector<int>& rows, std::int64_t t0, std::int64_t t1,
                  const std::string& format, const StreamCodes& station, const mseed::PackOptions& pack,
                  const std::filesystem::path& folder, int& files) {
    files = 0;
    auto writer = convert::MakeWriter(format, convert::WriteOptions{folder, pack, false});
    if (!writer) return Status::Fail(Status::Code::kQueryRefused, Status::Why::kUnknownFormat).About(format);
    for (int c : rows) {
        const StreamCodes codes = CodesOf(model.At(c).name, station);
        for (const Stretch& s : model.At(c).stretches) {
            const std::uint64_t a = s.IndexAtOrAfter(t0), b = s.IndexAtOrAfter(t1);
            if (a >= b) continue;
            const std::int64_t start = s.TimeOf(static_cast<double>(a));
            const bool carried = std::any_of(model.Carried().begin(), model.Carried().end(), [&](const TimeSpan& span) {
                return span.begin_ns < s.TimeOf(static_cast<double>(b)) && span.end_ns > start;
            });
            convert::Segment seg;
            seg.rate = s.rate;
            seg.channels = {codes};
            seg.pieces = {{0, b - a, s.start_ns, a, mseed::Timing{carried ? 50 : 100, !carried}}};
            seg.name = codes.Name() + "." + utc::Stamp(start);
            seg.read = [&](std::size_t, std::uint64_t from, std::size_t n, std::int32_t* out) {
                s.source->Read(a + from, n, out);
            };
            const std::uint64_t before = writer->Files();
            if (Status st = writer->Write(seg); !st.ok()) return st;
            files += static_cast<int>(writer->Files() - before);
        }
    }
    return writer->Finish();
}

}  // namespace zqd::view
