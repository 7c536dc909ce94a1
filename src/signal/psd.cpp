#include "signal/psd.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "signal/fftw_lock.h"

namespace zqd::signal {

struct PsdMaker::Fft {
    double* in = nullptr;
    fftw_complex* out = nullptr;
    fftw_plan plan = nullptr;
    explicit Fft(std::size_t n) {
        in = static_cast<double*>(fftw_malloc(sizeof(double) * n));
        out = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (n / 2 + 1)));
        std::lock_guard lock(FftwPlannerLock());
        plan = fftw_plan_dft_r2c_1d(static_cast<int>(n), in, out, FFTW_ESTIMATE);
    }
    ~Fft() {
        {
            std::lock_guard lock(FftwPlannerLock());
            fftw_destroy_plan(plan);
        }
        fftw_free(in);
        fftw_free(out);
    }
};

PsdMaker::PsdMaker(double rate, PsdSettings settings) : rate_(rate), settings_(settings) {
    if (!(rate > 0) || settings.pieces < 1) return;
    segment_ = static_cast<std::size_t>(std::llround(settings.segment_seconds * rate));
    step_ = std::max<std::size_t>(1, static_cast<std::size_t>(std::llround(static_cast<double>(segment_) * (1 - settings.segment_overlap))));
    // The pieces fill the segment exactly: piece + (pieces - 1) × piece × (1 - overlap).
    piece_ = static_cast<std::size_t>(static_cast<double>(segment_) / (1 + (settings.pieces - 1) * (1 - settings.piece_overlap)));
    piece_ -= piece_ % 2;
    if (!Usable()) return;
    // Down, never up: the last piece must end within the segment.
    piece_step_ = static_cast<std::size_t>(std::floor(static_cast<double>(piece_) * (1 - settings.piece_overlap)));
    while (piece_step_ > 0 && piece_ + static_cast<std::size_t>(settings.pieces - 1) * piece_step_ > segment_) --piece_step_;
    // A cosine taper over `taper` of the piece, half at each end.
    taper_.assign(piece_, 1.0);
    const auto edge = static_cast<std::size_t>(settings.taper / 2 * static_cast<double>(piece_));
    edge_ = edge;
    for (std::size_t k = 0; k < edge; ++k) {
        const double w = 0.5 * (1 - std::cos(std::numbers::pi * (static_cast<double>(k) + 0.5) / static_cast<double>(edge)));
        taper_[k] = taper_[piece_ - 1 - k] = w;
    }
    double sum = 0;
    for (double w : taper_) sum += w * w;
    scale_ = 2 / (rate * sum);  // one-sided, per Hz, the taper's loss of power restored
    const std::size_t bins = piece_ / 2 + 1;
    power_.assign(bins, 0);
    prefix_.assign(bins + 1, 0);
    // Full octaves, centred at eighth-octave steps, from where the shortest
    // period of the octave is twice the sample period to where its longest
    // is a fifth of a piece.
    const double df = rate / static_cast<double>(piece_);
    const double longest = static_cast<double>(piece_) / rate / 5;
    for (double centre = 2 / rate * std::numbers::sqrt2; centre * std::numbers::sqrt2 <= longest; centre *= std::pow(2.0, 0.125)) {
        const double f_high = 1 / (centre / std::numbers::sqrt2), f_low = 1 / (centre * std::numbers::sqrt2);
        const auto first = static_cast<std::size_t>(std::ceil(f_low / df)), last = std::min(bins, static_cast<std::size_t>(std::floor(f_high / df)) + 1);
        if (first == 0 || last <= first) continue;
        periods_.push_back(centre);
        bands_.emplace_back(first, last);
    }
    fft_ = std::make_unique<Fft>(piece_);
}

PsdMaker::~PsdMaker() = default;

void PsdMaker::SetResponse(const PowerResponse& response) {
    inverse_.clear();
    if (!response || power_.empty()) return;
    const double df = rate_ / static_cast<double>(piece_);
    // 0 where the response is (the mean at 0 Hz, never in a band): a prefix sum holds no NaN.
    inverse_.assign(power_.size(), 0.0);
    for (std::size_t k = 1; k < power_.size(); ++k) {
        const double h = response(static_cast<double>(k) * df);
        if (h > 0 && std::isfinite(h)) inverse_[k] = 1 / h;
    }
}

