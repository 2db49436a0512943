#include "agent/tables/conversion_journal.h"

#include <array>
#include <utility>

#include "platform/crash_point.h"
#include "platform/files.h"

namespace tavrel::tables {
namespace {

constexpr std::string_view kJournalName = "TBLCONV.JNL";

using ListMember = std::vector<std::string> ConversionJournal::*;

struct ListKind {
    std::string_view word;
    ListMember member;
};

constexpr std::array<ListKind, 6> kLists = {{
    {"ABSENTDIR", &ConversionJournal::absentFolders},
    {"ABSENTFILE", &ConversionJournal::absentFiles},
    {"SAVED", &ConversionJournal::savedDescriptors},
    {"NEWTABLE", &ConversionJournal::newTables},
    {"MOVED", &ConversionJournal::movedTables},
    {"ADDED", &ConversionJournal::addedTables},
}};

std::string_view stateWord(JournalState state) {
    switch (state) {
        case JournalState::kDone:
            return "DONE";
        case JournalState::kRolledBack:
            return "ROLLEDBACK";
        default:
            return "CONVERTING";
    }
}

std::optional<JournalState> stateOf(std::string_view word) {
    for (auto state : {JournalState::kConverting, JournalState::kDone, JournalState::kRolledBack}) {
        if (word == stateWord(state)) return state;
    }
    return std::nullopt;
}

bool takeLine(ConversionJournal& journal, std::string_view line, bool* sawState) {
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return false;
    const std::string_view word = line.substr(0, blank);
    const std::string_view value = line.substr(blank + 1);
    if (word == "STATE") {
        const auto state = stateOf(value);
        if (!state) return false;
        journal.state = *state;
        *sawState = true;
        return true;
    }
    for (const ListKind& kind : kLists) {
        if (word == kind.word) {
            (journal.*kind.member).emplace_back(value);
            return true;
        }
    }
    return false;
}

}  // namespace

std::string ConversionJournal::text() const {
    std::string out = "STATE " + std::string(stateWord(state)) + "\n";
    for (const ListKind& kind : kLists) {
        for (const std::string& value : this->*kind.member) {
            out += std::string(kind.word) + " " + value + "\n";
        }
    }
    return out;
}

std::optional<ConversionJournal> ConversionJournal::parse(std::string_view text) {
    ConversionJournal journal;
    bool sawState = false;
    size_t lines = 0;
    for (size_t start = 0; start < text.size() && lines < kMaxLines; ++lines) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        if (!takeLine(journal, line, &sawState)) return std::nullopt;
    }
    if (!sawState) return std::nullopt;
    return journal;
}

std::string conversionJournalFile(const std::string& packageBackupFolder) {
    return platform::joinPath(packageBackupFolder, kJournalName);
}

int saveConversionJournal(const std::string& file, const ConversionJournal& journal) {
    platform::crashPoint("write conversion journal");
    return platform::writeFileAtomic(file, journal.text());
}

std::optional<ConversionJournal> loadConversionJournal(const std::string& file, bool* damaged) {
    if (damaged) *damaged = false;
    if (!platform::fileExists(file)) return std::nullopt;
    const auto text = platform::readFile(platform::resolvePath(file));
    auto journal = text ? ConversionJournal::parse(*text) : std::nullopt;
    if (!journal && damaged) *damaged = true;
    return journal;
}

}  // namespace tavrel::tables
