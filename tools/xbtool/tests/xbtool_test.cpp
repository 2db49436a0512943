#include "tools/xbtool/xbtool.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/tests/temp_folder.h"
#include "tools/xbtool/json_text.h"

namespace tavrel::xbtool {
namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

Result xbtool(std::vector<std::string> args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out, err;
    Result r;
    r.code = run(args, in, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

class XbtoolTest : public ::testing::Test {
  protected:
    XbtoolTest() { table = (dir / "PEOPLE").string(); }
    void createPeople() {
        Result r = xbtool({"create", table, "--field", "NAME:C:12", "--field", "AMOUNT:N:8:2",
                           "--field", "BORN:D", "--field", "OK:L", "--field", "NOTES:M"});
        ASSERT_EQ(r.code, 0) << r.err;
    }
    std::string bytes(const std::string& name) {
        std::ifstream in(dir / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void setBytes(const std::string& name, const std::string& content) {
        std::ofstream(dir / name, std::ios::binary | std::ios::trunc) << content;
    }
    platform::testing::TempFolder box;
    const std::filesystem::path& dir = box.path();
    std::string table;
};

// A JSON string as the dump writes it: every character outside printable ASCII escaped.
std::string ascii(const std::string& utf8) {
    std::string out = "\"";
    const std::string bytes = utf8ToBytes(utf8).value_or("");
    for (unsigned char c : bytes) {
        char buf[8];
        if (c < 0x20 || c >= 0x7F) {
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

TEST_F(XbtoolTest, DumpIsPrintableAsciiAndShowsUnknownLogicalsAsEmpty) {
    createPeople();
    std::string all;
    for (int c = 1; c < 256; ++c) all += char(c);
    // The escapes come back in, and "" writes a blank logical.
    Result r = xbtool({"append", table}, "{\"NAME\":\"a\\u0085b\",\"OK\":\"\",\"NOTES\":" +
                                             nlohmann::json(bytesToUtf8(all)).dump() +
                                             "}\n{\"NAME\":\"q\",\"OK\":true}\n");
    ASSERT_EQ(r.code, 0) << r.err;
    // FoxPro's "not yet known" logical.
    std::string dbf = bytes("PEOPLE.DBF");
    const size_t headerLength = uint8_t(dbf[8]) | (uint8_t(dbf[9]) << 8);
    const size_t recordLength = uint8_t(dbf[10]) | (uint8_t(dbf[11]) << 8);
    const size_t ok = headerLength + recordLength + 1 + 12 + 8 + 8;
    ASSERT_EQ(dbf[ok], 'T');
    dbf[ok] = '?';
    setBytes("PEOPLE.DBF", dbf);
    r = xbtool({"dump", table});
    ASSERT_EQ(r.code, 0) << r.err;
    size_t lines = 0;
    for (char c : r.out) {
        if (c == '\n') {
            ++lines;
            continue;
        }
        ASSERT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << int(uint8_t(c)) << " in the dump";
    }
    EXPECT_EQ(lines, 2u);
    std::istringstream in(r.out);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    const nlohmann::json first = nlohmann::json::parse(line);
    EXPECT_EQ(first["NAME"], bytesToUtf8("a\x85"
                                         "b"));
    EXPECT_EQ(first["OK"], "");
    EXPECT_EQ(*utf8ToBytes(first["NOTES"].get<std::string>()), all);
    EXPECT_NE(line.find("\\u0085"), std::string::npos);
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(nlohmann::json::parse(line)["OK"], "");
    EXPECT_EQ(bytes("PEOPLE.DBF")[headerLength + 1 + 12 + 8 + 8], ' ');
}

TEST_F(XbtoolTest, AppendedRecordsDumpBackExactlyWithEveryByte) {
    createPeople();
    std::string all;  // every byte but NUL and the trailing blank
    for (int c = 1; c < 256; ++c) all += char(c);
    const std::string name = bytesToUtf8("\x01\xE9\xFF\x80x");
    const std::string notes = bytesToUtf8(all);
    const std::string input = "{\"NAME\":" + nlohmann::json(name).dump() +
                              ",\"AMOUNT\":12.5,\"BORN\":\"20240229\"," +
                              "\"OK\":true,\"NOTES\":" + nlohmann::json(notes).dump() + "}\n" +
                              "\n" + R"({"_deleted":true,"name":"second","AMOUNT":null})" + "\n";
    Result r = xbtool({"append", table}, input);
    ASSERT_EQ(r.code, 0) << r.err;
    r = xbtool({"dump", table});
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string first, second, extra;
    ASSERT_TRUE(std::getline(lines, first));
    ASSERT_TRUE(std::getline(lines, second));
    EXPECT_FALSE(std::getline(lines, extra));
    EXPECT_EQ(first, "{\"_recno\":1,\"_deleted\":false,\"NAME\":" + ascii(name) +
                         ",\"AMOUNT\":\"12.50\",\"BORN\":\"20240229\",\"OK\":\"T\",\"NOTES\":" +
                         ascii(notes) + "}");
    EXPECT_EQ(
        second,
        R"({"_recno":2,"_deleted":true,"NAME":"second","AMOUNT":"","BORN":"","OK":"","NOTES":""})");
    // A dump fed back to append gives the same records again.
    r = xbtool({"append", table}, first + "\n" + second + "\n");
    ASSERT_EQ(r.code, 0) << r.err;
    r = xbtool({"dump", table});
    EXPECT_NE(r.out.find("{\"_recno\":3,\"_deleted\":false,\"NAME\":" + ascii(name)),
              std::string::npos);
    EXPECT_NE(r.out.find(R"({"_recno":4,"_deleted":true,"NAME":"second")"), std::string::npos);
}

TEST_F(XbtoolTest, AppendStopsAtTheFirstBadLineAndSaysWhere) {
    createPeople();
    Result r =
        xbtool({"append", table}, "{\"NAME\":\"ok\"}\n{\"NOPE\":\"x\"}\n{\"NAME\":\"never\"}\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "xbtool: line 2: no field \"NOPE\"\n");
    r = xbtool({"append", table}, "{\"NAME\": \"\\u0100\"}\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("above U+00FF"), std::string::npos);
    r = xbtool({"append", table}, "{not json\n");
    EXPECT_NE(r.err.find("line 1: not valid JSON"), std::string::npos);
    r = xbtool({"append", table}, "{\"BORN\":\"20231301\"}\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("BORN"), std::string::npos) << r.err;
    r = xbtool({"dump", table});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);  // only "ok" went in
}

TEST_F(XbtoolTest, InfoShowsHeaderAndFields) {
    createPeople();
    ASSERT_EQ(xbtool({"append", table}, "{}\n{}\n").code, 0);
    Result r = xbtool({"info", table});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Version:       0xF5 FoxPro 2.x with memo (.FPT)"), std::string::npos);
    EXPECT_NE(r.out.find("Records:       2\n"), std::string::npos);
    EXPECT_NE(r.out.find("Memo file:     block size 64"), std::string::npos);
    EXPECT_NE(r.out.find("  AMOUNT     N     8   2  offset 13\n"), std::string::npos) << r.out;
}

TEST_F(XbtoolTest, CreateRefusesBadFieldsAndExistingTables) {
    EXPECT_EQ(xbtool({"create", table, "--field", "NAME"}).code, 2);
    EXPECT_EQ(xbtool({"create", table, "--field", "NAME:C:x"}).code, 2);
    Result r = xbtool({"create", table, "--field", "NAME:Q:3"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot be created"), std::string::npos) << r.err;
    createPeople();
    r = xbtool({"create", table, "--field", "A:C:1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("exists already"), std::string::npos);
    EXPECT_EQ(xbtool({"create", table, "--field", "A:C:1", "--overwrite"}).code, 0);
    EXPECT_EQ(xbtool({"bogus", table}).code, 2);
    EXPECT_EQ(xbtool({"dump", (dir / "MISSING").string()}).code, 1);
}

TEST_F(XbtoolTest, CheckPassesGoodTablesAndListsEveryFault) {
    createPeople();
    ASSERT_EQ(
        xbtool({"append", table}, "{\"NOTES\":\"memo one\"}\n{\"NOTES\":\"memo two\"}\n").code, 0);
    Result r = xbtool({"check", table});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("OK, 2 records, 2 memos"), std::string::npos);

    std::string dbf = bytes("PEOPLE.DBF");
    const size_t first = 32 + 5 * 32 + 1, length = 1 + 12 + 8 + 8 + 1 + 10;
    dbf[first] = 'X';                                    // bad deletion flag
    dbf.replace(first + length + 30, 10, "     99999");  // memo pointer past the end
    dbf += "junk";                                       // bytes after the records
    setBytes("PEOPLE.DBF", dbf);
    r = xbtool({"check", table});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("record 1: deletion flag is byte 88"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("record 2 field NOTES"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bytes after record 2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("3 fault(s)"), std::string::npos) << r.err;

    setBytes("PEOPLE.DBF", dbf.substr(0, 40));
    r = xbtool({"check", table});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos);
}

class XbtoolTags : public XbtoolTest {
  protected:
    void createIndexed() {
        Result r = xbtool({"create", table, "--field", "NAME:C:12", "--field", "SEQ:N:5", "--field",
                           "DAY:D", "--tag", "NAME:UPPER(NAME)", "--tag",
                           "SEQ:SEQ:FOR=.NOT. DELETED():UNIQUE_CONTINUE", "--tag",
                           "DAY_BACK:DTOS(DAY):DESCENDING"});
        ASSERT_EQ(r.code, 0) << r.err;
        r = xbtool({"append", table},
                   "{\"NAME\":\"delta\",\"SEQ\":\"4\",\"DAY\":\"20240105\"}\n"
                   "{\"NAME\":\"Alpha\",\"SEQ\":\"2\",\"DAY\":\"20231231\"}\n"
                   "{\"NAME\":\"alpine\",\"SEQ\":\"2\",\"DAY\":\"20240301\"}\n"
                   "{\"NAME\":\"Bravo\",\"SEQ\":\"1\",\"DAY\":\"\",\"_deleted\":true}\n");
        ASSERT_EQ(r.code, 0) << r.err;
    }
    std::vector<int> recnos(const std::string& jsonLines) {
        std::vector<int> out;
        std::istringstream in(jsonLines);
        for (std::string line; std::getline(in, line);)
            out.push_back(nlohmann::json::parse(line)["_recno"].get<int>());
        return out;
    }
};

TEST_F(XbtoolTags, CreateInfoAndDumpInTagOrder) {
    createIndexed();
    Result r = xbtool({"info", table});
    EXPECT_NE(r.out.find("Flags:         0x01 (structural index)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Tags:          3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("NAME  key UPPER(NAME)  (12-byte key)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("SEQ  key SEQ  for .NOT. DELETED()  unique-continue  (8-byte key)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("DAY_BACK  key DTOS(DAY)  descending"), std::string::npos) << r.out;
    EXPECT_EQ(recnos(xbtool({"dump", table, "--tag", "name"}).out), (std::vector<int>{2, 3, 4, 1}));
    EXPECT_EQ(recnos(xbtool({"dump", table, "--tag", "SEQ"}).out), (std::vector<int>{2, 1}));
    EXPECT_EQ(recnos(xbtool({"dump", table, "--tag", "DAY_BACK"}).out),
              (std::vector<int>{3, 1, 2, 4}));
    EXPECT_EQ(recnos(xbtool({"dump", table}).out), (std::vector<int>{1, 2, 3, 4}));
    r = xbtool({"dump", table, "--tag", "NOPE"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no tag \"NOPE\""), std::string::npos);
}

TEST_F(XbtoolTags, SeekPrintsEveryRecordWithTheKeyPrefix) {
    createIndexed();
    Result r = xbtool({"seek", table, "NAME", "ALP"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(recnos(r.out), (std::vector<int>{2, 3}));
    EXPECT_NE(r.out.find("\"NAME\":\"Alpha\""), std::string::npos);
    r = xbtool({"seek", table, "SEQ", "4"});
    EXPECT_EQ(recnos(r.out), (std::vector<int>{1}));
    r = xbtool({"seek", table, "DAY_BACK", "2024"});
    EXPECT_EQ(recnos(r.out), (std::vector<int>{3, 1}));
    r = xbtool({"seek", table, "NAME", "CHARLIE"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
}

TEST_F(XbtoolTags, CheckFindsADamagedIndexAndReindexRepairsIt) {
    createIndexed();
    Result r = xbtool({"check", table});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("4 records, 0 memos, 3 tags"), std::string::npos) << r.out;
    // The NAME tag's root leaf holds "ALPHA" as its first key: turn it into "BLPHA".
    std::string cdx = bytes("PEOPLE.CDX");
    const size_t at = cdx.find("ALPHA");
    ASSERT_NE(at, std::string::npos);
    cdx[at] = 'B';
    setBytes("PEOPLE.CDX", cdx);
    r = xbtool({"check", table});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("tag NAME"), std::string::npos) << r.err;
    r = xbtool({"reindex", table});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("3 tags rebuilt"), std::string::npos);
    r = xbtool({"check", table});
    EXPECT_EQ(r.code, 0) << r.err;
    // A missing index file is a fault too.
    std::filesystem::remove(dir / "PEOPLE.CDX");
    r = xbtool({"check", table});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("structural index"), std::string::npos) << r.err;
}

// The program run as a child with a time limit; its output capped at `limit` bytes.
Result runBounded(const std::string& arguments, size_t limit) {
    Result r;
    const char* bin = std::getenv("TAVREL_BIN_DIR");
    if (!bin) return r;
    const std::string command =
        "timeout 20 " + std::string(bin) + "/xbtool " + arguments + " 2>/dev/null; echo \"#$?\"";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        if (r.out.size() < limit) r.out.append(buffer, n);
    ::pclose(pipe);
    const size_t mark = r.out.rfind('#');
    if (mark != std::string::npos && r.out.size() < limit) {
        r.code = std::atoi(r.out.c_str() + mark + 1);
        r.out.resize(mark);
    }
    return r;
}

TEST_F(XbtoolTags, DumpInTagOrderEndsWhenRecordsChangedBehindTheIndex) {
    createIndexed();
    // Record 4 ("Bravo", third in NAME order) now reads "Zulu", record 3
    // ("alpine", second) reads "Aaron": the index still has them where they were.
    std::string dbf = bytes("PEOPLE.DBF");
    const size_t headerLength = uint8_t(dbf[8]) | (uint8_t(dbf[9]) << 8);
    const size_t recordLength = uint8_t(dbf[10]) | (uint8_t(dbf[11]) << 8);
    dbf.replace(headerLength + 3 * recordLength + 1, 5, "Zulu ");
    dbf.replace(headerLength + 2 * recordLength + 1, 6, "Aaron ");
    setBytes("PEOPLE.DBF", dbf);
    Result r = runBounded("dump " + table + " --tag NAME", 1 << 16);
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(recnos(r.out), (std::vector<int>{2, 3, 4, 1}));
    EXPECT_NE(r.out.find("\"NAME\":\"Zulu\""), std::string::npos) << r.out;
    r = runBounded("dump " + table + " --tag DAY_BACK", 1 << 16);
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(recnos(r.out), (std::vector<int>{3, 1, 2, 4}));
}

TEST_F(XbtoolTags, BadTagsAndDuplicateKeysAreRefused) {
    Result r = xbtool({"create", table, "--field", "NAME:C:12", "--tag", "NAME"});
    EXPECT_EQ(r.code, 2);
    r = xbtool({"create", table, "--field", "NAME:C:12", "--tag", "NAME:NAME:SIDEWAYS"});
    EXPECT_EQ(r.code, 2);
    r = xbtool({"create", table, "--field", "NAME:C:12", "--tag", "NAME:UPPER(NOPE)"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("-400"), std::string::npos) << r.err;
    r = xbtool({"create", table, "--field", "NAME:C:12", "--tag", "NAME:NAME:UNIQUE"});
    ASSERT_EQ(r.code, 0) << r.err;
    r = xbtool({"append", table}, "{\"NAME\":\"x\"}\n{\"NAME\":\"x\"}\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("line 2"), std::string::npos) << r.err;
    EXPECT_EQ(xbtool({"check", table}).code, 0);
}

TEST_F(XbtoolTest, TheProgramRunsTheCommands) {
    createPeople();
    const char* bin = std::getenv("TAVREL_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    const std::string command = std::string(bin) + "/xbtool check " + table + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[512] = {};
    size_t n = fread(buffer, 1, sizeof buffer - 1, pipe);
    int status = ::pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(std::string(buffer, n).find("OK, 0 records"), std::string::npos);
}

}  // namespace
}  // namespace tavrel::xbtool
