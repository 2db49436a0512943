// tavrelpkg install, plan and recover run as programs on an application with
// three data folders and a package that carries a table update (CUSTOMER
// changed, ORDERS new). The crash tests end `tavrelpkg install` at every one
// of its crash points in turn; after each, `tavrelpkg recover` must give back
// the application byte for byte and the next `tavrelpkg install` must install
// the package completely.
#include <gtest/gtest.h>

#include "agent/session/tests/install_fixture.h"
#include "agent/tables/tests/conversion/conversion_fixture.h"
#include "platform/crash_point.h"

namespace tavrel::tavrelpkg {
namespace {

namespace fs = std::filesystem;
using namespace tavrel::tables::testing;
using session::testing::applicationFiles;
using session::testing::makeZip;
using session::testing::readHistory;
using platform::testing::readBytes;
using platform::testing::writeBytes;

constexpr int kRecords = 50;

class InstallProgramTest : public ConversionTest {
  protected:
    void SetUp() override {
        ConversionTest::SetUp();
        buildApplication(kRecords);
        const std::string tableUpdate =
            readBytes(folder / "UPDATE" / "TAVREL0101" / "TBLUPD0101.ZIP");
        fs::remove_all(folder / "UPDATE");
        DATA4* data = createHistoryTable();
        K4(library, d4close, data);
        K4(library, code4close, engine.handle());
        writeBytes(folder / "TAVREL32.EXE", "program v100");
        writeBytes(folder / "TAVRELUPD.VER", "TAVREL0100");
        fs::create_directories(folder / "FORMS");
        writeBytes(folder / "FORMS" / "MAIN.FRM", "main form v100");
        package = (packages.path() / "TAVREL0101.ZIP").string();
        makeZip(package, {{"TAVREL32.EXE", "program v101"},
                          {"TBLUPD0101.ZIP", tableUpdate},
                          {"FORMS/MAIN.FRM", "main form v101"},
                          {"REPORTS/NEW/SALES.RPT", "sales report"}});
        before = applicationFiles(folder.path());
    }

    int tool(const std::string& arguments, std::string* out, long crashAt = 0) {
        std::string command =
            crashAt > 0 ? "env TAVREL_CRASH_AT=" + std::to_string(crashAt) + " " : std::string();
        command += binFolder() + "/tavrelpkg " + arguments;
        int rc = -1;
        *out = runCommand(command, &rc, 120);
        return rc;
    }
    int install(const fs::path& app, std::string* out, long crashAt = 0) {
        return tool("install " + app.string() + " " + package, out, crashAt);
    }

    // The installed application: new files, converted tables, new level.
    void expectInstalled(const fs::path& app) {
        EXPECT_EQ(readBytes(app / "TAVRELUPD.VER"), "TAVREL0101");
        EXPECT_EQ(readBytes(app / "TAVREL32.EXE"), "program v101");
        EXPECT_EQ(readBytes(app / "FORMS" / "MAIN.FRM"), "main form v101");
        EXPECT_EQ(readBytes(app / "REPORTS" / "NEW" / "SALES.RPT"), "sales report");
        for (const char* data : kDataFolders) {
            EXPECT_TRUE(fs::exists(app / data / "TABLES" / "ORDERS.DBF")) << data;
        }
    }

