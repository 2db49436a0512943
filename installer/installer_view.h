// What the installer's logic needs from its window and its event loop.
#pragma once

#include <functional>
#include <string>

namespace tavrel::installer {

// The installer's window as the logic sees it. Texts are shown as given; the
// logic has already put them in upper case where the window's boxes want it.
class InstallerView {
  public:
    virtual ~InstallerView() = default;
    virtual void showFolder(const std::string& text) = 0;
    virtual void showVersions(const std::string& installed, const std::string& updated) = 0;
    // Replaces the whole text of the log box.
    virtual void showLog(const std::string& text) = 0;
    virtual void setRunSetupEnabled(bool enabled) = 0;
    virtual void setExitEnabled(bool enabled) = 0;
    // Paints the window now, so the user sees progress inside a long step.
    virtual void repaintNow() = 0;
    // Starts the repeating timer whose ticks go to `Installer::onTimer`.
    virtual void startTickTimer(int milliseconds) = 0;
    // Closes the window, which ends the program.
    virtual void closeWindow() = 0;
};

// Runs a step after the events already waiting (a message posted to the
// installer's own window).
class EventQueue {
  public:
    virtual ~EventQueue() = default;
    virtual void post(std::function<void()> step) = 0;
};

}  // namespace tavrel::installer
