// The settings object over the configuration file: the four settings that
// govern automatic updating, and whether the agent is configured at all.
// It keeps no values of its own; every member goes to the file.
#pragma once

#include <string>

#include "agent/shell/configuration.h"

namespace tavrel::agent {

// Opens the settings dialog (the window layer's frmSetup).
class SettingsDialogOpener {
  public:
    virtual ~SettingsDialogOpener() = default;
    // Shows the dialog modally; returns when it has closed.
    virtual void showSettingsDialog() = 0;
};

class TavrelUpdateSettings {
  public:
    // `configuration` must outlive this object.
    explicit TavrelUpdateSettings(Configuration& configuration) : m_configuration(configuration) {}

    // Opens the settings dialog modally and returns when it closes. The dialog
    // is given by the window layer; without one this does nothing.
    void Show();
    // `dialog` is borrowed and must outlive this object (or be replaced).
    void setDialog(SettingsDialogOpener* dialog) { m_dialog = dialog; }

    // True when the configuration file exists and, after MainPath has been read
    // again, the application folder holds TAVREL32.EXE.
    bool Configured();

    bool Enabled() const { return m_configuration.ReadUpdateFlag(); }
    void setEnabled(bool value) { m_configuration.WriteUpdateFlag(value); }

    std::string FolderMain() { return m_configuration.ReadMainPath(); }
    void setFolderMain(const std::string& folder) { m_configuration.WriteMainPath(folder); }

    std::string TimeFinish() const { return m_configuration.ReadUpdateFinish(); }
    void setTimeFinish(const std::string& value) { m_configuration.WriteUpdateFinish(value); }

    std::string TimeStart() const { return m_configuration.ReadUpdateStart(); }
    void setTimeStart(const std::string& value) { m_configuration.WriteUpdateStart(value); }

  private:
    Configuration& m_configuration;
    SettingsDialogOpener* m_dialog = nullptr;
};

}  // namespace tavrel::agent
