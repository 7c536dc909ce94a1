// Peterson's new low and high noise models: the quietest and noisiest
// vertical ground acceleration observed at the world's stations, in dB
// relative to 1 (m/s²)²/Hz, as straight lines in log period between
// published breakpoints.
//
//   Peterson, J. (1993). Observations and modeling of seismic background
//   noise. U.S. Geological Survey Open-File Report 93-322.
#pragma once

namespace zqd::signal {

// At `period` seconds, 0.1 to 100000; NaN outside.
double NewLowNoiseModel(double period);
double NewHighNoiseModel(double period);

}  // namespace zqd::signal
