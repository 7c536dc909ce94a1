#include "card/card.h"

#include <cstdlib>

#include "platform/library.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace zqd {

std::vector<std::filesystem::path> DllCard::DefaultCandidates() {
    std::vector<std::filesystem::path> paths;
    // A library named by the user is the only one: never fall back to
    // another (the simulated card beside the program) behind their back.
    if (const char* env = std::getenv("ADCARD_LIBRARY"); env && *env) {
        paths.push_back(platform::PathFromUtf8(env));
        return paths;
    }
    paths.push_back(platform::ExecutableDir() / platform::CardLibraryFileName());
    paths.emplace_back(platform::CardLibraryFileName());
    return paths;
}

std::string DllCard::LibraryPath() const {
    if (loaded_path_.empty()) return {};
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(loaded_path_, ec);
    return platform::PathText(ec ? loaded_path_ : absolute);
}

DllCard::DllCard(std::vector<std::filesystem::path> candidates) : candidates_(std::move(candidates)) {}

// The library stays loaded for the life of the process: the card may still be
// acquiring into the library's buffers when this object goes away.
DllCard::~DllCard() = default;

void* DllCard::Resolve(const std::string& export_name) {
    using Why = Status::Why;
    if (!handle_) {
        std::string reasons;
        for (const auto& path : candidates_) {
            auto lib = platform::OpenLibrary(path);
            if (lib) {
                handle_ = *lib;
                loaded_path_ = path;
                break;
            }
            reasons += "\r\n  " + platform::PathText(path) + ": " + lib.status().text;
        }
        if (!handle_)
            throw CardError(Status::Fail(Status::Code::kNoLibrary, Why::kLibraryMissing)
                                .About(candidates_.size() == 1 ? platform::PathText(candidates_.front())
                                                               : std::string(platform::CardLibraryFileName()))
                                .And(export_name)
                                .Said(reasons));
        // Only the simulated card has this export: it says so itself.
        if (auto marker = platform::FindSymbol(handle_, card_ops::ExportName("AdcardSimulated", card_ops::AdcardSimulatedFn{})))
            simulated_ = reinterpret_cast<card_ops::AdcardSimulatedFn>(*marker)() == 1;
    }
    auto symbol = platform::FindSymbol(handle_, export_name);
    if (!symbol)
        throw CardError(Status::Fail(Status::Code::kNoLibrary, Why::kExportMissing)
                            .About(platform::PathText(loaded_path_))
                            .And(export_name)
                            .Said(symbol.status().text));
    return *symbol;
}

template <typename Fn>
Fn DllCard::Bind(Fn& slot, const char* name) {
    if (!slot) slot = reinterpret_cast<Fn>(Resolve(card_ops::ExportName(name, slot)));
    return slot;
}

std::int32_t DllCard::Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
    return Bind(Initial_, "Initial")(a, b, c, d);
}

std::int32_t DllCard::StartIntr(std::int16_t bufNum, std::int32_t chnPoints, std::int16_t startChn,
                                std::int16_t chnNum, std::int32_t sampleFrq, std::int32_t param6,
                                std::int16_t param7) {
    return Bind(StartIntr_, "StartIntr")(bufNum, chnPoints, startChn, chnNum, sampleFrq, param6, param7);
}

std::int32_t DllCard::StopIntr() { return Bind(StopIntr_, "StopIntr")(); }
std::int32_t DllCard::GetLastADError() { return Bind(GetLastADError_, "GetLastADError")(); }
std::int32_t DllCard::QueryBuf() { return Bind(QueryBuf_, "QueryBuf")(); }
std::int32_t DllCard::ADResult(std::int16_t* buffer) { return Bind(ADResult_, "ADResult")(buffer); }

std::int16_t DllCard::Zqd_DI(std::int16_t count, std::int16_t* words) {
    return Bind(Zqd_DI_, "Zqd_DI")(count, words);
}

std::int16_t DllCard::Zqd_DO(std::int16_t group, std::int16_t value) {
    return Bind(Zqd_DO_, "Zqd_DO")(group, value);
}

}  // namespace zqd
