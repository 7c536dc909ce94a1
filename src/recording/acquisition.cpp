#include "recording/acquisition.h"

namespace zqd {

StartOutcome StartAcquisition(DllDef& dll, Card& card, const std::function<void()>& buffersCreated) {
    auto refused = [&card] {
        return StartOutcome{StartOutcome::kCardRefused, "Error=" + std::to_string(card.GetLastADError())};
    };
    try {
        card.StopIntr();
        if (card.Initial(320, 5, 0, 0) == 0) return refused();
        std::string why;
        if (!CreateBuffers(dll, why)) return {StartOutcome::kNoBuffers, "无法开始采集：" + why};
        if (buffersCreated) buffersCreated();
        if (card.StartIntr(dll.BufNum, dll.ChnPoints, dll.StartChn, dll.ChnNum, dll.SampleFrq, dll.StartParam6,
                           dll.StartParam7) == 0)
            return refused();
    } catch (const CardError& e) {
        return {StartOutcome::kNoLibrary, e.what()};
    }
    return {};
}

}  // namespace zqd
