#include "stream/ring_feed.h"

#include <memory>

namespace zqd::stream {

std::string WireName(const StreamCodes& codes) {
    return codes.network + "_" + codes.station + "_" + codes.location + "_" + codes.channel;
}

archive::ArchiveSink::RecordTap RingTap(RecordRing& ring, std::function<void(const Status&)> failed) {
    auto refusing = std::make_shared<bool>(false);
    return [&ring, failed = std::move(failed), refusing](const StreamCodes& codes, const char* record, int length,
                                                         std::int64_t start_ns, std::int64_t end_ns) {
        if (length != RecordRing::kRecordBytes) return;  // the wire carries 512-byte records
        const auto seq = ring.Append(WireName(codes), start_ns, end_ns, record, static_cast<std::size_t>(length));
        if (!seq.ok() && !*refusing && failed) failed(seq.status());
        *refusing = !seq.ok();
    };
}

}  // namespace zqd::stream
