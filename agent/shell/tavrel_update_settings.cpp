#include "agent/shell/tavrel_update_settings.h"

#include "platform/files.h"

namespace tavrel::agent {

void TavrelUpdateSettings::Show() {
    if (m_dialog) m_dialog->showSettingsDialog();
}

bool TavrelUpdateSettings::Configured() {
    if (!m_configuration.ConfigFileExists()) return false;
    const std::string folder = m_configuration.ReadMainPath();
    if (folder.empty()) return false;
    return platform::fileExists(platform::joinPath(folder, "TAVREL32.EXE"));
}

}  // namespace tavrel::agent
