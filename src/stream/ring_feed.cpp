#include "stream/ring_feed.h"


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

void RingFeed::OnRecord(const records::RecordPtr& r) {
    if (r->bytes.size() != RecordRing::kRecordBytes) return;  // the wire carries 512-byte records
    const auto seq = ring_.Append(WireName(*r->codes), r->start_ns, r->end_ns, r->bytes.data(), r->bytes.size());
    if (!seq.ok() && !refusing_ && failed_) failed_(seq.status());
    refusing_ = !seq.ok();
}

void RingFeed::OnLost(std::uint64_t records, std::uint64_t) {
    if (failed_)
        failed_(Status::Fail(Status::Code::kLostBlocks, Status::Why::kRingBehind).Value(static_cast<std::int64_t>(records)));
}

}  // namespace zqd::stream
