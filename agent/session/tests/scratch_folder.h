// Test helpers of the agent: a temporary folder that other users can reach,
// the shared file-byte helpers, and running a piece of a test in a child
// process (optionally without root's rights).
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/tests/temp_folder.h"

namespace tavrel::testing {

namespace fs = std::filesystem;

// A temporary folder that other users can reach too (see runUnprivileged).
class ScratchFolder : public platform::testing::TempFolder {
  public:
    ScratchFolder() { fs::permissions(path(), fs::perms::all); }
};

using platform::testing::readBytes;
using platform::testing::writeBytes;

// Runs `work` in a child process and returns what it returned (0 to 254), or
// -1 when the child could not run it. With `unprivileged`, the child first gives
// up root's right to ignore file permissions (it runs as "nobody" when the
// tests run as root), so permission cases hold whatever account runs the tests.
// The child leaves with _exit: process-wide changes it makes (locale, working
// folder) and what the C library keeps for them stay out of the test process.
inline int runInChild(const std::function<int()>& work, bool unprivileged = false) {
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(255);
        }
        const int result = work();
        ::_exit(result >= 0 && result < 255 ? result : 254);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

inline int runUnprivileged(const std::function<int()>& work) { return runInChild(work, true); }

}  // namespace tavrel::testing
