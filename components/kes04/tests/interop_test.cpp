// Interoperation with independent readers and writers: Debian's python3-dbf
// and python3-dbfread read what we write, and we read what python3-dbf writes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "components/kes04/table_check.h"
#include "platform/text_rules.h"
#include "test_support.h"

namespace tavrel::kes04 {
namespace {

using namespace testing;
using nlohmann::json;

const std::vector<FieldSpec> kFields = {{"NAME", 'C', 20, 0},  {"AMOUNT", 'N', 10, 2},
                                        {"RATIO", 'F', 12, 4}, {"BORN", 'D', 8, 0},
                                        {"OK", 'L', 1, 0},     {"NOTES", 'M', 10, 0}};
const char* kNames[] = {"NAME", "AMOUNT", "RATIO", "BORN", "OK", "NOTES"};

// Bytes as Latin-1 code points in UTF-8, as the peers print them.
std::string utf8(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// A byte that every reader decodes: printable ASCII or Latin-1 letters.
char textByte(uint32_t seed) {
    uint32_t v = seed % 150;
    return v < 95 ? char(0x20 + v) : char(0xA0 + (v - 95));
}

struct Row {
    bool deleted = false;
    std::map<std::string, std::string> values;  // Expected texts, as raw bytes.
};

Row makeRow(int i) {
    Row row;
    row.deleted = i % 5 == 1;
    auto& v = row.values;
    if (i % 7 == 3) {  // all blank
        for (const char* name : kNames) v[name] = "";
        v["OK"] = "F";
        return row;
    }
    std::string name = "R" + std::to_string(i) + " ";
    for (int k = 0; k < i % 12; ++k) name += textByte(uint32_t(i * 31 + k * 7));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    v["NAME"] = name;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", (i * 7919 % 2000000) / 100.0 - 9999.0);
    v["AMOUNT"] = buffer;
    std::snprintf(buffer, sizeof buffer, "%.4f", i / 16.0);
    v["RATIO"] = buffer;
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", 1900 + i % 200, 1 + i % 12, 1 + i % 28);
    v["BORN"] = buffer;
    v["OK"] = i % 3 == 0 ? "T" : "F";
    std::string memo;
    if (i % 4 != 0) {
        memo = "memo " + std::to_string(i) + "\r\n";
        const size_t length = i % 1000 == 2 ? 100000 : size_t(i % 300);
        for (size_t k = 0; k < length; ++k) memo += textByte(uint32_t(i + k * 13));
    }
    v["NOTES"] = memo;
    return row;
}

std::vector<json> parseLines(const std::string& text) {
    std::vector<json> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) rows.push_back(json::parse(line));
    return rows;
}

void expectRow(const json& actual, const Row& expected, const std::string& where) {
    ASSERT_EQ(actual.at("_deleted").get<bool>(), expected.deleted) << where;
    for (const auto& [name, value] : expected.values) {
        ASSERT_EQ(actual.at(name).get<std::string>(), utf8(value)) << where << " field " << name;
    }
}

std::string peer(const std::string& command, const std::filesystem::path& table) {
    int status = -1;
    std::string out =
        run("/usr/bin/python3 " + sourceDir() + "/components/kes04/tests/dbf_peer.py " + command +
                " " + table.string(),
            &status);
    EXPECT_EQ(status, 0) << command;
    return out;
}

TEST(Interop, TablesWeWriteReadBackIdenticallyInBothPeers) {
    TempDir dir;
    const int count = 10000;
    std::vector<Row> rows;
    {
        auto t = createTable(dir / "OURS", kFields);
        for (int i = 0; i < count; ++i) {
            rows.push_back(makeRow(i));
            ASSERT_EQ(t->appendStart(false), 0);
            ASSERT_EQ(t->blank(), 0);
            for (const auto& [name, value] : rows.back().values) {
                if (name == "OK" && value == "F" && i % 7 == 3) continue;  // stays blank
                ASSERT_EQ(assign(*t, name, value), 0) << i << name;
            }
            if (rows.back().deleted) {
                ASSERT_EQ(t->setDeleted(true), 0);
            }
            ASSERT_EQ(t->append(), 0);
        }
        ASSERT_EQ(t->close(), 0);
    }
    // python3-dbf: every record in file order.
    std::vector<json> theirs = parseLines(peer("dbf", dir / "OURS.DBF"));
    ASSERT_EQ(theirs.size(), size_t(count));
    for (int i = 0; i < count; ++i)
        expectRow(theirs[size_t(i)], rows[size_t(i)], "dbf record " + std::to_string(i + 1));
    // python3-dbfread: live records, then the deleted ones.
    theirs = parseLines(peer("dbfread", dir / "OURS.DBF"));
    ASSERT_EQ(theirs.size(), size_t(count));
    size_t at = 0;
    for (bool deleted : {false, true}) {
        for (int i = 0; i < count; ++i) {
            if (rows[size_t(i)].deleted != deleted) continue;
            expectRow(theirs[at++], rows[size_t(i)], "dbfread record " + std::to_string(i + 1));
        }
    }
}

TEST(Interop, TablesPythonDbfWritesReadIdenticallyAndTakeOurAppends) {
    TempDir dir;
    int status = -1;
    const std::string table = (dir / "THEIRS.DBF").string();
    std::vector<json> written =
        parseLines(run("/usr/bin/python3 " + sourceDir() +
                           "/components/kes04/tests/dbf_peer.py write " + table + " 300",
                       &status));
    ASSERT_EQ(status, 0);
    ASSERT_EQ(written.size(), 300u);
    auto t = openTable(dir / "THEIRS", exclusive());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->header().version, 0xF5);
    EXPECT_EQ(t->memoBlockSize(), 128u);
    size_t i = 0;
    for (int rc = t->top(); rc == 0; rc = t->skip(1), ++i) {
        ASSERT_LT(i, written.size());
        EXPECT_EQ(t->deleted(), written[i].at("_deleted").get<bool>()) << i;
        for (const char* name : kNames) {
            EXPECT_EQ(utf8(text(*t, name)), written[i].at(name).get<std::string>())
                << "record " << i + 1 << " field " << name;
        }
    }
    EXPECT_EQ(i, 300u);
    // Our appends into their file: their header layout (263-byte backlink,
    // memo block 128, no end mark) stays, and both peers read the result.
    const std::string before = readBytes(dir / "THEIRS.DBF");
    for (int k = 0; k < 20; ++k) {
        ASSERT_EQ(t->appendStart(false), 0);
        ASSERT_EQ(t->blank(), 0);
        ASSERT_EQ(assign(*t, "NAME", "ours " + std::to_string(k)), 0);
        ASSERT_EQ(assign(*t, "AMOUNT", "-1.5"), 0);
        ASSERT_EQ(assign(*t, "NOTES", std::string(size_t(k * 50), 'n')), 0);
        ASSERT_EQ(t->append(), 0);
    }
    ASSERT_EQ(t->close(), 0);
    const std::string after = readBytes(dir / "THEIRS.DBF");
    EXPECT_EQ(after.substr(8, 24), before.substr(8, 24));
    EXPECT_EQ(after.substr(32, 32 * 6 + 264), before.substr(32, 32 * 6 + 264));
    for (const char* reader : {"dbf", "dbfread"}) {
        std::vector<json> rows = parseLines(peer(reader, dir / "THEIRS.DBF"));
        ASSERT_EQ(rows.size(), 320u) << reader;
        int ours = 0;
        for (const json& row : rows) {
            const std::string name = row.at("NAME").get<std::string>();
            if (name.rfind("ours ", 0) != 0) continue;
            const int k = std::stoi(name.substr(5));
            EXPECT_EQ(row.at("AMOUNT").get<std::string>(), "-1.50");
            EXPECT_EQ(row.at("NOTES").get<std::string>(), std::string(size_t(k * 50), 'n'));
            ++ours;
        }
        EXPECT_EQ(ours, 20) << reader;
    }
}

TEST(Interop, VisualFoxProTablesReadAsTextAndKeepTheirLayout) {
    TempDir dir;
    int status = -1;
    const std::string table = (dir / "VFP.DBF").string();
    std::vector<json> written =
        parseLines(run("/usr/bin/python3 " + sourceDir() +
                           "/components/kes04/tests/dbf_peer.py write-vfp " + table + " 120",
                       &status));
    ASSERT_EQ(status, 0);
    auto t = openTable(dir / "VFP", exclusive());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->header().version, 0x30);
    EXPECT_EQ(t->layout().find("NOTES")->length, 4u);  // binary memo pointer
    size_t i = 0;
    for (int rc = t->top(); rc == 0; rc = t->skip(1), ++i) {
        ASSERT_LT(i, written.size());
        for (const char* name : {"ID", "RATE", "PRICE", "STAMP", "NOTES", "NAME"}) {
            EXPECT_EQ(text(*t, name), written[i].at(name).get<std::string>())
                << "record " << i + 1 << " field " << name;
        }
    }
    EXPECT_EQ(i, written.size());
    ASSERT_EQ(t->appendStart(false), 0);
    ASSERT_EQ(t->blank(), 0);
    ASSERT_EQ(assign(*t, "ID", "-123"), 0);
    ASSERT_EQ(assign(*t, "PRICE", "-0.5"), 0);
    ASSERT_EQ(assign(*t, "STAMP", "20261207123456"), 0);
    ASSERT_EQ(assign(*t, "NOTES", "ours"), 0);
    ASSERT_EQ(t->append(), 0);
    ASSERT_EQ(t->close(), 0);
    std::vector<json> rows = parseLines(peer("dbfread", dir / "VFP.DBF"));
    ASSERT_EQ(rows.size(), 121u);
    EXPECT_EQ(uint8_t(readBytes(dir / "VFP.DBF")[0]), 0x30);
    EXPECT_EQ(rows.back().at("ID").get<std::string>(), "-123");
    EXPECT_EQ(rows.back().at("PRICE").get<std::string>(), "-0.5");
    EXPECT_EQ(rows.back().at("STAMP").get<std::string>(), "2026-12-07 12:34:56");
    EXPECT_EQ(rows.back().at("NOTES").get<std::string>(), "ours");
}

