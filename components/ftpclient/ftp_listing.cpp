#include "components/ftpclient/ftp_listing.h"

#include <array>
#include <cstdio>

#include "platform/text_rules.h"

namespace tavrel::ftpclient {
namespace {

using platform::isBlank;
using platform::isDigitAscii;

// A word of the line and where it ends, so the name can be taken from the
// original text with its inner blanks.
struct Token {
    std::string_view text;
    std::size_t end = 0;
};

// Splits at runs of blanks; at most `limit` tokens are needed to find the name.
std::vector<Token> tokens(std::string_view line, std::size_t limit) {
    std::vector<Token> out;
    std::size_t i = 0;
    while (i < line.size() && out.size() < limit) {
        while (i < line.size() && isBlank(line[i])) ++i;
        std::size_t start = i;
        while (i < line.size() && !isBlank(line[i])) ++i;
        if (i > start) out.push_back({line.substr(start, i - start), i});
    }
    return out;
}

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!isDigitAscii(c)) return false;
    return true;
}

// Small numbers of dates and times (at most 4 digits); -1 when not a number.
int smallNumber(std::string_view text) {
    if (text.empty() || text.size() > 4 || !allDigits(text)) return -1;
    int value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    return value;
}

// A size of up to 64 bits; false on anything else, overflow included.
bool parseSize(std::string_view text, std::uint64_t& size) {
    if (!allDigits(text) || text.size() > 20) return false;
    std::uint64_t value = 0;
    for (char c : text) {
        std::uint64_t digit = std::uint64_t(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    size = value;
    return true;
}

int monthNumber(std::string_view text) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (std::size_t i = 0; i < kMonths.size(); ++i)
        if (platform::sameTextIgnoringCase(text, kMonths[i])) return int(i) + 1;
    return 0;
}

std::string dateText(int year, int month, int day) {
    char buffer[40];  // room for any int, so nothing is cut
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
    return buffer;
}

std::string timeText(int hour, int minute) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d", hour, minute);
    return buffer;
}

// "HH:MM"; false unless both parts are in range.
bool parseClock(std::string_view text, int& hour, int& minute) {
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    hour = smallNumber(text.substr(0, colon));
    minute = smallNumber(text.substr(colon + 1));
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && text.size() - colon - 1 == 2;
}

void storeSize(RemoteEntry& entry, std::uint64_t size) {
    entry.sizeLow = std::uint32_t(size & 0xFFFFFFFFu);
    entry.sizeHigh = std::uint32_t(size >> 32);
}

std::string_view withoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    return line;
}

// The name after the date: ls puts one blank before it, so any further blanks
// belong to the name.
std::string_view unixName(std::string_view line, std::size_t dateEnd) {
    if (dateEnd >= line.size()) return {};
    return line.substr(dateEnd + 1);
}

bool looksLikeUnixMode(std::string_view mode) {
    static constexpr std::string_view kKinds = "-dlbcpsD";
    return mode.size() >= 10 && kKinds.find(mode[0]) != std::string_view::npos;
}

ListingLine parseUnix(std::string_view line, const ListingToday& today, RemoteEntry& entry) {
    std::vector<Token> t = tokens(line, 12);
    if (t.size() < 6 || !looksLikeUnixMode(t[0].text)) return ListingLine::kMalformed;
    // Owner and group may each be missing, so the month is searched for.
    for (std::size_t m = 2; m + 2 < t.size() && m <= 6; ++m) {
        int month = monthNumber(t[m].text);
        int day = smallNumber(t[m + 1].text);
        std::uint64_t size = 0;
        if (month == 0 || day < 1 || day > 31 || !parseSize(t[m - 1].text, size)) continue;
        int year = 0, hour = 0, minute = 0;
        std::string_view yearOrClock = t[m + 2].text;
        if (yearOrClock.size() == 4 && allDigits(yearOrClock)) {
            year = smallNumber(yearOrClock);
        } else if (parseClock(yearOrClock, hour, minute)) {
            // No year: the date lies within the last half year, so a date
            // after tomorrow belongs to last year.
            year = today.year;
            if (month * 32 + day > today.month * 32 + today.day + 1) --year;
        } else {
            continue;
        }
        std::string_view name = unixName(line, t[m + 2].end);
        bool isLink = t[0].text[0] == 'l';
        if (isLink) {
            std::size_t arrow = name.find(" -> ");
            if (arrow != std::string_view::npos) name = name.substr(0, arrow);
        }
        if (name.empty()) return ListingLine::kMalformed;
        entry = RemoteEntry{};
        entry.name = std::string(name);
        storeSize(entry, size);
        entry.date = dateText(year, month, day);
        entry.time = timeText(hour, minute);
        entry.attributes = std::string(t[0].text);
        entry.isDirectory = t[0].text[0] == 'd';
        return ListingLine::kEntry;
    }
    return ListingLine::kMalformed;
}

