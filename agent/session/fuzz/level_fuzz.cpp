// Feeds arbitrary version-file bytes through the level reader and checks the
// invariants the rest of the agent relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "agent/session/update_level.h"
#include "agent/session/version_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string level = tavrel::session::levelFromFileBytes(bytes, "TAVREL0000");
    if (level.size() != tavrel::session::kLevelLength) std::abort();
    if (size >= tavrel::session::kLevelLength && level != bytes.substr(0, level.size()))
        std::abort();
    if (size < tavrel::session::kLevelLength && level != "TAVREL0000") std::abort();
    const bool newer = tavrel::session::isNewerLevel(level, bytes);
    const bool older = tavrel::session::isNewerLevel(bytes, level);
    if (newer && older) std::abort();
    (void)tavrel::session::levelNumber(bytes);
    return 0;
}
