#include "agent/history/operation_log.h"

#include <cerrno>
#include <utility>

#include "agent/history/log_file.h"
#include "agent/history/log_text.h"
#include "platform/files.h"

namespace tavrel::history {

OperationLog::OperationLog(std::string agentFolder, const platform::Clock& clock)
    : m_agentFolder(std::move(agentFolder)), m_clock(clock) {}

std::optional<std::filesystem::path> OperationLog::filePath() const {
    return logFilePath(m_agentFolder, kOperationLogFile);
}

int OperationLog::AppendOperationLog(std::string_view message) {
    const auto path = filePath();
    if (!path) return ENOENT;

    std::string content = platform::formatDateTime(m_clock.now(), platform::kOperationLogPattern);
    content += message;
    content += kLineBreak;

    if (platform::findPath(*path)) {
        int error = 0;
        auto old = platform::readFile(*path, &error);
        // Writing without the old entries would lose them.
        if (!old) return error ? error : EIO;
        content += *old;
    }
    return replaceLogFile(*path, content);
}

}  // namespace tavrel::history
