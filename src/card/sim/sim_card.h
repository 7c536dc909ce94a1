// A software acquisition card that honours the card library's call table:
// real-time buffers at the sample rate, a GPS receiver's serial output in
// scan offset 1, test signals on the other channels, digital I/O.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace zqd::sim {

struct SimSettings {
    bool start_from_clock = true;    // GPS time of the first scan = system clock at StartIntr
    std::int64_t start_ns = 0;       // otherwise this, in ns since 1970-01-01T00:00:00
    double speed = 1.0;              // clock rate: 50 runs fifty times faster than real time
    std::int32_t fail_initial = 0;   // non-zero: Initial fails with this code
    std::int32_t fail_start = 0;     // non-zero: StartIntr fails with this code
    std::int64_t adresult_fail = 0;  // non-zero: every N-th ADResult fails and its buffer is lost
    std::int64_t gps_outage_from = 0;  // no GPS bytes nor 1PPS pulse from this second of acquisition ...
    std::int64_t gps_outage_for = 0;   // ... for this many seconds
    std::int64_t gps_corrupt = 0;    // non-zero: one byte of every N-th message is altered
    std::int64_t gps_nofix_from = 0;   // messages without a fix (stale position, 2 satellites) from this second ...
    std::int64_t gps_nofix_for = 0;    // ... for this many seconds
    // A burst of ground motion on the data channels (offsets 2 on): from this
    // GPS time (ns), lasting this long (s), peaking near this many codes.
    std::int64_t event_ns = 0;
    double event_seconds = 0;
    double event_amplitude = 0;
    // Ground noise instead of the data channels' test sines: this many codes
    // RMS of broadband noise, louder by day (UTC) than by night, over an ocean
    // microseism of a few seconds' period; 0: the sines.
    double noise_codes = 0;
    // A real card and receiver: the sample clock P ppm fast (negative: slow)
    // with a slow wander of +-W ppm; the receiver sends each second's message
    // D ms after that second's pulse. All 0: today's ideal card.
    double clock_ppm = 0;
    double wander_ppm = 0;
    std::int64_t gps_delay_ms = 0;
    // The receiver's 1PPS pulse: high for this long from each whole second
    // (an M12's is 200 ms, its falling edge within a millisecond of that and
    // of no use for timing), each rising edge off its second by up to this
    // many ns, the same for the same second on every run.
    double pps_width_ms = 200;
    std::int64_t pps_jitter_ns = 0;
    bool Real() const { return clock_ppm != 0 || wander_ppm != 0 || gps_delay_ms != 0; }
};

// The period of the sample clock's wander.
inline constexpr double kWanderSeconds = 600;

// Reads ADCARD_SIM_START, ADCARD_SIM_SPEED, ADCARD_SIM_FAIL_INITIAL,
// ADCARD_SIM_FAIL_START, ADCARD_SIM_ADRESULT_FAIL, ADCARD_SIM_GPS_OUTAGE,
// ADCARD_SIM_GPS_CORRUPT, ADCARD_SIM_GPS_NOFIX, ADCARD_SIM_EVENT, ADCARD_SIM_CLOCK_PPM, ADCARD_SIM_CLOCK_WANDER_PPM,
// ADCARD_SIM_GPS_DELAY_MS, ADCARD_SIM_PPS_WIDTH_MS and ADCARD_SIM_PPS_JITTER_NS. A bad value is reported in `warnings` (one line
// each) and its default kept.
SimSettings SettingsFromEnvironment(std::string& warnings);

// Parses "YYYY-MM-DDTHH:MM:SS[.fffffffff]" into ns since 1970.
bool ParseStartTime(const std::string& text, std::int64_t& ns);

// Error codes of the simulated card.
enum SimError : std::int32_t {
    kNotInitialised = 1,
    kBadArgument = 2,
    kReadFailed = 3,
};

inline constexpr int kHaLength = 154;
inline constexpr std::int32_t kNoByte = 4096;  // GPS slot value of a sample without a byte
inline constexpr int kBaud = 9600;             // 8N1: ten bit times per byte
inline constexpr std::int16_t kPulseCode = 4000;  // the 1PPS pulse's level on channel 0

