#include "tools/tavrelpkg/tavrelpkg.h"

#include <ostream>
#include <string>

#include "agent/history/history_table.h"
#include "agent/tables/descriptor_scan.h"
#include "agent/tables/engine_fields.h"
#include "agent/tables/record_checksums.h"
#include "platform/files.h"
#include "platform/text_rules.h"
#include "tools/tavrelpkg/install_commands.h"
#include "tools/tavrelpkg/scratch_folder.h"

namespace tavrel::tavrelpkg {

namespace {

using namespace tavrel::tables;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    "usage: tavrelpkg checksums verify|stamp TABLE\n"
    "       tavrelpkg history APPFOLDER [--trim] [--keep N]\n"
    "       tavrelpkg scan APPFOLDER\n"
    "       tavrelpkg install APPFOLDER PACKAGE.ZIP\n"
    "       tavrelpkg plan APPFOLDER PACKAGE.ZIP\n"
    "       tavrelpkg recover APPFOLDER\n";

int usage(std::ostream& err) {
    err << kUsageText;
    return kUsage;
}

// tavrelpkg help: what each command does, on standard output.
int help(std::ostream& out) {
    out << kUsageText
        << "\n"
           "  checksums verify TABLE  checks CHECK_SUM1 (or, without it, CHECK_SUM) of\n"
           "                          every record; exit 0 verified, 1 mismatch (the\n"
           "                          first record named), 2 no table or no checksum\n"
           "  checksums stamp TABLE   writes CHECK_SUM1 and CHECK_SUM of every record\n"
           "  history APPFOLDER       the update history list, newest first; --trim\n"
           "                          marks deleted the completed records after the\n"
           "                          newest N (--keep, default 100)\n"
           "  scan APPFOLDER          the tables a table update would convert; changes\n"
           "                          nothing\n"
           "  plan APPFOLDER PKG      what installing PKG would do; changes nothing\n"
           "  install APPFOLDER PKG   installs PKG as the agent does\n"
           "  recover APPFOLDER       undoes installations cut short\n";
    return kOk;
}

// The engine, KES01 and their log, for one command.
struct Tools {
    explicit Tools(std::ostream& err)
        : log([&err](const std::string& line) { err << line << '\n'; }),
          kes04(log),
          engine(kes04),
          kes01(log) {}
    LogLine log;
    Kes04Library kes04;
    DatabaseEngine engine;
    Kes01Library kes01;
};

// CHECK_SUM of every record against its raw record text; the first record
// that differs, or 0.
long firstRawMismatch(Tools& tools, DATA4* data) {
    const long count = K4(tools.kes04, d4recCountDo, data);
    for (long recno = 1; recno <= count; ++recno) {
        K4(tools.kes04, d4goLow, data, recno, short(0));
        const auto checksum = MakeChecksumText(tools.kes01, RawRecordText(tools.engine, data));
        if (!checksum ||
            *checksum != rawFieldText(tools.kes04, findField(tools.engine, data, "CHECK_SUM"))) {
            return recno;
        }
    }
    return 0;
}

// The record whose CHECK_SUM1 is the first blank one, or 0: verification
// stops there, so the records from it on are not checked.
long firstBlankChecksum1(Tools& tools, DATA4* data) {
    const long count = K4(tools.kes04, d4recCountDo, data);
    for (long recno = 1; recno <= count; ++recno) {
        K4(tools.kes04, d4goLow, data, recno, short(0));
        if (platform::trimText(readField(tools.engine, data, "CHECK_SUM1")).empty()) return recno;
    }
    return 0;
}

int verify(Tools& tools, DATA4* data, bool hasSum1, bool hasSum, std::ostream& out,
           std::ostream& err) {
    if (!hasSum1 && !hasSum) {
        out << "nothing to verify: the table has no CHECK_SUM1 or CHECK_SUM field\n";
        return kOk;
    }
    // Without the library every record would look changed: say so instead.
    if (!MakeChecksumText(tools.kes01, "")) {
        err << "cannot verify: no checksum can be made with " << tools.kes01.fileName() << '\n';
        return kUsage;
    }
    ChecksumTools checks{tools.engine, tools.kes01};
    long mismatch = 0;
    if (hasSum1) {
        VerifyTableChecksum1(checks, data, &mismatch);
    } else {
        mismatch = firstRawMismatch(tools, data);
    }
    if (mismatch != 0) {
        out << "mismatch at record " << mismatch << '\n';
        return kFailed;
    }
    const long blank = hasSum1 ? firstBlankChecksum1(tools, data) : 0;
    if (blank == 1) {
        out << "nothing verified: record 1 has no CHECK_SUM1\n";
    } else if (blank > 1) {
        out << "verified records 1 to " << blank - 1 << "; record " << blank
            << " has no CHECK_SUM1, the records from it on are not checked\n";
    } else {
        out << "verified\n";
    }
    return kOk;
}

int checksums(const std::string& action, const std::string& table, std::ostream& out,
              std::ostream& err) {
    if (action != "verify" && action != "stamp") return usage(err);
    Tools tools(err);
    if (!tools.engine.start()) return kUsage;
    DATA4* data = tools.engine.open(table);
    if (data == nullptr) return kUsage;
    const bool hasSum1 = findField(tools.engine, data, "CHECK_SUM1") != nullptr;
    const bool hasSum = findField(tools.engine, data, "CHECK_SUM") != nullptr;
    if (action == "verify") return verify(tools, data, hasSum1, hasSum, out, err);
    ChecksumTools checks{tools.engine, tools.kes01};
    ChecksumResult result = ChecksumResult::kDone;
    if (hasSum1) result = StampTableChecksum1(checks, data);
    if (hasSum && result == ChecksumResult::kDone) {
        result = StampChecksumsIfPresent(checks, data, int32_t(StampingMode::kFlushUnlock));
    }
    out << (result == ChecksumResult::kDone ? "stamped\n" : "no checksum made\n");
    return result == ChecksumResult::kDone ? kOk : kFailed;
}

// A count of records to keep: a whole number from 1 on. Anything else (a
// typing slip would otherwise trim the history down to nothing) is refused.
bool keepCount(const std::string& text, int* keep) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    *keep = std::stoi(text);
    return *keep > 0;
}

int history(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool trim = false;
    int keep = 100;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--trim") {
            trim = true;
        } else if (args[i] == "--keep" && i + 1 < args.size()) {
            if (!keepCount(args[++i], &keep)) {
                err << "--keep wants a number of records from 1 on, not \"" << args[i] << "\"\n";
                return usage(err);
            }
        } else {
            return usage(err);
        }
    }
    Tools tools(err);
    if (!tools.engine.start()) return kUsage;
    platform::SystemClock clock;
    history::HistoryTable table(tools.engine, clock, args[1]);
    if (trim && table.TrimUpdateLogTable(keep) < 0) return kUsage;
    if (table.OpenHistoryTable() == nullptr) return kUsage;
    table.CloseHistoryTable();
    history::UpdateListModel list;
    table.LoadUpdateList(list, true, keep, nullptr);
    for (const auto& item : list.items()) {
        out << item.text;
        for (const auto& sub : item.subItems) out << '\t' << sub;
        if (item.failed) out << "\tFAILED";
        out << '\n';
    }
    return kOk;
}

