// The package installation the update window runs: the installer with the
// table conversion behind its stage 1, both writing to the window's log
// pages, panels and progress frames. Made by the window once it exists.
#pragma once

#include <string>

#include "agent/history/history_table.h"
#include "agent/session/package_install.h"
#include "agent/session/update_window.h"
#include "agent/session/version_files.h"
#include "agent/tables/database_engine.h"
#include "agent/tables/kes01_library.h"
#include "agent/tables/table_conversion.h"
#include "platform/clock.h"

namespace tavrel::agent {

// What an installation borrows from the program; all must outlive it.
struct InstallationParts {
    tables::DatabaseEngine& engine;
    tables::Kes01Library& kes01;
    session::VersionFiles& versions;
    // nullptr without an engine.
    history::HistoryTable* history;
    const platform::Clock& clock;
    std::string applicationFolder;
};

class AgentInstallation final : public session::PackageInstallation {
  public:
    AgentInstallation(const session::UpdateWindowParts& window, const InstallationParts& parts);
    AgentInstallation(const AgentInstallation&) = delete;
    AgentInstallation& operator=(const AgentInstallation&) = delete;

    void InstallUpdatePackage(const std::string& packageFile) override;
    std::string resultText() const override;

  private:
    session::InstallTools tools(const session::UpdateWindowParts& window,
                                const InstallationParts& parts);

    tables::TableConversion m_conversion;
    session::PackageInstaller m_installer;
};

}  // namespace tavrel::agent
