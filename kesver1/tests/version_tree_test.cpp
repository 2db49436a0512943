// The VS_VERSIONINFO tree: queries as the platform answers them, damaged
// blocks, and the single-byte text of the values.
#include "kesver1/version_tree.h"

#include <gtest/gtest.h>

#include "kesver1/ansi_text.h"
#include "kesver1/tests/pe_writer.h"

namespace tavrel::kesver1 {
namespace {

using test::buildVersionResource;
using test::findKey;
using test::put16;
using test::typicalVersion;
using test::VersionSpec;

constexpr char kBlock[] = "\\StringFileInfo\\040904E4\\";

VersionTree treeOf(const VersionSpec& def) { return VersionTree(buildVersionResource(def)); }

// The offset of the block whose key is `key` (its wLength field).
size_t blockOf(const std::vector<uint8_t>& bytes, const std::string& key) {
    return findKey(bytes, key) - 6;
}

TEST(VersionTree, AnswersFixedVersionTranslationAndStrings) {
    const VersionTree tree = treeOf(typicalVersion());
    ASSERT_TRUE(tree.isValid());
    const auto fixed = tree.fixedVersion();
    ASSERT_TRUE(fixed);
    EXPECT_EQ(fixed->fileMs, 0x00010000u);
    EXPECT_EQ(fixed->fileLs, (6u << 16) | 1006u);
    EXPECT_EQ(fixed->productMs, (2u << 16) | 3u);
    EXPECT_EQ(fixed->productLs, (4u << 16) | 5005u);
    const auto translation = tree.firstTranslation();
    ASSERT_TRUE(translation);
    EXPECT_EQ(translation->language, 0x0409);
    EXPECT_EQ(translation->codePage, 0x04E4);
    EXPECT_EQ(tree.text(std::string(kBlock) + "CompanyName"), "Tavrel Software Ltd");
    EXPECT_EQ(tree.text(std::string(kBlock) + "SpecialBuild"), "special");
    EXPECT_FALSE(tree.text(std::string(kBlock) + "NoSuchValue"));
    EXPECT_FALSE(tree.text("\\StringFileInfo\\080904B0\\CompanyName"));
}

TEST(VersionTree, KeysMatchWithoutRegardToCase) {
    const VersionTree tree = treeOf(typicalVersion());
    EXPECT_EQ(tree.text("\\stringfileinfo\\040904e4\\COMPANYNAME"), "Tavrel Software Ltd");
    VersionSpec lower = typicalVersion();
    lower.stringTables[0].key = "040904e4";
    EXPECT_EQ(treeOf(lower).text(std::string(kBlock) + "InternalName"), "KESVER1");
}

TEST(VersionTree, FirstOfSeveralTranslationsIsTaken) {
    VersionSpec def = typicalVersion();
    def.translations = {{0x0809, 0x04B0}, {0x0409, 0x04E4}};
    const auto translation = treeOf(def).firstTranslation();
    ASSERT_TRUE(translation);
    EXPECT_EQ(translation->language, 0x0809);
    EXPECT_EQ(translation->codePage, 0x04B0);
}

TEST(VersionTree, MissingPartsGiveNoAnswer) {
    VersionSpec def = typicalVersion();
    def.fileVersion.reset();
    def.translations.clear();
    const VersionTree tree = treeOf(def);
    ASSERT_TRUE(tree.isValid());
    EXPECT_FALSE(tree.fixedVersion());
    EXPECT_FALSE(tree.firstTranslation());
    EXPECT_EQ(tree.text(std::string(kBlock) + "FileVersion"), "1.0.6.1006");
}

TEST(VersionTree, RootMustBeAWholeVersionInfoBlock) {
    const auto good = buildVersionResource(typicalVersion());
    auto wrongKey = good;
    wrongKey[findKey(good, "VS_VERSION_INFO")] = 'X';
    EXPECT_FALSE(VersionTree(wrongKey).isValid());
    auto tooLong = good;
    put16(tooLong, 0, uint16_t(good.size() + 4));
    EXPECT_FALSE(VersionTree(tooLong).isValid());
    auto tooShort = good;
    put16(tooShort, 0, 5);
    EXPECT_FALSE(VersionTree(tooShort).isValid());
    // The key runs to the end of the block without its terminating zero.
    auto unterminated = good;
    put16(unterminated, 0, 6 + 2 * 5);
    EXPECT_FALSE(VersionTree(unterminated).isValid());
    EXPECT_FALSE(VersionTree({}).isValid());
    EXPECT_FALSE(VersionTree(std::vector<uint8_t>(good.begin(), good.begin() + 20)).isValid());
    EXPECT_FALSE(VersionTree(wrongKey).query("\\"));
}

TEST(VersionTree, RootValueShorterThanFixedInformation) {
    auto bytes = buildVersionResource(typicalVersion());
    put16(bytes, 2, 40);
    const VersionTree tree(bytes);
    ASSERT_TRUE(tree.isValid());
    EXPECT_FALSE(tree.fixedVersion());
}

TEST(VersionTree, DamagedBlockHidesItselfAndLaterSiblingsOnly) {
    auto bytes = buildVersionResource(typicalVersion());
    // A child claiming more bytes than its parent holds.
    put16(bytes, blockOf(bytes, "InternalName"), 0xFFF0);
    const VersionTree tree(bytes);
    EXPECT_EQ(tree.text(std::string(kBlock) + "FileVersion"), "1.0.6.1006");
    EXPECT_FALSE(tree.text(std::string(kBlock) + "InternalName"));
    EXPECT_FALSE(tree.text(std::string(kBlock) + "ProductVersion"));
    EXPECT_TRUE(tree.firstTranslation());  // another branch of the tree

    auto zeroLength = buildVersionResource(typicalVersion());
    put16(zeroLength, blockOf(zeroLength, "Comments"), 0);
    EXPECT_FALSE(VersionTree(zeroLength).text(std::string(kBlock) + "Comments"));
    EXPECT_FALSE(VersionTree(zeroLength).text(std::string(kBlock) + "CompanyName"));
}

TEST(VersionTree, TextIsReadToItsZeroWhateverTheDeclaredLength) {
    auto bytes = buildVersionResource(typicalVersion());
    put16(bytes, blockOf(bytes, "CompanyName") + 2, 0);
    EXPECT_EQ(VersionTree(bytes).text(std::string(kBlock) + "CompanyName"), "Tavrel Software Ltd");
    // Without its terminator the text ends with its block.
    auto unterminated = buildVersionResource(typicalVersion());
    const size_t block = blockOf(unterminated, "SpecialBuild");
    const uint16_t length = uint16_t(unterminated[block] | unterminated[block + 1] << 8);
    put16(unterminated, block, uint16_t(length - 4));
    EXPECT_EQ(VersionTree(unterminated).text(std::string(kBlock) + "SpecialBuild"), "specia");
}

TEST(AnsiText, ConvertsToCodePage1252) {
    const auto convert = [](std::u16string text) {
        std::vector<uint8_t> bytes;
        for (char16_t c : text) {
            bytes.push_back(uint8_t(c));
            bytes.push_back(uint8_t(c >> 8));
        }
        return utf16ToAnsi(platform::ByteView(bytes));
    };
    EXPECT_EQ(convert(u"Plain ASCII"), "Plain ASCII");
    EXPECT_EQ(convert(u"\u00A9 \u00E9"), "\xA9 \xE9");
    EXPECT_EQ(convert(u"\u20AC\u2122\u201C\u0178"), "\x80\x99\x93\x9F");
    EXPECT_EQ(convert(u"\u0416\u4E2D"), "??");
    EXPECT_EQ(convert(u"a\U0001F600b"), "a?b");
    EXPECT_EQ(convert(u"\xD800"), "?");  // a lone surrogate
    EXPECT_EQ(convert(std::u16string(u"cut\0here", 8)), "cut");
    EXPECT_EQ(utf16ToAnsi(platform::ByteView(reinterpret_cast<const uint8_t*>("A\0B"), 3)), "A");
}

TEST(AnsiText, ConvertsBackForDisplay) {
    EXPECT_EQ(ansiToUtf16("\x80\x99\xA9 x"), u"\u20AC\u2122\u00A9 x");
}

}  // namespace
}  // namespace tavrel::kesver1
