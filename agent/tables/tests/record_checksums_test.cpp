// Record checksums on real tables made by KES04.DLL: the values against
// OpenSSL over the bytes of the data file as it lies on disk, memo fields,
// deleted records, trailing blanks, the verification's stops, a missing
// checksum library, and a read-back by an independent DBF reader.
#include "agent/tables/record_checksums.h"

#include <gtest/gtest.h>

#include <fstream>

#include "agent/tables/tests/engine_fixture.h"
#include "agent/tables/tests/openssl_checksum.h"
#include "platform/text_rules.h"

namespace tavrel::tables {
namespace {

using platform::testing::readBytes;
using testing::opensslChecksum;

// Record `recno` of a .DBF file as stored (deletion flag first), read with
// nothing but the header's two lengths.
std::string storedRecord(const std::string& file, long recno) {
    const std::string bytes = readBytes(file);
    if (bytes.size() < 32) return {};
    const auto u16 = [&](size_t at) {
        return size_t(uint8_t(bytes[at])) | size_t(uint8_t(bytes[at + 1])) << 8;
    };
    const size_t header = u16(8), width = u16(10);
    const size_t at = header + size_t(recno - 1) * width;
    return at + width <= bytes.size() ? bytes.substr(at, width) : std::string();
}

class ChecksumTest : public testing::EngineTest {
  protected:
    // CHECK_SUM C40, CODE C3, NOTES M: the raw text is CODE + the memo reference.
    DATA4* dataTable(const char* checksumField = "CHECK_SUM") {
        return create(
            "CUSTOMER",
            {{checksumField, 'C', 40, 0, 0}, {"CODE", 'C', 3, 0, 0}, {"NOTES", 'M', 10, 0, 0}});
    }
    // The data file as the engine named it (extension in either case).
    std::string path(const char* name) {
        for (const char* ext : {".DBF", ".dbf"}) {
            const auto file = folder / (std::string(name) + ext);
            if (std::filesystem::exists(file)) return file.string();
        }
        ADD_FAILURE() << "no data file " << name;
        return {};
    }
    std::string checksumOf(DATA4* data, long recno, const char* field) {
        K4(library, d4goLow, data, recno, short(0));
        return readField(engine, data, field);
    }
    ChecksumTools tools() { return ChecksumTools{engine, kes01}; }

