// The component against archives made by the `zip` program.
#include "components/zip/zip_archive.h"

#include <gtest/gtest.h>

#include <map>

#include "components/zip/tests/zip_fixtures.h"

namespace tavrel::zip {
namespace {

using test::filesBelow;
using test::readBytes;
using test::runIn;
using test::Sandbox;
namespace fs = std::filesystem;

constexpr int64_t kJan2021 = 1609459200;

class ZipArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // A package: files at the top and in folders, one big enough to deflate.
        m_box.write("src/TAVREL32.EXE", std::string(20000, 'x') + "end");
        m_box.write("src/DATA/CUSTOMER.DBF", "customer table");
        m_box.write("src/DATA/CUSTOMER.CDX", "customer index");
        m_box.write("src/DATA/SUB/NOTES.TXT", "notes");
        test::setTime(m_box.path("src/DATA/CUSTOMER.DBF"), kJan2021);
        ASSERT_EQ(runIn(m_box.path("src"), "zip -r -9 ../pkg.zip TAVREL32.EXE DATA"), 0);
        ASSERT_EQ(runIn(m_box.path("src"), "zip -r -0 ../stored.zip TAVREL32.EXE DATA"), 0);
        fs::create_directories(m_box.path("app"));
    }

    ZipArchive& openArchive(const std::string& name) {
        m_zip.setFileName(m_box.path(name).string());
        EXPECT_EQ(m_zip.open(), 0) << m_zip.lastErrorText();
        m_zip.options().targetFolder = m_box.path("app").string();
        m_zip.options().overwrite = true;
        return m_zip;
    }

    int indexOf(const std::string& name) {
        for (int i = 0; i < m_zip.entryCount(); ++i) {
            if (m_zip.entryName(i) == name) return i;
        }
        return -1;
    }

    Sandbox m_box;
    ZipArchive m_zip;
};

TEST_F(ZipArchiveTest, EntriesGiveNameAndStoredFolder) {
    openArchive("pkg.zip");
    // TAVREL32.EXE, DATA/, DATA/CUSTOMER.*, DATA/SUB/, DATA/SUB/NOTES.TXT
    ASSERT_EQ(m_zip.entryCount(), 6);
    const int notes = indexOf("NOTES.TXT");
    ASSERT_GE(notes, 0);
    EXPECT_EQ(m_zip.entryFolder(notes), "DATA/SUB");
    EXPECT_EQ(m_zip.entryFolder(indexOf("TAVREL32.EXE")), "");
    EXPECT_EQ(m_zip.entryName(99), "");
    EXPECT_EQ(m_zip.close(), 0);
    EXPECT_EQ(m_zip.entryCount(), 0);
}

TEST_F(ZipArchiveTest, TestOnlyPassesAndWritesNothing) {
    for (const char* name : {"pkg.zip", "stored.zip"}) {
        openArchive(name);
        m_zip.options().testOnly = true;
        EXPECT_EQ(m_zip.processAll(), 0) << name << " " << m_zip.lastErrorText();
        EXPECT_EQ(m_zip.lastErrorText(), "0");
        EXPECT_TRUE(filesBelow(m_box.path("app")).empty());
    }
}

TEST_F(ZipArchiveTest, ExtractionKeepsPathsContentAndTime) {
    for (const char* name : {"pkg.zip", "stored.zip"}) {
        fs::remove_all(m_box.path("app"));
        openArchive(name);
        ASSERT_EQ(m_zip.processAll(), 0) << m_zip.lastErrorText();
        EXPECT_EQ(filesBelow(m_box.path("app")),
                  (std::vector<std::string>{"DATA/CUSTOMER.CDX", "DATA/CUSTOMER.DBF",
                                            "DATA/SUB/NOTES.TXT", "TAVREL32.EXE"}));
        EXPECT_EQ(readBytes(m_box.path("app/TAVREL32.EXE")),
                  readBytes(m_box.path("src/TAVREL32.EXE")));
        EXPECT_EQ(readBytes(m_box.path("app/DATA/SUB/NOTES.TXT")), "notes");
        // Zip times have two-second steps.
        EXPECT_NEAR(double(test::timeOf(m_box.path("app/DATA/CUSTOMER.DBF"))), double(kJan2021), 2);
    }
}

