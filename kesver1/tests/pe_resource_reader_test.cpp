// The PE side of the reader: locating the version resource through headers,
// sections and the resource directory, and refusing every damaged structure.
#include "kesver1/pe_resource_reader.h"

#include <gtest/gtest.h>

#include "kesver1/byte_source.h"
#include "kesver1/tests/pe_writer.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::kesver1 {
namespace {

using test::buildPe;
using test::buildVersionResource;
using test::PeImage;
using test::PeSpec;
using test::put16;
using test::put32;
using test::typicalPe;
using test::typicalVersion;

PeReadResult readBytes(const std::vector<uint8_t>& bytes) {
    return readVersionResource(MemorySource(bytes));
}

PeError errorOf(const std::vector<uint8_t>& bytes) { return readBytes(bytes).error; }

TEST(PeResourceReader, FindsTheVersionResourceOfEveryHeaderKind) {
    const auto expected = buildVersionResource(typicalVersion());
    for (const bool is64 : {false, true}) {
        for (const bool isDll : {false, true}) {
            const auto result = readBytes(typicalPe(is64, isDll).bytes);
            ASSERT_EQ(result.error, PeError::kNone) << "is64 " << is64 << " dll " << isDll;
            EXPECT_EQ(result.bytes, expected);
        }
    }
}

TEST(PeResourceReader, TakesTheFirstLanguageFound) {
    auto british = typicalVersion();
    british.stringTables[0].values[0].value = u"british";
    PeSpec def;
    def.versionLanguages = {{0x0809, buildVersionResource(british)},
                            {0x0409, buildVersionResource(typicalVersion())}};
    EXPECT_EQ(readBytes(buildPe(def).bytes).bytes, buildVersionResource(british));
}

TEST(PeResourceReader, ImageWithoutResourcesHasNoVersion) {
    PeSpec def;
    def.hasResources = false;
    EXPECT_EQ(errorOf(buildPe(def).bytes), PeError::kNoResources);
}

TEST(PeResourceReader, ResourcesWithoutVersionTypeHaveNoVersion) {
    PeSpec def;  // only a named type and an icon type
    EXPECT_EQ(errorOf(buildPe(def).bytes), PeError::kNoVersionResource);
}

TEST(PeResourceReader, NamedTypeIsNeverMistakenForTheVersionId) {
    PeImage image = typicalPe();
    // The named type's entry now carries the number 16 with the name bit set,
    // and the real version type becomes 17.
    put32(image.bytes, image.rootDirectory + 16, 0x80000000u | 16);
    put32(image.bytes, image.versionTypeEntry, 17);
    EXPECT_EQ(errorOf(image.bytes), PeError::kNoVersionResource);
}

TEST(PeResourceReader, VersionWithoutNameOneIsNotFound) {
    PeImage image = typicalPe();
    put32(image.bytes, image.nameDirectory + 16, 2);
    EXPECT_EQ(errorOf(image.bytes), PeError::kNoVersionResource);
}

TEST(PeResourceReader, LanguageDirectoryWithoutEntriesIsNotFound) {
    PeImage image = typicalPe();
    put16(image.bytes, image.languageDirectory + 14, 0);
    EXPECT_EQ(errorOf(image.bytes), PeError::kNoVersionResource);
}

TEST(PeResourceReader, FilesThatAreNotPeImages) {
    EXPECT_EQ(errorOf({}), PeError::kNotPe);
    const std::string text = "This is a plain text file, not an executable at all.";
    EXPECT_EQ(errorOf(std::vector<uint8_t>(text.begin(), text.end())), PeError::kNotPe);

    PeImage image = typicalPe();
    EXPECT_EQ(errorOf(std::vector<uint8_t>(image.bytes.begin(), image.bytes.begin() + 64)),
              PeError::kNotPe);
    auto wrongSignature = image.bytes;
    wrongSignature[image.ntOffset + 1] = 'X';
    EXPECT_EQ(errorOf(wrongSignature), PeError::kNotPe);
    auto farHeaders = image.bytes;
    put32(farHeaders, 0x3C, 0xFFFFFFF0u);
    EXPECT_EQ(errorOf(farHeaders), PeError::kNotPe);
    auto hugeOptionalHeader = image.bytes;
    put16(hugeOptionalHeader, image.ntOffset + 20, 0xFFFF);
    EXPECT_EQ(errorOf(hugeOptionalHeader), PeError::kNotPe);
}

TEST(PeResourceReader, UnknownOptionalHeaderMagic) {
    PeImage image = typicalPe();
    put16(image.bytes, image.optionalOffset, 0x107);  // a ROM image
    EXPECT_EQ(errorOf(image.bytes), PeError::kBadOptionalHeader);
}

TEST(PeResourceReader, OptionalHeaderTooShortForItsDirectoryCount) {
    PeImage image = typicalPe();
    put16(image.bytes, image.ntOffset + 20, 80);
    EXPECT_EQ(errorOf(image.bytes), PeError::kBadOptionalHeader);
}

TEST(PeResourceReader, OptionalHeaderEndingInsideTheResourceDirectoryField) {
    for (const bool is64 : {false, true}) {
        PeImage image = typicalPe(is64);
        // The header holds the resource directory's address but not its size.
        const uint16_t cut = uint16_t(image.resourceDirectoryField + 4 - image.optionalOffset);
        put16(image.bytes, image.ntOffset + 20, cut);
        EXPECT_EQ(errorOf(image.bytes), PeError::kNoResources) << "is64 " << is64;
    }
}

TEST(PeResourceReader, TooFewDataDirectoriesMeansNoResources) {
    PeImage image = typicalPe();
    put32(image.bytes, image.resourceDirectoryField - 4 - 16, 2);
    EXPECT_EQ(errorOf(image.bytes), PeError::kNoResources);
}

TEST(PeResourceReader, ResourceAddressOutsideEverySection) {
    PeImage image = typicalPe();
    put32(image.bytes, image.resourceDirectoryField, 0x9000);
    EXPECT_EQ(errorOf(image.bytes), PeError::kBadSection);
}

TEST(PeResourceReader, SectionTableCutOffByTheEndOfTheFile) {
    PeImage image = typicalPe();
    put16(image.bytes, image.ntOffset + 6, 0xFFFF);
    EXPECT_EQ(errorOf(image.bytes), PeError::kBadSection);
}

TEST(PeResourceReader, SectionWhoseRawDataIsBeyondTheFile) {
    PeImage image = typicalPe();
    put32(image.bytes, image.rsrcSectionHeader + 20, 0x7FFFFF00);
    EXPECT_EQ(errorOf(image.bytes), PeError::kBadResourceDirectory);
}

TEST(PeResourceReader, DirectoryEntryCountBeyondTheSection) {
    PeImage image = typicalPe();
    put16(image.bytes, image.rootDirectory + 14, 0xFFFF);
    EXPECT_EQ(errorOf(image.bytes), PeError::kBadResourceDirectory);
}

TEST(PeResourceReader, SubdirectoryOffsetBeyondTheSection) {
    PeImage image = typicalPe();
    put32(image.bytes, image.versionTypeEntry + 4, 0x80000000u | 0x00FFFFF0);
    EXPECT_EQ(errorOf(image.bytes), PeError::kBadResourceDirectory);
}

TEST(PeResourceReader, TypeEntryThatIsNotASubdirectory) {
    PeImage image = typicalPe();
    const uint32_t field = image.bytes[image.versionTypeEntry + 4] |
                           uint32_t(image.bytes[image.versionTypeEntry + 5]) << 8;
    put32(image.bytes, image.versionTypeEntry + 4, field);  // high bit cleared
    EXPECT_EQ(errorOf(image.bytes), PeError::kBadResourceDirectory);
}

TEST(PeResourceReader, LanguageEntryThatIsASubdirectory) {
    PeImage image = typicalPe();
    image.bytes[image.languageDirectory + 16 + 7] |= 0x80;
    EXPECT_EQ(errorOf(image.bytes), PeError::kBadResourceDirectory);
}

TEST(PeResourceReader, DataOutsideTheSectionsOrTheFile) {
    PeImage image = typicalPe();
    auto outside = image.bytes;
    put32(outside, image.firstDataEntry, 0x00100000);
    EXPECT_EQ(errorOf(outside), PeError::kBadResourceData);
    auto tooLong = image.bytes;
    put32(tooLong, image.firstDataEntry + 4, 0x10000000);
    EXPECT_EQ(errorOf(tooLong), PeError::kBadResourceData);
    auto empty = image.bytes;
    put32(empty, image.firstDataEntry + 4, 0);
    EXPECT_EQ(errorOf(empty), PeError::kBadResourceData);
    // The section's header still claims its raw data, the file ends early.
    auto truncated = image.bytes;
    truncated.resize(image.firstData + 8);
    EXPECT_EQ(errorOf(truncated), PeError::kBadResourceData);
}

TEST(PeResourceReader, DataInTheMemoryOnlyTailOfASectionIsRefused) {
    PeImage image = typicalPe();
    // The section keeps only its directories in memory; the data lies beyond
    // its virtual size.
    put32(image.bytes, image.rsrcSectionHeader + 8, image.firstData - image.rootDirectory);
    EXPECT_EQ(errorOf(image.bytes), PeError::kBadResourceData);
}

TEST(PeResourceReader, ResourceLongerThanAVersionTreeIsCut) {
    auto data = buildVersionResource(typicalVersion());
    data.resize(70000, 0xAB);
    PeSpec def;
    def.versionLanguages = {{0x0409, data}};
    const auto result = readBytes(buildPe(def).bytes);
    ASSERT_EQ(result.error, PeError::kNone);
    EXPECT_EQ(result.bytes.size(), 0xFFFFu);
}

TEST(PeResourceReader, OnlyPrefixesHoldingTheWholeResourceAreRead) {
    const PeImage image = typicalPe(true, true);
    const size_t end = image.firstData + buildVersionResource(typicalVersion()).size();
    for (size_t size = 0; size <= image.bytes.size(); ++size) {
        const std::vector<uint8_t> prefix(image.bytes.begin(), image.bytes.begin() + size);
        EXPECT_EQ(readBytes(prefix).error == PeError::kNone, size >= end) << size;
    }
}

TEST(FileSource, ReadsFilesFromDiskWithoutRegardToCase) {
    platform::testing::TempFolder folder;
    const PeImage image = typicalPe();
    test::writeBytes(folder / "Product.EXE", image.bytes);
    const auto source = FileSource::open(folder / "product.exe");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->size(), image.bytes.size());
    EXPECT_EQ(readVersionResource(*source).error, PeError::kNone);
    EXPECT_FALSE(source->read(image.bytes.size() - 4, 8));
    EXPECT_EQ(source->read(0, 2), (std::vector<uint8_t>{'M', 'Z'}));
}

TEST(FileSource, MissingFilesAndFoldersCannotBeOpened) {
    platform::testing::TempFolder folder;
    EXPECT_FALSE(FileSource::open(folder / "missing.dll"));
    EXPECT_FALSE(FileSource::open(folder.path()));
    EXPECT_FALSE(FileSource::open(""));
}

}  // namespace
}  // namespace tavrel::kesver1