    platform::testing::TempFolder packages;
    std::string package;
    std::map<std::string, std::string> before;
};

TEST_F(InstallProgramTest, PlanChangesNothingAndInstallDoesAllOfIt) {
    std::string out;
    ASSERT_EQ(tool("plan " + folder.path().string() + " " + package, &out), 0) << out;
    EXPECT_NE(out.find("archive test: passed"), std::string::npos) << out;
    EXPECT_NE(out.find("install replacing: TAVREL32.EXE"), std::string::npos) << out;
    EXPECT_NE(out.find("install replacing: FORMS/MAIN.FRM"), std::string::npos) << out;
    EXPECT_NE(out.find("install new: REPORTS/NEW/SALES.RPT"), std::string::npos) << out;
    EXPECT_NE(out.find("table update: TBLUPD0101.ZIP"), std::string::npos) << out;
    for (const char* data : kDataFolders) {
        EXPECT_NE(out.find(std::string("convert: ") + data + " CUSTOMER changed"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find(std::string("convert: ") + data + " ORDERS new"), std::string::npos)
            << out;
    }
    EXPECT_NE(out.find("no problem seen"), std::string::npos) << out;
    EXPECT_EQ(session::testing::snapshot(folder.path()).count("UPDATE"), 0u);
    EXPECT_EQ(applicationFiles(folder.path()), before) << "plan is a dry run";

    ASSERT_EQ(install(folder.path(), &out), 0) << out;
    EXPECT_NE(out.find("1: INSTALL OF UPDATE COMPLETED WITHOUT ANY ERRORS"), std::string::npos);
    EXPECT_NE(out.find("1: STAGE 1 - INSTALLING TABLE CONVERSION UPDATE"), std::string::npos);
    EXPECT_NE(out.find("2: "), std::string::npos) << "page 2 is printed too";
    EXPECT_TRUE(fs::exists(folder / "UPDATE" / "TAVREL0101" / "TAVREL0101.ZIP"));
    expectInstalled(folder.path());
    for (int i = 0; i < 3; ++i) expectConvertedCustomer(i, kRecords);
    ASSERT_TRUE(engine.start());
    const auto records = readHistory(engine, folder.path());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].type, "T");
    EXPECT_EQ(records[0].result, "S");
    EXPECT_EQ(records[0].text, "Table Conversion - Tables have been Converted");
    EXPECT_EQ(records[1].type, "G");
    EXPECT_EQ(records[1].result, "S");
}

TEST_F(InstallProgramTest, PlanNamesEveryProblemAndABadPackageDoesNotMoveTheLevel) {
    const std::string shortUpdate = (packages.path() / "TBLUPD0102.ZIP").string();
    makeZip(shortUpdate, {{"TABLEDES.DBF", "x"}, {"TABLEDES.CDX", "y"}});
    const fs::path badPackage = packages.path() / "TAVREL0102.ZIP";
    makeZip(badPackage, {{"README.TXT", "r"}, {"TBLUPD0102.ZIP", readBytes(shortUpdate)}});
    std::string out;
    EXPECT_EQ(tool("plan " + folder.path().string() + " " + badPackage.string(), &out), 1);
    EXPECT_NE(out.find("problem: TABLEDES does not unpack: TBLUPD0102.ZIP holds 2"),
              std::string::npos)
        << out;
    EXPECT_EQ(tool("install " + folder.path().string() + " " + badPackage.string(), &out), 1)
        << out;
    EXPECT_NE(out.find("1: FAILED TO INSTALL TABLE CONVERSION UPDATE"), std::string::npos) << out;
    EXPECT_EQ(applicationFiles(folder.path()), before);
    EXPECT_EQ(tool("plan " + folder.path().string() + " /nonexistent.zip", &out), 1);
    EXPECT_NE(out.find("problem: the package does not open"), std::string::npos) << out;
    EXPECT_EQ(tool("install /nonexistent-folder " + package, &out), 2);
}

TEST_F(InstallProgramTest, PlanNamesEachDataTableThatDoesNotOpenAndChangesNoByte) {
    // CUSTOMER changes in every data folder; each folder's copy has its own
    // defect: a data file cut inside its header, a lost index (its descriptor
    // has tags), a lost memo file (it has a memo field).
    const fs::path tables[] = {folder / "DATA00" / "TABLES", folder / "DATA01" / "TABLES",
                               folder / "DATA02" / "TABLES"};
    ASSERT_TRUE(fs::exists(tables[0] / "CUSTOMER.DBF"));
    fs::resize_file(tables[0] / "CUSTOMER.DBF", 20);
    ASSERT_TRUE(fs::remove(tables[1] / "CUSTOMER.CDX"));
    ASSERT_TRUE(fs::remove(tables[2] / "CUSTOMER.FPT"));
    const auto damaged = session::testing::snapshot(folder.path());

    std::string out;
    EXPECT_EQ(tool("plan " + folder.path().string() + " " + package, &out), 1) << out;
    for (const char* data : kDataFolders) {
        EXPECT_NE(out.find(std::string("convert: ") + data + " CUSTOMER changed"),
                  std::string::npos)
            << out;
        const std::string table = (folder / data / "TABLES" / "CUSTOMER").string();
        EXPECT_NE(out.find("problem: table does not open: " + table + "\n"), std::string::npos)
            << out;
    }
    EXPECT_NE(out.find("archive test: passed"), std::string::npos) << out;
    EXPECT_NE(out.find("problems seen: 3\n"), std::string::npos) << out;
    EXPECT_EQ(session::testing::snapshot(folder.path()), damaged) << "plan is a dry run";
}

// The crash points are shared out over four cases so that two cores run them
// side by side; case k takes every N with N % 4 == k.
class InstallCrashTest : public InstallProgramTest, public ::testing::WithParamInterface<int> {};

TEST_P(InstallCrashTest, AnInstallEndedAtAnyOperationIsUndoneThenInstalledCompletely) {
    const fs::path pristine = packages.path() / "pristine";
    fs::copy(folder.path(), pristine, fs::copy_options::recursive);
    std::string out;
    ASSERT_EQ(install(folder.path(), &out), 0) << out;
    const size_t at = out.find("crash points passed: ");
    ASSERT_NE(at, std::string::npos) << out;
    const long total = std::stol(out.substr(at + 21));
    ASSERT_GT(total, 20) << out;
    const fs::path work = packages.path() / "work";
    for (long n = 1 + GetParam(); n <= total; n += 4) {
        SCOPED_TRACE("crash at " + std::to_string(n) + " of " + std::to_string(total));
        fs::remove_all(work);
        fs::copy(pristine, work, fs::copy_options::recursive);
        ASSERT_EQ(install(work, &out, n), platform::kCrashExitCode) << out;
        ASSERT_NE(out.find("crash point " + std::to_string(n) + ":"), std::string::npos) << out;
        ASSERT_EQ(tool("recover " + work.string(), &out), 0) << out;
        ASSERT_EQ(applicationFiles(work), before) << out;
        ASSERT_EQ(install(work, &out), 0) << out;
        expectInstalled(work);
        int rc = -1;
        const std::string check = runCommand(
            binFolder() + "/xbtool check " + (work / "DATA02" / "TABLES" / "CUSTOMER").string(),
            &rc);
        ASSERT_EQ(rc, 0) << check;
    }
}

INSTANTIATE_TEST_SUITE_P(Quarters, InstallCrashTest, ::testing::Values(0, 1, 2, 3));

}  // namespace
}  // namespace tavrel::tavrelpkg
