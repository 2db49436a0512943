#include "components/kes04/table.h"

#include <gtest/gtest.h>

#include <random>

#include "components/kes04/field_value.h"
#include "platform/byte_order.h"
#include "test_support.h"

namespace tavrel::kes04 {
namespace {

using namespace testing;

const std::vector<FieldSpec> kFields = {{"NAME", 'C', 12, 0},
                                        {"AMOUNT", 'N', 8, 2},
                                        {"BORN", 'D', 8, 0},
                                        {"OK", 'L', 1, 0},
                                        {"NOTES", 'M', 10, 0}};

uint32_t le32(const std::string& bytes, size_t at) {
    return platform::loadLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + at);
}
uint32_t be32(const std::string& bytes, size_t at) {
    return platform::loadBE32(reinterpret_cast<const uint8_t*>(bytes.data()) + at);
}

void addRecord(Table& t, const std::string& name, const std::string& amount,
               const std::string& born, const std::string& ok, const std::string& notes) {
    ASSERT_EQ(t.appendStart(false), 0);
    ASSERT_EQ(t.blank(), 0);
    ASSERT_EQ(assign(t, "NAME", name), 0);
    ASSERT_EQ(assign(t, "AMOUNT", amount), 0);
    ASSERT_EQ(assign(t, "BORN", born), 0);
    ASSERT_EQ(assign(t, "OK", ok), 0);
    ASSERT_EQ(assign(t, "NOTES", notes), 0);
    ASSERT_EQ(t.append(), 0) << t.lastDetail();
}

TEST(TableFile, NewTableIsFoxPro2WithExactHeaderCountDateAndEofMark) {
    TempDir dir;
    platform::FixedClock clock({2026, 12, 7, 10, 0, 0});
    TableOptions options = exclusive();
    options.clock = &clock;
    auto t = createTable(dir / "people", kFields, options);
    addRecord(*t, "Ann", "12.5", "19991231", "T", "first memo");
    addRecord(*t, "Bob", "", "", "", "");
    ASSERT_EQ(t->close(), 0);

    const std::string dbf = readBytes(dir / "people.DBF");
    const size_t headerLength = 32 + 32 * 5 + 1, recordLength = 1 + 12 + 8 + 8 + 1 + 10;
    EXPECT_EQ(uint8_t(dbf[0]), 0xF5);
    EXPECT_EQ(dbf.substr(1, 3), std::string("\x1A\x0C\x07", 3));  // 2026 % 100, 12, 7
    EXPECT_EQ(le32(dbf, 4), 2u);
    EXPECT_EQ(platform::loadLE16(reinterpret_cast<const uint8_t*>(dbf.data()) + 8), headerLength);
    EXPECT_EQ(uint8_t(dbf[28]), 0);
    EXPECT_EQ(uint8_t(dbf[headerLength - 1]), 0x0D);
    ASSERT_EQ(dbf.size(), headerLength + 2 * recordLength + 1);
    EXPECT_EQ(dbf.back(), '\x1A');
    EXPECT_EQ(dbf.substr(headerLength, recordLength - 10), " Ann            12.5019991231T");
    // The second record has blank fields: spaces, and no memo block.
    EXPECT_EQ(dbf.substr(headerLength + recordLength, recordLength),
              " Bob" + std::string(recordLength - 4, ' '));

    const std::string fpt = readBytes(dir / "people.FPT");
    EXPECT_EQ(platform::loadBE16(reinterpret_cast<const uint8_t*>(fpt.data()) + 6), 64);
    EXPECT_EQ(be32(fpt, 0) * 64, fpt.size());  // next free block = end of file
    EXPECT_EQ(be32(fpt, 512), 1u);             // text memo at block 8
    EXPECT_EQ(be32(fpt, 516), 10u);
    EXPECT_EQ(fpt.substr(520, 10), "first memo");
}

TEST(TableFile, ReopenedTableGivesBackEveryValue) {
    TempDir dir;
    {
        auto t = createTable(dir / "T", kFields);
        addRecord(*t, "Zoë\xE9", "-3.456", "20240229", "y", std::string(70000, 'x') + "end");
        addRecord(*t, "second", "1234567", "", "n", "");
        ASSERT_EQ(t->setDeleted(true), 0);
        ASSERT_EQ(t->close(), 0);
    }
    auto t = openTable(dir / "t.dbf");  // any case
    ASSERT_TRUE(t);
    EXPECT_EQ(t->recordCount(), 2u);
    ASSERT_EQ(t->top(), 0);
    EXPECT_EQ(text(*t, "NAME"), "Zoë\xE9");
    EXPECT_EQ(text(*t, "AMOUNT"), "-3.46");
    EXPECT_EQ(text(*t, "BORN"), "20240229");
    EXPECT_EQ(text(*t, "OK"), "T");
    EXPECT_EQ(text(*t, "NOTES"), std::string(70000, 'x') + "end");
    EXPECT_FALSE(t->deleted());
    ASSERT_EQ(t->skip(1), 0);
    EXPECT_EQ(text(*t, "AMOUNT"), "********");  // too wide for N(8,2)
    EXPECT_EQ(text(*t, "OK"), "F");
    EXPECT_EQ(text(*t, "NOTES"), "");
    EXPECT_TRUE(t->deleted());
}

TEST(Navigation, MovesInPhysicalOrderAndStopsAtBothEnds) {
    TempDir dir;
    auto t = createTable(dir / "N", {{"V", 'N', 3, 0}});
    EXPECT_EQ(t->top(), code(EngineCode::kEof));
    EXPECT_TRUE(t->eof());
    for (int i = 1; i <= 5; ++i) {
        ASSERT_EQ(t->appendStart(false), 0);
        ASSERT_EQ(assign(*t, "V", std::to_string(i * 10)), 0);
        ASSERT_EQ(t->append(), 0);
        EXPECT_EQ(t->recno(), uint32_t(i));
    }
    ASSERT_EQ(t->top(), 0);
    EXPECT_EQ(text(*t, "V"), "10");
    EXPECT_EQ(t->skip(3), 0);
    EXPECT_EQ(text(*t, "V"), "40");
    EXPECT_EQ(t->skip(-10), code(EngineCode::kBof));
    EXPECT_TRUE(t->bof());
    EXPECT_EQ(t->recno(), 1u);
    EXPECT_EQ(t->skip(5), code(EngineCode::kEof));
    EXPECT_TRUE(t->eof());
    EXPECT_EQ(t->recno(), 6u);
    EXPECT_EQ(text(*t, "V"), "");
    EXPECT_EQ(t->skip(1), code(EngineCode::kEof));
    EXPECT_EQ(t->skip(-1), 0);  // from end of file back to the last record
    EXPECT_EQ(text(*t, "V"), "50");
    EXPECT_EQ(t->go(3, false), 0);
    EXPECT_EQ(text(*t, "V"), "30");
    EXPECT_EQ(t->go(9, false), code(EngineCode::kEntry));
    EXPECT_TRUE(t->eof());
    EXPECT_EQ(t->go(0, false), code(EngineCode::kEntry));
    EXPECT_EQ(t->bottom(), 0);
    EXPECT_EQ(t->recno(), 5u);
    // Assigning without a current record fails cleanly.
    EXPECT_EQ(t->skip(1), code(EngineCode::kEof));
    EXPECT_EQ(assign(*t, "V", "1"), code(EngineCode::kErrEntry));
}

TEST(Changes, FieldAssignmentsReachTheFileWhenTheTableMoves) {
    TempDir dir;
    auto t = createTable(dir / "C", kFields);
    addRecord(*t, "one", "1", "", "", "memo one");
    addRecord(*t, "two", "2", "", "", "");
    ASSERT_EQ(t->go(1, true), 0);
    ASSERT_EQ(assign(*t, "NAME", "ONE"), 0);
    ASSERT_EQ(assign(*t, "AMOUNT", "abc"), 0);  // VAL("abc") = 0
    EXPECT_EQ(assign(*t, "BORN", "notadate"), code(EngineCode::kErrValue));
    ASSERT_EQ(t->skip(1), 0);
    {
        auto other = openTable(dir / "C", {AccessMode::kDenyNone, true});
        EXPECT_FALSE(other);  // exclusive: nobody else gets in
    }
    ASSERT_EQ(t->flush(), 0);
    ASSERT_EQ(t->top(), 0);
    EXPECT_EQ(text(*t, "NAME"), "ONE");
    EXPECT_EQ(text(*t, "AMOUNT"), "0.00");
    EXPECT_EQ(text(*t, "BORN"), "");
    EXPECT_EQ(text(*t, "NOTES"), "memo one");
    ASSERT_EQ(t->blank(), 0);
    ASSERT_EQ(t->setDeleted(true), 0);
    ASSERT_EQ(t->close(), 0);
    auto again = openTable(dir / "C");
    ASSERT_EQ(again->top(), 0);
    EXPECT_TRUE(again->deleted());
    EXPECT_EQ(text(*again, "NAME"), "");
    EXPECT_EQ(text(*again, "NOTES"), "");
}

// Exclusive tables keep changed records in their read block and write them
// with it; appends wait in a batch of their own. Changes scattered over many
// blocks, mixed with appends and reads, must all reach the file as the
// table last showed them. The file is checked byte by byte, not through the
// engine.
TEST(Changes, ScatteredChangesAndAppendsInExclusiveModeReachTheFileAsLastShown) {
    TempDir dir;
    const std::vector<FieldSpec> fields = {{"NAME", 'C', 12, 0}, {"N", 'N', 6, 0}};
    auto t = createTable(dir / "S", fields);
    std::vector<std::string> names;
    std::vector<bool> deleted;
    auto append = [&](const std::string& name) {
        ASSERT_EQ(t->appendStart(false), 0);
        ASSERT_EQ(t->blank(), 0);
        ASSERT_EQ(assign(*t, "NAME", name), 0);
        ASSERT_EQ(t->append(), 0) << t->lastDetail();
        names.push_back(name);
        deleted.push_back(false);
    };
    for (int i = 0; i < 6000; ++i) append("r" + std::to_string(i));  // ~20 read blocks

    std::mt19937 random(1234);
    for (int step = 0; step < 4000; ++step) {
        const uint32_t recno = 1 + random() % uint32_t(names.size());
        switch (random() % 6) {
            case 0:  // a new record, at once changed again
                append("a" + std::to_string(step));
                ASSERT_EQ(assign(*t, "NAME", "b" + std::to_string(step)), 0);
                names.back() = "b" + std::to_string(step);
                break;
            case 1:  // a read that must see every earlier change
                ASSERT_EQ(t->go(recno, false), 0);
                ASSERT_EQ(text(*t, "NAME"), names[recno - 1]) << "step " << step;
                break;
            case 2:
                ASSERT_EQ(t->go(recno, true), 0);
                ASSERT_EQ(t->setDeleted(!deleted[recno - 1]), 0);
                deleted[recno - 1] = !deleted[recno - 1];
                break;
            case 3:  // neighbours: several changes in one block
                for (uint32_t r = recno; r < recno + 5 && r <= names.size(); ++r) {
                    ASSERT_EQ(t->go(r, true), 0);
                    names[r - 1] = "n" + std::to_string(step);
                    ASSERT_EQ(assign(*t, "NAME", names[r - 1]), 0);
                }
                break;
            default:
                ASSERT_EQ(t->go(recno, true), 0);
                names[recno - 1] = "c" + std::to_string(step);
                ASSERT_EQ(assign(*t, "NAME", names[recno - 1]), 0);
        }
        if (step % 997 == 0) {
            ASSERT_EQ(t->flush(), 0);
        }
    }
    ASSERT_EQ(t->close(), 0);

    const std::string dbf = readBytes(dir / "S.DBF");
    const size_t headerLength = 32 + 32 * 2 + 1, recordLength = 1 + 12 + 6;
    ASSERT_EQ(le32(dbf, 4), names.size());
    ASSERT_EQ(dbf.size(), headerLength + names.size() * recordLength + 1);
    EXPECT_EQ(dbf.back(), '\x1A');
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string record = dbf.substr(headerLength + i * recordLength, recordLength);
        std::string name = record.substr(1, 12);
        name.erase(name.find_last_not_of(' ') + 1);
        ASSERT_EQ(name, names[i]) << "record " << i + 1;
        ASSERT_EQ(record[0], deleted[i] ? '*' : ' ') << "record " << i + 1;
    }
}

