#include "card/sim/sim_card.h"

#include <algorithm>

#include "common/utc.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace zqd::sim {

namespace {

constexpr std::int64_t kNsPerSecond = 1000000000;
constexpr double kPi = 3.14159265358979323846;

std::int64_t SteadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t SystemNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

using utc::DaysFromCivil;
using utc::FloorDiv;

void Put32(std::array<std::uint8_t, kHaLength>& m, int at, std::int64_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    m[at] = static_cast<std::uint8_t>(u >> 24);
    m[at + 1] = static_cast<std::uint8_t>(u >> 16);
    m[at + 2] = static_cast<std::uint8_t>(u >> 8);
    m[at + 3] = static_cast<std::uint8_t>(u);
}

void Put16(std::array<std::uint8_t, kHaLength>& m, int at, std::int64_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    m[at] = static_cast<std::uint8_t>(u >> 8);
    m[at + 1] = static_cast<std::uint8_t>(u);
}

}  // namespace

std::array<std::uint8_t, kHaLength> HaMessage(std::int64_t gps_ns, bool fix) {
    std::array<std::uint8_t, kHaLength> m{};
    const std::int64_t seconds = FloorDiv(gps_ns, kNsPerSecond);
    const std::int64_t fraction = gps_ns - seconds * kNsPerSecond;
    const std::int64_t days = FloorDiv(seconds, 86400);
    const std::int64_t sod = seconds - days * 86400;
    const utc::Civil date = utc::FromNs(days * utc::kNsPerDay);

    m[0] = '@';
    m[1] = '@';
    m[2] = 'H';
    m[3] = 'a';
    m[4] = static_cast<std::uint8_t>(date.month);
    m[5] = static_cast<std::uint8_t>(date.day);
    Put16(m, 6, date.year);
    m[8] = static_cast<std::uint8_t>(sod / 3600);
    m[9] = static_cast<std::uint8_t>(sod / 60 % 60);
    m[10] = static_cast<std::uint8_t>(sod % 60);
    Put32(m, 11, fraction);
    // Position and velocity of a receiver standing still at 30.52 N, 114.36 E.
    const std::int64_t lat_mas = 109872000, lon_mas = 411696000;
    Put32(m, 15, lat_mas);
    Put32(m, 19, lon_mas);
    Put32(m, 23, 4520);    // height above the ellipsoid, cm
    Put32(m, 27, 2350);    // height above mean sea level, cm
    Put32(m, 31, lat_mas + 3);
    Put32(m, 35, lon_mas - 2);
    Put32(m, 39, 4525);
    Put32(m, 43, 2355);
    Put16(m, 47, 0);       // 3D speed, cm/s
    Put16(m, 49, 0);       // 2D speed
    Put16(m, 51, 0);       // heading
    // Without a fix the receiver still sends its last position, which means
    // nothing: two satellites tracked, no geometry, "acquiring satellites".
    Put16(m, 53, fix ? 17 : 0);  // geometry (DOP x 10)
    m[55] = 8;                   // satellites visible
    m[56] = fix ? 7 : 2;         // satellites tracked
    for (int ch = 0; ch < 12; ++ch) {  // per channel: SVID, mode, signal, IODE, status (2)
        const int at = 57 + ch * 6;
        const bool tracked = ch < m[56], visible = ch < 8;
        m[at] = static_cast<std::uint8_t>(visible ? 2 + ch * 4 : 0);
        m[at + 1] = static_cast<std::uint8_t>(tracked ? 8 : visible ? 1 : 0);
        m[at + 2] = static_cast<std::uint8_t>(tracked ? 40 + (ch * 3 + sod) % 12 : 0);
        m[at + 3] = static_cast<std::uint8_t>(tracked ? 60 + ch : 0);
        Put16(m, at + 4, tracked ? 0x0882 : 0);  // used for time and for the fix, accuracy 2
    }
    Put16(m, 129, fix ? 0xE000 : 0x6000);  // receiver status: 3D fix or acquiring satellites, antenna OK
    Put16(m, 131, 0);       // reserved
    Put16(m, 133, 5);       // clock bias, ns
    Put32(m, 135, 951);     // oscillator offset, Hz
    Put16(m, 139, 52);      // temperature, half degrees: 26.0 C
    m[141] = 0xC0 | 18;     // UTC mode, offset decoded: GPS - UTC = 18 s
    m[142] = 0;             // GMT offset: sign, hours, minutes (none: the time is UTC)
    m[143] = 0;
    m[144] = 0;
    const char id[] = "ZQDSIM";
    for (int i = 0; i < 6; ++i) m[145 + i] = static_cast<std::uint8_t>(id[i]);
    std::uint8_t sum = 0;
    for (int i = 2; i <= 150; ++i) sum ^= m[i];
    m[151] = sum;
    m[152] = '\r';
    m[153] = '\n';
    return m;
}

