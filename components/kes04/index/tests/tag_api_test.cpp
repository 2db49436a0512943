// The tag functions of KES04.DLL's C interface, called through the exported
// symbols: d4create with tags, d4tag, d4tagSelect, tag-ordered d4top/d4skip,
// d4seek and d4seekNext, unique tags refusing an append.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
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
    // From a record the filter leaves out, skipping starts where its key would be.
    ASSERT_EQ(d4goLow(d4, 1, 0), 0);
    ASSERT_EQ(d4skip(d4, 1), 0);
    EXPECT_EQ(d4recNo(d4), 2);
    ASSERT_EQ(d4goLow(d4, 1, 0), 0);
    ASSERT_EQ(d4skip(d4, -1), 0);
    EXPECT_EQ(d4recNo(d4), 3);
    ASSERT_EQ(d4goLow(d4, 1, 0), 0);
    EXPECT_EQ(d4skip(d4, 2), 3);
    EXPECT_EQ(d4eof(d4), 1);
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
    EXPECT_EQ(create({{"T", "TBL_NAME", nullptr, 7, 0}}), nullptr);
    EXPECT_EQ(code4errorCode(c4, 0), -350);
    EXPECT_EQ(create({{"T", "TBL_NAME", nullptr, 0, 3}}), nullptr);
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

// Random appends, field changes and deletion marks through the C interface,
// compared with a model of each tag: order by d4top/d4skip, d4seek results
// and d4seekNext runs; `xbtool check` verifies the files at the end.
class TagApiRandom : public TagApi {
  protected:
    struct Row {
        std::string name;
        int order = 0;
        std::string day;
        bool deleted = false;
    };
    std::vector<Row> rows;
    std::mt19937 rng{2024};

