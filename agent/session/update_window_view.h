// What the update session needs from the update window frmUpdate: the controls
// it enables, checks and fills, its timer, its closing and the notice it shows.
// The log pages (history::WindowLogView), the status bar panels (StatusPanels)
// and the tab pages (ConversionProgressView::SelectLogPage) are views of their
// own. Every call tells the window of a change that has already happened in
// the session's state; the window decides nothing.
#pragma once

#include <string>
#include <string_view>

namespace tavrel::session {

// The window's command buttons.
enum class UpdateButton : int {
    kConnect = 0,     // cmdConnect "Check For Update"
    kDisconnect = 1,  // cmdDisconnect "Disconnect"
    kExit = 2,        // cmdExit "Exit"
};

// The items of the "Options" menu that carry a check mark.
enum class OptionsItem : int {
    kShowCommandLog = 0,    // "Show Command Log"
    kIgnoreThisUpdate = 1,  // "Ignore This Update"
    kProduceTraceFile = 2,  // "Produce Trace File"
};

class UpdateWindowView {
  public:
    virtual ~UpdateWindowView() = default;
    virtual void setButtonEnabled(UpdateButton button, bool enabled) = 0;
    virtual void setMenuItem(OptionsItem item, bool checked, bool enabled) = 0;
    // True: rtbLog(3) stands in the place of rtbLog(0); false: rtbLog(0) again.
    virtual void showCommandLog(bool shown) = 0;

    // lstRemoteFiles: emptied (no current item), an item inserted at `index`
    // (the list is kept in ascending order of names), an item's selection mark
    // set, the current item moved (-1 = none).
    virtual void remoteListCleared() = 0;
    virtual void remoteItemInserted(int index, std::string_view name) = 0;
    virtual void remoteItemSelected(int index, bool selected) = 0;
    virtual void remoteCurrentItem(int index) = 0;

    // pbr1 now shows `value` between 0 and `maximum`.
    virtual void transferProgressChanged(int value, int maximum) = 0;
    // The date-time label.
    virtual void showDateTime(std::string_view text) = 0;
    // Timer1: started (or restarted) with the interval, or stopped.
    virtual void setTimer(bool running, int intervalMilliseconds) = 0;

    // Asks the window to close; it then asks the closing rules as for any
    // other close (UpdateSession::QueryUnload).
    virtual void closeWindow() = 0;
    // Notice 4500: a new agent version was downloaded (a user session only).
    virtual void showUpdateNotice() = 0;
    // Lets pending window messages run (repaint, input), inside a long step.
    virtual void letEventsRun() = 0;
};

}  // namespace tavrel::session
