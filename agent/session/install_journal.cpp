#include "agent/session/install_journal.h"

#include <array>
#include <utility>

#include "agent/session/file_helpers.h"
#include "platform/crash_point.h"
#include "platform/files.h"

namespace tavrel::session {
namespace {

constexpr std::string_view kHeader = "TAVREL INSTALL JOURNAL 1";

constexpr std::array<std::pair<InstallState, std::string_view>, 5> kStateWords{{
    {InstallState::kConverting, "CONVERTING"},
    {InstallState::kBackingUp, "BACKINGUP"},
    {InstallState::kInstalling, "INSTALLING"},
    {InstallState::kDone, "DONE"},
    {InstallState::kRolledBack, "ROLLEDBACK"},
}};

std::optional<InstallState> stateOfWord(std::string_view word) {
    for (const auto& [state, text] : kStateWords) {
        if (text == word) return state;
    }
    return std::nullopt;
}

void addLines(std::string& out, std::string_view kind, const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        out += kind;
        out += ' ';
        out += path;
        out += '\n';
    }
}

// Takes one line of `text` from `pos`; false at the end.
bool nextLine(std::string_view text, size_t& pos, std::string_view& line) {
    if (pos >= text.size()) return false;
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = end + 1;
    return true;
}

bool applyLine(InstallJournal& journal, std::string_view kind, std::string_view value) {
    if (kind == "STATE") {
        const auto state = stateOfWord(value);
        if (!state) return false;
        journal.state = *state;
        return true;
    }
    if (kind == "LEVEL") {
        journal.levelBefore = std::string(value);
        return true;
    }
    if (kind == "TABLES") {
        journal.tableUpdateFile = std::string(value);
        return value.find_first_of("/\\") == std::string_view::npos;
    }
    std::vector<std::string>* list = kind == "BACKEDUP" ? &journal.backedUp
                                     : kind == "ADDED"  ? &journal.added
                                     : kind == "FOLDER" ? &journal.folders
                                                        : nullptr;
    if (list == nullptr || !isContainedRelativePath(value)) return false;
    list->emplace_back(value);
    return true;
}

}  // namespace

std::string_view installStateWord(InstallState state) {
    for (const auto& [value, text] : kStateWords) {
        if (value == state) return text;
    }
    return "UNKNOWN";
}

bool isContainedRelativePath(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.front() == '\\') return false;
    if (path.find(':') != std::string_view::npos) return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

std::string InstallJournal::text() const {
    std::string out(kHeader);
    out += "\nSTATE ";
    out += installStateWord(state);
    out += "\nLEVEL " + levelBefore + "\n";
    if (!tableUpdateFile.empty()) out += "TABLES " + tableUpdateFile + "\n";
    addLines(out, "BACKEDUP", backedUp);
    addLines(out, "ADDED", added);
    addLines(out, "FOLDER", folders);
    return out;
}

std::optional<InstallJournal> InstallJournal::parse(std::string_view text) {
    size_t pos = 0;
    std::string_view line;
    if (!nextLine(text, pos, line) || line != kHeader) return std::nullopt;
    InstallJournal journal;
    bool sawState = false;
    for (size_t count = 0; nextLine(text, pos, line); ++count) {
        if (count >= kMaxLines) return std::nullopt;
        if (line.empty()) continue;
        const size_t blank = line.find(' ');
        const std::string_view kind = line.substr(0, blank);
        const std::string_view value =
            blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
        if (!applyLine(journal, kind, value)) return std::nullopt;
        sawState = sawState || kind == "STATE";
    }
    if (!sawState) return std::nullopt;
    return journal;
}

std::string installJournalFile(std::string_view packageBackupFolder) {
    return JoinPath(packageBackupFolder, kInstallJournalName);
}

int saveInstallJournal(const std::string& file, const InstallJournal& journal) {
    platform::crashPoint("journal " + std::string(installStateWord(journal.state)) + " " + file);
    return platform::writeFileAtomic(file, journal.text());
}

std::optional<InstallJournal> loadInstallJournal(const std::string& file, bool* damaged) {
    if (damaged) *damaged = false;
    if (!platform::fileExists(file)) return std::nullopt;
    const auto text = platform::readFile(file);
    auto journal = text ? InstallJournal::parse(*text) : std::nullopt;
    if (!journal && damaged) *damaged = true;
    return journal;
}

}  // namespace tavrel::session
