// Processes: the running program, its command line, and starting others.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tavrel::platform {

// Full path of the running executable.
std::filesystem::path executablePath();

// The command line after the program name, as one text: the arguments joined
// with single blanks (how the system reads its switches).
std::string commandLineText(int argc, const char* const* argv);

// Splits a command-line text into arguments at runs of blanks.
std::vector<std::string> splitCommandLine(const std::string& text);

// Starts `program` as a new, detached process (not waited for, never left as a
// zombie) with `workingFolder` as its current folder and `arguments` as its
// arguments. A program given without a folder is looked up in `workingFolder`
// (any case). Returns 0 when the program was started, otherwise the error
// number (ENOENT when it does not exist, EACCES when it cannot be executed).
int startDetached(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                  const std::filesystem::path& workingFolder);

// The current folder of the process, and changing it (0 or the error number).
std::filesystem::path currentFolder();
int setCurrentFolder(const std::filesystem::path& folder);

}  // namespace tavrel::platform
