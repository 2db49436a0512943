// The session's file helpers on real files: folders made level by level,
// copies that keep or replace a target, forced deletes of read-only files,
// trailing separators and joined paths.
#include "agent/session/file_helpers.h"

#include <gtest/gtest.h>

#include "agent/session/tests/scratch_folder.h"
#include "platform/tests/fault_plan.h"

namespace tavrel::session {
namespace {

using tavrel::testing::readBytes;
using tavrel::testing::ScratchFolder;
using tavrel::testing::writeBytes;

TEST(FileHelpersTest, EnsureFolderMakesEveryMissingLevelOnlyWhenAsked) {
    ScratchFolder folder;
    const std::string deep = (folder / "A" / "B" / "C").string();
    EXPECT_EQ(EnsureFolder(deep, false), 0);
    EXPECT_FALSE(std::filesystem::exists(folder / "A"));
    EXPECT_EQ(EnsureFolder(deep, true), 1);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "A" / "B" / "C"));
    EXPECT_EQ(EnsureFolder(deep + "/", false), 1) << "a trailing separator is the same folder";
    EXPECT_EQ(EnsureFolder("", true), 0);
    writeBytes(folder / "FILE", "x");
    EXPECT_EQ(EnsureFolder((folder / "FILE" / "SUB").string(), true), 0)
        << "a file in the way is reported, not thrown";
}

TEST(FileHelpersTest, EnsureFolderTakesBackslashesAndMatchesCase) {
    ScratchFolder folder;
    std::filesystem::create_directories(folder / "Update");
    EXPECT_EQ(EnsureFolder(folder.text() + "UPDATE\\TAVREL0101\\BACKUP", true), 1);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "Update" / "TAVREL0101" / "BACKUP"));
    EXPECT_FALSE(std::filesystem::exists(folder / "UPDATE"));
}

TEST(FileHelpersTest, CopyOrMoveFileReportsWhetherTheTargetStands) {
    ScratchFolder folder;
    writeBytes(folder / "SRC", "new");
    writeBytes(folder / "DST", "old");
    EXPECT_TRUE(CopyOrMoveFile((folder / "SRC").string(), (folder / "DST").string(), false, false));
    EXPECT_EQ(readBytes(folder / "DST"), "old") << "without overwrite the target stays";
    EXPECT_TRUE(CopyOrMoveFile((folder / "SRC").string(), (folder / "DST").string(), true, false));
    EXPECT_EQ(readBytes(folder / "DST"), "new");
    EXPECT_TRUE(std::filesystem::exists(folder / "SRC"));
    EXPECT_TRUE(CopyOrMoveFile((folder / "SRC").string(), (folder / "MOVED").string(), true, true));
    EXPECT_FALSE(std::filesystem::exists(folder / "SRC")) << "a move removes the source";
    EXPECT_FALSE(
        CopyOrMoveFile((folder / "NONE").string(), (folder / "OTHER").string(), true, false));
    EXPECT_FALSE(
        CopyOrMoveFile((folder / "MOVED").string(), (folder / "NO" / "DIR").string(), true, false))
        << "a missing target folder is a failed copy";
}

TEST(FileHelpersTest, ACopyThatFailsIsAFailureThoughSomethingStandsAtTheTarget) {
    ScratchFolder folder;
    writeBytes(folder / "SRC", "the whole new file");
    writeBytes(folder / "DST", "old");
    platform::testing::FaultPlan plan(folder.path());
    // Broken off after five bytes, and a copy over a file that stays as it was.
    plan.failOn(platform::FileOperation::kCopy, "HALF", EIO).keeping(5);
    plan.failOn(platform::FileOperation::kCopy, "DST", ENOSPC);
    EXPECT_FALSE(CopyOrMoveFile((folder / "SRC").string(), (folder / "HALF").string(), true, true));
    EXPECT_EQ(readBytes(folder / "HALF"), "the w");
    EXPECT_FALSE(CopyOrMoveFile((folder / "SRC").string(), (folder / "DST").string(), true, true));
    EXPECT_EQ(readBytes(folder / "DST"), "old");
    EXPECT_EQ(readBytes(folder / "SRC"), "the whole new file") << "a failed move keeps the source";
    EXPECT_EQ(plan.count(platform::FileOperation::kDelete), 0);
}

