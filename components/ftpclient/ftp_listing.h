// The lines of an FTP LIST reply, read into `RemoteEntry` values.
//
// Servers answer LIST in one of two layouts:
//   UNIX `ls -l`:  -rw-r--r--   1 owner group   5368709120 Jan 12  2020 big file.zip
//                  drwxr-xr-x   2 owner group         4096 Mar  3 14:07 UPDATES
//   DOS / IIS:     01-12-20  02:30PM       <DIR>          UPDATES
//                  01-12-2020  14:30           5368709120 big file.zip
// The parser is pure: no I/O, no clock (a UNIX date without a year needs the
// caller's today to pick the year), so it can be fuzzed and tested line by line.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::ftpclient {

// One entry of a remote folder, with the seven fields in the order in which the
// component's read-entry operation delivers them. A size above 4 GB does not fit
// one 32-bit number, so it is split into a low and a high part.
struct RemoteEntry {
    std::string name;            // as the server spells it, without the line end
    std::uint32_t sizeLow = 0;   // size in bytes, low 32 bits
    std::string date;            // "YYYY-MM-DD"
    std::string time;            // "HH:MM" (24-hour), "00:00" when the server gave a year
    std::string attributes;      // UNIX mode text ("-rw-r--r--") or "<DIR>" / "" for DOS
    std::uint32_t sizeHigh = 0;  // size in bytes, high 32 bits
    bool isDirectory = false;

    std::uint64_t size() const { return (std::uint64_t{sizeHigh} << 32) | sizeLow; }
    // True when the name must not be used as a local or remote file name
    // (see isUnsafeEntryName); the session ignores such entries.
    bool isUnsafe() const;
};

// Today's date, for the UNIX layout's dates without a year.
struct ListingToday {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
};

// What one listing line turned out to be.
enum class ListingLine : int {
    kEntry = 0,      // an entry was read into the output
    kSkipped = 1,    // a line that is no entry: blank, "total 12"
    kMalformed = 2,  // a line in neither layout; the output is left as it was
};

// Reads one line (with or without its CR LF). Returns kEntry and fills `entry`
// only when the whole line is a well-formed entry.
ListingLine parseListingLine(std::string_view line, const ListingToday& today, RemoteEntry& entry);

// Splits a whole LIST reply into lines and reads every entry, in listing order;
// skipped and malformed lines are left out. `malformed` (optional) counts the
// lines that were in neither layout.
std::vector<RemoteEntry> parseListing(std::string_view text, const ListingToday& today,
                                      int* malformed = nullptr);

// True when a name from a listing cannot be trusted as a plain file name in one
// folder: empty after trimming blanks, "." or "..", containing "/" or "\", a
// drive prefix ("C:"), or a control character (a CR or LF would end the FTP
// command that carries the name and start another).
bool isUnsafeEntryName(std::string_view name);

}  // namespace tavrel::ftpclient
