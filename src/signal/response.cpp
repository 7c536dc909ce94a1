#include "signal/response.h"

#include <cmath>

namespace zqd::signal {

namespace {
constexpr double kPi = 3.14159265358979323846;

std::complex<double> Ratio(const std::vector<std::complex<double>>& zeros, const std::vector<std::complex<double>>& poles,
                           double f) {
    const std::complex<double> s(0, 2 * kPi * f);
    std::complex<double> h(1, 0);
    for (const auto& z : zeros) h *= s - z;
    for (const auto& p : poles) h /= s - p;
    return h;
}
}  // namespace

std::complex<double> Evaluate(const PolesZeros& pz, double f) { return pz.a0 * Ratio(pz.zeros, pz.poles, f); }

double NormalisationAt(const std::vector<std::complex<double>>& zeros, const std::vector<std::complex<double>>& poles,
                       double f) {
    const double m = std::abs(Ratio(zeros, poles, f));
    return m > 0 && std::isfinite(m) ? 1 / m : 0;
}

PolesZeros Geophone(double f0, double damping, double fn) {
    const double w0 = 2 * kPi * f0;
    PolesZeros pz;
    pz.zeros = {{0, 0}, {0, 0}};
    if (damping < 1) {
        const double im = w0 * std::sqrt(1 - damping * damping);
        pz.poles = {{-damping * w0, im}, {-damping * w0, -im}};
    } else {
        const double root = std::sqrt(damping * damping - 1);
        pz.poles = {{-w0 * (damping - root), 0}, {-w0 * (damping + root), 0}};
    }
    pz.frequency = fn;
    pz.a0 = NormalisationAt(pz.zeros, pz.poles, fn);
    return pz;
}

}  // namespace zqd::signal
