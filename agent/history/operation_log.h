// The operation log "LOG.TXT" in the agent folder: start-up, schedule and
// shut-down events, newest entry first.
//
// Each entry is one line: the date and time as "ddd dd mmm yyyy Hh:Nn:Ss "
// (English names, trailing blank), the message, and a line break. The file
// grows without limit.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace tavrel::history {

inline constexpr std::string_view kOperationLogFile = "LOG.TXT";

class OperationLog {
  public:
    // `agentFolder`: the agent's folder, with or without the trailing separator.
    // `clock` is borrowed and must outlive the log.
    OperationLog(std::string agentFolder, const platform::Clock& clock);

    // Puts an entry for `message` in front of the file's content, creating the
    // file when it is missing. The file is replaced as a whole (new file
    // renamed over the old one), so the old entries survive any failure.
    // Returns 0, or the error number when the entry could not be written: the
    // old file cannot be read (nothing is written then, so its entries are
    // never lost), the file is read-only (EACCES), the folder is missing or
    // cannot be written. A failure never throws and never stops the agent.
    int AppendOperationLog(std::string_view message);

    // The log file (an existing "log.txt" in another case counts as it);
    // nullopt when the agent folder is empty.
    std::optional<std::filesystem::path> filePath() const;

  private:
    std::string m_agentFolder;
    const platform::Clock& m_clock;
};

}  // namespace tavrel::history