TEST(Interop, DbaseTablesKeepTheirDbtMemoFile) {
    TempDir dir;
    int status = -1;
    std::vector<json> written = parseLines(
        run("/usr/bin/python3 " + sourceDir() + "/components/kes04/tests/dbf_peer.py write-db3 " +
                (dir / "D3.DBF").string() + " 80",
            &status));
    ASSERT_EQ(status, 0);
    auto t = openTable(dir / "D3", exclusive());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->header().version, 0x83);
    size_t i = 0;
    for (int rc = t->top(); rc == 0; rc = t->skip(1), ++i) {
        ASSERT_LT(i, written.size());
        EXPECT_EQ(text(*t, "NOTES"), written[i].at("NOTES").get<std::string>()) << i;
    }
    EXPECT_EQ(i, written.size());
    ASSERT_EQ(t->go(2, false), 0);
    ASSERT_EQ(assign(*t, "NOTES", std::string(1500, 'g')), 0);  // grows: new blocks
    ASSERT_EQ(t->appendStart(false), 0);
    ASSERT_EQ(t->blank(), 0);
    ASSERT_EQ(assign(*t, "NAME", "ours"), 0);
    ASSERT_EQ(assign(*t, "NOTES", "our memo"), 0);
    ASSERT_EQ(t->append(), 0);
    ASSERT_EQ(t->close(), 0);
    std::vector<json> rows = parseLines(peer("dbf", dir / "D3.DBF"));
    ASSERT_EQ(rows.size(), 81u);
    EXPECT_EQ(rows[1].at("NOTES").get<std::string>(), std::string(1500, 'g'));
    EXPECT_EQ(rows[2].at("NOTES").get<std::string>(), written[2].at("NOTES").get<std::string>());
    EXPECT_EQ(rows.back().at("NOTES").get<std::string>(), "our memo");
}