// The @@Ha position/status message that carries the given GPS time, from a
// receiver with a 3D fix or (`fix` false) one still acquiring satellites.
std::array<std::uint8_t, kHaLength> HaMessage(std::int64_t gps_ns, bool fix = true);

class SimCard {
public:
    using Clock = std::function<std::int64_t()>;  // a monotonic clock in ns

    explicit SimCard(SimSettings settings, Clock steady = {}, Clock system = {});

    std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d);
    std::int32_t StartIntr(std::int16_t bufNum, std::int32_t chnPoints, std::int16_t startChn,
                           std::int16_t chnNum, std::int32_t sampleFrq, std::int32_t param6,
                           std::int16_t param7);
    std::int32_t StopIntr();
    std::int32_t GetLastADError() const { return last_error_; }
    std::int32_t QueryBuf();
    std::int32_t ADResult(std::int16_t* words);
    std::int16_t Zqd_DI(std::int16_t count, std::int16_t* words);
    std::int16_t Zqd_DO(std::int16_t group, std::int16_t value);

    // Buffers dropped because more than BufNum were waiting.
    std::int64_t Overruns() const { return overruns_; }
    // GPS time of the first scan of the running (or last) acquisition.
    std::int64_t StartNs() const { return start_ns_; }

    // Seconds between the receiver's messages: one a second, or, when the
    // scans are too few to carry a 154-byte message a second (one byte a
    // scan), every n-th second, as an M12 is told to send them.
    std::int64_t MessageEvery() const { return message_every_; }

    // Samples of buffer `index` of the current acquisition, scan by scan:
    // ChnNum x ChnPoints words. A pure function of the start time and settings.
    void FillSamples(std::int64_t index, std::int16_t* samples) const;
    // Scans [first, end) of a block: the analog test signals, the 1PPS on
    // channel 0 over them, the receiver's messages on channel 1.
    double GroundNoise(std::int64_t scan, int ch) const;  // codes about 0
    void FillSignals(std::int64_t first, std::int64_t end, std::int16_t* samples) const;
    void FillPulse(std::int64_t first, std::int64_t end, std::int16_t* samples) const;
    void FillMessages(std::int64_t first, std::int64_t end, std::int16_t* samples) const;
    bool Silent(std::int64_t k) const;  // second k of acquisition in an outage: neither message nor pulse

    // The true time of scan k, in ns after the first scan: k / SampleFrq on an
    // ideal card; on a real one as its drifting clock makes it.
    double ScanTime(std::int64_t k) const;
    // The scan during whose sample period the true time `t` (ns after the first scan) falls.
    std::int64_t ScanAt(double t) const;
    // Where the pulse of GPS second `w` (whole seconds since 1970) rises and
    // falls, in ns after the first scan.
    double PulseRise(std::int64_t w) const;
    double PulseFall(std::int64_t w) const;

private:
    std::int64_t ScansNow() const;
    bool NoFix(std::int64_t k) const;  // message k is sent without a fix
    double Event(double t_ns, int ch) const;  // the burst's codes at GPS time t (ns)
    void Advance();

    SimSettings settings_;
    Clock steady_;
    Clock system_;
    bool initialised_ = false;
    bool running_ = false;
    std::int32_t last_error_ = 0;
    std::int16_t buf_num_ = 0;
    std::int32_t chn_points_ = 0;
    std::int16_t start_chn_ = 0;
    std::int16_t chn_num_ = 0;
    std::int32_t sample_frq_ = 0;
    std::int64_t t0_ = 0;        // steady clock at StartIntr
    std::int64_t start_ns_ = 0;  // GPS time of scan 0
    std::int64_t next_ = 0;      // next buffer to hand out
    std::int64_t overruns_ = 0;
    std::int64_t adresult_calls_ = 0;
    std::int64_t message_every_ = 1;
    std::array<std::int16_t, 2> do_groups_{};
};

}  // namespace zqd::sim
