#include "platform/text_rules.h"

namespace tavrel::platform {

std::string upperText(std::string_view text) {
    std::string out(text);
    upperInPlace(out);
    return out;
}

std::string lowerText(std::string_view text) {
    std::string out(text);
    lowerInPlace(out);
    return out;
}

void upperInPlace(std::string& text) {
    for (char& c : text) c = upperAscii(c);
}

void lowerInPlace(std::string& text) {
    for (char& c : text) c = lowerAscii(c);
}

std::string_view trimLeftText(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    return text;
}

std::string_view trimRightText(std::string_view text) {
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view trimText(std::string_view text) { return trimRightText(trimLeftText(text)); }

std::string_view trimCharsLeftText(std::string_view text, std::string_view chars) {
    while (!text.empty() && chars.find(text.front()) != std::string_view::npos)
        text.remove_prefix(1);
    return text;
}

std::string_view trimCharsRightText(std::string_view text, std::string_view chars) {
    while (!text.empty() && chars.find(text.back()) != std::string_view::npos)
        text.remove_suffix(1);
    return text;
}

std::string_view trimCharsText(std::string_view text, std::string_view chars) {
    return trimCharsRightText(trimCharsLeftText(text, chars), chars);
}

std::string_view trimPadding(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
    return text;
}

bool sameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    return true;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           sameTextIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           sameTextIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace tavrel::platform
