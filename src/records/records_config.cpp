#include "records/records_config.h"

namespace zqd::records {

const std::vector<std::string>& GpsChannelCodes() {
    static const std::vector<std::string> codes = {"GNS", "GST", "GLA", "GLO", "GEL", "GDP", "GTP"};
    return codes;
}

char BandCode(double rate) {
    if (rate >= 1000) return 'G';
    if (rate >= 250) return 'D';
    if (rate >= 80) return 'E';
    if (rate >= 10) return 'S';
    if (rate > 1) return 'M';
    return 'L';
}

std::map<int, std::string> DefaultChannels(int chnNum, double rate) {
    static const char kOrientation[] = "0123456789ABCDEFGHIJKLMNOQRSTUVWXYZ";  // no P: that is the pulse
    std::map<int, std::string> map;
    const std::string prefix{BandCode(rate), 'Y'};
    for (int offset = 0; offset < chnNum; ++offset) {
        if (offset == 1) continue;  // the GPS receiver's bytes: timing, not signal
        if (offset == 0) {
            map[0] = prefix + "P";
            continue;
        }
        const int k = offset - 2;
        if (k < static_cast<int>(sizeof kOrientation) - 1) map[offset] = prefix + kOrientation[k];
    }
    return map;
}

}  // namespace zqd::records
