// KES01.DLL through its exports, loaded by file name and bound by name as the
// agent does: digests against OpenSSL, result codes and the order in which
// they are checked, untouched outputs, destroyed and foreign handles.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kes01/kes01.h"
#include "kes01/tests/openssl_reference.h"
#include "platform/dynamic_library.h"

namespace tavrel::kes01 {
namespace {

using testing::DigestWords;
using testing::opensslDigest;
using testing::randomBytes;

// The seven exports, bound by name.
struct Exports {
    decltype(&::SHACreateContext) create = nullptr;
    decltype(&::SHAInitialize) initialize = nullptr;
    decltype(&::SHAUpdateHash) update = nullptr;
    decltype(&::SHAFinalize) finalize = nullptr;
    decltype(&::SHAGetHashValue) value = nullptr;
    decltype(&::SHAGetHashString) text = nullptr;
    decltype(&::SHADestroyContext) destroy = nullptr;
};

class Kes01ExportsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string error;
        s_library = platform::DynamicLibrary::open("KES01.DLL", &error).release();
        ASSERT_NE(s_library, nullptr) << error;
        s_exports.create = s_library->function<decltype(s_exports.create)>("SHACreateContext");
        s_exports.initialize = s_library->function<decltype(s_exports.initialize)>("SHAInitialize");
        s_exports.update = s_library->function<decltype(s_exports.update)>("SHAUpdateHash");
        s_exports.finalize = s_library->function<decltype(s_exports.finalize)>("SHAFinalize");
        s_exports.value = s_library->function<decltype(s_exports.value)>("SHAGetHashValue");
        s_exports.text = s_library->function<decltype(s_exports.text)>("SHAGetHashString");
        s_exports.destroy = s_library->function<decltype(s_exports.destroy)>("SHADestroyContext");
    }
    static void TearDownTestSuite() {
        delete s_library;
        s_library = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(s_library, nullptr);
        ASSERT_TRUE(k.create && k.initialize && k.update && k.finalize && k.value && k.text &&
                    k.destroy)
            << "an export is missing";
    }
    void TearDown() override {
        for (SHAContextHandle handle : m_handles) k.destroy(handle);
    }

    // A new context that the fixture destroys at the end (unless the test did).
    SHAContextHandle newContext() {
        const SHAContextHandle handle = k.create();
        EXPECT_NE(handle, 0);
        m_handles.push_back(handle);
        return handle;
    }

    // The digest words of a finalized context.
    DigestWords wordsOf(SHAContextHandle handle) {
        DigestWords words{};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(k.value(handle, i, &words[size_t(i)]), 0);
        return words;
    }

    std::string textOf(SHAContextHandle handle) {
        char buffer[KES01_HASH_STRING_SIZE] = {};
        EXPECT_EQ(k.text(handle, buffer), 0);
        return std::string(buffer);
    }

    // The digest text of a message fed at the given split points.
    std::string hashText(std::string_view message, const std::vector<size_t>& splits = {}) {
        const SHAContextHandle handle = newContext();
        size_t from = 0;
        std::vector<size_t> ends = splits;
        ends.push_back(message.size());
        for (size_t end : ends) {
            EXPECT_EQ(k.update(handle, message.data() + from, int32_t(end - from)), 0);
            from = end;
        }
        EXPECT_EQ(k.finalize(handle), 0);
        return textOf(handle);
    }

    static platform::DynamicLibrary* s_library;
    static Exports s_exports;
    const Exports& k = s_exports;
    std::vector<SHAContextHandle> m_handles;
};

platform::DynamicLibrary* Kes01ExportsTest::s_library = nullptr;
Exports Kes01ExportsTest::s_exports;

// ---- digests -------------------------------------------------------------

TEST_F(Kes01ExportsTest, EmptyMessageGivesTheDigestTextOfNoBytes) {
    const SHAContextHandle handle = newContext();
    ASSERT_EQ(k.finalize(handle), 0);
    EXPECT_EQ(textOf(handle), "da39a3ee-5e6b4b0d-3255bfef-95601890-afd80709");
}

TEST_F(Kes01ExportsTest, EveryLengthUpTo300MatchesOpenSsl) {
    const std::string bytes = randomBytes(300, 21);
    for (size_t length = 0; length <= 300; ++length) {
        const std::string_view message(bytes.data(), length);
        ASSERT_EQ(hashText(message), testing::digestText(opensslDigest(message)))
            << "length " << length;
    }
}

