#include "agent/history/log_text.h"

namespace tavrel::history {

std::string NowText(const platform::Clock& clock) {
    return platform::formatDateTime(clock.now(), platform::kNowTextPattern);
}

std::string separatorLine(char mark, std::size_t count) { return std::string(count, mark); }

}  // namespace tavrel::history
