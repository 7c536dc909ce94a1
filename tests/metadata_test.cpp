// The station describes itself, end to end: `acquire` on the simulated card
// archives the receiver's state of health, read back with libmseed, and
// `stationxml` makes metadata of that run that the FDSN schema accepts
// (xmllint) and that say what the run was (read back with XPath).
#include <gtest/gtest.h>
#include <libmseed.h>
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <map>
#include <sstream>
#include <tuple>

#include "app/messages.h"
#include "config/station_config.h"
#include "archive/station_metadata.h"
#include "common/utc.h"
#include "test_support.h"

namespace zqd::archive {
namespace {

using test::TempDir;

constexpr std::int64_t kStart = 1210613920300000000;  // 2008-05-12T17:38:40.3

// Every sample of a one-a-second channel by its second since the start's.
std::map<std::int64_t, std::int32_t> BySecond(const std::filesystem::path& file) {
    std::map<std::int64_t, std::int32_t> out;
    MSFileParam* fp = nullptr;
    MSRecord* msr = nullptr;
    while (ms_readmsr_r(&fp, &msr, file.c_str(), 0, nullptr, nullptr, 1, 1, 0) == MS_NOERROR) {
        EXPECT_DOUBLE_EQ(msr->samprate, 1.0) << file;
        const auto* s = static_cast<const std::int32_t*>(msr->datasamples);
        const std::int64_t first = static_cast<std::int64_t>(msr->starttime) * 1000;
        for (std::int64_t i = 0; i < msr->numsamples; ++i)
            out[utc::FloorDiv(first - (kStart - 300000000), utc::kNsPerSecond) + i] = s[i];
    }
    ms_readmsr_r(&fp, &msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    return out;
}

std::string Shell(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    const int st = pclose(p);
    if (status) *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

// One value of the document by XPath, as xmllint reads it.
std::string XPath(const std::filesystem::path& xml, const std::string& path) {
    std::string v = Shell("xmllint --xpath \"" + path + "\" " + xml.string() + " 2>&1");
    while (!v.empty() && v.back() == '\n') v.pop_back();
    return v;
}
std::string Fdsn(const std::string& local) {  // an element in the FDSN namespace, by its name
    return "*[local-name()='" + local + "']";
}

class StationDescribesItself : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        // Twenty seconds, the receiver silent from the 8th for 4 and without
        // a fix from the 14th for 3.
        const std::string cmd = "cd " + dir_->path().string() + " && ZQD4830_ACQUISITION_LOCK=" +
                                (*dir_ / "acq.lock").string() +
                                " ADCARD_SIM_SPEED=20 ADCARD_SIM_START=2008-05-12T17:38:40.300000000"
                                " ADCARD_SIM_GPS_OUTAGE=8:4 ADCARD_SIM_GPS_NOFIX=14:3 " ZQD_BIN_DIR "/zqd4830-cli acquire --archive a"
                                " --duration 20 --poll-ms 50 2>&1";
        acquire_ = Shell(cmd, &status_);
    }
    static void TearDownTestSuite() { delete dir_; }
    static std::filesystem::path Soh(const std::string& chan) {
        return *dir_ / "a" / "2008" / "XX" / "ZQD01" / (chan + ".D") / ("XX.ZQD01.00." + chan + ".D.2008.133");
    }
    // xmllint with the FDSN StationXML 1.2 schema: "validates", or why not.
    static std::string Validate(const std::filesystem::path& xml) {
        return Shell("xmllint --noout --schema " ZQD_SOURCE_DIR "/tests/stationxml/fdsn-station-1.2.xsd " + xml.string() +
                   " 2>&1");
    }
    static TempDir* dir_;
    static std::string acquire_;
    static int status_;
};
TempDir* StationDescribesItself::dir_ = nullptr;
std::string StationDescribesItself::acquire_;
int StationDescribesItself::status_ = -1;

TEST_F(StationDescribesItself, TheReceiversHealthIsArchivedASampleASecondWithAGapThroughAnOutage) {
    ASSERT_EQ(status_, 0) << acquire_;
    EXPECT_NE(acquire_.find("GPS 报文 16 条，校验失败 0 条"), std::string::npos) << acquire_;
    EXPECT_NE(acquire_.find("3D 定位，卫星 7/8，30.52000°N 114.36000°E，海拔 23.50 m"), std::string::npos) << acquire_;
    const std::map<std::string, std::int32_t> expected = {
        {"GNS", 7}, {"GST", 2}, {"GLA", 30520000}, {"GLO", 114360000}, {"GEL", 2350}, {"GDP", 17}, {"GTP", 260}};
    for (const auto& [chan, value] : expected) {
        const auto samples = BySecond(Soh(chan));
        // 20 messages less the 4 the outage silenced; without a fix the
        // position and its geometry are not written (the message repeats the
        // last position, which means nothing then).
        const bool needs_fix = chan == "GLA" || chan == "GLO" || chan == "GEL" || chan == "GDP";
        EXPECT_EQ(samples.size(), needs_fix ? 13u : 16u) << chan;
        for (const auto& [second, v] : samples) {
            const bool fixless = second >= 14 && second < 17;
            const std::int32_t want = !fixless ? value : chan == "GNS" ? 2 : chan == "GST" ? 0 : value;
            EXPECT_EQ(v, want) << chan << " at " << second;
            EXPECT_FALSE(fixless && needs_fix) << chan << ": a position without a fix at " << second;
        }
        for (std::int64_t second : {0, 7, 12, 19}) EXPECT_EQ(samples.count(second), 1u) << chan << " " << second;
        for (std::int64_t second = 8; second < 12; ++second)
            EXPECT_EQ(samples.count(second), 0u) << chan << ": a stale value at " << second;
    }
}

TEST_F(StationDescribesItself, StationXmlOfTheRunIsValidAndSaysWhereTheStationIsAndWhatItsChannelsAre) {
    ASSERT_EQ(status_, 0) << acquire_;
    const auto xml = *dir_ / "station.xml";
    int status = -1;
    const std::string said = Shell("cd " + dir_->path().string() + " && " ZQD_BIN_DIR
                                 "/zqd4830-cli stationxml --archive a --out " + xml.string() + " 2>&1", &status);
    ASSERT_EQ(status, 0) << said;
    EXPECT_NE(Validate(xml).find("validates"), std::string::npos) << Validate(xml);
    const std::string station = "//" + Fdsn("Station") + "/";
    EXPECT_EQ(XPath(xml, "string(" + station + Fdsn("Latitude") + ")"), "30.52");
    EXPECT_EQ(XPath(xml, "string(" + station + Fdsn("Longitude") + ")"), "114.36");
    EXPECT_EQ(XPath(xml, "string(" + station + Fdsn("Elevation") + ")"), "23.5");
    EXPECT_NE(XPath(xml, "string(" + station + Fdsn("Comment") + ")").find("median of 13 GPS positions"), std::string::npos);
    EXPECT_EQ(XPath(xml, "string(//" + Fdsn("Station") + "/@startDate)"), "2008-05-12T17:38:40.000000Z");
    // Every channel: the card's 17 at 2000/s, the clock's three and the receiver's seven at 1/s.
    EXPECT_EQ(XPath(xml, "count(//" + Fdsn("Channel") + ")"), "27");
    EXPECT_EQ(XPath(xml, "count(//" + Fdsn("Channel") + "[" + Fdsn("SampleRate") + "=2000])"), "17");
    EXPECT_EQ(XPath(xml, "count(//" + Fdsn("Channel") + "[" + Fdsn("SampleRate") + "=1])"), "10");
    const std::string gy0 = "//" + Fdsn("Channel") + "[@code='GY0']/" + Fdsn("Response") + "/";
    // 12-bit offset binary over +-5 V: 409.6 codes a volt.
    EXPECT_EQ(XPath(xml, "string(" + gy0 + Fdsn("InstrumentSensitivity") + "/" + Fdsn("Value") + ")"), "409.6");
    EXPECT_EQ(XPath(xml, "string(" + gy0 + Fdsn("InstrumentSensitivity") + "/" + Fdsn("InputUnits") + "/" + Fdsn("Name") + ")"), "V");
    EXPECT_EQ(XPath(xml, "string(" + gy0 + Fdsn("Stage") + "/" + Fdsn("Decimation") + "/" + Fdsn("InputSampleRate") + ")"), "2000");
    EXPECT_NE(XPath(xml, "string(//" + Fdsn("Channel") + "[@code='GYP']/" + Fdsn("Comment") + ")").find("1PPS"), std::string::npos);
    EXPECT_NE(XPath(xml, "string(//" + Fdsn("Channel") + "[@code='GST']/" + Fdsn("Comment") + ")").find("fix state"), std::string::npos);

    // A configured sensor of 28.8 V/(m/s): a sensor stage ahead of the card's, and
    // the overall sensitivity their product, in count/(m/s); coordinates as
    // configured. GY0 behind a 4.5 Hz geophone, vertical; GY1 east.
    test::WriteFile(*dir_ / "station.toml",
                    "[station]\nlatitude = -12.5\nlongitude = 45.25\nelevation = 310.0\nsite = \"Vault & hill\"\n"
                    "[sensor]\nsensitivity = 28.8\nunit = \"m/s\"\nfrequency = 1.0\n"
                    "[sensors.geo]\nnatural_frequency = 4.5\ndamping = 0.7\ngenerator_constant = 28.8\n"
                    "[channels.GY0]\nsensor = \"geo\"\nazimuth = 0\ndip = -90\n[channels.GY1]\nazimuth = 90\ndip = 0\n");
    const auto with_sensor = *dir_ / "sensor.xml";
    ASSERT_EQ((Shell(ZQD_BIN_DIR "/zqd4830-cli stationxml --config " + (*dir_ / "station.toml").string() + " --archive " +
                       (*dir_ / "a").string() + " --out " + with_sensor.string() + " 2>&1", &status), status), 0);
    EXPECT_NE(Validate(with_sensor).find("validates"), std::string::npos) << Validate(with_sensor);
    EXPECT_EQ(XPath(with_sensor, "string(" + station + Fdsn("Latitude") + ")"), "-12.5");
    EXPECT_EQ(XPath(with_sensor, "string(" + station + Fdsn("Site") + "/" + Fdsn("Name") + ")"), "Vault & hill");
    const std::string gy1 = "//" + Fdsn("Channel") + "[@code='GY1']/" + Fdsn("Response") + "/";
    const double overall = std::stod(XPath(with_sensor, "string(" + gy1 + Fdsn("InstrumentSensitivity") + "/" + Fdsn("Value") + ")"));
    EXPECT_NEAR(overall, 28.8 * 409.6, 1e-6);
    EXPECT_EQ(XPath(with_sensor, "string(" + gy1 + Fdsn("InstrumentSensitivity") + "/" + Fdsn("InputUnits") + "/" + Fdsn("Name") + ")"), "m/s");
    EXPECT_EQ(XPath(with_sensor, "string(" + gy1 + Fdsn("Stage") + "[@number='1']/" + Fdsn("StageGain") + "/" + Fdsn("Value") + ")"), "28.8");
    EXPECT_EQ(XPath(with_sensor, "string(" + gy1 + Fdsn("Stage") + "[@number='2']/" + Fdsn("StageGain") + "/" + Fdsn("Value") + ")"), "409.6");
    // Orientation as configured, or none.
    const auto channel = [&](const std::string& code, const std::string& what) {
        return XPath(with_sensor, "string(//" + Fdsn("Channel") + "[@code='" + code + "']/" + Fdsn(what) + ")");
    };
    EXPECT_EQ(channel("GY0", "Azimuth") + " " + channel("GY0", "Dip"), "0 -90");
    EXPECT_EQ(channel("GY1", "Azimuth") + " " + channel("GY1", "Dip"), "90 0");
    EXPECT_EQ(XPath(with_sensor, "count(//" + Fdsn("Channel") + "[@code='GY2']/" + Fdsn("Azimuth") + ")"), "0");
    // The geophone's stage, read back from the document, is its textbook response:
    // G (f/f0)^2 / sqrt((1 - (f/f0)^2)^2 + (2h f/f0)^2), phase pi - atan2(2h f/f0, 1 - (f/f0)^2).
    const std::string pz = gy0 + Fdsn("Stage") + "[@number='1']/" + Fdsn("PolesZeros") + "/";
    const auto number = [&](const std::string& path) { return std::stod(XPath(with_sensor, "string(" + path + ")")); };
    const auto roots = [&](const std::string& tag) {
        std::vector<std::complex<double>> out;
        const int n = std::stoi(XPath(with_sensor, "count(" + pz + Fdsn(tag) + ")"));
        for (int i = 0; i < n; ++i) {
            const std::string at = pz + Fdsn(tag) + "[@number='" + std::to_string(i) + "']/";
            out.emplace_back(number(at + Fdsn("Real")), number(at + Fdsn("Imaginary")));
        }
        return out;
    };
    const auto zeros = roots("Zero"), poles = roots("Pole");
    ASSERT_EQ(zeros.size(), 2u);
    ASSERT_EQ(poles.size(), 2u);
    const double a0 = number(pz + Fdsn("NormalizationFactor"));
    const double gain = number(gy0 + Fdsn("Stage") + "[@number='1']/" + Fdsn("StageGain") + "/" + Fdsn("Value"));
    const double fn = number(pz + Fdsn("NormalizationFrequency"));
    EXPECT_NEAR(number(gy0 + Fdsn("InstrumentSensitivity") + "/" + Fdsn("Value")), gain * 409.6, 1e-6 * gain * 409.6);
    EXPECT_EQ(number(gy0 + Fdsn("InstrumentSensitivity") + "/" + Fdsn("Frequency")), fn);
    constexpr double kPi = 3.14159265358979323846;
    for (const double f : {0.5, 1.0, 4.5, 10.0, 22.5, 80.0}) {
        const std::complex<double> s(0, 2 * kPi * f);
        std::complex<double> h = gain * a0;
        for (const auto& z : zeros) h *= s - z;
        for (const auto& p : poles) h /= s - p;
        const double r = f / 4.5;
        const double amplitude = 28.8 * r * r / std::sqrt((1 - r * r) * (1 - r * r) + (2 * 0.7 * r) * (2 * 0.7 * r));
        const double phase = kPi - std::atan2(2 * 0.7 * r, 1 - r * r);
        EXPECT_NEAR(std::abs(h), amplitude, 1e-9 * amplitude) << f << " Hz";
        EXPECT_NEAR(std::remainder(std::arg(h) - phase, 2 * kPi), 0, 1e-9) << f << " Hz";
    }
    // The pulse is no ground motion: the card's stage alone.
    EXPECT_EQ(XPath(with_sensor, "count(//" + Fdsn("Channel") + "[@code='GYP']/" + Fdsn("Response") + "/" + Fdsn("Stage") + ")"), "1");
}

// The document a data centre loads, as its golden copy holds it (valid
// against the FDSN schema): the pulse, a data channel behind a flat sensor
// and one behind a geophone, facing east, the clock's three and one of the
// receiver's, where the configuration says.
TEST(StationXml, TheDocumentOfASmallStationIsTheGoldenOne) {
    config::StationConfig c = config::DefaultConfig();
    c.records.gps_channels = {"GST"};
    c.meta.latitude = 30.52;
    c.meta.longitude = 114.36;
    c.meta.elevation = 23.5;
    c.meta.site = "Wuhan & \"east\" vault";
    c.records.channels = {{0, "GYP"}, {2, "GY0"}, {3, "GY1"}};
    SensorConfig flat;
    flat.sensitivity = 28.8;
    flat.frequency = 4.5;
    flat.description = "L-4C <geophone>";
    c.meta.sensor = flat;
    SensorConfig& geo = c.meta.sensors["geo"];
    geo.sensitivity = 28.8;
    geo.frequency = 22.5;
    geo.description = "4.5 Hz geophone";
    geo.natural_frequency = 4.5;
    geo.damping = 0.7;
    c.meta.channels["GY1"].azimuth = 90;
    c.meta.channels["GY1"].dip = 0;
    c.meta.channels["GY1"].sensor = "geo";
    ArchiveFacts facts;
    facts.first_data_ns = kStart;
    stationxml::Document doc;
    ASSERT_TRUE(DescribeStation(c.Description(), facts, 1796774400000000000, "ZQD4830_GPS test", doc).ok());
    EXPECT_TRUE(test::SameAsGolden("station.xml", stationxml::ToXml(doc)));
}

TEST_F(StationDescribesItself, WithoutCoordinatesOrAnArchiveItRefusesAndWritesNothing) {
    int status = -1;
    const auto out = *dir_ / "none.xml";
    const std::string said = Shell(ZQD_BIN_DIR "/zqd4830-cli stationxml --out " + out.string() + " 2>&1", &status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(said.find("不知道台站的位置"), std::string::npos) << said;
    EXPECT_FALSE(std::filesystem::exists(out));
    // A [sensor] without its sensitivity is refused at its line.
    test::WriteFile(*dir_ / "bad.toml", "[station]\nlatitude = 1.0\nlongitude = 2.0\n\n[sensor]\nunit = \"m/s\"\n");
    config::StationConfig c = config::DefaultConfig();
    const Status s = config::LoadConfig(*dir_ / "bad.toml", c);
    EXPECT_EQ(s.why, Status::Why::kConfigSensorNeedsSensitivity);
    EXPECT_EQ(s.line, 5);
    // Sensors and channels that cannot be: refused at their line, in words.
    for (const auto& [text, why, line] : std::vector<std::tuple<std::string, Status::Why, int>>{
             {"[sensors.a]\nnatural_frequency = 4.5\ngain = 2.0\n", Status::Why::kConfigSensorForm, 1},
             {"[sensors.a]\ngain = 2.0\npoles = [[0.5, 1.0]]\n", Status::Why::kConfigBadRoots, 3},
             {"[sensors.a]\ngain = 2.0\nzeros = [[0, 0]]\nnormalization_frequency = 0.0000001\n",
              Status::Why::kConfigNumberOutOfRange, 4},
             {"[channels.HHZ]\ndip = -90\n", Status::Why::kConfigNoSuchChannel, 1},
             {"[channels.GY0]\nsensor = \"nothing\"\n", Status::Why::kConfigNoSuchSensor, 2},
             {"[channels.GY0]\ndip = -91\n", Status::Why::kConfigNumberOutOfRange, 2},
             {"[acquisition]\nbits = 12\nzero_code = 4096\n", Status::Why::kConfigZeroCode, 3}}) {
        test::WriteFile(*dir_ / "bad.toml", text);
        config::StationConfig d = config::DefaultConfig();
        const Status refused = config::LoadConfig(*dir_ / "bad.toml", d);
        EXPECT_EQ(refused.why, why) << text << app::Text(refused);
        EXPECT_EQ(refused.line, line) << text;
        EXPECT_EQ(app::Text(refused).find("：："), std::string::npos) << app::Text(refused);
    }
    // What a configuration says of the station is written back as it was read.
    test::WriteFile(*dir_ / "good.toml",
                    "[station]\nlatitude = 1.5\nlongitude = 2.0\n[acquisition]\ninput_range = 2.5\n"
                    "[timing]\ngps_channels = [\"GNS\", \"GST\"]\n[sensor]\nsensitivity = 1500\nunit = \"m/s**2\"\n");
    ASSERT_TRUE(config::LoadConfig(*dir_ / "good.toml", c).ok());
    ASSERT_TRUE(config::SaveConfig(*dir_ / "again.toml", c).ok());
    config::StationConfig again = config::DefaultConfig();
    ASSERT_TRUE(config::LoadConfig(*dir_ / "again.toml", again).ok());
    EXPECT_EQ(again.meta.latitude, 1.5);
    EXPECT_EQ(again.meta.input_range_volts, 2.5);
    EXPECT_DOUBLE_EQ(CardCountsPerVolt(again.meta), 819.2);  // 4096 codes over +-2.5 V
    EXPECT_EQ(again.records.gps_channels, (std::vector<std::string>{"GNS", "GST"}));
    ASSERT_TRUE(again.meta.sensor);
    EXPECT_EQ(again.meta.sensor->unit, "m/s**2");
    test::WriteFile(*dir_ / "code.toml", "[timing]\ngps_channels = [\"GNS\", \"XYZ\"]\n");
    EXPECT_EQ(config::LoadConfig(*dir_ / "code.toml", c).line, 2);
    // The installed example holds every setting at its default.
    config::StationConfig example = config::DefaultConfig();
    ASSERT_TRUE(config::LoadConfig(ZQD_SOURCE_DIR "/packaging/archive.toml", example).ok());
    EXPECT_EQ(example.records.gps_channels, records::GpsChannelCodes());
    EXPECT_EQ(example.meta.input_range_volts, 5.0);
    EXPECT_FALSE(example.meta.latitude || example.meta.sensor);
    EXPECT_EQ(example.meta.bits, 12);
    EXPECT_EQ(example.meta.zero_code, 2048);
    // Its commented sensors and channel tables, taken in, are good settings too.
    std::string text = test::ReadFile(ZQD_SOURCE_DIR "/packaging/archive.toml");
    for (const char* from : {"# [sensors.", "# [channels.GY0]"}) {
        std::size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        while (at < text.size() && text.compare(at, 2, "# ") == 0 && text.compare(at, 3, "# #") != 0) {
            text.erase(at, 2);
            at = text.find('\n', at) + 1;
        }
    }
    const std::size_t second = text.find("# [sensors.");
    ASSERT_NE(second, std::string::npos);
    for (std::size_t at = second; at < text.size() && text.compare(at, 2, "# ") == 0; at = text.find('\n', at) + 1)
        text.erase(at, 2);
    test::WriteFile(*dir_ / "example.toml", text);
    config::StationConfig full = config::DefaultConfig();
    const Status loaded = config::LoadConfig(*dir_ / "example.toml", full);
    ASSERT_TRUE(loaded.ok()) << app::Text(loaded) << "\n" << text;
    EXPECT_EQ(full.meta.sensors.size(), 2u);
    EXPECT_EQ(full.meta.channels.at("GY0").sensor, "geophone");
}

}  // namespace
}  // namespace zqd::archive

namespace zqd::archive {
namespace {

// The station's noise from its archive: the numbers per period with the
// models when the sensor is configured, in counts and without them when not,
// and what cannot be refused with its reason.
TEST_F(StationDescribesItself, ItsNoiseIsMeasuredFromTheArchive) {
    ASSERT_EQ(status_, 0) << acquire_;
    const std::string cli = "cd " + dir_->path().string() + " && " ZQD_BIN_DIR "/zqd4830-cli psd --archive a ";
    test::WriteFile(*dir_ / "geo.toml", "[sensors.geo]\nnatural_frequency = 4.5\ndamping = 0.7\ngenerator_constant = 28.8\n"
                                        "[channels.GY0]\nsensor = \"geo\"\n");
    int status = -1;
    std::string said = Shell(cli + "--channel GY0 --segment 10 --config geo.toml --csv n.csv --out n.png 2>&1", &status);
    if (status == 1 && said.find("不能计算噪声谱") != std::string::npos) GTEST_SKIP() << "built without the windows or FFTW";
    ASSERT_EQ(status, 0) << said;
    EXPECT_NE(said.find("XX.ZQD01.00.GY0 的噪声："), std::string::npos) << said;
    EXPECT_NE(said.find("dB rel. 1 (m/s²)²/Hz"), std::string::npos) << said;
    const std::string csv = test::ReadFile(*dir_ / "n.csv");
    EXPECT_EQ(csv.rfind("period_s,segments,p10_db,median_db,p90_db,mode_db,nlnm_db,nhnm_db\r\n", 0), 0u) << csv.substr(0, 200);
    // The models from 0.1 s, where they begin: the low near -170 dB and the high near -100 dB there.
    std::istringstream lines(csv);
    std::string line;
    std::getline(lines, line);
    int modelled = 0, rows = 0;
    while (std::getline(lines, line)) {
        std::vector<std::string> cols;
        std::stringstream fields(line.substr(0, line.find('\r')));
        for (std::string f; std::getline(fields, f, ',');) cols.push_back(f);
        cols.resize(8);
        ++rows;
        const double period = std::stod(cols[0]);
        if (period < 0.1) {
            EXPECT_TRUE(cols[6].empty() && cols[7].empty()) << line;
            continue;
        }
        ++modelled;
        EXPECT_NEAR(std::stod(cols[6]), -168, 3) << line;
        EXPECT_NEAR(std::stod(cols[7]), -105, 20) << line;
    }
    EXPECT_GT(rows, 50);
    EXPECT_GT(modelled, 5);
    EXPECT_EQ(test::ReadFile(*dir_ / "n.png").substr(1, 3), "PNG");
    // No sensor: counts, no models.
    said = Shell(cli + "--channel GY0 --segment 10 --csv c.csv 2>&1", &status);
    EXPECT_EQ(status, 0) << said;
    EXPECT_NE(said.find("电平以 counts 计，未画噪声模型"), std::string::npos) << said;
    EXPECT_EQ(test::ReadFile(*dir_ / "c.csv").find(",-168.00,"), std::string::npos);
    // Less than a segment of data, a channel that is not there, a picture of no format.
    said = Shell(cli + "--channel GY0 --csv c.csv 2>&1", &status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(said.find("没有一段 3600 秒不间断的数据"), std::string::npos) << said;
    EXPECT_EQ((Shell(cli + "--channel HHZ --csv c.csv 2>&1", &status), status), 2);
    EXPECT_EQ((Shell(cli + "--channel GY0 --out n.gif 2>&1", &status), status), 1);
}

}  // namespace
}  // namespace zqd::archive