TEST_F(Kes01ExportsTest, RandomSplitsGiveTheDigestOfOneCall) {
    std::mt19937 random(23);
    for (int round = 0; round < 100; ++round) {
        const size_t length = random() % 5000;
        const std::string message = randomBytes(length, uint32_t(round) + 1000);
        std::vector<size_t> splits;
        for (int i = int(random() % 10); i > 0; --i) splits.push_back(random() % (length + 1));
        std::sort(splits.begin(), splits.end());
        ASSERT_EQ(hashText(message, splits), hashText(message)) << "round " << round;
        ASSERT_EQ(hashText(message), testing::digestText(opensslDigest(message)));
    }
}

TEST_F(Kes01ExportsTest, HashValueIndexZeroIsH0AndFourIsH4) {
    const SHAContextHandle handle = newContext();
    ASSERT_EQ(k.update(handle, "abc", 3), 0);
    ASSERT_EQ(k.finalize(handle), 0);
    EXPECT_EQ(wordsOf(handle), opensslDigest("abc"));
    uint32_t h0 = 0, h4 = 0;
    EXPECT_EQ(k.value(handle, 0, &h0), 0);
    EXPECT_EQ(k.value(handle, 4, &h4), 0);
    EXPECT_EQ(h0, 0xa9993e36u);
    EXPECT_EQ(h4, 0x9cd0d89du);
}

TEST_F(Kes01ExportsTest, DigestTextLayoutIsFixed) {
    for (uint32_t seed = 0; seed < 50; ++seed) {
        const SHAContextHandle handle = newContext();
        const std::string message = randomBytes(seed * 7, seed);
        ASSERT_EQ(k.update(handle, message.data(), int32_t(message.size())), 0);
        ASSERT_EQ(k.finalize(handle), 0);
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        ASSERT_EQ(k.text(handle, buffer), 0);
        EXPECT_EQ(buffer[44], '\0');
        EXPECT_EQ(buffer[45], '#') << "wrote more than 45 bytes";
        for (int position = 1; position <= 44; ++position) {
            const char c = buffer[position - 1];
            if (position % 9 == 0) {
                EXPECT_EQ(c, '-') << "position " << position;
            } else {
                EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))
                    << "position " << position << " holds " << c;
            }
        }
    }
}

// ---- state rules -----------------------------------------------------------

TEST_F(Kes01ExportsTest, UpdateWithLengthZeroChangesNothing) {
    const SHAContextHandle handle = newContext();
    ASSERT_EQ(k.update(handle, "ab", 2), 0);
    EXPECT_EQ(k.update(handle, "zz", 0), 0);
    EXPECT_EQ(k.update(handle, nullptr, 0), 0);
    ASSERT_EQ(k.update(handle, "c", 1), 0);
    ASSERT_EQ(k.finalize(handle), 0);
    EXPECT_EQ(wordsOf(handle), opensslDigest("abc"));
}

TEST_F(Kes01ExportsTest, NegativeLengthOrNullDataIsRefusedAndChangesNothing) {
    const SHAContextHandle handle = newContext();
    ASSERT_EQ(k.update(handle, "ab", 2), 0);
    EXPECT_EQ(k.update(handle, "zz", -1), KES01_BAD_LENGTH);
    EXPECT_EQ(k.update(handle, "zz", INT32_MIN), KES01_BAD_LENGTH);
    EXPECT_EQ(k.update(handle, nullptr, 5), KES01_BAD_LENGTH);
    ASSERT_EQ(k.update(handle, "c", 1), 0);
    ASSERT_EQ(k.finalize(handle), 0);
    EXPECT_EQ(wordsOf(handle), opensslDigest("abc"));
}

TEST_F(Kes01ExportsTest, FinalizedContextRefusesDataUntilInitialized) {
    const SHAContextHandle handle = newContext();
    ASSERT_EQ(k.update(handle, "abc", 3), 0);
    ASSERT_EQ(k.finalize(handle), 0);
    const std::string digest = textOf(handle);

    EXPECT_EQ(k.update(handle, "x", 1), KES01_NOT_ACCEPTING);
    EXPECT_EQ(k.finalize(handle), KES01_NOT_ACCEPTING);
    EXPECT_EQ(textOf(handle), digest) << "a refused call changed the digest";

    ASSERT_EQ(k.initialize(handle), 0);
    ASSERT_EQ(k.update(handle, "hello", 5), 0);
    ASSERT_EQ(k.finalize(handle), 0);
    EXPECT_EQ(wordsOf(handle), opensslDigest("hello"));
}