    std::string randomName() {
        std::string n;
        const int len = 1 + int(rng() % 6);
        for (int i = 0; i < len; ++i) n += char((rng() % 2 ? 'a' : 'A') + rng() % 4);
        return n;
    }
    std::string randomDay() {
        if (rng() % 10 == 0) return "";
        char b[16];
        std::snprintf(b, sizeof b, "%04d%02d%02d", 2000 + int(rng() % 30), 1 + int(rng() % 12),
                      1 + int(rng() % 28));
        return b;
    }
    static std::string upperKey(const std::string& name) {
        std::string k = name;
        for (char& c : k) c = char(std::toupper(static_cast<unsigned char>(c)));
        k.resize(12, ' ');
        return k;
    }
    // Record numbers in the order of tag `which` (0 name, 1 order back, 2 day).
    std::vector<long> expected(int which) {
        std::vector<long> recnos;
        for (size_t i = 0; i < rows.size(); ++i)
            if (which != 1 || !rows[i].deleted) recnos.push_back(long(i + 1));
        auto key = [&](long r) {
            const Row& row = rows[size_t(r - 1)];
            if (which == 0) return upperKey(row.name);
            if (which == 2) return row.day.empty() ? std::string(8, ' ') : row.day;
            char b[16];
            std::snprintf(b, sizeof b, "%08d", row.order);
            return std::string(b);
        };
        std::stable_sort(recnos.begin(), recnos.end(),
                         [&](long a, long b) { return key(a) < key(b); });
        if (which == 1) std::reverse(recnos.begin(), recnos.end());
        return recnos;
    }
    void step() {
        const uint32_t dice = rng() % 100;
        if (rows.empty() || dice < 50) {
            Row row{randomName(), int(rng() % 50), randomDay(), false};
            ASSERT_EQ(add(row.name.c_str(), row.order, row.day.c_str()), 0);
            rows.push_back(row);
        } else if (dice < 85) {
            const long r = 1 + long(rng() % rows.size());
            ASSERT_EQ(d4goLow(d4, r, 1), 0);
            Row& row = rows[size_t(r - 1)];
            if (rng() % 2) {
                row.name = randomName();
                ASSERT_EQ(
                    f4assignNVB(d4field(d4, "TBL_NAME"), row.name.c_str(), int(row.name.size())),
                    0);
            } else {
                row.order = int(rng() % 50);
                const std::string o = std::to_string(row.order);
                ASSERT_EQ(f4assignNVB(d4field(d4, "TBL_ORDER"), o.c_str(), int(o.size())), 0);
            }
        } else {
            const long r = 1 + long(rng() % rows.size());
            ASSERT_EQ(d4goLow(d4, r, 1), 0);
            Row& row = rows[size_t(r - 1)];
            row.deleted = !row.deleted;
            ASSERT_EQ(row.deleted ? d4delete(d4) : d4recall(d4), 0);
        }
        if (rng() % 7 == 0) {
            ASSERT_EQ(d4flush(d4), 0);
        }
    }
    void compare() {
        const char* names[] = {"NAME", "ORDER_BACK", "DAY"};
        for (int which = 0; which < 3; ++which) {
            d4tagSelect(d4, d4tag(d4, names[which]));
            ASSERT_EQ(walk(), expected(which)) << names[which];
        }
        // Seeks in the name tag: prefixes of existing keys and random texts.
        d4tagSelect(d4, d4tag(d4, "NAME"));
        const std::vector<long> order = expected(0);
        for (int i = 0; i < 10; ++i) {
            std::string search = upperKey(rows[rng() % rows.size()].name);
            search.resize(rng() % 5);
            if (rng() % 3 == 0) search = upperKey(randomName()).substr(0, 3);
            size_t at = 0;
            while (at < order.size() &&
                   upperKey(rows[size_t(order[at] - 1)].name).substr(0, search.size()) < search)
                ++at;
            const int rc = d4seek(d4, search.c_str());
            if (at == order.size()) {
                ASSERT_EQ(rc, 3);
                continue;
            }
            const bool match =
                upperKey(rows[size_t(order[at] - 1)].name).compare(0, search.size(), search) == 0;
            ASSERT_EQ(rc, match ? 0 : 2) << search;
            ASSERT_EQ(d4recNo(d4), order[at]) << search;
            while (match) {
                ++at;
                const int next = d4seekNext(d4, search.c_str());
                const bool more =
                    at < order.size() &&
                    upperKey(rows[size_t(order[at] - 1)].name).compare(0, search.size(), search) ==
                        0;
                ASSERT_EQ(next, more ? 0 : (at < order.size() ? 5 : 3)) << search;
                if (!more) break;
                ASSERT_EQ(d4recNo(d4), order[at]);
            }
        }
        // Seeks in the descending numeric tag.
        d4tagSelect(d4, d4tag(d4, "ORDER_BACK"));
        const std::vector<long> back = expected(1);
        for (int i = 0; i < 5; ++i) {
            const int n = int(rng() % 55);
            size_t at = 0;
            while (at < back.size() && rows[size_t(back[at] - 1)].order > n) ++at;
            const int rc = d4seek(d4, std::to_string(n).c_str());
            if (at == back.size()) {
                ASSERT_EQ(rc, 3);
                continue;
            }
            ASSERT_EQ(rc, rows[size_t(back[at] - 1)].order == n ? 0 : 2);
            ASSERT_EQ(d4recNo(d4), back[at]);
        }
        d4tagSelect(d4, nullptr);
    }
};

TEST_F(TagApiRandom, AgreesWithTheModelAndPassesXbtoolCheck) {
    ASSERT_NE(create({{"NAME", "UPPER(TBL_NAME)", nullptr, 0, 0},
                      {"ORDER_BACK", "TBL_ORDER", ".NOT. DELETED()", 0, 10},
                      {"DAY", "DTOS(UPDATED)", nullptr, 0, 0}}),
              nullptr);
    for (int i = 0; i < 3000; ++i) {
        step();
        if (HasFatalFailure()) return;
        if (i % 250 == 249) {
            compare();
            if (HasFatalFailure()) return;
        }
    }
    ASSERT_EQ(d4close(d4), 0);
    d4 = nullptr;
    const char* bin = std::getenv("TAVREL_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    FILE* pipe = ::popen(
        (std::string(bin) + "/xbtool check " + (dir / "TABLEUPL").string() + " 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[4096] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, pipe);
    const int status = ::pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 0) << std::string(buffer, n);
    EXPECT_NE(std::string(buffer, n).find("3 tags"), std::string::npos) << std::string(buffer, n);
}

}  // namespace
