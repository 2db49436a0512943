// Interoperation on the published file layout: files we write read by an
// independent reader (tests/cdx_reader.py, run with Debian's python3), and a
// file assembled byte by byte from the published file layout, read by us.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>

#include "components/kes04/index/cdx_index.h"
#include "components/kes04/index/key_encoding.h"
#include "components/kes04/index/tests/stdio_page_store.h"
#include "components/kes04/index/tests/table_support.h"
#include "components/kes04/index/tests/test_table.h"
#include "platform/files.h"

namespace tavrel::kes04::cdx {
namespace {

using testing::MemorySource;
using testing::Records;
using testing::sampleLayout;
using testing::TempFolder;

std::string runReader(const std::filesystem::path& cdx, int* status) {
    const std::string script = std::string(KES04_INDEX_TEST_DIR) + "/cdx_reader.py";
    const std::string command = "/usr/bin/python3 " + script + " " + cdx.string() + " 2>&1";
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int rc = ::pclose(pipe);
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::string hex(const std::string& s) {
    static const char* d = "0123456789abcdef";
    std::string r;
    for (unsigned char c : s) r += {d[c >> 4], d[c & 15]};
    return r;
}

class WrittenByUs : public ::testing::Test {
  protected:
    TempFolder dir;
    Records records{sampleLayout()};
    MemorySource table;
    std::unique_ptr<CdxIndex> index;

    void build() {
        CdxStatus s;
        index =
            CdxIndex::create(StdioPageStore::open(dir / "PEOPLE.CDX", true), records.layout(), &s);
        ASSERT_EQ(s, CdxStatus::Ok);
        ASSERT_EQ(index->addTag(TagSpec{"NAME", "UPPER(NAME)", "", TagUniqueness::kNone, false}),
                  CdxStatus::Ok);
        ASSERT_EQ(
            index->addTag(TagSpec{"AMOUNT", "AMOUNT", "AMOUNT > 0", TagUniqueness::kNone, false}),
            CdxStatus::Ok);
        ASSERT_EQ(index->addTag(TagSpec{"CODE_BACK", "CODE", "", TagUniqueness::kContinue, true}),
                  CdxStatus::Ok);
        for (uint32_t r = 1; r <= 3000; ++r) {
            auto row = records.make("name" + std::to_string(r * 7919 % 3001),
                                    std::to_string(r % 97), double(int(r % 41) - 20) / 4);
            ASSERT_EQ(index->applyChange(r, {}, row), CdxStatus::Ok);
            table.rows.push_back(std::move(row));
        }
        ASSERT_EQ(index->flush(), CdxStatus::Ok);
    }
    // Compares the independent reader's view with the tags as we walk them.
    void compareWithReader() {
        int status = -1;
        const std::string out = runReader(dir / "PEOPLE.CDX", &status);
        ASSERT_EQ(status, 0) << out;
        std::istringstream lines(out);
        std::string line;
        size_t tags = 0;
        while (std::getline(lines, line)) {
            const auto j = nlohmann::json::parse(line);
            CdxTag* tag = index->findTag(j["name"].get<std::string>());
            ASSERT_NE(tag, nullptr) << line.substr(0, 100);
            ++tags;
            EXPECT_EQ(j["key"], tag->keyExpression());
            EXPECT_EQ(j["for"], tag->forExpression());
            EXPECT_EQ(j["descending"], tag->descending());
            EXPECT_EQ(j["key_length"], tag->keyLength());
            // Physical order is ascending for every tag; walk ours from the low end.
            std::vector<std::pair<std::string, uint32_t>> ours;
            CdxCursor c;
            auto step = [&](bool first) {
                return tag->descending() ? (first ? index->last(*tag, c) : index->prev(*tag, c))
                                         : (first ? index->first(*tag, c) : index->next(*tag, c));
            };
            for (CdxStatus s = step(true); s == CdxStatus::Ok && c.valid; s = step(false))
                ours.emplace_back(tag->keyType() == ValueType::Character ? c.key : hex(c.key),
                                  c.record);
            const auto& theirs = j["entries"];
            ASSERT_EQ(theirs.size(), ours.size()) << tag->name();
            for (size_t i = 0; i < ours.size(); ++i) {
                ASSERT_EQ(theirs[i][0].get<std::string>(), ours[i].first)
                    << tag->name() << " " << i;
                ASSERT_EQ(theirs[i][1].get<uint32_t>(), ours[i].second) << tag->name() << " " << i;
            }
        }
        EXPECT_EQ(tags, 3u);
    }
};

TEST_F(WrittenByUs, MaintainedFileReadsTheSameInAnIndependentReader) {
    build();
    compareWithReader();
    // The layout FoxPro writes: directory header, directory root, tag headers.
    const std::string bytes = platform::readFile(dir / "PEOPLE.CDX").value_or("");
    ASSERT_GE(bytes.size(), 4096u);
    EXPECT_EQ(platform::loadLE32(reinterpret_cast<const uint8_t*>(bytes.data())), 1024u);
    EXPECT_EQ(uint8_t(bytes[14]), 0xE0);
    EXPECT_EQ(index->tag(0).headerOffset(), 1536u);
}

TEST_F(WrittenByUs, RebuiltFileReadsTheSameInAnIndependentReader) {
    build();
    ASSERT_EQ(index->reindex(table), CdxStatus::Ok);
    compareWithReader();
}

// Builds a compound index by hand from the published file layout: a directory
// with one tag CODE (key CODE, 4 bytes) holding "AA" (record 2), "AB" (record
// 1) and "B" (record 3).
std::vector<uint8_t> handBuiltIndex() {
    std::vector<uint8_t> f(3072, 0);
    uint8_t* p = f.data();
    // Directory header: root 1024, key length 10, options 0xE0, signature 1,
    // key pool "" at 0 (length 1), filter "" at 1 (length 1).
    platform::storeLE32(p + 0, 1024);
    platform::storeLE16(p + 12, 10);
    p[14] = 0xE0;
    p[15] = 1;
    platform::storeLE16(p + 504, 1);
    platform::storeLE16(p + 506, 1);
    platform::storeLE16(p + 510, 1);
    // Directory root leaf: one entry "CODE" -> tag header at 1536. Key length
    // 10 gives 4-bit duplicate and trailing counts; RN 16 bits; 3-byte entries.
    uint8_t* d = p + 1024;
    platform::storeLE16(d + 0, 3);
    platform::storeLE16(d + 2, 1);
    platform::storeLE32(d + 4, 0xFFFFFFFF);
    platform::storeLE32(d + 8, 0xFFFFFFFF);
    platform::storeLE16(d + 12, 488 - 3 - 4);
    platform::storeLE32(d + 14, 0xFFFF);
    d[18] = 0x0F, d[19] = 0x0F, d[20] = 16, d[21] = 4, d[22] = 4, d[23] = 3;
    const uint32_t dirEntry = 1536 | (0u << 16) | (6u << 20);
    d[24] = uint8_t(dirEntry), d[25] = uint8_t(dirEntry >> 8), d[26] = uint8_t(dirEntry >> 16);
    std::memcpy(d + 508, "CODE", 4);
    // Tag header: root 2560, key length 4, options 0x60, pool "CODE" + "".
    uint8_t* h = p + 1536;
    platform::storeLE32(h + 0, 2560);
    platform::storeLE16(h + 12, 4);
    h[14] = 0x60;
    h[15] = 1;
    platform::storeLE16(h + 504, 5);
    platform::storeLE16(h + 506, 1);
    platform::storeLE16(h + 510, 5);
    std::memcpy(h + 512, "CODE", 4);
    // Tag root leaf: key length 4 -> 3-bit counts, RN 18, 3-byte entries.
    uint8_t* l = p + 2560;
    platform::storeLE16(l + 0, 3);
    platform::storeLE16(l + 2, 3);
    platform::storeLE32(l + 4, 0xFFFFFFFF);
    platform::storeLE32(l + 8, 0xFFFFFFFF);
    platform::storeLE16(l + 12, 488 - 9 - 4);
    platform::storeLE32(l + 14, (1u << 18) - 1);
    l[18] = 7, l[19] = 7, l[20] = 18, l[21] = 3, l[22] = 3, l[23] = 3;
    const uint32_t entries[3] = {2u | (0u << 18) | (2u << 21),   // "AA": stored "AA"
                                 1u | (1u << 18) | (2u << 21),   // "AB": dup "A", stored "B"
                                 3u | (0u << 18) | (3u << 21)};  // "B": stored "B"
    for (int i = 0; i < 3; ++i)
        for (int b = 0; b < 3; ++b) l[24 + i * 3 + b] = uint8_t(entries[i] >> (8 * b));
    std::memcpy(l + 510, "AA", 2);
    l[509] = 'B';
    l[508] = 'B';
    return f;
}

TEST(WrittenByHand, FileAssembledFromTheDescriptionOpensWalksAndSeeks) {
    RecordLayout layout;
    layout.fields = {FieldLayout{"CODE", 'C', 1, 4, 0}};
    layout.recordLength = 5;
    CdxStatus s;
    std::string msg;
    auto index =
        CdxIndex::open(std::make_unique<MemoryPageStore>(handBuiltIndex()), layout, &s, &msg);
    ASSERT_EQ(s, CdxStatus::Ok) << msg;
    ASSERT_EQ(index->tagCount(), 1u);
    CdxTag& tag = index->tag(0);
    EXPECT_EQ(tag.name(), "CODE");
    EXPECT_EQ(tag.keyExpression(), "CODE");
    std::vector<std::pair<std::string, uint32_t>> got;
    CdxCursor c;
    for (s = index->first(tag, c); s == CdxStatus::Ok && c.valid; s = index->next(tag, c))
        got.emplace_back(c.key, c.record);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, uint32_t>>{
                       {"AA  ", 2}, {"AB  ", 1}, {"B   ", 3}}));
    bool found;
    ASSERT_EQ(index->seek(tag, "AB", c, found), CdxStatus::Ok);
    EXPECT_TRUE(found);
    EXPECT_EQ(c.record, 1u);
    // Our checker finds nothing wrong with it, and our writer produces the same leaf bytes.
    std::vector<std::string> problems;
    EXPECT_EQ(index->check(problems), CdxStatus::Ok);
    for (const auto& p : problems) ADD_FAILURE() << p;
    Node leaf;
    leaf.root = true;
    leaf.keys = {'A', 'A', ' ', ' ', 'A', 'B', ' ', ' ', 'B', ' ', ' ', ' '};
    leaf.records = {2, 1, 3};
    uint8_t page[kPageSize];
    ASSERT_TRUE(encodeNode(leaf, 4, ' ', page));
    const std::vector<uint8_t> hand = handBuiltIndex();
    EXPECT_EQ(std::memcmp(page, hand.data() + 2560, kPageSize), 0);
}

}  // namespace
}  // namespace tavrel::kes04::cdx
