#include "gps/ha_message.h"

#include "common/utc.h"

namespace zqd::gps {

namespace {

bool InRange(const HaTimeFields& t) {
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 60 && t.ns >= 0 && t.ns < utc::kNsPerSecond;
}

}  // namespace

HaCheck Check(const HaBytes& m) {
    if (m[ha::kCr] != '\r' || m[ha::kLf] != '\n') return HaCheck::kBadFrame;
    std::uint8_t sum = 0;
    for (int i = ha::kSumFrom; i <= ha::kSumTo; ++i) sum ^= m[static_cast<std::size_t>(i)];
    if (sum != m[ha::kChecksum]) return HaCheck::kBadChecksum;
    if (!InRange(TimeFieldsOf(m.data()))) return HaCheck::kBadRange;
    return HaCheck::kGood;
}

std::int64_t TimeNs(const HaTimeFields& t) {
    utc::Civil c;
    c.year = t.year;
    c.month = static_cast<unsigned>(t.month);
    c.day = static_cast<unsigned>(t.day);
    c.hour = static_cast<unsigned>(t.hour);
    c.minute = static_cast<unsigned>(t.minute);
    c.second = static_cast<unsigned>(t.second);  // 60 reads as the next minute's 0
    c.ns = t.ns;
    return utc::ToNs(c);
}

}  // namespace zqd::gps
