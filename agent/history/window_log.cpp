#include "agent/history/window_log.h"

#include <cerrno>
#include <utility>

#include "agent/history/log_file.h"
#include "agent/history/log_text.h"

namespace tavrel::history {
namespace {

const std::string kNoText;

bool isPage(int page) { return page >= 0 && page < kWindowLogPages; }
bool hasStatus(int page) { return page >= 0 && page < kWindowLogStatusLabels; }

}  // namespace

WindowLog::WindowLog(FolderSource updateRootFolder)
    : m_updateRootFolder(std::move(updateRootFolder)) {}

int WindowLog::WriteWindowLog(WindowLogAction action, int page, std::string_view text,
                              WindowLogTarget target) {
    if (!isPage(page)) return EINVAL;
    switch (action) {
        case WindowLogAction::Clear:
            m_pages[page].clear();
            if (m_view) m_view->pageCleared(page);
            return 0;
        case WindowLogAction::Append:
            if (target == WindowLogTarget::Page || target == WindowLogTarget::PageAndStatus) {
                addLine(page, text);
            }
            if (target == WindowLogTarget::Status || target == WindowLogTarget::PageAndStatus) {
                setStatus(page, text);
            }
            return 0;
        case WindowLogAction::Save:
            return savePage(page);
    }
    return EINVAL;
}

void WindowLog::addLine(int page, std::string_view text) {
    std::string& box = m_pages[page];
    if (!box.empty()) box += kLineBreak;
    box += text;
    if (m_view) m_view->lineAdded(page, text);
}

void WindowLog::setStatus(int page, std::string_view text) {
    if (!hasStatus(page)) return;
    m_status[page] = text;
    if (m_view) m_view->statusChanged(page, text);
}

int WindowLog::savePage(int page) const {
    const auto file = pageFile(page);
    if (!file) return ENOENT;
    std::string content = m_pages[page];
    content += kLineBreak;
    content += separatorLine('+', kSavedPageRuleLength);
    content += kLineBreak;
    return replaceLogFile(*file, content);
}

const std::string& WindowLog::pageText(int page) const {
    return isPage(page) ? m_pages[page] : kNoText;
}

const std::string& WindowLog::statusText(int page) const {
    return hasStatus(page) ? m_status[page] : kNoText;
}

std::optional<std::filesystem::path> WindowLog::pageFile(int page) const {
    if (!isPage(page)) return std::nullopt;
    const std::string folder = m_updateRootFolder ? m_updateRootFolder() : std::string();
    return logFilePath(folder, "TAVRELUPD" + std::to_string(page) + ".LOG");
}

}  // namespace tavrel::history
