// The history table TABLEUPL.DBF on real files made by KES04.DLL: the
// two-phase write, the installer import, the report, loading the list with
// its clear, enable and keep rules, and trimming.
#include "agent/history/history_table.h"

#include <gtest/gtest.h>

#include "agent/tables/engine_fields.h"
#include "agent/tables/tests/engine_fixture.h"
#include "platform/files.h"

namespace tavrel::history {
namespace {

using platform::testing::writeBytes;

class HistoryTest : public tables::testing::EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        DATA4* data = createHistoryTable();
        ASSERT_NE(data, nullptr);
        K4(library, d4close, data);
    }

    // Registers and completes one update at a fixed time plus `minutes`.
    void record(const char* level, const char* archive, const char* type, const char* result,
                int minutes) {
        clock.set(platform::DateTime{2026, 3, 1, 10, 0, 0}.plusMinutes(minutes));
        ASSERT_NE(history.OpenHistoryTable(), nullptr);
        ASSERT_TRUE(history.RegisterUpdateRecord(level, archive, type));
        ASSERT_TRUE(history.CompleteUpdateRecord(level, archive, result, "  done  ", "report"));
        history.CloseHistoryTable();
    }

    platform::FixedClock clock{platform::DateTime{2026, 3, 1, 10, 0, 0}};
    HistoryTable history{engine, clock, folder.text()};
};

TEST_F(HistoryTest, RegisterThenCompleteWritesTheFieldsAndTheReport) {
    clock.set({2026, 3, 1, 9, 5, 7});
    ASSERT_NE(history.OpenHistoryTable(), nullptr);
    ASSERT_TRUE(history.RegisterUpdateRecord("TAVREL0122", "TBLUPD0001.ZIP", "T"));
    clock.set({2026, 3, 1, 9, 6, 8});
    ASSERT_TRUE(history.CompleteUpdateRecord("TAVREL0122", "TBLUPD0001.ZIP", "S", "ok line",
                                             "full\r\nreport"));
    EXPECT_FALSE(history.CompleteUpdateRecord("TAVREL0122", "OTHER.ZIP", "S", "x", "y"))
        << "a missing record is not created";
    EXPECT_FALSE(history.CompleteUpdateRecord("TAVREL0122", "TBLUPD", "S", "x", "y"))
        << "a record whose key only starts with the one asked for is another update's";
    history.CloseHistoryTable();
    DATA4* data = engine.open((folder / "TABLEUPL").string());
    ASSERT_EQ(K4(library, d4recCountDo, data), 1);
    K4(library, d4top, data);
    EXPECT_EQ(tables::readField(engine, data, "CREATE_BY"), "01 Mar 2026 09:05:07");
    EXPECT_EQ(tables::readField(engine, data, "UPDATE_ON"), "20260301090608");
    EXPECT_EQ(tables::readField(engine, data, "ACT_FLAG"), "T");
    EXPECT_EQ(tables::readField(engine, data, "DESC_MEMO"), "full\r\nreport");
    K4(library, d4close, data);
    EXPECT_EQ(history.ReadUpdateReport("TAVREL0122TBLUPD0001.ZIP      "), "full\r\nreport");
    EXPECT_EQ(history.ReadUpdateReport("TAVREL0999"), std::nullopt);
}

TEST_F(HistoryTest, AnAgentUpdateRegisteredAgainMovesItsCreationTimeOthersStay) {
    record("UPDATE0007", "", "U", "F", 0);
    record("TAVREL0122", "TAVREL0122", "G", "S", 1);
    clock.set({2026, 4, 2, 8, 0, 0});
    ASSERT_NE(history.OpenHistoryTable(), nullptr);
    ASSERT_TRUE(history.RegisterUpdateRecord("UPDATE0007", "", "U"));
    ASSERT_TRUE(history.RegisterUpdateRecord("TAVREL0122", "TAVREL0122", "G"));
    history.CloseHistoryTable();
    DATA4* data = engine.open((folder / "TABLEUPL").string());
    ASSERT_EQ(K4(library, d4recCountDo, data), 2);
    K4(library, d4goLow, data, 1L, short(0));
    EXPECT_EQ(tables::readField(engine, data, "CREATE_BY").substr(0, 11), "02 Apr 2026");
    K4(library, d4goLow, data, 2L, short(0));
    EXPECT_EQ(tables::readField(engine, data, "CREATE_BY").substr(0, 11), "01 Mar 2026");
    K4(library, d4close, data);
}

TEST_F(HistoryTest, ImportOfAnEmptyResultFileIsAFailureAndFilesStayUntilTheLevelIsInstalled) {
    record("UPDATE0008", "", "U", "S", 0);
    writeBytes(folder / "UPDATELOG.RES", "");
    writeBytes(folder / "UPDATELOG.TXT", "installer said no");
    writeBytes(folder / "UPDATE.VER", "UPDATE0008");
    std::string installed = "UPDATE0007";
    const auto level = [&] { return installed; };
    EXPECT_TRUE(history.ImportInstallerResult(folder.text(), level));
    EXPECT_TRUE(platform::fileExists(folder / "UPDATELOG.RES"));
    UpdateListModel list;
    history.LoadUpdateList(list, true, 100, nullptr);
    ASSERT_EQ(list.count(), 1u);
    EXPECT_TRUE(list.items()[0].failed);
    EXPECT_EQ(list.items()[0].subItems[3], "Failed");
    EXPECT_EQ(list.items()[0].toolTip, "INSTALL OF UPDATE FAILED DUE TO AN ERROR");
    EXPECT_EQ(history.ReadUpdateReport(list.items()[0].key), "installer said no");

    writeBytes(folder / "UPDATELOG.RES", "S");
    installed = "UPDATE0008";
    EXPECT_TRUE(history.ImportInstallerResult(folder.text(), level));
    EXPECT_FALSE(platform::fileExists(folder / "UPDATELOG.RES"));
    EXPECT_FALSE(platform::fileExists(folder / "UPDATELOG.TXT"));
    history.LoadUpdateList(list, true, 100, nullptr);
    EXPECT_FALSE(list.items()[0].failed);
    EXPECT_EQ(list.items()[0].subItems[3], "Completed");
}

