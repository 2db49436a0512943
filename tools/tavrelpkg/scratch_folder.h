// A scratch folder under the temporary folder, removed with its content. The
// commands that must not change the application folder let the descriptor
// scan make its work folders here instead.
#pragma once

#include <unistd.h>

#include <string>

#include "agent/session/file_helpers.h"
#include "platform/files.h"

namespace tavrel::tavrelpkg {

class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& purpose) {
        static int counter = 0;
        m_path = session::JoinPath(platform::fs::temp_directory_path().string(),
                                   "tavrelpkg-" + purpose + "-" + std::to_string(::getpid()) + "-" +
                                       std::to_string(++counter)) +
                 "/";
        platform::deleteFolderTree(m_path);
        platform::ensureFolder(m_path);
    }
    ~ScratchFolder() { platform::deleteFolderTree(m_path); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

}  // namespace tavrel::tavrelpkg