TEST_F(Kes01ExportsTest, InitializeMidMessageStartsAFreshMessage) {
    const SHAContextHandle handle = newContext();
    const std::string junk = randomBytes(100, 4);
    ASSERT_EQ(k.update(handle, junk.data(), 100), 0);
    ASSERT_EQ(k.initialize(handle), 0);
    ASSERT_EQ(k.update(handle, "abc", 3), 0);
    ASSERT_EQ(k.finalize(handle), 0);
    EXPECT_EQ(wordsOf(handle), opensslDigest("abc"));
}

TEST_F(Kes01ExportsTest, DigestReadsBeforeFinalizeAreRefusedAndLeaveOutputUntouched) {
    const SHAContextHandle handle = newContext();
    ASSERT_EQ(k.update(handle, "abc", 3), 0);
    uint32_t value = 0x5EED5EED;
    EXPECT_EQ(k.value(handle, 0, &value), KES01_NOT_FINALIZED);
    EXPECT_EQ(value, 0x5EED5EEDu);
    char buffer[KES01_HASH_STRING_SIZE];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(k.text(handle, buffer), KES01_NOT_FINALIZED);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '#'));
    // The refused reads did not disturb the message either.
    ASSERT_EQ(k.finalize(handle), 0);
    EXPECT_EQ(wordsOf(handle), opensslDigest("abc"));
}

TEST_F(Kes01ExportsTest, WordIndexOutsideZeroToFourIsRefusedAndLeavesOutputUntouched) {
    const SHAContextHandle handle = newContext();
    ASSERT_EQ(k.finalize(handle), 0);
    for (int32_t index : {-1, 5, INT32_MIN, INT32_MAX}) {
        uint32_t value = 0x5EED5EED;
        EXPECT_EQ(k.value(handle, index, &value), KES01_BAD_ARGUMENT) << "index " << index;
        EXPECT_EQ(value, 0x5EED5EEDu);
    }
    EXPECT_EQ(k.value(handle, 0, nullptr), KES01_BAD_ARGUMENT);
    EXPECT_EQ(k.text(handle, nullptr), KES01_BAD_ARGUMENT);
}

TEST_F(Kes01ExportsTest, HandleIsCheckedBeforeStateAndStateBeforeArguments) {
    const SHAContextHandle finalized = newContext();
    ASSERT_EQ(k.finalize(finalized), 0);
    const SHAContextHandle accepting = newContext();
    uint32_t value = 7;

    // State before argument.
    EXPECT_EQ(k.update(finalized, "x", -1), KES01_NOT_ACCEPTING);
    EXPECT_EQ(k.value(accepting, 9, &value), KES01_NOT_FINALIZED);
    EXPECT_EQ(k.text(accepting, nullptr), KES01_NOT_FINALIZED);
    // Handle before state and argument.
    EXPECT_EQ(k.update(0, "x", -1), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.value(0, 9, nullptr), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.text(0, nullptr), KES01_INVALID_HANDLE);
    EXPECT_EQ(value, 7u);
}

// ---- handles -----------------------------------------------------------------

TEST_F(Kes01ExportsTest, HandleZeroIsRefusedByEveryExport) {
    uint32_t value = 7;
    char buffer[KES01_HASH_STRING_SIZE] = "untouched";
    EXPECT_EQ(k.initialize(0), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.update(0, "abc", 3), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.finalize(0), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.value(0, 0, &value), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.text(0, buffer), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.destroy(0), KES01_INVALID_HANDLE);
    EXPECT_EQ(value, 7u);
    EXPECT_STREQ(buffer, "untouched");
}

