// An in-process card for handler tests: records every call with its
// arguments and answers from a script.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "card/card.h"

namespace zqd::test {

class ScriptedCard : public Card {
public:
    // Every call as "Name(arg, arg, ...)", in order.
    std::vector<std::string> calls;

    std::int32_t initialResult = 1;
    std::int32_t startResult = 1;
    std::int32_t lastError = 0;
    std::deque<std::int32_t> queryResults;  // QueryBuf answers; 0 once empty
    std::deque<std::int32_t> adResults;     // ADResult answers; 1 once empty
    // Fills the buffer at each ADResult call (index = call number from 0).
    std::function<void(int index, std::int16_t* words)> fill;
    std::array<std::int16_t, 2> di{};
    std::string missing;  // an operation that throws CardError, as a missing export would

    std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override {
        Log("Initial", {a, b, c, d});
        return initialResult;
    }
    std::int32_t StartIntr(std::int16_t bufNum, std::int32_t chnPoints, std::int16_t startChn,
                           std::int16_t chnNum, std::int32_t sampleFrq, std::int32_t param6,
                           std::int16_t param7) override {
        Log("StartIntr", {bufNum, chnPoints, startChn, chnNum, sampleFrq, param6, param7});
        return startResult;
    }
    std::int32_t StopIntr() override {
        Log("StopIntr", {});
        return 1;
    }
    std::int32_t GetLastADError() override {
        Log("GetLastADError", {});
        return lastError;
    }
    std::int32_t QueryBuf() override {
        Log("QueryBuf", {});
        if (queryResults.empty()) return 0;
        const auto r = queryResults.front();
        queryResults.pop_front();
        return r;
    }
    std::int32_t ADResult(std::int16_t* words) override {
        Log("ADResult", {});
        if (fill) fill(adCalls, words);
        ++adCalls;
        if (adResults.empty()) return 1;
        const auto r = adResults.front();
        adResults.pop_front();
        return r;
    }
    std::int16_t Zqd_DI(std::int16_t count, std::int16_t* words) override {
        Log("Zqd_DI", {count});
        words[0] = di[0];
        words[1] = di[1];
        return 1;
    }
    std::int16_t Zqd_DO(std::int16_t group, std::int16_t value) override {
        Log("Zqd_DO", {group, value});
        return 1;
    }

    int adCalls = 0;

    // Calls whose name starts with the given text.
    int Count(const std::string& name) const {
        int n = 0;
        for (const auto& c : calls)
            if (c.rfind(name + "(", 0) == 0) ++n;
        return n;
    }

private:
    void Log(const std::string& name, std::initializer_list<long long> args) {
        std::string s = name + "(";
        bool first = true;
        for (long long a : args) {
            if (!first) s += ", ";
            s += std::to_string(a);
            first = false;
        }
        calls.push_back(s + ")");
        if (name == missing)
            throw CardError(Status::Fail(Status::Code::kNoLibrary, Status::Why::kExportMissing).About("test").And(name));
    }
};

}  // namespace zqd::test
