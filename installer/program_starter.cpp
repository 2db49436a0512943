#include "installer/program_starter.h"

#include <cerrno>

#include "platform/process.h"

namespace tavrel::installer {

int DetachedProgramStarter::start(const std::string& commandLine,
                                  const std::filesystem::path& workingFolder) {
    std::vector<std::string> words = platform::splitCommandLine(commandLine);
    if (words.empty()) return ENOENT;
    const std::filesystem::path program = words.front();
    words.erase(words.begin());
    return platform::startDetached(program, words, workingFolder);
}

std::string commandLineFor(const std::string& program, const std::string& arguments) {
    std::string line = program;
    if (!arguments.empty()) line += ' ' + arguments;
    if (line.size() > kMaxCommandLine) line.resize(kMaxCommandLine);
    return line;
}

}  // namespace tavrel::installer
