// The reading rules behind the exports: which string block is read, the
// 259-character cut, the selector bits, build numbers and path joining.
#include "kesver1/version_record.h"

#include <gtest/gtest.h>

#include "kesver1/tests/pe_writer.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::kesver1 {
namespace {

using test::buildPe;
using test::buildVersionResource;
using test::PeSpec;
using test::typicalVersion;
using test::VersionSpec;

class VersionRecordTest : public ::testing::Test {
  protected:
    std::filesystem::path write(const std::string& name, const VersionSpec& def) {
        PeSpec pe;
        pe.versionLanguages = {{0x0409, buildVersionResource(def)}};
        const auto path = m_folder / name;
        test::writeBytes(path, buildPe(pe).bytes);
        return path;
    }

    platform::testing::TempFolder m_folder;
};

// A tree with a British table (0809/04B0) and a US table holding other texts.
VersionSpec britishVersion() {
    VersionSpec def = typicalVersion();
    def.translations = {{0x0809, 0x04B0}};
    def.stringTables.push_back({"080904B0",
                                {{"CompanyName", u"Tavrel (UK) Ltd"},
                                 {"FileVersion", u"1.0.6 (UK)"},
                                 {"Comments", u"Colour"}}});
    return def;
}

TEST_F(VersionRecordTest, ReadsFixedVersionsAndTheKeptTexts) {
    VersionRecord record;
    record.fileName = "left over";
    ASSERT_TRUE(extractVersionInfo(write("a.exe", typicalVersion()), record));
    EXPECT_EQ(record.fileVersion, (VersionParts{1, 0, 6, 1006}));
    EXPECT_EQ(record.productVersion, (VersionParts{2, 3, 4, 5005}));
    EXPECT_EQ(record.companyName, "Tavrel Software Ltd");
    EXPECT_EQ(record.legalCopyright, "Copyright \xA9 Tavrel 2026");
    EXPECT_EQ(record.legalTrademarks, "Tavrel\x99 is a trade mark");
    EXPECT_EQ(record.fileVersionText, "1.0.6.1006");
    EXPECT_EQ(record.productVersionText, "2.3.4.5005");
    EXPECT_EQ(record.internalName, "KESVER1");
    EXPECT_EQ(record.originalFilename, "KESVER1.DLL");
    EXPECT_EQ(record.comments, "Reads the version resources of files");
    EXPECT_EQ(record.fileName, "");
    EXPECT_EQ(record.fileFolder, "");
}

TEST_F(VersionRecordTest, TextsComeFromTheBlockTheTranslationNames) {
    VersionRecord record;
    ASSERT_TRUE(extractVersionInfo(write("uk.exe", britishVersion()), record));
    EXPECT_EQ(record.companyName, "Tavrel (UK) Ltd");
    EXPECT_EQ(record.fileVersionText, "1.0.6 (UK)");
    EXPECT_EQ(record.comments, "Colour");
    EXPECT_EQ(record.internalName, "");  // only in the US table
}

TEST_F(VersionRecordTest, WithoutTranslationTheUsBlockIsRead) {
    VersionSpec def = britishVersion();
    def.translations.clear();
    VersionRecord record;
    ASSERT_TRUE(extractVersionInfo(write("us.exe", def), record));
    EXPECT_EQ(record.companyName, "Tavrel Software Ltd");
    EXPECT_EQ(record.internalName, "KESVER1");
}

TEST_F(VersionRecordTest, TranslationNamingAMissingBlockLeavesTextsEmpty) {
    VersionSpec def = typicalVersion();
    def.translations = {{0x0407, 0x04B0}};
    VersionRecord record;
    ASSERT_TRUE(extractVersionInfo(write("de.exe", def), record));
    EXPECT_EQ(record.companyName, "");
    EXPECT_EQ(record.comments, "");
    EXPECT_EQ(record.fileVersion, (VersionParts{1, 0, 6, 1006}));
}

TEST_F(VersionRecordTest, LongTextsAreCutTo259Characters) {
    VersionSpec def = typicalVersion();
    const std::u16string longText(400, u'x');
    def.stringTables[0].values[1].value = longText;                   // CompanyName
    def.stringTables[0].values[0].value = std::u16string(259, u'c');  // Comments
    def.stringTables[0].values[4].value = std::u16string(260, u'i');  // InternalName
    VersionRecord record;
    ASSERT_TRUE(extractVersionInfo(write("long.exe", def), record));
    EXPECT_EQ(record.companyName, std::string(259, 'x'));
    EXPECT_EQ(record.comments, std::string(259, 'c'));
    EXPECT_EQ(record.internalName, std::string(259, 'i'));
    EXPECT_EQ(cutText(std::string(300, 'z')).size(), 259u);
}

TEST_F(VersionRecordTest, NoFixedInformationKeepsNumbersZeroButReadsTexts) {
    VersionSpec def = typicalVersion();
    def.fileVersion.reset();
    VersionRecord record;
    ASSERT_TRUE(extractVersionInfo(write("nofixed.exe", def), record));
    EXPECT_EQ(record.fileVersion, (VersionParts{0, 0, 0, 0}));
    EXPECT_EQ(record.productVersion, (VersionParts{0, 0, 0, 0}));
    EXPECT_EQ(record.companyName, "Tavrel Software Ltd");
    EXPECT_EQ(extractBuildNumber(m_folder / "nofixed.exe", kFileVersion), 0);
}

TEST_F(VersionRecordTest, FailedReadLeavesTheRecordCleared) {
    VersionRecord record;
    ASSERT_TRUE(extractVersionInfo(write("a.exe", typicalVersion()), record));
    PeSpec noVersion;
    test::writeBytes(m_folder / "plain.exe", buildPe(noVersion).bytes);
    EXPECT_FALSE(extractVersionInfo(m_folder / "plain.exe", record));
    EXPECT_EQ(record.fileVersion, (VersionParts{0, 0, 0, 0}));
    EXPECT_EQ(record.companyName, "");
    EXPECT_FALSE(extractVersionInfo(m_folder / "missing.exe", record));
    // A damaged version tree inside a sound PE file counts as no resource.
    auto damaged = buildVersionResource(typicalVersion());
    damaged[6] = 'X';
    PeSpec pe;
    pe.versionLanguages = {{0x0409, damaged}};
    test::writeBytes(m_folder / "damaged.exe", buildPe(pe).bytes);
    EXPECT_FALSE(extractVersionInfo(m_folder / "damaged.exe", record));
}

TEST_F(VersionRecordTest, BuildNumberOfFileOrProductVersion) {
    const auto path = write("a.exe", typicalVersion());
    EXPECT_EQ(extractBuildNumber(path, kFileVersion), 1006);
    EXPECT_EQ(extractBuildNumber(path, kProductVersion), 5005);
    EXPECT_EQ(extractBuildNumber(path, kFileVersion | kProductVersion), 1006);
    EXPECT_EQ(extractBuildNumber(path, kPart1 | kPart2 | kPart3 | kPart4), 0);
    EXPECT_EQ(extractBuildNumber(m_folder / "missing.exe", kFileVersion), 0);
}

TEST(VersionSelector, VersionBitsChooseFileOverProduct) {
    VersionRecord record;
    record.fileVersion = {1, 0, 6, 1006};
    record.productVersion = {2, 3, 4, 5005};
    EXPECT_EQ(selectParts(record, kFileVersion), record.fileVersion);
    EXPECT_EQ(selectParts(record, kProductVersion), record.productVersion);
    EXPECT_EQ(selectParts(record, kFileVersion | kProductVersion), record.fileVersion);
    EXPECT_FALSE(selectParts(record, kPart1));
    EXPECT_FALSE(selectParts(record, 0));
    EXPECT_FALSE(selectParts(record, 64 | 128));
}

TEST(VersionSelector, DottedTextOfTheSelectedParts) {
    VersionRecord record;
    record.fileVersion = {1, 0, 6, 1006};
    record.productVersion = {2, 3, 4, 5005};
    EXPECT_EQ(dottedVersion(record, 16 + 1 + 2 + 4 + 8), "1.0.6.1006");
    EXPECT_EQ(dottedVersion(record, 16 + 1 + 2), "1.0");
    EXPECT_EQ(dottedVersion(record, 16 + 2 + 8), "0.1006");
    EXPECT_EQ(dottedVersion(record, 32 + 8), "5005");
    EXPECT_EQ(dottedVersion(record, 16), "");
    EXPECT_EQ(dottedVersion(record, 32 + 4), "4");
    EXPECT_FALSE(dottedVersion(record, 15));
    record.fileVersion = {65535, 0, 0, 65535};
    EXPECT_EQ(dottedVersion(record, 16 + 1 + 8), "65535.65535");
}

TEST(JoinFolder, AddsOneSeparatorOnlyWhereNeeded) {
    EXPECT_EQ(joinFolder("/opt/app", "A.EXE"), std::filesystem::path("/opt/app/A.EXE"));
    EXPECT_EQ(joinFolder("/opt/app/", "A.EXE"), std::filesystem::path("/opt/app/A.EXE"));
    EXPECT_EQ(joinFolder("", "A.EXE"), std::filesystem::path("A.EXE"));
    EXPECT_EQ(joinFolder("/", "A.EXE"), std::filesystem::path("/A.EXE"));
}

}  // namespace
}  // namespace tavrel::kesver1
