// Table descriptors on real TABLEDES/TABLEDET tables made by KES04.DLL: the
// scan's work items, the comparison rules, the exact-row seek, the create
// descriptions and the data folders.
#include "agent/tables/descriptor_scan.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "agent/tables/tests/descriptor_fields.h"
#include "agent/tables/tests/engine_fixture.h"

namespace tavrel::tables {
namespace {

using testing::kDescriptorFields;

const char* kCustomerFields =
    "0^^CHECK_SUM^^C^^40^^0\r\n0^^CODE^^C^^10^^0\r\n\r\n0^^BALANCE^^N^^12^^2\r\n"
    "0^^NOTES^^M^^10^^0";
const char* kCustomerTags = "0^^CODE^^U^^A^^CODE^^\r\n0^^OPEN^^^^D^^CODE^^BALANCE > 0";

class DescriptorTest : public testing::EngineTest {
  protected:
    DATA4* descriptorTable(const char* name, bool withChecksum) {
        std::vector<FIELD4INFO> fields;
        if (withChecksum) fields.push_back({"CHECK_SUM1", 'C', 40, 0, 0});
        fields.insert(fields.end(), kDescriptorFields.begin(), kDescriptorFields.end());
        return create(name, fields, {{"TBL_ORDER", "TRIM(TBL_PATH)+\"\\\"+TBL_NAME", "", 0, 0}});
    }
    void row(DATA4* data, const char* name, const char* fields, const char* enabled = "4",
             const char* path = "LICTBL", const char* tags = kCustomerTags) {
        append(data, {{"TBL_NAME", name},
                      {"TBL_PATH", path},
                      {"ENABLED", enabled},
                      {"FIELDARRAY", fields},
                      {"TAGARRAY", tags},
                      {"NFIELDS", " 4"}});
    }
    ScanResult scan() {
        return Update_Scan_TABLEDES(engine, {des, det}, folder.text(),
                                    DataFoldersFind(folder.text()), infos, items,
                                    [this](int code, const std::string& text) {
                                        entries.push_back(std::to_string(code) + " " + text);
                                    });
    }
    void SetUp() override {
        EngineTest::SetUp();
        des = descriptorTable("TABLEDES", false);
        det = descriptorTable("TABLEDET", true);
        ASSERT_TRUE(des && det);
    }

    DATA4* des = nullptr;
    DATA4* det = nullptr;
    TBL_INFOS infos;
    TBL_UPDATES items;
    std::vector<std::string> entries;
};

TEST_F(DescriptorTest, EmptyTabledesNeedsNoConversion) {
    std::filesystem::create_directory(folder / "DATA00");
    EXPECT_EQ(scan(), ScanResult::kNothingToDo);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front(), "1100 Update_Scan_TABLEDES");
    EXPECT_EQ(entries.back(), "1101 Update_Scan_TABLEDES 0");
}

TEST_F(DescriptorTest, OneChangedTableInThreeDataFoldersSharesOneDescriptor) {
    for (const char* name : {"DATA00", "DATA02", "DATA10", "DATA11", "DATAXX"}) {
        std::filesystem::create_directory(folder / name);
    }
    row(des, "CUSTOMER", kCustomerFields);
    row(det, "CUSTOMER", "0^^CODE^^C^^10^^0");
    ASSERT_EQ(scan(), ScanResult::kContinue);
    ASSERT_EQ(items.Count(), 3u);
    EXPECT_EQ(infos.Count(), 1u);
    EXPECT_EQ(items.Item(1)->TBLINFO(), items.Item(3)->TBLINFO());
    EXPECT_EQ(items.Item(2)->TestResult, 1);
    EXPECT_EQ(items.Item(2)->LICFOLDER(), "DATA02/TABLES");
    EXPECT_EQ(items.Item(3)->TABLE_NAME(TableSelector::kNew), "CUSTOMER");
    EXPECT_TRUE(std::filesystem::is_directory(folder / "DATA10/TABLES/TABLEOLD"));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "DATA00/TABLES/TABLENEW"));
    EXPECT_EQ(items.Item(1)->FILE_GET(TableSelector::kCurrent),
              (folder / "DATA00/TABLES/CUSTOMER").string());
    EXPECT_NE(std::find(entries.begin(), entries.end(), "4101 LICTBL\\CUSTOMER"), entries.end());
}

