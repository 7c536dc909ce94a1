// The station's configuration file, read and written in one place with
// toml++: each layer's settings, as that layer owns them, under the file's
// tables. Every setting has a default, every setting read is written back
// as it was, whatever characters its text holds, and numbers are the same
// text whatever the locale.
//
//   [station]      network = "XX"  station = "ZQD01"  location = "00"
//                  latitude, longitude (degrees), elevation (m): for the metadata; absent: the GPS's
//                  site = "" (the site's name)
//   [acquisition]  channels = 18  points_per_channel = 2000  scan_rate = 2000  buffers = 10
//                  input_range = 5.0 (the card's full scale: +-5 V)
//   [sensor]       sensitivity = 28.8 (V per unit)  unit = "m/s"  frequency = 1.0 (Hz)  description = ""
//                  (absent: the metadata give the card's stage alone)
//   [archive]      record_length = 512  encoding = "steim2"  flush_interval = 10  memory_limit_mb = 64
//                  folder (the archive, as the window last used it)
//   [retention]    keep_days = 0 (all)  min_free_mb = 2048
//   [timing]       pps_channel = 0 (or "none")  date_from = "pulse" (or "message")
//                  polarity = "positive"  threshold = "auto" (or counts)  message_refers_to = "previous"
//                  max_message_delay_ms = 900  pulse_width_ms = 200  first_time_wait_s = 10
//                  time_tolerance = 0.5 (sample periods)  resample = false
//                  rate_alarm_ppm = 100  quality_fall_per_hour = 1
//                  clock_channels = true (LCE, LCQ, LCR at 1 sample/s)  location = the data's
//                  gps_channels = ["GNS", "GST", "GLA", "GLO", "GEL", "GDP", "GTP"] (the receiver's health)
//   [seedlink]     listen = "" (off; "18000" or "ADDR:PORT")  ring_mb = 256  clients = 100  per_address = 10
//                  handshake_seconds = 60  idle_seconds = 30  write_timeout_s = 10  allow = []  deny = [] (addresses or networks, CIDR)
//                  description = "" (HELLO's second line)
//   [datalink]     server = "" (off; "host:16000")
//   [channels]     0 = "GYP"  1 = false  2 = "GY0"  ...   (card offset = SEED channel code, or false)
#pragma once

#include <filesystem>
#include <string>

#include "acquisition/block.h"
#include "acquisition/timing.h"
#include "archive/archive_run.h"
#include "archive/station_metadata.h"
#include "common/status.h"
#include "records/records_config.h"
#include "stream/live_config.h"

namespace zqd::config {

// The timing of a station's recording: the first blocks wait up to ten
// seconds for a good time.
acq::TimingConfig RecordingTiming();

struct StationConfig {
    acq::AcqConfig card;
    acq::TimingConfig timing = RecordingTiming();
    records::RecordsConfig records;
    archive::ArchiveSettings archive;
    archive::StationMeta meta;
    stream::LiveConfig live;
    std::filesystem::path folder;  // the archive, as the window last used it

    archive::RunSettings Run() const { return {card, timing, records, archive}; }
    archive::StationDescription Description() const { return {records, card, timing, meta}; }
};

// The defaults: the card's, and every channel of it by DefaultChannels.
StationConfig DefaultConfig();

// Where the window keeps its settings: the user's configuration folder.
std::filesystem::path DefaultConfigFile();

// Reads `path` over the defaults. kFileRefused with the file (`detail`), the
// line and what is wrong for anything that is not right.
Status LoadConfig(const std::filesystem::path& path, StationConfig& config);

// Writes a configuration file with these settings (the archive folder too),
// whole: kConfigWriteFailed with the writer's reason.
Status SaveConfig(const std::filesystem::path& path, const StationConfig& config);

// Checks the codes and the channel map against the card's settings; `where`
// names the file or who gave the settings, for the message.
Status Validate(const StationConfig& config, const std::string& where);

}  // namespace zqd::config
