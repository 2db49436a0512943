// The state of one running table conversion, shared by the sequence, the
// steps, the table operations and the backup archive. Private to the
// conversion: callers see table_conversion.h only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/history/conversion_log.h"
#include "agent/history/window_log.h"
#include "agent/session/package_interfaces.h"
#include "agent/tables/conversion_journal.h"
#include "agent/tables/database_engine.h"
#include "agent/tables/kes01_library.h"
#include "agent/tables/table_conversion.h"
#include "agent/tables/tbl_update.h"
#include "components/zip/zip_archive.h"

namespace tavrel::tables {

// Results kept in a work item (TBLExists, TBLCopied, the archive operations).
inline constexpr int32_t kTablePresent = 1501;
inline constexpr int32_t kDbfMissing = 1511;
inline constexpr int32_t kCdxMissing = 1521;
inline constexpr int32_t kFptMissing = 1531;
inline constexpr int32_t kSavedInArchive = 1001;
inline constexpr int32_t kMovedOverCurrent = 1010;
inline constexpr int32_t kExtracted = 1005;
inline constexpr int32_t kOpenMissing = -1;
inline constexpr int32_t kOpenFailed = -9100;

struct ConversionRun {
    ConversionRun(ConversionTools& t, history::ConversionLog& l, session::PackageNames n);

    ConversionTools& tools;
    history::ConversionLog& log;
    // False while a recovery runs: it must not rewrite the interrupted run's log.
    bool logging = true;
    session::PackageNames names;
    std::string backupArchive;   // packageFolder + "TBLFILES" + id + ".ZIP"
    std::string tableUpdateZip;  // packageFolder + tableUpdateFile
    zip::ZipArchive archive;     // the backup archive (ZipBackup)
    ConversionJournal journal;
    TBL_INFOS infos;
    TBL_UPDATES items;
    // Per work item (index from 0): the move over the current table began.
    std::vector<char> moveBegun;
    DATA4* tabledes = nullptr;
    DATA4* tabledet = nullptr;

    DatabaseEngine& engine() { return tools.engine; }
    Kes04Library& library() { return tools.engine.library(); }
    // Adds a coded entry to the conversion log.
    void write(int code, std::string_view text1 = {}, std::string_view text2 = {});
    // Reads and clears the engine error and logs it with code 1601; the code.
    int checkEngine(std::string_view context);
    // Appends a stage text to page 2 of the window log.
    void stageText(std::string_view text);
    void yield();
    // A path below the application folder as the journal holds it.
    std::string relativeToApplication(const std::string& path) const;
};

}  // namespace tavrel::tables