SimCard::SimCard(SimSettings settings, Clock steady, Clock system)
    : settings_(settings),
      steady_(steady ? std::move(steady) : Clock(SteadyNow)),
      system_(system ? std::move(system) : Clock(SystemNow)) {}

std::int32_t SimCard::Initial(std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
    running_ = false;
    if (settings_.fail_initial != 0) {
        last_error_ = settings_.fail_initial;
        initialised_ = false;
        return 0;
    }
    initialised_ = true;
    return 1;
}

std::int32_t SimCard::StartIntr(std::int16_t bufNum, std::int32_t chnPoints, std::int16_t startChn,
                                std::int16_t chnNum, std::int32_t sampleFrq, std::int32_t,
                                std::int16_t) {
    if (!initialised_) {
        last_error_ = kNotInitialised;
        return 0;
    }
    if (settings_.fail_start != 0) {
        last_error_ = settings_.fail_start;
        return 0;
    }
    if (bufNum < 1 || chnPoints < 1 || chnNum < 1 || chnNum > 64 || sampleFrq < 1 ||
        static_cast<std::int64_t>(chnPoints) * chnNum > 16 * 1024 * 1024) {
        last_error_ = kBadArgument;
        return 0;
    }
    buf_num_ = bufNum;
    chn_points_ = chnPoints;
    start_chn_ = startChn;
    chn_num_ = chnNum;
    sample_frq_ = sampleFrq;
    t0_ = steady_();
    start_ns_ = settings_.start_from_clock ? system_() : settings_.start_ns;
    next_ = 0;
    overruns_ = 0;
    adresult_calls_ = 0;
    // A message and a tenth of it for room must fit the scans between two.
    message_every_ = (kHaLength * 11 + 10LL * sampleFrq - 1) / (10LL * sampleFrq);
    if (message_every_ < 1) message_every_ = 1;
    running_ = true;
    return 1;
}

std::int32_t SimCard::StopIntr() {
    running_ = false;
    return 1;
}

std::int64_t SimCard::ScansNow() const {
    const double elapsed = static_cast<double>(steady_() - t0_) * settings_.speed;
    return static_cast<std::int64_t>(std::floor(elapsed * sample_frq_ / 1e9));
}

void SimCard::Advance() {
    const std::int64_t filled = ScansNow() / chn_points_;
    if (filled - next_ > buf_num_) {
        overruns_ += filled - next_ - buf_num_;
        next_ = filled - buf_num_;
    }
}

std::int32_t SimCard::QueryBuf() {
    if (!running_) return 0;
    Advance();
    return static_cast<std::int32_t>(ScansNow() / chn_points_ - next_);
}

std::int32_t SimCard::ADResult(std::int16_t* words) {
    if (!running_ || !words) return 0;
    Advance();
    if (ScansNow() / chn_points_ - next_ < 1) return 0;
    if (settings_.adresult_fail > 0 && ++adresult_calls_ % settings_.adresult_fail == 0) {
        ++next_;  // the buffer is lost; the caller's is left as it was
        last_error_ = kReadFailed;
        return 0;
    }
    const std::int64_t n = static_cast<std::int64_t>(chn_num_) * chn_points_;
    words[0] = static_cast<std::int16_t>(next_ & 0x7FFF);
    FillSamples(next_, words + 1);
    words[n + 1] = 0;
    ++next_;
    return 1;
}

