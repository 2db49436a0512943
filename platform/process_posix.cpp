#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/files.h"
#include "platform/process.h"

namespace tavrel::platform {

std::filesystem::path executablePath() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::filesystem::path(std::string(buffer, size_t(n)));
}

std::string commandLineText(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    return text;
}

std::vector<std::string> splitCommandLine(const std::string& text) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            if (!current.empty()) parts.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(std::move(current));
    return parts;
}

namespace {

int readFully(int fd, void* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, static_cast<char*>(data) + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    return int(done);
}

}  // namespace

int startDetached(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                  const std::filesystem::path& workingFolder) {
    std::filesystem::path resolved = program;
    if (!program.has_parent_path()) resolved = resolvePath(workingFolder / program);
    if (!fileExists(resolved)) return ENOENT;
    if (::access(resolved.c_str(), X_OK) != 0) return errno;

    std::vector<std::string> argvText;
    argvText.push_back(resolved.string());
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);

    // The grandchild reports a failed exec through this pipe; a successful exec
    // closes it (close-on-exec) and the parent reads nothing.
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return errno;
    const std::string folder = workingFolder.string();

    pid_t child = ::fork();
    if (child < 0) {
        int e = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return e;
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
        int e = 0;
        if (!folder.empty() && ::chdir(folder.c_str()) != 0) e = errno;
        if (e == 0) {
            ::execv(argv[0], argv.data());
            e = errno;
        }
        (void)!::write(pipeFds[1], &e, sizeof e);
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int execError = 0;
    int got = readFully(pipeFds[0], &execError, sizeof execError);
    ::close(pipeFds[0]);
    if (got == int(sizeof execError)) return execError ? execError : ECHILD;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return ECHILD;
    return 0;
}

std::filesystem::path currentFolder() {
    std::error_code ec;
    auto p = std::filesystem::current_path(ec);
    return ec ? std::filesystem::path() : p;
}

int setCurrentFolder(const std::filesystem::path& folder) {
    return ::chdir(folder.c_str()) == 0 ? 0 : errno;
}

}  // namespace tavrel::platform
