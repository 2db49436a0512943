#include "platform/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "temp_folder.h"

namespace tavrel::platform {
namespace {

using testing::TempFolder;

TEST(CaseInsensitiveLookup, FindsEntriesWhoseNamesDifferOnlyInCase) {
    TempFolder dir;
    ASSERT_EQ(ensureFolder(dir / "NewVersion"), 0);
    ASSERT_EQ(writeFileAtomic(dir / "NewVersion" / "TavrelUpd.Ver", "UPDATE0001"), 0);
    EXPECT_TRUE(fileExists(dir / "NEWVERSION" / "TAVRELUPD.VER"));
    EXPECT_TRUE(folderExists(dir / "newversion"));
    EXPECT_FALSE(fileExists(dir / "newversion"));  // a folder is not a file
    EXPECT_EQ(findPath(dir / "newversion" / "tavrelupd.ver"), dir / "NewVersion" / "TavrelUpd.Ver");
    EXPECT_EQ(findPath(dir / "missing" / "x"), std::nullopt);
    // A new file keeps its given name but lands in the folder as it exists.
    EXPECT_EQ(resolvePath(dir / "NEWVERSION" / "UPDATE.VER"), dir / "NewVersion" / "UPDATE.VER");
    EXPECT_EQ(fileSize(dir / "newversion/tavrelupd.ver"), 10u);
}

TEST(CaseInsensitiveLookup, ExactNameWinsOverOtherSpellings) {
    TempFolder dir;
    // Made behind the lookup's back: through it, the second would be the first.
    std::ofstream(dir / "log.txt") << "lower";
    std::ofstream(dir / "LOG.TXT") << "upper";
    EXPECT_EQ(*readFile(dir / "LOG.TXT"), "upper");
    EXPECT_EQ(*readFile(dir / "log.txt"), "lower");
    // With neither spelling exact, the choice is the same every time.
    EXPECT_EQ(findPath(dir / "Log.Txt"), dir / "LOG.TXT");
}

TEST(FileOperations, ReportErrorNumbers) {
    TempFolder dir;
    EXPECT_EQ(deleteFile(dir / "none"), ENOENT);
    EXPECT_EQ(copyFile(dir / "none", dir / "b", true), ENOENT);
    EXPECT_EQ(moveFile(dir / "none", dir / "b"), ENOENT);
    ASSERT_EQ(writeFileAtomic(dir / "a", "A"), 0);
    ASSERT_EQ(writeFileAtomic(dir / "b", "B"), 0);
    EXPECT_EQ(copyFile(dir / "a", dir / "b", false), EEXIST);
    EXPECT_EQ(*readFile(dir / "b"), "B");
    EXPECT_EQ(copyFile(dir / "A", dir / "B", true), 0);
    EXPECT_EQ(*readFile(dir / "b"), "A");
    EXPECT_EQ(listFiles(dir.path()), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(moveFile(dir / "a", dir / "c"), 0);
    EXPECT_FALSE(fileExists(dir / "a"));
    EXPECT_EQ(deleteFile(dir / "C"), 0);
    EXPECT_EQ(copyFile(dir / "b", dir / "nofolder" / "b", true), ENOENT);
}

TEST(FileOperations, WritableAttributes) {
    TempFolder dir;
    ASSERT_EQ(writeFileAtomic(dir / "f", "x"), 0);
    ASSERT_EQ(makeReadOnly(dir / "f"), 0);
    EXPECT_FALSE(isWritable(dir / "f"));
    ASSERT_EQ(makeWritable(dir / "F"), 0);
    EXPECT_TRUE(isWritable(dir / "f"));
    EXPECT_EQ(makeWritable(dir / "none"), ENOENT);
}

TEST(FileOperations, OverwriteStartNeverShortens) {
    TempFolder dir;
    ASSERT_EQ(overwriteFileStart(dir / "v", "TAVREL0123XYZ"), 0);
    ASSERT_EQ(overwriteFileStart(dir / "V", "TAVREL0124"), 0);
    EXPECT_EQ(*readFile(dir / "v"), "TAVREL0124XYZ");
    EXPECT_EQ(listFiles(dir.path()), std::vector<std::string>{"v"});
}

TEST(FileOperations, AtomicWriteReplacesAndKeepsPermissions) {
    TempFolder dir;
    ASSERT_EQ(writeFileAtomic(dir / "f", "old"), 0);
    std::filesystem::permissions(
        dir / "f", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_EQ(writeFileAtomic(dir / "F", "new"), 0);
    EXPECT_EQ(*readFile(dir / "f"), "new");
    EXPECT_EQ(std::filesystem::status(dir / "f").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    int error = 0;
    EXPECT_EQ(readFile(dir / "none", &error), std::nullopt);
    EXPECT_EQ(error, ENOENT);
}

TEST(FileOperations, AtomicWriteRefusesAReadOnlyFile) {
    TempFolder dir;
    ASSERT_EQ(writeFileAtomic(dir / "f", "old"), 0);
    ASSERT_EQ(makeReadOnly(dir / "f"), 0);
    // Refused from the mode bits, so root (who may open anything) is refused too.
    EXPECT_EQ(writeFileAtomic(dir / "F", "new"), EACCES);
    EXPECT_EQ(*readFile(dir / "f"), "old");
    EXPECT_FALSE(isWritable(dir / "f"));
    EXPECT_EQ(listFiles(dir.path()), std::vector<std::string>{"f"}) << "no new file left";
}

TEST(FileOperations, AtomicWriteThroughAChainOfLinksReplacesTheLastTarget) {
    namespace fs = std::filesystem;
    TempFolder dir;
    ASSERT_EQ(ensureFolder(dir / "real"), 0);
    ASSERT_EQ(writeFileAtomic(dir / "real" / "LOG.TXT", "old"), 0);
    // An absolute link to a relative link to the file.
    fs::create_symlink("real/LOG.TXT", dir / "middle");
    fs::create_symlink(dir / "middle", dir / "link.txt");
    ASSERT_EQ(writeFileAtomic(dir / "LINK.TXT", "new"), 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_TRUE(fs::is_symlink(dir / "middle"));
    EXPECT_EQ(testing::readBytes(dir / "real" / "LOG.TXT"), "new");
    EXPECT_EQ(listFiles(dir / "real"), std::vector<std::string>{"LOG.TXT"});
    // A read-only target is refused through its link as well.
    ASSERT_EQ(makeReadOnly(dir / "real" / "LOG.TXT"), 0);
    EXPECT_EQ(writeFileAtomic(dir / "link.txt", "newer"), EACCES);
    EXPECT_EQ(testing::readBytes(dir / "real" / "LOG.TXT"), "new");
}

TEST(FileOperations, AtomicWriteThroughADanglingLinkCreatesItsTarget) {
    namespace fs = std::filesystem;
    TempFolder dir;
    fs::create_symlink("target.ini", dir / "link.ini");
    ASSERT_EQ(writeFileAtomic(dir / "link.ini", "[S]\n"), 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
    EXPECT_EQ(testing::readBytes(dir / "target.ini"), "[S]\n");
}

TEST(FileOperations, AtomicWriteEndsOnALinkLoop) {
    namespace fs = std::filesystem;
    TempFolder dir;
    fs::create_symlink("b", dir / "a");
    fs::create_symlink("a", dir / "b");
    EXPECT_EQ(writeFileAtomic(dir / "a", "x"), ELOOP);
    EXPECT_TRUE(fs::is_symlink(dir / "a"));
    EXPECT_TRUE(fs::is_symlink(dir / "b"));
    const auto entries =
        std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator());
    EXPECT_EQ(entries, 2) << "no new file left";
}

TEST(FolderOperations, EnsureListAndDeleteTrees) {
    TempFolder dir;
    ASSERT_EQ(ensureFolder(dir / "UPDATE" / "TAVREL0001"), 0);
    ASSERT_EQ(ensureFolder(dir / "update" / "tavrel0001"), 0);  // already there, any case
    EXPECT_EQ(listFolders(dir.path()), std::vector<std::string>{"UPDATE"});
    ASSERT_EQ(writeFileAtomic(dir / "UPDATE" / "TAVREL0001" / "x", "1"), 0);
    ASSERT_EQ(writeFileAtomic(dir / "plain", "1"), 0);
    EXPECT_NE(ensureFolder(dir / "plain"), 0);
    EXPECT_EQ(deleteFolderTree(dir / "update"), 0);
    EXPECT_FALSE(folderExists(dir / "UPDATE"));
    EXPECT_TRUE(listFiles(dir / "UPDATE").empty());
}

TEST(PathTexts, JoinAndTrailingSeparator) {
    EXPECT_EQ(joinPath("/app", "UPDATE"), "/app/UPDATE");
    EXPECT_EQ(joinPath("/app/", "/UPDATE"), "/app/UPDATE");
    EXPECT_EQ(joinPath("", "UPDATE"), "UPDATE");
    EXPECT_EQ(withTrailingSeparator("/app"), "/app/");
    EXPECT_EQ(withTrailingSeparator("/app/"), "/app/");
    EXPECT_EQ(withTrailingSeparator(""), "");
    EXPECT_FALSE(errorText(ENOENT).empty());
}

}  // namespace
}  // namespace tavrel::platform