TEST_F(DescriptorTest, DisabledOtherGroupAndCaseOnlyChangesMakeNoWork) {
    std::filesystem::create_directory(folder / "DATA01");
    row(des, "DISABLED", kCustomerFields, "X");
    row(des, "FIVE", kCustomerFields, "5");
    row(des, "OTHERGRP", kCustomerFields, "4", "SYSTBL");
    row(des, "SAMEISH", " 0^^code ^^c^^ 10^^0 \r\n");
    row(det, "SAMEISH", "0^^CODE^^C^^10^^0");
    EXPECT_EQ(scan(), ScanResult::kNothingToDo);
    EXPECT_EQ(items.Count(), 0u);
}

TEST_F(DescriptorTest, TheWalkTakesEveryEnabledLictblRowInKeyOrder) {
    std::filesystem::create_directory(folder / "DATA01");
    row(des, "ZETA", kCustomerFields);
    row(des, "ALPHA", kCustomerFields);
    row(des, "MIDDLE", kCustomerFields, "X");
    row(des, "AAA", kCustomerFields, "4", "ABC");
    row(des, "SAME", "0^^CODE^^C^^10^^0");
    row(det, "SAME", "0^^CODE^^C^^10^^0");
    row(det, "ZETA", "0^^CODE^^C^^10^^0");
    ASSERT_EQ(scan(), ScanResult::kContinue);
    ASSERT_EQ(items.Count(), 2u);
    EXPECT_EQ(items.Item(1)->TABLE_NAME(TableSelector::kCurrent), "ALPHA");
    EXPECT_EQ(items.Item(1)->TestResult, 2);
    EXPECT_EQ(items.Item(2)->TABLE_NAME(TableSelector::kCurrent), "ZETA");
    EXPECT_EQ(items.Item(2)->TestResult, 1);
    EXPECT_EQ(entries.back(), "1101 Update_Scan_TABLEDES 2");
}

TEST_F(DescriptorTest, ANewTableWhoseNameStartsAnInstalledOneIsNew) {
    std::filesystem::create_directory(folder / "DATA00");
    row(des, "CUST", "0^^CODE^^C^^10^^0");
    row(det, "CUSTOMER", "0^^CODE^^C^^10^^0");
    ASSERT_EQ(scan(), ScanResult::kContinue);
    ASSERT_EQ(items.Count(), 1u);
    EXPECT_EQ(items.Item(1)->TestResult, 2) << "CUSTOMER's row is not CUST's";
    EXPECT_FALSE(seekDescriptor(engine, det, "LICTBL", "CUST"));
    EXPECT_TRUE(seekDescriptor(engine, det, "LICTBL", "CUSTOMER"));
}

TEST_F(DescriptorTest, CompareLooksAtPartsOneToFourOfFieldsAndOneToFiveOfTags) {
    TBL_INFO a, b;
    a.FLDMEMO("X^^NAME^^C^^10^^0");
    b.FLDMEMO("Y^^name^^C^^10^^0^^extra");
    EXPECT_EQ(TblInfoCompare(a, b), 0) << "part 0 and parts after 4 are not compared";
    b.FLDMEMO("Y^^NAME^^C^^11^^0");
    EXPECT_EQ(TblInfoCompare(a, b), 1);
    b.FLDMEMO(a.FLDMEMO());
    a.TAGMEMO("0^^T^^U^^A^^CODE^^");
    b.TAGMEMO("0^^T^^U^^A^^CODE^^BALANCE > 0");
    EXPECT_EQ(TblInfoCompare(a, b), 1);
    b.TAGMEMO("0^^T^^U^^A^^CODE^^\r\n0^^T2^^^^^^X^^");
    EXPECT_EQ(TblInfoCompare(a, b), 1) << "different entry counts";
}

