// Damaged and hostile archives: every process operation refuses them, and no
// extraction leaves a partial file behind.
#include <gtest/gtest.h>

#include <chrono>

#include "components/zip/tests/zip_fixtures.h"
#include "components/zip/zip_archive.h"

namespace tavrel::zip {
namespace {

using test::filesBelow;
using test::makeArchive;
using test::RawEntry;
using test::readBytes;
using test::Sandbox;
namespace fs = std::filesystem;

constexpr uint32_t kUnixFile = 0100644u << 16;
constexpr uint32_t kUnixLink = 0120777u << 16;

class ZipBadInputTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(m_box.path("out/app")); }

    ZipArchive& openBytes(const std::string& bytes) {
        m_box.write("bad.zip", bytes);
        m_zip.setFileName(m_box.path("bad.zip").string());
        EXPECT_EQ(m_zip.open(), 0) << m_zip.lastErrorText();
        m_zip.options().targetFolder = m_box.path("out/app").string();
        m_zip.options().overwrite = true;
        return m_zip;
    }

    // Runs all, selected and single-entry processing, testing and extracting;
    // each must give `expected` and leave the output folder as it was.
    void expectEveryOperationFails(ZipResult expected, const std::string& what) {
        const std::vector<std::string> before = filesBelow(m_box.path("out"));
        for (bool testOnly : {true, false}) {
            m_zip.options().testOnly = testOnly;
            for (int i = 0; i < m_zip.entryCount(); ++i) m_zip.selectEntry(i);
            EXPECT_EQ(m_zip.processAll(), int(expected)) << what << " testOnly " << testOnly;
            EXPECT_NE(m_zip.lastErrorText(), "0");
            EXPECT_EQ(m_zip.processSelected(), int(expected)) << what;
            EXPECT_EQ(filesBelow(m_box.path("out")), before) << what;
        }
    }

    Sandbox m_box;
    ZipArchive m_zip;
};

TEST_F(ZipBadInputTest, WrongCrcIsADamagedEntryAndLeavesNoFile) {
    for (bool deflate : {false, true}) {
        openBytes(makeArchive({{.name = "GOOD.TXT", .data = "fine"},
                               {.name = "BAD.TXT",
                                .data = std::string(5000, 'q'),
                                .deflate = deflate,
                                .crc = 0x12345678u}}));
        m_zip.options().testOnly = true;
        EXPECT_EQ(m_zip.processEntry(0), 0);
        EXPECT_EQ(m_zip.processEntry(1), int(ZipResult::kDamagedEntry));
        m_zip.options().testOnly = false;
        m_box.write("out/app/BAD.TXT", "previous");
        EXPECT_EQ(m_zip.processEntry(1), int(ZipResult::kDamagedEntry));
        EXPECT_EQ(readBytes(m_box.path("out/app/BAD.TXT")), "previous");
        EXPECT_EQ(filesBelow(m_box.path("out/app")), std::vector<std::string>{"BAD.TXT"});
        fs::remove(m_box.path("out/app/BAD.TXT"));
        m_zip.close();
    }
}

TEST_F(ZipBadInputTest, FlippedByteInDeflatedDataFromZipIsFound) {
    m_box.write("src/BIG.TXT", std::string(30000, 'a') + std::string(30000, 'b'));
    ASSERT_EQ(test::runIn(m_box.path("src"), "zip -9 ../made.zip BIG.TXT"), 0);
    std::string bytes = readBytes(m_box.path("made.zip"));
    bytes[30 + 7 + 40] ^= 0x10;  // inside the compressed data, after the local header
    openBytes(bytes);
    expectEveryOperationFails(ZipResult::kDamagedEntry, "flipped byte");
}

TEST_F(ZipBadInputTest, TruncatedArchiveDoesNotOpenOrFails) {
    m_box.write("src/A.TXT", std::string(40000, 'a'));
    m_box.write("src/B.TXT", "b");
    ASSERT_EQ(test::runIn(m_box.path("src"), "zip -0 ../made.zip A.TXT B.TXT"), 0);
    const std::string bytes = readBytes(m_box.path("made.zip"));
    for (size_t cut : {size_t(0), size_t(10), bytes.size() / 2, bytes.size() - 1}) {
        m_box.write("cut.zip", bytes.substr(0, cut));
        m_zip.setFileName(m_box.path("cut.zip").string());
        EXPECT_EQ(m_zip.open(), int(ZipResult::kOpenFailed)) << cut;
        m_zip.options().targetFolder = m_box.path("out/app").string();
        EXPECT_NE(m_zip.processAll(), 0);
    }
    // Central directory intact, data cut away: the local header points past the end.
    std::string hollow = bytes;
    const size_t central = hollow.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    hollow.replace(30 + 5, 39000, std::string(39000, '\0'));
    openBytes(hollow);
    expectEveryOperationFails(ZipResult::kDamagedEntry, "zeroed data");
    EXPECT_TRUE(filesBelow(m_box.path("out")).empty());
}

