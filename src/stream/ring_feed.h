// The archive's records into the ring, as the disk takes them: packed once,
// the same bytes in the same order on disk and on the wire.
#pragma once

#include <functional>
#include <string>

#include "archive/archive_sink.h"
#include "stream/record_ring.h"

namespace zqd::stream {

// "XX_ZQD01_00_GY0": the stream's name on the wire (DataLink's, and the ring's).
std::string WireName(const StreamCodes& codes);

// "00_G_Y_0" for the record of stream "XX_ZQD01_00_GY0"; and its parts.
std::string StreamId(const std::string& wire);
std::string LocationOf(const std::string& wire);
std::string ChannelOf(const std::string& wire);

// The tap that appends every archived record of 512 bytes to `ring`; a ring
// that refuses is said through `failed` (once until it takes records again).
archive::ArchiveSink::RecordTap RingTap(RecordRing& ring, std::function<void(const Status&)> failed);

}  // namespace zqd::stream