TEST_F(HistoryTest, ImportWithoutALevelCompletesNothing) {
    record("UPDATE0008", "", "U", "S", 0);
    writeBytes(folder / "UPDATELOG.RES", "F");
    writeBytes(folder / "UPDATE.VER", "");
    EXPECT_FALSE(history.ImportInstallerResult(folder.text(), [] { return std::string(); }));
    EXPECT_TRUE(platform::fileExists(folder / "UPDATELOG.RES"));
}

TEST_F(HistoryTest, ListShowsDisplayTextsRefreshesInPlaceAndRebuildsAfterTrim) {
    record("TAVREL0120", "TAVREL0120", "G", "S", 0);
    record("TAVREL0121", "TBLUPD0002.ZIP", "T", "F", 1);
    record("TAVREL0122", "TAVREL0122", "X", "Q", 2);
    UpdateListModel list;
    history.LoadUpdateList(list, false, 100, nullptr);
    EXPECT_EQ(list.count(), 0u) << "not configured: nothing listed";
    history.LoadUpdateList(list, true, 100, nullptr);
    ASSERT_EQ(list.count(), 3u);
    EXPECT_EQ(list.items()[0].text, "TAVREL0122") << "newest completion first";
    EXPECT_EQ(list.items()[0].subItems[2], "X");
    EXPECT_EQ(list.items()[0].subItems[3], "Q");
    EXPECT_EQ(list.items()[1].subItems[2], "TableUpdate");
    EXPECT_EQ(list.items()[1].subItems[4], "done");
    EXPECT_TRUE(list.items()[1].failed);
    EXPECT_FALSE(list.items()[0].failed);
    EXPECT_EQ(list.items()[2].subItems[2], "Tavrel App.");
    EXPECT_EQ(list.items()[2].key, "TAVREL0120TAVREL0120          ");
    EXPECT_TRUE(list.trimEnabled());

    record("TAVREL0123", "TAVREL0123", "G", "S", 3);
    history.LoadUpdateList(list, true, 100, nullptr);
    ASSERT_EQ(list.count(), 4u);
    EXPECT_EQ(list.items()[0].text, "TAVREL0122") << "old items keep their places";
    EXPECT_EQ(list.items()[3].text, "TAVREL0123") << "the new one goes to the end";

    EXPECT_EQ(history.TrimUpdateLogTable(1), 3);
    history.LoadUpdateList(list, true, 100, nullptr);
    ASSERT_EQ(list.count(), 1u) << "fewer records than items: the list is rebuilt";
    EXPECT_EQ(list.items()[0].text, "TAVREL0123");
    EXPECT_FALSE(list.trimEnabled()) << "one item: trim disabled";
    // Trimming marks deleted, it does not pack: the records are still there.
    DATA4* data = engine.open((folder / "TABLEUPL").string());
    EXPECT_EQ(K4(library, d4recCountDo, data), 4);
    K4(library, d4close, data);
}

TEST_F(HistoryTest, TrimKeepsUncompletedRecordsAndRunsPastKeepLastRecords) {
    record("TAVREL0120", "TAVREL0120", "G", "S", 0);
    record("TAVREL0121", "TAVREL0121", "G", "S", 1);
    ASSERT_NE(history.OpenHistoryTable(), nullptr);
    ASSERT_TRUE(history.RegisterUpdateRecord("UPDATE0009", "", "U"));
    history.CloseHistoryTable();
    UpdateListModel list;
    int trims = 0;
    history.LoadUpdateList(list, true, 3, [&] { ++trims; });
    EXPECT_EQ(trims, 0) << "three items, three to keep";
    record("TAVREL0122", "TAVREL0122", "G", "S", 2);
    history.LoadUpdateList(list, true, 3, [&] {
        ++trims;
        EXPECT_EQ(history.TrimUpdateLogTable(0), 3);
    });
    EXPECT_EQ(trims, 1);
    history.LoadUpdateList(list, true, 3, nullptr);
    ASSERT_EQ(list.count(), 1u);
    EXPECT_EQ(list.items()[0].text, "UPDATE0009") << "a record not completed is never trimmed";
}

TEST_F(HistoryTest, MissingTableChangesNothing) {
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        std::filesystem::remove(entry.path());
    }
    EXPECT_EQ(history.OpenHistoryTable(), nullptr);
    EXPECT_FALSE(history.RegisterUpdateRecord("TAVREL0122", "", "G"));
    UpdateListModel list;
    list.add("K", "K");
    history.LoadUpdateList(list, true, 0, [] { FAIL() << "no trim without a table"; });
    EXPECT_EQ(list.count(), 1u);
    EXPECT_EQ(history.TrimUpdateLogTable(0), -1);
}

}  // namespace
}  // namespace tavrel::history
