#include "card/card.h"

#include <gtest/gtest.h>

#include "app/messages.h"
#include "card/card_ops.h"

namespace zqd {
namespace {

TEST(CardOps, DecoratedNamesComeFromTheArgumentWidths) {
    using namespace card_ops;
    EXPECT_EQ(DecoratedName("Initial", InitialFn{}), "_Initial@16");
    EXPECT_EQ(DecoratedName("StartIntr", StartIntrFn{}), "_StartIntr@28");
    EXPECT_EQ(DecoratedName("StopIntr", StopIntrFn{}), "_StopIntr@0");
    EXPECT_EQ(DecoratedName("GetLastADError", GetLastADErrorFn{}), "_GetLastADError@0");
    EXPECT_EQ(DecoratedName("QueryBuf", QueryBufFn{}), "_QueryBuf@0");
    EXPECT_EQ(DecoratedName("ADResult", ADResultFn{}), "_ADResult@4");
    EXPECT_EQ(DecoratedName("Zqd_DI", Zqd_DIFn{}), "_Zqd_DI@8");
    EXPECT_EQ(DecoratedName("Zqd_DO", Zqd_DOFn{}), "_Zqd_DO@8");
}

TEST(DllCard, MissingLibraryIsAClearErrorNamingLibraryAndExport) {
    DllCard card({"/nonexistent/folder/libadcard.so"});
    try {
        card.Initial(320, 5, 0, 0);
        FAIL() << "no error";
    } catch (const CardError& e) {
        const std::string what = app::Text(e.status());
        EXPECT_NE(what.find("libadcard.so"), std::string::npos) << what;
        EXPECT_NE(what.find("Initial"), std::string::npos) << what;
        EXPECT_NE(what.find("/nonexistent/folder"), std::string::npos) << what;
    }
    // A later call tries again and fails the same way, without crashing.
    EXPECT_THROW(card.QueryBuf(), CardError);
}

TEST(DllCard, MissingExportIsAClearError) {
    DllCard card({"libm.so.6"});  // a library without the card's operations
    try {
        card.StartIntr(10, 2000, 0, 18, 2000, 0, 1);
        FAIL() << "no error";
    } catch (const CardError& e) {
        const std::string what = app::Text(e.status());
        EXPECT_NE(what.find("StartIntr"), std::string::npos) << what;
        EXPECT_NE(what.find("libm.so.6"), std::string::npos) << what;
    }
}

TEST(DllCard, BindsTheSimulatedCardByName) {
    DllCard card({"/nonexistent/libadcard.so", std::string(ZQD_BIN_DIR) + "/libadcard.so"});
    EXPECT_EQ(card.Initial(320, 5, 0, 0), 1);
    EXPECT_EQ(card.LoadedPath(), std::string(ZQD_BIN_DIR) + "/libadcard.so");
    EXPECT_EQ(card.QueryBuf(), 0);  // not started
    std::int16_t di[2] = {-1, -1};
    EXPECT_EQ(card.Zqd_DO(0, 0x5A), 1);
    card.Zqd_DI(2, di);
    EXPECT_EQ(di[0], 0x5A);
    EXPECT_EQ(card.StopIntr(), 1);
    EXPECT_TRUE(card.Simulated());  // it says so itself
    EXPECT_EQ(card.LibraryPath(), std::string(ZQD_BIN_DIR) + "/libadcard.so");

    DllCard other({"libm.so.6"});  // any library without the marker is taken as a real card
    EXPECT_THROW(other.QueryBuf(), CardError);
    EXPECT_FALSE(other.Simulated());
}

TEST(DllCard, ANamedLibraryIsTheOnlyCandidate) {
    setenv("ADCARD_LIBRARY", "/mistyped/libadcard.so", 1);
    const auto candidates = DllCard::DefaultCandidates();
    unsetenv("ADCARD_LIBRARY");
    EXPECT_EQ(candidates, std::vector<std::filesystem::path>{"/mistyped/libadcard.so"});
    EXPECT_GE(DllCard::DefaultCandidates().size(), 2u);
}

}  // namespace
}  // namespace zqd