TEST_F(ZipBadInputTest, UnsafePathsRefuseTheWholeOperation) {
    for (const char* path :
         {"/tmp/EVIL.TXT", "\\EVIL.TXT", "\\\\server\\share\\EVIL.TXT", "//server/share/EVIL.TXT",
          "C:EVIL.TXT", "C:\\EVIL.TXT", "../EVIL.TXT", "DATA\\..\\..\\EVIL.TXT",
          "DATA/../../EVIL.TXT", "DATA/..", "EVIL.TXT:ads"}) {
        // The safe entries come first: they must not be written either.
        openBytes(makeArchive({{.name = "DATA/", .data = ""},
                               {.name = "SAFE.TXT", .data = "safe"},
                               {.name = path, .data = "evil"}}));
        ASSERT_EQ(m_zip.entryCount(), 3) << path;
        expectEveryOperationFails(ZipResult::kUnsafeEntry, path);
        EXPECT_EQ(m_zip.processEntry(2), int(ZipResult::kUnsafeEntry)) << path;
        EXPECT_TRUE(filesBelow(m_box.path("out")).empty()) << path;
        EXPECT_FALSE(fs::exists(m_box.path("out/app/DATA"))) << path;
        EXPECT_FALSE(fs::exists("/tmp/EVIL.TXT"));
        m_zip.close();
    }
}

TEST_F(ZipBadInputTest, LinkEntriesAreRefused) {
    openBytes(makeArchive(
        {{.name = "SAFE.TXT", .data = "safe", .madeBySystem = 3, .externalAttributes = kUnixFile},
         {.name = "LINK", .data = "/etc", .madeBySystem = 3, .externalAttributes = kUnixLink},
         {.name = "LINK/passwd", .data = "evil"}}));
    expectEveryOperationFails(ZipResult::kUnsafeEntry, "hand-made link");
    EXPECT_EQ(m_zip.processEntry(1), int(ZipResult::kUnsafeEntry));
    EXPECT_EQ(m_zip.processEntry(0), 0);  // the plain file alone is fine
    m_zip.close();

    // zip -y stores the link itself, the way an archive made on Unix carries it.
    fs::create_directories(m_box.path("src"));
    fs::create_symlink("/etc/hostname", m_box.path("src/HOST"));
    ASSERT_EQ(test::runIn(m_box.path("src"), "zip -y ../link.zip HOST"), 0);
    fs::remove_all(m_box.path("out/app"));
    fs::create_directories(m_box.path("out/app"));
    openBytes(readBytes(m_box.path("link.zip")));
    expectEveryOperationFails(ZipResult::kUnsafeEntry, "zip -y link");
    EXPECT_TRUE(filesBelow(m_box.path("out")).empty());
}

TEST_F(ZipBadInputTest, HugeDeclaredSizeEndsQuicklyAsDamaged) {
    const auto start = std::chrono::steady_clock::now();
    for (bool deflate : {false, true}) {
        openBytes(makeArchive({{.name = "HUGE.DAT",
                                .data = std::string(1000, 'h'),
                                .deflate = deflate,
                                .declaredSize = 0xFFFFFFF0u}}));
        expectEveryOperationFails(ZipResult::kDamagedEntry, deflate ? "deflated" : "stored");
        EXPECT_TRUE(filesBelow(m_box.path("out")).empty());
        m_zip.close();
        // And the other way: more data than declared.
        openBytes(makeArchive({{.name = "SHORT.DAT",
                                .data = std::string(100000, 's'),
                                .deflate = deflate,
                                .declaredSize = 10}}));
        expectEveryOperationFails(ZipResult::kDamagedEntry, "declared short");
        m_zip.close();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(ZipBadInputTest, LeftoverTemporaryFileOrLinkBesideTheTargetIsNotFollowed) {
    m_box.write("victim.txt", "keep me");
    fs::create_symlink(m_box.path("victim.txt"), m_box.path("out/app/A.TXT.~tvzip"));
    openBytes(makeArchive({{.name = "A.TXT", .data = "new content"}}));
    ASSERT_EQ(m_zip.processAll(), 0) << m_zip.lastErrorText();
    EXPECT_EQ(readBytes(m_box.path("out/app/A.TXT")), "new content");
    EXPECT_EQ(readBytes(m_box.path("victim.txt")), "keep me");
    EXPECT_EQ(filesBelow(m_box.path("out/app")), std::vector<std::string>{"A.TXT"});
}

TEST_F(ZipBadInputTest, UnwritableTargetFailsWithoutPartialFiles) {
    // A file where the entry's folder must go: the folder cannot be made.
    m_box.write("out/app/DATA", "a file, not a folder");
    openBytes(makeArchive({{.name = "B.TXT", .data = "b"}, {.name = "DATA/A.TXT", .data = "a"}}));
    EXPECT_EQ(m_zip.processAll(), int(ZipResult::kWriteFailed));
    EXPECT_EQ(m_zip.lastErrorText().rfind("7: ", 0), 0u) << m_zip.lastErrorText();
    EXPECT_EQ(filesBelow(m_box.path("out/app")), (std::vector<std::string>{"B.TXT", "DATA"}));
    // A folder standing at the target file's place is not replaced.
    fs::create_directories(m_box.path("out/app/C.TXT/inner"));
    openBytes(makeArchive({{.name = "C.TXT", .data = "c"}}));
    EXPECT_EQ(m_zip.processAll(), int(ZipResult::kWriteFailed));
    EXPECT_TRUE(fs::is_directory(m_box.path("out/app/C.TXT/inner")));
    EXPECT_FALSE(fs::exists(m_box.path("out/app/C.TXT.~tvzip")));
}

}  // namespace
}  // namespace tavrel::zip
