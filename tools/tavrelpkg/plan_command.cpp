// tavrelpkg plan: what an installation of a package would do, found without
// changing the application folder. The table update is unpacked into a
// folder under the temporary folder and scanned there against the
// application's TABLEDET; the scan's work folders are made there too.
#include <ostream>
#include <vector>

#include "agent/session/file_helpers.h"
#include "agent/session/package_install.h"
#include "agent/tables/database_engine.h"
#include "agent/tables/descriptor_scan.h"
#include "components/zip/zip_archive.h"
#include "platform/files.h"
#include "platform/text_rules.h"
#include "tools/tavrelpkg/install_commands.h"
#include "tools/tavrelpkg/scratch_folder.h"

namespace tavrel::tavrelpkg {
namespace {

using namespace tavrel::session;

struct Plan {
    std::ostream& out;
    int problems = 0;
    void problem(const std::string& text) {
        out << "problem: " << text << '\n';
        ++problems;
    }
};

bool isTableUpdate(const std::string& name) {
    const std::string upper = platform::upperText(name);
    return upper.starts_with("TBLUPD") && upper.ends_with(".ZIP");
}

void planEntries(zip::ZipArchive& zip, const std::string& app, Plan& plan,
                 std::vector<int>& tableUpdates) {
    for (int i = 0; i < zip.entryCount(); ++i) {
        const std::string stored = zip.entryStoredPath(i);
        zip.options().testOnly = true;
        if (zip.processEntry(i) != 0) {
            const bool unsafe = zip.lastError() == int(zip::ZipResult::kUnsafeEntry);
            plan.problem((unsafe ? "refused entry: " : "damaged entry: ") + stored + " (" +
                         zip.lastErrorText() + ")");
            continue;
        }
        const std::string name = zip.entryName(i);
        const std::string folder = zip.entryFolder(i);
        const std::string relative = folder.empty() ? name : JoinPath(folder, name);
        if (name.empty()) continue;
        if (isTableUpdate(name)) {
            plan.out << "table update: " << name << '\n';
            tableUpdates.push_back(i);
        } else if (!PackageInstaller::IsInstallableEntry(name)) {
            plan.out << "left out: " << relative << '\n';
        } else {
            const bool replaces = platform::fileExists(JoinPath(app, folder, name));
            plan.out << (replaces ? "install replacing: " : "install new: ") << relative << '\n';
        }
    }
}

// Unpacks TABLEDES of the table update `index` into `scratch`; false (with a
// problem named) when it does not unpack as the conversion would need it.
bool unpackTabledes(zip::ZipArchive& package, int index, const std::string& scratch, Plan& plan) {
    const std::string name = package.entryName(index);
    zip::ZipOptions& options = package.options();
    options = zip::ZipOptions{};
    options.targetFolder = scratch;
    options.keepPaths = false;
    options.overwrite = true;
    if (package.processEntry(index) != 0) {
        plan.problem("table update does not unpack: " + name + " (" + package.lastErrorText() +
                     ")");
        return false;
    }
    zip::ZipArchive inner;
    inner.setFileName(JoinPath(scratch, name));
    if (inner.open() != 0) {
        plan.problem("TABLEDES does not unpack: " + name + " (" + inner.lastErrorText() + ")");
        return false;
    }
    const int selected = inner.selectByNames("TABLEDES.CDX;TABLEDES.DBF;TABLEDES.FPT;TABLEDES.CMD");
    inner.options().targetFolder = JoinPath(scratch, "DES");
    inner.options().overwrite = true;
    inner.options().keepPaths = false;
    if (selected < 3 || inner.processSelected() != 0) {
        plan.problem("TABLEDES does not unpack: " + name + " holds " + std::to_string(selected) +
                     " of its files" + (selected < 3 ? "" : " (" + inner.lastErrorText() + ")"));
        return false;
    }
    return true;
}

void planTables(tables::DatabaseEngine& engine, const std::string& app, const std::string& scratch,
                Plan& plan) {
    DATA4* des = engine.open(JoinPath(scratch, "DES", "TABLEDES"));
    DATA4* det = engine.open(JoinPath(app, "TABLEDET"));
    if (des == nullptr) plan.problem("table does not open: TABLEDES of the table update");
    if (det == nullptr) plan.problem("table does not open: " + JoinPath(app, "TABLEDET"));
    if (des != nullptr && det != nullptr) {
        tables::TBL_INFOS infos;
        tables::TBL_UPDATES items;
        // The scan makes each item's work folders below the folder it is
        // given: the scratch folder, not the application.
        const auto result = tables::Update_Scan_TABLEDES(
            engine, {des, det}, scratch, tables::DataFoldersFind(app), infos, items, nullptr);
        if (result == tables::ScanResult::kNothingToDo) plan.out << "tables: none to convert\n";
        for (size_t i = 1; i <= items.Count(); ++i) {
            tables::TBL_UPDATE* item = items.Item(i);
            const std::string folder = item->LICFOLDER();
            const std::string table = item->TABLE_NAME(tables::TableSelector::kCurrent);
            const bool isNew = item->TestResult == 2;
            plan.out << "convert: " << folder.substr(0, folder.find_first_of("/\\")) << ' ' << table
                     << ' ' << (isNew ? "new" : "changed") << '\n';
            const std::string current = JoinPath(app, folder, table);
            if (isNew || !platform::fileExists(current + ".DBF")) continue;
            DATA4* data = engine.open(current);
            if (data == nullptr) {
                plan.problem("table does not open: " + current);
            } else {
                K4(engine.library(), d4close, data);
            }
        }
    }
    if (des) K4(engine.library(), d4close, des);
    if (det) K4(engine.library(), d4close, det);
}

}  // namespace

int planCommand(const std::string& appFolder, const std::string& packageFile, std::ostream& out,
                std::ostream& err) {
    const std::string app = FixTrailingBackslash(appFolder, TrailingSeparator::kAdd);
    if (!platform::folderExists(app)) {
        err << "tavrelpkg plan: no application folder " << app << '\n';
        return 2;
    }
    Plan plan{out};
    zip::ZipArchive zip;
    zip.setFileName(packageFile);
    if (zip.open() != 0) {
        plan.problem("the package does not open: " + zip.lastErrorText());
        return 1;
    }
    out << "entries: " << zip.entryCount() << '\n';
    zip.options().targetFolder = app;
    zip.options().testOnly = true;
    const bool tested = zip.processAll() == 0;
    out << "archive test: " << (tested ? "passed" : "FAILED (" + zip.lastErrorText() + ")") << '\n';
    if (!tested) ++plan.problems;
    std::vector<int> tableUpdates;
    planEntries(zip, app, plan, tableUpdates);
    if (tableUpdates.empty()) out << "tables: no table update\n";
    if (!tableUpdates.empty()) {
        const auto log = [&err](const std::string& line) { err << line << '\n'; };
        tables::Kes04Library kes04(log);
        tables::DatabaseEngine engine(kes04);
        if (!engine.start()) return 2;
        for (int index : tableUpdates) {
            ScratchFolder scratch("plan");
            if (unpackTabledes(zip, index, scratch.path(), plan))
                planTables(engine, app, scratch.path(), plan);
        }
    }
    zip.close();
    out << (plan.problems == 0 ? "no problem seen\n"
                               : "problems seen: " + std::to_string(plan.problems) + "\n");
    return plan.problems == 0 ? 0 : 1;
}

}  // namespace tavrel::tavrelpkg
