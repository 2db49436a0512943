// What the main window's logic (MainWindow) needs from its window and from the
// agent around it. The Qt window implements MainWindowView; the program
// implements UpdateHistory and AgentServices over the history table, the
// engine, the operation log and the process service. Tests give recording
// fakes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "agent/history/update_list_model.h"

namespace tavrel::agent {

// Sizes are in twips; windows convert at this many twips per pixel.
inline constexpr int kTwipsPerPixel = 15;

// Indexes of the Application menu, its command buttons and the tray menu.
enum class ApplicationItem : int {
    Hide = 0,         // "Hide"
    TrimLog = 1,      // "Trim Update Log Table"
    RefreshList = 2,  // "Refresh List"
    UpdateCheck = 4,  // "Update Check"
    Settings = 6,     // "Settings"
    About = 8,        // "About"
    Exit = 10,        // "Exit"
};
inline constexpr int kApplicationItemCount = 11;

// Indexes of the Options menu.
enum class OptionItem : int {
    HideInTray = 0,       // "Hide In System Tray"
    HideOnMinimize = 1,   // "Hide on Minimize Button"
    ShowMenuButtons = 5,  // "Show Menu Buttons"
};
inline constexpr int kOptionItemCount = 6;

// Message box styles, as the system numbers them.
enum class MessageStyle : int {
    Information = 64,  // the information icon and an OK button
};

// How a close of the main window was asked for.
enum class CloseSource : int {
    CloseBox = 0,  // the window's close box (or the system menu)
    Code = 1,      // the program itself unloads the window
};

// Where the arranged controls go, from the window's current size.
struct WindowLayout {
    bool buttonsVisible = true;     // picWindow(0)
    int listPanelWidthTwips = 0;    // picWindow(1); lvwUpdates and rtbReport fill it
    int folderLabelWidthTwips = 0;  // lblTavrelPath
};

// Information message boxes (the notices 3500 and 4500, errors that must be seen).
class MessageBoxView {
  public:
    virtual ~MessageBoxView() = default;
    // Shows the box modally; returns when the user has closed it.
    virtual void showMessageBox(const std::string& title, const std::string& text,
                                MessageStyle style) = 0;
};

class MainWindowView : public MessageBoxView {
  public:
    virtual void setCaption(const std::string& caption) = 0;
    // The window icon: the image of a state key ("GENERAL", "AUTOMATIC", "RUNNING", "STOPPED").
    virtual void setStateIcon(std::string_view stateKey) = 0;

    // Menus and buttons, by index.
    virtual void setApplicationMenuEnabled(bool enabled) = 0;
    virtual void setApplicationItemEnabled(int index, bool enabled) = 0;
    virtual void setButtonEnabled(int index, bool enabled) = 0;
    virtual void setTrayItemEnabled(int index, bool enabled) = 0;
    virtual void setOptionChecked(int index, bool checked) = 0;
    // `toolTip` says why an item is unavailable; empty when it is available.
    virtual void setOptionEnabled(int index, bool enabled, const std::string& toolTip) = 0;
    virtual void setReportMenuCaption(const std::string& caption) = 0;
    // Caption of tray menu item 0, and whether the tray menu shows in the menu bar.
    virtual void setTrayShowCaption(const std::string& caption) = 0;
    virtual void setTrayMenuInMenuBar(bool visible) = 0;

    // Status bar panels by key ("STATUS", "LASTCHECK", "UPDVERSION", ...).
    virtual void setPanelText(std::string_view key, const std::string& text) = 0;
    virtual void setPanelToolTip(std::string_view key, const std::string& toolTip) = 0;
    virtual std::string panelText(std::string_view key) const = 0;
    // lblTavrelPath.
    virtual void setFolderText(const std::string& text) = 0;

    // Geometry, in twips.
    virtual int windowWidthTwips() const = 0;
    virtual int windowHeightTwips() const = 0;
    virtual void setWindowSizeTwips(int width, int height) = 0;
    virtual int clientWidthTwips() const = 0;
    virtual int buttonColumnWidthTwips() const = 0;
    virtual int folderPanelWidthTwips() const = 0;
    virtual int folderLabelLeftTwips() const = 0;
    virtual void applyLayout(const WindowLayout& layout) = 0;

    // Visibility and window state.
    virtual bool isWindowVisible() const = 0;
    // True when the window is neither minimised nor maximised.
    virtual bool isWindowNormal() const = 0;
    // Makes the window visible and brings it to the front.
    virtual void showWindow() = 0;
    virtual void hideWindow() = 0;
    virtual void restoreNormalState() = 0;
    // Lets the window events already waiting run.
    virtual void processPendingEvents() = 0;

    // The history list and the report box.
    virtual void showUpdateList(const history::UpdateListModel& list) = 0;
    // The key of the selected list item, or nullopt when none is selected.
    virtual std::optional<std::string> selectedItemKey() const = 0;
    // Shows rtbReport with `text` and cmdCloseReport, hides lvwUpdates.
    virtual void showReport(const std::string& text) = 0;
    // Shows lvwUpdates, hides and empties rtbReport and hides cmdCloseReport.
    virtual void hideReport() = 0;

    // Timer1: interval in milliseconds, and running or not.
    virtual int timerInterval() const = 0;
    virtual void setTimerInterval(int milliseconds) = 0;
    virtual void setTimerEnabled(bool enabled) = 0;

    // The notification-area icon. Without a notification area nothing is shown.
    virtual bool trayAvailable() const = 0;
    virtual void addTrayIcon(std::string_view stateKey, const std::string& tip) = 0;
    virtual void modifyTrayIcon(std::string_view stateKey, const std::string& tip) = 0;
    virtual void deleteTrayIcon() = 0;
    // Pops up the tray menu at the pointer with "Show" as its default item.
    virtual void popupTrayMenu() = 0;

    // Modal windows.
    virtual void showAboutBox() = 0;
    virtual void showHideOnClose() = 0;
    virtual void showHideOnMinimize() = 0;

    // Unloads the window: the close request (MainWindow::QueryUnload with
    // CloseSource::Code) and, when it is granted, MainWindow::Form_Unload.
    virtual void unloadWindow() = 0;
};

// The update history as the main window uses it.
class UpdateHistory {
  public:
    virtual ~UpdateHistory() = default;
    virtual void ImportInstallerResult() = 0;
    // Fills `list` (see HistoryTable::LoadUpdateList); `trim` runs when the
    // list holds more than `keepLastRecords` items.
    virtual void LoadUpdateList(history::UpdateListModel& list, bool configured,
                                int keepLastRecords, const std::function<void()>& trim) = 0;
    virtual std::optional<std::string> ReadUpdateReport(const std::string& itemKey) = 0;
    // The number of records trimmed, or -1 when the table cannot be opened.
    virtual int TrimUpdateLogTable(int keepLastRecords) = 0;
};

// The rest of the agent, as the main window reaches it.
class AgentServices {
  public:
    virtual ~AgentServices() = default;
    // Closes the database engine (code4close, then code4initUndo); the run
    // state's handle becomes 0 when that succeeds.
    virtual void closeEngine() = 0;
    virtual void appendOperationLog(const std::string& message) = 0;
    // Starts `program` detached, in the agent folder, with `switches` (the
    // kept command-line switches, possibly empty) as its arguments. 0, or the
    // error number when it could not be started.
    virtual int startProgram(const std::string& program, const std::string& switches) = 0;
};

}  // namespace tavrel::agent
