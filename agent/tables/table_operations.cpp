#include "agent/tables/table_operations.h"

#include <array>
#include <utility>
#include <vector>

#include "agent/tables/engine_fields.h"
#include "agent/tables/record_checksums.h"
#include "platform/crash_point.h"
#include "platform/files.h"

namespace tavrel::tables {
namespace {

constexpr std::array<const char*, 3> kTableExtensions = {".DBF", ".CDX", ".FPT"};

std::string tablePath(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : platform::joinPath(folder, name);
}

// The source field and the target field of the same name, found once per
// table: the handles live as long as the tables are open.
using FieldPairs = std::vector<std::pair<FIELD4*, FIELD4*>>;

FieldPairs commonFields(ConversionRun& run, DATA4* source, DATA4* target) {
    FieldPairs pairs;
    Kes04Library& library = run.library();
    const short count = K4(library, d4numFields, source);
    for (short j = 1; j <= count; ++j) {
        FIELD4* from = K4(library, d4fieldJ, source, j);
        const char* name = from ? K4(library, f4name, from) : nullptr;
        if (name == nullptr) continue;
        FIELD4* to = findField(run.engine(), target, name);
        if (to != nullptr) pairs.emplace_back(from, to);
    }
    return pairs;
}

// The source value as text, assigned by the target's type; 0 or the engine's code.
int copyValue(Kes04Library& library, FIELD4* from, FIELD4* to) {
    const char* text = K4(library, f4memoPtr, from);
    if (text == nullptr) return K4(library, f4assignNVB, to, "", 0);
    const unsigned long length = K4(library, f4memoLen, from);
    return K4(library, f4assignNVB, to, text, int(length));
}

// Copies the fields of the current source record into a new target record
// and appends it. True when a record was added; it is then the target's
// current record.
bool copyRecord(ConversionRun& run, DATA4* source, DATA4* target, const FieldPairs& pairs) {
    Kes04Library& library = run.library();
    if (K4(library, d4appendStart, target, short(0)) != 0) {
        run.engine().checkError("d4appendStart");
        return false;
    }
    K4(library, d4blank, target);
    int assigned = 0;
    for (const auto& [from, to] : pairs) {
        if (copyValue(library, from, to) == 0) {
            ++assigned;
        } else {
            run.engine().checkError("f4assignNVB");
        }
    }
    // A record with nothing in common with the new structure is not carried.
    if (assigned == 0) return false;
    // A deleted record is appended with its mark: marking it afterwards would
    // take a flush (a trip to the disk) for every deleted record.
    if (K4(library, d4deleted, source) > 0) K4(library, d4delete, target);
    if (K4(library, d4append, target) != 0) {
        run.engine().checkError("d4append");
        return false;
    }
    return true;
}

// Copies every source record; true when the target holds only records the
// copy added and each got its CHECK_SUM on the way (false too when the
// target has no CHECK_SUM).
bool copyAllRecords(ConversionRun& run, DATA4* source, DATA4* target, long sourceCount,
                    long targetCount) {
    Kes04Library& library = run.library();
    const FieldPairs pairs = commonFields(run, source, target);
    // Each record is stamped as it is added, while its bytes are at hand; a
    // run over the finished table would read and write every record again.
    ChecksumTools checksums{run.engine(), run.tools.kes01};
    ChecksumStamper stamper(checksums, target);
    bool stamped = stamper.present() && targetCount == 0;
    long read = 0;
    // Bounded by the record count, whatever positioning gives back.
    for (int step = K4(library, d4top, source); step == 0 && read < sourceCount;
         step = K4(library, d4skip, source, 1L)) {
        if (copyRecord(run, source, target, pairs)) {
            ++targetCount;
            if (stamped) stamped = stamper.stampCurrent(targetCount);
        } else {
            // The failed start of this record may have been the write of the
            // last one's checksum.
            stamped = false;
        }
        ++read;
        run.tools.progress.ProgressValue(3, read, -1);
        run.tools.progress.ProgressValue(4, targetCount, -1);
    }
    return stamped;
}

}  // namespace

int32_t TableFilesTest(const std::string& folder, const std::string& name, bool needIndex,
                       bool needMemo) {
    const std::string path = tablePath(folder, name);
    if (!platform::fileExists(path + ".DBF")) return kDbfMissing;
    if (needIndex && !platform::fileExists(path + ".CDX")) return kCdxMissing;
    if (needMemo && !platform::fileExists(path + ".FPT")) return kFptMissing;
    return kTablePresent;
}

int32_t TableOpen(ConversionRun& run, const std::string& name, const std::string& folder,
                  DATA4** data) {
    *data = nullptr;
    const std::string path = tablePath(folder, name);
    if (!platform::fileExists(path + ".DBF")) {
        run.write(2102, path);
        return kOpenMissing;
    }
    *data = K4(run.library(), d4open, run.engine().handle(), path.c_str());
    if (*data == nullptr) {
        const int error = run.engine().checkError("d4open " + path);
        run.write(2109, path, std::to_string(error));
        return kOpenFailed;
    }
    run.write(2101, path);
    return 1;
}

int32_t TableCreate(ConversionRun& run, TBL_UPDATE& item, const std::string& folder,
                    const std::string& name) {
    run.engine().checkError("d4create");
    const std::string path = tablePath(folder, name);
    const std::vector<FIELD4INFO> fields = item.fieldInfos();
    const std::vector<TAG4INFO> tags = item.tagInfos();
    platform::crashPoint("create table " + path);
    DATA4* data = K4(run.library(), d4create, run.engine().handle(), path.c_str(), fields.data(),
                     item.tags().empty() ? nullptr : tags.data());
    if (data == nullptr) {
        const int error = run.engine().checkError("d4create " + path);
        run.write(1209, path, std::to_string(error));
        return -1;
    }
    run.write(1202, path);
    closeTable(run, &data);
    return 1;
}

int FieldCopy(ConversionRun& run, DATA4* source, const std::string& fieldName, DATA4* target,
              const std::string& targetName, bool logMissing) {
    FIELD4* from = findField(run.engine(), source, fieldName.c_str());
    FIELD4* to = findField(run.engine(), target,
                           targetName.empty() ? fieldName.c_str() : targetName.c_str());
    if (from == nullptr || to == nullptr) {
        if (logMissing) {
            const char* file = K4(run.library(), d4fileName, from ? target : source);
            run.write(6100, fieldName + " - " + (file ? file : ""));
        }
        return -210;
    }
    return copyValue(run.library(), from, to);
}

int32_t TableCopyRecords(ConversionRun& run, TBL_UPDATE& item) {
    DATA4* source = item.TBLFile[0];
    DATA4* target = item.TBLFile[1];
    Kes04Library& library = run.library();
    run.engine().checkError("TableCopyRecords");
    const std::string from = item.FILE_GET(TableSelector::kCurrent);
    const std::string to = item.FILE_GET(TableSelector::kNew);
    run.write(1301, from, to);
    const long sourceCount = K4(library, d4recCountDo, source);
    const long targetCount = K4(library, d4recCountDo, target);
    run.write(1302, std::to_string(sourceCount), std::to_string(targetCount));
    run.write(1303, std::to_string(K4(library, d4numFields, source)),
              std::to_string(K4(library, d4numFields, target)));
    run.tools.progress.ProgressValue(3, 0, sourceCount);
    run.tools.progress.ProgressValue(4, 0, sourceCount);
    platform::crashPoint("copy records into " + to);
    const bool stamped =
        sourceCount > 0 && copyAllRecords(run, source, target, sourceCount, targetCount);
    // A run over the whole table stamps what the copy did not (and logs why).
    ChecksumTools checksums{run.engine(), run.tools.kes01};
    const auto mode = int32_t(StampingMode::kFlushUnlock);
    if (stamped) {
        FinishStamping(checksums, target, mode);
    } else {
        StampChecksumsIfPresent(checksums, target, mode);
    }
    run.write(1302, std::to_string(K4(library, d4recCountDo, source)),
              std::to_string(K4(library, d4recCountDo, target)));
    return 1;
}

int32_t TableMove(ConversionRun& run, const std::string& sourceFolder,
                  const std::string& sourceName, const std::string& targetFolder,
                  const std::string& targetName, bool deleteSource) {
    std::vector<std::string> taken;
    for (const char* extension : kTableExtensions) {
        const std::string source = tablePath(sourceFolder, sourceName) + extension;
        if (!platform::fileExists(source)) continue;
        const std::string target = tablePath(targetFolder, targetName) + extension;
        // A source that goes anyway is renamed over the target: each file is
        // then either the old or the new one, never a copy broken off half
        // way, and the move needs no room beside the tables (on another file
        // system the platform copies and deletes).
        platform::crashPoint((deleteSource ? "move table file " : "copy table file ") + target);
        const int rc = deleteSource ? platform::moveFile(source, target)
                                    : platform::copyFile(source, target, true);
        if (rc != 0) return 0;
        run.write(1401, source, target);
        taken.push_back(source);
    }
    if (!deleteSource) return kMovedOverCurrent;
    for (const std::string& source : taken) run.write(1402, source);
    return kMovedOverCurrent;
}

bool TableRemove(ConversionRun& run, const std::string& folder, const std::string& name) {
    bool removed = true;
    for (const char* extension : kTableExtensions) {
        const std::string path = tablePath(folder, name) + extension;
        if (!platform::fileExists(path)) continue;
        platform::crashPoint("delete table file " + path);
        if (platform::deleteFile(path) == 0) {
            run.write(1402, path);
        } else {
            removed = false;
        }
    }
    return removed;
}

void closeTable(ConversionRun& run, DATA4** data) {
    if (*data == nullptr) return;
    if (K4(run.library(), d4close, *data) == 0) {
        *data = nullptr;
    } else {
        run.engine().checkError("d4close");
        *data = nullptr;  // the handle ends even when the close failed
    }
}

}  // namespace tavrel::tables
