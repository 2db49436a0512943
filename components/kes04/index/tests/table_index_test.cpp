// The index inside real tables: tags kept right by appends, field changes and
// deletion marks, tag order for navigation, seeks, sharing, reopening.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

#include "components/kes04/index/tests/table_support.h"

namespace tavrel::kes04::cdx {
namespace {

using testing::access;
using testing::assignField;
using testing::fieldText;
using testing::TempFolder;

const std::vector<FieldSpec> kFields = {
    {"TBL_NAME", 'C', 12, 0}, {"SEQ", 'N', 6, 0}, {"UPDATED", 'D', 8, 0}, {"NOTES", 'M', 10, 0}};

class TableIndexTest : public ::testing::Test {
  protected:
    TempFolder dir;
    std::unique_ptr<Table> table;

    void SetUp() override { setIndexFactory(&CdxTableIndex::factory); }
    void TearDown() override {
        if (table) table->close();
    }
    int create(const std::vector<kes04::TagSpec>& tags, AccessMode mode = AccessMode::kDenyRW) {
        std::string detail;
        return Table::create(dir / "ORDERS", kFields, tags, true, access(mode), &table, &detail);
    }
    int add(const std::string& name, int seq, const std::string& day) {
        int rc = table->appendStart(false);
        if (rc == 0) rc = table->blank();
        if (rc == 0) rc = assignField(*table, "TBL_NAME", name);
        if (rc == 0) rc = assignField(*table, "SEQ", std::to_string(seq));
        if (rc == 0) rc = assignField(*table, "UPDATED", day);
        if (rc == 0) rc = table->append();
        return rc;
    }
    CdxTableIndex& index() { return *static_cast<CdxTableIndex*>(table->index()); }
    std::vector<uint32_t> order() {
        std::vector<uint32_t> out;
        for (int rc = table->top(); rc == 0 && !table->eof(); rc = table->skip(1))
            out.push_back(table->recno());
        return out;
    }
};

const std::vector<kes04::TagSpec> kTags = {
    {"TBL_ORDER", "UPPER(TBL_NAME) + STR(SEQ, 6)", "", TagUniqueness::kNone, false},
    {"UPDATE", "SEQ", ".NOT. DELETED()", TagUniqueness::kNone, false},
    {"DATE_BACK", "DTOS(UPDATED)", "", TagUniqueness::kNone, true},
};

TEST_F(TableIndexTest, CreateWithTagsThenNavigateInTagOrder) {
    ASSERT_EQ(create(kTags), 0);
    EXPECT_EQ(table->header().flags & 0x01, 0x01);
    ASSERT_EQ(add("beta", 3, "20240105"), 0);
    ASSERT_EQ(add("alpha", 9, "20231201"), 0);
    ASSERT_EQ(add("Alpha", 1, "20240301"), 0);
    EXPECT_EQ(order(), (std::vector<uint32_t>{1, 2, 3}));  // physical order until a tag is selected
    index().select(index().findTag("tbl_order"));
    EXPECT_EQ(order(), (std::vector<uint32_t>{3, 2, 1}));
    index().select(index().findTag("DATE_BACK"));
    EXPECT_EQ(order(), (std::vector<uint32_t>{3, 1, 2}));
    index().select(index().findTag("UPDATE"));
    EXPECT_EQ(order(), (std::vector<uint32_t>{3, 1, 2}));
    // Backward from the bottom, and a skip past the end.
    ASSERT_EQ(table->bottom(), 0);
    EXPECT_EQ(table->recno(), 2u);
    ASSERT_EQ(table->skip(-2), 0);
    EXPECT_EQ(table->recno(), 3u);
    EXPECT_EQ(table->skip(5), code(EngineCode::kEof));
    EXPECT_TRUE(table->eof());
}

TEST_F(TableIndexTest, SeeksAndSeekNextOverAKeyPrefix) {
    ASSERT_EQ(create(kTags), 0);
    ASSERT_EQ(add("CUSTOMER", 2, "20240101"), 0);
    ASSERT_EQ(add("ORDERS", 1, "20240101"), 0);
    ASSERT_EQ(add("CUSTOMER", 1, "20240101"), 0);
    index().select(index().findTag("TBL_ORDER"));
    uint32_t recno = 0;
    ASSERT_EQ(index().seek("CUSTOMER", &recno), 0);
    EXPECT_EQ(recno, 3u);
    ASSERT_EQ(table->go(recno, false), 0);
    ASSERT_EQ(index().seekNext("CUSTOMER", recno, {table->record(), table->layout().recordLength},
                               &recno),
              0);
    EXPECT_EQ(recno, 1u);
    ASSERT_EQ(table->go(recno, false), 0);
    EXPECT_EQ(index().seekNext("CUSTOMER", recno, {table->record(), table->layout().recordLength},
                               &recno),
              code(EngineCode::kEntry));
    EXPECT_EQ(recno, 2u);
    EXPECT_EQ(index().seek("NOPE", &recno), code(EngineCode::kAfter));
    EXPECT_EQ(recno, 2u);
    EXPECT_EQ(index().seek("ZZZ", &recno), code(EngineCode::kEof));
    index().select(index().findTag("UPDATE"));
    EXPECT_EQ(index().seek("2", &recno), 0);
    EXPECT_EQ(recno, 1u);
}

TEST_F(TableIndexTest, FieldChangesAndDeletionMarksMoveEntries) {
    ASSERT_EQ(create(kTags), 0);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(add("T" + std::to_string(i), i, "20240101"), 0);
    ASSERT_EQ(table->go(10, true), 0);
    ASSERT_EQ(assignField(*table, "SEQ", "1000"), 0);
    ASSERT_EQ(table->go(11, true), 0);
    ASSERT_EQ(table->setDeleted(true), 0);
    ASSERT_EQ(table->flush(), 0);
    index().select(index().findTag("UPDATE"));
    std::vector<uint32_t> o = order();
    EXPECT_EQ(o.size(), 49u);  // record 11 left the filtered tag
    EXPECT_EQ(o.back(), 10u);
    index().select(index().findTag("TBL_ORDER"));
    EXPECT_EQ(order().size(), 50u);  // deleted records stay visible
    std::vector<std::string> problems;
    EXPECT_EQ(index().check(problems), 0);
    for (auto& p : problems) ADD_FAILURE() << p;
}

// A change a tag cannot see leaves that tag alone; one it can see moves the
// entry, the deletion mark included for a filter on DELETED().
TEST_F(TableIndexTest, OnlyTagsThatReadAChangedFieldAreUpdated) {
    ASSERT_EQ(create(kTags), 0);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(add("T" + std::to_string(i), i, "20240101"), 0);
    ASSERT_EQ(table->flush(), 0);
    const auto cdx = [&] {
        std::ifstream in(dir / "ORDERS.CDX", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = cdx();

    ASSERT_EQ(table->go(7, true), 0);
    ASSERT_EQ(assignField(*table, "NOTES", "a memo no tag reads"), 0);
    ASSERT_EQ(table->go(8, true), 0);
    ASSERT_EQ(table->flush(), 0);
    EXPECT_EQ(cdx(), before);

    ASSERT_EQ(assignField(*table, "UPDATED", "19990101"), 0);  // record 8
    ASSERT_EQ(table->go(9, true), 0);
    ASSERT_EQ(table->setDeleted(true), 0);
    ASSERT_EQ(table->flush(), 0);
    EXPECT_NE(cdx(), before);
    index().select(index().findTag("DATE_BACK"));
    std::vector<uint32_t> o = order();
    ASSERT_EQ(o.size(), 300u);
    EXPECT_EQ(o.back(), 8u);  // descending: the oldest day comes last
    index().select(index().findTag("UPDATE"));
    o = order();
    EXPECT_EQ(o.size(), 299u);
    EXPECT_EQ(std::count(o.begin(), o.end(), 9u), 0);

    ASSERT_EQ(table->go(9, true), 0);
    ASSERT_EQ(table->setDeleted(false), 0);
    ASSERT_EQ(table->flush(), 0);
    EXPECT_EQ(order().size(), 300u);
    std::vector<std::string> problems;
    EXPECT_EQ(index().check(problems), 0);
    for (auto& p : problems) ADD_FAILURE() << p;
}

TEST_F(TableIndexTest, Uniqueness20RefusesTheAppendAndWritesNothing) {
    ASSERT_EQ(create({{"TBL_ORDER", "TBL_NAME", "", TagUniqueness::kRefuse, false}}), 0);
    ASSERT_EQ(add("A", 1, ""), 0);
    EXPECT_EQ(add("A", 2, ""), code(EngineCode::kUnique));
    EXPECT_EQ(table->recordCount(), 1u);
    ASSERT_EQ(add("B", 3, ""), 0);
    EXPECT_EQ(table->recordCount(), 2u);
}

TEST_F(TableIndexTest, BadTagDescriptionsFailTheCreate) {
    // Uniqueness and order codes other than the C interface's are refused by
    // d4create itself (tag_api_test); a TagSpec holds only what they mean.
    EXPECT_EQ(create({{"T", "NOSUCH", "", TagUniqueness::kNone, false}}),
              code(EngineCode::kErrExpression));
    EXPECT_EQ(create({{"T", "TBL_NAME", "SEQ", TagUniqueness::kNone, false}}),
              code(EngineCode::kErrExpression));
    EXPECT_EQ(create({{"TOO_LONG_NAME", "TBL_NAME", "", TagUniqueness::kNone, false}}),
              code(EngineCode::kErrTagInfo));
    EXPECT_EQ(create({{"T", "NOTES", "", TagUniqueness::kNone, false}}),
              code(EngineCode::kErrExpression));
    EXPECT_FALSE(std::filesystem::exists(dir / "ORDERS.DBF"));
}

TEST_F(TableIndexTest, BadTagsLeaveATableThatWouldBeReplacedAsItWas) {
    // Safety off lets a create replace a table, but only a create that can
    // succeed: tags that cannot be made are refused before anything is written.
    ASSERT_EQ(create(kTags), 0);
    ASSERT_EQ(add("KEPT", 1, "20240101"), 0);
    ASSERT_EQ(table->close(), 0);
    table.reset();
    using platform::testing::readBytes;
    std::map<std::string, std::string> before;
    for (const std::string ext : {".DBF", ".CDX", ".FPT"}) {
        before[ext] = readBytes(dir / ("ORDERS" + ext));
        ASSERT_FALSE(before[ext].empty()) << ext;
    }
    for (const kes04::TagSpec& bad :
         {kes04::TagSpec{"T", "NOSUCH", "", TagUniqueness::kNone, false},
          kes04::TagSpec{"TOO_LONG_NAME", "TBL_NAME", "", TagUniqueness::kNone, false}}) {
        std::string detail;
        EXPECT_NE(Table::create(dir / "ORDERS", kFields, std::vector{bad}, false,
                                access(AccessMode::kDenyRW), &table, &detail),
                  0);
        EXPECT_EQ(table, nullptr);
        for (const auto& [ext, bytes] : before) {
            EXPECT_EQ(readBytes(dir / ("ORDERS" + ext)), bytes) << ext << ", tag " << bad.name;
        }
    }
}

TEST_F(TableIndexTest, ReopenedTableKeepsItsTagsAndRebuildsCompactly) {
    ASSERT_EQ(create(kTags), 0);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(add("N" + std::to_string(i * 37 % 2000), i, ""), 0);
    ASSERT_EQ(table->close(), 0);
    table.reset();
    std::string detail;
    ASSERT_EQ(Table::open(dir / "ORDERS", access(AccessMode::kDenyRW), &table, &detail), 0)
        << detail;
    ASSERT_NE(table->index(), nullptr);
    ASSERT_NE(index().findTag("DATE_BACK"), nullptr);
    EXPECT_TRUE(index().findTag("DATE_BACK")->descending());
    const uint64_t before = std::filesystem::file_size(dir / "ORDERS.CDX");
    ASSERT_EQ(index().reindex(), 0);
    EXPECT_LT(std::filesystem::file_size(dir / "ORDERS.CDX"), before);
    index().select(index().findTag("UPDATE"));
    std::vector<uint32_t> o = order();
    ASSERT_EQ(o.size(), 2000u);
    for (uint32_t i = 0; i < 2000; ++i) EXPECT_EQ(o[i], i + 1);
    std::vector<std::string> problems;
    EXPECT_EQ(index().check(problems), 0);
}

TEST_F(TableIndexTest, MissingStructuralIndexFailsTheOpen) {
    ASSERT_EQ(create(kTags), 0);
    ASSERT_EQ(table->close(), 0);
    table.reset();
    std::filesystem::remove(dir / "ORDERS.CDX");
    std::string detail;
    EXPECT_EQ(Table::open(dir / "ORDERS", access(AccessMode::kDenyRW), &table, &detail),
              code(EngineCode::kNoOpen));
}

TEST_F(TableIndexTest, TwoSharedHandlesInterleavingAppendsKeepTagsIntact) {
    ASSERT_EQ(create(kTags, AccessMode::kDenyNone), 0);
    std::unique_ptr<Table> second;
    std::string detail;
    ASSERT_EQ(Table::open(dir / "ORDERS", access(AccessMode::kDenyNone), &second, &detail), 0)
        << detail;
    for (int i = 0; i < 300; ++i) {
        Table& t = i % 2 ? *second : *table;
        ASSERT_EQ(t.appendStart(false), 0);
        ASSERT_EQ(t.blank(), 0);
        ASSERT_EQ(assignField(t, "TBL_NAME", (i % 2 ? "B" : "A") + std::to_string(i)), 0);
        ASSERT_EQ(assignField(t, "SEQ", std::to_string(i)), 0);
        ASSERT_EQ(t.append(), 0);
    }
    ASSERT_EQ(second->close(), 0);
    auto* idx = static_cast<CdxTableIndex*>(table->index());
    std::vector<std::string> problems;
    EXPECT_EQ(idx->check(problems), 0);
    for (auto& p : problems) ADD_FAILURE() << p;
    idx->select(idx->findTag("UPDATE"));
    EXPECT_EQ(order().size(), 300u);
}

}  // namespace
}  // namespace tavrel::kes04::cdx