TEST_F(ZipArchiveTest, WithoutKeepPathsFilesLandInTheTargetFolder) {
    openArchive("pkg.zip");
    m_zip.options().keepPaths = false;
    ASSERT_EQ(m_zip.processAll(), 0) << m_zip.lastErrorText();
    EXPECT_EQ(
        filesBelow(m_box.path("app")),
        (std::vector<std::string>{"CUSTOMER.CDX", "CUSTOMER.DBF", "NOTES.TXT", "TAVREL32.EXE"}));
}

TEST_F(ZipArchiveTest, BackslashPathsMeanFolders) {
    // zip on this system stores a backslash in a file name as it is, the way
    // Windows tools write their folder separators.
    m_box.write("win/DATA\\SUB\\X.TXT", "from windows");
    ASSERT_EQ(runIn(m_box.path("win"), "zip ../win.zip 'DATA\\SUB\\X.TXT'"), 0);
    openArchive("win.zip");
    ASSERT_EQ(m_zip.entryCount(), 1);
    EXPECT_EQ(m_zip.entryStoredPath(0), "DATA\\SUB\\X.TXT");
    EXPECT_EQ(m_zip.entryFolder(0), "DATA/SUB");
    EXPECT_EQ(m_zip.entryName(0), "X.TXT");
    ASSERT_EQ(m_zip.processAll(), 0) << m_zip.lastErrorText();
    EXPECT_EQ(readBytes(m_box.path("app/DATA/SUB/X.TXT")), "from windows");
}

TEST_F(ZipArchiveTest, OverwriteAndSkipOlderDecideAboutExistingFiles) {
    const fs::path dbf = m_box.write("app/DATA/CUSTOMER.DBF", "local copy");
    openArchive("pkg.zip");
    const int entry = indexOf("CUSTOMER.DBF");
    m_zip.options().overwrite = false;
    ASSERT_EQ(m_zip.processEntry(entry), 0);
    EXPECT_EQ(readBytes(dbf), "local copy");

    // The local file is newer than the entry (2021): skip older leaves it.
    m_zip.options().overwrite = true;
    m_zip.options().skipOlder = true;
    test::setTime(dbf, kJan2021 + 3600);
    ASSERT_EQ(m_zip.processEntry(entry), 0);
    EXPECT_EQ(readBytes(dbf), "local copy");

    test::setTime(dbf, kJan2021 - 3600);
    ASSERT_EQ(m_zip.processEntry(entry), 0);
    EXPECT_EQ(readBytes(dbf), "customer table");

    test::setTime(dbf, kJan2021 + 3600);
    m_zip.options().skipOlder = false;
    fs::permissions(dbf, fs::perms::owner_read);  // read-only files are replaced too
    ASSERT_EQ(m_zip.processEntry(entry), 0);
    EXPECT_EQ(readBytes(dbf), "customer table");
}

TEST_F(ZipArchiveTest, ExistingFileDifferingInCaseIsReplaced) {
    m_box.write("app/tavrel32.exe", "old");
    openArchive("pkg.zip");
    ASSERT_EQ(m_zip.processEntry(indexOf("TAVREL32.EXE")), 0);
    EXPECT_EQ(filesBelow(m_box.path("app")), std::vector<std::string>{"tavrel32.exe"});
    EXPECT_EQ(readBytes(m_box.path("app/tavrel32.exe")), readBytes(m_box.path("src/TAVREL32.EXE")));
}

