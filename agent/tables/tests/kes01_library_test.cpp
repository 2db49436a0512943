// The agent's binding of KES01.DLL and the record checksum text: checksums
// against OpenSSL through the real library, and the failure paths with a
// missing library, a missing function and a failing call.
#include "agent/tables/kes01_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/tables/tests/openssl_checksum.h"
#include "platform/dynamic_library.h"

namespace tavrel::tables {
namespace {

using testing::opensslChecksum;

class LogRecorder {
  public:
    LogLine sink() {
        return [this](const std::string& line) { lines.push_back(line); };
    }
    std::vector<std::string> lines;
};

TEST(MakeChecksumText, AbcGivesTheDigestWordsInTheOrderH4H2H0H3H1) {
    LogRecorder log;
    Kes01Library library(log.sink());
    EXPECT_EQ(MakeChecksumText(library, "abc"), "9cd0d89dba3e2571a9993e367850c26c4706816a");
    EXPECT_TRUE(log.lines.empty());
}

TEST(MakeChecksumText, EmptyTextGivesTheDigestOfNoBytes) {
    Kes01Library library(nullptr);
    EXPECT_EQ(MakeChecksumText(library, ""), opensslChecksum(""));
}

TEST(MakeChecksumText, RecordTextsOfManyLengthsMatchOpenSsl) {
    Kes01Library library(nullptr);
    std::string text;
    for (int length = 0; length <= 300; ++length) {
        const auto checksum = MakeChecksumText(library, text);
        ASSERT_TRUE(checksum.has_value());
        ASSERT_EQ(*checksum, opensslChecksum(text)) << "length " << length;
        ASSERT_EQ(checksum->size(), 40u);
        ASSERT_EQ(checksum->find_first_not_of("0123456789abcdef"), std::string::npos);
        text += char('A' + length % 26);
    }
}

// One context for a run: every text starts afresh, whatever came before it
// (a longer text, an empty one, the same one).
TEST(ChecksumMaker, TextsInARowEachGiveTheirOwnDigest) {
    Kes01Library library(nullptr);
    ChecksumMaker maker(library);
    const std::vector<std::string> texts = {std::string(300, 'x'), "abc", "", "abc",
                                            std::string(64, '\0'), std::string(55, 'y'),
                                            std::string(56, 'y'), "\xE9t\xE9 "};
    for (int round = 0; round < 3; ++round) {
        for (const std::string& text : texts) {
            const auto checksum = maker.make(text);
            ASSERT_TRUE(checksum.has_value());
            ASSERT_EQ(*checksum, opensslChecksum(text)) << "length " << text.size();
        }
    }
}

TEST(MakeChecksumText, EveryByteCountsIncludingTrailingBlanksZeroesAndHighCharacters) {
    Kes01Library library(nullptr);
    const std::string record = "SMITH     JOHN      0012.50";
    const std::string moreBlanks = record + " ";
    EXPECT_NE(MakeChecksumText(library, record), MakeChecksumText(library, moreBlanks));
    // Single-byte code page text: each character is one byte, as stored.
    const std::string highBytes(
        "M\xFC"
        "LLER\xE9\x00\xFF",
        9);
    EXPECT_EQ(MakeChecksumText(library, highBytes), opensslChecksum(highBytes));
}

TEST(Kes01Library, NothingIsLoadedBeforeTheFirstCall) {
    LogRecorder log;
    Kes01Library library(log.sink(), "NOSUCHKES.DLL");
    EXPECT_TRUE(log.lines.empty());
}

TEST(Kes01Library, MissingLibraryFailsEveryCallWithALogLine) {
    LogRecorder log;
    Kes01Library library(log.sink(), "NOSUCHKES.DLL");
    EXPECT_EQ(library.SHACreateContext(), 0);
    EXPECT_EQ(library.SHAFinalize(1), Kes01Result::kUnavailable);
    char buffer[46];
    EXPECT_EQ(library.SHAGetHashString(1, buffer), Kes01Result::kUnavailable);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_NE(log.lines[0].find("NOSUCHKES.DLL"), std::string::npos) << log.lines[0];

    log.lines.clear();
    EXPECT_EQ(MakeChecksumText(library, "abc"), std::nullopt);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_NE(log.lines.back().find("Checksum not made"), std::string::npos) << log.lines.back();
}

class PartialLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_fake = platform::DynamicLibrary::open("KES01PARTIAL.DLL");
        ASSERT_NE(m_fake, nullptr);
        m_live = m_fake->function<int (*)()>("FakeLiveContexts");
        m_setFinalize = m_fake->function<void (*)(int32_t)>("FakeSetFinalizeResult");
        ASSERT_TRUE(m_live && m_setFinalize);
        m_setFinalize(0);
    }
    void TearDown() override {
        if (m_setFinalize) m_setFinalize(0);
    }

    std::unique_ptr<platform::DynamicLibrary> m_fake;
    int (*m_live)() = nullptr;
    void (*m_setFinalize)(int32_t) = nullptr;
};

TEST_F(PartialLibraryTest, MissingFunctionFailsThatCallOnlyAndTheContextIsReleased) {
    LogRecorder log;
    Kes01Library library(log.sink(), "KES01PARTIAL.DLL");
    const int liveBefore = m_live();
    EXPECT_EQ(MakeChecksumText(library, "abc"), std::nullopt);
    EXPECT_EQ(m_live(), liveBefore) << "the hashing context was not destroyed";
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "KES01PARTIAL.DLL has no function SHAGetHashString");
    EXPECT_NE(log.lines[1].find("SHAGetHashString returned -1"), std::string::npos) << log.lines[1];
    // The functions that exist were bound and keep working.
    EXPECT_EQ(library.SHAFinalize(0x1234), Kes01Result::kSuccess);
}

TEST_F(PartialLibraryTest, FailingLibraryCallGivesNoChecksumAndNamesTheCall) {
    m_setFinalize(201);
    LogRecorder log;
    Kes01Library library(log.sink(), "KES01PARTIAL.DLL");
    const int liveBefore = m_live();
    EXPECT_EQ(MakeChecksumText(library, "abc"), std::nullopt);
    EXPECT_EQ(m_live(), liveBefore);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_NE(log.lines[0].find("SHAFinalize returned 201"), std::string::npos) << log.lines[0];
}

TEST_F(PartialLibraryTest, AMakerGivesUpAFailedContextAndTakesANewOneForTheNextText) {
    m_setFinalize(201);
    LogRecorder log;
    Kes01Library library(log.sink(), "KES01PARTIAL.DLL");
    const int liveBefore = m_live();
    {
        ChecksumMaker maker(library);
        EXPECT_EQ(maker.make("abc"), std::nullopt);
        EXPECT_EQ(m_live(), liveBefore);
        EXPECT_EQ(maker.make("def"), std::nullopt);
        EXPECT_EQ(m_live(), liveBefore);
    }
    EXPECT_EQ(m_live(), liveBefore);
    ASSERT_EQ(log.lines.size(), 2u) << "one line a text";
    EXPECT_NE(log.lines[1].find("SHAFinalize returned 201"), std::string::npos) << log.lines[1];
}

}  // namespace
}  // namespace tavrel::tables
