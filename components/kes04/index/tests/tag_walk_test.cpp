// Walks in tag order over tables whose index and data disagree: records
// changed behind the index, damaged data blocks, damaged index pages. Every
// walk must end, and a stale record is met once, where the index keeps it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "components/kes04/index/tests/table_support.h"

namespace tavrel::kes04::cdx {
namespace {

using testing::access;
using testing::assignField;
using testing::TempFolder;

const std::vector<FieldSpec> kFields = {{"TBL_NAME", 'C', 12, 0}, {"SEQ", 'N', 6, 0}};
const std::vector<kes04::TagSpec> kTags = {
    {"BY_NAME", "TBL_NAME", "", TagUniqueness::kNone, false},
    {"BACK", "STR(SEQ, 6)", "", TagUniqueness::kNone, true},
};
constexpr int kRecords = 300;

std::vector<uint8_t> readAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string nameFor(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "N%05d", i * 7);
    return buf;
}

struct Walk {
    int rc = 0;  // the result that ended the walk
    std::vector<uint32_t> records;
    bool ended = false;  // within the step bound
};

class TagWalk : public ::testing::Test {
  protected:
    TempFolder dir;
    std::vector<uint8_t> dbf, cdx;

    void SetUp() override {
        setIndexFactory(&CdxTableIndex::factory);
        std::unique_ptr<Table> t;
        std::string detail;
        ASSERT_EQ(Table::create(dir / "ORDERS", kFields, kTags, true, access(AccessMode::kDenyRW),
                                &t, &detail),
                  0);
        for (int i = 1; i <= kRecords; ++i) {
            ASSERT_EQ(t->appendStart(false), 0);
            ASSERT_EQ(t->blank(), 0);
            ASSERT_EQ(assignField(*t, "TBL_NAME", nameFor(i)), 0);
            ASSERT_EQ(assignField(*t, "SEQ", std::to_string(i)), 0);
            ASSERT_EQ(t->append(), 0);
        }
        ASSERT_EQ(t->close(), 0);
        dbf = readAll(dir / "ORDERS.DBF");
        cdx = readAll(dir / "ORDERS.CDX");
    }

    size_t recordOffset(int recno) const {
        const size_t headerLength = dbf[8] | (dbf[9] << 8);
        const size_t recordLength = dbf[10] | (dbf[11] << 8);
        return headerLength + size_t(recno - 1) * recordLength;
    }

    // Walks the tag from one end to the other, at most `bound` moves.
    Walk walk(const std::vector<uint8_t>& d, const std::vector<uint8_t>& c, const char* tag,
              bool forward, AccessMode mode = AccessMode::kDenyRW) {
        writeAll(dir / "ORDERS.DBF", d);
        writeAll(dir / "ORDERS.CDX", c);
        Walk w;
        std::unique_ptr<Table> t;
        std::string detail;
        w.rc = Table::open(dir / "ORDERS", access(mode), &t, &detail);
        if (w.rc != 0 || !t->index()) {
            w.ended = true;
            return w;
        }
        auto& index = *static_cast<CdxTableIndex*>(t->index());
        index.select(index.findTag(tag));
        const size_t bound = 4 * kRecords;
        w.rc = forward ? t->top() : t->bottom();
        while (w.rc == 0 && !t->eof() && w.records.size() < bound) {
            w.records.push_back(t->recno());
            w.rc = t->skip(forward ? 1 : -1);
        }
        w.ended = w.records.size() < bound;
        t->close();
        return w;
    }
};

std::vector<uint32_t> upTo(int n, bool reverse = false) {
    std::vector<uint32_t> v;
    for (int i = 1; i <= n; ++i) v.push_back(uint32_t(reverse ? n + 1 - i : i));
    return v;
}

TEST_F(TagWalk, RecordsChangedBehindTheIndexAreMetOnceAtTheirIndexPlace) {
    std::vector<uint8_t> stale = dbf;
    // Record 40 now sorts first, record 3 last, record 200 in the middle of
    // the others: none of them where the index keeps them.
    const std::pair<int, const char*> changes[] = {{40, "A"}, {3, "ZZZZ"}, {200, "N00100"}};
    for (auto [recno, name] : changes) {
        const size_t at = recordOffset(recno) + 1;
        std::fill(stale.begin() + long(at), stale.begin() + long(at) + 12, uint8_t(' '));
        std::copy(name, name + std::strlen(name), stale.begin() + long(at));
    }
    for (AccessMode mode : {AccessMode::kDenyRW, AccessMode::kDenyNone}) {
        Walk up = walk(stale, cdx, "BY_NAME", true, mode);
        ASSERT_TRUE(up.ended);
        EXPECT_EQ(up.rc, code(EngineCode::kEof));
        EXPECT_EQ(up.records, upTo(kRecords));
        Walk down = walk(stale, cdx, "BY_NAME", false, mode);
        ASSERT_TRUE(down.ended);
        EXPECT_EQ(down.records, upTo(kRecords, true));
    }
    // The numeric descending tag, with SEQ changed behind it.
    std::vector<uint8_t> seq = dbf;
    const size_t at = recordOffset(7) + 13;
    const char* v = "   999";
    std::copy(v, v + 6, seq.begin() + long(at));
    Walk back = walk(seq, cdx, "BACK", true);
    ASSERT_TRUE(back.ended);
    EXPECT_EQ(back.records, upTo(kRecords, true));
}

TEST_F(TagWalk, DamagedDataBlocksNeverMakeAWalkEndless) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 60; ++round) {
        std::vector<uint8_t> d = dbf;
        const size_t from = recordOffset(1);
        const size_t span = d.size() - from;
        if (round % 2 == 0) {  // a zeroed block of 512 bytes
            const size_t at = from + rng() % span;
            std::fill(d.begin() + long(at), d.begin() + long(std::min(d.size(), at + 512)), 0);
        } else {
            for (int f = 0; f < 40; ++f) d[from + rng() % span] = uint8_t(rng());
        }
        for (const char* tag : {"BY_NAME", "BACK"})
            for (bool forward : {true, false}) {
                Walk w = walk(d, cdx, tag, forward);
                ASSERT_TRUE(w.ended) << "round " << round << " tag " << tag;
                std::set<uint32_t> seen(w.records.begin(), w.records.end());
                EXPECT_EQ(seen.size(), w.records.size()) << "a record met twice, round " << round;
                EXPECT_LE(w.records.size(), size_t(kRecords));
            }
    }
}

