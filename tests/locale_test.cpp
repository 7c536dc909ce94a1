// Numbers become text and text numbers the same way whatever the user's
// locale: a window (Qt sets the C locale from the environment) in Germany
// writes the same T2.csv, filter texts and settings as anywhere else. And the
// settings file holds whatever a text setting holds.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "common/numtext.h"
#include "config/station_config.h"
#include "formats/csv/csv_table.h"
#include "formats/csv/t2csv.h"
#include "signal/filter.h"
#include "test_support.h"

namespace zqd {
namespace {

// The process under a locale whose decimal separator is a comma, for the
// test's length.
class GermanLocale : public ::testing::Test {
protected:
    void SetUp() override {
        const char* was = std::setlocale(LC_ALL, nullptr);
        before_ = was ? was : "C";
        ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "the de_DE.UTF-8 locale is not installed (make deps)";
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 0.5);
        ASSERT_STREQ(probe, "0,5");  // the locale is in force: printf would write commas
    }
    void TearDown() override { std::setlocale(LC_ALL, before_.c_str()); }

private:
    std::string before_;
};

TEST_F(GermanLocale, TheExportTheFiltersAndTheNumbersAreTheCLocalesBytes) {
    // T2.csv: its header and "####.0000" values, byte for byte.
    const std::string t2 = csv::ExportFileBytes({"17", "38", "40"}, 300, {0, 32767, 65535, 40000});
    EXPECT_EQ(t2, "\xCA\xB1\xBC\xE4" "17-38-40  NS:300\r\n-4.9999\r\n.0000\r\n5.0001\r\n1.1037\r\n");
    // The span's CSV table: a comma only between columns.
    csv::Table table;
    table.names = {"GY0"};
    table.rows = 1;
    table.volts = true;
    table.time_of = [](std::uint64_t) { return std::int64_t{1210613920300000000}; };
    table.values_of = [](std::uint64_t, std::int32_t* out) { out[0] = 40000; };
    EXPECT_EQ(csv::TableBytes(table), "time,GY0\n2008-05-12T17:38:40.300000Z,1.103685\n");
    // Filters read and written back.
    const auto f = signal::ParseFilter("bp:0.5:10:4");
    ASSERT_TRUE(f) << "a filter with a point";
    EXPECT_EQ(f->low_hz, 0.5);
    EXPECT_EQ(signal::FilterText(*f), "bp:0.5:10:4");
    EXPECT_FALSE(signal::ParseFilter("bp:0,5:10:4"));
    // The number boxes' texts and the monitor's patterns.
    EXPECT_EQ(NumberText(0.25), "0.25");
    EXPECT_EQ(NumberText(1e20), "1E+20");
    EXPECT_EQ(FormatFixed(1.5f, 3), "1.500");
    EXPECT_EQ(FixedText(-531.25, 1, true), "-531.2");
    EXPECT_EQ(LeadingNumber("2.5"), 2.5);
}

// Every setting goes into the file and comes back as it was: numbers with
// fractions, and texts with line breaks, quotes, backslashes and Chinese.
TEST_F(GermanLocale, EverySettingRoundTripsThroughTheFile) {
    test::TempDir dir;
    config::StationConfig c = config::DefaultConfig();
    c.meta.site = "第一行\n第二行 \"引号\" \\ 反斜杠\ttab";
    c.meta.latitude = 30.52125;
    c.meta.longitude = 114.36;
    c.meta.elevation = 23.5;
    c.meta.input_range_volts = 2.5;
    archive::SensorConfig flat;
    flat.sensitivity = 28.8;
    flat.frequency = 4.5;
    flat.description = "L-4C \"geophone\"\n2 Hz";
    c.meta.sensor = flat;
    c.meta.bits = 16;
    c.meta.zero_code = 32768;
    archive::SensorConfig& geo = c.meta.sensors["geo"];
    geo.sensitivity = 28.8;
    geo.frequency = 22.75;
    geo.description = "4.5 Hz";
    geo.natural_frequency = 4.5;
    geo.damping = 0.6875;
    archive::SensorConfig& bb = c.meta.sensors["broad_band"];
    bb.sensitivity = 1500.5;
    bb.zeros = {{0, 0}, {0, 0}};
    bb.poles = {{-0.037, 0.037}, {-0.037, -0.037}, {-251.3, 0}};
    c.meta.channels["GY0"].azimuth = 12.5;
    c.meta.channels["GY0"].dip = -90;
    c.meta.channels["GY0"].sensor = "geo";
    c.meta.channels["GY1"].azimuth = 102.5;
    c.meta.channels["GY1"].sensor = "broad_band";
    c.meta.channels["GY2"].dip = 0;
    c.timing.time_tolerance = 2.25;
    c.timing.threshold = 3000.5;
    c.timing.pulse_width_ms = 100.5;
    c.timing.first_time_wait_s = 4.5;
    c.timing.rate_alarm_ppm = 12.5;
    c.timing.quality_fall_per_hour = 0.5;
    c.timing.max_message_delay_ms = 950;
    c.timing.message_refers_to_next = true;
    c.timing.pulse_negative = true;
    c.timing.pps_channel = acq::TimingConfig::kNoPulse;
    c.records.station = {"AB", "ZQD02", "", ""};
    c.records.clock_location = "10";
    c.records.gps_channels = {"GNS", "GTP"};
    c.records.flush_seconds = 30;
    c.records.pack.record_length = 4096;
    c.records.pack.encoding = 10;
    c.archive.memory_limit_bytes = 128u << 20;
    c.archive.retention.keep_days = 30;
    c.live.description = "台站 \"ZQD\"\nline two \\";
    c.live.allow = {"10.0.0.0/8", "127.0.0.1"};
    c.live.listen = "127.0.0.1:18000";
    c.folder = dir.path() / "存档 folder";
    c.records.channels.erase(17);
    ASSERT_TRUE(config::SaveConfig(dir / "c.toml", c).ok());
    config::StationConfig back = config::DefaultConfig();
    const Status loaded = config::LoadConfig(dir / "c.toml", back);
    ASSERT_TRUE(loaded.ok()) << test::ReadFile(dir / "c.toml");
    EXPECT_EQ(back.meta.site, c.meta.site);
    EXPECT_EQ(back.meta.latitude, c.meta.latitude);
    EXPECT_EQ(back.meta.longitude, c.meta.longitude);
    EXPECT_EQ(back.meta.elevation, c.meta.elevation);
    EXPECT_EQ(back.meta.input_range_volts, 2.5);
    ASSERT_TRUE(back.meta.sensor);
    EXPECT_EQ(back.meta.sensor->description, c.meta.sensor->description);
    EXPECT_EQ(back.meta.sensor->frequency, 4.5);
    EXPECT_EQ(*back.meta.sensor, *c.meta.sensor);
    EXPECT_EQ(back.meta.bits, 16);
    EXPECT_EQ(back.meta.zero_code, 32768);
    EXPECT_EQ(back.meta.sensors, c.meta.sensors);
    EXPECT_EQ(back.meta.channels, c.meta.channels);
    EXPECT_EQ(back.timing.time_tolerance, 2.25);
    EXPECT_EQ(back.timing.threshold, 3000.5);
    EXPECT_EQ(back.timing.pulse_width_ms, 100.5);
    EXPECT_EQ(back.timing.first_time_wait_s, 4.5);
    EXPECT_EQ(back.timing.rate_alarm_ppm, 12.5);
    EXPECT_EQ(back.timing.quality_fall_per_hour, 0.5);
    EXPECT_EQ(back.timing.max_message_delay_ms, 950);
    EXPECT_TRUE(back.timing.message_refers_to_next);
    EXPECT_TRUE(back.timing.pulse_negative);
    EXPECT_FALSE(back.timing.PulseWired());
    EXPECT_EQ(back.records.station, c.records.station);
    EXPECT_EQ(back.records.clock_location, "10");
    EXPECT_EQ(back.records.gps_channels, c.records.gps_channels);
    EXPECT_EQ(back.records.flush_seconds, 30);
    EXPECT_EQ(back.records.pack.record_length, 4096);
    EXPECT_EQ(back.records.pack.encoding, 10);
    EXPECT_EQ(back.records.channels, c.records.channels);
    EXPECT_EQ(back.archive.memory_limit_bytes, c.archive.memory_limit_bytes);
    EXPECT_EQ(back.archive.retention.keep_days, 30);
    EXPECT_EQ(back.live.description, c.live.description);
    EXPECT_EQ(back.live.allow, c.live.allow);
    EXPECT_EQ(back.live.listen, c.live.listen);
    EXPECT_EQ(back.folder, c.folder);
    // Written again, the same bytes.
    ASSERT_TRUE(config::SaveConfig(dir / "d.toml", back).ok());
    EXPECT_EQ(test::ReadFile(dir / "d.toml"), test::ReadFile(dir / "c.toml"));
    EXPECT_EQ(test::ReadFile(dir / "c.toml").find("2,25"), std::string::npos);
}

}  // namespace
}  // namespace zqd