// "MM-DD-YY" or "MM-DD-YYYY" (IIS also writes "/").
bool parseDosDate(std::string_view text, int& year, int& month, int& day) {
    if (text.size() != 8 && text.size() != 10) return false;
    char separator = text[2];
    if ((separator != '-' && separator != '/') || text[5] != separator) return false;
    month = smallNumber(text.substr(0, 2));
    day = smallNumber(text.substr(3, 2));
    year = smallNumber(text.substr(6));
    if (month < 1 || month > 12 || day < 1 || day > 31 || year < 0) return false;
    if (text.size() == 8) year += year < 70 ? 2000 : 1900;
    return true;
}

// "02:30PM", "02:30 PM" (two tokens) or "14:30"; `used` tells how many tokens.
bool parseDosTime(const std::vector<Token>& t, std::size_t at, int& hour, int& minute,
                  std::size_t& used) {
    std::string_view text = t[at].text;
    std::string_view half;
    used = 1;
    if (text.size() > 2 && (platform::endsWithIgnoringCase(text, "AM") ||
                            platform::endsWithIgnoringCase(text, "PM"))) {
        half = text.substr(text.size() - 2);
        text.remove_suffix(2);
    } else if (at + 1 < t.size() && (platform::sameTextIgnoringCase(t[at + 1].text, "AM") ||
                                     platform::sameTextIgnoringCase(t[at + 1].text, "PM"))) {
        half = t[at + 1].text;
        used = 2;
    }
    if (!parseClock(text, hour, minute)) return false;
    if (half.empty()) return true;
    if (hour < 1 || hour > 12) return false;
    bool pm = platform::upperAscii(half[0]) == 'P';
    hour = hour % 12 + (pm ? 12 : 0);
    return true;
}

ListingLine parseDos(std::string_view line, RemoteEntry& entry) {
    std::vector<Token> t = tokens(line, 5);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    std::size_t used = 0;
    if (t.size() < 4 || !parseDosDate(t[0].text, year, month, day) ||
        !parseDosTime(t, 1, hour, minute, used))
        return ListingLine::kMalformed;
    std::size_t sizeAt = 1 + used;
    if (sizeAt >= t.size()) return ListingLine::kMalformed;
    bool isDirectory = platform::sameTextIgnoringCase(t[sizeAt].text, "<DIR>");
    std::uint64_t size = 0;
    if (!isDirectory && !parseSize(t[sizeAt].text, size)) return ListingLine::kMalformed;
    // DOS pads the size column with blanks, so the name starts at the next non-blank.
    std::size_t start = t[sizeAt].end;
    while (start < line.size() && isBlank(line[start])) ++start;
    if (start >= line.size()) return ListingLine::kMalformed;
    entry = RemoteEntry{};
    entry.name = std::string(line.substr(start));
    storeSize(entry, size);
    entry.date = dateText(year, month, day);
    entry.time = timeText(hour, minute);
    entry.attributes = isDirectory ? "<DIR>" : "";
    entry.isDirectory = isDirectory;
    return ListingLine::kEntry;
}

}  // namespace

bool RemoteEntry::isUnsafe() const { return isUnsafeEntryName(name); }

ListingLine parseListingLine(std::string_view line, const ListingToday& today, RemoteEntry& entry) {
    line = withoutLineEnd(line);
    std::string_view trimmed = platform::trimText(line);
    if (trimmed.empty()) return ListingLine::kSkipped;
    if (platform::startsWithIgnoringCase(trimmed, "total ") &&
        allDigits(platform::trimText(trimmed.substr(6))))
        return ListingLine::kSkipped;
    if (isDigitAscii(trimmed[0])) return parseDos(trimmed, entry);
    return parseUnix(line, today, entry);
}

std::vector<RemoteEntry> parseListing(std::string_view text, const ListingToday& today,
                                      int* malformed) {
    std::vector<RemoteEntry> entries;
    int bad = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        RemoteEntry entry;
        ListingLine kind = parseListingLine(text.substr(start, end - start), today, entry);
        if (kind == ListingLine::kEntry) entries.push_back(std::move(entry));
        if (kind == ListingLine::kMalformed) ++bad;
        start = end + 1;
    }
    if (malformed) *malformed = bad;
    return entries;
}

bool isUnsafeEntryName(std::string_view name) {
    std::string_view trimmed = platform::trimText(name);
    if (trimmed.empty() || trimmed == "." || trimmed == "..") return true;
    for (char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return trimmed.size() >= 2 && platform::isAlphaAscii(trimmed[0]) && trimmed[1] == ':';
}

}  // namespace tavrel::ftpclient