void SimCard::FillSamples(std::int64_t index, std::int16_t* samples) const {
    const std::int64_t first = index * chn_points_;
    const std::int64_t end = first + chn_points_;
    FillSignals(first, end, samples);
    FillPulse(first, end, samples);
    if (chn_num_ >= 2) FillMessages(first, end, samples);
}

double SimCard::GroundNoise(std::int64_t scan, int ch) const {
    // Each sample's own draw, the same on every run: four uniform numbers
    // from a hash of the scan and channel, summed to nearly Gaussian.
    std::uint64_t z = static_cast<std::uint64_t>(scan) * 0x9E3779B97F4A7C15ull + static_cast<std::uint64_t>(ch) * 0xD1B54A32D192ED03ull;
    double sum = 0;
    for (int k = 0; k < 4; ++k) {
        z += 0x9E3779B97F4A7C15ull;
        std::uint64_t x = z;
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
        x ^= x >> 31;
        sum += static_cast<double>(x >> 11) * 0x1.0p-53;
    }
    const double gauss = (sum - 2) * std::sqrt(3.0);
    // Louder by day: from half at 02:00 UTC to one and a half at 14:00.
    const double utc = static_cast<double>(start_ns_) + ScanTime(scan);
    const double hour = std::fmod(utc / 3.6e12, 24.0);
    const double day = 1 - 0.5 * std::cos(2 * kPi * (hour - 2) / 24);
    // The microseism: a few swells near 6 s, beating slowly.
    const double t = utc / 1e9;
    const double swell = std::sin(2 * kPi * t / 5.7 + ch) + 0.8 * std::sin(2 * kPi * t / 6.3 + 2 * ch) +
                         0.6 * std::sin(2 * kPi * t / 7.1 + 3 * ch);
    return settings_.noise_codes * (day * gauss + 0.5 * swell);
}

void SimCard::FillSignals(std::int64_t first, std::int64_t end, std::int16_t* samples) const {
    const std::int64_t f = sample_frq_;
    const int cn = chn_num_;
    // Analog test signals around mid-scale of the 12-bit converter.
    for (std::int64_t s = first; s < end; ++s) {
        const double t = static_cast<double>(s) / static_cast<double>(f);
        std::int16_t* scan = samples + (s - first) * cn;
        for (int ch = 0; ch < cn; ++ch) {
            double v;
            if (ch == 0)
                v = 2048 + 200 * std::sin(2 * kPi * 0.25 * t);
            else if (ch == 1)
                v = kNoByte;
            else if (settings_.noise_codes > 0)
                v = 2048 + GroundNoise(s, ch);
            else
                v = 2048 + (400 + 150 * ((ch - 2) % 10)) * std::sin(2 * kPi * 0.5 * (ch - 1) * t + ch);
            if (ch >= 2 && settings_.event_seconds > 0)  // the converter clips what goes beyond its range
                v = std::clamp(v + Event(static_cast<double>(start_ns_) + ScanTime(s), ch), 0.0, 4095.0);
            scan[ch] = static_cast<std::int16_t>(std::lround(v));
        }
    }
}

bool SimCard::Silent(std::int64_t k) const {
    return settings_.gps_outage_for > 0 && k >= settings_.gps_outage_from &&
           k < settings_.gps_outage_from + settings_.gps_outage_for;
}

