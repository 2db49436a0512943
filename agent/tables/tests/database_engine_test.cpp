// The engine binding over the real KES04.DLL: binding by name, missing
// library and export, the context's start and close, the error check and the
// conversion settings with their undo.
#include "agent/tables/database_engine.h"

#include <gtest/gtest.h>

#include "agent/tables/tests/engine_fixture.h"

namespace tavrel::tables {
namespace {

using testing::EngineTest;

TEST(Kes04Library, MissingLibraryGivesFailureValuesAndLogsNeverCrashes) {
    std::vector<std::string> lines;
    Kes04Library library([&](const std::string& l) { lines.push_back(l); }, "NOSUCHKES04.DLL");
    EXPECT_TRUE(lines.empty()) << "nothing is loaded before the first call";
    DatabaseEngine engine(library);
    EXPECT_FALSE(engine.start());
    EXPECT_EQ(engine.handle(), nullptr);
    EXPECT_EQ(K4(library, d4open, nullptr, "X"), nullptr);
    EXPECT_EQ(K4(library, d4top, nullptr), kKes04Unavailable);
    EXPECT_EQ(K4(library, f4memoLen, nullptr), 0ul);
    K4(library, d4tagSelect, nullptr, nullptr);  // void: just nothing happens
    ASSERT_GE(lines.size(), 4u);
    EXPECT_NE(lines[0].find("NOSUCHKES04.DLL"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("code4initVB"), std::string::npos) << lines[0];
    ConversionSettings settings(engine);
    EXPECT_FALSE(settings.apply());
    engine.close();  // no context: nothing to do
}

TEST(Kes04Library, MissingExportIsLoggedAndTheOthersStillBind) {
    // KES01.DLL is a real library without any engine export.
    const char* bin = std::getenv("TAVREL_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    std::vector<std::string> lines;
    Kes04Library library([&](const std::string& l) { lines.push_back(l); },
                         std::string(bin) + "/KES01.DLL");
    EXPECT_EQ(K4(library, d4recCountDo, nullptr), -1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("has no function d4recCountDo"), std::string::npos) << lines[0];
}

TEST_F(EngineTest, CloseEndsTheContextAndTheHandleBecomesZeroThenStartsAgain) {
    CODE4* first = engine.handle();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(engine.start()) << "a second start keeps the running context";
    EXPECT_EQ(engine.handle(), first);
    DATA4* data = create("T1", {{"NAME", 'C', 10, 0, 0}});
    ASSERT_NE(data, nullptr);
    engine.close();
    EXPECT_EQ(engine.handle(), nullptr);
    EXPECT_FALSE(engine.started());
    ASSERT_TRUE(engine.start());
    EXPECT_NE(engine.open((folder / "T1").string()), nullptr) << "the closed table was written";
}

TEST_F(EngineTest, FailedOpenReadsClearsAndLogsTheErrorCode) {
    EXPECT_EQ(engine.open((folder / "MISSING").string()), nullptr);
    ASSERT_FALSE(logLines.empty());
    EXPECT_NE(logLines.back().find("MISSING"), std::string::npos) << logLines.back();
    EXPECT_EQ(K4(library, code4errorCode, engine.handle(), 0), 0) << "the code was cleared";
}

TEST_F(EngineTest, ConversionSettingsStorePreviousValuesAndUndoPutsThemBack) {
    K4(library, code4accessMode, engine.handle(), 2);
    K4(library, code4errGo, engine.handle(), 1);
    ConversionSettings settings(engine);
    ASSERT_TRUE(settings.apply());
    EXPECT_EQ(K4(library, code4accessMode, engine.handle(), 1), 1);
    EXPECT_EQ(K4(library, code4safety, engine.handle(), 0), 0);
    EXPECT_EQ(K4(library, code4errOpen, engine.handle(), 0), 0);
    EXPECT_EQ(K4(library, code4errOff, engine.handle(), 1), 1);
    // Asking again changes nothing: the stored values stay those from before.
    ASSERT_TRUE(settings.apply());
    settings.undo();
    EXPECT_FALSE(settings.applied());
    EXPECT_EQ(K4(library, code4accessMode, engine.handle(), 2), 2);
    EXPECT_EQ(K4(library, code4errGo, engine.handle(), 1), 1);
    EXPECT_EQ(K4(library, code4safety, engine.handle(), 1), 1);
    settings.undo();  // not applied: nothing happens
    EXPECT_EQ(K4(library, code4accessMode, engine.handle(), 2), 2);
}

TEST_F(EngineTest, UnderConversionSettingsAnUnknownFieldIsNoErrorAndCreateReplaces) {
    ConversionSettings settings(engine);
    ASSERT_TRUE(settings.apply());
    DATA4* data = create("T2", {{"NAME", 'C', 10, 0, 0}});
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(K4(library, d4field, data, "NOPE"), nullptr);
    EXPECT_EQ(K4(library, code4errorCode, engine.handle(), 0), 0);
    K4(library, d4close, data);
    EXPECT_NE(create("T2", {{"OTHER", 'C', 5, 0, 0}}), nullptr) << "safety 0 replaces";
}

}  // namespace
}  // namespace tavrel::tables
