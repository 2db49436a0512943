#include "agent/session/update_level.h"

namespace tavrel::session {

std::strong_ordering compareLevels(std::string_view left, std::string_view right) {
    // char_traits<char> compares as unsigned char, so bytes above 127 order
    // after ASCII as a byte-wise comparison does.
    const int order = left.compare(right);
    if (order < 0) return std::strong_ordering::less;
    if (order > 0) return std::strong_ordering::greater;
    return std::strong_ordering::equal;
}

bool isNewerLevel(std::string_view candidate, std::string_view current) {
    return compareLevels(candidate, current) == std::strong_ordering::greater;
}

std::string_view levelNumber(std::string_view level) {
    if (level.size() <= kLevelPrefixLength) return {};
    return level.substr(kLevelPrefixLength, kLevelLength - kLevelPrefixLength);
}

}  // namespace tavrel::session