int scan(const std::string& appFolder, std::ostream& out, std::ostream& err) {
    Tools tools(err);
    if (!tools.engine.start()) return kUsage;
    DATA4* des = tools.engine.open(platform::joinPath(appFolder, "TABLEDES"));
    DATA4* det = tools.engine.open(platform::joinPath(appFolder, "TABLEDET"));
    if (des == nullptr || det == nullptr) return kUsage;
    TBL_INFOS infos;
    TBL_UPDATES items;
    // The scan makes each work item's folders below the folder it is given:
    // a scratch folder, so that the application folder stays as it is.
    ScratchFolder scratch("scan");
    const ScanResult result =
        Update_Scan_TABLEDES(tools.engine, {des, det}, scratch.path(), DataFoldersFind(appFolder),
                             infos, items, nullptr);
    if (result == ScanResult::kNothingToDo) out << "no table needs converting\n";
    for (size_t i = 1; i <= items.Count(); ++i) {
        TBL_UPDATE* item = items.Item(i);
        const std::string folder = item->LICFOLDER();
        out << folder.substr(0, folder.find_first_of("/\\")) << '\t'
            << item->TABLE_NAME(TableSelector::kCurrent) << '\t'
            << (item->TestResult == 2 ? "new" : "changed") << '\n';
    }
    return kOk;
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "help" || args[0] == "--help" || args[0] == "-h")) {
        return help(out);
    }
    if (args.size() == 3 && args[0] == "checksums") return checksums(args[1], args[2], out, err);
    if (args.size() >= 2 && args[0] == "history") return history(args, out, err);
    if (args.size() == 2 && args[0] == "scan") return scan(args[1], out, err);
    if (args.size() == 3 && args[0] == "install") return installCommand(args[1], args[2], out, err);
    if (args.size() == 3 && args[0] == "plan") return planCommand(args[1], args[2], out, err);
    if (args.size() == 2 && args[0] == "recover") return recoverCommand(args[1], out, err);
    return usage(err);
}

}  // namespace tavrel::tavrelpkg
