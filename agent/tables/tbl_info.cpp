#include "agent/tables/tbl_info.h"

#include "agent/tables/engine_fields.h"
#include "platform/text_rules.h"

namespace tavrel::tables {

long leadingNumber(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && platform::isBlank(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
    long value = 0;
    // Descriptor numbers are six digits wide; the bound keeps a damaged field
    // from overflowing.
    for (int digits = 0; at < text.size() && platform::isDigitAscii(text[at]) && digits < 15;
         ++at, ++digits) {
        value = value * 10 + (text[at] - '0');
    }
    return negative ? -value : value;
}

std::string descriptorNumberText(long value) {
    std::string text = value < 0 ? std::string() : std::string(1, ' ');
    return text += std::to_string(value);
}

void TBL_INFO::DBFPath(std::string v) { m_path = std::string(platform::trimText(v)); }
void TBL_INFO::DBFName(std::string v) { m_name = std::string(platform::trimText(v)); }

void TBL_INFO::INFOGET(DatabaseEngine& engine, DATA4* data) {
    const auto text = [&](const char* name) { return readField(engine, data, name); };
    const auto trimmed = [&](const char* name) {
        return std::string(platform::trimText(text(name)));
    };
    LVWMEMO(trimmed("LISTVIEW"));
    TAGMEMO(trimmed("TAGARRAY"));
    FLDMEMO(trimmed("FIELDARRAY"));
    LVWCOUNT(int32_t(leadingNumber(text("NLISTVIEWS"))));
    TAGCOUNT(int32_t(leadingNumber(text("NTAGS"))));
    FLDCOUNT(int32_t(leadingNumber(text("NFIELDS"))));
    CheckSum(int16_t(leadingNumber(text("HAS_CHKSUM"))));
    TrainTbl(int16_t(leadingNumber(text("TRAINING"))));
    UserTbl(int16_t(leadingNumber(text("USER_TBL"))));
    Version(trimmed("VERSIONID"));
    Enabled(text("ENABLED"));
    DBFPath(text("TBL_PATH"));
    DBFName(text("TBL_NAME"));
}

void TBL_INFO::INFOPUT(DatabaseEngine& engine, DATA4* data) {
    const auto put = [&](const char* name, std::string_view value) {
        writeField(engine, data, name, value);
    };
    put("LISTVIEW", platform::trimText(m_listView));
    put("TAGARRAY", platform::trimText(m_tags));
    put("FIELDARRAY", platform::trimText(m_fields));
    put("NLISTVIEWS", descriptorNumberText(m_listViewCount));
    put("NTAGS", descriptorNumberText(m_tagCount));
    put("NFIELDS", descriptorNumberText(m_fieldCount));
    put("HAS_CHKSUM", descriptorNumberText(m_checkSum));
    put("TRAINING", descriptorNumberText(m_training));
    put("USER_TBL", descriptorNumberText(m_userTable));
    put("VERSIONID", m_version);
    put("ENABLED", m_enabled);
    put("TBL_PATH", m_path);
    put("TBL_NAME", m_name);
    m_updated = true;
}

std::shared_ptr<TBL_INFO> TBL_INFOS::AddItem(std::shared_ptr<TBL_INFO> info) {
    if (!info) return nullptr;
    auto [it, added] = m_items.try_emplace(platform::upperText(info->key()), info);
    return it->second;
}

std::shared_ptr<TBL_INFO> TBL_INFOS::Item(std::string_view key) const {
    const auto it = m_items.find(platform::upperText(key));
    return it == m_items.end() ? nullptr : it->second;
}

void TBL_INFOS::Remove(std::string_view key) { m_items.erase(platform::upperText(key)); }

}  // namespace tavrel::tables
