#include "agent/session/version_files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "agent/session/tests/scratch_folder.h"
#include "agent/session/update_level.h"

namespace tavrel::session {
namespace {

namespace fs = std::filesystem;
using tavrel::testing::readBytes;
using tavrel::testing::ScratchFolder;
using tavrel::testing::writeBytes;

class VersionFilesTest : public ::testing::Test {
  protected:
    VersionFilesTest() {
        fs::create_directories(m_root / "agent");
        fs::create_directories(m_root / "app");
        m_applicationFolder = (m_root / "app").string();  // no trailing separator
    }

    VersionFiles makeFiles() {
        return VersionFiles(m_root.text() + "agent/", [this] { return m_applicationFolder; });
    }
    fs::path applicationFile() const { return m_root / "app" / "TAVRELUPD.VER"; }
    fs::path agentFile() const { return m_root / "agent" / "TAVRELUPD.VER"; }
    fs::path downloadedFile() const { return m_root / "agent" / "UPDATE.VER"; }

    ScratchFolder m_root;
    std::string m_applicationFolder;
};

TEST_F(VersionFilesTest, MissingApplicationFileReadsDefaultAndIsLeftBehindEmpty) {
    VersionFiles files = makeFiles();
    int error = -1;
    EXPECT_EQ(files.ReadVersionFile(VersionKind::Application, &error), "TAVREL0000");
    EXPECT_EQ(error, 0);
    EXPECT_EQ(files.ApplicationLevel(), "TAVREL0000");
    ASSERT_TRUE(fs::exists(applicationFile()));
    EXPECT_EQ(fs::file_size(applicationFile()), 0u);
    // Every package then counts as newer.
    EXPECT_TRUE(isNewerLevel("TAVREL0001", files.ApplicationLevel()));
}

TEST_F(VersionFilesTest, LevelFollowedByLineEndReadsAsTheLevel) {
    writeBytes(applicationFile(), "TAVREL0123\r\n");
    VersionFiles files = makeFiles();
    EXPECT_EQ(files.ReadVersionFile(VersionKind::Application), "TAVREL0123");
    EXPECT_EQ(files.level(VersionKind::Application), "TAVREL0123");
}

TEST_F(VersionFilesTest, NineByteFileReadsAsDefaultAndStaysUntouched) {
    writeBytes(agentFile(), "UPDATE001");
    VersionFiles files = makeFiles();
    files.setLevel(VersionKind::Agent, "UPDATE0777");
    EXPECT_EQ(files.ReadVersionFile(VersionKind::Agent), "UPDATE0000");
    EXPECT_EQ(files.AgentLevel(), "UPDATE0000");
    EXPECT_EQ(readBytes(agentFile()), "UPDATE001");
}

TEST_F(VersionFilesTest, WritingOverLongerFileKeepsTheBytesAfterTheLevel) {
    writeBytes(applicationFile(), "TAVREL0123XYZ");
    VersionFiles files = makeFiles();
    files.setLevel(VersionKind::Application, "TAVREL0124");
    ASSERT_EQ(files.WriteVersionFile(VersionKind::Application), 0);
    EXPECT_EQ(readBytes(applicationFile()), "TAVREL0124XYZ");
    files.setLevel(VersionKind::Application, "junk");
    EXPECT_EQ(files.ReadVersionFile(VersionKind::Application), "TAVREL0124");
}

TEST_F(VersionFilesTest, NeverDownloadedVersionReadsDefaultThatIsNotNewer) {
    writeBytes(agentFile(), "UPDATE0005");
    VersionFiles files = makeFiles();
    EXPECT_EQ(files.ReadVersionFile(VersionKind::Agent), "UPDATE0005");
    EXPECT_EQ(files.ReadVersionFile(VersionKind::DownloadedAgent), "UPDATE0000");
    EXPECT_EQ(files.DownloadedAgentLevel(), "UPDATE0000");
    EXPECT_FALSE(isNewerLevel(files.DownloadedAgentLevel(), files.AgentLevel()));
    EXPECT_TRUE(fs::exists(downloadedFile()));
    // The application's file is a different file of the same name.
    EXPECT_FALSE(fs::exists(applicationFile()));
}

TEST_F(VersionFilesTest, KindsWriteTheirOwnFiles) {
    VersionFiles files = makeFiles();
    files.setLevel(VersionKind::Application, "TAVREL0042");
    files.setLevel(VersionKind::Agent, "UPDATE0007");
    files.setLevel(VersionKind::DownloadedAgent, "UPDATE0008");
    EXPECT_EQ(files.WriteVersionFile(VersionKind::Application), 0);
    EXPECT_EQ(files.WriteVersionFile(VersionKind::Agent), 0);
    EXPECT_EQ(files.WriteVersionFile(VersionKind::DownloadedAgent), 0);
    EXPECT_EQ(readBytes(applicationFile()), "TAVREL0042");
    EXPECT_EQ(readBytes(agentFile()), "UPDATE0007");
    EXPECT_EQ(readBytes(downloadedFile()), "UPDATE0008");
}

TEST_F(VersionFilesTest, ShortLevelIsNeverWrittenTheDefaultIsWrittenInstead) {
    writeBytes(applicationFile(), "TAVREL0123XYZ");
    VersionFiles files = makeFiles();
    files.setLevel(VersionKind::Application, "  TAVREL12  ");  // 8 characters once trimmed
    ASSERT_EQ(files.WriteVersionFile(VersionKind::Application), 0);
    EXPECT_EQ(readBytes(applicationFile()), "TAVREL0000XYZ");
    // The copy itself is left as the caller set it.
    EXPECT_EQ(files.ApplicationLevel(), "  TAVREL12  ");

    files.setLevel(VersionKind::Agent, "");
    ASSERT_EQ(files.WriteVersionFile(VersionKind::Agent), 0);
    EXPECT_EQ(readBytes(agentFile()), "UPDATE0000");
}

TEST_F(VersionFilesTest, SurroundingBlanksAreNotWrittenIntoTheLevel) {
    writeBytes(applicationFile(), "TAVREL0123XYZ");
    VersionFiles files = makeFiles();
    files.setLevel(VersionKind::Application, " TAVREL0124 ");
    ASSERT_EQ(files.WriteVersionFile(VersionKind::Application), 0);
    EXPECT_EQ(readBytes(applicationFile()), "TAVREL0124XYZ");
}

TEST_F(VersionFilesTest, LongValueWritesOnlyTheTenLevelBytes) {
    writeBytes(applicationFile(), "TAVREL0123XYZ");
    VersionFiles files = makeFiles();
    files.setLevel(VersionKind::Application, "TAVREL0124.ZIP");
    ASSERT_EQ(files.WriteVersionFile(VersionKind::Application), 0);
    EXPECT_EQ(readBytes(applicationFile()), "TAVREL0124XYZ");
}

TEST_F(VersionFilesTest, ExistingFileNamedInOtherCaseIsUsedNotDuplicated) {
    const fs::path lower = m_root / "app" / "tavrelupd.ver";
    writeBytes(lower, "TAVREL0042");
    VersionFiles files = makeFiles();
    EXPECT_EQ(files.ReadVersionFile(VersionKind::Application), "TAVREL0042");
    files.setLevel(VersionKind::Application, "TAVREL0043");
    ASSERT_EQ(files.WriteVersionFile(VersionKind::Application), 0);
    EXPECT_EQ(readBytes(lower), "TAVREL0043");
    EXPECT_FALSE(fs::exists(applicationFile()));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_root / "app"), fs::directory_iterator()), 1);
}

