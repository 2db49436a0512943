// Test helpers: a private folder under the system's temporary folder that is
// removed with everything in it when the helper goes, and small file helpers.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>

namespace tavrel::testing {

namespace fs = std::filesystem;

class ScratchFolder {
  public:
    ScratchFolder() {
        static std::atomic<int> counter{0};
        m_path = fs::temp_directory_path() /
                 ("tavrel-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(m_path);
        fs::create_directories(m_path);
        // Other users (see runUnprivileged) must be able to reach it.
        fs::permissions(m_path, fs::perms::all);
    }
    ~ScratchFolder() {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(m_path, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(m_path, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return m_path; }
    // The folder as text with the trailing separator, as the agent holds folders.
    std::string text() const { return m_path.string() + "/"; }
    fs::path operator/(std::string_view name) const { return m_path / name; }

  private:
    fs::path m_path;
};

inline void writeBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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