// Runs over a table of many megabytes: the appends and then a change of
// every record, in exclusive mode, with the disk asked along the way to take
// what was written. Every byte must reach the file as last set.
TEST(Changes, RunsOverManyMegabytesReachTheFileWhileTheDiskTakesThemAlong) {
    TempDir dir;
    const std::vector<FieldSpec> fields = {{"NAME", 'C', 100, 0}, {"N", 'N', 8, 0}};
    auto t = createTable(dir / "BIG", fields);
    constexpr uint32_t kCount = 90000;  // about 10 MB of records
    for (uint32_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(t->appendStart(false), 0);
        ASSERT_EQ(t->blank(), 0);
        ASSERT_EQ(assign(*t, "NAME", "first " + std::to_string(i)), 0);
        ASSERT_EQ(t->append(), 0) << t->lastDetail();
    }
    ASSERT_EQ(t->flush(), 0);
    for (uint32_t recno = 1; recno <= kCount; ++recno) {
        ASSERT_EQ(t->go(recno, true), 0);
        ASSERT_EQ(assign(*t, "N", std::to_string(recno * 7)), 0);
        if (recno % 3 == 0) {
            ASSERT_EQ(assign(*t, "NAME", "third " + std::to_string(recno)), 0);
        }
    }
    ASSERT_EQ(t->flush(), 0);
    ASSERT_EQ(t->close(), 0);

    const std::string dbf = readBytes(dir / "BIG.DBF");
    const size_t headerLength = 32 + 32 * 2 + 1, recordLength = 1 + 100 + 8;
    ASSERT_EQ(le32(dbf, 4), kCount);
    ASSERT_EQ(dbf.size(), headerLength + size_t(kCount) * recordLength + 1);
    for (uint32_t recno = 1; recno <= kCount; ++recno) {
        const std::string record =
            dbf.substr(headerLength + (recno - 1) * recordLength, recordLength);
        std::string name = record.substr(1, 100);
        name.erase(name.find_last_not_of(' ') + 1);
        const std::string expected = (recno % 3 == 0 ? "third " + std::to_string(recno)
                                                     : "first " + std::to_string(recno - 1));
        ASSERT_EQ(name, expected) << "record " << recno;
        ASSERT_EQ(std::stoul(record.substr(101, 8)), recno * 7) << "record " << recno;
    }
}