void SimCard::FillPulse(std::int64_t first, std::int64_t end, std::int16_t* samples) const {
    const int cn = chn_num_;
    // 1PPS on channel 0, as an integrating converter sees it: high from
    // every whole GPS second for the pulse's width, each scan the average of
    // the input over its own sample period, so that the scans the edges fall
    // in take the share of their period the pulse covers.
    const double first_t = ScanTime(first), end_t = ScanTime(end);
    const std::int64_t w_lo = FloorDiv(start_ns_ + static_cast<std::int64_t>(first_t), kNsPerSecond) - 1;
    const std::int64_t w_hi = FloorDiv(start_ns_ + static_cast<std::int64_t>(end_t), kNsPerSecond) + 1;
    const std::int64_t first_second = FloorDiv(start_ns_ + kNsPerSecond - 1, kNsPerSecond);
    for (std::int64_t w = w_lo; w <= w_hi; ++w) {
        if (w * kNsPerSecond < start_ns_) continue;
        // The pulse of second w comes in second w - first_second of acquisition.
        if (Silent(settings_.Real() ? w - first_second : FloorDiv(w * kNsPerSecond - start_ns_, kNsPerSecond))) continue;
        const double rise = PulseRise(w), fall = PulseFall(w);
        if (rise < 0) continue;  // before the first scan
        for (std::int64_t k = std::max(ScanAt(rise), first); k < end; ++k) {
            const double a = ScanTime(k), b = ScanTime(k + 1);
            if (a >= fall) break;
            const double covered = std::min(b, fall) - std::max(a, rise);
            if (covered <= 0) continue;
            const double share = std::min(1.0, covered / (b - a));
            std::int16_t& v = samples[(k - first) * cn];
            v = static_cast<std::int16_t>(std::lround(v + (kPulseCode - v) * share));
        }
    }
}

void SimCard::FillMessages(std::int64_t first, std::int64_t end, std::int16_t* samples) const {
    const std::int64_t f = sample_frq_;
    const int cn = chn_num_;
    const std::int64_t w_lo = FloorDiv(start_ns_ + static_cast<std::int64_t>(ScanTime(first)), kNsPerSecond) - 1;
    const std::int64_t w_hi = FloorDiv(start_ns_ + static_cast<std::int64_t>(ScanTime(end)), kNsPerSecond) + 1;
    const std::int64_t first_second = FloorDiv(start_ns_ + kNsPerSecond - 1, kNsPerSecond);
    // GPS receiver at 9600 baud, 8N1, in offset 1: one @@Ha message a
    // second. A byte lands in the sample during which its stop bit ends.
    if (!settings_.Real()) {
        // The ideal receiver: each message starts with the first scan of each
        // second of acquisition and carries that scan's time.
        const std::int64_t k_lo = std::max<std::int64_t>(0, first / f - 1 - message_every_);
        const std::int64_t k_hi = end / f + 1;
        for (std::int64_t k = k_lo; k <= k_hi; ++k) {
            if (k % message_every_ != 0) continue;
            if (Silent(k)) continue;  // the receiver sends nothing: the slot keeps 4096
            auto msg = HaMessage(start_ns_ + k * kNsPerSecond, !NoFix(k));
            if (settings_.gps_corrupt > 0 && (k + 1) % settings_.gps_corrupt == 0)
                msg[20] ^= 0x5A;  // a byte of the position: only the checksum tells
            std::int64_t prev = -1;
            for (int i = 0; i < kHaLength; ++i) {
                std::int64_t s = ((k * kBaud + (i + 1) * 10) * f) / kBaud;
                if (s <= prev) s = prev + 1;
                prev = s;
                if (s >= first && s < end) samples[(s - first) * cn + 1] = msg[static_cast<std::size_t>(i)];
            }
        }
        return;
    }
    // A real receiver: each whole second's message, naming that second's
    // pulse, begins D ms after it; message k is the k-th since the start.
    for (std::int64_t w = std::max(w_lo - 1 - message_every_, first_second); w <= w_hi; ++w) {
        const std::int64_t k = w - first_second;
        if (Silent(k) || k % message_every_ != 0) continue;
        auto msg = HaMessage(w * kNsPerSecond, !NoFix(k));
        if (settings_.gps_corrupt > 0 && (k + 1) % settings_.gps_corrupt == 0) msg[20] ^= 0x5A;
        const double sent = static_cast<double>(w * kNsPerSecond - start_ns_) + static_cast<double>(settings_.gps_delay_ms) * 1e6;
        std::int64_t prev = -1;
        for (int i = 0; i < kHaLength; ++i) {
            std::int64_t s = ScanAt(sent + (i + 1) * 10 * 1e9 / kBaud);
            if (s <= prev) s = prev + 1;
            prev = s;
            if (s >= first && s < end) samples[(s - first) * cn + 1] = msg[static_cast<std::size_t>(i)];
        }
    }
}

