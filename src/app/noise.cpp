#include "app/noise.h"

#include <cmath>
#include <limits>
#include <numbers>

#include "archive/station_metadata.h"
#include "common/numtext.h"
#include "signal/noise_models.h"
#include "signal/response.h"

namespace zqd {

namespace {

// A level's text; empty where there is none (NaN).
std::string Number(double v, int decimals) { return std::isfinite(v) ? FixedText(v, decimals) : std::string(); }

}  // namespace

signal::PowerResponse AccelerationResponse(const config::StationConfig& c, const std::string& code) {
    const archive::StationMeta& m = c.meta;
    const archive::SensorConfig* sensor = archive::SensorOfChannel(m, code);
    if (!sensor) return {};
    const archive::SensorStage st = archive::StageOf(*sensor);
    signal::PolesZeros pz{st.zeros, st.poles, st.a0, st.frequency};
    const double counts = st.gain * archive::CardCountsPerVolt(m);
    // Powers of 2πf between the sensor's unit and acceleration.
    const int to_acceleration = sensor->unit == "m" ? 2 : sensor->unit == "m/s**2" ? 0 : 1;
    return [pz, counts, to_acceleration](double f) {
        const double h = std::norm(signal::Evaluate(pz, f)) * counts * counts;
        return h / std::pow(2 * std::numbers::pi * f, 2 * to_acceleration);
    };
}

Result<Noise> MakeNoise(const view::WaveformModel& m, int row_index, std::optional<std::int64_t> from_ns,
                        std::optional<std::int64_t> to_ns, const config::StationConfig& config, double segment_seconds) {
    const view::Channel& row = m.At(row_index);
    const std::string code = row.name.substr(row.name.rfind('.') + 1);
    const double rate = row.stretches.empty() ? 0 : row.stretches.front().rate;
    signal::PsdSettings settings;
    settings.segment_seconds = segment_seconds;
    signal::PsdMaker maker(rate, settings);
    const auto response = AccelerationResponse(config, code);
    maker.SetResponse(response);
    // Peterson's models span about -190 to -90 dB; room beyond for a loud
    // site, an event, or a recorder whose own noise is far above the models.
    Noise n{signal::Ppsd(maker.Periods(), response ? -260 : -100, response ? 60 : 220), static_cast<bool>(response), row.name,
            0, 0, segment_seconds};
    std::vector<std::int32_t> samples(maker.SegmentSamples());
    const std::int64_t from = from_ns.value_or(std::numeric_limits<std::int64_t>::min());
    const std::int64_t to = to_ns.value_or(std::numeric_limits<std::int64_t>::max());
    for (const auto& s : row.stretches) {
        if (!maker.Usable() || s.rate != rate) continue;  // another rate: another maker's
        for (std::uint64_t at = s.IndexAtOrAfter(from); at + maker.SegmentSamples() <= s.count; at += maker.SegmentStep()) {
            const std::int64_t begin = s.TimeOf(static_cast<double>(at));
            const std::int64_t end = s.TimeOf(static_cast<double>(at + maker.SegmentSamples()));
            if (end > to) break;
            s.source->Read(at, samples.size(), samples.data());
            n.ppsd.Add(maker.Segment(samples.data()));
            if (n.ppsd.segments == 1) n.first_ns = begin;
            n.last_ns = end;
        }
    }
    if (n.ppsd.segments == 0)
        return Status::Fail(Status::Code::kQueryRefused, Status::Why::kNoWholeSegment)
            .About(row.name)
            .Value(static_cast<std::int64_t>(segment_seconds));
    return n;
}

double NoiseSegmentSeconds(std::int64_t span_ns) {
    const double seconds = static_cast<double>(span_ns) / 1e9;
    if (seconds >= 7200) return 3600;
    return std::max(1.0, std::floor(seconds / 4));
}

std::string NoiseDbLabel(const Noise& n) { return n.acceleration ? "dB rel. 1 (m/s²)²/Hz" : "dB rel. 1 count²/Hz"; }

std::string NoiseSaid(const Noise& n) {
    std::string said = n.name + " 的噪声：" + std::to_string(n.ppsd.segments) + " 段，每段 " + Number(n.segment_seconds, 0) +
                       " 秒，重叠一半；" + NoiseDbLabel(n);
    if (const std::size_t outside = n.ppsd.Outside(); outside > 0)
        said += "；" + std::to_string(outside) + " 个电平在 " + Number(n.ppsd.low_db, 0) + " 到 " + Number(n.ppsd.high_db, 0) +
                " dB 之外，未画出，百分位数计入";
    if (!n.acceleration) said += "\n没有为此通道设置传感器响应：电平以 counts 计，未画噪声模型";
    return said;
}

std::string NoiseCsv(const Noise& n) {
    const signal::Ppsd& p = n.ppsd;
    const auto level = [&](double v) {
        if (v == -std::numeric_limits<double>::infinity()) return "<" + Number(p.low_db, 0);
        if (v == std::numeric_limits<double>::infinity()) return ">" + Number(p.high_db, 0);
        return Number(v, 1);
    };
    std::string text = "period_s,segments,p10_db,median_db,p90_db,mode_db,nlnm_db,nhnm_db\r\n";
    for (std::size_t i = 0; i < p.periods.size(); ++i) {
        const double period = p.periods[i];
        text += Number(period, 6) + "," + std::to_string(p.Total(i)) + "," + level(p.Percentile(i, 0.1)) + "," +
                level(p.Percentile(i, 0.5)) + "," + level(p.Percentile(i, 0.9)) + "," + Number(p.Mode(i), 1) + "," +
                (n.acceleration ? Number(signal::NewLowNoiseModel(period), 2) : "") + "," +
                (n.acceleration ? Number(signal::NewHighNoiseModel(period), 2) : "") + "\r\n";
    }
    return text;
}

}  // namespace zqd