// Exclusive tables gather new memos and read the memo file ahead. Memos
// written, rewritten in place, moved to new blocks and read back in any
// order must all reach the file; the file is then read without the engine,
// and checked by xbtool.
TEST(Memos, ExclusiveMemoWritesAndReadsMixedInAnyOrderReachTheFile) {
    TempDir dir;
    const std::vector<FieldSpec> fields = {{"NAME", 'C', 8, 0}, {"NOTES", 'M', 10, 0}};
    auto t = createTable(dir / "M", fields);
    std::mt19937 random(77);
    auto memoText = [&](int seed) {
        const size_t length = seed % 9 == 0 ? 0 : seed % 50 == 1 ? 40000 : size_t(seed % 300);
        std::string out = "m" + std::to_string(seed) + ":";
        while (out.size() < length) out += char('a' + (out.size() * 7 + size_t(seed)) % 26);
        return length == 0 ? std::string() : out;
    };
    std::vector<std::string> memos;
    auto append = [&](int seed) {
        ASSERT_EQ(t->appendStart(false), 0);
        ASSERT_EQ(t->blank(), 0);
        memos.push_back(memoText(seed));
        ASSERT_EQ(assign(*t, "NOTES", memos.back()), 0);
        ASSERT_EQ(t->append(), 0) << t->lastDetail();
    };
    for (int i = 0; i < 3000; ++i) append(i);
    for (int step = 0; step < 3000; ++step) {
        const uint32_t recno = 1 + random() % uint32_t(memos.size());
        switch (random() % 4) {
            case 0:
                append(100000 + step);
                break;
            case 1:  // read back, maybe just written
                ASSERT_EQ(t->go(recno, false), 0);
                ASSERT_EQ(text(*t, "NOTES"), memos[recno - 1]) << "step " << step;
                break;
            default:  // shorter stays in its blocks, longer moves to new ones
                ASSERT_EQ(t->go(recno, true), 0);
                memos[recno - 1] = memoText(int(random() % 100000));
                ASSERT_EQ(assign(*t, "NOTES", memos[recno - 1]), 0);
        }
    }
    ASSERT_EQ(t->close(), 0);

    const std::string dbf = readBytes(dir / "M.DBF");
    const std::string fpt = readBytes(dir / "M.FPT");
    const size_t headerLength = 32 + 32 * 2 + 1, recordLength = 1 + 8 + 10;
    ASSERT_EQ(dbf.size(), headerLength + memos.size() * recordLength + 1);
    EXPECT_EQ(uint64_t(be32(fpt, 0)) * 64, fpt.size()) << "next free block = end of file";
    for (size_t i = 0; i < memos.size(); ++i) {
        const std::string pointer = dbf.substr(headerLength + i * recordLength + 9, 10);
        const size_t first = pointer.find_first_not_of(' ');
        if (memos[i].empty()) {
            EXPECT_EQ(first, std::string::npos) << "record " << i + 1;
            continue;
        }
        ASSERT_NE(first, std::string::npos) << "record " << i + 1;
        const uint64_t at = std::stoull(pointer.substr(first)) * 64;
        ASSERT_LE(at + 8, fpt.size()) << "record " << i + 1;
        EXPECT_EQ(be32(fpt, at), 1u);
        ASSERT_EQ(fpt.substr(at + 8, be32(fpt, at + 4)), memos[i]) << "record " << i + 1;
    }
    int status = -1;
    const std::string report = run(binDir() + "/xbtool check " + (dir / "M").string(), &status);
    EXPECT_EQ(status, 0) << report;
}

