// tavrelpkg on real tables made by KES04.DLL in a scratch application folder:
// checksums stamped and verified (and a changed record found), the history
// list and its trim, the descriptor scan, and the exit codes of the program.
#include "tools/tavrelpkg/tavrelpkg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "agent/history/history_table.h"
#include "agent/session/tests/install_fixture.h"
#include "agent/tables/tests/engine_fixture.h"

namespace tavrel::tavrelpkg {
namespace {

class TavrelpkgTest : public tables::testing::EngineTest {
  protected:
    int tool(std::vector<std::string> args) {
        out.str("");
        err.str("");
        return run(args, out, err);
    }
    // A new, empty TABLEUPL and the history over it, open.
    std::unique_ptr<history::HistoryTable> openNewHistory(platform::Clock& clock) {
        DATA4* data = createHistoryTable();
        K4(library, d4close, data);
        auto table = std::make_unique<history::HistoryTable>(engine, clock, folder.text());
        EXPECT_NE(table->OpenHistoryTable(), nullptr);
        return table;
    }
    // The lines the last command wrote to standard output.
    long lines() const {
        const std::string text = out.str();
        return long(std::count(text.begin(), text.end(), '\n'));
    }
    std::ostringstream out, err;
};

TEST_F(TavrelpkgTest, StampThenVerifyThenAChangedRecordIsNamed) {
    DATA4* data = create("CUSTOMER", {{"CHECK_SUM", 'C', 40, 0, 0}, {"CODE", 'C', 10, 0, 0}});
    for (const char* code : {"A", "B", "C"}) append(data, {{"CODE", code}});
    K4(library, d4close, data);
    const std::string table = (folder / "CUSTOMER").string();
    ASSERT_EQ(tool({"checksums", "stamp", table}), 0) << err.str();
    EXPECT_EQ(out.str(), "stamped\n");
    ASSERT_EQ(tool({"checksums", "verify", table}), 0) << err.str();
    EXPECT_EQ(out.str(), "verified\n");

    data = engine.open(table);
    K4(library, d4goLow, data, 2L, short(1));
    ASSERT_TRUE(tables::writeField(engine, data, "CODE", "B changed"));
    K4(library, d4close, data);
    EXPECT_EQ(tool({"checksums", "verify", table}), 1);
    EXPECT_EQ(out.str(), "mismatch at record 2\n");
}

TEST_F(TavrelpkgTest, BadArgumentsAndMissingTablesExitWithTwo) {
    EXPECT_EQ(tool({}), 2);
    EXPECT_NE(err.str().find("usage"), std::string::npos);
    EXPECT_EQ(tool({"checksums", "mend", "X"}), 2);
    EXPECT_EQ(tool({"checksums", "verify", (folder / "NOPE").string()}), 2);
    EXPECT_NE(err.str().find("NOPE"), std::string::npos) << err.str();
    EXPECT_EQ(tool({"history", folder.text()}), 2) << "no TABLEUPL";
    EXPECT_EQ(tool({"scan", folder.text()}), 2) << "no TABLEDES";
    EXPECT_EQ(tool({"history", folder.text(), "--bogus"}), 2);
}

TEST_F(TavrelpkgTest, HistoryListsItemsAndTrimKeepsTheNewest) {
    platform::FixedClock clock({2026, 5, 4, 12, 0, 0});
    auto history = openNewHistory(clock);
    history::HistoryTable& table = *history;
    table.RegisterUpdateRecord("TAVREL0130", "TAVREL0130", "G");
    table.CompleteUpdateRecord("TAVREL0130", "TAVREL0130", "F", "broke", "r");
    clock.advanceMinutes(1);
    table.RegisterUpdateRecord("TAVREL0131", "TAVREL0131", "G");
    table.CompleteUpdateRecord("TAVREL0131", "TAVREL0131", "S", "fine", "r");
    table.CloseHistoryTable();

    ASSERT_EQ(tool({"history", folder.text()}), 0) << err.str();
    EXPECT_EQ(
        out.str(),
        "TAVREL0131\tTAVREL0131          \t04 May 2026 12:01:00\tTavrel App.\tCompleted\tfine\n"
        "TAVREL0130\tTAVREL0130          \t04 May 2026 12:00:00\tTavrel App.\tFailed\tbroke"
        "\tFAILED\n");
    ASSERT_EQ(tool({"history", folder.text(), "--trim", "--keep", "1"}), 0) << err.str();
    EXPECT_EQ(out.str().find("TAVREL0130"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("TAVREL0131"), std::string::npos) << out.str();
}

TEST_F(TavrelpkgTest, ScanPrintsOneLinePerWorkItemOrNothingToDo) {
    std::vector<FIELD4INFO> fields = {{"TBL_NAME", 'C', 20, 0, 0},
                                      {"TBL_PATH", 'C', 10, 0, 0},
                                      {"ENABLED", 'C', 1, 0, 0},
                                      {"FIELDARRAY", 'M', 10, 0, 0},
                                      {"TAGARRAY", 'M', 10, 0, 0}};
    const std::vector<TAG4INFO> order = {{"TBL_ORDER", "TRIM(TBL_PATH)+\"\\\"+TBL_NAME", "", 0, 0}};
    DATA4* des = create("TABLEDES", fields, order);
    fields.insert(fields.begin(), {"CHECK_SUM1", 'C', 40, 0, 0});
    DATA4* det = create("TABLEDET", fields, order);
    K4(library, d4close, des);
    K4(library, d4close, det);
    std::filesystem::create_directory(folder / "DATA00");
    std::filesystem::create_directory(folder / "DATA01");
    ASSERT_EQ(tool({"scan", folder.text()}), 0) << err.str();
    EXPECT_EQ(out.str(), "no table needs converting\n");

    des = engine.open((folder / "TABLEDES").string());
    append(des, {{"TBL_NAME", "CUSTOMER"},
                 {"TBL_PATH", "LICTBL"},
                 {"ENABLED", "4"},
                 {"FIELDARRAY", "0^^CODE^^C^^10^^0"}});
    K4(library, d4close, des);
    const auto before = session::testing::snapshot(folder.path());
    ASSERT_EQ(tool({"scan", folder.text()}), 0) << err.str();
    EXPECT_EQ(out.str(), "DATA00\tCUSTOMER\tnew\nDATA01\tCUSTOMER\tnew\n");
    // A look only: no work folder made, no byte of a table changed.
    const auto after = session::testing::snapshot(folder.path());
    EXPECT_EQ(after.size(), before.size());
    for (const auto& [name, bytes] : after) {
        auto it = before.find(name);
        EXPECT_TRUE(it != before.end() && it->second == bytes) << name << " made or changed";
    }
}

TEST_F(TavrelpkgTest, AKeepCountThatIsNoNumberFromOneOnTrimsNothing) {
    platform::FixedClock clock({2026, 5, 4, 12, 0, 0});
    auto history = openNewHistory(clock);
    history::HistoryTable& table = *history;
    for (const char* key : {"TAVREL0130", "TAVREL0131", "TAVREL0132"}) {
        table.RegisterUpdateRecord(key, key, "G");
        table.CompleteUpdateRecord(key, key, "S", "fine", "r");
        clock.advanceMinutes(1);
    }
    table.CloseHistoryTable();
    for (const char* keep : {"0", "x", "-3", "5O", "", "+2", "2.5", "99999999999"}) {
        EXPECT_EQ(tool({"history", folder.text(), "--trim", "--keep", keep}), 2) << keep;
        EXPECT_NE(err.str().find("--keep"), std::string::npos) << keep << ": " << err.str();
    }
    ASSERT_EQ(tool({"history", folder.text()}), 0) << err.str();
    EXPECT_EQ(lines(), 3) << out.str();
    ASSERT_EQ(tool({"history", folder.text(), "--trim", "--keep", "2"}), 0) << err.str();
    EXPECT_EQ(out.str().find("TAVREL0130"), std::string::npos) << out.str();
    EXPECT_EQ(lines(), 2) << out.str();
}

TEST_F(TavrelpkgTest, VerifySaysWhatItCouldNotCheck) {
    DATA4* data = create("PLAIN", {{"CODE", 'C', 10, 0, 0}});
    append(data, {{"CODE", "A"}});
    K4(library, d4close, data);
    ASSERT_EQ(tool({"checksums", "verify", (folder / "PLAIN").string()}), 0) << err.str();
    EXPECT_EQ(out.str(), "nothing to verify: the table has no CHECK_SUM1 or CHECK_SUM field\n");

    // Verification ends at the first blank CHECK_SUM1; the answer says where.
    data = create("TABLEDET", {{"CHECK_SUM1", 'C', 40, 0, 0}, {"TBL_NAME", 'C', 20, 0, 0}});
    for (const char* name : {"A", "B", "C", "D"}) append(data, {{"TBL_NAME", name}});
    K4(library, d4close, data);
    const std::string det = (folder / "TABLEDET").string();
    ASSERT_EQ(tool({"checksums", "verify", det}), 0) << err.str();
    EXPECT_EQ(out.str(), "nothing verified: record 1 has no CHECK_SUM1\n");
    ASSERT_EQ(tool({"checksums", "stamp", det}), 0) << err.str();
    data = engine.open(det);
    K4(library, d4goLow, data, 3L, short(1));
    ASSERT_TRUE(tables::writeField(engine, data, "CHECK_SUM1", ""));
    K4(library, d4goLow, data, 4L, short(1));
    ASSERT_TRUE(tables::writeField(engine, data, "TBL_NAME", "changed"));
    K4(library, d4close, data);
    ASSERT_EQ(tool({"checksums", "verify", det}), 0) << err.str();
    EXPECT_EQ(out.str(),
              "verified records 1 to 2; record 3 has no CHECK_SUM1, the records from it on are "
              "not checked\n");
    ASSERT_EQ(tool({"checksums", "stamp", det}), 0) << err.str();
    ASSERT_EQ(tool({"checksums", "verify", det}), 0) << err.str();
    EXPECT_EQ(out.str(), "verified\n");
}

TEST_F(TavrelpkgTest, HelpGoesToStandardOutputWithExitZero) {
    for (const char* word : {"help", "--help", "-h"}) {
        EXPECT_EQ(tool({word}), 0) << word;
        EXPECT_NE(out.str().find("checksums verify TABLE"), std::string::npos) << out.str();
        EXPECT_NE(out.str().find("recover APPFOLDER"), std::string::npos) << out.str();
        EXPECT_EQ(err.str(), "");
    }
}

TEST(TavrelpkgProgram, TheProgramGivesTheExitCodes) {
    const char* bin = std::getenv("TAVREL_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    const std::string program = std::string(bin) + "/tavrelpkg";
    EXPECT_EQ(WEXITSTATUS(std::system((program + " > /dev/null 2>&1").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(std::system(
                  (program + " checksums verify /nonexistent/T >/dev/null 2>&1").c_str())),
              2);
}

// A table with checksums, the program and KES04.DLL in a folder without
// KES01.DLL: verification cannot be made and says so instead of naming a
// record, and stamping writes nothing.
TEST_F(TavrelpkgTest, WithoutKes01VerificationIsAnErrorNotAMismatch) {
    const char* bin = std::getenv("TAVREL_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    DATA4* data = create("CUSTOMER", {{"CHECK_SUM", 'C', 40, 0, 0}, {"CODE", 'C', 10, 0, 0}});
    append(data, {{"CODE", "A"}});
    K4(library, d4close, data);
    const std::string table = (folder / "CUSTOMER").string();
    ASSERT_EQ(tool({"checksums", "stamp", table}), 0) << err.str();

    const std::filesystem::path programs = folder.path() / "programs";
    std::filesystem::create_directory(programs);
    for (const char* file : {"tavrelpkg", "KES04.DLL"}) {
        std::filesystem::copy_file(std::filesystem::path(bin) / file, programs / file);
    }
    const std::string program = (programs / "tavrelpkg").string();
    const std::string errors = (folder.path() / "errors.txt").string();
    const auto before = platform::testing::readBytes(table + ".dbf");
    EXPECT_EQ(WEXITSTATUS(std::system(
                  (program + " checksums verify " + table + " >/dev/null 2>" + errors).c_str())),
              2);
    EXPECT_NE(platform::testing::readBytes(errors).find("cannot verify"), std::string::npos)
        << platform::testing::readBytes(errors);
    EXPECT_EQ(WEXITSTATUS(std::system(
                  (program + " checksums stamp " + table + " >/dev/null 2>&1").c_str())),
              1);
    EXPECT_EQ(platform::testing::readBytes(table + ".dbf"), before);
}

}  // namespace
}  // namespace tavrel::tavrelpkg