    Kes01Library kes01{[this](const std::string& line) { logLines.push_back(line); }};
};

TEST_F(ChecksumTest, AbcInTheOnlyOtherFieldGivesItsDigestInWordOrderH4H2H0H3H1) {
    DATA4* data = create("ABC", {{"CHECK_SUM", 'C', 40, 0, 0}, {"CODE", 'C', 3, 0, 0}});
    append(data, {{"CODE", "abc"}});
    auto t = tools();
    EXPECT_EQ(StampChecksumsIfPresent(t, data, 3000), ChecksumResult::kDone);
    EXPECT_EQ(checksumOf(data, 1, "CHECK_SUM"), "9cd0d89dba3e2571a9993e367850c26c4706816a");
    EXPECT_EQ(checksumOf(data, 1, "CHECK_SUM"), opensslChecksum("abc"));
}

TEST_F(ChecksumTest, CheckSumCoversTheStoredMemoReferenceAndDeletedRecords) {
    DATA4* data = dataTable();
    append(data, {{"CODE", "A1"}, {"NOTES", "first memo"}});
    append(data, {{"CODE", "B2"}, {"NOTES", "second memo text"}});
    K4(library, d4goLow, data, 2, short(1));
    K4(library, d4delete, data);
    auto t = tools();
    ASSERT_EQ(StampTableChecksums(t, data, 3000), ChecksumResult::kDone);
    for (long recno : {1L, 2L}) {
        const std::string record = storedRecord(path("CUSTOMER"), recno);
        ASSERT_GE(record.size(), 1u + 40 + 3 + 4);
        // Stored bytes after the deletion flag and the checksum field.
        const std::string rest = record.substr(1 + 40);
        EXPECT_EQ(record.substr(1, 40), opensslChecksum(rest)) << "record " << recno;
        EXPECT_EQ(rest.find("memo"), std::string::npos) << "memo text is not in the record";
    }
    EXPECT_EQ(storedRecord(path("CUSTOMER"), 2)[0], '*') << "record 2 stays deleted";
}

TEST_F(ChecksumTest, ARepeatedFieldNameReadsTheFirstFieldOfThatNameInTheText) {
    // Field 3 renamed CODE in the header by another program: the record text
    // takes the first CODE twice, as a lookup by name finds it, not the
    // stored bytes as they lie side by side.
    DATA4* data = create(
        "TWICE", {{"CHECK_SUM", 'C', 40, 0, 0}, {"CODE", 'C', 3, 0, 0}, {"COD2", 'C', 3, 0, 0}});
    append(data, {{"CODE", "abc"}, {"COD2", "xyz"}});
    append(data, {{"CODE", "def"}, {"COD2", "uvw"}});
    ASSERT_EQ(K4(library, d4close, data), 0);
    {
        std::fstream file(path("TWICE"), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(32 + 2 * 32);
        file.write("CODE\0\0\0\0\0\0\0", 11);
    }
    data = engine.open((folder / "TWICE").string());
    ASSERT_NE(data, nullptr);
    auto t = tools();
    ASSERT_EQ(StampTableChecksums(t, data, 3000), ChecksumResult::kDone);
    EXPECT_EQ(checksumOf(data, 1, "CHECK_SUM"), opensslChecksum("abcabc"));
    EXPECT_EQ(checksumOf(data, 2, "CHECK_SUM"), opensslChecksum("defdef"));
    K4(library, d4close, data);
}

TEST_F(ChecksumTest, CheckSum1CoversMemoTextAndVerifiesDeletedRecords) {
    DATA4* data = dataTable("CHECK_SUM1");
    append(data, {{"CODE", "A1"}, {"NOTES", "first memo"}});
    append(data, {{"CODE", "B"}, {"NOTES", ""}});
    K4(library, d4goLow, data, 1, short(1));
    K4(library, d4delete, data);
    auto t = tools();
    ASSERT_EQ(StampTableChecksum1(t, data), ChecksumResult::kDone);
    EXPECT_EQ(checksumOf(data, 1, "CHECK_SUM1"), opensslChecksum("A1 first memo"));
    EXPECT_EQ(checksumOf(data, 2, "CHECK_SUM1"), opensslChecksum("B  "));
    EXPECT_EQ(VerifyTableChecksum1(t, data), ChecksumResult::kVerified);
    // Changing the memo text alone is found.
    K4(library, d4goLow, data, 2, short(1));
    ASSERT_TRUE(writeField(engine, data, "NOTES", "changed"));
    K4(library, d4flush, data);
    long bad = 0;
    EXPECT_EQ(VerifyTableChecksum1(t, data, &bad), ChecksumResult::kMismatch);
    EXPECT_EQ(bad, 2);
}

TEST_F(ChecksumTest, TrailingBlanksCountAndUpperCaseOrPaddedStoredValuesDoNotMatch) {
    DATA4* data = create("TABLEDET", {{"CHECK_SUM1", 'C', 40, 0, 0}, {"NAME", 'C', 6, 0, 0}});
    append(data, {{"NAME", "AB"}});
    append(data, {{"NAME", "AB  X"}});
    auto t = tools();
    ASSERT_EQ(StampTableChecksum1(t, data), ChecksumResult::kDone);
    EXPECT_EQ(checksumOf(data, 1, "CHECK_SUM1"), opensslChecksum("AB    "));
    EXPECT_NE(checksumOf(data, 1, "CHECK_SUM1"), checksumOf(data, 2, "CHECK_SUM1"));
    const std::string stored = checksumOf(data, 2, "CHECK_SUM1");
    K4(library, d4goLow, data, 2, short(1));
    ASSERT_TRUE(writeField(engine, data, "CHECK_SUM1", platform::upperText(stored)));
    K4(library, d4flush, data);
    EXPECT_EQ(VerifyTableChecksum1(t, data), ChecksumResult::kMismatch);
}

TEST_F(ChecksumTest, BlankCheckSum1EndsVerificationAndAMissingFieldVerifies) {
    DATA4* data = create("TABLEDET", {{"CHECK_SUM1", 'C', 40, 0, 0}, {"NAME", 'C', 6, 0, 0}});
    for (const char* name : {"R1", "R2", "R3", "R4"}) append(data, {{"NAME", name}});
    auto t = tools();
    ASSERT_EQ(StampTableChecksum1(t, data), ChecksumResult::kDone);
    K4(library, d4goLow, data, 3, short(1));
    ASSERT_TRUE(writeField(engine, data, "CHECK_SUM1", ""));
    K4(library, d4goLow, data, 4, short(1));
    ASSERT_TRUE(writeField(engine, data, "NAME", "ALTERED"));
    K4(library, d4flush, data);
    EXPECT_EQ(VerifyTableChecksum1(t, data), ChecksumResult::kVerified);

    DATA4* plain = create("PLAIN", {{"NAME", 'C', 6, 0, 0}});
    append(plain, {{"NAME", "X"}});
    const std::string before = readBytes(path("PLAIN"));
    EXPECT_EQ(VerifyTableChecksum1(t, plain), ChecksumResult::kVerified);
    EXPECT_EQ(StampTableChecksum1(t, plain), ChecksumResult::kDone);
    EXPECT_EQ(StampChecksumsIfPresent(t, plain, 3000), ChecksumResult::kDone);
    EXPECT_EQ(readBytes(path("PLAIN")), before) << "a table without the field is left alone";
}

TEST_F(ChecksumTest, MissingChecksumLibraryWritesNothingAndVerificationFails) {
    DATA4* data = create("TABLEDET", {{"CHECK_SUM1", 'C', 40, 0, 0}, {"NAME", 'C', 6, 0, 0}});
    append(data, {{"CHECK_SUM1", "keep"}, {"NAME", "R1"}});
    K4(library, d4flush, data);
    const std::string before = readBytes(path("TABLEDET"));
    Kes01Library missing([this](const std::string& line) { logLines.push_back(line); },
                         "NOSUCHKES01.DLL");
    ChecksumTools t{engine, missing};
    logLines.clear();
    EXPECT_EQ(StampTableChecksum1(t, data), ChecksumResult::kNotMade);
    EXPECT_EQ(StampTableChecksums(t, data, 3000), ChecksumResult::kNotMade);
    EXPECT_EQ(readBytes(path("TABLEDET")), before) << "nothing was written";
    EXPECT_EQ(checksumOf(data, 1, "CHECK_SUM1").substr(0, 4), "keep");
    ASSERT_FALSE(logLines.empty());
    logLines.clear();
    EXPECT_EQ(VerifyTableChecksum1(t, data), ChecksumResult::kMismatch);
    ASSERT_FALSE(logLines.empty());
    EXPECT_NE(logLines.back().find("not verified"), std::string::npos) << logLines.back();
}

// A change the engine refuses (here a unique tag on the checksum: two records
// with the same text get the same value) is not a stamped table.
TEST_F(ChecksumTest, AChecksumTheEngineRefusesToWriteFailsTheStamping) {
    DATA4* data = create("CUSTOMER", {{"CHECK_SUM", 'C', 40, 0, 0}, {"CODE", 'C', 3, 0, 0}},
                         {{"CHKSUM", "CHECK_SUM", "", 20, 0}});
    append(data, {{"CHECK_SUM", "x1"}, {"CODE", "A1"}});
    append(data, {{"CHECK_SUM", "x2"}, {"CODE", "B2"}});
    append(data, {{"CHECK_SUM", "x3"}, {"CODE", "B2"}});
    append(data, {{"CHECK_SUM", "x4"}, {"CODE", "C3"}});
    K4(library, d4flush, data);
    logLines.clear();
    ChecksumTools t = tools();
    EXPECT_EQ(StampTableChecksums(t, data, 3000), ChecksumResult::kNotMade);
    EXPECT_FALSE(logLines.empty());
    EXPECT_EQ(storedRecord(path("CUSTOMER"), 1).substr(1, 40), opensslChecksum("A1 "));
    EXPECT_EQ(storedRecord(path("CUSTOMER"), 2).substr(1, 40), opensslChecksum("B2 "));
    EXPECT_EQ(storedRecord(path("CUSTOMER"), 3).substr(1, 40), "x3" + std::string(38, ' '));
    // The run stops at the refusal.
    EXPECT_EQ(storedRecord(path("CUSTOMER"), 4).substr(1, 40), "x4" + std::string(38, ' '));
}

TEST_F(ChecksumTest, AnIndependentReaderFindsTheSha1OfTheMemoAwareRecordText) {
    DATA4* data = dataTable("CHECK_SUM1");
    append(data, {{"CODE", "X9"}, {"NOTES", "memo for python"}});
    append(data, {{"CODE", "Y"}, {"NOTES", "another"}});
    auto t = tools();
    ASSERT_EQ(StampTableChecksum1(t, data), ChecksumResult::kDone);
    K4(library, d4close, data);
    const std::string script = (folder / "check.py").string();
    std::ofstream(script) << R"(import sys, hashlib, dbfread
t = dbfread.DBF(sys.argv[1], raw=True, load=True)
memos = dbfread.DBF(sys.argv[1], encoding='latin1', load=True)
for r, m in zip(t.records, memos.records):
    text = r['CODE'] + m['NOTES'].encode('latin1')
    h = hashlib.sha1(text).hexdigest()
    w = [h[i*8:i*8+8] for i in range(5)]
    want = (w[4] + w[2] + w[0] + w[3] + w[1]).encode()
    if r['CHECK_SUM1'] != want:
        print('mismatch', r); sys.exit(1)
print(len(t.records))
)";
    const std::string command = "/usr/bin/python3 " + script + " " + path("CUSTOMER") + " > " +
                                (folder / "out.txt").string() + " 2>&1";
    const int rc = std::system(command.c_str());
    EXPECT_EQ(rc, 0) << readBytes(folder / "out.txt");
    EXPECT_EQ(readBytes(folder / "out.txt"), "2\n");
}

}  // namespace
}  // namespace tavrel::tables
