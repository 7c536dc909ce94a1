#include "stream/ring_feed.h"

#include <memory>

namespace zqd::stream {

std::string WireName(const StreamCodes& codes) {
    return codes.network + "_" + codes.station + "_" + codes.location + "_" + codes.channel;
}

std::string LocationOf(const std::string& wire) {
    // NET_STA_LOC_CHAN: the location is the third part (may be empty).
    const auto a = wire.find('_');
    const auto b = a == std::string::npos ? a : wire.find('_', a + 1);
    const auto c = b == std::string::npos ? b : wire.find('_', b + 1);
    if (c == std::string::npos) return {};
    return wire.substr(b + 1, c - b - 1);
}

std::string ChannelOf(const std::string& wire) {
    const auto c = wire.rfind('_');
    return c == std::string::npos ? wire : wire.substr(c + 1);
}

std::string StreamId(const std::string& wire) {
    std::string id = LocationOf(wire);
    for (char ch : ChannelOf(wire)) {
        id += '_';
        id += ch;
    }
    return id;
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
