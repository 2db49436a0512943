// xbtool: a command-line tool over the xBase engine, for people and tests.
//
//   xbtool create TABLE --field NAME:TYPE[:LEN[:DEC]] ... [--overwrite]
//   xbtool info TABLE      header, fields, record count
//   xbtool dump TABLE      one JSON object per record:
//                          {"_recno": n, "_deleted": b, FIELD: "text", ...}
//   xbtool append TABLE    JSON lines on standard input, same shape without
//                          "_recno" ("_deleted" optional)
//   xbtool check TABLE     structural checks; exit 1 listing every fault
//
// Field texts: C right-trimmed, N and F trimmed, D "YYYYMMDD" or "", L "T"
// or "F", memos whole; every byte passes as the code point of the same number.
// Exit codes: 0 done, 1 failure (a message on standard error), 2 bad usage.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tavrel::xbtool {

// Runs one command line (without the program name).
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err);

}  // namespace tavrel::xbtool