double SimCard::Event(double t_ns, int ch) const {
    const double tau = (t_ns - static_cast<double>(settings_.event_ns)) / 1e9;
    const double d = settings_.event_seconds;
    if (tau < 0 || tau >= d) return 0;
    // A quick onset, a slow coda: the envelope peaks near a tenth of the way
    // in and has decayed to under 1 % by the end; 1 to 8 Hz, a little
    // different on every channel.
    const double rise = d / 20;
    const double envelope = (1 - std::exp(-tau / rise)) * std::exp(-4.6 * tau / d) * 1.8;
    return settings_.event_amplitude * envelope *
           (0.7 * std::sin(2 * kPi * (2.0 + 0.1 * ch) * tau + ch) + 0.3 * std::sin(2 * kPi * 6.5 * tau + 2.0 * ch));
}

bool SimCard::NoFix(std::int64_t k) const {
    return settings_.gps_nofix_for > 0 && k >= settings_.gps_nofix_from && k < settings_.gps_nofix_from + settings_.gps_nofix_for;
}

namespace {
// A number in [-1, 1) that is the same for the same `n` on every run.
double Scatter(std::int64_t n, std::uint64_t salt) {
    std::uint64_t z = static_cast<std::uint64_t>(n) * 0x9E3779B97F4A7C15ull + salt;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / static_cast<double>(1ull << 52) - 1.0;
}
}  // namespace

double SimCard::PulseRise(std::int64_t w) const {
    const double jitter = settings_.pps_jitter_ns > 0 ? Scatter(w, 1) * static_cast<double>(settings_.pps_jitter_ns) : 0;
    return static_cast<double>(w * kNsPerSecond - start_ns_) + jitter;
}

double SimCard::PulseFall(std::int64_t w) const {
    // A real receiver's falling edge wanders by half a percent of the width
    // (a millisecond of an M12's 200): it marks nothing.
    const double width = settings_.pps_width_ms * 1e6;
    return static_cast<double>(w * kNsPerSecond - start_ns_) + width * (1 + 0.005 * Scatter(w, 2));
}

double SimCard::ScanTime(std::int64_t k) const {
    const double nominal = static_cast<double>(k) * 1e9 / static_cast<double>(sample_frq_);
    if (settings_.clock_ppm == 0 && settings_.wander_ppm == 0) return nominal;
    // Fast by P ppm, and a wander of +-W ppm in the rate over kWanderSeconds.
    const double period = kWanderSeconds * 1e9;
    return nominal / (1 + settings_.clock_ppm * 1e-6) -
           settings_.wander_ppm * 1e-6 * period / (2 * kPi) * std::sin(2 * kPi * nominal / period);
}

std::int64_t SimCard::ScanAt(double t) const {
    auto k = static_cast<std::int64_t>(std::floor(t * sample_frq_ * (1 + settings_.clock_ppm * 1e-6) / 1e9));
    while (k > 0 && ScanTime(k) > t) --k;
    while (ScanTime(k + 1) <= t) ++k;
    return k;
}

std::int16_t SimCard::Zqd_DI(std::int16_t count, std::int16_t* words) {
    if (!words || count < 1) return 0;
    words[0] = do_groups_[0];
    if (count >= 2) {
        // Group 1: a bit walking once a second of acquisition time.
        const std::int64_t seconds = running_ ? ScansNow() / std::max<std::int32_t>(1, sample_frq_) : 0;
        words[1] = static_cast<std::int16_t>(1 << (seconds % 8));
    }
    return 1;
}

std::int16_t SimCard::Zqd_DO(std::int16_t group, std::int16_t value) {
    if (group < 0 || group > 1) return 0;
    do_groups_[static_cast<std::size_t>(group)] = value;
    return 1;
}

}  // namespace zqd::sim