TEST_F(DescriptorTest, CreateInfoBuildsATableTheEngineCreates) {
    auto info = std::make_shared<TBL_INFO>();
    info->DBFPath("LICTBL");
    info->DBFName("CUSTOMER");
    info->FLDMEMO(kCustomerFields);
    info->TAGMEMO(kCustomerTags);
    TBL_UPDATE item(infos);
    item.TBLINFO(info);
    TblInfoBuildCreateInfo(item);
    EXPECT_TRUE(item.HasMemo);
    EXPECT_TRUE(item.HasIndex);
    EXPECT_EQ(item.FLDCOUNT(), 3);
    EXPECT_EQ(item.TAGCOUNT(), 1);
    EXPECT_EQ(info->CheckSum(), -1);
    ASSERT_EQ(item.tags().size(), 2u);
    EXPECT_EQ(item.tags()[0].unique, 20);
    EXPECT_EQ(item.tags()[1].descending, 10);
    EXPECT_EQ(item.tags()[1].filter, "BALANCE > 0");
    const auto fields = item.fieldInfos();
    const auto tags = item.tagInfos();
    const std::string path = (folder / "NEWCUST").string();
    DATA4* data = K4(library, d4create, engine.handle(), path.c_str(), fields.data(), tags.data());
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(K4(library, d4numFields, data), 4);
    EXPECT_EQ(K4(library, f4len_v, K4(library, d4field, data, "BALANCE")), 12);
    EXPECT_NE(K4(library, d4tag, data, "OPEN"), nullptr);
}

TEST_F(DescriptorTest, DescriptorRoundTripsThroughTheTable) {
    TBL_INFO a;
    a.DBFPath(" LICTBL ");
    a.DBFName("CUSTOMER");
    a.Enabled("4");
    a.CheckSum(-1);
    a.FLDCOUNT(7);
    a.FLDMEMO("0^^CODE^^C^^10^^0");
    ASSERT_EQ(K4(library, d4appendBlank, det), 0);
    a.INFOPUT(engine, det);
    EXPECT_TRUE(a.INFOUPDATED());
    K4(library, d4flush, det);
    EXPECT_EQ(readField(engine, det, "HAS_CHKSUM"), "    -1");
    ASSERT_TRUE(seekDescriptor(engine, det, "LICTBL", "CUSTOMER"));
    TBL_INFO b;
    b.INFOGET(engine, det);
    EXPECT_EQ(b.key(), "LICTBL\\CUSTOMER");
    EXPECT_EQ(b.CheckSum(), -1);
    EXPECT_EQ(b.FLDCOUNT(), 7);
    EXPECT_EQ(b.Enabled(), "4");
    EXPECT_EQ(b.FLDMEMO(), "0^^CODE^^C^^10^^0");
    EXPECT_EQ(leadingNumber("  -12abc"), -12);
    EXPECT_EQ(leadingNumber(""), 0);
    EXPECT_EQ(descriptorNumberText(5), " 5");
}

TEST(TblInfos, AddItemKeepsTheFirstDescriptorOfAKeyAndItemMissesQuietly) {
    TBL_INFOS infos;
    auto first = std::make_shared<TBL_INFO>();
    first->DBFPath("LICTBL");
    first->DBFName("A");
    auto second = std::make_shared<TBL_INFO>(*first);
    EXPECT_EQ(infos.AddItem(first), first);
    EXPECT_EQ(infos.AddItem(second), first);
    EXPECT_EQ(infos.Count(), 1u);
    EXPECT_EQ(infos.Item("LICTBL\\B"), nullptr);
    infos.Remove("LICTBL\\A");
    EXPECT_EQ(infos.Count(), 0u);
}

}  // namespace
}  // namespace tavrel::tables
