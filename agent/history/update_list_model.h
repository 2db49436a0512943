// The list of update history records that the main window shows (lvwUpdates):
// items by key, each with its text, the texts of its sub-items, a failed flag
// (drawn in red) and a tool tip. The window maps this model onto its list
// view; the rules that fill it live in HistoryTable::LoadUpdateList.
#pragma once

#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::history {

// One column of the list: caption, column key, the field it shows, width in twips.
struct UpdateListColumn {
    std::string_view caption;
    std::string_view key;
    std::string_view field;
    int widthTwips;
};

inline constexpr std::array<UpdateListColumn, 6> kUpdateListColumns = {{
    {"Update", "UPDATEKEY", "UPDATE_KEY", 2205},
    {"Zip File", "UPDATEZIP", "UPDATE_ZIP", 2205},
    {"Date/Time", "UPDATEWHEN", "UPDATE_BY", 3175},
    {"Type", "UPDATETYPE", "TYPE", 2117},
    {"Result", "UPDATERESULT", "RESULT", 1764},
    {"Description", "UPDATEDESC", "DESC_TEXT", 10583},
}};

struct UpdateListItem {
    std::string key;                    // UPDATE_KEY + UPDATE_ZIP as stored
    std::string text;                   // UPDATE_KEY
    std::vector<std::string> subItems;  // columns 2 to 6
    bool failed = false;                // RESULT "F": red (RGB 255, 0, 0)
    std::string toolTip;                // DESC_TEXT trimmed
};

class UpdateListModel {
  public:
    size_t count() const { return m_items.size(); }
    const std::vector<UpdateListItem>& items() const { return m_items; }
    // The item with `key`, or null.
    UpdateListItem* find(std::string_view key);
    // Adds an item at the end with one empty sub-item per column after the first.
    UpdateListItem& add(std::string key, std::string text);
    void clear() {
        m_items.clear();
        m_positions.clear();
    }

    // Application menu item 1 ("Trim Update Log Table") and command button 1.
    bool trimEnabled() const { return m_trimEnabled; }
    void setTrimEnabled(bool enabled) { m_trimEnabled = enabled; }

  private:
    std::vector<UpdateListItem> m_items;
    // Position of each key in m_items: a refresh of thousands of items finds
    // each one without walking the list.
    std::map<std::string, size_t, std::less<>> m_positions;
    bool m_trimEnabled = false;
};

}  // namespace tavrel::history
