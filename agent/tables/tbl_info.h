// Table descriptors: one row of TABLEDES or TABLEDET in memory (TBL_INFO) and
// the keyed collection of the running conversion (TBL_INFOS).
//
// A descriptor row names one table of the application (TBL_PATH, TBL_NAME)
// and carries its field and tag lists as text (FIELDARRAY, TAGARRAY). Fields
// are read and written by name; a field the table lacks reads as empty and
// is skipped on write.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "agent/tables/database_engine.h"

namespace tavrel::tables {

// The leading numeric value of a field's text, as the descriptor numbers are
// read: blanks skipped, an optional sign, the digits that follow (blank: 0).
long leadingNumber(std::string_view text);
// A number as descriptors store it: a leading blank when not negative.
std::string descriptorNumberText(long value);

class TBL_INFO {
  public:
    // Fills the properties from the current record of `data`.
    void INFOGET(DatabaseEngine& engine, DATA4* data);
    // Writes all thirteen fields into the current record of `data`; then
    // INFOUPDATED is true.
    void INFOPUT(DatabaseEngine& engine, DATA4* data);
    bool INFOUPDATED() const { return m_updated; }

    // The properties, each a get/set pair, with the field they mirror.
    const std::string& LVWMEMO() const { return m_listView; }  // LISTVIEW
    void LVWMEMO(std::string v) { m_listView = std::move(v); }
    const std::string& TAGMEMO() const { return m_tags; }  // TAGARRAY
    void TAGMEMO(std::string v) { m_tags = std::move(v); }
    const std::string& FLDMEMO() const { return m_fields; }  // FIELDARRAY
    void FLDMEMO(std::string v) { m_fields = std::move(v); }
    int32_t LVWCOUNT() const { return m_listViewCount; }  // NLISTVIEWS
    void LVWCOUNT(int32_t v) { m_listViewCount = v; }
    int32_t TAGCOUNT() const { return m_tagCount; }  // NTAGS
    void TAGCOUNT(int32_t v) { m_tagCount = v; }
    int32_t FLDCOUNT() const { return m_fieldCount; }  // NFIELDS
    void FLDCOUNT(int32_t v) { m_fieldCount = v; }
    int16_t CheckSum() const { return m_checkSum; }  // HAS_CHKSUM
    void CheckSum(int16_t v) { m_checkSum = v; }
    int16_t TrainTbl() const { return m_training; }  // TRAINING
    void TrainTbl(int16_t v) { m_training = v; }
    int16_t UserTbl() const { return m_userTable; }  // USER_TBL
    void UserTbl(int16_t v) { m_userTable = v; }
    const std::string& Version() const { return m_version; }  // VERSIONID
    void Version(std::string v) { m_version = std::move(v); }
    const std::string& Enabled() const { return m_enabled; }  // ENABLED (not trimmed)
    void Enabled(std::string v) { m_enabled = std::move(v); }
    const std::string& DBFPath() const { return m_path; }  // TBL_PATH
    void DBFPath(std::string v);
    const std::string& DBFName() const { return m_name; }  // TBL_NAME
    void DBFName(std::string v);

    // DBFPath + "\" + DBFName: the key in TBL_INFOS and the TBL_ORDER seek.
    std::string key() const { return m_path + "\\" + m_name; }

  private:
    std::string m_listView, m_tags, m_fields, m_version, m_enabled, m_path, m_name;
    int32_t m_listViewCount = 0, m_tagCount = 0, m_fieldCount = 0;
    int16_t m_checkSum = 0, m_training = 0, m_userTable = 0;
    bool m_updated = false;
};

// The descriptors of the running conversion by key (any case). Shared
// ownership: every work item of one table holds the one registered descriptor.
class TBL_INFOS {
  public:
    // Registers `info` and returns it, or returns the descriptor already
    // registered under its key (ignoring `info`).
    std::shared_ptr<TBL_INFO> AddItem(std::shared_ptr<TBL_INFO> info);
    // The descriptor registered under `key`, or null (no error).
    std::shared_ptr<TBL_INFO> Item(std::string_view key) const;
    size_t Count() const { return m_items.size(); }
    void Remove(std::string_view key);
    void clear() { m_items.clear(); }

  private:
    std::map<std::string, std::shared_ptr<TBL_INFO>> m_items;
};

}  // namespace tavrel::tables