TEST(Interop, CheckReadsTheNextFreeBlockOfADbtLittleEndian) {
    TempDir dir;
    int status = -1;
    run("/usr/bin/python3 " + sourceDir() + "/components/kes04/tests/dbf_peer.py write-db3 " +
            (dir / "D3.DBF").string() + " 40",
        &status);
    ASSERT_EQ(status, 0);
    TableCheckResult result = checkTable(dir / "D3");
    EXPECT_TRUE(result.faults.empty()) << result.faults.front();
    EXPECT_EQ(result.records, 40u);
    std::filesystem::path memo;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        if (platform::upperText(entry.path().extension().string()) == ".DBT") memo = entry.path();
    ASSERT_FALSE(memo.empty());
    // The peer's memos fill many blocks: a next free block of 2 is wrong.
    std::string bytes = readBytes(memo);
    ASSERT_GT(bytes.size(), 4u * 512);
    bytes.replace(0, 4, std::string("\x02\0\0\0", 4));
    writeBytes(memo, bytes);
    result = checkTable(dir / "D3");
    ASSERT_FALSE(result.faults.empty());
    EXPECT_NE(result.faults.front().find("runs past the next free block 2"), std::string::npos)
        << result.faults.front();
}

}  // namespace
}  // namespace tavrel::kes04
