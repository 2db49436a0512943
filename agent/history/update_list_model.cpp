#include "agent/history/update_list_model.h"

namespace tavrel::history {

UpdateListItem* UpdateListModel::find(std::string_view key) {
    const auto found = m_positions.find(key);
    return found == m_positions.end() ? nullptr : &m_items[found->second];
}

UpdateListItem& UpdateListModel::add(std::string key, std::string text) {
    UpdateListItem item;
    item.key = std::move(key);
    item.text = std::move(text);
    item.subItems.assign(kUpdateListColumns.size() - 1, std::string());
    // The first item of a key is the one found, as a walk would find it.
    m_positions.emplace(item.key, m_items.size());
    m_items.push_back(std::move(item));
    return m_items.back();
}

}  // namespace tavrel::history