// Bytes past the record count in the header (left by a program that was
// stopped between writing records and writing the count) are not records:
// appended records take their place, and neither reads nor changes of the
// records around them bring the old bytes back.
TEST(Changes, AppendsOverStaleBytesPastTheCountAreNeverReadBackOld) {
    TempDir dir;
    const std::vector<FieldSpec> fields = {{"NAME", 'C', 10, 0}};
    {
        auto t = createTable(dir / "P", fields);
        for (int i = 1; i <= 120; ++i) {
            ASSERT_EQ(t->appendStart(false), 0);
            ASSERT_EQ(t->blank(), 0);
            ASSERT_EQ(assign(*t, "NAME", "OLD" + std::to_string(i)), 0);
            ASSERT_EQ(t->append(), 0);
        }
        ASSERT_EQ(t->close(), 0);
    }
    std::string dbf = readBytes(dir / "P.DBF");
    platform::storeLE32(reinterpret_cast<uint8_t*>(dbf.data()) + 4, 100);
    writeBytes(dir / "P.DBF", dbf);

    auto t = openTable(dir / "P");
    ASSERT_TRUE(t);
    ASSERT_EQ(t->recordCount(), 100u);
    for (int i = 101; i <= 105; ++i) {
        ASSERT_EQ(t->appendStart(false), 0);
        ASSERT_EQ(t->blank(), 0);
        ASSERT_EQ(assign(*t, "NAME", "NEW" + std::to_string(i)), 0);
        ASSERT_EQ(t->append(), 0);
    }
    ASSERT_EQ(t->go(98, false), 0);
    ASSERT_EQ(t->go(102, false), 0);
    EXPECT_EQ(text(*t, "NAME"), "NEW102");
    ASSERT_EQ(t->go(101, true), 0);
    ASSERT_EQ(assign(*t, "NAME", "CHG101"), 0);
    ASSERT_EQ(t->go(103, true), 0);
    ASSERT_EQ(assign(*t, "NAME", "CHG103"), 0);
    ASSERT_EQ(t->close(), 0);

    t = openTable(dir / "P");
    ASSERT_TRUE(t);
    ASSERT_EQ(t->recordCount(), 105u);
    const char* expected[] = {"CHG101", "NEW102", "CHG103", "NEW104", "NEW105"};
    for (uint32_t r = 101; r <= 105; ++r) {
        ASSERT_EQ(t->go(r, false), 0);
        EXPECT_EQ(text(*t, "NAME"), expected[r - 101]) << "record " << r;
    }
    ASSERT_EQ(t->close(), 0);
}