TEST_F(VersionFilesTest, ApplicationFolderIsAskedForOnEveryAccess) {
    fs::create_directories(m_root / "other");
    writeBytes(m_root / "other" / "TAVRELUPD.VER", "TAVREL0500");
    writeBytes(applicationFile(), "TAVREL0100");
    VersionFiles files = makeFiles();
    EXPECT_EQ(files.ReadVersionFile(VersionKind::Application), "TAVREL0100");
    m_applicationFolder = m_root.text() + "other/";
    EXPECT_EQ(files.ReadVersionFile(VersionKind::Application), "TAVREL0500");
}

TEST_F(VersionFilesTest, MissingApplicationFolderReadsDefaultAndCreatesNothing) {
    m_applicationFolder = (m_root / "gone").string();
    VersionFiles files = makeFiles();
    files.setLevel(VersionKind::Application, "TAVREL0321");
    int error = 0;
    EXPECT_EQ(files.ReadVersionFile(VersionKind::Application, &error), "TAVREL0000");
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(files.ApplicationLevel(), "TAVREL0000");

    files.setLevel(VersionKind::Application, "TAVREL0322");
    EXPECT_EQ(files.WriteVersionFile(VersionKind::Application), ENOENT);
    EXPECT_FALSE(fs::exists(m_root / "gone"));
}

