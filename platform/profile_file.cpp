#include "platform/profile_file.h"

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::platform {
namespace {

// A line keeps its CR when the file has CR LF line ends; other blanks (vertical
// tab, form feed) are part of a name or value, as the Windows read keeps them.
std::string_view trim(std::string_view s) {
    return trimCharsRightText(trimCharsLeftText(s, " \t"), " \t\r");
}

// One line of the file, without its line end.
struct Line {
    std::string_view text;
    size_t begin = 0;  // offset of the line in the file text
    size_t end = 0;    // offset just past its line end
};

std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    // A byte-order mark that an editor put in front of the first line is not
    // part of it; it stays in the file as it was.
    size_t pos = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t stop = nl == std::string_view::npos ? text.size() : nl;
        size_t next = nl == std::string_view::npos ? text.size() : nl + 1;
        std::string_view body = text.substr(pos, stop - pos);
        if (!body.empty() && body.back() == '\r') body.remove_suffix(1);
        lines.push_back({body, pos, next});
        pos = next;
    }
    return lines;
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> sectionName(std::string_view line) {
    line = trim(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    line.remove_prefix(1);
    size_t close = line.find(']');
    return trim(close == std::string_view::npos ? line : line.substr(0, close));
}

// The key of a "key=value" line, or nullopt for comments and other lines.
std::optional<std::string_view> keyName(std::string_view line) {
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';') return std::nullopt;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return trim(t.substr(0, eq));
}

std::string_view valueOf(std::string_view line) {
    std::string_view v = trim(line.substr(line.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

// Where a section's lines lie: [first, last) as line indexes, first = header.
struct SectionSpan {
    size_t header;
    size_t end;
};

std::optional<SectionSpan> findSection(const std::vector<Line>& lines, std::string_view section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        auto name = sectionName(lines[i].text);
        if (!name || !sameTextIgnoringCase(*name, section)) continue;
        size_t end = i + 1;
        while (end < lines.size() && !sectionName(lines[end].text)) ++end;
        return SectionSpan{i, end};
    }
    return std::nullopt;
}

std::optional<size_t> findKey(const std::vector<Line>& lines, SectionSpan span,
                              std::string_view key) {
    for (size_t i = span.header + 1; i < span.end; ++i) {
        auto name = keyName(lines[i].text);
        if (name && sameTextIgnoringCase(*name, key)) return i;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> findProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
    const auto lines = splitLines(text);
    auto span = findSection(lines, section);
    if (!span) return std::nullopt;
    auto index = findKey(lines, *span, key);
    if (!index) return std::nullopt;
    return std::string(valueOf(lines[*index].text));
}

std::string editProfileText(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value) {
    const std::string eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    const auto lines = splitLines(text);
    // A line break inside a value would turn the rest of it into lines of their
    // own (a forged key or section); it is stored as a blank instead.
    std::string flat(value);
    for (char& c : flat) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    value = flat;
    const std::string keyLine = std::string(key) + "=" + std::string(value) + eol;
    std::string out(text);
    auto span = findSection(lines, section);
    if (!span) {
        if (value.empty()) return out;
        if (!out.empty() && out.back() != '\n') out += eol;
        return out + "[" + std::string(section) + "]" + eol + keyLine;
    }
    if (auto index = findKey(lines, *span, key)) {
        const Line& line = lines[*index];
        // Keep the key as it is spelled in the file; replace only its value.
        std::string replacement;
        if (!value.empty()) {
            replacement = std::string(*keyName(line.text)) + "=" + std::string(value) + eol;
        }
        return out.replace(line.begin, line.end - line.begin, replacement);
    }
    if (value.empty()) return out;
    // A new key goes after the section's last non-blank line, so blank lines
    // that separate it from the next section stay where they are.
    size_t after = span->header;
    for (size_t i = span->header + 1; i < span->end; ++i) {
        if (!trim(lines[i].text).empty()) after = i;
    }
    size_t at = lines[after].end;
    std::string insert = keyLine;
    if (at == out.size() && !out.empty() && out.back() != '\n') insert = eol + keyLine;
    return out.insert(at, insert);
}

std::optional<std::string> readProfileValue(const std::filesystem::path& file,
                                            std::string_view section, std::string_view key) {
    auto text = readFile(file);
    if (!text) return std::nullopt;
    return findProfileValue(*text, section, key);
}

std::string readProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue) {
    auto value = readProfileValue(file, section, key);
    return value ? *value : std::string(defaultValue);
}

long long readProfileInteger(const std::filesystem::path& file, std::string_view section,
                             std::string_view key, long long defaultValue) {
    auto value = readProfileValue(file, section, key);
    if (!value) return defaultValue;
    std::string_view v = trim(*value);
    // An empty value counts as missing, as in the Windows integer read.
    if (v.empty()) return defaultValue;
    bool negative = false;
    if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    long long result = 0;
    for (char c : v) {
        if (c < '0' || c > '9') break;
        int digit = c - '0';
        if (result > (LLONG_MAX - digit) / 10) {
            result = LLONG_MAX;
            break;
        }
        result = result * 10 + digit;
    }
    return negative ? -result : result;
}

int writeProfileString(const std::filesystem::path& file, std::string_view section,
                       std::string_view key, std::string_view value) {
    int error = 0;
    auto text = readFile(file, &error);
    if (!text) {
        if (error != ENOENT) return error;
        if (value.empty()) return 0;  // nothing to remove, and no file to create
        text = std::string();
    }
    std::string edited = editProfileText(*text, section, key, value);
    if (edited == *text && fileExists(file)) return 0;
    return writeFileAtomic(file, edited);
}

}  // namespace tavrel::platform