// A program killed while it works on an exclusive table leaves no record
// on disk that points at a memo that never reached the memo file: the memos
// go out before the records that point at them.
TEST(Memos, AKilledWriterLeavesNoRecordPointingPastTheMemoFile) {
    TempDir dir;
    const std::vector<FieldSpec> fields = {{"NAME", 'C', 8, 0}, {"NOTES", 'M', 10, 0}};
    {
        auto t = createTable(dir / "K", fields);
        for (int i = 0; i < 4000; ++i) {
            ASSERT_EQ(t->appendStart(false), 0);
            ASSERT_EQ(t->blank(), 0);
            ASSERT_EQ(assign(*t, "NOTES", "first " + std::to_string(i)), 0);
            ASSERT_EQ(t->append(), 0);
        }
        ASSERT_EQ(t->close(), 0);
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Longer memos (new blocks) for records at the start, then a jump to
        // the end: the changed records leave the read block for the file.
        auto t = openTable(dir / "K");
        if (!t) ::_exit(2);
        for (uint32_t r = 1; r <= 20; ++r) {
            if (t->go(r, true) != 0) ::_exit(3);
            if (assign(*t, "NOTES", std::string(300, char('a' + r % 26))) != 0) ::_exit(4);
        }
        if (t->go(3990, false) != 0) ::_exit(5);
        ::_exit(0);  // killed: no close, no flush
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);

    auto t = openTable(dir / "K");
    ASSERT_TRUE(t);
    for (uint32_t r = 1; r <= 20; ++r) {
        ASSERT_EQ(t->go(r, false), 0);
        const FieldLayout* f = t->layout().find("NOTES");
        const std::string* memo = nullptr;
        ASSERT_EQ(t->memoText(size_t(f - t->layout().fields.data()), &memo), 0)
            << "record " << r << ": " << t->lastDetail();
        EXPECT_TRUE(*memo == "first " + std::to_string(r - 1) ||
                    *memo == std::string(300, char('a' + r % 26)))
            << "record " << r << ": " << *memo;
    }
    ASSERT_EQ(t->close(), 0);
    int check = -1;
    const std::string report =
        run(binDir() + "/xbtool check " + (dir / "K").string() + " 2>&1", &check);
    EXPECT_EQ(check, 0) << report;
}

TEST(Memos, AGrowingMemoGetsNewBlocksAndAShrinkingOneStaysInPlace) {
    TempDir dir;
    auto t = createTable(dir / "M", {{"NOTES", 'M', 10, 0}});
    ASSERT_EQ(t->appendStart(false), 0);
    ASSERT_EQ(assign(*t, "NOTES", std::string(100, 'a')), 0);  // 108 bytes: 2 blocks of 64
    ASSERT_EQ(t->append(), 0);
    uint32_t first = 0, block = 0;
    ASSERT_TRUE(memoBlock(t->layout().fields[0], t->record(), &first));
    EXPECT_EQ(first, 8u);
    ASSERT_EQ(assign(*t, "NOTES", std::string(120, 'b')), 0);  // still 2 blocks: in place
    ASSERT_EQ(t->flush(), 0);
    ASSERT_TRUE(memoBlock(t->layout().fields[0], t->record(), &block));
    EXPECT_EQ(block, first);
    ASSERT_EQ(assign(*t, "NOTES", std::string(200, 'c')), 0);  // 4 blocks: new place
    ASSERT_EQ(t->flush(), 0);
    ASSERT_TRUE(memoBlock(t->layout().fields[0], t->record(), &block));
    EXPECT_EQ(block, 10u);
    const std::string fpt = readBytes(dir / "M.FPT");
    EXPECT_EQ(fpt.size(), 14u * 64);
    EXPECT_EQ(fpt.substr(8 * 64 + 8, 120), std::string(120, 'b'));  // old blocks left alone
    ASSERT_EQ(t->top(), 0);
    EXPECT_EQ(text(*t, "NOTES"), std::string(200, 'c'));
}

