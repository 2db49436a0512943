#include "agent/tables/tbl_update.h"

#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::tables {

std::vector<std::vector<std::string>> descriptorEntries(std::string_view list) {
    std::vector<std::vector<std::string>> entries;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find("\r\n", start);
        if (end == std::string_view::npos) end = list.size();
        const std::string_view line = list.substr(start, end - start);
        if (!platform::trimText(line).empty()) {
            std::vector<std::string> parts;
            size_t from = 0;
            for (size_t at; (at = line.find("^^", from)) != std::string_view::npos; from = at + 2) {
                parts.emplace_back(line.substr(from, at - from));
            }
            parts.emplace_back(line.substr(from));
            entries.push_back(std::move(parts));
        }
        start = end + 2;
    }
    return entries;
}

void TBL_UPDATE::LICFOLDER(std::string_view dataFolder) {
    m_licFolder = platform::joinPath(dataFolder, "TABLES");
}

std::string TBL_UPDATE::FOLDER_GET(TableSelector which) const {
    const std::string current = platform::joinPath(m_appFolder, m_licFolder);
    switch (which) {
        case TableSelector::kNew:
            return platform::joinPath(current, "TABLENEW");
        case TableSelector::kOld:
            return platform::joinPath(current, "TABLEOLD");
        default:
            return current;
    }
}

std::string TBL_UPDATE::FILE_GET(TableSelector which) {
    return platform::joinPath(FOLDER_GET(which), TABLE_NAME(which));
}

void TBL_UPDATE::TBLINFO(std::shared_ptr<TBL_INFO> info) {
    if (!info) return;
    m_infoKey = m_infos.AddItem(std::move(info))->key();
}

namespace {

int slot(TableSelector which) {
    return which == TableSelector::kNew ? 1 : which == TableSelector::kOld ? 2 : 0;
}

}  // namespace

std::string TBL_UPDATE::TABLE_NAME(TableSelector which) {
    if (m_names[0].empty()) {
        const auto info = TBLINFO();
        if (info) m_names[0] = info->DBFName();
    }
    const std::string& name = m_names[slot(which)];
    return name.empty() ? m_names[0] : name;
}

void TBL_UPDATE::TABLE_NAME(TableSelector which, std::string name) {
    m_names[slot(which)] = std::move(name);
}

std::vector<FIELD4INFO> TBL_UPDATE::fieldInfos() const {
    std::vector<FIELD4INFO> infos;
    for (const auto& f : m_fields) {
        infos.push_back(
            FIELD4INFO{f.name.c_str(), short(f.type), uint16_t(f.length), uint16_t(f.decimals), 0});
    }
    infos.push_back(FIELD4INFO{nullptr, 0, 0, 0, 0});
    return infos;
}

std::vector<TAG4INFO> TBL_UPDATE::tagInfos() const {
    std::vector<TAG4INFO> infos;
    for (const auto& t : m_tags) {
        infos.push_back(TAG4INFO{t.name.c_str(), t.expression.c_str(), t.filter.c_str(), t.unique,
                                 t.descending});
    }
    infos.push_back(TAG4INFO{nullptr, nullptr, nullptr, 0, 0});
    return infos;
}

namespace {

std::string part(const std::vector<std::string>& parts, size_t index) {
    return index < parts.size() ? parts[index] : std::string();
}

std::string trimmedPart(const std::vector<std::string>& parts, size_t index) {
    return std::string(platform::trimText(part(parts, index)));
}

TagDescription tagDescription(const std::vector<std::string>& parts) {
    TagDescription tag;
    tag.name = trimmedPart(parts, 1);
    const std::string unique = platform::upperText(trimmedPart(parts, 2));
    tag.unique = unique == "U" ? 20 : unique == "C" ? 25 : 0;
    tag.descending = platform::upperText(trimmedPart(parts, 3)) == "D" ? 10 : 0;
    tag.expression = part(parts, 4);
    tag.filter = part(parts, 5);
    return tag;
}

}  // namespace

void TblInfoBuildCreateInfo(TBL_UPDATE& item) {
    item.m_fields.clear();
    item.m_tags.clear();
    item.HasMemo = item.HasIndex = false;
    const auto info = item.TBLINFO();
    if (!info) return;
    for (const auto& parts : descriptorEntries(info->FLDMEMO())) {
        FieldDescription field;
        field.name = trimmedPart(parts, 1);
        const std::string type = trimmedPart(parts, 2);
        field.type = type.empty() ? ' ' : platform::upperAscii(type[0]);
        if (field.type != 'M') field.length = int(leadingNumber(part(parts, 3)));
        field.decimals = int(leadingNumber(part(parts, 4)));
        if (field.type == 'M') item.HasMemo = true;
        if (field.name == "CHECK_SUM") info->CheckSum(-1);
        item.m_fields.push_back(std::move(field));
    }
    for (const auto& parts : descriptorEntries(info->TAGMEMO())) {
        item.m_tags.push_back(tagDescription(parts));
    }
    item.HasIndex = !item.m_tags.empty();
    item.m_fieldCount = int16_t(int(item.m_fields.size()) - 1);
    item.m_tagCount = int16_t(int(item.m_tags.size()) - 1);
}

TBL_UPDATE* TBL_UPDATES::Item(size_t index) const {
    return index >= 1 && index <= m_items.size() ? m_items[index - 1].get() : nullptr;
}

void TBL_UPDATES::Remove(size_t index) {
    if (index >= 1 && index <= m_items.size()) m_items.erase(m_items.begin() + long(index - 1));
}

}  // namespace tavrel::tables
