// The hashing code itself, run with each compressor this processor has:
// known answers, every short length and random splits against OpenSSL, and
// the two compressors against each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kes01/hash_context.h"
#include "kes01/sha1_compress.h"
#include "kes01/tests/openssl_reference.h"

namespace tavrel::kes01 {

// Names the compressor in test output.
void PrintTo(CompressorKind kind, std::ostream* out) { *out << compressorName(kind); }

namespace {

using testing::DigestWords;
using testing::opensslDigest;
using testing::randomBytes;

class Sha1CoreTest : public ::testing::TestWithParam<CompressorKind> {
  protected:
    void SetUp() override {
        if (GetParam() == CompressorKind::kShaExtensions && !hasShaExtensions()) {
            GTEST_SKIP() << "this processor has no SHA extensions";
        }
        m_compress = compressorOf(GetParam());
    }

    // The digest of `message`, fed at the given split points (ascending offsets).
    DigestWords digestOf(std::string_view message, const std::vector<size_t>& splits = {}) {
        SHAHashContext context{};
        startMessage(context);
        size_t from = 0;
        for (size_t split : splits) {
            feedMessage(context, reinterpret_cast<const uint8_t*>(message.data()) + from,
                        split - from, m_compress);
            from = split;
        }
        feedMessage(context, reinterpret_cast<const uint8_t*>(message.data()) + from,
                    message.size() - from, m_compress);
        finishMessage(context, m_compress);
        EXPECT_EQ(context.state, ContextState::kFinalized);
        return {context.digest[0], context.digest[1], context.digest[2], context.digest[3],
                context.digest[4]};
    }