TEST(Memos, AppendWithMemoEntriesCopiesTheTextIntoBlocksOfItsOwn) {
    TempDir dir;
    auto t = createTable(dir / "M", {{"K", 'C', 2, 0}, {"NOTES", 'M', 10, 0}});
    ASSERT_EQ(t->appendStart(false), 0);
    ASSERT_EQ(assign(*t, "NOTES", "shared text"), 0);
    ASSERT_EQ(t->append(), 0);
    ASSERT_EQ(t->appendStart(true), 0);
    ASSERT_EQ(t->append(), 0);
    ASSERT_EQ(assign(*t, "NOTES", "changed"), 0);  // fits the copy's block: written in place
    ASSERT_EQ(t->top(), 0);
    EXPECT_EQ(text(*t, "NOTES"), "shared text");
    ASSERT_EQ(t->skip(1), 0);
    EXPECT_EQ(text(*t, "NOTES"), "changed");
}

// A memo file as another engine leaves it: block size 1, a 1024-byte header
// whose second half holds that engine's own bookkeeping, and data after the
// header's next-free pointer.
TEST(Memos, ForeignMemoFilesAreReadByPointerAndExtendedWithoutTouchingTheirData) {
    TempDir dir;
    {
        auto t = createTable(dir / "F", {{"NOTES", 'M', 10, 0}});
        ASSERT_EQ(t->appendBlank(), 0);
        ASSERT_EQ(t->close(), 0);
    }
    std::string fpt(1024, '\0');
    platform::storeBE32(reinterpret_cast<uint8_t*>(fpt.data()), 1040);  // next free (lagging)
    platform::storeBE16(reinterpret_cast<uint8_t*>(fpt.data()) + 6, 1);
    for (size_t i = 512; i < 1024; ++i) fpt[i] = char(i * 7);  // private bookkeeping
    std::string memo = std::string("\0\0\0\1\0\0\0\5hello", 13);
    fpt += memo;                  // block 1024
    fpt += std::string(20, 'Z');  // somebody's bytes beyond "next free"
    writeBytes(dir / "F.FPT", fpt);
    std::string dbf = readBytes(dir / "F.DBF");
    dbf.replace(32 + 32 + 1 + 1, 10, "      1024");
    writeBytes(dir / "F.DBF", dbf);

    auto t = openTable(dir / "F");
    ASSERT_TRUE(t);
    ASSERT_EQ(t->top(), 0);
    EXPECT_EQ(text(*t, "NOTES"), "hello");
    ASSERT_EQ(assign(*t, "NOTES", "a longer text"), 0);
    ASSERT_EQ(t->close(), 0);
    const std::string after = readBytes(dir / "F.FPT");
    EXPECT_EQ(after.substr(0, fpt.size()).substr(8), fpt.substr(8));  // nothing of theirs changed
    const uint32_t next = be32(after, 0);
    EXPECT_EQ(next, fpt.size() + 8 + 13);  // appended at the end of the file
    t = openTable(dir / "F");
    ASSERT_EQ(t->top(), 0);
    EXPECT_EQ(text(*t, "NOTES"), "a longer text");
}

TEST(Memos, LargeBlockSizesWork) {
    TempDir dir;
    TableOptions options = exclusive();
    options.memoBlockSize = 16384;
    auto t = createTable(dir / "B", {{"NOTES", 'M', 10, 0}}, options);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(t->appendStart(false), 0);
        ASSERT_EQ(assign(*t, "NOTES", std::string(size_t(20000 * i + 1), char('a' + i))), 0);
        ASSERT_EQ(t->append(), 0);
    }
    ASSERT_EQ(t->top(), 0);
    for (int i = 0; i < 3; ++i, t->skip(1)) {
        EXPECT_EQ(text(*t, "NOTES"), std::string(size_t(20000 * i + 1), char('a' + i)));
    }
    EXPECT_EQ(readBytes(dir / "B.FPT").size() % 16384, 0u);
}

TEST(ForeignTables, VersionFlagsCodePageAndMissingEofMarkAreKeptAsFound) {
    TempDir dir;
    {
        auto t = createTable(dir / "V", {{"NAME", 'C', 4, 0}});
        ASSERT_EQ(t->appendBlank(), 0);
        ASSERT_EQ(t->close(), 0);
    }
    std::string dbf = readBytes(dir / "V.DBF");
    dbf[0] = char(0x30);
    dbf[28] = char(0x01);  // structural index flag (no index support in this program)
    dbf[29] = char(0xC9);
    dbf.pop_back();  // no 0x1A, as Visual FoxPro leaves it
    writeBytes(dir / "V.DBF", dbf);
    auto t = openTable(dir / "V");
    ASSERT_TRUE(t);
    ASSERT_EQ(t->appendStart(false), 0);
    ASSERT_EQ(assign(*t, "NAME", "new"), 0);
    ASSERT_EQ(t->append(), 0);
    ASSERT_EQ(t->close(), 0);
    const std::string after = readBytes(dir / "V.DBF");
    EXPECT_EQ(uint8_t(after[0]), 0x30);
    EXPECT_EQ(uint8_t(after[28]), 0x01);
    EXPECT_EQ(uint8_t(after[29]), 0xC9);
    EXPECT_EQ(le32(after, 4), 2u);
    EXPECT_EQ(after.size(), dbf.size() + 5);
    EXPECT_EQ(after.substr(after.size() - 5), " new ");
}

