#include "signal/filter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numbers>

namespace zqd::signal {

namespace {

using C = std::complex<double>;

bool Number(const std::string& text, double& out) {
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, out);
    return r.ec == std::errc() && r.ptr == end && std::isfinite(out);
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == ':')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

// The shortest text that reads back as `v`.
std::string Short(double v) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

// |b0 + b1 z^-1 + b2 z^-2| / |1 + a1 z^-1 + a2 z^-2| at z = e^{jw}.
double SectionGain(const Biquad& s, double w) {
    const C z1 = std::polar(1.0, -w), z2 = z1 * z1;
    return std::abs(s.b0 + s.b1 * z1 + s.b2 * z2) / std::abs(1.0 + s.a1 * z1 + s.a2 * z2);
}

// A corner pre-warped for the bilinear transform (s = 2 fs (z - 1) / (z + 1)).
double Warp(double hz, double rate) { return 2 * rate * std::tan(std::numbers::pi * hz / rate); }

// The analog Butterworth prototype's poles, moved to the filter's corners.
std::vector<C> AnalogPoles(const FilterSpec& spec, double rate) {
    const int n = spec.order;
    std::vector<C> poles;
    for (int k = 0; k < n; ++k) {
        const double theta = std::numbers::pi * (2 * k + 1) / (2 * n);
        const C p(-std::sin(theta), std::cos(theta));
        if (spec.kind == FilterSpec::Kind::kLowPass) {
            poles.push_back(p * Warp(spec.high_hz, rate));
        } else if (spec.kind == FilterSpec::Kind::kHighPass) {
            poles.push_back(Warp(spec.low_hz, rate) / p);
        } else {
            const double w1 = Warp(spec.low_hz, rate), w2 = Warp(spec.high_hz, rate);
            const C half = p * (w2 - w1) / 2.0;
            const C root = std::sqrt(half * half - w1 * w2);
            poles.push_back(half + root);
            poles.push_back(half - root);
        }
    }
    return poles;
}

// Second-order sections of the digital filter: the poles mapped through the
// bilinear transform (conjugate pairs one section each, real ones two by
// two); as many zeros as poles, `zeros_at_dc` of them at z = +1 (analog s =
// 0) and the rest at z = -1. Not yet normalised.
std::vector<Biquad> DigitalSections(const std::vector<C>& poles, int zeros_at_dc, double fs2) {
    std::vector<C> pairs;
    std::vector<double> reals;
    for (const C& p : poles) {
        const C z = (fs2 + p) / (fs2 - p);
        if (std::abs(z.imag()) < 1e-12 * std::max(1.0, std::abs(z)))
            reals.push_back(z.real());
        else if (z.imag() > 0)
            pairs.push_back(z);
    }
    int dc_left = zeros_at_dc, nyquist_left = static_cast<int>(poles.size()) - zeros_at_dc;
    // Two zeros to each section, one at +1 and one at -1 where both kinds are
    // left (a band-pass: [1, 0, -1]).
    auto zeros_for = [&](int count, Biquad& s) {
        std::vector<double> z;
        while (static_cast<int>(z.size()) < count) {
            const bool dc = dc_left > 0 && (nyquist_left == 0 || z.empty() || z.back() < 0);
            z.push_back(dc ? 1.0 : -1.0);
            (dc ? dc_left : nyquist_left)--;
        }
        s.b0 = 1;
        s.b1 = z.size() == 2 ? -(z[0] + z[1]) : -z[0];
        s.b2 = z.size() == 2 ? z[0] * z[1] : 0;
    };
    std::vector<Biquad> sections;
    for (const C& p : pairs) {
        Biquad s;
        s.a1 = -2 * p.real();
        s.a2 = std::norm(p);
        zeros_for(2, s);
        sections.push_back(s);
    }
    for (std::size_t i = 0; i < reals.size(); i += 2) {
        Biquad s;
        const bool two = i + 1 < reals.size();
        s.a1 = two ? -(reals[i] + reals[i + 1]) : -reals[i];
        s.a2 = two ? reals[i] * reals[i + 1] : 0;
        zeros_for(two ? 2 : 1, s);
        sections.push_back(s);
    }
    return sections;
}

}  // namespace

Result<FilterSpec> ParseFilter(const std::string& text) {
    auto fail = [&]() -> Result<FilterSpec> {
        return Status::Fail(Status::Code::kQueryRefused, Status::Why::kFilterUnreadable).About(text);
    };
    const auto parts = Split(text);
    FilterSpec f;
    const std::string& kind = parts[0];
    std::size_t corners = 0;
    if (kind == "none" || kind == "demean") {
        if (parts.size() != 1) return fail();
        f.kind = kind == "none" ? FilterSpec::Kind::kNone : FilterSpec::Kind::kDemean;
        return f;
    }
    if (kind == "hp") f.kind = FilterSpec::Kind::kHighPass, corners = 1;
    else if (kind == "lp") f.kind = FilterSpec::Kind::kLowPass, corners = 1;
    else if (kind == "bp") f.kind = FilterSpec::Kind::kBandPass, corners = 2;
    else return fail();
    if (parts.size() != corners + 1 && parts.size() != corners + 2)
        return fail();
    double c[2] = {0, 0};
    for (std::size_t i = 0; i < corners; ++i)
        if (!Number(parts[i + 1], c[i]) || c[i] <= 0) return fail();
    if (f.kind == FilterSpec::Kind::kLowPass) f.high_hz = c[0];
    else f.low_hz = c[0];
    if (f.kind == FilterSpec::Kind::kBandPass) {
        f.high_hz = c[1];
        if (f.high_hz <= f.low_hz) return fail();
    }
    if (parts.size() == corners + 2) {
        double order = 0;
        if (!Number(parts.back(), order) || order != std::floor(order) || order < 2 || order > 8)
            return fail();
        f.order = static_cast<int>(order);
    }
    return f;
}