TEST_F(TagWalk, DamagedIndexPagesEndTheWalkWithAnErrorOrTheEnd) {
    std::mt19937 rng(777);
    int errors = 0;
    for (int round = 0; round < 120; ++round) {
        std::vector<uint8_t> c = cdx;
        if (round % 3 == 0) {  // a zeroed page
            const size_t at = (1 + rng() % (c.size() / 512 - 1)) * 512;
            std::fill(c.begin() + long(at), c.begin() + long(std::min(c.size(), at + 512)), 0);
        } else {
            const int flips = 1 + int(rng() % 12);
            for (int f = 0; f < flips; ++f) c[1024 + rng() % (c.size() - 1024)] = uint8_t(rng());
        }
        for (bool forward : {true, false}) {
            Walk w = walk(dbf, c, "BY_NAME", forward);
            ASSERT_TRUE(w.ended) << "round " << round;
            EXPECT_LE(w.records.size(), size_t(2 * kRecords)) << "round " << round;
            if (w.rc != 0 && w.rc != code(EngineCode::kEof) && w.rc != code(EngineCode::kBof))
                ++errors;
        }
    }
    EXPECT_GT(errors, 0);
}

// Runs `body` in a child process; its exit code, or -1 when it did not end
// within `limit` (the child is then killed).
int inChild(const std::function<int()>& body, std::chrono::milliseconds limit) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    const auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

TEST_F(TagWalk, AForeignIndexLockMakesASharedOpenGiveUpAfterTheLockWait) {
    int err = 0;
    auto holder = platform::RandomAccessFile::open(
        dir / "ORDERS.CDX", platform::RandomAccessFile::OpenMode::kReadWrite, &err);
    ASSERT_TRUE(holder);
    ASSERT_EQ(holder->lock(kIndexLockOffset, 1, platform::RandomAccessFile::LockKind::kExclusive),
              0);
    const int rc = inChild(
        [&] {
            TableOptions options = access(AccessMode::kDenyNone);
            options.lockWait = std::chrono::milliseconds(300);
            std::unique_ptr<Table> t;
            std::string detail;
            const int open = Table::open(dir / "ORDERS", options, &t, &detail);
            return open == code(EngineCode::kLocked) ? 0 : 1;
        },
        std::chrono::seconds(8));
    EXPECT_EQ(rc, 0) << "the open did not give up with kLocked";
    // Free again, the open goes ahead.
    holder->unlock(kIndexLockOffset, 1);
    std::unique_ptr<Table> t;
    std::string detail;
    EXPECT_EQ(Table::open(dir / "ORDERS", access(AccessMode::kDenyNone), &t, &detail), 0) << detail;
}

}  // namespace
}  // namespace tavrel::kes04::cdx