TEST_F(ZipArchiveTest, SelectionByIndexAndByNames) {
    openArchive("pkg.zip");
    EXPECT_EQ(m_zip.selectedCount(), 0);
    EXPECT_EQ(m_zip.selectEntry(indexOf("TAVREL32.EXE")), 0);
    EXPECT_TRUE(m_zip.isSelected(indexOf("TAVREL32.EXE")));
    EXPECT_EQ(m_zip.selectEntry(6), int(ZipResult::kBadIndex));
    EXPECT_EQ(m_zip.selectEntry(-1), int(ZipResult::kBadIndex));
    EXPECT_FALSE(m_zip.isSelected(6));
    // A name with a folder matches the stored path with either separator; a
    // bare name matches in any folder; case does not matter.
    EXPECT_EQ(m_zip.selectByNames(" data\\customer.cdx ;DATA\\CUSTOMER.FPT;notes.txt;"), 2);
    EXPECT_EQ(m_zip.selectByNames("NOTES.TXT"), 0);  // already selected
    EXPECT_EQ(m_zip.selectByNames("SUB\\CUSTOMER.DBF;;"), 0);
    EXPECT_EQ(m_zip.selectedCount(), 3);
    ASSERT_EQ(m_zip.processSelected(), 0) << m_zip.lastErrorText();
    EXPECT_EQ(
        filesBelow(m_box.path("app")),
        (std::vector<std::string>{"DATA/CUSTOMER.CDX", "DATA/SUB/NOTES.TXT", "TAVREL32.EXE"}));
    m_zip.clearSelection();
    EXPECT_EQ(m_zip.selectedCount(), 0);
}

TEST_F(ZipArchiveTest, EmptyArchiveHasNoEntriesAndProcessesCleanly) {
    m_box.write("e/x", "x");
    ASSERT_EQ(runIn(m_box.path("e"), "zip ../empty.zip x && zip -d ../empty.zip x"), 0);
    ASSERT_EQ(fs::file_size(m_box.path("empty.zip")), 22u);
    openArchive("empty.zip");
    EXPECT_EQ(m_zip.entryCount(), 0);
    EXPECT_EQ(m_zip.processAll(), 0);
    EXPECT_EQ(m_zip.processSelected(), 0);
    EXPECT_EQ(m_zip.processEntry(0), int(ZipResult::kBadIndex));
    EXPECT_NE(m_zip.lastErrorText(), "0");
}

TEST_F(ZipArchiveTest, OperationsNeedAnOpenArchive) {
    m_zip.setFileName(m_box.path("missing.zip").string());
    EXPECT_EQ(m_zip.open(), int(ZipResult::kOpenFailed));
    EXPECT_NE(m_zip.lastErrorText().find("missing.zip"), std::string::npos);
    EXPECT_EQ(m_zip.processAll(), int(ZipResult::kNotOpen));
    EXPECT_EQ(m_zip.addFiles("*.*"), int(ZipResult::kNotOpen));
    EXPECT_EQ(m_zip.close(), 0);
    m_box.write("notzip.zip", std::string(100, 'P'));
    m_zip.setFileName(m_box.path("notzip.zip").string());
    EXPECT_EQ(m_zip.open(), int(ZipResult::kOpenFailed));
}

TEST_F(ZipArchiveTest, ADiscardedArchiveStaysAsItWas) {
    m_box.write("src/A.DBF", "first table");
    m_box.write("src/B.DBF", "second table");
    m_zip.setFileName(m_box.path("made.zip").string());
    ASSERT_EQ(m_zip.create(), 0);
    m_zip.options().targetFolder = m_box.path("src").string();
    ASSERT_EQ(m_zip.addFiles("A.DBF"), 0);
    m_zip.discard();
    EXPECT_FALSE(m_zip.isOpen());
    EXPECT_FALSE(fs::exists(m_box.path("made.zip"))) << "a discarded new archive was written";

    ASSERT_EQ(m_zip.create(), 0);
    ASSERT_EQ(m_zip.addFiles("A.DBF"), 0);
    ASSERT_EQ(m_zip.close(), 0) << m_zip.lastErrorText();
    const std::string before = readBytes(m_box.path("made.zip"));
    ASSERT_EQ(m_zip.open(), 0);
    m_zip.options().targetFolder = m_box.path("src").string();
    ASSERT_EQ(m_zip.addFiles("B.DBF"), 0);
    m_zip.discard();
    EXPECT_EQ(readBytes(m_box.path("made.zip")), before);
    m_zip.discard();  // closed already: nothing to do
    EXPECT_EQ(m_zip.close(), 0);
}

