// Stands in for the agent TavrelUpdate1.exe in the installer's tests: appends
// one record of how it was started to AGENT_STARTED.TXT in its current folder.
//
//   program=<argv[0]>
//   cwd=<current folder>
//   arg=<each argument>
//   end
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <string>

int main(int argc, char** argv) {
    char cwd[PATH_MAX] = {};
    if (!::getcwd(cwd, sizeof cwd)) return 1;
    std::string record = std::string("program=") + argv[0] + "\ncwd=" + cwd + "\n";
    for (int i = 1; i < argc; ++i) record += std::string("arg=") + argv[i] + "\n";
    record += "end\n";
    const int fd = ::open("AGENT_STARTED.TXT", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return 1;
    // One write, so a reader never sees half a record.
    const bool written = ::write(fd, record.data(), record.size()) == ssize_t(record.size());
    ::close(fd);
    return written ? 0 : 1;
}
