// The tag functions of KES04.DLL's C interface, called through the exported
// symbols: d4create with tags, d4tag, d4tagSelect, tag-ordered d4top/d4skip,
// d4seek and d4seekNext, unique tags refusing an append.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "components/kes04/index/tests/table_support.h"
#include "components/kes04/kes04.h"

namespace {

using tavrel::kes04::cdx::testing::TempFolder;

class TagApi : public ::testing::Test {
  protected:
    TempFolder dir;
    CODE4* c4 = code4initVB();
    DATA4* d4 = nullptr;

    void TearDown() override { code4initUndo(c4); }

    DATA4* create(const std::vector<TAG4INFO>& tagList) {
        static const FIELD4INFO fields[] = {{"TBL_NAME", 'C', 12, 0, 0},
                                            {"TBL_ORDER", 'N', 4, 0, 0},
                                            {"UPDATED", 'D', 8, 0, 0},
                                            {nullptr, 0, 0, 0, 0}};
        std::vector<TAG4INFO> tags = tagList;
        tags.push_back(TAG4INFO{nullptr, nullptr, nullptr, 0, 0});
        code4accessMode(c4, 1);
        code4safety(c4, 0);
        return d4 = d4create(c4, (dir / "TABLEUPL").c_str(), fields, tags.data());
    }
    int add(const char* name, int order, const char* day) {
        int rc = d4appendStart(d4, 0);
        if (rc == 0) rc = d4blank(d4);
        const std::string o = std::to_string(order);
        if (rc == 0) rc = f4assignNVB(d4field(d4, "TBL_NAME"), name, int(std::strlen(name)));
        if (rc == 0) rc = f4assignNVB(d4field(d4, "TBL_ORDER"), o.c_str(), int(o.size()));
        if (rc == 0) rc = f4assignNVB(d4field(d4, "UPDATED"), day, int(std::strlen(day)));
        if (rc == 0) rc = d4append(d4);
        return rc;
    }
    std::string name() { return std::string(f4ptr(d4field(d4, "TBL_NAME")), 12); }
    std::vector<long> walk() {
        std::vector<long> out;
        for (int rc = d4top(d4); rc == 0; rc = d4skip(d4, 1)) out.push_back(d4recNo(d4));
        return out;
    }
};

TEST_F(TagApi, TagsFromCreateOrderTopAndSkip) {
    ASSERT_NE(create({{"TBL_ORDER", "UPPER(TBL_NAME)", nullptr, 0, 0},
                      {"UPDATE", "TBL_ORDER", ".NOT. DELETED()", 0, 0},
                      {"DATE_BACK", "DTOS(UPDATED)", "", 0, 10}}),
              nullptr)
        << code4errorText(c4);
    ASSERT_EQ(add("orders", 2, "20240301"), 0);
    ASSERT_EQ(add("Customer", 3, "20231115"), 0);
    ASSERT_EQ(add("ARTICLES", 1, "20240105"), 0);
    EXPECT_EQ(walk(), (std::vector<long>{1, 2, 3}));
    TAG4* tag = d4tag(d4, "tbl_order");
    ASSERT_NE(tag, nullptr);
    EXPECT_STREQ(t4alias(tag), "TBL_ORDER");
    EXPECT_STREQ(t4expr(tag), "UPPER(TBL_NAME)");
    d4tagSelect(d4, tag);
    EXPECT_EQ(d4tagSelected(d4), tag);
    EXPECT_EQ(walk(), (std::vector<long>{3, 2, 1}));
    d4tagSelect(d4, d4tag(d4, "DATE_BACK"));
    EXPECT_EQ(walk(), (std::vector<long>{1, 3, 2}));
    EXPECT_STREQ(t4filter(d4tag(d4, "UPDATE")), ".NOT. DELETED()");
    // Deleting record 1 takes it out of the filtered tag; it stays in the others.
    ASSERT_EQ(d4goLow(d4, 1, 1), 0);
    ASSERT_EQ(d4delete(d4), 0);
    ASSERT_EQ(d4flush(d4), 0);
    d4tagSelect(d4, d4tag(d4, "UPDATE"));
    EXPECT_EQ(walk(), (std::vector<long>{3, 2}));
    d4tagSelect(d4, nullptr);
    EXPECT_EQ(walk(), (std::vector<long>{1, 2, 3}));
}

TEST_F(TagApi, SeekFindsKeyPrefixesAndSeekNextWalksThem) {
    ASSERT_NE(create({{"TBL_ORDER", "TBL_NAME + STR(TBL_ORDER, 4)", nullptr, 0, 0}}), nullptr);
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(add(i % 3 == 0 ? "CUSTOMER" : (i % 3 == 1 ? "ORDERS" : "ARTICLES"), 30 - i, ""),
                  0);
    d4tagSelect(d4, d4tag(d4, "TBL_ORDER"));
    ASSERT_EQ(d4seek(d4, "ORDERS"), 0);
    EXPECT_EQ(name(), "ORDERS      ");
    int run = 1;
    int rc;
    while ((rc = d4seekNext(d4, "ORDERS")) == 0) {
        EXPECT_EQ(name(), "ORDERS      ");
        ++run;
    }
    EXPECT_EQ(run, 10);
    EXPECT_EQ(rc, 3);  // nothing after the last ORDERS key
    // A key between existing ones: positioned on the next, result 2.
    EXPECT_EQ(d4seek(d4, "BOOKS"), 2);
    EXPECT_EQ(name(), "CUSTOMER    ");
    EXPECT_EQ(d4seekNext(d4, "CUSTOMER"), 0);
    EXPECT_EQ(d4seek(d4, "ZEBRA"), 3);
    EXPECT_EQ(d4eof(d4), 1);
    // The current record's unsaved change is in the index before a seek.
    ASSERT_EQ(d4seek(d4, "ARTICLES"), 0);
    ASSERT_EQ(f4assignNVB(d4field(d4, "TBL_NAME"), "BOOKS", 5), 0);
    EXPECT_EQ(d4seek(d4, "BOOKS"), 0);
    d4tagSelect(d4, nullptr);
    EXPECT_EQ(d4seek(d4, "ORDERS"), 80);
}

TEST_F(TagApi, UniqueTagRefusesAppendAndBadTagsFailCreate) {
    ASSERT_NE(create({{"TBL_NAME", "TBL_NAME", nullptr, 20, 0}}), nullptr);
    ASSERT_EQ(add("A", 1, ""), 0);
    EXPECT_EQ(add("A", 2, ""), 20);
    EXPECT_EQ(d4recCountDo(d4), 1);
    ASSERT_EQ(d4close(d4), 0);
    code4errorCode(c4, 0);
    EXPECT_EQ(create({{"T", "NO_FIELD", nullptr, 0, 0}}), nullptr);
    EXPECT_EQ(code4errorCode(c4, 0), -400);
    EXPECT_EQ(create({{"T", "UPPER(TBL_NAME", nullptr, 0, 0}}), nullptr);
    EXPECT_EQ(code4errorCode(c4, 0), -400);
    EXPECT_EQ(create({{"T", "TBL_NAME", nullptr, 30, 0}}), nullptr);
    EXPECT_EQ(code4errorCode(c4, 0), -350);
    ASSERT_NE(create({{"T", "TBL_NAME", nullptr, 0, 0}}), nullptr);
    EXPECT_EQ(d4tag(d4, "NOPE"), nullptr);
    EXPECT_EQ(code4errorCode(c4, 0), -330);
    code4errTagName(c4, 0);
    EXPECT_EQ(d4tag(d4, "NOPE"), nullptr);
    EXPECT_EQ(code4errorCode(c4, 0), 0);
}

TEST_F(TagApi, ReopenedTableOpensItsIndexAndKeepsItUpToDate) {
    ASSERT_NE(create({{"UPDATE", "TBL_ORDER", nullptr, 0, 0}}), nullptr);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(add("X", 500 - i, ""), 0);
    ASSERT_EQ(d4close(d4), 0);
    code4accessMode(c4, 0);
    d4 = d4open(c4, (dir / "TABLEUPL").c_str());
    ASSERT_NE(d4, nullptr);
    d4tagSelect(d4, d4tag(d4, "UPDATE"));
    ASSERT_EQ(add("Y", 0, ""), 0);
    ASSERT_EQ(d4top(d4), 0);
    EXPECT_EQ(d4recNo(d4), 501);
    ASSERT_EQ(d4seek(d4, "250"), 0);
    EXPECT_EQ(d4recNo(d4), 251);
    ASSERT_EQ(d4skip(d4, 1), 0);
    EXPECT_EQ(d4recNo(d4), 250);
}

}  // namespace
