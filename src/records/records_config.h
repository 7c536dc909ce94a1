// How the station's records are made: its codes, which card channel becomes
// which SEED channel, how records are packed and how often short ones are,
// and the channels of the clock's and the receiver's health.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "formats/mseed/mseed_packer.h"
#include "formats/stream_codes.h"

namespace zqd::records {

// The receiver's state of health, one sample a second from each message:
// satellites tracked (GNS), fix state (GST: 0 none, 1 2D or unlocked, 2 3D or
// locked), latitude and longitude in micro-degrees (GLA, GLO), height above
// mean sea level in cm (GEL), dilution of precision x 10 (GDP), the
// receiver's temperature in tenths of a degree C (GTP).
const std::vector<std::string>& GpsChannelCodes();

// The SEED band code for a sample rate (short-period instruments): G from
// 1000 to 5000 samples/s, D from 250, E from 80, S from 10, M above 1, L at 1.
char BandCode(double rate);

// Every channel of the card but the GPS slot (offset 1): band code, "Y"
// (non-specific instrument), then "P" for the 1PPS channel 0 and 0-9, A-Z for
// offsets 2 onward.
std::map<int, std::string> DefaultChannels(int chnNum, double rate);

struct RecordsConfig {
    StreamCodes station{"XX", "ZQD01", "00", ""};
    std::map<int, std::string> channels;  // card offset -> SEED channel code
    mseed::PackOptions pack;
    // Seconds of data between the packing of short records: what a power cut
    // loses at most, and how late live data may be.
    int flush_seconds = 10;
    // The clock's health, one sample a second: phase error in us (LCE),
    // quality in percent (LCQ), the measured rate's offset in ppm x 1000 (LCR).
    bool clock_channels = true;
    std::optional<std::string> clock_location;  // empty: the data's
    std::vector<std::string> gps_channels = GpsChannelCodes();  // and the same location
};

}  // namespace zqd::records