std::vector<double> PsdMaker::Segment(const std::int32_t* x) {
    std::vector<double> db(periods_.size(), std::numeric_limits<double>::quiet_NaN());
    if (!fft_) return db;
    std::fill(power_.begin(), power_.end(), 0.0);
    const std::size_t bins = power_.size();
    const double n = static_cast<double>(piece_);
    for (int p = 0; p < settings_.pieces; ++p) {
        const std::int32_t* at = x + static_cast<std::size_t>(p) * piece_step_;
        // The least-squares line out, then the taper.
        std::int64_t isy = 0;
        double sxy = 0;
        for (std::size_t k = 0; k < piece_; ++k) {
            isy += at[k];
            sxy += static_cast<double>(k) * at[k];
        }
        const double sy = static_cast<double>(isy);
        const double sx = n * (n - 1) / 2, sxx = (n - 1) * n * (2 * n - 1) / 6;
        const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx), offset = (sy - slope * sx) / n;
        double* in = fft_->in;
        for (std::size_t k = 0; k < piece_; ++k) in[k] = at[k] - offset - slope * static_cast<double>(k);
        for (std::size_t k = 0; k < edge_; ++k) {  // the taper is 1 between its ends
            in[k] *= taper_[k];
            in[piece_ - 1 - k] *= taper_[piece_ - 1 - k];
        }
        fftw_execute(fft_->plan);
        for (std::size_t k = 0; k < bins; ++k) power_[k] += fft_->out[k][0] * fft_->out[k][0] + fft_->out[k][1] * fft_->out[k][1];
    }
    const double scale = scale_ / settings_.pieces;
    for (std::size_t k = 0; k < bins; ++k) {
        double v = power_[k] * scale;
        if (k == 0 || k == bins - 1) v /= 2;  // the ends are not folded
        if (!inverse_.empty()) v *= inverse_[k];
        power_[k] = v;
        prefix_[k + 1] = prefix_[k] + v;
    }
    for (std::size_t i = 0; i < bands_.size(); ++i) {
        const auto [first, last] = bands_[i];
        const double mean = (prefix_[last] - prefix_[first]) / static_cast<double>(last - first);
        if (mean > 0) db[i] = 10 * std::log10(mean);
    }
    return db;
}

Ppsd::Ppsd(std::vector<double> p, double low, double high) : periods(std::move(p)), low_db(low), high_db(high) {
    counts.assign(periods.size() * static_cast<std::size_t>(Bins()), 0);
    below.assign(periods.size(), 0);
    above.assign(periods.size(), 0);
}

void Ppsd::Add(const std::vector<double>& db) {
    const int bins = Bins();
    for (std::size_t i = 0; i < periods.size() && i < db.size(); ++i) {
        if (!std::isfinite(db[i])) continue;
        const double at = std::floor(db[i] - low_db);
        if (at < 0)
            ++below[i];
        else if (at >= bins)
            ++above[i];
        else
            ++counts[i * static_cast<std::size_t>(bins) + static_cast<std::size_t>(at)];
    }
    ++segments;
}

std::size_t Ppsd::Outside() const {
    std::size_t n = 0;
    for (std::size_t i = 0; i < periods.size(); ++i) n += below[i] + above[i];
    return n;
}

std::uint32_t Ppsd::Total(std::size_t period) const {
    std::uint32_t n = below[period] + above[period];
    for (int b = 0; b < Bins(); ++b) n += At(period, b);
    return n;
}

double Ppsd::Percentile(std::size_t period, double p) const {
    const std::uint32_t total = Total(period);
    if (total == 0) return std::numeric_limits<double>::quiet_NaN();
    const double want = p * total;
    double seen = below[period];
    if (seen >= want && seen > 0) return -std::numeric_limits<double>::infinity();
    for (int b = 0; b < Bins(); ++b) {
        seen += At(period, b);
        if (seen >= want && seen > 0) return low_db + b + 0.5;
    }
    return std::numeric_limits<double>::infinity();
}

double Ppsd::Mode(std::size_t period) const {
    int best = -1;
    std::uint32_t most = 0;
    for (int b = 0; b < Bins(); ++b)
        if (At(period, b) > most) {
            most = At(period, b);
            best = b;
        }
    return best < 0 ? std::numeric_limits<double>::quiet_NaN() : low_db + best + 0.5;
}

}  // namespace zqd::signal
