// The archive's configuration: station codes, the card's settings, which
// card channel goes to which SEED channel, and how records are written. Read
// from a TOML file; every setting has a default.
//
//   [station]      network = "XX"  station = "ZQD01"  location = "00"
//                  latitude, longitude (degrees), elevation (m): for the metadata; absent: the GPS's
//                  site = "" (the site's name)
//   [acquisition]  channels = 18  points_per_channel = 2000  scan_rate = 2000  buffers = 10
//                  input_range = 5.0 (the card's full scale: +-5 V)
//   [sensor]       sensitivity = 28.8 (V per unit)  unit = "m/s"  frequency = 1.0 (Hz)  description = ""
//                  (absent: the metadata give the card's stage alone)
//   [archive]      record_length = 512  encoding = "steim2"  flush_interval = 10  memory_limit_mb = 64
//   [retention]    keep_days = 0 (all)  min_free_mb = 2048
//   [timing]       pps_channel = 0 (or "none")  date_from = "pulse" (or "message")
//                  polarity = "positive"  threshold = "auto" (or counts)  message_refers_to = "previous"
//                  max_message_delay_ms = 900  pulse_width_ms = 200  first_time_wait_s = 10
//                  time_tolerance = 0.5 (sample periods)  resample = false
//                  rate_alarm_ppm = 100  quality_fall_per_hour = 1
//                  clock_channels = true (LCE, LCQ, LCR at 1 sample/s)  location = the data's
//                  gps_channels = ["GNS", "GST", "GLA", "GLO", "GEL", "GDP", "GTP"] (the receiver's health)
//   [seedlink]     listen = "" (off; "18000" or "ADDR:PORT")  ring_mb = 256  clients = 100  per_address = 10
//                  handshake_seconds = 60  idle_seconds = 30  allow = []  deny = [] (addresses or networks, CIDR)
//                  description = "" (HELLO's second line)
//   [datalink]     server = "" (off; "host:16000")
//   [channels]     0 = "GYP"  1 = false  2 = "GY0"  ...   (card offset = SEED channel code, or false)
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/block.h"
#include "archive/retention.h"
#include "common/status.h"
#include "formats/mseed/mseed_packer.h"
#include "formats/stream_codes.h"

namespace zqd::archive {

// Live data: the SeedLink server and the push to a data centre, both fed
// from the ring of recent records beside the archive.
struct LiveConfig {
    std::string listen;  // empty: no server
    std::uint64_t ring_mb = 256;
    int clients = 100, per_address = 10, handshake_seconds = 60, idle_seconds = 30;
    std::vector<std::string> allow, deny;
    std::string description;
    std::string datalink;  // empty: no push
    bool Wanted() const { return !listen.empty() || !datalink.empty(); }
};

// The receiver's state of health, one sample a second from each message:
// satellites tracked (GNS), fix state (GST: 0 none, 1 2D or unlocked, 2 3D or
// locked), latitude and longitude in micro-degrees (GLA, GLO), height above
// mean sea level in cm (GEL), dilution of precision x 10 (GDP), the
// receiver's temperature in tenths of a degree C (GTP).
const std::vector<std::string>& GpsChannelCodes();

// The sensor ahead of the card: volts out per unit of ground motion.
struct SensorConfig {
    double sensitivity = 0;   // V per `unit`
    std::string unit = "m/s";
    double frequency = 1;     // Hz, where the sensitivity holds
    std::string description;
};

// What the station's metadata say beyond the codes.
struct StationMeta {
    std::optional<double> latitude, longitude, elevation;  // degrees, degrees, metres
    std::string site;
    double input_range_volts = 5;  // the card's full scale: 65536 counts over +-this
    std::optional<SensorConfig> sensor;
};

// The archive's timing: the first blocks wait up to ten seconds for a good time.
inline acq::TimingConfig ArchiveTiming() {
    acq::TimingConfig t;
    t.first_time_wait_s = 10;
    return t;
}

struct ArchiveConfig {
    StreamCodes station{"XX", "ZQD01", "00", ""};
    acq::AcqConfig acquisition;
    mseed::PackOptions pack;
    int flush_seconds = 10;
    std::size_t memory_limit_bytes = 64u << 20;
    RetentionConfig retention;
    acq::TimingConfig timing = ArchiveTiming();
    // The clock's health, one sample a second: phase error in us (LCE),
    // quality in percent (LCQ), the measured rate's offset in ppm x 1000 (LCR).
    bool clock_channels = true;
    std::optional<std::string> clock_location;  // empty: the data's
    std::vector<std::string> gps_channels = GpsChannelCodes();  // and the same location
    StationMeta meta;
    LiveConfig live;
    std::map<int, std::string> channels;  // card offset -> SEED channel code
    std::filesystem::path folder;           // the archive, as the window last used it
};

// Where the window keeps its settings: the user's configuration folder.
std::filesystem::path DefaultConfigFile();

// The SEED band code for a sample rate (short-period instruments): G from
// 1000 to 5000 samples/s, D from 250, E from 80, S from 10, M above 1, L at 1.
char BandCode(double rate);

// Every channel of the card but the GPS slot (offset 1): band code, "Y"
// (non-specific instrument), then "P" for the 1PPS channel 0 and 0-9, A-Z for
// offsets 2 onward.
std::map<int, std::string> DefaultChannels(int chnNum, double rate);

ArchiveConfig DefaultConfig();

// Reads `path` over the defaults. kFileRefused with the file (`detail`), the
// line and the problem for anything that is not right.
Status LoadConfig(const std::filesystem::path& path, ArchiveConfig& config);

// Writes a configuration file with these settings (the archive folder too):
// kConfigWriteFailed with the writer's reason.
Status SaveConfig(const std::filesystem::path& path, const ArchiveConfig& config);

// Checks the codes and the channel map against the card's settings; `where`
// names the file or who gave the settings, for the message.
Status Validate(const ArchiveConfig& config, const std::string& where);

}  // namespace zqd::archive