TEST(Create, SafetyDecidesWhetherAnExistingTableIsReplaced) {
    TempDir dir;
    createTable(dir / "S", {{"A", 'C', 1, 0}})->close();
    std::unique_ptr<Table> t;
    std::string detail;
    std::vector<FieldSpec> fields = {{"B", 'N', 4, 0}};
    EXPECT_EQ(Table::create(dir / "s.dbf", fields, {}, true, exclusive(), &t, &detail),
              code(EngineCode::kNoCreate));
    EXPECT_NE(detail.find("exists"), std::string::npos);
    EXPECT_EQ(readBytes(dir / "S.DBF")[32], 'A');  // untouched
    ASSERT_EQ(Table::create(dir / "s.dbf", fields, {}, false, exclusive(), &t, &detail), 0);
    EXPECT_EQ(t->layout().fields[0].name, "B");
    EXPECT_EQ(t->path().filename(), "S.DBF");  // the existing file's spelling
    std::vector<TagSpec> tags = {{"K", "B", "", TagUniqueness::kNone, false}};
    EXPECT_EQ(Table::create(dir / "x", fields, tags, false, exclusive(), &t, &detail),
              code(EngineCode::kErrIndex));
    EXPECT_FALSE(std::filesystem::exists(dir / "x.DBF"));
}

TEST(AccessModes, ExclusiveDenyWriteAndSharedOpensCombineAsDeclared) {
    TempDir dir;
    createTable(dir / "A", {{"A", 'C', 1, 0}})->close();
    TableOptions reader = sharedAccess();
    reader.readOnly = true;
    TableOptions denyWrite = sharedAccess();
    denyWrite.accessMode = AccessMode::kDenyWrite;
    {
        auto first = openTable(dir / "A", sharedAccess());
        ASSERT_TRUE(first);
        EXPECT_TRUE(openTable(dir / "A", sharedAccess()));
        EXPECT_TRUE(openTable(dir / "A", reader));
        int rc = 0;
        EXPECT_FALSE(openTable(dir / "A", exclusive(), &rc));
        EXPECT_EQ(rc, code(EngineCode::kErrOpen));
        EXPECT_FALSE(openTable(dir / "A", denyWrite));  // a writer is in
    }
    {
        auto owner = openTable(dir / "A", denyWrite);
        ASSERT_TRUE(owner);
        EXPECT_TRUE(openTable(dir / "A", reader));
        EXPECT_FALSE(openTable(dir / "A", sharedAccess()));
        ASSERT_EQ(owner->appendBlank(), 0);  // the owner itself writes
    }
    auto viewer = openTable(dir / "A", reader);
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->recordCount(), 1u);
    ASSERT_EQ(viewer->top(), 0);
    EXPECT_EQ(viewer->setDeleted(true), code(EngineCode::kErrReadOnly));
    EXPECT_EQ(viewer->appendStart(false), code(EngineCode::kErrReadOnly));
}

// An index stand-in that records what the table tells it, refuses keys
// starting with "DUP", and walks the records backwards.
struct FakeIndex final : TableIndex, RecordOrder {
    static inline std::vector<std::string> calls;
    static inline bool reverse = false;
    RecordSource* records = nullptr;

    int recordChanging(uint32_t recno, RecordBytes before, RecordBytes after) override {
        calls.push_back(std::to_string(recno) + ":" + std::string(before.begin(), before.end()) +
                        ">" + std::string(after.begin(), after.end()));
        return std::string(after.begin() + 1, after.begin() + 4) == "DUP" ? 20 : 0;
    }
    int flush() override {
        calls.push_back("flush");
        return 0;
    }
    void fileMayHaveChanged() override {}
    RecordOrder* selectedOrder() override { return reverse ? this : nullptr; }
    int top(uint32_t* recno) override {
        *recno = records->recordCount();
        return *recno ? 0 : 3;
    }
    int bottom(uint32_t* recno) override {
        *recno = 1;
        return records->recordCount() ? 0 : 3;
    }
    int skip(uint32_t from, RecordBytes, int64_t count, uint32_t* recno) override {
        int64_t to = int64_t(from) - count;
        if (to < 1) return *recno = 1, 3;
        if (to > int64_t(records->recordCount())) return *recno = records->recordCount(), 4;
        *recno = uint32_t(to);
        return 0;
    }
};

