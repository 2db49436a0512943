// tavrelpkg: the agent's table work from the command line, over the same
// library code the agent runs (engine binding, record checksums, history
// table, descriptor scan).
//
//   tavrelpkg checksums verify TABLE   0 verified, 1 mismatch (first record
//                                      number printed), 2 usage or open error
//                                      or no checksum that can be made
//   tavrelpkg checksums stamp TABLE    0 stamped, 1 no checksum made, 2 as above
//   tavrelpkg history APPFOLDER [--trim] [--keep N]
//                                      the history list, one line per item
//   tavrelpkg scan APPFOLDER           the conversion work items of TABLEDES,
//                                      the application folder left as it is
//   tavrelpkg help                     the commands in short, exit 0
//   tavrelpkg install|plan APPFOLDER PACKAGE.ZIP, tavrelpkg recover APPFOLDER
//                                      see install_commands.h
//
// The engine KES04.DLL and KES01.DLL are found beside the program.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tavrel::tavrelpkg {

// Runs one command; output to `out`, the engine's and binding's log lines
// and usage to `err`. Returns the exit code.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tavrel::tavrelpkg