std::string FilterText(const FilterSpec& f) {
    switch (f.kind) {
    case FilterSpec::Kind::kNone: return "none";
    case FilterSpec::Kind::kDemean: return "demean";
    case FilterSpec::Kind::kHighPass: return "hp:" + Short(f.low_hz) + ":" + std::to_string(f.order);
    case FilterSpec::Kind::kLowPass: return "lp:" + Short(f.high_hz) + ":" + std::to_string(f.order);
    case FilterSpec::Kind::kBandPass:
        return "bp:" + Short(f.low_hz) + ":" + Short(f.high_hz) + ":" + std::to_string(f.order);
    }
    return "none";
}

Status Filter::Design(const FilterSpec& spec, double rate, Filter& out) {
    using Kind = FilterSpec::Kind;
    const double nyquist = rate / 2;
    auto refuse = [&] {
        return Status::Fail(Status::Code::kQueryRefused, Status::Why::kBadFilter).About(FilterText(spec)).Said(Short(nyquist));
    };
    const bool low = spec.kind == Kind::kHighPass || spec.kind == Kind::kBandPass;
    const bool high = spec.kind == Kind::kLowPass || spec.kind == Kind::kBandPass;
    if (!(rate > 0) || (low && !(spec.low_hz > 0 && spec.low_hz < nyquist)) ||
        (high && !(spec.high_hz > 0 && spec.high_hz < nyquist)) ||
        (spec.kind == Kind::kBandPass && spec.low_hz >= spec.high_hz) ||
        ((low || high) && (spec.order < 2 || spec.order > 8)))
        return refuse();
    Filter f;
    f.spec_ = spec;
    f.rate_ = rate;
    if (!low && !high) {
        out = std::move(f);
        return Status::Ok();
    }
    const double fs2 = 2 * rate;
    f.sections_ = DigitalSections(AnalogPoles(spec, rate), spec.kind == Kind::kLowPass ? 0 : spec.order, fs2);
    // Each section unit gain where the pass band is: DC, Nyquist, or the
    // band's centre (the geometric mean of the pre-warped corners).
    double w = 0;
    if (spec.kind == Kind::kHighPass) w = std::numbers::pi;
    if (spec.kind == Kind::kBandPass) w = 2 * std::atan(std::sqrt(Warp(spec.low_hz, rate) * Warp(spec.high_hz, rate)) / fs2);
    for (Biquad& s : f.sections_) {
        const double g = SectionGain(s, w);
        s.b0 /= g;
        s.b1 /= g;
        s.b2 /= g;
    }
    out = std::move(f);
    return Status::Ok();
}

double Filter::Gain(double hz) const {
    if (spec_.kind == FilterSpec::Kind::kNone) return 1;
    if (spec_.kind == FilterSpec::Kind::kDemean) return hz == 0 ? 0 : 1;
    double g = 1;
    const double w = 2 * std::numbers::pi * hz / rate_;
    for (const Biquad& s : sections_) g *= SectionGain(s, w);
    return g;
}

void Filter::SteadyState(const std::vector<Biquad>& sections, double first, std::vector<std::pair<double, double>>& state) {
    state.assign(sections.size(), {0, 0});
    double u = first;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Biquad& s = sections[i];
        const double y = u * (s.b0 + s.b1 + s.b2) / (1 + s.a1 + s.a2);
        const double s2 = s.b2 * u - s.a2 * y;
        state[i] = {s.b1 * u - s.a1 * y + s2, s2};
        u = y;
    }
}

void Filter::Pass(double* x, std::size_t n, std::vector<std::pair<double, double>>& state, bool backward) const {
    // Each section over the whole run in turn: one short dependency chain at
    // a time, the samples streaming through the cache.
    const std::ptrdiff_t step = backward ? -1 : 1;
    double* const begin = backward ? x + n - 1 : x;
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        const Biquad s = sections_[i];
        double s1 = state[i].first, s2 = state[i].second;
        double* p = begin;
        for (std::size_t k = 0; k < n; ++k, p += step) {
            const double in = *p;
            const double y = s.b0 * in + s1;
            s1 = s.b1 * in - s.a1 * y + s2;
            s2 = s.b2 * in - s.a2 * y;
            *p = y;
        }
        state[i] = {s1, s2};
    }
}

void Filter::Start(double first) {
    SteadyState(sections_, first, state_);
    started_ = true;
}

void Filter::Run(double* x, std::size_t n) {
    if (n == 0 || spec_.kind == FilterSpec::Kind::kNone) return;
    if (spec_.kind == FilterSpec::Kind::kDemean) {
        for (std::size_t k = 0; k < n; ++k) {
            seen_ += 1;
            mean_ += (x[k] - mean_) / seen_;
            x[k] -= mean_;
        }
        return;
    }
    if (!started_) Start(x[0]);
    Pass(x, n, state_, false);
}

void Filter::RunZeroPhase(double* x, std::size_t n) const {
    if (n == 0 || spec_.kind == FilterSpec::Kind::kNone) return;
    if (spec_.kind == FilterSpec::Kind::kDemean) {
        double sum = 0;
        for (std::size_t k = 0; k < n; ++k) sum += x[k];
        const double mean = sum / static_cast<double>(n);
        for (std::size_t k = 0; k < n; ++k) x[k] -= mean;
        return;
    }
    std::vector<std::pair<double, double>> state;
    SteadyState(sections_, x[0], state);
    Pass(x, n, state, false);
    SteadyState(sections_, x[n - 1], state);
    Pass(x, n, state, true);
}

}  // namespace zqd::signal