TEST_F(Kes01ExportsTest, DestroyedHandleIsRefusedByEveryExportAndNeverHandedOutAgain) {
    const SHAContextHandle handle = k.create();
    ASSERT_NE(handle, 0);
    ASSERT_EQ(k.finalize(handle), 0);
    ASSERT_EQ(k.destroy(handle), 0);

    // New contexts, possibly at the same address, do not revive the old handle.
    for (int i = 0; i < 20; ++i) EXPECT_NE(newContext(), handle);

    uint32_t value = 7;
    char buffer[KES01_HASH_STRING_SIZE] = "untouched";
    EXPECT_EQ(k.initialize(handle), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.update(handle, "abc", 3), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.finalize(handle), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.value(handle, 0, &value), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.text(handle, buffer), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.destroy(handle), KES01_INVALID_HANDLE);
    EXPECT_EQ(value, 7u);
    EXPECT_STREQ(buffer, "untouched");
}

TEST_F(Kes01ExportsTest, AHandleDestroyedByAnotherThreadIsRefusedWhereItWasUsedLast) {
    // A thread that just used a handle remembers its context; a destroy
    // elsewhere must still be seen there.
    const SHAContextHandle handle = k.create();
    ASSERT_NE(handle, 0);
    const SHAContextHandle other = k.create();
    ASSERT_NE(other, 0);
    std::mutex mutex;
    std::condition_variable changed;
    int step = 0;
    int32_t before = -1, after = -1, otherAfter = -1;
    std::thread user([&] {
        before = k.update(handle, "abc", 3);
        {
            std::unique_lock<std::mutex> lock(mutex);
            step = 1;
            changed.notify_all();
            changed.wait_for(lock, std::chrono::seconds(30), [&] { return step == 2; });
        }
        after = k.update(handle, "abc", 3);
        otherAfter = k.update(other, "abc", 3);
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(30), [&] { return step == 1; });
        EXPECT_EQ(k.destroy(handle), 0);
        step = 2;
        changed.notify_all();
    }
    user.join();
    EXPECT_EQ(before, 0);
    EXPECT_EQ(after, KES01_INVALID_HANDLE);
    EXPECT_EQ(otherAfter, 0) << "a live context was lost with the destroyed one";
    EXPECT_EQ(k.destroy(other), 0);
}

TEST_F(Kes01ExportsTest, ForeignMemoryIsRefusedEvenWhenItCarriesTheLiveMarker) {
    // Memory laid out like a live, finalized context: the library must not
    // trust what it finds behind a value it did not hand out.
    alignas(16) uint8_t imitation[128] = {};
    imitation[0] = 0xEB;
    imitation[1] = 0xFE;
    imitation[2] = 2;
    const auto foreign = SHAContextHandle(reinterpret_cast<intptr_t>(imitation));
    uint32_t value = 7;
    char buffer[KES01_HASH_STRING_SIZE] = "untouched";
    EXPECT_EQ(k.initialize(foreign), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.update(foreign, "abc", 3), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.finalize(foreign), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.value(foreign, 0, &value), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.text(foreign, buffer), KES01_INVALID_HANDLE);
    EXPECT_EQ(k.destroy(foreign), KES01_INVALID_HANDLE);
    EXPECT_EQ(imitation[0], 0xEB) << "foreign memory was written";
    EXPECT_EQ(imitation[2], 2);
    EXPECT_EQ(value, 7u);
    EXPECT_STREQ(buffer, "untouched");
    // Arbitrary numbers, including ones near live handles, are refused too.
    const SHAContextHandle live = newContext();
    for (SHAContextHandle near : {live + 1, live + 1000, -live, SHAContextHandle(-1)}) {
        EXPECT_EQ(k.finalize(near), KES01_INVALID_HANDLE) << near;
    }
}

TEST_F(Kes01ExportsTest, ContextsInSeveralThreadsHashIndependently) {
    const std::string message = randomBytes(100000, 31);
    const std::string expected = testing::digestText(opensslDigest(message));
    std::vector<std::string> results(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < results.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                const SHAContextHandle handle = k.create();
                size_t from = 0;
                while (from < message.size()) {
                    const size_t piece = std::min<size_t>(1000 + t * 17, message.size() - from);
                    k.update(handle, message.data() + from, int32_t(piece));
                    from += piece;
                }
                k.finalize(handle);
                char buffer[KES01_HASH_STRING_SIZE] = {};
                k.text(handle, buffer);
                k.destroy(handle);
                if (round == 0 || results[t] == expected) results[t] = buffer;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& result : results) EXPECT_EQ(result, expected);
}

}  // namespace
}  // namespace tavrel::kes01
