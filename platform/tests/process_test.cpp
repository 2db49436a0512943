#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/lock_file.h"
#include "temp_folder.h"

namespace tavrel::platform {
namespace {

using testing::TempFolder;

std::filesystem::path helperProgram() {
    const char* dir = std::getenv("TAVREL_BIN_DIR");
    return std::filesystem::path(dir ? dir : ".") / "platform_test_helper";
}

// Runs the helper to completion and returns its exit code.
int runHelper(const std::vector<std::string>& args) {
    std::string command = helperProgram().string();
    for (const auto& a : args) command += " '" + a + "'";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A helper process that holds a lock until it is told to let go.
class LockHolder {
  public:
    explicit LockHolder(const std::string& path) {
        std::string command = helperProgram().string() + " hold '" + path + "'";
        m_pipe = ::popen(command.c_str(), "w");
    }
    // Waits until the helper says it holds the lock (it prints to our stdout's
    // file, so poll the lock itself with a deadline instead).
    bool waitHeld(const std::string& path) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!LockFile::acquire(path)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void release() {
        if (m_pipe) ::pclose(m_pipe);
        m_pipe = nullptr;
    }
    ~LockHolder() { release(); }

  private:
    FILE* m_pipe = nullptr;
};

TEST(LockFile, SecondAcquireFailsInTheSameProcessUntilReleased) {
    TempFolder dir;
    const auto path = dir / "TAVRELUPD.LCK";
    auto first = LockFile::acquire(path);
    ASSERT_TRUE(first);
    int error = 0;
    EXPECT_FALSE(LockFile::acquire(path, &error));
    EXPECT_EQ(error, EWOULDBLOCK);
    EXPECT_FALSE(LockFile::acquire(dir / "tavrelupd.lck"));  // the same file in another case
    first.reset();
    EXPECT_TRUE(LockFile::acquire(path));
}

TEST(LockFile, IsExclusiveAcrossProcesses) {
    TempFolder dir;
    const std::string path = (dir / "TAVRELUPD.LCK").string();
    {
        auto mine = LockFile::acquire(path);
        ASSERT_TRUE(mine);
        EXPECT_EQ(runHelper({"lock", path}), 3);
    }
    EXPECT_EQ(runHelper({"lock", path}), 0);

    LockHolder other(path);
    ASSERT_TRUE(other.waitHeld(path));
    EXPECT_FALSE(LockFile::acquire(path));
    other.release();
    EXPECT_TRUE(LockFile::acquire(path));
}

TEST(LockFile, MissingFolderIsAnErrorNotACrash) {
    TempFolder dir;
    int error = 0;
    EXPECT_FALSE(LockFile::acquire(dir / "none" / "TAVRELUPD.LCK", &error));
    EXPECT_EQ(error, ENOENT);
}

TEST(SingleInstance, SecondInstanceIsRefusedAcrossProcesses) {
    TempFolder dir;
    auto first = acquireSingleInstance("TavrelUpdate1", dir.path());
    ASSERT_TRUE(first);
    EXPECT_EQ(runHelper({"instance", "TavrelUpdate1", dir.path().string()}), 3);
    EXPECT_EQ(runHelper({"instance", "OtherProgram", dir.path().string()}), 0);
    first.reset();
    EXPECT_EQ(runHelper({"instance", "TavrelUpdate1", dir.path().string()}), 0);
    EXPECT_FALSE(runtimeFolder().empty());
}

TEST(StartDetached, RunsInTheGivenFolderWithTheArguments) {
    TempFolder dir;
    std::filesystem::copy_file(helperProgram(), dir / "Helper.exe");
    const auto record = dir / "record.txt";
    // A bare program name is found in the working folder, in any case.
    ASSERT_EQ(startDetached("helper.exe", {"record", record.string(), "/S2/F4/U"}, dir.path()), 0);
    std::optional<std::string> text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(text = readFile(record)) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, dir.path().string() + "\n/S2/F4/U\n");
}

TEST(StartDetached, MissingOrNonExecutableProgramIsAnError) {
    TempFolder dir;
    EXPECT_EQ(startDetached("none.exe", {}, dir.path()), ENOENT);
    ASSERT_EQ(writeFileAtomic(dir / "data.exe", "not a program"), 0);
    std::filesystem::permissions(dir / "data.exe", std::filesystem::perms::owner_all);
    EXPECT_NE(startDetached("data.exe", {}, dir.path()), 0);
}

TEST(CommandLine, JoinsAndSplitsAtBlanks) {
    const char* argv[] = {"TavrelUpdate1.exe", "/s2/f4", "/U"};
    EXPECT_EQ(commandLineText(3, argv), "/s2/f4 /U");
    EXPECT_EQ(commandLineText(1, argv), "");
    EXPECT_EQ(splitCommandLine("  /S2/F4  /U "), (std::vector<std::string>{"/S2/F4", "/U"}));
    EXPECT_TRUE(splitCommandLine("   ").empty());
    EXPECT_EQ(executablePath().filename(), "platform_test");
}

TEST(DynamicLibrary, MissingLibraryOrExportIsAResult) {
    std::string error;
    EXPECT_FALSE(DynamicLibrary::open("NO_SUCH_LIBRARY.DLL", &error));
    EXPECT_FALSE(error.empty());
    auto libc = DynamicLibrary::open("libc.so.6", &error);
    ASSERT_TRUE(libc) << error;
    EXPECT_NE(libc->symbol("strlen"), nullptr);
    EXPECT_EQ(libc->symbol("SHACreateContext"), nullptr);
    EXPECT_EQ(libc->symbol(nullptr), nullptr);
    using Strlen = size_t (*)(const char*);
    EXPECT_EQ(libc->function<Strlen>("strlen")("KES01"), 5u);
}

TEST(DynamicLibrary, FileNameIsMatchedWithoutRegardToCase) {
    TempFolder dir;
    auto libc = DynamicLibrary::open("libc.so.6");
    ASSERT_TRUE(libc);
    const std::filesystem::path libm = "/lib/x86_64-linux-gnu/libm.so.6";
    if (!std::filesystem::exists(libm)) GTEST_SKIP() << "no libm at " << libm;
    std::filesystem::copy_file(libm, dir / "KESTEST.DLL");
    auto lib = DynamicLibrary::open((dir / "kestest.dll").string());
    ASSERT_TRUE(lib);
    EXPECT_NE(lib->symbol("cos"), nullptr);
}

}  // namespace
}  // namespace tavrel::platform
