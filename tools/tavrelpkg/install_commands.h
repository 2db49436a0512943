// tavrelpkg install, plan and recover: a local package installed (or looked
// at) exactly as the agent installs a downloaded one, over the same code.
//
//   tavrelpkg install APPFOLDER PACKAGE.ZIP
//       copies the package into APPFOLDER/UPDATE/<level>/, undoes an earlier
//       installation that was cut short, runs every stage with the table
//       conversion, writes the history records and the application level.
//       Log pages 1 and 2 go to standard output as they are written ("1: ",
//       "2: " before each line). Exit 0 when the application level is the
//       package's afterwards, 1 otherwise, 2 for bad usage or no engine.
//   tavrelpkg plan APPFOLDER PACKAGE.ZIP
//       changes nothing: the archive test, every file it would install (new
//       or replacing), the tables it would convert per data folder with the
//       change type, and every problem seen in advance (a refused or damaged
//       entry, a TABLEDES that does not unpack, a table that does not open).
//       Exit 0 when no problem was seen, 1 otherwise, 2 for bad usage.
//   tavrelpkg recover APPFOLDER
//       only undoes installations that were cut short. Exit 0 when nothing is
//       left to undo, 1 otherwise.
#pragma once

#include <iosfwd>
#include <string>

namespace tavrel::tavrelpkg {

int installCommand(const std::string& appFolder, const std::string& packageFile, std::ostream& out,
                   std::ostream& err);
int planCommand(const std::string& appFolder, const std::string& packageFile, std::ostream& out,
                std::ostream& err);
int recoverCommand(const std::string& appFolder, std::ostream& out, std::ostream& err);

}  // namespace tavrel::tavrelpkg
