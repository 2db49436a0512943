// Starting the agent and the setup program.
#pragma once

#include <filesystem>
#include <string>

namespace tavrel::installer {

// At most this many characters of a command line are passed on.
inline constexpr std::size_t kMaxCommandLine = 99;

class ProgramStarter {
  public:
    virtual ~ProgramStarter() = default;
    // Starts the program named by the first word of `commandLine` as a new,
    // detached process in `workingFolder`, with the remaining words as its
    // arguments; a bare program name is looked up in `workingFolder`. Returns 0
    // when it started, otherwise the error number. Nobody waits for it.
    virtual int start(const std::string& commandLine,
                      const std::filesystem::path& workingFolder) = 0;
};

// The real starter over the platform's process service.
class DetachedProgramStarter : public ProgramStarter {
  public:
    int start(const std::string& commandLine, const std::filesystem::path& workingFolder) override;
};

// `program`, then a blank and `arguments` when they are not empty, cut to
// `kMaxCommandLine` characters.
std::string commandLineFor(const std::string& program, const std::string& arguments);

}  // namespace tavrel::installer
