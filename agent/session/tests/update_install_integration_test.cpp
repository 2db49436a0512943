// The session with the real package installation: packages made as real zip
// archives by Python's zipfile, downloaded from a loopback server and
// installed into the application folder; a damaged archive fails its
// installation and ends the processing.
#include <gtest/gtest.h>

#include <cstdlib>

#include "agent/session/package_install.h"
#include "agent/session/tests/update_session_fixture.h"

namespace tavrel::session::testing {
namespace {

using tavrel::testing::readBytes;

class NoTableConversion : public TableConversionStage {
  public:
    bool UpdTableConvert(const PackageNames&) override { return true; }
    int recoverInterruptedConversion(const PackageNames&) override { return 0; }
};

// A zip archive at `path` holding `name` with `content`, written by an
// independent zip writer.
void makeZip(const fs::path& path, const std::string& name, const std::string& content) {
    fs::create_directories(path.parent_path());
    const std::string command =
        "/usr/bin/python3 -c 'import sys, zipfile; "
        "zipfile.ZipFile(sys.argv[1], \"w\").writestr(sys.argv[2], "
        "sys.argv[3])' '" +
        path.string() + "' '" + name + "' '" + content + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

TEST_F(SessionTest, RealInstallationInstallsInOrderAndADamagedPackageStopsTheRun) {
    startServer();
    makeZip(server->root() / kFolder4 / "TAVREL0123.ZIP", "README.TXT", "version 123");
    makeZip(server->root() / kFolder4 / "TAVREL0124.ZIP", "DATA/NOTES.TXT", "notes 124");
    server->put(kFolder4 + "TAVREL0125.ZIP", "this is not a zip archive");
    makeZip(server->root() / kFolder4 / "TAVREL0126.ZIP", "README.TXT", "version 126");
    setLevels("TAVREL0122", "UPDATE0011");
    open(true);
    NoTableConversion conversion;
    InstallTools tools(session->windowLog(), *window, versions, conversion);
    tools.pages = window.get();
    PackageInstaller installer(tools, state.applicationFolder);
    session->setInstallation(&installer);
    session->cmdConnectClick();

    EXPECT_EQ(readBytes(applicationFolder() / "README.TXT"), "version 123");
    EXPECT_EQ(readBytes(applicationFolder() / "DATA/NOTES.TXT"), "notes 124");
    EXPECT_EQ(appLevel(), "TAVREL0124");
    EXPECT_EQ(window->panels["CURVERSION"], "TAVREL0124");
    EXPECT_EQ(window->linesStarting("RESULT: "),
              (std::vector<std::string>{"RESULT: INSTALL SUCCESS TAVREL UPDATE: TAVREL0123",
                                        "RESULT: INSTALL SUCCESS TAVREL UPDATE: TAVREL0124",
                                        "RESULT: INSTALL FAILED TAVREL UPDATE: TAVREL0125"}));
    EXPECT_FALSE(platform::folderExists(applicationFolder() / "UPDATE/TAVREL0126"))
        << "the package after a failed one waits";
    EXPECT_EQ(session->lastSessionResult(), int(SessionResult::kInstallFailed));
    EXPECT_NE(session->windowLog().pageText(1).find("TAVREL0125"), std::string::npos);
}

}  // namespace
}  // namespace tavrel::session::testing
