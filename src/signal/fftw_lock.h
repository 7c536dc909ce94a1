// FFTW's planner is not thread-safe (executing a plan is): every plan is
// made and destroyed under this one lock.
#pragma once

#include <mutex>

namespace zqd::signal {
std::mutex& FftwPlannerLock();
}  // namespace zqd::signal