TEST(FileHelpersTest, DeleteFileIfExistsForcesOnlyWhenAsked) {
    ScratchFolder folder;
    EXPECT_FALSE(DeleteFileIfExists((folder / "NONE").string(), false));
    writeBytes(folder / "RO", "x");
    std::filesystem::permissions(folder / "RO", std::filesystem::perms::owner_read);
    EXPECT_FALSE(DeleteFileIfExists((folder / "RO").string(), true));
    EXPECT_FALSE(std::filesystem::exists(folder / "RO"));
    writeBytes(folder / "plain", "x");
    EXPECT_FALSE(DeleteFileIfExists((folder / "PLAIN").string(), false)) << "found in any case";
    EXPECT_FALSE(std::filesystem::exists(folder / "plain"));
}

TEST(FileHelpersTest, TrailingSeparatorsAreAddedAndRemovedButRootsKeepTheirs) {
    EXPECT_EQ(FixTrailingBackslash("/app", TrailingSeparator::kAdd), "/app/");
    EXPECT_EQ(FixTrailingBackslash("/app/", TrailingSeparator::kAdd), "/app/");
    EXPECT_EQ(FixTrailingBackslash("C:\\APP\\", TrailingSeparator::kAdd), "C:\\APP\\");
    EXPECT_EQ(FixTrailingBackslash("", TrailingSeparator::kAdd), "");
    EXPECT_EQ(FixTrailingBackslash("/app//", TrailingSeparator::kRemove), "/app");
    EXPECT_EQ(FixTrailingBackslash("/", TrailingSeparator::kRemove), "/");
    EXPECT_EQ(FixTrailingBackslash("C:\\", TrailingSeparator::kRemove), "C:/");
    EXPECT_EQ(FixTrailingBackslash("C:", TrailingSeparator::kRemove), "C:/");
}

TEST(FileHelpersTest, JoinPathSkipsEmptyPartsAndNeverDoublesSeparators) {
    EXPECT_EQ(JoinPath("/app/", "DATA00", "", "X.DBF"), "/app/DATA00/X.DBF");
    EXPECT_EQ(JoinPath("/app", "/DATA00"), "/app/DATA00");
    EXPECT_EQ(JoinPath("/app/"), "/app/");
    EXPECT_EQ(JoinPath("", "A", "B"), "A/B");
    EXPECT_EQ(JoinPath("C:\\APP\\", "BIN"), "C:\\APP\\BIN");
}

TEST(FileHelpersTest, CopyFolderOverCopiesTheWholeTreeAndOverwrites) {
    ScratchFolder folder;
    std::filesystem::create_directories(folder / "from" / "SUB" / "DEEP");
    writeBytes(folder / "from" / "A", "a2");
    writeBytes(folder / "from" / "SUB" / "DEEP" / "B", "b2");
    std::filesystem::create_directories(folder / "to");
    writeBytes(folder / "to" / "A", "a1");
    writeBytes(folder / "to" / "KEEP", "k");
    EXPECT_EQ(CopyFolderOver((folder / "from").string(), (folder / "to").string()), 0);
    EXPECT_EQ(readBytes(folder / "to" / "A"), "a2");
    EXPECT_EQ(readBytes(folder / "to" / "SUB" / "DEEP" / "B"), "b2");
    EXPECT_EQ(readBytes(folder / "to" / "KEEP"), "k");
    EXPECT_NE(CopyFolderOver((folder / "none").string(), (folder / "to").string()), 0);
}

}  // namespace
}  // namespace tavrel::session
