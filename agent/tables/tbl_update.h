// Conversion work items: one table of one data folder to convert (TBL_UPDATE)
// and their ordered collection (TBL_UPDATES), with the parsing of the
// descriptor's field and tag lists into the engine's create descriptions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "agent/tables/tbl_info.h"

namespace tavrel::tables {

// Table selectors of the work item's properties.
enum class TableSelector : int32_t {
    kCurrent = 1001,  // the table in the data folder's TABLES folder
    kNew = 2001,      // the new table in TABLES/TABLENEW
    kOld = 3001,      // the old copy in TABLES/TABLEOLD
};

// The entries of a field or tag list: lines separated by CR LF (lines whose
// trimmed text is empty skipped), each split into its "^^" parts.
std::vector<std::vector<std::string>> descriptorEntries(std::string_view list);

struct FieldDescription {
    std::string name;
    char type = 'C';
    int length = 0;
    int decimals = 0;
};

struct TagDescription {
    std::string name;
    std::string expression;
    std::string filter;
    int16_t unique = 0;       // 0 none, 20 unique, 25 unique-continue
    uint16_t descending = 0;  // 0 ascending, 10 descending
};

class TBL_UPDATE {
  public:
    // `infos` is the conversion's registry of descriptors; borrowed.
    explicit TBL_UPDATE(TBL_INFOS& infos) : m_infos(infos) {}

    // Set with a data-folder name; holds that name joined with "TABLES".
    void LICFOLDER(std::string_view dataFolder);
    const std::string& LICFOLDER() const { return m_licFolder; }
    int16_t TAGCOUNT() const { return m_tagCount; }
    int16_t FLDCOUNT() const { return m_fieldCount; }
    void FOLDER_NAME(std::string applicationFolder) { m_appFolder = std::move(applicationFolder); }
    std::string FILE_GET(TableSelector which);
    std::string FOLDER_GET(TableSelector which) const;
    // Registers `info` in the registry and keeps its key; reading returns the
    // registered instance.
    void TBLINFO(std::shared_ptr<TBL_INFO> info);
    std::shared_ptr<TBL_INFO> TBLINFO() const { return m_infos.Item(m_infoKey); }

    int32_t TBLCopiedData = 0;
    int32_t TBLCopied[2] = {0, 0};  // [0] current (1001), [1] new (2001)
    int32_t TBLExists[2] = {0, 0};
    DATA4* TBLFile[2] = {nullptr, nullptr};
    int32_t TBLCreated = 0;  // new table: 1 created, -1 failed
    int32_t TestResult = 0;  // 1 structure changed, 2 new table
    bool Updated = false;
    bool HasIndex = false;
    bool HasMemo = false;

    // File name of the table; the current one defaults to the descriptor's
    // DBFName on first read, the new and the old one to the current name.
    std::string TABLE_NAME(TableSelector which);
    void TABLE_NAME(TableSelector which, std::string name);

    // The descriptions TblInfoBuildCreateInfo built.
    const std::vector<FieldDescription>& fields() const { return m_fields; }
    const std::vector<TagDescription>& tags() const { return m_tags; }
    // The descriptions as d4create takes them, each list ended by a null
    // name; valid while this item and its descriptions live.
    std::vector<FIELD4INFO> fieldInfos() const;
    std::vector<TAG4INFO> tagInfos() const;

  private:
    friend void TblInfoBuildCreateInfo(TBL_UPDATE& item);

    TBL_INFOS& m_infos;
    std::string m_infoKey;
    std::string m_licFolder;
    std::string m_appFolder;
    std::string m_names[3];
    int16_t m_tagCount = -1;
    int16_t m_fieldCount = -1;
    std::vector<FieldDescription> m_fields;
    std::vector<TagDescription> m_tags;
};

// Builds the field and tag descriptions for d4create from the item's
// descriptor, and sets HasMemo, HasIndex, FLDCOUNT, TAGCOUNT and the
// descriptor's CheckSum (-1 when a field is named exactly CHECK_SUM).
void TblInfoBuildCreateInfo(TBL_UPDATE& item);

// The work items of one conversion, walked in the order they were added.
class TBL_UPDATES {
  public:
    void AddItem(std::unique_ptr<TBL_UPDATE> item) { m_items.push_back(std::move(item)); }
    // Item `index` counted from 1, or null.
    TBL_UPDATE* Item(size_t index) const;
    size_t Count() const { return m_items.size(); }
    void Remove(size_t index);
    void clear() { m_items.clear(); }

  private:
    std::vector<std::unique_ptr<TBL_UPDATE>> m_items;
};

}  // namespace tavrel::tables
