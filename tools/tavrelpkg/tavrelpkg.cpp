#include "tools/tavrelpkg/tavrelpkg.h"

#include <ostream>

#include "agent/history/history_table.h"
#include "agent/tables/descriptor_scan.h"
#include "agent/tables/engine_fields.h"
#include "agent/tables/record_checksums.h"
#include "platform/files.h"
#include "tools/tavrelpkg/install_commands.h"

namespace tavrel::tavrelpkg {

namespace {

using namespace tavrel::tables;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

int usage(std::ostream& err) {
    err << "usage: tavrelpkg checksums verify|stamp TABLE\n"
           "       tavrelpkg history APPFOLDER [--trim] [--keep N]\n"
           "       tavrelpkg scan APPFOLDER\n"
           "       tavrelpkg install APPFOLDER PACKAGE.ZIP\n"
           "       tavrelpkg plan APPFOLDER PACKAGE.ZIP\n"
           "       tavrelpkg recover APPFOLDER\n";
    return kUsage;
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

int checksums(const std::string& action, const std::string& table, std::ostream& out,
              std::ostream& err) {
    if (action != "verify" && action != "stamp") return usage(err);
    Tools tools(err);
    if (!tools.engine.start()) return kUsage;
    DATA4* data = tools.engine.open(table);
    if (data == nullptr) return kUsage;
    const bool hasSum1 = findField(tools.engine, data, "CHECK_SUM1") != nullptr;
    const bool hasSum = findField(tools.engine, data, "CHECK_SUM") != nullptr;
    ChecksumTools checks{tools.engine, tools.kes01};
    if (action == "stamp") {
        ChecksumResult result = ChecksumResult::kDone;
        if (hasSum1) result = StampTableChecksum1(checks, data);
        if (hasSum && result == ChecksumResult::kDone) {
            result = StampChecksumsIfPresent(checks, data, int32_t(StampingMode::kFlushUnlock));
        }
        out << (result == ChecksumResult::kDone ? "stamped\n" : "no checksum made\n");
        return result == ChecksumResult::kDone ? kOk : kFailed;
    }
    long mismatch = 0;
    if (hasSum1) {
        VerifyTableChecksum1(checks, data, &mismatch);
    } else if (hasSum) {
        mismatch = firstRawMismatch(tools, data);
    }
    if (mismatch != 0) {
        out << "mismatch at record " << mismatch << '\n';
        return kFailed;
    }
    out << "verified\n";
    return kOk;
}

int history(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    bool trim = false;
    int keep = 100;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--trim") {
            trim = true;
        } else if (args[i] == "--keep" && i + 1 < args.size()) {
            keep = int(leadingNumber(args[++i]));
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
    const ScanResult result = Update_Scan_TABLEDES(
        tools.engine, {des, det}, appFolder, DataFoldersFind(appFolder), infos, items, nullptr);
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
    if (args.size() == 3 && args[0] == "checksums") return checksums(args[1], args[2], out, err);
    if (args.size() >= 2 && args[0] == "history") return history(args, out, err);
    if (args.size() == 2 && args[0] == "scan") return scan(args[1], out, err);
    if (args.size() == 3 && args[0] == "install") return installCommand(args[1], args[2], out, err);
    if (args.size() == 3 && args[0] == "plan") return planCommand(args[1], args[2], out, err);
    if (args.size() == 2 && args[0] == "recover") return recoverCommand(args[1], out, err);
    return usage(err);
}

}  // namespace tavrel::tavrelpkg
