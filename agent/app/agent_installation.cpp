#include "agent/app/agent_installation.h"

#include <QCoreApplication>

namespace tavrel::agent {

AgentInstallation::AgentInstallation(const session::UpdateWindowParts& window,
                                     const InstallationParts& parts)
    : m_conversion(tables::ConversionTools{parts.engine, parts.kes01, window.windowLog,
                                           window.progress, parts.clock,
                                           [] { QCoreApplication::processEvents(); }}),
      m_installer(tools(window, parts), parts.applicationFolder) {}

session::InstallTools AgentInstallation::tools(const session::UpdateWindowParts& window,
                                               const InstallationParts& parts) {
    session::InstallTools t(window.windowLog, window.panels, parts.versions, m_conversion,
                            parts.history);
    t.pages = &window.progress;
    t.conversionSummary = [this] { return m_conversion.summaryText(); };
    t.returnConvertedTables = [this](const session::PackageNames& names) {
        return m_conversion.returnConvertedTables(names);
    };
    return t;
}

void AgentInstallation::InstallUpdatePackage(const std::string& packageFile) {
    m_installer.InstallUpdatePackage(packageFile);
}

std::string AgentInstallation::resultText() const { return m_installer.resultText(); }

}  // namespace tavrel::agent