TEST_F(ZipArchiveTest, AddedFilesAreStoredRelativeToTheBaseFolder) {
    m_zip.setFileName(m_box.path("backup.zip").string());
    ASSERT_EQ(m_zip.create(), 0);
    m_zip.options().targetFolder = m_box.path("src").string();
    int added = 0;
    const std::string absolute = m_box.path("src/DATA/SUB/NOTES.*").string();
    ASSERT_EQ(m_zip.addFiles("DATA\\CUSTOMER.DBF;data\\customer.cdx;DATA\\CUSTOMER.FPT;" + absolute,
                             &added),
              0)
        << m_zip.lastErrorText();
    EXPECT_EQ(added, 3);
    EXPECT_EQ(m_zip.addFiles(m_box.path("elsewhere/*.*").string()), int(ZipResult::kAddFailed));
    EXPECT_EQ(m_zip.addFiles("../src/*.*"), int(ZipResult::kAddFailed));
    ASSERT_EQ(m_zip.close(), 0) << m_zip.lastErrorText();
    // An independent reader lists the stored names.
    ASSERT_EQ(runIn(m_box.root(), "unzip -Z1 backup.zip > names.txt"), 0);
    EXPECT_EQ(readBytes(m_box.path("names.txt")),
              "DATA/CUSTOMER.DBF\ndata/CUSTOMER.CDX\nDATA/SUB/NOTES.TXT\n");
    ASSERT_EQ(runIn(m_box.root(), "unzip -tq backup.zip"), 0);

    // Reopened, a second file of the same name replaces the first.
    openArchive("backup.zip");
    m_zip.options().targetFolder = m_box.path("src").string();
    m_box.write("src/DATA/CUSTOMER.DBF", "changed");
    ASSERT_EQ(m_zip.addFiles("DATA/CUSTOMER.DBF", &added), 0);
    ASSERT_EQ(m_zip.close(), 0);
    openArchive("backup.zip");
    EXPECT_EQ(m_zip.entryCount(), 3);
    ASSERT_EQ(m_zip.processAll(), 0);
    EXPECT_EQ(readBytes(m_box.path("app/DATA/CUSTOMER.DBF")), "changed");
}

// The level trades speed for size (0 stores); every level is plain zip that
// any reader takes, and gives the same bytes back.
TEST_F(ZipArchiveTest, AddedFilesTakeTheCompressionLevelAsked) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "record " + std::to_string(i * 7919 % 100003) + ";";
    m_box.write("src/BIG.TXT", text);
    std::map<int, uintmax_t> sizes;
    for (int level : {0, 1, 9}) {
        const std::string name = "level" + std::to_string(level) + ".zip";
        m_zip.setFileName(m_box.path(name).string());
        ASSERT_EQ(m_zip.create(), 0);
        m_zip.options().targetFolder = m_box.path("src").string();
        m_zip.options().compressionLevel = level;
        ASSERT_EQ(m_zip.addFiles("BIG.TXT"), 0) << m_zip.lastErrorText();
        ASSERT_EQ(m_zip.close(), 0) << m_zip.lastErrorText();
        sizes[level] = fs::file_size(m_box.path(name));
        if (level == 0) {
            EXPECT_GT(sizes[level], text.size()) << "stored as it is";
        } else {
            EXPECT_LT(sizes[level], text.size() / 2) << "level " << level << " is deflated";
        }
        ASSERT_EQ(runIn(m_box.root(), "unzip -p " + name + " BIG.TXT > out.txt"), 0);
        EXPECT_EQ(readBytes(m_box.path("out.txt")), text) << "level " << level;
    }
    EXPECT_GT(sizes[1], sizes[9]);
}

}  // namespace
}  // namespace tavrel::zip
