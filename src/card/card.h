// The card as the windows see it: one virtual call per operation of the card
// library. `DllCard` binds the real (or simulated) library; tests script one.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "card/card_ops.h"
#include "common/status.h"

namespace zqd {

// The card library or one of its exports could not be used: thrown by a
// card's operation, caught by the session, which alone calls the card. The
// status (kNoLibrary) names the library and the export.
class CardError : public std::runtime_error {
public:
    explicit CardError(Status status) : std::runtime_error("card library unavailable"), status_(std::move(status)) {}
    const Status& status() const { return status_; }

private:
    Status status_;
};

class Card {
public:
    virtual ~Card() = default;
    virtual std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) = 0;
    virtual std::int32_t StartIntr(std::int16_t bufNum, std::int32_t chnPoints, std::int16_t startChn,
                                   std::int16_t chnNum, std::int32_t sampleFrq, std::int32_t param6,
                                   std::int16_t param7) = 0;
    virtual std::int32_t StopIntr() = 0;
    virtual std::int32_t GetLastADError() = 0;
    virtual std::int32_t QueryBuf() = 0;
    virtual std::int32_t ADResult(std::int16_t* buffer) = 0;
    virtual std::int16_t Zqd_DI(std::int16_t count, std::int16_t* words) = 0;
    virtual std::int16_t Zqd_DO(std::int16_t group, std::int16_t value) = 0;

    // The library behind the card, once it is loaded (empty for a card of
    // the program's own, as in tests), and whether it is the simulated one.
    virtual std::string LibraryPath() const { return {}; }
    virtual bool Simulated() const { return false; }
};


// The card library, loaded at the first call of any operation and each
// export bound at its own first call. A library or export that cannot be
// found throws CardError at that call; nothing is retried behind the caller's
// back, but a later call tries again.
class DllCard final : public Card {
public:
    // Where the library is looked for, in order: $ADCARD_LIBRARY, the library
    // beside the executable, then the bare file name for the system's search.
    static std::vector<std::filesystem::path> DefaultCandidates();

    explicit DllCard(std::vector<std::filesystem::path> candidates = DefaultCandidates());
    ~DllCard() override;
    DllCard(const DllCard&) = delete;
    DllCard& operator=(const DllCard&) = delete;

    std::int32_t Initial(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override;
    std::int32_t StartIntr(std::int16_t bufNum, std::int32_t chnPoints, std::int16_t startChn,
                           std::int16_t chnNum, std::int32_t sampleFrq, std::int32_t param6,
                           std::int16_t param7) override;
    std::int32_t StopIntr() override;
    std::int32_t GetLastADError() override;
    std::int32_t QueryBuf() override;
    std::int32_t ADResult(std::int16_t* buffer) override;
    std::int16_t Zqd_DI(std::int16_t count, std::int16_t* words) override;
    std::int16_t Zqd_DO(std::int16_t group, std::int16_t value) override;

    // The library file that was loaded, empty before the first call.
    const std::filesystem::path& LoadedPath() const { return loaded_path_; }
    std::string LibraryPath() const override;
    bool Simulated() const override { return simulated_; }

private:
    void* Resolve(const std::string& export_name);
    template <typename Fn>
    Fn Bind(Fn& slot, const char* name);

    std::vector<std::filesystem::path> candidates_;
    std::filesystem::path loaded_path_;
    void* handle_ = nullptr;
    bool simulated_ = false;
#define ZQD_SLOT(name, result, args) card_ops::name##Fn name##_ = nullptr;
    ZQD_CARD_OPERATIONS(ZQD_SLOT)
#undef ZQD_SLOT
};

}  // namespace zqd
