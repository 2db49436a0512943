#include "platform/crash_point.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "temp_folder.h"

namespace tavrel::platform {
namespace {

using testing::TempFolder;

struct CrashRun {
    int exitCode = -1;
    std::string steps;  // the numbers the helper wrote, one per line
};

// Runs the helper through `count` crash points with TAVREL_CRASH_AT set to `at`
// (empty: unset).
CrashRun runCrashHelper(const std::string& at, int count) {
    TempFolder folder;
    const std::string file = (folder.path() / "steps.txt").string();
    const char* dir = std::getenv("TAVREL_BIN_DIR");
    std::string command =
        at.empty() ? "env -u TAVREL_CRASH_AT " : "env TAVREL_CRASH_AT='" + at + "' ";
    command += "timeout 20 " +
               (std::filesystem::path(dir ? dir : ".") / "platform_test_helper").string() +
               " crash '" + file + "' " + std::to_string(count) + " 2>/dev/null";
    const int status = std::system(command.c_str());
    CrashRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    run.steps = text.str();
    return run;
}

TEST(CrashPoint, EndsTheProcessAtTheNthPointBeforeItsOperation) {
    const CrashRun run = runCrashHelper("3", 5);
    EXPECT_EQ(run.exitCode, kCrashExitCode);
    EXPECT_EQ(run.steps, "1\n2\n");
}

TEST(CrashPoint, FirstPointEndsBeforeAnyOperation) {
    const CrashRun run = runCrashHelper("1", 5);
    EXPECT_EQ(run.exitCode, kCrashExitCode);
    EXPECT_EQ(run.steps, "");
}

TEST(CrashPoint, UnsetBadOrTooLargeValuesNeverEndTheProcess) {
    for (const std::string at : {"", "0", "-2", "x3", "3x", "6"}) {
        const CrashRun run = runCrashHelper(at, 5);
        EXPECT_EQ(run.exitCode, 0) << at;
        EXPECT_EQ(run.steps, "1\n2\n3\n4\n5\n") << at;
    }
}

TEST(CrashPoint, CountsThePointsPassed) {
    const std::int64_t before = crashPointsPassed();
    crashPoint("one");
    crashPoint("two");
    EXPECT_EQ(crashPointsPassed(), before + 2);
}

}  // namespace
}  // namespace tavrel::platform