    Compressor m_compress = nullptr;
};

TEST_P(Sha1CoreTest, KnownAnswersOfTheStandard) {
    EXPECT_EQ(testing::digestText(digestOf("")), "da39a3ee-5e6b4b0d-3255bfef-95601890-afd80709");
    EXPECT_EQ(testing::digestText(digestOf("abc")), "a9993e36-4706816a-ba3e2571-7850c26c-9cd0d89d");
    EXPECT_EQ(
        testing::digestText(digestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
        "84983e44-1c3bd26e-baae4aa1-f95129e5-e54670f1");
    EXPECT_EQ(testing::digestText(digestOf(std::string(1000000, 'a'))),
              "34aa973c-d4c4daa4-f61eeb2b-dbad2731-6534016f");
}

TEST_P(Sha1CoreTest, EveryLengthUpTo300MatchesOpenSsl) {
    const std::string bytes = randomBytes(300, 7);
    for (size_t length = 0; length <= 300; ++length) {
        const std::string_view message(bytes.data(), length);
        ASSERT_EQ(digestOf(message), opensslDigest(message)) << "length " << length;
    }
}

TEST_P(Sha1CoreTest, PaddingBoundariesMatchOpenSslWithAndWithoutWaitingBytes) {
    // 55 bytes leave room for padding and length; 56..63 need a second block;
    // 64 and 65 start a new block. Each also fed after a first odd-sized piece,
    // so the padding lands behind bytes that were waiting in the block buffer.
    for (size_t length : {55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129}) {
        const std::string message = randomBytes(length, uint32_t(length));
        EXPECT_EQ(digestOf(message), opensslDigest(message)) << "length " << length;
        EXPECT_EQ(digestOf(message, {length / 3}), opensslDigest(message)) << "length " << length;
    }
}

TEST_P(Sha1CoreTest, RandomSplitsGiveTheDigestOfOneCall) {
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        const size_t length = random() % 3000;
        const std::string message = randomBytes(length, uint32_t(round));
        std::vector<size_t> splits;
        const int pieces = int(random() % 12);
        for (int i = 0; i < pieces && length > 0; ++i) splits.push_back(random() % (length + 1));
        std::sort(splits.begin(), splits.end());
        ASSERT_EQ(digestOf(message, splits), opensslDigest(message)) << "round " << round;
    }
}

TEST_P(Sha1CoreTest, ByteByByteFeedingGivesTheDigestOfOneCall) {
    const std::string message = randomBytes(200, 3);
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < message.size(); ++i) everyByte.push_back(i);
    EXPECT_EQ(digestOf(message, everyByte), opensslDigest(message));
}

TEST_P(Sha1CoreTest, ManyBlocksInOneCallEqualOneBlockPerCall) {
    const std::string blocks = randomBytes(64 * 9, 5);
    uint32_t together[5] = {1, 2, 3, 4, 5};
    uint32_t oneByOne[5] = {1, 2, 3, 4, 5};
    m_compress(together, reinterpret_cast<const uint8_t*>(blocks.data()), 9);
    for (int i = 0; i < 9; ++i) {
        m_compress(oneByOne, reinterpret_cast<const uint8_t*>(blocks.data()) + 64 * i, 1);
    }
    EXPECT_EQ(0, std::memcmp(together, oneByOne, sizeof together));
}

TEST_P(Sha1CoreTest, CallerDataIsNeverModified) {
    const std::string message = randomBytes(1000, 9);
    std::string copy = message;
    digestOf(copy, {10, 500});
    EXPECT_EQ(copy, message);
}

INSTANTIATE_TEST_SUITE_P(Compressors, Sha1CoreTest,
                         ::testing::Values(CompressorKind::kPortable,
                                           CompressorKind::kShaExtensions),
                         [](const auto& info) {
                             return info.param == CompressorKind::kPortable ? "Portable"
                                                                            : "ShaExtensions";
                         });

TEST(Sha1Compressors, GiveIdenticalStatesFromArbitraryChainingValues) {
    if (!hasShaExtensions()) GTEST_SKIP() << "this processor has no SHA extensions";
    std::mt19937 random(13);
    for (int round = 0; round < 500; ++round) {
        uint32_t portable[5];
        for (uint32_t& word : portable) word = random();
        uint32_t extensions[5];
        std::memcpy(extensions, portable, sizeof portable);
        const size_t count = 1 + random() % 4;
        const std::string blocks = randomBytes(64 * count, random());
        compressPortable(portable, reinterpret_cast<const uint8_t*>(blocks.data()), count);
        compressShaExtensions(extensions, reinterpret_cast<const uint8_t*>(blocks.data()), count);
        ASSERT_EQ(0, std::memcmp(portable, extensions, sizeof portable)) << "round " << round;
    }
}

TEST(Sha1Context, BitCountCarriesIntoTheHighWordAndEndsTheMessageBigEndian) {
    SHAHashContext context{};
    startMessage(context);
    context.bitCountLow = 0xFFFFFE00;  // a whole number of blocks, just under 2^32 bits
    const std::string block = randomBytes(64, 1);
    feedMessage(context, reinterpret_cast<const uint8_t*>(block.data()), 64, compressPortable);
    EXPECT_EQ(context.bitCountLow, 0u);
    EXPECT_EQ(context.bitCountHigh, 1u);

    finishMessage(context, compressPortable);
    const uint8_t lengthField[8] = {0, 0, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(context.block + 56, lengthField, 8));
    EXPECT_EQ(context.block[0], 0x80);
}

TEST(Sha1Context, MessageOver512MiBCarriesTheBitCountLikeOpenSsl) {
    // 2^32 bits is 512 MiB: the count's high word only matters past that.
    const std::string chunk = randomBytes(1 << 20, 17);
    const size_t chunks = 513;
    SHAHashContext context{};
    startMessage(context);
    const Compressor compress = selectedCompressor();
    for (size_t i = 0; i < chunks; ++i) {
        feedMessage(context, reinterpret_cast<const uint8_t*>(chunk.data()), chunk.size(),
                    compress);
    }
    feedMessage(context, reinterpret_cast<const uint8_t*>(chunk.data()), 7, compress);
    finishMessage(context, compress);
    EXPECT_EQ(context.bitCountHigh, 1u);

    testing::OpensslSha1 reference;
    for (size_t i = 0; i < chunks; ++i) reference.update(chunk.data(), chunk.size());
    reference.update(chunk.data(), 7);
    const DigestWords expected = reference.finish();
    EXPECT_EQ(DigestWords({context.digest[0], context.digest[1], context.digest[2],
                           context.digest[3], context.digest[4]}),
              expected);
}

TEST(Sha1Context, DigestTextIsTheWordsInLowerCaseHexWithHyphens) {
    const uint32_t words[5] = {0x0123ABCD, 0xFFFFFFFF, 0, 0x89ABCDEF, 0x00000001};
    char text[46];
    std::memset(text, '#', sizeof text);
    formatDigestText(words, text);
    EXPECT_STREQ(text, "0123abcd-ffffffff-00000000-89abcdef-00000001");
    EXPECT_EQ(text[45], '#');  // exactly 45 bytes written
}

TEST(Sha1Context, DigestTextHasEveryDigitRightInEveryPlace) {
    // Each of the sixteen digits in each of the forty places, against printf.
    for (uint32_t digit = 0; digit < 16; ++digit) {
        for (int place = 0; place < 40; ++place) {
            uint32_t words[5] = {0x76543210, 0xFEDCBA98, 0x13579BDF, 0x02468ACE, 0x5A5A5A5A};
            const int shift = 4 * (7 - place % 8);
            words[place / 8] = (words[place / 8] & ~(0xFu << shift)) | (digit << shift);
            char expected[46];
            std::snprintf(expected, sizeof expected, "%08x-%08x-%08x-%08x-%08x", words[0], words[1],
                          words[2], words[3], words[4]);
            char text[46];
            formatDigestText(words, text);
            ASSERT_STREQ(text, expected) << "digit " << digit << " in place " << place;
            char portable[46];
            formatDigestTextPortable(words, portable);
            ASSERT_STREQ(portable, expected) << "digit " << digit << " in place " << place;
        }
    }
}

TEST(Sha1Context, WipeLeavesOnlyZeroBytes) {
    SHAHashContext context{};
    startMessage(context);
    feedMessage(context, reinterpret_cast<const uint8_t*>("secret"), 6, compressPortable);
    wipeContext(context);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&context);
    for (size_t i = 0; i < sizeof context; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(Sha1Dispatch, SelectsTheExtensionsWhenPresentUnlessPortableIsForced) {
    const char* forced = std::getenv("KES01_PORTABLE");
    const bool portableForced = forced != nullptr && std::string(forced) == "1";
    const CompressorKind expected = hasShaExtensions() && !portableForced
                                        ? CompressorKind::kShaExtensions
                                        : CompressorKind::kPortable;
    EXPECT_EQ(selectedCompressorKind(), expected);
    EXPECT_EQ(selectedCompressor(), compressorOf(expected));
}

}  // namespace
}  // namespace tavrel::kes01
