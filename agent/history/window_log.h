// The log pages and status labels of the update window, kept apart from the
// window so that the session's narration can be driven and tested without Qt.
//
//   page  tab caption       status label
//   0     "Update Check"    0   FTP session and package discovery
//   1     "Update Version"  1   package installation
//   2     "Update Tables"   2   table conversion
//   3     (page 0's place)  -   FTP command replies
//
// A page holds plain text whose lines are separated by kLineBreak; new text is
// always added at the end as a new line. A page is saved to
// UpdateRootFolder + "TAVRELUPD" + page number + ".LOG".
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tavrel::history {

inline constexpr int kWindowLogPages = 4;
inline constexpr int kWindowLogStatusLabels = 3;
// Characters of the "+" line that closes a saved page.
inline constexpr std::size_t kSavedPageRuleLength = 120;

// What WriteWindowLog does. The numbers are the system's; never renumber.
enum class WindowLogAction : int {
    Clear = 1000,   // empty the page
    Append = 1005,  // add a line and/or set the status label, by target
    Save = 1010,    // save the page to its file, replacing it
};

// Where an Append goes. The numbers are the system's; never renumber. Any
// other value makes an Append do nothing.
enum class WindowLogTarget : int {
    Page = 2,           // a new line on the page
    Status = 4,         // the page's status label
    PageAndStatus = 6,  // both
};

// What shows the pages (the update window). Told of every change after it
// happened; the texts passed are valid only during the call.
class WindowLogView {
  public:
    virtual ~WindowLogView() = default;
    // The page was emptied.
    virtual void pageCleared(int page) = 0;
    // `line` was added to the page as a new line (it may itself hold line breaks).
    virtual void lineAdded(int page, std::string_view line) = 0;
    // The status label of `page` (0 to 2) now reads `text`.
    virtual void statusChanged(int page, std::string_view text) = 0;
};

class WindowLog {
  public:
    using FolderSource = std::function<std::string()>;

    // `updateRootFolder` yields the application's "UPDATE" folder; it is asked at
    // every save.
    explicit WindowLog(FolderSource updateRootFolder);

    // The view to tell of changes, or nullptr for none. Borrowed: it must
    // outlive this log or be replaced before it goes.
    void setView(WindowLogView* view) { m_view = view; }

    // Clear: empties the page. Append: target Page adds `text` as a new line
    // (a line break goes before it when the page is not empty), Status sets the
    // page's label (page 3 has none, so nothing happens), PageAndStatus does
    // both; other targets do nothing. Save: replaces the page's file with the
    // page text, a line break, 120 "+" and a line break.
    // Returns 0; EINVAL for a page outside 0 to 3 or an unknown action (nothing
    // happens then); for a save that fails, the error number (ENOENT for a
    // missing or unset folder, EACCES for a read-only file) with the previous
    // file left whole.
    int WriteWindowLog(WindowLogAction action, int page, std::string_view text = {},
                       WindowLogTarget target = WindowLogTarget::Page);

    // The text of a page and of a status label; empty text for a number out of range.
    const std::string& pageText(int page) const;
    const std::string& statusText(int page) const;

    // The file a page is saved to (an existing file named in another case counts
    // as it); nullopt for a page out of range or an unset folder.
    std::optional<std::filesystem::path> pageFile(int page) const;

  private:
    void addLine(int page, std::string_view text);
    void setStatus(int page, std::string_view text);
    int savePage(int page) const;

    FolderSource m_updateRootFolder;
    WindowLogView* m_view = nullptr;
    std::array<std::string, kWindowLogPages> m_pages;
    std::array<std::string, kWindowLogStatusLabels> m_status;
};

}  // namespace tavrel::history