int fakeFactory(const IndexRequest& request, std::unique_ptr<TableIndex>* out) {
    if (request.checkOnly) {
        // Asked before the table's files are written; makes nothing.
        EXPECT_TRUE(request.create);
        FakeIndex::calls.push_back("check " + std::to_string(request.tags.size()));
        return 0;
    }
    FakeIndex::calls.push_back(std::string(request.create ? "create " : "open ") +
                               std::to_string(request.tags.size()));
    auto index = std::make_unique<FakeIndex>();
    index->records = request.records;
    *out = std::move(index);
    return 0;
}

TEST(IndexHook, EveryChangePassesTheHookFirstAndARefusalWritesNothing) {
    TempDir dir;
    setIndexFactory(&fakeFactory);
    FakeIndex::calls.clear();
    std::unique_ptr<Table> t;
    std::string detail;
    std::vector<FieldSpec> fields = {{"K", 'C', 3, 0}};
    std::vector<TagSpec> tags = {{"K", "K", "", TagUniqueness::kRefuse, false}};
    ASSERT_EQ(Table::create(dir / "H", fields, tags, true, exclusive(), &t, &detail), 0) << detail;
    ASSERT_EQ(t->appendStart(false), 0);
    ASSERT_EQ(t->blank(), 0);
    ASSERT_EQ(assign(*t, "K", "abc"), 0);
    ASSERT_EQ(t->append(), 0);
    ASSERT_EQ(t->appendStart(false), 0);
    ASSERT_EQ(assign(*t, "K", "DUP"), 0);
    EXPECT_EQ(t->append(), 20);
    ASSERT_EQ(t->top(), 0);
    ASSERT_EQ(t->setDeleted(true), 0);
    ASSERT_EQ(t->flush(), 0);
    ASSERT_EQ(assign(*t, "K", "DUP"), 0);
    EXPECT_EQ(t->flush(), 20);
    EXPECT_EQ(text(*t, "K"), "abc");  // the buffer is back to what the file holds
    ASSERT_EQ(t->close(), 0);
    std::vector<std::string> expected = {"check 1",     "create 1",    "1:> abc",
                                         "2:> DUP",     "1: abc>*abc", "flush",
                                         "1:*abc>*DUP", "flush",       "flush"};
    EXPECT_EQ(FakeIndex::calls, expected);
    EXPECT_EQ(uint8_t(readBytes(dir / "H.DBF")[28]), 0x01);
    EXPECT_EQ(le32(readBytes(dir / "H.DBF"), 4), 1u);

    // Reopening asks the factory again; navigation follows the index's order.
    FakeIndex::reverse = true;
    t = openTable(dir / "H");
    ASSERT_TRUE(t);
    ASSERT_EQ(t->appendBlank(), 0);
    ASSERT_EQ(t->top(), 0);
    EXPECT_EQ(t->recno(), 2u);
    EXPECT_EQ(t->skip(1), 0);
    EXPECT_EQ(t->recno(), 1u);
    EXPECT_EQ(t->skip(1), code(EngineCode::kEof));
    FakeIndex::reverse = false;
    setIndexFactory(nullptr);
    EXPECT_EQ(FakeIndex::calls.at(9), "open 0");
}

// A change the index refuses leaves the record's memo as it was, although
// the new text would fit in the memo's blocks.
TEST(IndexHook, ARefusedChangeLeavesTheMemoUntouched) {
    TempDir dir;
    setIndexFactory(&fakeFactory);
    std::unique_ptr<Table> t;
    std::string detail;
    std::vector<FieldSpec> fields = {{"K", 'C', 3, 0}, {"NOTES", 'M', 10, 0}};
    std::vector<TagSpec> tags = {{"K", "K", "", TagUniqueness::kRefuse, false}};
    ASSERT_EQ(Table::create(dir / "R", fields, tags, true, exclusive(), &t, &detail), 0) << detail;
    ASSERT_EQ(t->appendStart(false), 0);
    ASSERT_EQ(t->blank(), 0);
    ASSERT_EQ(assign(*t, "K", "xyz"), 0);
    ASSERT_EQ(assign(*t, "NOTES", "memo of xyz"), 0);
    ASSERT_EQ(t->append(), 0);
    ASSERT_EQ(t->flush(), 0);
    const std::string memoBefore = readBytes(dir / "R.FPT");
    ASSERT_EQ(t->go(1, true), 0);
    ASSERT_EQ(assign(*t, "K", "DUP"), 0);
    ASSERT_EQ(assign(*t, "NOTES", "CHANGED"), 0);
    EXPECT_EQ(t->flush(), 20);
    ASSERT_EQ(t->close(), 0);
    EXPECT_EQ(readBytes(dir / "R.FPT"), memoBefore);
    t = openTable(dir / "R");
    ASSERT_TRUE(t);
    ASSERT_EQ(t->go(1, false), 0);
    EXPECT_EQ(text(*t, "K"), "xyz");
    EXPECT_EQ(text(*t, "NOTES"), "memo of xyz");
    ASSERT_EQ(t->close(), 0);
    setIndexFactory(nullptr);
}

}  // namespace
}  // namespace tavrel::kes04
