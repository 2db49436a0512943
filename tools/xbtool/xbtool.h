// xbtool: a command-line tool over the xBase engine, for people and tests.
//
//   xbtool create TABLE --field NAME:TYPE[:LEN[:DEC]] ...
//                 [--tag NAME:EXPR[:FOR=EXPR][:UNIQUE|:UNIQUE_CONTINUE][:DESCENDING]] ...
//                 [--overwrite]
//   xbtool info TABLE      header, fields, record count, tags
//   xbtool dump TABLE [--tag NAME]
//                          one JSON object per record (in the tag's order with --tag):
//                          {"_recno": n, "_deleted": b, FIELD: "text", ...}
//   xbtool append TABLE    JSON lines on standard input, same shape without
//                          "_recno" ("_deleted" optional)
//   xbtool seek TABLE TAG KEY
//                          the records whose key in TAG starts with KEY (numbers
//                          and "YYYYMMDD" dates match whole keys), as JSON lines;
//                          exit 1 when there is none
//   xbtool check TABLE     structural checks, and every tag against the data;
//                          exit 1 listing every fault
//   xbtool reindex TABLE   rebuilds the structural index from the data
//
// Tag options: UNIQUE refuses a second record with a key (uniqueness 20),
// UNIQUE_CONTINUE keeps the first record of each key (25), DESCENDING walks
// from the largest key. Field texts: C right-trimmed, N and F trimmed, D
// "YYYYMMDD" or "", L "T" or "F", memos whole; every byte passes as the code
// point of the same number.
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
