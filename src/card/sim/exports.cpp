// The exported call table of the simulated card library `adcard`.
#include <cstdio>
#include <memory>
#include <string>

#include "card/card_ops.h"
#include "card/sim/sim_card.h"

#if defined(_WIN32) && !defined(_WIN64)
#define ADCARD_EXPORT extern "C"  // exported by adcard.def under the decorated names
#elif defined(_WIN32)
#define ADCARD_EXPORT extern "C" __declspec(dllexport)  // 64-bit Windows: the plain names
#else
#define ADCARD_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

zqd::sim::SimCard& Card() {
    static std::unique_ptr<zqd::sim::SimCard> card = [] {
        std::string warnings;
        auto settings = zqd::sim::SettingsFromEnvironment(warnings);
        if (!warnings.empty()) std::fputs(warnings.c_str(), stderr);
        return std::make_unique<zqd::sim::SimCard>(settings);
    }();
    return *card;
}

}  // namespace

ADCARD_EXPORT std::int32_t ADCARD_CALL Initial(std::int32_t a, std::int32_t b, std::int32_t c,
                                               std::int32_t d) {
    return Card().Initial(a, b, c, d);
}

ADCARD_EXPORT std::int32_t ADCARD_CALL StartIntr(std::int16_t bufNum, std::int32_t chnPoints,
                                                 std::int16_t startChn, std::int16_t chnNum,
                                                 std::int32_t sampleFrq, std::int32_t param6,
                                                 std::int16_t param7) {
    return Card().StartIntr(bufNum, chnPoints, startChn, chnNum, sampleFrq, param6, param7);
}

ADCARD_EXPORT std::int32_t ADCARD_CALL StopIntr() { return Card().StopIntr(); }
ADCARD_EXPORT std::int32_t ADCARD_CALL GetLastADError() { return Card().GetLastADError(); }
ADCARD_EXPORT std::int32_t ADCARD_CALL QueryBuf() { return Card().QueryBuf(); }
ADCARD_EXPORT std::int32_t ADCARD_CALL ADResult(std::int16_t* words) { return Card().ADResult(words); }

ADCARD_EXPORT std::int16_t ADCARD_CALL Zqd_DI(std::int16_t count, std::int16_t* words) {
    return Card().Zqd_DI(count, words);
}

ADCARD_EXPORT std::int16_t ADCARD_CALL Zqd_DO(std::int16_t group, std::int16_t value) {
    return Card().Zqd_DO(group, value);
}

// Says that this is the simulated card; the maker's library has no such export.
ADCARD_EXPORT std::int32_t ADCARD_CALL AdcardSimulated() { return 1; }
static_assert(std::is_same_v<decltype(&AdcardSimulated), zqd::card_ops::AdcardSimulatedFn>);

// The exports must match the table the program binds by.
#define ZQD_CHECK_SIGNATURE(name, result, args) \
    static_assert(std::is_same_v<decltype(&name), zqd::card_ops::name##Fn>, #name);
ZQD_CARD_OPERATIONS(ZQD_CHECK_SIGNATURE)
#undef ZQD_CHECK_SIGNATURE
