// A data stream's SEED codes: network, station, location and channel.
#pragma once

#include <string>

namespace zqd {

struct StreamCodes {
    std::string network, station, location, channel;

    // "NET.STA.LOC.CHA", as stream names are written.
    std::string Name() const { return network + "." + station + "." + location + "." + channel; }
    bool operator==(const StreamCodes&) const = default;
};

}  // namespace zqd
