#include "agent/history/update_list_model.h"

namespace tavrel::history {

UpdateListItem* UpdateListModel::find(std::string_view key) {
    for (auto& item : m_items) {
        if (item.key == key) return &item;
    }
    return nullptr;
}

UpdateListItem& UpdateListModel::add(std::string key, std::string text) {
    UpdateListItem item;
    item.key = std::move(key);
    item.text = std::move(text);
    item.subItems.assign(kUpdateListColumns.size() - 1, std::string());
    m_items.push_back(std::move(item));
    return m_items.back();
}

}  // namespace tavrel::history
