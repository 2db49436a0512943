#include "tools/tavrelpkg/install_commands.h"

#include <map>
#include <memory>
#include <ostream>

#include "agent/history/history_table.h"
#include "agent/session/file_helpers.h"
#include "agent/session/package_install.h"
#include "agent/tables/table_conversion.h"
#include "platform/clock.h"
#include "platform/crash_point.h"
#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::tavrelpkg {
namespace {

using namespace tavrel::session;

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// Pages 1 and 2 of the window log on the console, line by line.
class ConsolePages final : public history::WindowLogView {
  public:
    explicit ConsolePages(std::ostream& out) : m_out(out) {}
    void pageCleared(int) override {}
    void lineAdded(int page, std::string_view line) override {
        if (page != 1 && page != 2) return;
        size_t start = 0;
        while (start <= line.size()) {
            size_t end = line.find('\n', start);
            if (end == std::string_view::npos) end = line.size();
            std::string_view part = line.substr(start, end - start);
            if (!part.empty() && part.back() == '\r') part.remove_suffix(1);
            m_out << page << ": " << part << '\n';
            start = end + 1;
        }
        m_out.flush();
    }
    void statusChanged(int, std::string_view) override {}

  private:
    std::ostream& m_out;
};

class NoProgress final : public ConversionProgressView {
  public:
    void ProgressText(int, std::string_view) override {}
    void ProgressValue(int, std::int64_t, std::int64_t) override {}
    void SelectLogPage(int) override {}
};

class Panels final : public StatusPanels {
  public:
    std::string panelText(std::string_view key) const override {
        auto it = m_texts.find(std::string(key));
        return it == m_texts.end() ? std::string() : it->second;
    }
    void setPanelText(std::string_view key, std::string_view text) override {
        m_texts[std::string(key)] = std::string(text);
    }

  private:
    std::map<std::string, std::string> m_texts;
};

// Everything an installation runs on, wired as the agent wires it.
struct Installation {
    Installation(const std::string& appFolder, std::ostream& out, std::ostream& err)
        : log([&err](const std::string& line) { err << line << '\n'; }),
          kes04(log),
          kes01(log),
          engine(kes04),
          console(out),
          windowLog([appFolder] { return JoinPath(appFolder, "UPDATE") + "/"; }),
          versions(appFolder, [appFolder] { return appFolder; }),
          history(engine, clock, appFolder),
          conversion(tables::ConversionTools{engine, kes01, windowLog, progress, clock, {}}),
          installer(tools(), appFolder) {
        windowLog.setView(&console);
    }

    InstallTools tools() {
        InstallTools t(windowLog, panels, versions, conversion, &history);
        t.pages = &progress;
        t.conversionSummary = [this] { return conversion.summaryText(); };
        t.returnConvertedTables = [this](const PackageNames& names) {
            return conversion.returnConvertedTables(names);
        };
        return t;
    }

    tables::LogLine log;
    tables::Kes04Library kes04;
    tables::Kes01Library kes01;
    tables::DatabaseEngine engine;
    platform::SystemClock clock;
    ConsolePages console;
    history::WindowLog windowLog;
    VersionFiles versions;
    Panels panels;
    NoProgress progress;
    history::HistoryTable history;
    tables::TableConversion conversion;
    PackageInstaller installer;
};

// The level a package file names: "TAVREL0101" for ".../tavrel0101.zip".
std::string packageLevel(const std::string& packageFile) {
    std::string name = platform::upperText(platform::fs::path(packageFile).filename().string());
    if (name.ends_with(".ZIP")) name.resize(name.size() - 4);
    return name;
}

}  // namespace

int installCommand(const std::string& appFolder, const std::string& packageFile, std::ostream& out,
                   std::ostream& err) {
    const std::string app = FixTrailingBackslash(appFolder, TrailingSeparator::kAdd);
    if (!platform::folderExists(app) || !platform::fileExists(packageFile)) {
        err << "tavrelpkg install: no application folder " << app << " or no package "
            << packageFile << '\n';
        return kUsage;
    }
    auto run = std::make_unique<Installation>(app, out, err);
    if (!run->engine.start()) return kUsage;
    const std::string level = packageLevel(packageFile);
    const std::string packageFolder = JoinPath(app, "UPDATE", level);
    const std::string target = JoinPath(packageFolder, level + ".ZIP");
    EnsureFolder(packageFolder, true);
    if (platform::fs::weakly_canonical(packageFile) != platform::fs::weakly_canonical(target) &&
        !CopyOrMoveFile(packageFile, target, true, false)) {
        err << "tavrelpkg install: cannot copy the package to " << target << '\n';
        return kFailed;
    }
    run->installer.InstallUpdatePackage(target);
    err << "crash points passed: " << platform::crashPointsPassed() << '\n';
    return run->versions.ApplicationLevel() == level ? kOk : kFailed;
}

int recoverCommand(const std::string& appFolder, std::ostream& out, std::ostream& err) {
    const std::string app = FixTrailingBackslash(appFolder, TrailingSeparator::kAdd);
    if (!platform::folderExists(app)) return kUsage;
    auto run = std::make_unique<Installation>(app, out, err);
    if (!run->engine.start()) return kUsage;
    const int failures = run->installer.recoverInterruptedInstallations();
    out << (failures == 0 ? "nothing left to undo\n" : "an installation could not be undone\n");
    return failures == 0 ? kOk : kFailed;
}

}  // namespace tavrel::tavrelpkg