TEST_F(VersionFilesTest, UnsetApplicationFolderNeverReachesTheRootFolder) {
    m_applicationFolder.clear();
    VersionFiles files = makeFiles();
    EXPECT_FALSE(files.filePath(VersionKind::Application).has_value());
    int error = 0;
    EXPECT_EQ(files.ReadVersionFile(VersionKind::Application, &error), "TAVREL0000");
    EXPECT_EQ(error, ENOENT);
    files.setLevel(VersionKind::Application, "TAVREL0001");
    EXPECT_EQ(files.WriteVersionFile(VersionKind::Application), ENOENT);
    EXPECT_FALSE(fs::exists("/TAVRELUPD.VER"));
}

TEST_F(VersionFilesTest, ReadOnlyFileIsReadButNotWritten) {
    writeBytes(agentFile(), "UPDATE0003");
    fs::permissions(agentFile(), fs::perms::owner_read | fs::perms::group_read);
    VersionFiles files = makeFiles();
    EXPECT_EQ(files.ReadVersionFile(VersionKind::Agent), "UPDATE0003");
    files.setLevel(VersionKind::Agent, "UPDATE0004");
    EXPECT_EQ(files.WriteVersionFile(VersionKind::Agent), EACCES);
    EXPECT_EQ(readBytes(agentFile()), "UPDATE0003");
}

TEST_F(VersionFilesTest, FileThatCannotBeOpenedReadsDefault) {
    writeBytes(agentFile(), "UPDATE0003");
    fs::permissions(agentFile(), fs::perms::none);
    const std::string agentFolder = m_root.text() + "agent/";
    const int outcome = tavrel::testing::runUnprivileged([&] {
        VersionFiles files(agentFolder, [] { return std::string(); });
        int error = 0;
        const std::string level = files.ReadVersionFile(VersionKind::Agent, &error);
        if (level != "UPDATE0000" || files.AgentLevel() != "UPDATE0000") return 1;
        if (error != EACCES) return 2;
        files.setLevel(VersionKind::Agent, "UPDATE0009");
        return files.WriteVersionFile(VersionKind::Agent) != 0 ? 0 : 3;
    });
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(readBytes(agentFile()), "UPDATE0003");
}

TEST_F(VersionFilesTest, FolderInPlaceOfTheFileReadsDefault) {
    fs::create_directories(downloadedFile());
    VersionFiles files = makeFiles();
    int error = 0;
    EXPECT_EQ(files.ReadVersionFile(VersionKind::DownloadedAgent, &error), "UPDATE0000");
    EXPECT_NE(error, 0);
    files.setLevel(VersionKind::DownloadedAgent, "UPDATE0002");
    EXPECT_NE(files.WriteVersionFile(VersionKind::DownloadedAgent), 0);
    EXPECT_TRUE(fs::is_directory(downloadedFile()));
}

TEST_F(VersionFilesTest, UnknownKindChangesNothing) {
    VersionFiles files = makeFiles();
    const auto unknown = static_cast<VersionKind>(1002);
    int error = 0;
    EXPECT_EQ(files.ReadVersionFile(unknown, &error), "");
    EXPECT_EQ(error, EINVAL);
    EXPECT_EQ(files.WriteVersionFile(unknown), EINVAL);
    files.setLevel(unknown, "TAVREL0001");
    EXPECT_EQ(files.level(unknown), "");
    EXPECT_EQ(files.ApplicationLevel(), "TAVREL0000");
    EXPECT_TRUE(fs::is_empty(m_root / "app"));
    EXPECT_TRUE(fs::is_empty(m_root / "agent"));
}

TEST(VersionFileBytes, LevelIsTheFirstTenBytesWhateverFollows) {
    EXPECT_EQ(levelFromFileBytes("TAVREL0001", "TAVREL0000"), "TAVREL0001");
    EXPECT_EQ(levelFromFileBytes(std::string("UPDATE0002\0\0", 12), "UPDATE0000"), "UPDATE0002");
    EXPECT_EQ(levelFromFileBytes("", "UPDATE0000"), "UPDATE0000");
    EXPECT_EQ(levelFromFileBytes("TAVREL000", "TAVREL0000"), "TAVREL0000");
}

}  // namespace
}  // namespace tavrel::session
