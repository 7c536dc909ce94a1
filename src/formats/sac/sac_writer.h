// Binary SAC files (header version 6, little-endian): the fixed 632-byte
// header, then the samples as 32-bit floats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/stream_codes.h"

namespace zqd::sac {

struct SacTrace {
    StreamCodes codes;
    std::int64_t start_ns = 0;  // the first sample, UTC
    double sample_rate = 0;
    std::vector<float> samples;
};

// The whole file's bytes: header fields DELTA, B, E, NPTS, DEPMIN, DEPMAX,
// DEPMEN, the reference time NZYEAR..NZMSEC of the first sample (B = 0 up
// to the sub-millisecond rest), KNETWK, KSTNM, KHOLE, KCMPNM, IFTYPE = ITIME,
// IZTYPE = IB, LEVEN true, NVHDR 6; every other field undefined (-12345).
std::string SacBytes(const SacTrace& trace);

}  // namespace zqd::sac
