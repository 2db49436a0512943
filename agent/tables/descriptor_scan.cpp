#include "agent/tables/descriptor_scan.h"

#include <cstdio>

#include "agent/tables/engine_fields.h"
#include "platform/crash_point.h"
#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::tables {

std::vector<std::string> DataFoldersFind(const std::string& applicationFolder) {
    std::vector<std::string> found;
    for (int n = 0; n <= 10; ++n) {
        char name[8];
        std::snprintf(name, sizeof name, "DATA%02d", n);
        if (platform::folderExists(platform::joinPath(applicationFolder, name))) {
            found.emplace_back(name);
        }
    }
    return found;
}

namespace {

std::string comparedPart(const std::vector<std::string>& parts, size_t index) {
    return index < parts.size() ? platform::upperText(platform::trimText(parts[index])) : "";
}

bool listsDiffer(std::string_view a, std::string_view b, size_t lastPart) {
    const auto left = descriptorEntries(a);
    const auto right = descriptorEntries(b);
    if (left.size() != right.size()) return true;
    for (size_t i = 0; i < left.size(); ++i) {
        for (size_t p = 1; p <= lastPart; ++p) {
            if (comparedPart(left[i], p) != comparedPart(right[i], p)) return true;
        }
    }
    return false;
}

bool selectOrder(DatabaseEngine& engine, DATA4* data) {
    TAG4* tag = K4(engine.library(), d4tag, data, "TBL_ORDER");
    if (tag == nullptr) {
        engine.checkError("d4tag TBL_ORDER");
        return false;
    }
    K4(engine.library(), d4tagSelect, data, tag);
    return true;
}

void makeWorkItems(const std::shared_ptr<TBL_INFO>& info, int change,
                   const std::string& applicationFolder,
                   const std::vector<std::string>& dataFolders, TBL_INFOS& infos,
                   TBL_UPDATES& items) {
    for (const std::string& folder : dataFolders) {
        auto item = std::make_unique<TBL_UPDATE>(infos);
        item->TBLINFO(info);
        item->TestResult = change;
        item->LICFOLDER(folder);
        item->FOLDER_NAME(applicationFolder);
        for (auto which : {TableSelector::kCurrent, TableSelector::kNew, TableSelector::kOld}) {
            const std::string path = item->FOLDER_GET(which);
            if (platform::folderExists(path)) continue;
            platform::crashPoint("create folder " + path);
            platform::ensureFolder(path);
        }
        items.AddItem(std::move(item));
    }
}

// The change type of descriptor `a` against TABLEDET: 2 new, 1 changed, 0 same.
int changeType(DatabaseEngine& engine, DATA4* tabledet, const TBL_INFO& a) {
    if (!seekDescriptor(engine, tabledet, a.DBFPath(), a.DBFName())) return 2;
    TBL_INFO b;
    b.INFOGET(engine, tabledet);
    if (a.FLDMEMO() == b.FLDMEMO() && a.TAGMEMO() == b.TAGMEMO()) return 0;
    return TblInfoCompare(a, b);
}

}  // namespace

int TblInfoCompare(const TBL_INFO& a, const TBL_INFO& b) {
    if (listsDiffer(a.FLDMEMO(), b.FLDMEMO(), 4)) return 1;
    if (listsDiffer(a.TAGMEMO(), b.TAGMEMO(), 5)) return 1;
    return 0;
}

bool seekDescriptor(DatabaseEngine& engine, DATA4* data, std::string_view path,
                    std::string_view name) {
    const std::string key =
        std::string(platform::trimText(path)) + "\\" + std::string(platform::trimText(name));
    if (!selectOrder(engine, data)) return false;
    const int result = K4(engine.library(), d4seek, data, key.c_str());
    if (result < 0) engine.checkError("d4seek " + key);
    if (result != 0) return false;
    return platform::sameTextIgnoringCase(platform::trimText(readField(engine, data, "TBL_PATH")),
                                          platform::trimText(path)) &&
           platform::sameTextIgnoringCase(platform::trimText(readField(engine, data, "TBL_NAME")),
                                          platform::trimText(name));
}

ScanResult Update_Scan_TABLEDES(DatabaseEngine& engine, ScanTables tables,
                                const std::string& applicationFolder,
                                const std::vector<std::string>& dataFolders, TBL_INFOS& infos,
                                TBL_UPDATES& items, const ScanLog& log) {
    const auto write = [&](int code, const std::string& text) {
        if (log) log(code, text);
    };
    write(1100, "Update_Scan_TABLEDES");
    write(1601, std::to_string(engine.checkError("Update_Scan_TABLEDES")));
    Kes04Library& library = engine.library();
    const bool ordered =
        selectOrder(engine, tables.tabledes) && selectOrder(engine, tables.tabledet);
    const char* prefix = "LICTBL\\";
    int step = ordered && K4(library, d4top, tables.tabledes) == 0
                   ? K4(library, d4seek, tables.tabledes, prefix)
                   : -1;
    // Bounded by the record count, whatever the index gives back.
    const long limit = K4(library, d4recCountDo, tables.tabledes);
    for (long n = 0; step == 0 && n < limit; ++n) {
        auto a = std::make_shared<TBL_INFO>();
        a->INFOGET(engine, tables.tabledes);
        if (platform::upperText(a->DBFPath()) == "LICTBL" && a->Enabled() == "4") {
            // The seek in TABLEDET moves only TABLEDET: d4seekNext below goes
            // on from this row of TABLEDES.
            const int change = changeType(engine, tables.tabledet, *a);
            if (change != 0) {
                write(4101, a->key());
                makeWorkItems(a, change, applicationFolder, dataFolders, infos, items);
            }
        }
        step = K4(library, d4seekNext, tables.tabledes, prefix);
    }
    const ScanResult result = items.Count() == 0 ? ScanResult::kNothingToDo : ScanResult::kContinue;
    write(1101, "Update_Scan_TABLEDES " + std::to_string(items.Count()));
    return result;
}

}  // namespace tavrel::tables
