// An instrument's analog response as poles and zeros of its Laplace
// transform (rad/s), as StationXML carries it: H(s) = A0 × Π(s − zᵢ) / Π(s − pⱼ),
// A0 making |H| one at the normalisation frequency, the stage's gain the
// sensitivity there.
#pragma once

#include <complex>
#include <vector>

namespace zqd::signal {

struct PolesZeros {
    std::vector<std::complex<double>> zeros, poles;  // rad/s
    double a0 = 1;              // the normalisation factor
    double frequency = 1;       // Hz, where |A0 × Π/Π| is one
};

// A0 × Π(s − z) / Π(s − p) at s = 2πif.
std::complex<double> Evaluate(const PolesZeros& pz, double f);

// The factor that makes |H(2πi·f)| one; 0 when H has a pole or zero there.
double NormalisationAt(const std::vector<std::complex<double>>& zeros, const std::vector<std::complex<double>>& poles,
                       double f);

// A moving-coil geophone (a velocity transducer): natural frequency f0 (Hz),
// damping h (a fraction of critical), normalised at `fn`. Its transfer from
// ground velocity to volts is G·s² / (s² + 2hω₀s + ω₀²): two zeros at the
// origin and the poles −hω₀ ± iω₀√(1 − h²) (both real when h ≥ 1).
PolesZeros Geophone(double f0, double damping, double fn);

}  // namespace zqd::signal
