// Feeds arbitrary profile text, section, key and value to the profile reader
// and editor: no crash, and an edit reads back as written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/profile_file.h"

using namespace tavrel::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // Layout: section \x01 key \x01 value \x01 text
    std::string_view parts[3];
    for (auto& part : parts) {
        size_t cut = input.find('\x01');
        if (cut == std::string_view::npos) return 0;
        part = input.substr(0, cut);
        input.remove_prefix(cut + 1);
    }
    const auto [section, key, value] = parts;
    (void)findProfileValue(input, section, key);
    std::string edited = editProfileText(input, section, key, value);
    // Names made only of plain characters must read back what was written.
    auto plain = [](std::string_view s) {
        if (s.empty() || s.size() > 20) return false;
        for (char c : s) {
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
                return false;
        }
        return true;
    };
    if (plain(section) && plain(key) && plain(value)) {
        auto back = findProfileValue(edited, section, key);
        if (!back || *back != value) std::abort();
    }
    return 0;
}
